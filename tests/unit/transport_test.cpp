// The transport: the serial port's open and close sequences, the writer's state machine with its relay
// path, and a line too slow for its period (the pacing is the network tests').
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "module_run.h"
#include "sentences/output_buffer.h"
#include "settings/settings.h"
#include "transport/output_thread.h"
#include "transport/serial.h"
#include "transport/writer.h"

namespace {

using Lines = std::vector<std::string>;

TEST(TransportTest, OpenConfiguresAnOutputLine) {
    const struct {
        int32_t baud;
        uint32_t flagsFound;
        const char* mode;
        const char* applied;
    } cases[] = {
        {4800, 0xFFFFFFFF, "BuildCommDCBA(COM1:48,n,8,1)", "SetCommState(baud=4800,flags=0xFFFFC4C3)"},
        {9600, 0x00003F3E, "BuildCommDCBA(COM1:96,n,8,1)", "SetCommState(baud=9600,flags=0x00000403)"},
        {50, 0x00010000, "BuildCommDCBA(COM1:0,n,8,1)", "SetCommState(baud=50,flags=0x00010001)"},
    };
    for (const auto& c : cases) {
        standin::Reset();
        SetDcbFlags(&standin::S().deviceDcb, c.flagsFound);
        EXPECT_NE(OpenSerialPort("\\\\.\\COM1", "COM1", c.baud), 0);
        EXPECT_EQ(standin::Calls(),
                  Lines({"CreateFileA(\\\\.\\COM1,0xC0000000,0,3,0x40000000)", "SetupComm(256,256)",
                         "GetCommState()", "GetCommTimeouts()", c.mode, c.applied,
                         "SetCommTimeouts(4294967295,0,0,5000,5000)", "PurgeComm(0xF)",
                         "EscapeCommFunction(5)", "EscapeCommFunction(3)", "ClearCommError()"}))
            << "baud " << c.baud;
    }
}

TEST(TransportTest, CloseRestoresOnlyWhatWasSaved) {
    const std::string state = "SetCommState(baud=1200,flags=0x00001234)";
    const std::string timeouts = "SetCommTimeouts(1,2,3,4,5)";
    const struct {
        bool failState, failTimeouts;
        Lines calls;
    } cases[] = {
        {false, false, {"PurgeComm(0xF)", state, timeouts, "CloseHandle(device)"}},
        {true, false, {"PurgeComm(0xF)", timeouts, "CloseHandle(device)"}},
        {false, true, {"PurgeComm(0xF)", state, "CloseHandle(device)"}},
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

const char kText[] = "$PGRMZ,1000.0,f,2*35\r\n";
constexpr int32_t kTextLength = sizeof kText - 1;

void PrepareWrite() {
    standin::Reset();
    std::memcpy(OutputBuffer, kText, kTextLength);
    portHandle = standin::Opened(standin::kDeviceHandle);
    dataReady = 1;
}

TEST(TransportTest, SerialOutcomes) {
    const standin::Result done = {TRUE, 0}, pending = {FALSE, ERROR_IO_PENDING},
                          busy = {FALSE, ERROR_IO_INCOMPLETE};
    const std::string write = "WriteFile(22)", query = "GetOverlappedResult(wait=0)",
                      purge = "PurgeComm(0xF)";
    const struct {
        const char* name;
        standin::Result write;
        std::vector<standin::Result> queries; // answers at the following cycles' completion checks
        std::vector<bool> goAhead;            // PollPendingWrite at each following cycle
        Lines calls;
    } cases[] = {
        {"finished at once", done, {}, {true}, {write}},
        {"pending", pending, {busy, busy, done}, {false, false, true}, {write, query, query, query}},
        {"failed after it started", pending, {{FALSE, 995}}, {true, true}, {write, query, purge}},
        {"empty text", done, {}, {true}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PrepareWrite();
        standin::S().writeResults.push_back(c.write);
        standin::S().overlappedResults.assign(c.queries.begin(), c.queries.end());
        writeOverlapped.hEvent = reinterpret_cast<HANDLE>(0x1); // must be null for every write
        StartOutputWrite(c.calls.empty() ? 0 : kTextLength);
        const bool leftPending = c.write.value == FALSE && c.write.error == ERROR_IO_PENDING;
        EXPECT_EQ(writePending.load(), leftPending ? 1 : 0);
        // Only a write that finished at once leaves dataReady for the output thread to clear.
        EXPECT_EQ(dataReady.load(), c.write.value && !c.calls.empty() ? 1 : 0);
        for (size_t i = 0; i < c.goAhead.size(); ++i) {
            dataReady = 1;
            EXPECT_EQ(PollPendingWrite(), c.goAhead[i]) << "cycle " << i + 1;
            EXPECT_EQ(dataReady.load(), c.goAhead[i] ? 1 : 0) << "cycle " << i + 1;
        }
        EXPECT_EQ(writePending.load(), 0);
        EXPECT_EQ(standin::Calls(), c.calls);
    }
}

TEST(TransportTest, RelayPath) {
    const struct {
        const char* name;
        bool relay;
        uint32_t flags;
        bool sendEntry, sent;
    } cases[] = {
        {"ready, other bits too", true, 0xFFFFFFFF, true, true},
        {"record absent", false, 0x1, true, false},
        {"bit 0 clear", true, 0xFFFFFFFE, true, false},
        {"no send entry", true, 0x1, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
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
            ASSERT_TRUE(PollPendingWrite()) << "no relay cycle is skipped";
            StartOutputWrite(kTextLength);
            EXPECT_EQ(writePending.load(), 1);
            EXPECT_EQ(dataReady.load(), 0);
        }
        EXPECT_EQ(standin::Calls(), fakehost::Calls()) << "the host's calls alone";
        EXPECT_EQ(fakehost::Calls(), Lines(c.sent ? 3 : 0, "relay.send(1,22)"));
        EXPECT_EQ(fakehost::RelayTexts(), Lines(c.sent ? 3 : 0, kText));
    }
}

// At 4800 baud a cycle of every record takes longer on the line than many periods: the module skips the
// cycles that find the line busy, never queues a write behind another, never blocks, and what goes out is
// always the sample taken just before it. The line costs the line only: the NMEA over UDP and TCP gets
// every cycle's text, composed beside the one the line still sends.
TEST(TransportTest, SlowLineSkipsCyclesAndCostsTheLineOnly) {
    modulerun::RunSetup setup;
    setup.sentences = modulerun::kEverySentence;
    setup.mask = modulerun::kEveryRecord;
    setup.generation = 2;
    setup.keys = {{"Network", "udp:127.0.0.4:10110,tcp:10110"}};
    setup.script = [] {
        standin::S().lineBaud = 4800;
        standin::S().clients.resize(1);
    };
    constexpr DWORD kRunMs = 60000, kPeriodMs = 200;
    const modulerun::Outcome out = modulerun::Simulate(setup, kRunMs);
    ASSERT_GE(out.texts.size(), 2u);
    for (size_t i = 0; i + 1 < out.texts.size(); i++) {
        const DWORD lineMs = static_cast<DWORD>((out.texts[i].size() * 10 * 1000 + 4799) / 4800);
        ASSERT_GT(lineMs, 5 * kPeriodMs) << "the line is slower than the period";
        EXPECT_EQ(out.textTicks[i + 1] - out.textTicks[i], (lineMs + kPeriodMs - 1) / kPeriodMs * kPeriodMs)
            << "text " << i + 1 << " follows at the first compose that finds the line free";
    }
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
