// The sampler against a fake host: entry checks, the one-time registration, the reads of every sample and
// the hand-over flags.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "fake_host.h"
#include "host/linkage.h"
#include "sampling/fix.h"
#include "sampling/requests.h"
#include "sampling/snapshot.h"
#include "transport/cycle_flags.h"
#include "win32_standin.h"

namespace {

const char* const kIds[] = {"0x47",  "0x48", "0x56",  "0x52", "0x49",  "0x40", "0x155", "0x157",
                            "0x158", "0x6",  "0x7",   "0x5",  "0x9",   "0x8",  "0x3D",  "0x41",
                            "0x4D",  "0x4F", "0x33A", "0x29", "0x341", "0x342"};

// `registers` registrations (0 or count) followed by `count` reads, each in table order.
std::vector<std::string> Expected(int registers, int count) {
    std::vector<std::string> calls;
    for (int call = 0; call < registers + count; call++) {
        calls.push_back(std::string(call < registers ? "variables.register(" : "variables.read(") +
                        kIds[call % count] + ")");
    }
    return calls;
}

class SamplerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        standin::Reset();
    }
    // A sample asked for by the output thread, with the flags as the thread leaves them.
    static void Sample() {
        sampleRequested = 1;
        dataReady = 1;
        SampleFlightState();
        EXPECT_EQ(sampleRequested.load(), 0);
    }
};

TEST_F(SamplerTest, RegistersOnceThenReadsThePrefixOfItsGeneration) {
    for (const int32_t generation : {0, 1, 2}) {
        standin::Reset();
        HostGeneration = generation;
        fakehost::Install({});
        fakehost::SetReadyWord(1);
        const int count = generation == 0 ? 16 : generation == 1 ? 20 : 22;
        Sample();
        EXPECT_EQ(fakehost::Calls(), Expected(count, count));
        EXPECT_EQ(registeredVariableCount, count);
        fakehost::ClearCalls();
        Sample();
        EXPECT_EQ(fakehost::Calls(), Expected(0, count)) << "generation " << generation;
        EXPECT_EQ(dataReady.load(), 1);
    }
}

TEST_F(SamplerTest, StopsBeforeTheHostWhenItIsNotReady) {
    struct Case {
        int32_t generation;
        bool globalData;
        bool variables;
        uint32_t readyWord;
        bool samples;
    };
    const Case cases[] = {
        {0, true, true, 0, false},  {0, false, true, 1, false}, {2, false, true, 0, false},
        {1, true, false, 1, false}, {0, true, true, 1, true},   {1, true, true, 0, true},
    };
    for (const Case& c : cases) {
        standin::Reset();
        HostGeneration = c.generation;
        fakehost::Services services;
        services.globalData = c.globalData;
        services.variables = c.variables;
        fakehost::Install(services);
        fakehost::SetReadyWord(c.readyWord);
        fakehost::SetValue(0x05, 33);
        Sample();
        EXPECT_EQ(dataReady.load(), c.samples ? 1 : 0) << "case " << (&c - cases);
        EXPECT_EQ(navSnapshot.timeSeconds, c.samples ? 33 : 0) << "case " << (&c - cases);
        EXPECT_EQ(fakehost::Calls().empty(), !c.samples) << "case " << (&c - cases);
    }
}

TEST_F(SamplerTest, GenerationZeroWaitsForTheReadyWord) {
    fakehost::Install({});
    Sample();
    Sample();
    EXPECT_TRUE(fakehost::Calls().empty());
    EXPECT_EQ(registeredVariableCount, 0);
    fakehost::SetReadyWord(0x80);
    Sample();
    EXPECT_EQ(fakehost::Calls(), Expected(16, 16));
}

TEST_F(SamplerTest, ConvertsServedValuesAndKeepsAttitudeOnGenerationZero) {
    fakehost::Install({});
    fakehost::SetReadyWord(1);
    fakehost::SetGroundSpeedWord(3371477); // 100.0004 knots
    fakehost::SetValue(0x56, 90);
    fakehost::SetValue(0x4F, 350);
    fakehost::SetValue(0x09, 1994);
    fakehost::SetValue(0x08, 81);
    Sample();
    EXPECT_EQ(dataReady.load(), 1);
    EXPECT_NEAR(navSnapshot.groundSpeedKnots, 100.0504, 1e-4);
    EXPECT_EQ(navSnapshot.trackTrue, 90.0);
    EXPECT_EQ(navSnapshot.dateYear2, 94);
    EXPECT_EQ(navSnapshot.dateMonth, 3);
    EXPECT_EQ(navSnapshot.dateDay, 23);
    EXPECT_EQ(navSnapshot.bankDegrees, 0.0);
}

TEST_F(SamplerTest, NonFiniteSampleLeavesDataReadyClear) {
    HostGeneration = 1;
    fakehost::Install({});
    fakehost::SetValue(0x05, 12);
    Sample();
    ASSERT_EQ(dataReady.load(), 1);
    fakehost::SetValue(0x05, 13);
    fakehost::SetValue(0x49, std::nan(""));
    Sample();
    EXPECT_EQ(dataReady.load(), 0);
    EXPECT_EQ(navSnapshot.timeSeconds, 12);
}

} // namespace
