// Start-up, the deferred hook registration, the frame hook and shut-down.
#pragma once

#include <cstdint>

#include "platform/win32.h"

constexpr UINT kStartDelayMs = 25000; // the host needs this long before its services may be used

// The INI file beside the library; written by ModuleInit, read by LoadSettings.
extern char settingsPath[MAX_PATH];
// 1 from the hook's registration until its removal; host's thread only.
extern int32_t hookRegistered;
// The output thread's handle; written by FrameHook, closed by ModuleDeinit; host's thread only.
extern HANDLE threadHandle;

UINT_PTR WINAPI ModuleInit(void);
void CALLBACK StartTimerProc(HWND window, UINT message, UINT_PTR timerId, DWORD time);
void WINAPI FrameHook(DWORD, DWORD);
void WINAPI ModuleDeinit(void);
