// The host shell: the exported records, host detection, start-up, the deferred hook registration, the frame
// hook and shut-down, on the test's thread with the stand-in recording (or really running) the output thread.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "fake_host.h"
#include "host/lifecycle.h"
#include "host/linkage.h"
#include "transport/cycle_flags.h"
#include "transport/output_thread.h"
#include "transport/serial.h"
#include "win32_standin.h"

namespace {

constexpr DWORD kOwn = 0x1234; // the stand-in's process id
constexpr DWORD kOther = 0x999;

TEST(HostTest, RecordsAsStored) {
    standin::Reset();
    EXPECT_EQ(Linkage.leading, 0x102u);
    EXPECT_EQ(Linkage.init, &ModuleInit);
    EXPECT_EQ(Linkage.deinit, &ModuleDeinit);
    EXPECT_EQ(Linkage.reserved12 | Linkage.reserved16 | Linkage.reserved24, 0u);
    EXPECT_EQ(Linkage.version, 0x800u);
    const uint32_t ids[kImportRowCount] = {0x0001, 0x0002, 0x000F, 0x0004, 0x505A, 0x521F, 0};
    for (int row = 0; row < kImportRowCount; ++row) {
        EXPECT_EQ(ImportTable[row].id, ids[row]) << "row " << row;
        EXPECT_EQ(ImportTable[row].pointer, nullptr) << "row " << row;
    }
}

TEST(HostTest, GenerationFromTheMainWindow) {
    const struct {
        std::vector<standin::Window> windows;
        int32_t generation;
        uint32_t version;
    } cases[] = {
        {{{kOwn, "FSMAIN", "Flight Simulator 2002"}}, 1, 0x800},
        {{{kOwn, "FS98MAIN", "Microsoft Flight Simulator 2004"}}, 2, 0x900},
        {{{kOwn, "FS98MAIN", "Microsoft Flight Simulator 2000"}}, 0, 0},
        {{{kOwn, "FSMAIN", "Flight Simulator 98"}}, 0, 0},
        {{{kOwn, "FSMAIN", "Sim 2004 2002"}}, 1, 0x800},
        {{{kOwn, "FSMAIN", "Sim 2004 2000"}}, 0, 0},
        {{{kOwn, "FSMAIN", "Flight Simulator2002"}}, 2, 0x900},
        {{{kOwn, "FSMAIN", "Flight Simulator 1998"}}, 2, 0x900},
        {{{kOwn, "FSMAIN", ""}}, 2, 0x900},
        {{{kOwn, "FSMAINX", "Flight Simulator 2002"}}, 0, 0},
        {{{kOwn, "fsMAIN", "Flight Simulator 2002"}}, 0, 0},
        {{{kOwn, "FSM", "Flight Simulator 2002"}}, 0, 0},
        {{{kOwn, "", "Flight Simulator 2002"}}, 0, 0}, // class name unreadable
        {{}, 0, 0},
        {{{kOther, "FSMAIN", "Flight Simulator 2002"}, {kOwn, "FSMAIN", "Flight Simulator 2004"}}, 2, 0x900},
        {{{kOwn, "FSMAIN", "Flight Simulator 2002"}, {kOwn, "FSMAIN", "Flight Simulator 2004"}}, 1, 0x800},
    };
    for (const auto& c : cases) {
        standin::Reset();
        standin::S().windows = c.windows;
        const HINSTANCE instance = reinterpret_cast<HINSTANCE>(0x10000000);
        EXPECT_EQ(DllMain(instance, DLL_PROCESS_ATTACH, nullptr), TRUE);
        std::string names;
        for (const standin::Window& window : c.windows) {
            names += "[" + window.className + " \"" + window.title + "\"]";
        }
        EXPECT_EQ(HostGeneration, c.generation) << names;
        EXPECT_EQ(Linkage.version, c.version) << names;
        EXPECT_EQ(moduleInstance, instance) << names;
    }
}

TEST(HostTest, OtherNotificationsOnlyRecordTheHandle) {
    standin::Reset();
    standin::S().windows = {{kOwn, "FSMAIN", "Flight Simulator 2004"}};
    for (DWORD reason : {DLL_PROCESS_DETACH, DLL_THREAD_ATTACH, DLL_THREAD_DETACH}) {
        const HINSTANCE instance = reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(0x20000000 + reason));
        EXPECT_EQ(DllMain(instance, reason, nullptr), TRUE);
        EXPECT_EQ(moduleInstance, instance) << "reason " << reason;
    }
    EXPECT_EQ(HostGeneration, 0);
    EXPECT_EQ(Linkage.version, 0x800u);
    EXPECT_TRUE(standin::CallsOf({"EnumWindows"}).empty());
}

constexpr UINT_PTR kTimerId = 0x7001; // the stand-in's timer id
constexpr UINT kTimerMessage = 0x0113;

void StartAndHook() {
    ASSERT_EQ(ModuleInit(), kTimerId);
    StartTimerProc(nullptr, kTimerMessage, kTimerId, 0);
}

int Count(const std::string& line) {
    const std::vector<std::string> calls = standin::Calls();
    return static_cast<int>(std::count(calls.begin(), calls.end(), line));
}

TEST(HostTest, StartUpReadsTheSettingsBesideTheLibrary) {
    const std::string a255(255, 'a');
    const struct {
        std::string library;
        bool deviceMissing;
        std::string settings; // empty: start-up stays idle
    } cases[] = {
        {"C:\\Sim\\Modules\\Waypost.dll", false, "C:\\Sim\\Modules\\Waypost.ini"},
        {"C:\\Sim.9\\Waypost", false, "C:\\Sim.ini"},
        {"Waypost", false, ".ini"},
        {a255 + ".dll", false, a255 + ".ini"}, // 259 characters
        {a255 + ".d", false, a255 + ".ini"},   // grows to 259
        {a255 + "a.d", false, ""},             // would grow to 260
        {a255 + "a.dll", false, ""},           // 260: truncated by the platform
        {"C:\\x.y\\" + a255 + "aaaaa", false, ""},
        {"C:\\Sim\\Modules\\Waypost.dll", true, ""},
    };
    for (const auto& c : cases) {
        standin::Reset();
        standin::S().moduleFileName = c.library;
        standin::S().failCreateFile = c.deviceMissing;
        EXPECT_EQ(ModuleInit(), c.settings.empty() ? 0u : kTimerId) << c.library;
        EXPECT_EQ(standin::CallsOf({"SetTimer"}),
                  std::vector<std::string>(c.settings.empty() ? 0 : 1, "SetTimer(null,0,25000)"))
            << c.library;
        if (!c.settings.empty()) {
            EXPECT_EQ(standin::S().lastTimerProc, &StartTimerProc);
            EXPECT_EQ(standin::ProfileValue(c.settings, "Waypost", "Port"), "COM1") << c.library;
        } else if (!c.deviceMissing) {
            EXPECT_TRUE(standin::CallsOf({"GetPrivateProfileStringA"}).empty()) << c.library;
        }
    }
}

TEST(HostTest, HookGoesThroughTheSelectedServiceOnce) {
    const struct {
        int32_t generation;
        bool oldHook;
        bool hook;
        bool emptiedBeforeShutDown; // the host has taken the registering service away again
        std::vector<std::string> calls;
    } cases[] = {
        {0, true, true, false, {"oldhook.register(2)", "oldhook.remove(2)"}},
        {1, true, true, false, {"oldhook.register(2)", "oldhook.remove(2)"}},
        {2, true, true, false, {"hook.register(2)", "hook.remove(2)"}},
        {1, false, true, false, {"hook.register(2)", "hook.remove(2)"}},
        {0, true, true, true, {"oldhook.register(2)"}},
        {2, true, false, false, {}}, // no selected service: nothing is called through an empty row
        {0, false, false, false, {}},
    };
    for (const auto& c : cases) {
        standin::Reset();
        fakehost::Services services;
        services.oldHook = c.oldHook;
        services.hook = c.hook;
        fakehost::Install(services);
        HostGeneration = c.generation;
        StartAndHook();
        StartTimerProc(nullptr, kTimerMessage, kTimerId, 0); // dispatched twice: no second registration
        const std::string name = "generation " + std::to_string(c.generation) + " old " +
                                 std::to_string(c.oldHook) + " hook " + std::to_string(c.hook);
        EXPECT_EQ(fakehost::RegisteredHook(), c.calls.empty() ? nullptr : &FrameHook) << name;
        EXPECT_EQ(Count("KillTimer(null,0x7001)"), 2) << name;
        if (c.emptiedBeforeShutDown) {
            fakehost::Uninstall();
        }
        ModuleDeinit();
        EXPECT_EQ(fakehost::Calls(), c.calls) << name;
        EXPECT_EQ(hookRegistered, 0) << name;
    }
}

TEST(HostTest, ShutDownBeforeTheTimerStopsItAndClosesThePort) {
    standin::Reset();
    fakehost::Install(fakehost::Services());
    standin::S().deviceDcb.BaudRate = 1200;
    ASSERT_EQ(ModuleInit(), kTimerId);
    standin::ClearCalls();
    ModuleDeinit();
    const std::vector<std::string> expected = {"KillTimer(null,0x7001)", "PurgeComm(0xF)",
                                               "SetCommState(baud=1200,flags=0x00000000)",
                                               "SetCommTimeouts(0,0,0,0,0)", "CloseHandle(device)"};
    EXPECT_EQ(standin::Calls(), expected);
    StartTimerProc(nullptr, kTimerMessage, kTimerId, 0); // a message that still arrives
    EXPECT_TRUE(fakehost::Calls().empty());
}

TEST(HostTest, FrameHookStartsOneThreadAndNoneAfterShutDown) {
    standin::Reset();
    fakehost::Install(fakehost::Services());
    StartAndHook();
    standin::S().failCreateThread = true;
    FrameHook(0, 0);
    EXPECT_EQ(threadRunning.load(), 0); // retried at the next frame
    standin::S().failCreateThread = false;
    stopRequested = 1;
    FrameHook(0, 0);
    EXPECT_EQ(threadRunning.load(), 1); // marked before the thread has run at all
    EXPECT_EQ(stopRequested.load(), 0);
    FrameHook(0, 0);
    EXPECT_EQ(standin::S().threadsCreated, 1);
    EXPECT_EQ(standin::S().lastThreadStart, &OutputThread);
    EXPECT_EQ(standin::CallsOf({"CreateThread"}), std::vector<std::string>(2, "CreateThread(0,0)"));

    standin::Reset();
    fakehost::Install(fakehost::Services());
    StartAndHook();
    ModuleDeinit();
    FrameHook(0, 0); // a host that keeps calling the hook after its removal
    EXPECT_EQ(standin::S().threadsCreated, 0);
    EXPECT_EQ(stopRequested.load(), 1);
}

TEST(HostTest, SamplesOnlyWhenRequestedServedAndNotBeingComposed) {
    const struct {
        int32_t requested;
        int32_t ready;
        bool variables;
        bool sampled;
    } cases[] = {
        {1, 0, true, true},
        {1, 1, true, false}, // the composer may still be reading the last sample
        {0, 0, true, false},
        {1, 0, false, false},
    };
    for (const auto& c : cases) {
        standin::Reset();
        fakehost::Services services;
        services.variables = c.variables;
        fakehost::Install(services);
        threadRunning = 1;
        sampleRequested = c.requested;
        dataReady = c.ready;
        FrameHook(0, 0);
        // The sampler clears the request as its first act.
        EXPECT_EQ(sampleRequested.load(), c.sampled ? 0 : c.requested)
            << "requested " << c.requested << " ready " << c.ready << " variables " << c.variables;
    }
}

TEST(HostTest, ShutDownJoinsTheThread) {
    for (bool late : {false, true}) {
        standin::Reset();
        fakehost::Install(fakehost::Services());
        standin::S().threadMode = late ? standin::ThreadMode::kRecord : standin::ThreadMode::kReal;
        StartAndHook();
        FrameHook(0, 0);
        // A thread that begins only after shut-down has started is waited for all the same.
        std::atomic<bool> begun{!late};
        std::thread starter([&] {
            if (late) {
                std::this_thread::sleep_for(std::chrono::milliseconds(30));
                begun = true;
                standin::S().lastThreadStart(nullptr);
            }
        });
        ModuleDeinit();
        EXPECT_TRUE(begun.load()) << "late " << late;
        EXPECT_EQ(threadRunning.load(), 0) << "late " << late;
        EXPECT_EQ(Count("CloseHandle(device)"), 1) << "closed once, by the thread; late " << late;
        const std::vector<std::string> calls = standin::CallsOf({"WaitForSingleObject", "CloseHandle"});
        const std::vector<std::string> joined = {"WaitForSingleObject(thread,4294967295)",
                                                 "CloseHandle(thread)"};
        EXPECT_EQ(std::vector<std::string>(calls.end() - 2, calls.end()), joined) << "late " << late;
        starter.join();
    }
}

} // namespace
