// The host shell: the exported records, host detection, start-up, the deferred hook registration, the frame
// hook and shut-down, on the test's thread with the stand-in recording the output thread.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "module_run.h"
#include "transport/output_thread.h"

namespace {

constexpr DWORD kOwn = 0x1234; // the stand-in's process id
constexpr DWORD kOther = 0x999;
constexpr UINT_PTR kTimerId = 0x7001; // the stand-in's timer id
using Lines = std::vector<std::string>;

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

TEST(HostTest, GenerationFromTheMainWindowAtAttachOnly) {
    const struct {
        std::vector<standin::Window> windows;
        int32_t generation;
        uint32_t version;
    } cases[] = {
        {{{kOwn, "FSMAIN", "Flight Simulator 2002"}}, 1, 0x800},
        {{{kOwn, "FS98MAIN", "Microsoft Flight Simulator 2004"}}, 2, 0x900},
        {{{kOwn, "FS98MAIN", "Microsoft Flight Simulator 2000"}}, 0, 0},
        {{{kOwn, "FSMAIN", "Flight Simulator 1998"}}, 2, 0x900},
        {{{kOwn, "FSMAIN", "Sim 2004 2002"}}, 1, 0x800},
        {{{kOwn, "FSMAIN", ""}}, 2, 0x900},
        {{{kOwn, "FSMAINX", "Flight Simulator 2002"}}, 0, 0},
        {{{kOwn, "FsMAIN", "Flight Simulator 2002"}}, 0, 0},
        {{}, 0, 0},
        {{{kOther, "FSMAIN", "Flight Simulator 2002"}, {kOwn, "FSMAIN", "Flight Simulator 2004"}}, 2, 0x900},
        {{{kOwn, "FSMAIN", "Flight Simulator 2002"}, {kOwn, "FSMAIN", "Flight Simulator 2004"}}, 1, 0x800},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("row " + std::to_string(&c - cases));
        standin::Reset();
        standin::S().windows = c.windows;
        const HINSTANCE instance = reinterpret_cast<HINSTANCE>(0x10000000);
        EXPECT_EQ(DllMain(instance, DLL_PROCESS_ATTACH, nullptr), TRUE);
        EXPECT_EQ(moduleInstance, instance);
        for (DWORD reason : {DLL_PROCESS_DETACH, DLL_THREAD_ATTACH, DLL_THREAD_DETACH}) {
            EXPECT_EQ(DllMain(instance, reason, nullptr), TRUE) << "reason " << reason; // detects nothing
        }
        EXPECT_EQ(HostGeneration, c.generation);
        EXPECT_EQ(Linkage.version, c.version);
        EXPECT_EQ(standin::CallsOf({"EnumWindows"}).size(), 1u);
    }
}

// Start-up reads the settings beside the library, opens the device and starts the timer; when the path does
// not fit, the device does not open or the timer is not made, the module stays idle and shut-down leaves
// nothing behind.
TEST(HostTest, StartUpReadsTheSettingsBesideTheLibraryOrStaysIdle) {
    const std::string a255(255, 'a'), dll = "C:\\Sim\\Modules\\Waypost.dll",
                                      ini = "C:\\Sim\\Modules\\Waypost.ini";
    const struct {
        std::string library;
        std::string settings; // empty: the path does not fit and nothing is read
        bool deviceMissing, timerFails;
    } cases[] = {
        {dll, ini, false, false},
        {"C:\\Sim.9\\Waypost.dll", "C:\\Sim.9\\Waypost.ini", false, false}, // cut at the last dot
        {"C:\\Sim.9\\Waypost", "C:\\Sim.ini", false, false},
        {a255 + ".dll", a255 + ".ini", false, false},     // 259 characters
        {a255 + "a.d", "", false, false},                 // would grow to 260
        {a255 + "a.dll", "", false, false},               // 260: truncated by the platform
        {"C:\\x.y\\" + a255 + "aaaaa", "", false, false}, // truncated, though its cut would fit
        {dll, ini, true, false},
        {dll, ini, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("row " + std::to_string(&c - cases));
        standin::Reset();
        fakehost::Install(fakehost::Services());
        standin::S().moduleFileName = c.library;
        standin::S().failCreateFile = c.deviceMissing;
        standin::S().nextTimerId = c.timerFails ? 0 : kTimerId;
        const bool opened = !c.settings.empty() && !c.deviceMissing;
        EXPECT_EQ(ModuleInit(), opened && !c.timerFails ? kTimerId : 0u);
        EXPECT_EQ(standin::CallsOf({"SetTimer"}), Lines(opened ? 1 : 0, "SetTimer(null,0,25000)"));
        EXPECT_EQ(standin::CallsOf({"GetPrivateProfileStringA"}).empty(), c.settings.empty());
        EXPECT_EQ(standin::ProfileSection(c.settings, "Waypost")["Port"], c.settings.empty() ? "" : "COM1");
        EXPECT_EQ(standin::S().lastTimerProc, opened ? &StartTimerProc : nullptr);
        ModuleDeinit();
        EXPECT_EQ(standin::CountCalls("CloseHandle(device)"), opened ? 1 : 0); // the device opened is closed
        EXPECT_EQ(standin::CallsOf({"CreateThread", "WriteFile"}), Lines());
        EXPECT_EQ(fakehost::RegisteredHook(), nullptr);
    }
}

TEST(HostTest, HookGoesThroughTheSelectedServiceOnce) {
    const struct {
        int32_t generation;
        bool oldHook, hook;
        bool emptiedBeforeShutDown; // the host has taken the registering service away again
        Lines calls;
    } cases[] = {
        {0, true, true, false, {"oldhook.register(2)", "oldhook.remove(2)"}},
        {1, true, true, false, {"oldhook.register(2)", "oldhook.remove(2)"}},
        {2, true, true, false, {"hook.register(2)", "hook.remove(2)"}},
        {1, false, true, false, {"hook.register(2)", "hook.remove(2)"}},
        {0, true, true, true, {"oldhook.register(2)"}},
        {2, true, false, false, {}}, // no selected service: nothing is called through an empty row
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("row " + std::to_string(&c - cases));
        modulerun::RunSetup setup;
        setup.services.oldHook = c.oldHook;
        setup.services.hook = c.hook;
        setup.generation = c.generation;
        ASSERT_EQ(modulerun::Start(setup), kTimerId);
        StartTimerProc(nullptr, modulerun::kTimerMessage, kTimerId, 0); // dispatched twice: registered once
        EXPECT_EQ(fakehost::RegisteredHook(), c.calls.empty() ? nullptr : &FrameHook);
        EXPECT_EQ(standin::CountCalls("KillTimer(null,0x7001)"), 2);
        if (c.emptiedBeforeShutDown) {
            fakehost::Uninstall();
        }
        ModuleDeinit();
        EXPECT_EQ(fakehost::Calls(), c.calls);
        EXPECT_EQ(hookRegistered, 0);
        EXPECT_EQ(standin::CountCalls("CloseHandle(device)"), 1); // no thread ran: shut-down closes the port
    }
}

TEST(HostTest, FrameHookStartsOneThreadAndNoneAfterShutDown) {
    modulerun::Start(modulerun::RunSetup());
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
    EXPECT_EQ(standin::CallsOf({"CreateThread"}), Lines(2, "CreateThread(0,0)"));

    modulerun::Start(modulerun::RunSetup());
    ModuleDeinit();
    FrameHook(0, 0); // a host that keeps calling the hook after its removal
    EXPECT_EQ(standin::S().threadsCreated, 0);
    EXPECT_EQ(stopRequested.load(), 1);
}

// A thread that begins only after shut-down has started is waited for all the same.
TEST(HostTest, ShutDownWaitsForAThreadThatBeginsLate) {
    modulerun::Start(modulerun::RunSetup());
    FrameHook(0, 0);
    std::atomic<bool> begun{false};
    std::thread starter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        begun = true;
        standin::S().lastThreadStart(nullptr);
    });
    ModuleDeinit();
    EXPECT_TRUE(begun.load());
    EXPECT_EQ(threadRunning.load(), 0);
    EXPECT_EQ(standin::CountCalls("CloseHandle(device)"), 1) << "closed once, by the thread";
    const Lines calls = standin::CallsOf({"WaitForSingleObject", "CloseHandle"});
    EXPECT_EQ(Lines(calls.end() - 2, calls.end()),
              Lines({"WaitForSingleObject(thread,1000)", "CloseHandle(thread)"}));
    starter.join();
}

} // namespace
