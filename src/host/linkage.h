// The exported records, the host generation and the module handle.
#pragma once

#include <cstdint>

#include "host/host_interface.h"

extern "C" {
// Exported data: the host reads Linkage and fills ImportTable's pointers.
extern ModuleLinkage Linkage;
extern ServiceImport ImportTable[kImportRowCount];
}

// The start-up and shut-down entries that Linkage names; the module's top room defines them.
UINT_PTR WINAPI ModuleInit(void);
void WINAPI ModuleDeinit(void);

// 0 (98/2000 or no host window), 1 (2002), 2 (2004 or any other title). Written once at attach.
extern int32_t HostGeneration;
// The library's own handle, recorded at every DllMain notification.
extern HINSTANCE moduleInstance;
constexpr int kWindowTextSize = 256; // bytes, terminator included
// The main window that decided HostGeneration, for the log: class and title, empty when none matched.
// Written once at attach.
extern char hostWindowClass[kWindowTextSize];
extern char hostWindowTitle[kWindowTextSize];

// The pointer of one ImportTable row as the host has it now (0 when absent).
void* ServicePointer(ImportRow row);

// Finds the host's main window among this process's top-level windows, sets HostGeneration and rewrites
// the version word of Linkage.
void DetectHostGeneration(void);

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);
