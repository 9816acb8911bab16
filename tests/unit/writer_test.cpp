// The writer's state machine: writes that finish at once, stay pending, are refused or fail later, and the
// relay path, which always looks like a finished pending write.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "fake_host.h"
#include "sentences/output_buffer.h"
#include "settings/settings.h"
#include "transport/cycle_flags.h"
#include "transport/serial.h"
#include "transport/writer.h"
#include "win32_standin.h"

namespace {

const char kText[] = "$PGRMZ,1000.0,f,2*35\r\n";
constexpr int32_t kTextLength = sizeof kText - 1;

void Prepare() {
    standin::Reset();
    std::memcpy(OutputBuffer, kText, kTextLength);
    portHandle = standin::kDeviceHandle;
    dataReady = 1;
}

TEST(WriterTest, SerialOutcomes) {
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
        Prepare();
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

TEST(WriterTest, RelayPath) {
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
        Prepare();
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

} // namespace
