// Platform and host faults injected through the stand-in, from start-up to shut-down: the device does not
// open, writes are refused at once or fail later, a completion never comes, the thread is not created, the
// timer is not made, services are absent or appear late, and a 4800-baud line cannot carry a cycle per
// period. In each the module neither hangs nor crashes, the host's frame hook returns promptly, and output
// resumes as soon as the fault allows.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "cycle_check.h"
#include "fake_host.h"
#include "host/lifecycle.h"
#include "host/linkage.h"
#include "settings/settings.h"
#include "transport/cycle_flags.h"
#include "win32_standin.h"

namespace {

const char kSettings[] = "C:\\Sim\\Modules\\Waypost.ini";
constexpr UINT kTimerMessage = 0x0113;
constexpr uint32_t kAltitudeId = 0x49;
constexpr uint32_t kEveryRecord = 0xEFF;
// A frame hook that waited for a step, a line or a thread would take tens of milliseconds at every sample;
// an idle or sampling call takes microseconds (more under the sanitizers and Wine). One slow call is let
// pass, since the machine may preempt the test at any moment.
constexpr double kPromptMs = 20.0;

// The slowest and second slowest of a series of durations.
struct Slowest {
    double first = 0.0;
    double second = 0.0;
    void Add(double ms) {
        if (ms > first) {
            second = first;
            first = ms;
        } else if (ms > second) {
            second = ms;
        }
    }
};

struct HostSetup {
    std::string port = "COM1";
    std::string sentences = "RMC,GGA";
    std::string interval = "100"; // a period of 2 steps, 200 ms
    int32_t generation = 1;
    fakehost::Services services;
};

// What one simulated run saw.
struct Outcome {
    UINT_PTR timer = 0;
    int samples = 0;                // frames that ran the sampler
    int steps = 0;                  // output thread steps
    std::vector<std::string> texts; // each write's text
    std::vector<int> textSamples;   // the latest sample's number when each text was written
    std::vector<DWORD> textTicks;   // the tick at which each text was written
    Slowest hookMs;                 // frame hook calls
    std::vector<std::string> calls;
};

// Runs the module on the test's thread, deterministically: start-up and the timer, frames until the output
// thread exists, then the thread's routine, whose every 50 ms sleep advances the clock and delivers one host
// frame. `atTick` may inject a fault at a simulated time; the run stops after `runMs` of thread time and
// ends with shut-down. Every sample serves its own number as the altitude, so each text tells which
// sample it came from.
Outcome Simulate(const HostSetup& setup, DWORD runMs, const std::function<void(DWORD)>& atTick = nullptr) {
    standin::Reset();
    standin::SetProfileValue(kSettings, "Waypost", "Port", setup.port);
    standin::SetProfileValue(kSettings, "Waypost", "Sentences", setup.sentences);
    standin::SetProfileValue(kSettings, "Waypost", "Interval", setup.interval);
    fakehost::Install(setup.services);
    HostGeneration = setup.generation;

    Outcome out;
    auto frame = [&out]() {
        if (sampleRequested != 0 && dataReady == 0 && ServicePointer(kRowVariables) != nullptr) {
            fakehost::SetValue(kAltitudeId, out.samples + 1);
        }
        const auto start = std::chrono::steady_clock::now();
        FrameHook(0, 0);
        const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
        out.hookMs.Add(took.count());
        if (sampleRequested == 0 && dataReady != 0) {
            out.samples++;
        }
    };
    size_t written = 0;
    int sleeps = 0;
    standin::S().onSleep = [&](DWORD ms) {
        ASSERT_EQ(ms, 50u) << "the output thread sleeps only in half steps";
        if (standin::S().written.size() > written) {
            out.texts.push_back(standin::S().written.substr(written));
            out.textSamples.push_back(out.samples);
            out.textTicks.push_back(standin::S().tickCount);
            written = standin::S().written.size();
        }
        out.steps += sleeps++ % 2;
        const DWORD now = standin::S().tickCount += ms;
        if (atTick) {
            atTick(now);
        }
        frame();
        if (now >= runMs) {
            stopRequested = 1; // shut-down's first act; the thread ends with this step
        }
    };

    out.timer = ModuleInit();
    if (out.timer != 0) {
        StartTimerProc(nullptr, kTimerMessage, out.timer, 0);
    }
    if (fakehost::RegisteredHook() != nullptr) {
        // Frames until the thread is created (failures are retried frame by frame).
        for (int i = 0; i < 1000 && standin::S().threadsCreated == 0; i++) {
            if (atTick) {
                atTick(standin::S().tickCount);
            }
            frame();
        }
        if (standin::S().threadsCreated != 0) {
            EXPECT_EQ(standin::S().lastThreadStart(nullptr), 0u);
        }
    }
    ModuleDeinit();
    EXPECT_EQ(threadRunning.load(), 0);
    out.calls = standin::Calls();
    return out;
}

int Count(const std::vector<std::string>& lines, const std::string& line) {
    return static_cast<int>(std::count(lines.begin(), lines.end(), line));
}

// Every text is the selected records, well formed, from the sample just taken.
void ExpectFreshWellFormedTexts(const Outcome& out, uint32_t mask, int32_t generation,
                                const std::string& name) {
    for (size_t i = 0; i < out.texts.size(); i++) {
        const std::string& text = out.texts[i];
        EXPECT_EQ(CheckCycleText(text.data(), text.size(), {mask, generation, true, true}), "")
            << name << ", text " << i;
        const size_t gga = text.find("$GPGGA,");
        ASSERT_NE(gga, std::string::npos) << name << ", text " << i;
        const std::string altitude = "E,1,05,0.0," + std::to_string(out.textSamples[i]) + ".0,M";
        EXPECT_NE(text.find(altitude, gga), std::string::npos)
            << name << ", text " << i << " is not from sample " << out.textSamples[i] << ": " << text;
    }
}

TEST(FaultsTest, DeviceThatDoesNotOpenLeavesTheModuleIdle) {
    HostSetup setup;
    standin::Reset();
    standin::S().failCreateFile = true;
    // The failure is scripted before Simulate's own reset could clear it: run the start-up by hand.
    standin::SetProfileValue(kSettings, "Waypost", "Port", "COM7");
    fakehost::Install(setup.services);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ModuleInit(), 0u);
    ModuleDeinit();
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 1.0);
    const std::vector<std::string> calls = standin::Calls();
    EXPECT_EQ(standin::CallsOf({"SetTimer", "CreateThread", "WriteFile", "CloseHandle"}),
              std::vector<std::string>{})
        << "nothing is started and no device handle exists to close";
    EXPECT_EQ(fakehost::RegisteredHook(), nullptr);
}

TEST(FaultsTest, RefusedAndFailedWritesCostOneCycleEach) {
    struct Case {
        const char* name;
        std::vector<standin::Result> writes; // WriteFile's answers in turn, then finished at once
        std::vector<standin::Result> polls;  // GetOverlappedResult's answers in turn, then finished
        int purges;                          // purges by the writer (the close adds one)
        int lostTexts;                       // texts written that never reached the line
    };
    const standin::Result refused = {FALSE, 5}; // ERROR_ACCESS_DENIED
    const standin::Result started = {FALSE, ERROR_IO_PENDING};
    const standin::Result gone = {FALSE, 1167};   // ERROR_DEVICE_NOT_CONNECTED
    const standin::Result aborted = {FALSE, 995}; // ERROR_OPERATION_ABORTED
    const standin::Result incomplete = {FALSE, ERROR_IO_INCOMPLETE};
    const Case cases[] = {
        {"refused at once, three times", {refused, refused, refused}, {}, 3, 3},
        {"failed after it started (device gone)", {started}, {gone}, 1, 0},
        {"failed after two incomplete polls", {started}, {incomplete, incomplete, aborted}, 1, 0},
        {"started and finished later", {started, started}, {incomplete, {TRUE, 0}, {TRUE, 0}}, 0, 0},
    };
    for (const Case& c : cases) {
        const Outcome out = Simulate(HostSetup(), 4000, [&c](DWORD tick) {
            if (tick == 0) {
                standin::S().writeResults.assign(c.writes.begin(), c.writes.end());
                standin::S().overlappedResults.assign(c.polls.begin(), c.polls.end());
            }
        });
        EXPECT_EQ(Count(out.calls, "PurgeComm(0xF)"), 1 + c.purges + 1) << c.name << ": open, writer, close";
        // Each poll that finds the write still in progress drops that cycle's sample; no other is lost.
        const int busy =
            static_cast<int>(std::count_if(c.polls.begin(), c.polls.end(), [](const standin::Result& r) {
                return r.error == ERROR_IO_INCOMPLETE;
            }));
        EXPECT_EQ(static_cast<int>(out.texts.size()), out.samples - busy) << c.name;
        EXPECT_GE(static_cast<int>(out.texts.size()) - c.lostTexts, 15) << c.name << ": output resumed";
        EXPECT_LT(out.hookMs.second, kPromptMs) << c.name;
        ExpectFreshWellFormedTexts(out, 0x005, 1, c.name);
    }
}

TEST(FaultsTest, CompletionThatNeverComesStopsOutputButNotTheThread) {
    const Outcome out = Simulate(HostSetup(), 6000, [](DWORD tick) {
        if (tick == 0) {
            standin::S().writeResults.assign(1, {FALSE, ERROR_IO_PENDING});
            standin::S().overlappedResults.assign(1000, {FALSE, ERROR_IO_INCOMPLETE});
        }
    });
    EXPECT_EQ(out.texts.size(), 1u) << "one write, never finished: nothing is queued behind it";
    EXPECT_EQ(out.steps, 60) << "the thread keeps its pace";
    EXPECT_GE(out.samples, 29);
    EXPECT_EQ(Count(out.calls, "GetOverlappedResult(wait=0)"), out.samples - 1)
        << "every later cycle polls once, without waiting, and drops its sample";
    EXPECT_EQ(Count(out.calls, "CloseHandle(device)"), 1) << "the close still purges and closes the device";
    EXPECT_LT(out.hookMs.second, kPromptMs);
}

TEST(FaultsTest, ThreadCreationFailuresAreRetriedFrameByFrame) {
    int frames = 0;
    const Outcome out =
        Simulate(HostSetup(), 2000, [&frames](DWORD) { standin::S().failCreateThread = ++frames <= 5; });
    EXPECT_EQ(Count(out.calls, "CreateThread(0,0)"), 6) << "five refused, the sixth frame starts the thread";
    EXPECT_EQ(standin::S().threadsCreated, 1);
    EXPECT_GE(out.texts.size(), 9u) << "output flows once the thread runs";
    EXPECT_LT(out.hookMs.second, kPromptMs);
    ExpectFreshWellFormedTexts(out, 0x005, 1, "after failed thread creations");
}

TEST(FaultsTest, TimerNotMadeLeavesNoHookAndNoOpenDevice) {
    standin::Reset();
    standin::S().nextTimerId = 0;
    fakehost::Install(fakehost::Services());
    EXPECT_EQ(ModuleInit(), 0u);
    ModuleDeinit();
    EXPECT_EQ(fakehost::RegisteredHook(), nullptr);
    EXPECT_EQ(standin::CallsOf({"CreateThread"}), std::vector<std::string>{});
    EXPECT_EQ(Count(standin::Calls(), "CloseHandle(device)"), 1) << "the device opened at start-up is closed";
}

TEST(FaultsTest, ServicesAbsentAtFirstAndInstalledLater) {
    struct Case {
        const char* name;
        fakehost::Services first; // what the host offers until 3 s
        int32_t generation;
    };
    fakehost::Services noVariables;
    noVariables.variables = false;
    fakehost::Services noGlobalData;
    noGlobalData.globalData = false;
    fakehost::Services onlyHooks;
    onlyHooks.variables = false;
    onlyHooks.globalData = false;
    onlyHooks.relay = false;
    const Case cases[] = {
        {"no variable service", noVariables, 1},
        {"no global data block", noGlobalData, 1},
        {"only the hook services", onlyHooks, 2},
        {"generation 0, ready word 0", fakehost::Services(), 0},
    };
    for (const Case& c : cases) {
        HostSetup setup;
        setup.services = c.first;
        setup.generation = c.generation;
        size_t textsBefore = 0;
        const Outcome out = Simulate(setup, 6000, [&textsBefore](DWORD tick) {
            if (tick == 3000) {
                // The host fills its rows while the module runs.
                textsBefore = standin::S().written.size();
                fakehost::Install(fakehost::Services());
                fakehost::SetReadyWord(1);
            }
        });
        EXPECT_EQ(textsBefore, 0u) << c.name << ": nothing is sent without the services";
        EXPECT_GE(out.texts.size(), 13u) << c.name << ": output resumes once they are there";
        EXPECT_EQ(out.steps, 60) << c.name;
        EXPECT_LT(out.hookMs.second, kPromptMs) << c.name;
        EXPECT_EQ(out.texts.size(), static_cast<size_t>(out.samples)) << c.name;
        ExpectFreshWellFormedTexts(out, 0x005, c.generation, c.name);
    }
}

TEST(FaultsTest, HookServicesAbsentAtTheTimerLeaveTheModuleIdle) {
    fakehost::Services none;
    none.hook = false;
    none.oldHook = false;
    for (int32_t generation = 0; generation <= 2; generation++) {
        HostSetup setup;
        setup.services = none;
        setup.generation = generation;
        const Outcome out = Simulate(setup, 1000);
        EXPECT_NE(out.timer, 0u);
        EXPECT_EQ(fakehost::RegisteredHook(), nullptr) << "generation " << generation;
        EXPECT_EQ(fakehost::Calls(), std::vector<std::string>{}) << "nothing called through an empty row";
        EXPECT_EQ(Count(out.calls, "CloseHandle(device)"), 1) << "generation " << generation;
    }
}

// At 4800 baud a cycle of every record takes longer on the line than many periods: the module skips the
// cycles that find the line busy, never queues a write behind another, never blocks, and what goes out is
// always the sample taken just before it.
TEST(FaultsTest, SlowLineSkipsCyclesAndSendsOnlyFreshSamples) {
    HostSetup setup;
    setup.sentences = "GSA,GSV,RMA,RMC,GLL,VTG,GGA,PGRMZ,AV400,RPY,GTEXT";
    setup.generation = 2;
    constexpr DWORD kRunMs = 60000;
    const Outcome out = Simulate(setup, kRunMs, [](DWORD tick) {
        if (tick == 0) {
            standin::S().lineBaud = 4800;
        }
    });
    constexpr DWORD kPeriodMs = 200; // composes come once a period, each from a fresh sample
    ASSERT_GE(out.texts.size(), 2u);
    for (size_t i = 0; i + 1 < out.texts.size(); i++) {
        const DWORD lineMs = static_cast<DWORD>((out.texts[i].size() * 10 * 1000 + 4799) / 4800);
        const DWORD next = (lineMs + kPeriodMs - 1) / kPeriodMs * kPeriodMs;
        ASSERT_GT(lineMs, 5 * kPeriodMs) << "the line is slower than the period";
        EXPECT_EQ(out.textTicks[i + 1] - out.textTicks[i], next)
            << "text " << i + 1 << " follows at the first compose that finds the line free";
    }
    std::printf("[ measured ] 4800 baud, %zu bytes a cycle: %zu texts from %d samples in %u ms\n",
                out.texts[0].size(), out.texts.size(), out.samples, static_cast<unsigned>(kRunMs));
    EXPECT_EQ(standin::S().writesWhileLineBusy, 0) << "no write was queued behind another";
    EXPECT_NEAR(out.samples, static_cast<int>(kRunMs / kPeriodMs), 1) << "sampling keeps its pace";
    EXPECT_EQ(out.steps, static_cast<int>(kRunMs / 100)) << "the thread never waits for the line";
    EXPECT_LT(out.hookMs.second, kPromptMs);
    ExpectFreshWellFormedTexts(out, kEveryRecord, 2, "4800 baud");
}

// The write faults with a real output thread, sleeping in real time, beside the host's: the frame hook never
// waits for the thread, and shut-down ends it within about a step (100 ms) whatever state the write is in.
TEST(FaultsTest, ShutDownIsPromptWithARealThreadUnderEveryFault) {
    struct Case {
        const char* name;
        std::function<void()> script;
    };
    const Case cases[] = {
        {"line that never finishes a write", [] { standin::S().lineBaud = 1; }},
        {"writes refused",
         [] {
             standin::S().writeResults.assign(1000, {FALSE, 5});
         }},
        {"writes failing after they start",
         [] {
             standin::S().writeResults.assign(1000, {FALSE, ERROR_IO_PENDING});
             standin::S().overlappedResults.assign(1000, {FALSE, 1167});
         }},
        {"relay without a send entry", [] {}},
    };
    for (const Case& c : cases) {
        standin::Reset();
        standin::S().threadMode = standin::ThreadMode::kReal;
        standin::S().onSleep = [](DWORD ms) {
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
            standin::S().tickCount += ms;
        };
        c.script();
        standin::SetProfileValue(kSettings, "Waypost", "Interval", "100");
        fakehost::Services services;
        services.relaySendEntry = false;
        if (std::string(c.name).find("relay") != std::string::npos) {
            standin::SetProfileValue(kSettings, "Waypost", "Port", "NetHub");
        }
        fakehost::Install(services);
        HostGeneration = 1;
        const UINT_PTR timer = ModuleInit();
        ASSERT_NE(timer, 0u) << c.name;
        StartTimerProc(nullptr, kTimerMessage, timer, 0);
        Slowest hookMs;
        const auto start = std::chrono::steady_clock::now();
        while (std::chrono::steady_clock::now() - start < std::chrono::milliseconds(700)) {
            const auto before = std::chrono::steady_clock::now();
            FrameHook(0, 0);
            const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - before;
            hookMs.Add(took.count());
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        std::future<void> shutDown = std::async(std::launch::async, [] { ModuleDeinit(); });
        const auto deinitStart = std::chrono::steady_clock::now();
        if (shutDown.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
            ADD_FAILURE() << c.name << ": shut-down hangs";
            std::abort(); // the module's thread cannot be left behind safely
        }
        const double deinitMs =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - deinitStart).count();
        std::printf("[ measured ] %s: slowest frame hooks %.3f and %.3f ms, shut-down %.1f ms\n", c.name,
                    hookMs.first, hookMs.second, deinitMs);
        EXPECT_LT(hookMs.second, kPromptMs) << c.name;
        EXPECT_LT(deinitMs, 1000.0) << c.name;
        EXPECT_EQ(threadRunning.load(), 0) << c.name;
        EXPECT_EQ(standin::S().threadsCreated, 1) << c.name;
        EXPECT_GT(standin::S().tickCount.load(), 500u) << c.name << ": the thread ran";
    }
}

} // namespace
