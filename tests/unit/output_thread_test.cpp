// The output thread's pacing and handshake, run on the test's thread; a scripted Sleep stands in for time
// and for the host's side.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "fake_host.h"
#include "settings/settings.h"
#include "transport/cycle_flags.h"
#include "transport/output_thread.h"
#include "transport/serial.h"
#include "win32_standin.h"

namespace {

void Prepare(bool variables) {
    standin::Reset();
    fakehost::Services services;
    services.variables = variables;
    fakehost::Install(services);
    sentenceMask = kSentenceGsa; // a fixed 55-byte text
    portHandle = standin::kDeviceHandle;
    threadRunning = 1; // as the frame hook leaves it
}

// Runs the thread for `steps` steps, calling onStep(step) at each step's first sleep, after the boundary
// test; stops it at the last step's first sleep, which the thread sees only at the end of that step.
void RunSteps(int steps, const std::function<void(int)>& onStep) {
    int sleeps = 0;
    standin::S().onSleep = [&](DWORD ms) {
        EXPECT_EQ(ms, kHalfStepMs);
        if (sleeps % 2 == 0) {
            onStep(sleeps / 2);
            stopRequested = sleeps / 2 == steps - 1 ? 1 : 0;
        }
        ++sleeps;
    };
    EXPECT_EQ(OutputThread(nullptr), 0u);
    EXPECT_EQ(sleeps, 2 * steps);
    EXPECT_EQ(threadRunning.load(), 0);
    EXPECT_EQ(portHandle, INVALID_HANDLE_VALUE);
}

TEST(OutputThreadTest, RequestsComeEveryLimitPlusOneSteps) {
    const struct {
        int32_t interval;
        bool variables;
        std::vector<int> steps;
    } cases[] = {
        {100, true, {2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22, 24}},
        {199, true, {2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22, 24}},
        {250, true, {3, 6, 9, 12, 15, 18, 21, 24}},
        {1000, true, {11, 22}},
        {2000, true, {21}},
        {100, false, {}}, // without the variable service nothing is ever requested
    };
    for (const auto& c : cases) {
        Prepare(c.variables);
        outputInterval = c.interval;
        std::vector<int> raised;
        RunSteps(25, [&](int step) {
            if (sampleRequested.exchange(0) != 0) { // consumed as a host would
                raised.push_back(step);
            }
        });
        EXPECT_EQ(raised, c.steps) << "interval " << c.interval << " variables " << c.variables;
    }
}

TEST(OutputThreadTest, ClosesThePortOnlyWhenOneIsOpen) {
    const std::vector<std::string> close = {"PurgeComm(0xF)", "CloseHandle(device)"};
    for (bool relay : {false, true}) {
        Prepare(true);
        if (relay) {
            relayMode = 1;
            portHandle = INVALID_HANDLE_VALUE;
        }
        stopRequested = 1; // already set: not one step runs
        EXPECT_EQ(OutputThread(nullptr), 0u);
        EXPECT_EQ(standin::Calls(), relay ? std::vector<std::string>() : close) << "relay " << relay;
        EXPECT_EQ(threadRunning.load(), 0);
    }
}

TEST(OutputThreadTest, ReadySampleIsComposedAtMidStep) {
    // The second sample comes while the first write is still on the line: it is dropped.
    Prepare(true);
    standin::S().writeResults.push_back({FALSE, ERROR_IO_PENDING});
    standin::S().overlappedResults.push_back({FALSE, ERROR_IO_INCOMPLETE});
    RunSteps(4, [](int step) {
        if (step == 0 || step == 2) {
            dataReady = 1;
        }
    });
    const std::string sleep = "Sleep(50)";
    const std::vector<std::string> expected = {sleep,
                                               "WriteFile(55)",
                                               sleep,
                                               sleep,
                                               sleep,
                                               sleep,
                                               "GetOverlappedResult(wait=0)",
                                               sleep,
                                               sleep,
                                               sleep,
                                               "PurgeComm(0xF)",
                                               "CloseHandle(device)"};
    EXPECT_EQ(standin::Calls(), expected);
    EXPECT_EQ(dataReady.load(), 0);
}

} // namespace
