// Start-up, the deferred hook registration, the frame hook and shut-down: the one room that knows every
// subsystem.
#pragma once

#include <cstdint>

#include "platform/win32.h"

constexpr UINT kStartDelayMs = 25000;    // the host needs this long before its services may be used
constexpr DWORD kThreadEndWaitMs = 1000; // shut-down's wait for the output thread's last instructions
extern const char kModuleVersion[];      // the project version and commit, from the build

// The INI file beside the library; written by ModuleInit, read by LoadSettings.
extern char settingsPath[MAX_PATH];
// 1 from the hook's registration until its removal; host's thread only.
extern int32_t hookRegistered;
// The output thread's handle; written by FrameHook, closed by ModuleDeinit; host's thread only.
extern HANDLE threadHandle;
// The start timer's id from SetTimer until it fires or shut-down stops it, else 0; host's thread only.
extern UINT_PTR startTimerId;
// The ImportTable row whose service registered the hook (valid while hookRegistered); host's thread only.
extern int32_t hookServiceRow;
// 1 once shut-down has begun: a late timer message or frame starts nothing; host's thread only.
extern int32_t moduleStopped;

// ModuleInit and ModuleDeinit, the entries Linkage names, are declared with it (host/linkage.h).
void CALLBACK StartTimerProc(HWND window, UINT message, UINT_PTR timerId, DWORD time);
void WINAPI FrameHook(DWORD, DWORD);
