// waypost-host: a stand-in for the flight simulator. It creates the simulator's main window, loads the
// module the way the simulator does (Linkage, ImportTable, the start-up and shut-down entries), serves the
// hook services, the variable service, the global data block and the relay record, flies an aircraft
// along a route, and logs what it served and what the relay received, so that tests can compare.
// This file runs it: the window, the message loop, the frames and main. The command line is read in
// host_options.cpp, the services are served in host_services.cpp.
#include "standin_host.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include <mmsystem.h>

#include "host/host_interface.h"
#include "host_log.h"
#include "host_options.h"
#include "host_services.h"
#include "thread_count.h"

Aircraft aircraft;
SimClock simClock;
DWORD hostThreadId;
double moduleInitAt = -1.0;
volatile bool moduleStopped;

namespace {

constexpr double kMsPerKnot = 1852.0 / 3600.0;

// Host's thread only.
bool startTimerRunning; // ModuleInit reported a start timer; the countdown runs until the hook comes
bool moduleUnloaded;
long frames;
long samples;
long timerMessages;

HWND CreateMainWindow(HINSTANCE instance) {
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = options.className;
    if (RegisterClassExA(&windowClass) == 0) {
        return nullptr;
    }
    // Never shown: the module only looks for it among the process's top-level windows.
    return CreateWindowExA(0, options.className, options.title, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                           CW_USEDEFAULT, 640, 480, nullptr, nullptr, instance, nullptr);
}

void PumpMessages() {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_TIMER) {
            ++timerMessages;
            LogRecord("timer", ",\"unloaded\":%s,\"stopped\":%s", moduleUnloaded ? "true" : "false",
                      moduleStopped ? "true" : "false");
            if (moduleUnloaded) {
                // Its procedure would lie in the unloaded library; dispatching it would crash the host.
                Anomaly("timer message after the module was unloaded");
                continue;
            }
        }
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

// Seconds since 1970 from the system clock, which readers in other processes share.
// In whole milliseconds: a double would lose them under the 24-bit precision of --low-precision.
uint64_t WallMilliseconds() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const uint64_t ticks = static_cast<uint64_t>(now.dwHighDateTime) << 32 | now.dwLowDateTime; // 100 ns
    constexpr uint64_t kTicksFrom1601To1970 = 116444736000000000ULL;
    return (ticks - kTicksFrom1601To1970) / 10000;
}

void LogSample(const Aircraft& flown) {
    ++samples;
    const uint32_t groundSpeedWord = HostWord(globalData, kGroundSpeedWordOffset);
    const uint32_t readyWord = HostWord(globalData, kReadyWordOffset);
    const uint64_t wall = WallMilliseconds();
    LogRecord(
        "sample",
        ",\"frame\":%ld,\"registered\":[%s],\"read\":[%s],\"values\":{%s},\"groundSpeedWord\":%u,"
        "\"readyWord\":%u,\"wall\":%llu.%03u,\"truth\":{\"lat\":%.9f,\"lon\":%.9f,\"groundSpeedKt\":%.6f,"
        "\"trackTrue\":%.6f,\"headingTrue\":%.6f,\"altitudeM\":%.4f,\"verticalSpeedMs\":%.6f,"
        "\"airspeedKt\":%.6f,\"pitchUp\":%.6f,\"rollRight\":%.6f,\"windFromDeg\":%.6f,\"windKt\":%.6f,"
        "\"date\":\"%04d-%02d-%02d\",\"time\":\"%02d:%02d:%02d\"}",
        frames, frameRecord.registered, frameRecord.read, frameRecord.values, groundSpeedWord, readyWord,
        static_cast<unsigned long long>(wall / 1000), static_cast<unsigned>(wall % 1000), flown.latDeg,
        flown.lonDeg, flown.groundSpeedKt, flown.trackTrue, flown.headingTrue, flown.altitudeM,
        flown.verticalSpeedMs, flown.airspeedKt, flown.pitchDeg, flown.bankDeg, route.windFromDeg,
        route.windKt, simClock.year, simClock.month, simClock.day, simClock.hour, simClock.minute,
        simClock.second);
}

void RunFrame(double now, double seconds) {
    ++frames;
    FlyStep(route, seconds, &aircraft);
    // The simulator's clock starts with the module, however long the process took to get there.
    simClock = ClockAt(route, now - moduleInitAt);
    const uint32_t groundSpeedWord = static_cast<uint32_t>(aircraft.groundSpeedKt * kMsPerKnot * 65536.0);
    const uint32_t readyWord = moduleInitAt >= 0.0 && now - moduleInitAt >= options.readyAfter ? 1 : 0;
    std::memcpy(globalData + kGroundSpeedWordOffset, &groundSpeedWord, sizeof groundSpeedWord);
    std::memcpy(globalData + kReadyWordOffset, &readyWord, sizeof readyWord);

    frameRecord = FrameRecord{};
    HookSlot called[kMaxHooks];
    const int count = hookCount;
    std::memcpy(called, hooks, sizeof called);
    for (int i = 0; i < count; ++i) {
        called[i].hook(0, 0);
    }
    if (frameRecord.reads > 0 || frameRecord.registrations > 0) {
        LogSample(aircraft);
    }
}

// Runs frames and the message loop until the deadline; frames only while the module is loaded.
void RunUntil(double deadline, bool withFrames, double period) {
    static double nextFrame = 0.0;
    static double lastFrame = 0.0;
    static int lastCountdown = -1;
    for (;;) {
        double now = HostSeconds();
        if (now >= deadline) {
            return;
        }
        PumpMessages();
        now = HostSeconds();
        double wake = deadline;
        if (withFrames) {
            if (now >= nextFrame) {
                RunFrame(now, lastFrame > 0.0 ? now - lastFrame : period);
                lastFrame = now;
                nextFrame = nextFrame + period > now ? nextFrame + period : now + period;
            }
            wake = nextFrame < deadline ? nextFrame : deadline;
        }
        if (startTimerRunning && hookRegisteredAt < 0.0 && !moduleStopped) {
            const int left = static_cast<int>(std::ceil(moduleInitAt + 25.0 - now));
            if (left != lastCountdown && left > 0 && (left % 5 == 0 || left <= 3)) {
                Say("start delay: %d s until the module registers its hook", left);
            }
            lastCountdown = left;
        }
        const double waitMs = (wake - HostSeconds()) * 1000.0;
        if (waitMs > 0.0) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(std::ceil(waitMs)), QS_ALLINPUT);
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    const int usage = ParseOptions(argc, argv);
    if (usage != 0) {
        return usage;
    }
    if (!LoadRoute()) {
        return 1;
    }
    if (!OpenHostLog(options.logPath)) {
        std::fprintf(stderr, "waypost-host: cannot create log %s\n", options.logPath);
        return 1;
    }
    hostThreadId = GetCurrentThreadId();
    timeBeginPeriod(1); // millisecond sleeps for an even frame rate
    StartFlight(route, &aircraft);
    simClock = ClockAt(route, 0.0);

    char dllPath[MAX_PATH];
    char requested[MAX_PATH];
    if (options.dllPath != nullptr) {
        std::snprintf(requested, sizeof requested, "%s", options.dllPath);
    } else {
        GetModuleFileNameA(nullptr, requested, sizeof requested);
        char* slash = std::strrchr(requested, '\\');
        std::snprintf(slash != nullptr ? slash + 1 : requested,
                      sizeof requested -
                          static_cast<size_t>((slash != nullptr ? slash + 1 : requested) - requested),
                      "Waypost.dll");
    }
    // An absolute path, so that the module's INI (found from the library's own name) lies beside it.
    if (GetFullPathNameA(requested, sizeof dllPath, dllPath, nullptr) == 0) {
        std::snprintf(dllPath, sizeof dllPath, "%s", requested);
    }

    HINSTANCE instance = GetModuleHandleA(nullptr);
    HWND window = nullptr;
    if (options.window) {
        window = CreateMainWindow(instance);
        if (window == nullptr) {
            std::fprintf(stderr, "waypost-host: cannot create the main window (error %lu)\n", GetLastError());
            return 1;
        }
    }
    char titleJson[600];
    char classJson[600];
    char dllJson[MAX_PATH * 2];
    JsonString(titleJson, sizeof titleJson, options.title, std::strlen(options.title));
    JsonString(classJson, sizeof classJson, options.className, std::strlen(options.className));
    JsonString(dllJson, sizeof dllJson, dllPath, std::strlen(dllPath));
    LogRecord(
        "start",
        ",\"window\":%s,\"title\":%s,\"class\":%s,\"dll\":%s,\"rate\":%.3f,\"run\":%.3f,\"linger\":%.3f",
        options.window ? "true" : "false", titleJson, classJson, dllJson, options.rate, options.runSeconds,
        options.lingerSeconds);
    if (options.window) {
        Say("main window: class \"%s\", title \"%s\"", options.className, options.title);
    } else {
        Say("no main window");
    }

    const int threadsBefore = CountOwnThreads();
    HMODULE library = LoadLibraryA(dllPath);
    if (library == nullptr) {
        std::fprintf(stderr, "waypost-host: cannot load %s (error %lu)\n", dllPath, GetLastError());
        return 1;
    }
    auto* linkage = reinterpret_cast<ModuleLinkage*>(GetProcAddress(library, "Linkage"));
    auto* imports = reinterpret_cast<ServiceImport*>(GetProcAddress(library, "ImportTable"));
    if (linkage == nullptr || imports == nullptr) {
        std::fprintf(stderr, "waypost-host: %s exports no Linkage or no ImportTable\n", dllPath);
        return 1;
    }
    LogRecord("linkage", ",\"leading\":%u,\"version\":%u,\"reserved\":[%u,%u,%u]", linkage->leading,
              linkage->version, linkage->reserved12, linkage->reserved16, linkage->reserved24);
    Say("loaded %s: leading word 0x%X, interface version word 0x%X", dllPath, linkage->leading,
        linkage->version);
    if (linkage->leading != kLinkageLeadingConstant) {
        Anomaly("Linkage does not begin with 0x102");
    }

    BuildServices();
    if (!FillImportTable(imports)) {
        std::fprintf(stderr, "waypost-host: ImportTable has no end row\n");
        return 1;
    }

    const double period = 1.0 / options.rate;
    if (options.lowPrecision) {
        uint16_t control;
        __asm__ volatile("fnstcw %0" : "=m"(control));
        control = static_cast<uint16_t>(control & ~0x0300); // precision control 00: 24 bits
        __asm__ volatile("fldcw %0" : : "m"(control));
    }
    const double initStart = HostSeconds();
    const UINT_PTR initResult = linkage->init();
    moduleInitAt = HostSeconds();
    startTimerRunning = initResult != 0;
    LogRecord("init", ",\"result\":%lu,\"seconds\":%.4f", static_cast<unsigned long>(initResult),
              moduleInitAt - initStart);
    if (initResult == 0) {
        Say("ModuleInit returned 0: the module stays idle");
    } else {
        Say("ModuleInit returned timer %lu; the module registers its hook in 25 s",
            static_cast<unsigned long>(initResult));
    }
    LogSettingsFile(dllPath);

    RunUntil(moduleInitAt + options.runSeconds, true, period);

    const double deinitStart = HostSeconds();
    linkage->deinit();
    moduleStopped = true;
    const double deinitSeconds = HostSeconds() - deinitStart;
    const int threadsAfter = CountOwnThreads();
    LogRecord("deinit", ",\"seconds\":%.4f,\"hooksLeft\":%d,\"threadsBefore\":%d,\"threadsAfter\":%d",
              deinitSeconds, hookCount, threadsBefore, threadsAfter);
    Say("ModuleDeinit returned after %.3f s; threads: %d before loading, %d now", deinitSeconds,
        threadsBefore, threadsAfter);
    if (hookCount != 0) {
        Anomaly("a hook is still registered after ModuleDeinit");
    }
    if (threadsBefore >= 0 && threadsAfter > threadsBefore) {
        Anomaly("a thread of the module outlived ModuleDeinit");
    }

    const BOOL freed = FreeLibrary(library);
    moduleUnloaded = true;
    LogRecord("unload", ",\"freed\":%s", freed ? "true" : "false");
    if (options.lingerSeconds > 0.0) {
        Say("module unloaded; message loop runs %.0f s more", options.lingerSeconds);
        RunUntil(HostSeconds() + options.lingerSeconds, false, period);
    }

    const LONG texts = relay.texts;
    const double meanGap = texts > 1 ? (relay.lastAt - relay.firstAt) / (texts - 1) : 0.0;
    LogRecord(
        "end",
        ",\"frames\":%ld,\"samples\":%ld,\"registered\":%d,\"relayTexts\":%ld,\"relayBytes\":%ld,"
        "\"meanPeriod\":%.4f,\"minPeriod\":%.4f,\"maxPeriod\":%.4f,\"timerMessages\":%ld,\"anomalies\":%ld",
        frames, samples, registeredCount, static_cast<long>(texts), static_cast<long>(relay.bytes), meanGap,
        texts > 1 ? relay.minGap : 0.0, relay.maxGap, timerMessages, anomalies);
    Say("summary: %ld frames at %.0f Hz, %ld samples, %d variables registered, hook %s", frames, options.rate,
        samples, registeredCount, hookRegisteredAt >= 0.0 ? "registered" : "never registered");
    if (texts > 0) {
        Say("summary: relay received %ld texts, %ld bytes; period mean %.3f s (min %.3f, max %.3f)",
            static_cast<long>(texts), static_cast<long>(relay.bytes), meanGap, texts > 1 ? relay.minGap : 0.0,
            relay.maxGap);
    } else {
        Say("summary: relay received nothing");
    }
    Say("summary: %ld timer messages, %ld anomalies", timerMessages, anomalies);
    CloseHostLog();
    if (window != nullptr) {
        DestroyWindow(window);
    }
    timeEndPeriod(1);
    return anomalies == 0 ? 0 : 3;
}
