// One output cycle: the hundredths of the second, the record order and the hand-over to the writer.
#include <gtest/gtest.h>

#include <string>

#include "host/linkage.h"
#include "reference_fix.h"
#include "sentences/cycle.h"
#include "sentences/output_buffer.h"
#include "settings/settings.h"
#include "transport/cycle_flags.h"
#include "win32_standin.h"

namespace {

const char kGsa[] = "$GPGSA,M,3,10,06,04,09,02,07,30,05,,,,,1.6,0.9,1.3*3B\r\n";
const char kRpy[] = "$RPY,-52,24,-999,-999,-999,1790,1200,-500,-999,-999,-19,42,803,-999,-999\r\n";
const char kGtext[] = "@940323123519N4807038E01131000S000+00545E0115N0011U0000\r\n";

class CycleTest : public ::testing::Test {
  protected:
    void SetUp() override {
        standin::Reset();
        SetReferenceFix(true);
    }
    static std::string Composed(int32_t hundredths) {
        return std::string(OutputBuffer, static_cast<size_t>(ComposeRecords(hundredths)));
    }
};

TEST_F(CycleTest, HundredthsCountFromTheFirstCycleOfTheSecond) {
    struct Step {
        int32_t seconds;
        DWORD tick;
        int32_t hundredths;
    };
    // Cycles in order: a new second shows 00, later cycles in it the rounded time since; the tick count
    // may wrap between them.
    const Step steps[] = {
        {19, 5000, 0},        {19, 5230, 23},        {19, 5003, 1}, {19, 6200, 99},
        {20, 6200, 0},        {20, 6204, 1},         {20, 6205, 1}, {20, 6215, 2},
        {21, 0xFFFFFFF0u, 0}, {21, 0x000000F0u, 26}, {-1, 100, 0},
    };
    for (const Step& step : steps) {
        EXPECT_EQ(CycleHundredths(step.seconds, step.tick), step.hundredths)
            << step.seconds << "s at tick " << step.tick;
    }
}

TEST_F(CycleTest, OnlyGsaSelected) {
    sentenceMask = kSentenceGsa;
    EXPECT_EQ(Composed(0), kGsa);
    EXPECT_EQ(std::string(kGsa).size(), 55u);
}

TEST_F(CycleTest, EveryRecordInTheFixedOrder) {
    HostGeneration = 1;
    sentenceMask = 0xEFF;
    navSnapshot.magVariation = 3.25;
    const std::string expected =
        std::string(kGsa) +
        "$GPGSV,2,1,08,05,77,295,51,02,69,033,50,30,39,315,49,10,36,141,49*7B\r\n"
        "$GPGSV,2,2,08,09,25,213,49,04,23,044,49,06,17,287,49,07,05,089,49*74\r\n"
        "$GPRMA,A,4807.038000,N,01131.000000,E,0.0,0.0,22.4,84.4,3.2,W*69\r\n"
        "$GPRMC,123519.42,A,4807.038000,N,01131.000000,E,22.4,84.4,230394,3.2,W*41\r\n"
        "$GPGLL,4807.038000,N,01131.000000,E,123519.42,A*0D\r\n"
        "$GPVTG,84.4,T,80.2,M,22.4,N,41.5,K*48\r\n"
        "$GPGGA,123519.42,4807.038000,N,01131.000000,E,1,05,0.0,545.4,M,,,,*33\r\n"
        "$PGRMZ,1789.5,f,2*36\r\n"
        "\x02z01790\r\nAN 48 0704\r\nBE 011 3100\r\nC081\r\nD022\r\nQW033\r\nT----------\r\nw01@\r\n\x03" +
        kRpy + kGtext;
    EXPECT_EQ(Composed(42), expected);
}

TEST_F(CycleTest, AttitudeOnlyOnNewerHostsAndOnItsOwnLine) {
    sentenceMask = kSentenceRpy | kSentenceGtext;
    for (const int32_t generation : {0, 1, 2}) {
        HostGeneration = generation;
        EXPECT_EQ(Composed(0), generation == 0 ? std::string(kGtext) : std::string(kRpy) + kGtext)
            << generation;
    }
}

TEST_F(CycleTest, ComposeCycleWritesTheTextWithHundredths) {
    sentenceMask = kSentenceGll;
    standin::S().tickCount = 1000;
    ComposeCycle();
    standin::S().tickCount = 1230;
    ComposeCycle();
    EXPECT_EQ(standin::S().written, "$GPGLL,4807.038000,N,01131.000000,E,123519.00,A*0B\r\n"
                                    "$GPGLL,4807.038000,N,01131.000000,E,123519.23,A*0A\r\n");
}

TEST_F(CycleTest, WriteInProgressSkipsTheCycle) {
    sentenceMask = kSentenceGsa;
    OutputBuffer[0] = 'x';
    writePending = 1;
    dataReady = 1;
    standin::S().overlappedResults.push_back({FALSE, ERROR_IO_INCOMPLETE});
    ComposeCycle();
    EXPECT_EQ(OutputBuffer[0], 'x');
    EXPECT_EQ(standin::S().written, "");
    EXPECT_EQ(dataReady.load(), 0);
    EXPECT_EQ(lastSecondsSeen, -1);
}

} // namespace
