// Platform and host faults injected through the stand-in while the module runs: writes are refused at once or
// fail later, services are absent at first (a generation-0 host not ready), and a 4800-baud line cannot carry
// a cycle per period. In each the module neither hangs nor crashes, the host's
// frame hook never waits, and output resumes as soon as the fault allows (the run's own checks).
#include <gtest/gtest.h>

#include <cstdio>

#include "module_run.h"

namespace {

using modulerun::RunSetup;
using modulerun::Simulate;

// Scripts the write and completion answers at the run's start.
std::function<void(DWORD)> Answers(std::vector<standin::Result> writes, std::vector<standin::Result> polls) {
    return [writes, polls](DWORD tick) {
        if (tick == 0) {
            standin::S().writeResults.assign(writes.begin(), writes.end());
            standin::S().overlappedResults.assign(polls.begin(), polls.end());
        }
    };
}

TEST(FaultsTest, RefusedAndFailedWritesCostOneCycleEach) {
    const standin::Result refused = {FALSE, 5}, gone = {FALSE, 1167}, aborted = {FALSE, 995},
                          done = {TRUE, 0};
    const standin::Result started = {FALSE, ERROR_IO_PENDING}, incomplete = {FALSE, ERROR_IO_INCOMPLETE};
    const struct {
        const char* name;
        std::vector<standin::Result> writes; // WriteFile's answers in turn, then finished at once
        std::vector<standin::Result> polls;  // GetOverlappedResult's answers in turn, then finished
        int purges;                          // purges by the writer (open and close add one each)
        int busyPolls;                       // polls that find the write in progress and drop the sample
        int lostTexts;                       // texts written that never reached the line
    } cases[] = {
        {"refused at once, three times", {refused, refused, refused}, {}, 3, 0, 3},
        {"failed after it started (device gone)", {started}, {gone}, 1, 0, 0},
        {"failed after two incomplete polls", {started}, {incomplete, incomplete, aborted}, 1, 2, 0},
        {"started and finished later", {started, started}, {incomplete, done, done}, 0, 1, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const modulerun::Outcome out = Simulate(RunSetup(), 4000, Answers(c.writes, c.polls));
        EXPECT_EQ(standin::CountCalls("PurgeComm(0xF)"), 1 + c.purges + 1);
        EXPECT_EQ(static_cast<int>(out.texts.size()), out.samples - c.busyPolls);
        EXPECT_GE(static_cast<int>(out.texts.size()) - c.lostTexts, 15) << "output resumed";
    }
}

TEST(FaultsTest, ServicesAbsentAtFirstAndInstalledLater) {
    fakehost::Services noVariables, noGlobalData, onlyHooks;
    noVariables.variables = onlyHooks.variables = false;
    noGlobalData.globalData = onlyHooks.globalData = false;
    onlyHooks.relay = false;
    const struct {
        const char* name;
        fakehost::Services first; // what the host offers until 3 s
        int32_t generation;
    } cases[] = {
        {"no variable service", noVariables, 1},
        {"no global data block", noGlobalData, 1},
        {"only the hook services", onlyHooks, 2},
        {"generation 0, ready word 0", fakehost::Services(), 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RunSetup setup;
        setup.services = c.first;
        setup.generation = c.generation;
        size_t textsBefore = 0;
        const modulerun::Outcome out = Simulate(setup, 6000, [&textsBefore](DWORD tick) {
            if (tick == 3000) {
                // The host fills its rows while the module runs.
                textsBefore = standin::S().written.size();
                fakehost::Install(fakehost::Services());
                fakehost::SetReadyWord(1);
            }
        });
        EXPECT_EQ(textsBefore, 0u) << "nothing is sent without the services";
        EXPECT_GE(out.texts.size(), 13u) << "output resumes once they are there";
        EXPECT_EQ(out.texts.size(), static_cast<size_t>(out.samples));
    }
}

// At 4800 baud a cycle of every record takes longer on the line than many periods: the module skips the
// cycles that find the line busy, never queues a write behind another, never blocks, and what goes out is
// always the sample taken just before it. The line costs the line only: the NMEA over UDP and TCP gets
// every cycle's text, composed beside the one the line still sends.
TEST(FaultsTest, SlowLineSkipsCyclesAndSendsOnlyFreshSamples) {
    RunSetup setup;
    setup.sentences = modulerun::kEverySentence;
    setup.mask = modulerun::kEveryRecord;
    setup.generation = 2;
    setup.script = [] {
        standin::SetProfileValue(modulerun::kSettingsPath, "Waypost", "Network",
                                 "udp:127.0.0.4:10110,tcp:10110");
        standin::S().lineBaud = 4800;
        standin::S().clients.resize(1);
    };
    constexpr DWORD kRunMs = 60000, kPeriodMs = 200;
    const modulerun::Outcome out = Simulate(setup, kRunMs);
    ASSERT_GE(out.texts.size(), 2u);
    for (size_t i = 0; i + 1 < out.texts.size(); i++) {
        const DWORD lineMs = static_cast<DWORD>((out.texts[i].size() * 10 * 1000 + 4799) / 4800);
        ASSERT_GT(lineMs, 5 * kPeriodMs) << "the line is slower than the period";
        EXPECT_EQ(out.textTicks[i + 1] - out.textTicks[i], (lineMs + kPeriodMs - 1) / kPeriodMs * kPeriodMs)
            << "text " << i + 1 << " follows at the first compose that finds the line free";
    }
    std::printf("[ measured ] 4800 baud, %zu bytes a cycle: %zu texts from %d samples in %u ms\n",
                out.texts[0].size(), out.texts.size(), out.samples, static_cast<unsigned>(kRunMs));
    EXPECT_EQ(standin::S().writesWhileLineBusy, 0) << "no write was queued behind another";
    EXPECT_NEAR(out.samples, static_cast<int>(kRunMs / kPeriodMs), 1) << "sampling keeps its pace";
    std::string all;
    for (const standin::Datagram& datagram : standin::S().datagrams) {
        EXPECT_EQ(CheckCycleText(datagram.bytes.data(), datagram.bytes.size(), {setup.mask, 2, true}), "");
        all += datagram.bytes;
    }
    EXPECT_EQ(static_cast<int>(standin::S().datagrams.size()), out.samples);
    EXPECT_EQ(standin::S().clients[0].received, all) << "the TCP client was served every cycle";
}

} // namespace
