// The services the stand-in host gives the module through ImportTable (the hook services, the variable
// service, the global data block, the relay record) and the anomalies: what a host must not see from a
// module, counted for the exit status.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/host_interface.h"

constexpr size_t kGlobalDataBytes = 0x1200; // the module reads up to byte 0x11D7
constexpr int kMaxHooks = 8;

struct HookSlot {
    FrameHookEntry hook;
    uint32_t service;
};

// What the variable service did during one frame, logged with the sample.
struct FrameRecord {
    char registered[1024]; // ids registered, comma-separated
    char read[1024];       // ids read, comma-separated
    char values[4096];     // "id":value for each read
    int reads;
    int registrations;
};

struct RelayTally {
    volatile LONG texts;
    volatile LONG bytes;
    double firstAt; // host seconds of the first text, -1 before it
    double lastAt;  // host seconds of the latest text, -1 before the first
    double minGap;  // seconds between texts
    double maxGap;
};

// The global data block: the frame loop writes its ground-speed and ready words before each frame, the
// module reads them in its hook; host's thread.
extern unsigned char globalData[kGlobalDataBytes];
// Registered frame hooks: written by the hook services on the host's thread; the frame loop calls them and
// main counts what is left after ModuleDeinit.
extern HookSlot hooks[kMaxHooks];
extern int hookCount;
// Host seconds when the module registered its hook (-1 before): written by the hook service, read by the
// frame loop's start-delay countdown and main's summary; host's thread.
extern double hookRegisteredAt;
// Variables registered so far: written by the variable service, read by main's summary; host's thread.
extern int registeredCount;
// Written by the variable service; the frame loop clears it before calling the hooks and logs it after.
extern FrameRecord frameRecord;
// Written by the relay send on the module's output thread; main reads it only after ModuleDeinit returned.
extern RelayTally relay;
// Counted by Anomaly on the host's thread and the module's output thread; main reads it for the summary and
// the exit status.
extern volatile LONG anomalies;

// Counts, says and logs something the module must not do.
void Anomaly(const char* what);

// Fills the service tables and the relay record as the options ask.
void BuildServices();

// Fills every ImportTable row the host supports; returns false when the table has no end row.
bool FillImportTable(ServiceImport* table);

// Logs and says what the module's settings file holds after start-up.
void LogSettingsFile(const char* dllPath);
