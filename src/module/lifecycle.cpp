// Start-up, the deferred registration of the frame hook, the hook itself and shut-down. All of it runs on
// the host's thread.
#include "module/lifecycle.h"

#include <cstring>

#include "host/linkage.h"
#include "log/log.h"
#include "network/network.h"
#include "platform/fpu.h"
#include "sampling/fix.h"
#include "settings/network_settings.h"
#include "settings/settings.h"
#include "transport/cycle.h"
#include "transport/output_thread.h"
#include "transport/serial.h"
#include "transport/writer.h"

#ifndef WAYPOST_VERSION
#define WAYPOST_VERSION "unknown"
#endif
const char kModuleVersion[] = WAYPOST_VERSION;

// Host's thread only, as declared.
char settingsPath[MAX_PATH];
int32_t hookRegistered = 0;
HANDLE threadHandle = nullptr;
UINT_PTR startTimerId = 0;
int32_t hookServiceRow = kRowHook;
int32_t moduleStopped = 0;

static const char kSettingsExtension[] = ".ini";

// Builds the INI path beside the library from the library's own path. False when the library path or the
// INI path does not fit the buffer.
static bool BuildSettingsPath(void) {
    const DWORD length = GetModuleFileNameA(moduleInstance, settingsPath, MAX_PATH);
    // 0 is a failure, MAX_PATH a truncated (and maybe unterminated) path.
    if (length == 0 || length >= MAX_PATH ||
        !PathWithExtension(settingsPath, kSettingsExtension, settingsPath)) {
        settingsPath[0] = '\0';
        return false;
    }
    return true;
}

// Shut-down, once the output thread has ended: what each part did while the module ran. The thread's mean
// step shows a machine that held it back: well above 100 ms. Rounded to the tenth, so that a tick count
// that lags the sleeps by a millisecond at the end (Wine's does) does not read 99.9.
static void LogSummary(void) {
    char pace[64] = ""; // nothing when no thread ran
    if (stepsRun != 0) {
        const uint64_t tenths = (uint64_t{stepsMs} * 10 + stepsRun / 2) / stepsRun;
        wsprintfA(pace, ", %u steps of %u.%u ms on average", stepsRun, static_cast<unsigned>(tenths / 10),
                  static_cast<unsigned>(tenths % 10));
    }
    LogLine(
        "summary: %u samples taken, %u dropped for a printed value that is not a number, %u while the host "
        "was not ready; %u cycles%s",
        samplesTaken, samplesDropped, samplesWaiting, cycleCount, pace);
    LogLineSummary();
    LogNetworkSummary();
}

static void LogHost(void) {
    LogLine("Waypost %s, settings %s", kModuleVersion, settingsPath);
    if (hostWindowClass[0] == '\0') {
        LogLine("host generation 0: no window of class FS...MAIN in this process");
    } else {
        LogLine("host generation %d from the main window, class \"%s\", title \"%s\"",
                static_cast<int>(HostGeneration), hostWindowClass, hostWindowTitle);
    }
}

UINT_PTR WINAPI ModuleInit(void) {
    // A truncated path would read and create a settings file somewhere else: stay idle instead.
    if (!BuildSettingsPath()) {
        return 0;
    }
    if (LogWanted(settingsPath)) {
        OpenLog(settingsPath);
    }
    LogHost();
    LoadSettings(settingsPath);
    // The serial line opens once every key is read, before the network settings, as it always has.
    const BOOL lineReady =
        relayMode ||
        (SerialLineSelected() && OpenSerialPort(devicePath, devicePath + kDevicePrefixLength, baudRate));
    LoadNetworkSettings(settingsPath);
    LogSettings();
    // A serial line that does not open leaves the network outputs to run alone.
    const int32_t networkReady = OpenNetworkOutputs();
    if (!lineReady && networkReady == 0) {
        LogLine("no output can run: the module stays idle");
        return 0;
    }
    // Without a window the timer's message goes to this thread's queue; the host's message loop
    // dispatches it to StartTimerProc.
    startTimerId = SetTimer(nullptr, 0, kStartDelayMs, StartTimerProc);
    if (startTimerId == 0) {
        LogLine("no start timer: %s; the module stays idle", ErrorText(GetLastError()));
    } else {
        LogLine("outputs ready; the frame hook is registered in %u s", kStartDelayMs / 1000);
    }
    return startTimerId;
}

// The hook service's function table and the entries that add and remove a hook.
struct HookService {
    ImportRow row;
    int registerEntry;
    int removeEntry;
};
static const HookService kOldHookService = {kRowOldHook, kOldHookRegisterEntry, kOldHookRemoveEntry};
static const HookService kHookService = {kRowHook, kHookRegisterEntry, kHookRemoveEntry};

static void CallHookService(const void* table, int entry) {
    reinterpret_cast<HookServiceEntry>(HostTableEntry(table, entry))(kHookRegistrationConstant, FrameHook);
}

void CALLBACK StartTimerProc(HWND window, UINT, UINT_PTR timerId, DWORD) {
    KillTimer(window, timerId);
    startTimerId = 0;
    if (hookRegistered || moduleStopped) {
        return;
    }
    // Hosts before 2004 take the hook through the older service when they offer it.
    const HookService* service = &kHookService;
    if (HostGeneration < 2 && ServicePointer(kOldHookService.row) != nullptr) {
        service = &kOldHookService;
    }
    const void* table = ServicePointer(service->row);
    if (table == nullptr) {
        LogLine("the host has filled neither hook service: the module stays idle");
        return;
    }
    CallHookService(table, service->registerEntry);
    hookServiceRow = service->row;
    hookRegistered = 1;
    LogLine("frame hook registered through service 0x%04X, entry %d",
            static_cast<unsigned>(ImportTable[service->row].id), service->registerEntry);
}

void WINAPI FrameHook(DWORD, DWORD) {
    if (portHandle != nullptr && threadRunning.load() == 0 && !moduleStopped) {
        // Marked running before it exists, so that neither the next frame nor shut-down can miss it.
        threadRunning.store(1);
        stopRequested.store(0);
        DWORD threadId; // unused, but Windows 9x will not create a thread without it
        threadHandle = CreateThread(nullptr, 0, OutputThread, nullptr, 0, &threadId);
        if (threadHandle == nullptr) {
            threadStartFailures++;  // reported by the thread once it runs
            threadRunning.store(0); // tried again at the next frame
        }
    }
    // No sample while the output thread may still be copying the last one: dataReady stays 1 until then.
    if (sampleRequested.load() != 0 && dataReady.load(std::memory_order_acquire) == 0 &&
        ServicePointer(kRowVariables) != nullptr) {
        FpuEnvironment hostFpu;
        EnterModuleFpu(&hostFpu);
        SampleFlightState();
        LeaveModuleFpu(&hostFpu);
    }
}

void WINAPI ModuleDeinit(void) {
    moduleStopped = 1;
    if (startTimerId != 0) {
        KillTimer(nullptr, startTimerId);
        startTimerId = 0;
    }
    stopRequested.store(1);
    if (hookRegistered) {
        // Removed through the service that took it, if the host still offers it.
        const HookService& service = hookServiceRow == kRowOldHook ? kOldHookService : kHookService;
        const void* table = ServicePointer(service.row);
        if (table != nullptr) {
            CallHookService(table, service.removeEntry);
        }
        hookRegistered = 0;
    }
    while (threadRunning.load() != 0) {
        Sleep(0);
    }
    if (threadHandle != nullptr) {
        // The thread has left its loop; wait until it has left the module's code as well, so the library
        // can be unloaded. Bounded: a host that shuts the module down from its own library detach holds
        // the loader lock, which the ending thread needs, and an endless wait would deadlock it. The thread
        // has only its return left to run by now.
        WaitForSingleObject(threadHandle, kThreadEndWaitMs);
        CloseHandle(threadHandle);
        threadHandle = nullptr;
    }
    // No output thread ever ran to close the port opened at start-up.
    if (portHandle != INVALID_HANDLE_VALUE) {
        CloseSerialPort(portHandle);
    }
    LogSummary();
    CloseNetworkOutputs();
    LogLine("shut down after %u s", static_cast<unsigned>((GetTickCount() - loadTick) / 1000));
    CloseLog();
}
