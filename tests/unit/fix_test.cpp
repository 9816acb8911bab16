// The conversion of the host's raw values into the navigation snapshot, fed through the request table.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>

#include "host/linkage.h"
#include "sampling/fix.h"
#include "sampling/requests.h"
#include "sampling/snapshot.h"
#include "settings/settings.h"
#include "win32_standin.h"

namespace {

constexpr uint32_t kHundredKnots = 3371477; // 100.0004 knots in 1/65536 m/s
constexpr uint32_t kBelowOneKnot = 33377;   // 0.99 knots

void Set(RequestRole role, double value) {
    requestTable[role].value = value;
}

class FixTest : public ::testing::Test {
  protected:
    void SetUp() override {
        standin::Reset();
        Set(kClockYear, 2003);
    }
};

TEST_F(FixTest, PositionFields) {
    struct Case {
        double latitude, longitude;
        bool sixDecimals;
        const char* fields; // hemisphere, degrees, minutes, fraction of latitude, then of longitude
    };
    const Case cases[] = {
        {0, 0, true, "N 0 0 0 E 0 0 0"},
        {2400420, 0, true, "N 21 35 999999 E 0 0 0"}, // multiplied by 90 first: not 21 36 000000
        {5000875, -140737488355328.0, true, "N 45 0 0 E 180 0 0"},
        {5000875, 140737488355328.0, false, "N 45 0 0 E 180 0 0"},
        {-5348001, -70368744177664.0, true, "S 48 7 415242 W 90 0 0"},
        {5348001, 9001000000000.0, false, "N 48 7 4152 E 11 30 7242"},
        {10001750, -9001000000000.0, true, "N 90 0 0 W 11 30 724277"},
        {1e300, 1e300, false, "N 2147483647 2147483647 2147483647 W -2147483648 -2147483648 -2147483648"},
    };
    for (const Case& c : cases) {
        sixDecimalMinutes = c.sixDecimals ? 1 : 0;
        Set(kLatitude, c.latitude);
        Set(kLongitude, c.longitude);
        ASSERT_TRUE(ConvertFlightState(0));
        const NavSnapshot& s = navSnapshot;
        char fields[128];
        std::snprintf(fields, sizeof fields, "%c %d %d %d %c %d %d %d", s.latHemisphere, s.latDegrees,
                      s.latMinutes, s.latMinuteFraction, s.lonHemisphere, s.lonDegrees, s.lonMinutes,
                      s.lonMinuteFraction);
        EXPECT_STREQ(fields, c.fields) << c.latitude << " " << c.longitude;
    }
}

TEST_F(FixTest, TracksHeadingAndDrift) {
    struct Case {
        int32_t generation;
        double heading, variation, windFrom, windSpeed;
        uint32_t speedWord;
        double magneticTrackRadians;
        double trackTrue, trackMagnetic, headingMagnetic;
    };
    const Case cases[] = {
        {0, 0, 0, 0, 0, 0, 0, 360, 0, 360},
        {0, 360, 0, 0, 0, 0, 0, 360, 0, 360},
        {0, 720, 0, 0, 0, kHundredKnots, 0, 360, 0, 360},
        {0, 359.99, 0, 0, 0, 0, 0, 359.99, 359.99, 359.99},
        {0, 10, 0, 270, 20, kHundredKnots, 0, 21.3593, 21.3593, 10},       // wind on the right
        {1, 10, 0, 90, 20, kHundredKnots, 0, 358.6407, 358.6407, 10},      // on the left, wraps below 0
        {0, 350, 0, 270, 20, kHundredKnots, 0, 1.3593, 1.3593, 350},       // wraps above 360
        {0, 10, 0, 270, 0.5, kBelowOneKnot, 0, 10, 10, 10},                // no drift below 1 knot
        {0, 10, 0, 270, 50, 674295, 0, 10, 10, 10},                        // no wind triangle at 20 knots
        {0, 100, -10, 0, 0, 0, 0, 100, 110, 110},                          // west variation
        {0, 100, 10, 0, 0, 0, 0, 100, 90, 90},                             // east variation
        {2, 10, 0, 270, 2.0, kHundredKnots, 1.5, 11.1286, 11.1286, 10},    // 2 knots: still the drift
        {2, 10, -10, 270, 2.01, kHundredKnots, 1.5, 75.9437, 85.9437, 20}, // above: the host's track
        {2, 10, 0, 270, 3, kHundredKnots, -0.5, 331.3521, -28.6479, 10},   // taken without wrapping
        {0, 1e300, 0, 0, 0, 0, 0, 360, 0, 360}, // a multiple of 360, reduced without a loop
    };
    for (const Case& c : cases) {
        HostGeneration = c.generation;
        Set(kTrueHeading, c.heading);
        Set(kMagneticVariation, c.variation);
        Set(kWindDirection, c.windFrom);
        Set(kWindSpeed, c.windSpeed);
        Set(kMagneticTrack, c.magneticTrackRadians);
        ASSERT_TRUE(ConvertFlightState(c.speedWord));
        EXPECT_NEAR(navSnapshot.trackTrue, c.trackTrue, 1e-4)
            << "heading " << c.heading << " wind " << c.windSpeed;
        EXPECT_NEAR(navSnapshot.trackMagnetic, c.trackMagnetic, 1e-4) << "heading " << c.heading;
        EXPECT_NEAR(navSnapshot.headingMagnetic, c.headingMagnetic, 1e-9) << "heading " << c.heading;
    }
}

TEST_F(FixTest, OffsetsVariationSideClockAndDate) {
    Set(kMagneticVariation, -10);
    Set(kAltitude, 545.4);
    Set(kAirspeed, 123.4);
    Set(kVerticalSpeed, -500);
    Set(kClockHour, 23.9);
    Set(kClockMinute, 59.9);
    Set(kClockSecond, 7.5);
    Set(kClockYear, 2004);
    Set(kClockDayOfYear, 59.7);
    ASSERT_TRUE(ConvertFlightState(0));
    const NavSnapshot& s = navSnapshot;
    EXPECT_EQ(s.magVariationSide, 'W');
    EXPECT_NEAR(s.magVariation, 9.95, 1e-9);
    EXPECT_DOUBLE_EQ(s.groundSpeedKnots, 0.05);
    EXPECT_DOUBLE_EQ(s.groundSpeedKmh, 0.0926);
    EXPECT_DOUBLE_EQ(s.altitudeMetres, 545.45);
    EXPECT_DOUBLE_EQ(s.airspeedValue, 123.4);
    EXPECT_DOUBLE_EQ(s.verticalSpeedFpm, -384.4734375);
    EXPECT_EQ(s.timeHours, 23);
    EXPECT_EQ(s.timeMinutes, 59);
    EXPECT_EQ(s.timeSeconds, 7);
    EXPECT_EQ(s.dateYear2, 4);
    EXPECT_EQ(s.dateMonth, 2);
    EXPECT_EQ(s.dateDay, 29);

    Set(kMagneticVariation, 10);
    ASSERT_TRUE(ConvertFlightState(kHundredKnots));
    EXPECT_EQ(s.magVariationSide, 'E');
    EXPECT_DOUBLE_EQ(s.magVariation, 10.05);
    EXPECT_NEAR(s.groundSpeedKnots, 100.0504, 1e-4);
    EXPECT_DOUBLE_EQ(s.groundSpeedKmh, s.groundSpeedKnots * 1.852);
}

TEST_F(FixTest, AttitudeOnlyOnNewerHosts) {
    Set(kAttitudeA, 200);
    Set(kAttitudeB, -200);
    Set(kBankAngle, 350);
    Set(kPitchAngle, 180);
    ASSERT_TRUE(ConvertFlightState(0));
    EXPECT_EQ(navSnapshot.attitudeA127, 0.0);
    EXPECT_EQ(navSnapshot.bankDegrees, 0.0);
    HostGeneration = 1;
    ASSERT_TRUE(ConvertFlightState(0));
    EXPECT_EQ(navSnapshot.attitudeA127, 127.0);
    EXPECT_EQ(navSnapshot.attitudeB119, -119.0);
    EXPECT_EQ(navSnapshot.bankDegrees, -10.0);
    EXPECT_EQ(navSnapshot.pitchDegrees, 180.0);
}

TEST_F(FixTest, NonFiniteValuesDropTheSampleWhenUsed) {
    const double nan = std::nan("");
    const double infinity = std::numeric_limits<double>::infinity();
    struct Case {
        int32_t generation;
        RequestRole role;
        double value;
        double windSpeed;
        uint32_t speedWord;
        bool accepted;
    };
    const Case cases[] = {
        {0, kLatitude, nan, 0, 0, false},         {0, kLongitude, infinity, 0, 0, false},
        {0, kTrueHeading, infinity, 0, 0, false}, {0, kAltitude, -infinity, 0, 0, false},
        {0, kClockDayOfYear, nan, 0, 0, false},   {0, kSpare40, nan, 0, 0, true},
        {0, kSpare155, infinity, 0, 0, true},     {2, kSpare341, nan, 0, 0, true},
        {0, kAttitudeA, nan, 0, 0, true},         {1, kAttitudeA, nan, 0, 0, false},
        {0, kWindDirection, nan, 0, 0, true},     {0, kWindDirection, nan, 0, kHundredKnots, false},
        {1, kMagneticTrack, nan, 5, 0, true},     {2, kMagneticTrack, nan, 1, 0, true},
        {2, kMagneticTrack, nan, 5, 0, false},    {0, kWindSpeed, infinity, 0, kHundredKnots, false},
    };
    for (const Case& c : cases) {
        standin::Reset();
        HostGeneration = c.generation;
        Set(kWindSpeed, c.windSpeed);
        Set(kClockSecond, 42);
        Set(c.role, c.value);
        navSnapshot.timeSeconds = 17;
        EXPECT_EQ(ConvertFlightState(c.speedWord), c.accepted) << "role " << c.role;
        EXPECT_EQ(navSnapshot.timeSeconds, c.accepted ? 42 : 17) << "role " << c.role;
        EXPECT_EQ(navSnapshot.latHemisphere, c.accepted ? 'N' : '\0') << "role " << c.role;
        EXPECT_EQ(navSnapshot.dateMonth, c.accepted ? 1 : 0) << "role " << c.role;
    }
}

} // namespace
