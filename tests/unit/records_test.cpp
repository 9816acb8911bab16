// The three records that are not NMEA: the aviation data block, the text position record and the attitude
// sentence.
#include <gtest/gtest.h>

#include <string>

#include "reference_fix.h"
#include "sentences/output_buffer.h"
#include "sentences/records.h"
#include "win32_standin.h"

namespace {

std::string Appended(int32_t (*append)(int32_t)) {
    const int32_t length = append(0);
    return std::string(OutputBuffer, static_cast<size_t>(length));
}

// The block's eight lines between STX and ETX.
std::string Block(const std::string& lines) {
    return "\x02" + lines + "T----------\r\nw01@\r\n\x03";
}

class RecordsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        standin::Reset();
    }
};

TEST_F(RecordsTest, AviationBlock) {
    struct Case {
        bool sixDecimals;
        int32_t latDegrees, latMinutes, latFraction, lonFraction;
        double altitude, trackMagnetic, knots;
        std::string lines;
    };
    const std::string tail = "C081\r\nD022\r\nQW033\r\n";
    const Case cases[] = {
        {true, 48, 7, 38000, 0, 545.45, 81.3, 22.45, "z01790\r\nAN 48 0704\r\nBE 011 3100\r\n" + tail},
        {false, 48, 7, 380, 0, 545.45, 81.3, 22.45, "z01790\r\nAN 48 0704\r\nBE 011 3100\r\n" + tail},
        {true, 48, 7, 4999, 5000, -0.01, 81.3, 22.45, "z00000\r\nAN 48 0700\r\nBE 011 3101\r\n" + tail},
        {true, 48, 59, 996000, 994999, -300.0, 81.3, 22.45, "z00000\r\nAN 49 0000\r\nBE 011 3199\r\n" + tail},
        {false, 48, 58, 9950, 9949, 545.45, 81.3, 22.45, "z01790\r\nAN 48 5900\r\nBE 011 3199\r\n" + tail},
        {true, 48, 7, 38000, 0, 545.45, 359.6, 1234.45,
         "z01790\r\nAN 48 0704\r\nBE 011 3100\r\nC360\r\nD1234\r\nQW033\r\n"},
    };
    for (const Case& c : cases) {
        SetReferenceFix(c.sixDecimals);
        navSnapshot.latDegrees = c.latDegrees;
        navSnapshot.latMinutes = c.latMinutes;
        navSnapshot.latMinuteFraction = c.latFraction;
        navSnapshot.lonMinuteFraction = c.lonFraction;
        navSnapshot.altitudeMetres = c.altitude;
        navSnapshot.trackMagnetic = c.trackMagnetic;
        navSnapshot.groundSpeedKnots = c.knots;
        navSnapshot.magVariation = 3.25;
        EXPECT_EQ(Appended(AppendAviationBlock), Block(c.lines)) << c.lines;
    }
    EXPECT_EQ(Block("z01790\r\nAN 48 0704\r\nBE 011 3100\r\n" + tail).size(), 73u);
}

TEST_F(RecordsTest, AviationBlockHoldsSaturatedMinutesInTwoDigits) {
    SetReferenceFix(true);
    navSnapshot.latDegrees = INT32_MAX;
    navSnapshot.latMinutes = 59;
    navSnapshot.latMinuteFraction = 999999;
    navSnapshot.lonMinutes = INT32_MAX;
    navSnapshot.lonMinuteFraction = INT32_MAX;
    navSnapshot.magVariation = 3.25;
    EXPECT_EQ(Appended(AppendAviationBlock),
              Block("z01790\r\nAN 2147483647 5999\r\nBE 011 214748364799\r\nC081\r\nD022\r\nQW033\r\n"));
}

TEST_F(RecordsTest, TextPositionByTrackQuadrant) {
    struct Case {
        double track;
        double altitude;
        double knots;
        const char* record;
    };
    const Case cases[] = {
        {84.45, 545.45, 22.45, "@940323123519N4807038E01131000S000+00545E0115N0011U0000\r\n"},
        {90.0, 545.45, 22.45, "@940323123519N4807038E01131000S000+00545E0115S0000U0000\r\n"},
        {135.0, 545.45, 22.45, "@940323123519N4807038E01131000S000+00545E0082S0082U0000\r\n"},
        {180.0, 545.45, 22.45, "@940323123519N4807038E01131000S000+00545W0000S0115U0000\r\n"},
        {225.0, 545.45, 22.45, "@940323123519N4807038E01131000S000+00545W0082S0082U0000\r\n"},
        {270.0, 545.45, 22.45, "@940323123519N4807038E01131000S000+00545W0115N0000U0000\r\n"},
        {360.0, 545.45, 22.45, "@940323123519N4807038E01131000S000+00545W0000N0115U0000\r\n"},
        {84.45, -12.3, 22.45, "@940323123519N4807038E01131000S000-00012E0115N0011U0000\r\n"},
        {84.45, 0.0, 0.05, "@940323123519N4807038E01131000S000+00000E0000N0000U0000\r\n"},
    };
    for (const bool sixDecimals : {true, false}) {
        for (const Case& c : cases) {
            SetReferenceFix(sixDecimals);
            navSnapshot.trackTrue = c.track;
            navSnapshot.altitudeMetres = c.altitude;
            navSnapshot.groundSpeedKnots = c.knots;
            EXPECT_EQ(Appended(AppendTextPosition), c.record) << c.track << (sixDecimals ? " six" : " four");
        }
    }
}

TEST_F(RecordsTest, Attitude) {
    struct Case {
        double bank, a, b;
        const char* sentence;
    };
    const Case cases[] = {
        {-5.27, 10.0, -20.0, "$RPY,-52,24,-999,-999,-999,1790,1200,-500,-999,-999,-19,42,803,-999,-999\r\n"},
        {-5.23, 127.0, 119.0,
         "$RPY,-51,24,-999,-999,-999,1790,1200,-500,-999,-999,-250,-250,803,-999,-999\r\n"},
        {-5.2, -127.0, -119.0,
         "$RPY,-51,24,-999,-999,-999,1790,1200,-500,-999,-999,250,250,803,-999,-999\r\n"},
        {5.27, 0.0, 0.0, "$RPY,53,24,-999,-999,-999,1790,1200,-500,-999,-999,0,0,803,-999,-999\r\n"},
        {-5.27, 126.9, 63.5,
         "$RPY,-52,24,-999,-999,-999,1790,1200,-500,-999,-999,-249,-132,803,-999,-999\r\n"},
        {-5.27, 63.5, -0.3, "$RPY,-52,24,-999,-999,-999,1790,1200,-500,-999,-999,-124,1,803,-999,-999\r\n"},
        {-5.27, -63.5, 118.9,
         "$RPY,-52,24,-999,-999,-999,1790,1200,-500,-999,-999,125,-249,803,-999,-999\r\n"},
        {-5.27, -0.3, -118.9, "$RPY,-52,24,-999,-999,-999,1790,1200,-500,-999,-999,1,250,803,-999,-999\r\n"},
    };
    for (const Case& c : cases) {
        SetReferenceFix(true);
        navSnapshot.bankDegrees = c.bank;
        navSnapshot.attitudeA127 = c.a;
        navSnapshot.attitudeB119 = c.b;
        EXPECT_EQ(Appended(AppendAttitude), c.sentence) << c.bank << " " << c.a << " " << c.b;
    }
}

TEST_F(RecordsTest, AbsurdValuesSaturateInsteadOfOverflowing) {
    SetReferenceFix(true);
    navSnapshot.bankDegrees = 1e300;
    navSnapshot.pitchDegrees = -1e300;
    navSnapshot.verticalSpeedFpm = 1e20;
    navSnapshot.altitudeMetres = -1e300;
    EXPECT_EQ(Appended(AppendAttitude),
              "$RPY,2147483647,-2147483648,-999,-999,-999,-2147483648,1200,2147483647,"
              "-999,-999,-19,42,803,-999,-999\r\n");
    EXPECT_EQ(Appended(AppendTextPosition),
              "@940323123519N4807038E01131000S000-2147483647E0115N0011U0000\r\n");
}

} // namespace
