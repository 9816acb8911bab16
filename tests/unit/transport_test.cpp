// The transport: the serial port's open and close sequences, the writer's state machine with its relay
// path, and the output thread's pacing and handshake (run on the test's thread, with a scripted Sleep
// standing in for time and for the host's side).
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "fake_host.h"
#include "sentences/output_buffer.h"
#include "settings/settings.h"
#include "transport/cycle_flags.h"
#include "transport/output_thread.h"
#include "transport/serial.h"
#include "transport/writer.h"
#include "win32_standin.h"

namespace {

TEST(TransportTest, OpenConfiguresAnOutputLine) {
    const struct {
        int32_t baud;
        uint32_t flagsFound;
        const char* mode;
        const char* applied;
    } cases[] = {
        {4800, 0xFFFFFFFF, "BuildCommDCBA(COM1:48,n,8,1)", "SetCommState(baud=4800,flags=0xFFFFC4C3)"},
        {9600, 0x00003F3E, "BuildCommDCBA(COM1:96,n,8,1)", "SetCommState(baud=9600,flags=0x00000403)"},
        {19200, 0x00000000, "BuildCommDCBA(COM1:192,n,8,1)", "SetCommState(baud=19200,flags=0x00000001)"},
        {50, 0x00010000, "BuildCommDCBA(COM1:0,n,8,1)", "SetCommState(baud=50,flags=0x00010001)"},
    };
    for (const auto& c : cases) {
        standin::Reset();
        SetDcbFlags(&standin::S().deviceDcb, c.flagsFound);
        EXPECT_NE(OpenSerialPort("\\\\.\\COM1", "COM1", c.baud), 0);
        const std::vector<std::string> expected = {
            "CreateFileA(\\\\.\\COM1,0xC0000000,0,3,0x40000000)",
            "SetupComm(256,256)",
            "GetCommState()",
            "GetCommTimeouts()",
            c.mode,
            c.applied,
            "SetCommTimeouts(4294967295,0,0,5000,5000)",
            "PurgeComm(0xF)",
            "EscapeCommFunction(5)",
            "EscapeCommFunction(3)",
            "ClearCommError()",
        };
        EXPECT_EQ(standin::Calls(), expected) << "baud " << c.baud;
    }
    standin::Reset();
    standin::S().failCreateFile = true;
    EXPECT_EQ(OpenSerialPort("\\\\.\\COM9", "COM9", 4800), 0);
    EXPECT_EQ(standin::Calls().size(), 1u);
    EXPECT_EQ(portHandle, INVALID_HANDLE_VALUE);
}

TEST(TransportTest, CloseRestoresOnlyWhatWasSaved) {
    const std::string state = "SetCommState(baud=1200,flags=0x00001234)";
    const std::string timeouts = "SetCommTimeouts(1,2,3,4,5)";
    const struct {
        bool failState;
        bool failTimeouts;
        std::vector<std::string> calls;
    } cases[] = {
        {false, false, {"PurgeComm(0xF)", state, timeouts, "CloseHandle(device)"}},
        {true, false, {"PurgeComm(0xF)", timeouts, "CloseHandle(device)"}},
        {false, true, {"PurgeComm(0xF)", state, "CloseHandle(device)"}},
        {true, true, {"PurgeComm(0xF)", "CloseHandle(device)"}},
    };
    for (const auto& c : cases) {
        standin::Reset();
        standin::S().deviceDcb.BaudRate = 1200;
        SetDcbFlags(&standin::S().deviceDcb, 0x1234);
        standin::S().deviceTimeouts = COMMTIMEOUTS{1, 2, 3, 4, 5};
        standin::S().failGetCommState = c.failState;
        standin::S().failGetCommTimeouts = c.failTimeouts;
        ASSERT_NE(OpenSerialPort("\\\\.\\COM1", "COM1", 4800), 0);
        standin::ClearCalls();
        CloseSerialPort(portHandle);
        EXPECT_EQ(standin::Calls(), c.calls)
            << "reads failed: state " << c.failState << ", time-outs " << c.failTimeouts;
        EXPECT_EQ(portHandle, INVALID_HANDLE_VALUE);
    }
}

TEST(TransportTest, FlagsWordIsTheBitFieldsAtByteEight) {
    DCB dcb{};
    dcb.fBinary = 1;
    dcb.fRtsControl = 2;
    dcb.fAbortOnError = 1;
    EXPECT_EQ(DcbFlags(&dcb), 0x6001u);
    SetDcbFlags(&dcb, 0x00000030);
    EXPECT_EQ(dcb.fDtrControl, 3u);
    EXPECT_EQ(dcb.fBinary, 0u);
}

const char kText[] = "$PGRMZ,1000.0,f,2*35\r\n";
constexpr int32_t kTextLength = sizeof kText - 1;

void PrepareWrite() {
    standin::Reset();
    std::memcpy(OutputBuffer, kText, kTextLength);
    portHandle = standin::kDeviceHandle;
    dataReady = 1;
}

TEST(TransportTest, SerialOutcomes) {
    const standin::Result done = {TRUE, 0};
    const standin::Result pending = {FALSE, ERROR_IO_PENDING};
    const standin::Result incomplete = {FALSE, ERROR_IO_INCOMPLETE};
    const std::string write = "WriteFile(22)", query = "GetOverlappedResult(wait=0)",
                      purge = "PurgeComm(0xF)";
    const struct {
        const char* name;
        standin::Result write;
        std::vector<standin::Result> queries; // answers at the following cycles' completion checks
        std::vector<bool> goAhead;            // PollPendingWrite at each following cycle
        std::vector<std::string> calls;
    } cases[] = {
        {"finished at once", done, {}, {true}, {write}},
        {"pending, then finished", pending, {done}, {true, true}, {write, query}},
        {"pending for two cycles",
         pending,
         {incomplete, incomplete, done},
         {false, false, true},
         {write, query, query, query}},
        {"refused at once", {FALSE, 5}, {}, {true}, {write, purge}},
        {"failed after it started", pending, {{FALSE, 995}}, {true, true}, {write, query, purge}},
        {"empty text", done, {}, {true}, {}},
    };
    for (const auto& c : cases) {
        PrepareWrite();
        standin::S().writeResults.push_back(c.write);
        standin::S().overlappedResults.assign(c.queries.begin(), c.queries.end());
        writeOverlapped.hEvent = reinterpret_cast<HANDLE>(0x1); // must be null for every write
        StartOutputWrite(c.calls.empty() ? 0 : kTextLength);
        const bool leftPending = c.write.value == FALSE && c.write.error == ERROR_IO_PENDING;
        EXPECT_EQ(writePending.load(), leftPending ? 1 : 0) << c.name;
        // Only a write that finished at once leaves dataReady for the output thread to clear.
        EXPECT_EQ(dataReady.load(), c.write.value && !c.calls.empty() ? 1 : 0) << c.name;
        for (size_t i = 0; i < c.goAhead.size(); ++i) {
            dataReady = 1;
            EXPECT_EQ(PollPendingWrite(), c.goAhead[i]) << c.name << ", cycle " << i + 1;
            EXPECT_EQ(dataReady.load(), c.goAhead[i] ? 1 : 0) << c.name << ", cycle " << i + 1;
        }
        EXPECT_EQ(writePending.load(), 0) << c.name;
        EXPECT_EQ(standin::Calls(), c.calls) << c.name;
    }
}

TEST(TransportTest, RelayPath) {
    const struct {
        const char* name;
        bool relay;
        uint32_t flags;
        bool sendEntry;
        bool sent;
    } cases[] = {
        {"ready relay", true, 0x1, true, true},     {"other bits too", true, 0xFFFFFFFF, true, true},
        {"record absent", false, 0x1, true, false}, {"bit 0 clear", true, 0xFFFFFFFE, true, false},
        {"no send entry", true, 0x1, false, false},
    };
    for (const auto& c : cases) {
        PrepareWrite();
        relayMode = 1;
        portHandle = INVALID_HANDLE_VALUE;
        fakehost::Services services;
        services.relay = c.relay;
        services.relayFlags = c.flags;
        services.relaySendEntry = c.sendEntry;
        fakehost::Install(services);
        for (int cycle = 0; cycle < 3; ++cycle) {
            dataReady = 1;
            ASSERT_TRUE(PollPendingWrite()) << c.name << ": no relay cycle is skipped";
            StartOutputWrite(kTextLength);
            EXPECT_EQ(writePending.load(), 1) << c.name;
            EXPECT_EQ(dataReady.load(), 0) << c.name;
        }
        EXPECT_TRUE(standin::Calls().empty()) << c.name;
        EXPECT_EQ(fakehost::Calls(), std::vector<std::string>(c.sent ? 3 : 0, "relay.send(1,22)")) << c.name;
        EXPECT_EQ(fakehost::RelayTexts(), std::vector<std::string>(c.sent ? 3 : 0, kText)) << c.name;
    }
}

void PrepareThread(bool variables) {
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

TEST(TransportTest, RequestsComeEveryLimitPlusOneSteps) {
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
        PrepareThread(c.variables);
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

TEST(TransportTest, ClosesThePortOnlyWhenOneIsOpen) {
    const std::vector<std::string> close = {"PurgeComm(0xF)", "CloseHandle(device)"};
    for (bool relay : {false, true}) {
        PrepareThread(true);
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

TEST(TransportTest, ReadySampleIsComposedAtMidStep) {
    // The second sample comes while the first write is still on the line: it is dropped.
    PrepareThread(true);
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
