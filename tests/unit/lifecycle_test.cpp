// Start-up, the deferred hook registration, the frame hook and shut-down, on the test's thread with the
// stand-in recording (or really running) the output thread.
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

TEST(LifecycleTest, StartUpReadsTheSettingsBesideTheLibrary) {
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

TEST(LifecycleTest, HookGoesThroughTheSelectedServiceOnce) {
    const struct {
        int32_t generation;
        bool oldHook;
        bool hook;
        std::vector<std::string> calls;
    } cases[] = {
        {0, true, true, {"oldhook.register(2)", "oldhook.remove(2)"}},
        {1, true, true, {"oldhook.register(2)", "oldhook.remove(2)"}},
        {2, true, true, {"hook.register(2)", "hook.remove(2)"}},
        {1, false, true, {"hook.register(2)", "hook.remove(2)"}},
        {2, true, false, {}}, // no selected service: nothing is called through an empty row
        {0, false, false, {}},
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
        ModuleDeinit();
        EXPECT_EQ(fakehost::Calls(), c.calls) << name;
        EXPECT_EQ(hookRegistered, 0) << name;
    }
}

TEST(LifecycleTest, ShutDownBeforeTheTimerStopsItAndClosesThePort) {
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

TEST(LifecycleTest, HookNotRemovedThroughARowTheHostHasEmptied) {
    standin::Reset();
    fakehost::Install(fakehost::Services());
    StartAndHook();
    __atomic_store_n(&ImportTable[kRowOldHook].pointer, nullptr, __ATOMIC_RELEASE);
    ModuleDeinit();
    EXPECT_EQ(fakehost::Calls(), std::vector<std::string>{"oldhook.register(2)"});
}

TEST(LifecycleTest, FrameHookStartsOneThreadAndNoneAfterShutDown) {
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

TEST(LifecycleTest, SamplesOnlyWhenRequestedServedAndNotBeingComposed) {
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

TEST(LifecycleTest, ShutDownJoinsTheThread) {
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
