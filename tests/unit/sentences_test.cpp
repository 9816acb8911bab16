// The composition of one cycle's text: the NMEA sentences with their checksums and one-decimal numbers, the
// bounded formatter, the three records that are not NMEA (the aviation data block, the attitude sentence and
// the text position record), the hundredths of the second, the record order and the hand-over to the writer.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <tuple>

#include "cycle_check.h"
#include "host/linkage.h"
#include "reference_fix.h"
#include "sampling/fix.h"
#include "sampling/requests.h"
#include "sentences/output_buffer.h"
#include "sentences/records.h"
#include "transport/cycle.h"
#include "transport/serial.h"
#include "win32_standin.h"

namespace {

const char kRpy[] = "$RPY,-52,24,-999,-999,-999,1790,1200,-500,-999,-999,-19,42,803,-999,-999\r\n";
const char kGtext[] = "@940323123519N4807038E01131000S000+00545E0115N0011U0000\r\n";

// The text an appender leaves at the buffer's start, from navSnapshot.
std::string Appended(int32_t (*append)(char*, int32_t, const NavSnapshot&)) {
    return std::string(OutputBuffer, static_cast<size_t>(append(OutputBuffer, 0, navSnapshot)));
}

// The selected records composed from navSnapshot.
std::string Composed(int32_t hundredths) {
    return std::string(OutputBuffer,
                       static_cast<size_t>(ComposeRecords(OutputBuffer, navSnapshot, hundredths)));
}

class SentencesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        standin::Reset();
    }
};

// Only the selected records, in four-digit minute fractions (six-digit ones are in the fixed-order cycle
// below), with negative and standing values; the attitude sentence only on hosts that deliver attitude, on
// its own line.
TEST_F(SentencesTest, SelectedRecordsWithFourDigitFractions) {
    const SentenceMask kAltitudes = kSentenceVtg | kSentenceGga | kSentencePgrmz;
    const struct {
        SentenceMask mask;
        std::string text;
        int32_t generation = 0;
        double altitudeMetres = 545.45, knots = 22.45;
    } cases[] = {
        {kSentenceRma | kSentenceRmc | kSentenceGll,
         "$GPRMA,A,4807.0380,N,01131.0000,E,0.0,0.0,22.4,84.4,3.1,W*6A\r\n"
         "$GPRMC,123519.05,A,4807.0380,N,01131.0000,E,22.4,84.4,230394,3.1,W*41\r\n"
         "$GPGLL,4807.0380,N,01131.0000,E,123519.05,A*0E\r\n"},
        {kAltitudes,
         "$GPVTG,84.4,T,80.2,M,22.4,N,41.5,K*48\r\n"
         "$GPGGA,123519.05,4807.0380,N,01131.0000,E,1,05,0.0,3048.0,M,,,,*0F\r\n$PGRMZ,10000.2,f,2*07\r\n",
         0, 3048.05},
        {kAltitudes,
         "$GPVTG,84.4,T,80.2,M,0.0,N,0.0,K*4C\r\n"
         "$GPGGA,123519.05,4807.0380,N,01131.0000,E,1,05,0.0,-10.3,M,,,,*2F\r\n$PGRMZ,-33.9,f,2*10\r\n",
         0, -10.35, 0.05},
        {kSentenceRpy | kSentenceGtext, kGtext},
        {kSentenceRpy | kSentenceGtext, std::string(kRpy) + kGtext, 1},
        {kSentenceHdt | kSentenceHdg, "$GPHDT,77.1,T*04\r\n$HCHDG,80.3,,,3.2,W*01\r\n"},
        {kSentenceLxwp0, "$LXWP0,N,222.2,545.4,-2.54,-2.54,-2.54,-2.54,-2.54,-2.54,77,270,18.5*4A\r\n"},
    };
    for (const auto& c : cases) {
        SetReferenceFix(false);
        sentenceMask = c.mask;
        HostGeneration = c.generation;
        std::tie(navSnapshot.altitudeMetres, navSnapshot.groundSpeedKnots, navSnapshot.groundSpeedKmh) =
            std::make_tuple(c.altitudeMetres, c.knots, c.knots * 1.852);
        EXPECT_EQ(Composed(5), c.text) << "row " << &c - cases;
    }
}

// The heading sentences from host values through the fix: each rounds to the tenth, a heading that rounds
// to a full circle is 0.0, and HDT is HDM plus an east variation, or minus a west one, to within 0.1 (one
// tenth's rounding in each), at the rounding boundaries of both sides and over a sweep of variations.
TEST_F(SentencesTest, HeadingSentencesAgree) {
    const struct {
        double heading, variation; // the host's, east positive
        const char* text;          // HDT, HDM, HDG
    } cases[] = {
        {72.4, -1.9, "$GPHDT,72.4,T*04\r\n$HCHDM,74.3,M*19\r\n$HCHDG,74.3,,,1.9,W*03\r\n"},
        {15.6, 12.54, "$GPHDT,15.6,T*07\r\n$HCHDM,3.1,M*2B\r\n$HCHDG,3.1,,,12.5,E*1D\r\n"},
        {359.96, 10.0, "$GPHDT,0.0,T*35\r\n$HCHDM,350.0,M*2F\r\n$HCHDG,350.0,,,10.0,E*1E\r\n"},
        {72.4, -3.14, "$GPHDT,72.4,T*04\r\n$HCHDM,75.5,M*1E\r\n$HCHDG,75.5,,,3.1,W*0E\r\n"},
        {72.4, -3.151, "$GPHDT,72.4,T*04\r\n$HCHDM,75.6,M*1D\r\n$HCHDG,75.6,,,3.2,W*0E\r\n"},
        {72.4, 3.151, "$GPHDT,72.4,T*04\r\n$HCHDM,69.2,M*14\r\n$HCHDG,69.2,,,3.2,E*15\r\n"},
        {72.4, 3.149, "$GPHDT,72.4,T*04\r\n$HCHDM,69.3,M*15\r\n$HCHDG,69.3,,,3.1,E*17\r\n"},
        {10.0, -0.04, "$GPHDT,10.0,T*04\r\n$HCHDM,10.0,M*18\r\n$HCHDG,10.0,,,0.0,E*18\r\n"},
        {10.0, -0.06, "$GPHDT,10.0,T*04\r\n$HCHDM,10.1,M*19\r\n$HCHDG,10.1,,,0.1,W*0A\r\n"},
        {200.0, 179.96, "$GPHDT,200.0,T*37\r\n$HCHDM,20.0,M*1B\r\n$HCHDG,20.0,,,180.0,E*12\r\n"},
        {200.0, -179.96, "$GPHDT,200.0,T*37\r\n$HCHDM,20.0,M*1B\r\n$HCHDG,20.0,,,180.0,W*00\r\n"},
        {0.04, -0.1, "$GPHDT,0.0,T*35\r\n$HCHDM,0.1,M*28\r\n$HCHDG,0.1,,,0.1,W*3B\r\n"},
    };
    // The text of a host heading and variation through the fix, checked for the agreement.
    const auto agreeing = [](double heading, double variation) {
        requestTable[kTrueHeading].value = heading;
        requestTable[kMagneticVariation].value = variation;
        EXPECT_TRUE(ConvertFlightState(0));
        const std::string text = Composed(0);
        double hdt = -1, hdm = -1, east = -1;
        char side = '?';
        std::sscanf(text.c_str(), "$GPHDT,%lf,T*%*x $HCHDM,%lf,M*%*x $HCHDG,%*f,,,%lf,%c", &hdt, &hdm, &east,
                    &side);
        EXPECT_LE(std::fabs(std::remainder(hdt - hdm - (side == 'W' ? -east : east), 360.0)), 0.1 + 1e-9)
            << text;
        return text;
    };
    sentenceMask = kSentenceHdt | kSentenceHdm | kSentenceHdg;
    for (const auto& c : cases) {
        EXPECT_EQ(agreeing(c.heading, c.variation), c.text);
    }
    for (const double heading : {0.04, 72.44, 180.05, 359.96}) {
        for (double variation = -179.99; variation < 180.0; variation += 0.093) {
            agreeing(heading, variation);
        }
    }
}

// The glide computers' sentences, each field rounded once: the worked example, rounding boundaries, a
// negative vario, a negative airspeed printed 0.0, bearings that round to 360 printed 0, values that are
// not numbers as LK8EX1's "none" markers and LXWP0's empty fields, and a real value kept off the markers.
TEST_F(SentencesTest, GlideComputerSentences) {
    const double nan = std::nan("");
    const struct {
        double knots, altitude, vario, heading, windFrom, windKnots;
        const char* text; // LK8EX1, LXWP0
    } cases[] = {
        {120.0, 1524.3, 2.54, 72.0, 270.0, 10.0,
         "$LK8EX1,999999,1524,254,99,999,*1B\r\n"
         "$LXWP0,N,222.2,1524.3,2.54,2.54,2.54,2.54,2.54,2.54,72,270,18.5*7E\r\n"},
        {-5.0, 1524.5, -2.545001, 359.96, 359.6, 10.03,
         "$LK8EX1,999999,1525,-255,99,999,*36\r\n"
         "$LXWP0,N,0.0,1524.5,-2.55,-2.55,-2.55,-2.55,-2.55,-2.55,0,0,18.6*4B\r\n"},
        {0.027, -10.5, 2.544999, 0.4, 359.4, 0.0,
         "$LK8EX1,999999,-11,254,99,999,*34\r\n"
         "$LXWP0,N,0.1,-10.5,2.54,2.54,2.54,2.54,2.54,2.54,0,359,0.0*54\r\n"},
        {nan, nan, nan, 72.0, nan, nan,
         "$LK8EX1,999999,99999,9999,99,999,*13\r\n$LXWP0,N,,,,,,,,,72,,*68\r\n"},
        {60.0, 100000.0, 100.0, 180.5, -10.0, -3.0,
         "$LK8EX1,999999,99998,9998,99,999,*13\r\n"
         "$LXWP0,N,111.1,100000.0,100.00,100.00,100.00,100.00,100.00,100.00,181,350,-5.6*52\r\n"},
    };
    for (const auto& c : cases) {
        SetReferenceFix(true);
        sentenceMask = kSentenceLk8ex1 | kSentenceLxwp0;
        NavSnapshot& s = navSnapshot;
        std::tie(s.airspeedValue, s.altitudeMsl, s.verticalSpeedMs) = std::tie(c.knots, c.altitude, c.vario);
        std::tie(s.headingTrue, s.windFromDegrees, s.windSpeedKnots) =
            std::tie(c.heading, c.windFrom, c.windKnots);
        EXPECT_EQ(Composed(0), c.text);
    }
}

TEST(OneDecimal, SignIntegerPartAndTenthsDigit) {
    const double infinity = std::numeric_limits<double>::infinity();
    const struct {
        double value;
        const char* text;
    } cases[] = {
        {22.45, "22.4"},      {-10.35, "-10.3"},      {-0.45, "-0.4"},          {-0.04, "0.0"},
        {-0.0, "0.0"},        {1e12, "2147483647.9"}, {-1e12, "-2147483647.9"}, {infinity, "2147483647.9"},
        {std::nan(""), "0.0"}};
    for (const auto& c : cases) {
        const OneDecimal d = ToOneDecimal(c.value);
        EXPECT_EQ(std::string(d.sign) + std::to_string(d.whole) + "." + std::to_string(d.tenths), c.text)
            << c.value;
    }
}

TEST(FormatAt, NeverWritesPastTheBuffer) {
    OutputBuffer[kOutputBufferSize - 1] = 'x';
    EXPECT_EQ(FormatAt(OutputBuffer, kOutputBufferSize - 4, "%d", 1234),
              kOutputBufferSize - 1); // exactly full
    EXPECT_EQ(FormatAt(OutputBuffer, kOutputBufferSize - 4, "%d", 123456), kOutputBufferSize - 1);
    EXPECT_EQ(std::string(OutputBuffer + kOutputBufferSize - 4), "123");
    EXPECT_EQ(FormatAt(OutputBuffer, kOutputBufferSize - 1, "%s", "more"), kOutputBufferSize - 1);
    EXPECT_EQ(FormatAt(OutputBuffer, kOutputBufferSize, "%s", "more"), kOutputBufferSize);
    EXPECT_EQ(AppendChecksum(OutputBuffer, 0, kOutputBufferSize - 2), kOutputBufferSize - 1);
    EXPECT_EQ(OutputBuffer[kOutputBufferSize - 1], '\0');
}

// Minutes that round up carry into the degrees, but saturated ones cannot: the block holds them at 99
// hundredths.
TEST_F(SentencesTest, AviationBlock) {
    const std::string tail = "C081\r\nD022\r\nQW033\r\n";
    const struct {
        bool sixDecimals;
        int32_t latDegrees, latMinutes, latFraction, lonMinutes, lonFraction;
        double altitude, trackMagnetic, knots;
        std::string lines;
    } cases[] = {
        {true, 48, 7, 38000, 31, 0, 545.45, 81.3, 22.45, "z01790\r\nAN 48 0704\r\nBE 011 3100\r\n" + tail},
        {false, 48, 7, 380, 31, 0, 545.45, 81.3, 22.45, "z01790\r\nAN 48 0704\r\nBE 011 3100\r\n" + tail},
        {true, 48, 7, 4999, 31, 5000, -0.01, 81.3, 22.45, "z00000\r\nAN 48 0700\r\nBE 011 3101\r\n" + tail},
        {true, 48, 59, 996000, 31, 994999, -300.0, 81.3, 22.45,
         "z00000\r\nAN 49 0000\r\nBE 011 3199\r\n" + tail},
        {false, 48, 58, 9950, 31, 9949, 545.45, 81.3, 22.45,
         "z01790\r\nAN 48 5900\r\nBE 011 3199\r\n" + tail},
        {true, 48, 7, 38000, 31, 0, 545.45, 359.6, 1234.45,
         "z01790\r\nAN 48 0704\r\nBE 011 3100\r\nC360\r\nD1234\r\nQW033\r\n"},
        {true, INT32_MAX, 59, 999999, INT32_MAX, INT32_MAX, 545.45, 81.3, 22.45,
         "z01790\r\nAN 2147483647 5999\r\nBE 011 214748364799\r\n" + tail},
    };
    for (const auto& c : cases) {
        SetReferenceFix(c.sixDecimals);
        NavSnapshot& s = navSnapshot;
        std::tie(s.latDegrees, s.latMinutes, s.latMinuteFraction, s.lonMinutes, s.lonMinuteFraction) =
            std::tie(c.latDegrees, c.latMinutes, c.latFraction, c.lonMinutes, c.lonFraction);
        std::tie(s.altitudeMetres, s.trackMagnetic, s.groundSpeedKnots) =
            std::tie(c.altitude, c.trackMagnetic, c.knots);
        s.magVariation = 3.25;
        EXPECT_EQ(Appended(AppendAviationBlock), "\x02" + c.lines + "T----------\r\nw01@\r\n\x03") << c.lines;
    }
}

TEST_F(SentencesTest, TextPositionByTrackQuadrant) {
    const struct {
        double track, altitude, knots;
        const char* record;
    } cases[] = {
        {84.45, 545.45, 22.45, kGtext},
        {90.0, 545.45, 22.45, "@940323123519N4807038E01131000S000+00545E0115S0000U0000\r\n"},
        {135.0, 545.45, 22.45, "@940323123519N4807038E01131000S000+00545E0082S0082U0000\r\n"},
        {180.0, 545.45, 22.45, "@940323123519N4807038E01131000S000+00545W0000S0115U0000\r\n"},
        {270.0, 545.45, 22.45, "@940323123519N4807038E01131000S000+00545W0115N0000U0000\r\n"},
        {360.0, 545.45, 22.45, "@940323123519N4807038E01131000S000+00545W0000N0115U0000\r\n"},
        {84.45, -12.3, 22.45, "@940323123519N4807038E01131000S000-00012E0115N0011U0000\r\n"},
        {84.45, 0.0, 0.05, "@940323123519N4807038E01131000S000+00000E0000N0000U0000\r\n"},
    };
    for (const bool sixDecimals : {true, false}) {
        for (const auto& c : cases) {
            SetReferenceFix(sixDecimals);
            std::tie(navSnapshot.trackTrue, navSnapshot.altitudeMetres, navSnapshot.groundSpeedKnots) =
                std::tie(c.track, c.altitude, c.knots);
            EXPECT_EQ(Appended(AppendTextPosition), c.record) << c.track << (sixDecimals ? " six" : " four");
        }
    }
}

TEST_F(SentencesTest, Attitude) {
    const struct {
        double bank, a, b;
        const char* sentence;
    } cases[] = {
        {-5.27, 10.0, -20.0, kRpy},
        {-5.23, 127.0, 119.0,
         "$RPY,-51,24,-999,-999,-999,1790,1200,-500,-999,-999,-250,-250,803,-999,-999\r\n"},
        {-5.2, -127.0, -119.0,
         "$RPY,-51,24,-999,-999,-999,1790,1200,-500,-999,-999,250,250,803,-999,-999\r\n"},
        {5.27, 0.0, 0.0, "$RPY,53,24,-999,-999,-999,1790,1200,-500,-999,-999,0,0,803,-999,-999\r\n"},
        {-5.27, 126.9, 63.5,
         "$RPY,-52,24,-999,-999,-999,1790,1200,-500,-999,-999,-249,-132,803,-999,-999\r\n"},
        {-5.27, 63.5, -0.3, "$RPY,-52,24,-999,-999,-999,1790,1200,-500,-999,-999,-124,1,803,-999,-999\r\n"},
        {-5.27, -0.3, -118.9, "$RPY,-52,24,-999,-999,-999,1790,1200,-500,-999,-999,1,250,803,-999,-999\r\n"},
    };
    for (const auto& c : cases) {
        SetReferenceFix(true);
        std::tie(navSnapshot.bankDegrees, navSnapshot.attitudeA127, navSnapshot.attitudeB119) =
            std::tie(c.bank, c.a, c.b);
        EXPECT_EQ(Appended(AppendAttitude), c.sentence) << c.bank << " " << c.a << " " << c.b;
    }
}

// The widest cycle of all: every record with every field at its widest still fits the buffer whole.
TEST_F(SentencesTest, TheWidestCycleFitsWhole) {
    SetReferenceFix(true);
    NavSnapshot& n = navSnapshot;
    for (int32_t* field : {&n.latDegrees, &n.latMinutes, &n.latMinuteFraction, &n.lonDegrees, &n.lonMinutes,
                           &n.lonMinuteFraction, &n.timeHours, &n.timeMinutes, &n.timeSeconds, &n.dateYear2,
                           &n.dateMonth, &n.dateDay}) {
        *field = INT32_MIN;
    }
    for (double* field :
         {&n.groundSpeedKnots, &n.groundSpeedKmh, &n.trackTrue, &n.trackMagnetic, &n.headingMagnetic,
          &n.magVariation, &n.altitudeMetres, &n.airspeedValue, &n.verticalSpeedFpm, &n.bankDegrees,
          &n.pitchDegrees, &n.headingTrue, &n.variationEast, &n.altitudeMsl, &n.verticalSpeedMs,
          &n.windSpeedKnots, &n.windFromDegrees}) {
        *field = -1e300;
    }
    HostGeneration = 1;
    sentenceMask = 0x1FEFF;
    const std::string widest = Composed(99);
    EXPECT_GT(widest.size(), 1600u);
    EXPECT_EQ(CheckCycleText(widest.data(), widest.size(), {0x1FEFF, 1, false}), "");
}

TEST_F(SentencesTest, HundredthsCountFromTheFirstCycleOfTheSecond) {
    // Cycles in order: a new second shows 00, later cycles in it the rounded time since; the tick count may
    // wrap between them.
    const struct {
        int32_t seconds;
        DWORD tick;
        int32_t hundredths;
    } steps[] = {
        {19, 5000, 0},        {19, 5230, 23},        {19, 5003, 1}, {19, 6200, 99},
        {20, 6200, 0},        {20, 6204, 1},         {20, 6205, 1}, {20, 6215, 2},
        {21, 0xFFFFFFF0u, 0}, {21, 0x000000F0u, 26}, {-1, 100, 0},
    };
    for (const auto& step : steps) {
        EXPECT_EQ(CycleHundredths(step.seconds, step.tick), step.hundredths)
            << step.seconds << "s at tick " << step.tick;
    }
}

TEST_F(SentencesTest, EveryRecordInTheFixedOrder) {
    SetReferenceFix(true);
    HostGeneration = 1;
    sentenceMask = 0x1FEFF;
    navSnapshot.magVariation = 3.25;
    const std::string expected =
        std::string("$GPGSA,M,3,10,06,04,09,02,07,30,05,,,,,1.6,0.9,1.3*3B\r\n") +
        "$GPGSV,2,1,08,05,77,295,51,02,69,033,50,30,39,315,49,10,36,141,49*7B\r\n"
        "$GPGSV,2,2,08,09,25,213,49,04,23,044,49,06,17,287,49,07,05,089,49*74\r\n"
        "$GPRMA,A,4807.038000,N,01131.000000,E,0.0,0.0,22.4,84.4,3.2,W*69\r\n"
        "$GPRMC,123519.42,A,4807.038000,N,01131.000000,E,22.4,84.4,230394,3.2,W*41\r\n"
        "$GPGLL,4807.038000,N,01131.000000,E,123519.42,A*0D\r\n"
        "$GPVTG,84.4,T,80.2,M,22.4,N,41.5,K*48\r\n"
        "$GPGGA,123519.42,4807.038000,N,01131.000000,E,1,05,0.0,545.4,M,,,,*33\r\n"
        "$PGRMZ,1789.5,f,2*36\r\n"
        "\x02z01790\r\nAN 48 0704\r\nBE 011 3100\r\nC081\r\nD022\r\nQW033\r\nT----------\r\nw01@\r\n\x03" +
        kRpy + kGtext +
        "$GPHDT,77.1,T*04\r\n$HCHDM,80.3,M*12\r\n$HCHDG,80.3,,,3.2,W*01\r\n"
        "$LK8EX1,999999,545,-254,99,999,*00\r\n"
        "$LXWP0,N,222.2,545.4,-2.54,-2.54,-2.54,-2.54,-2.54,-2.54,77,270,18.5*4A\r\n";
    EXPECT_EQ(Composed(42), expected);
}

} // namespace
