// The navigation snapshot: one converted GPS fix, handed from the sampler to the composer.
#pragma once

#include <cstdint>

// Every field holds the value in the unit and form the records print. Written only by SampleFlightState on
// the host's thread while dataReady is 0; copied by the output thread while it is 1, and the step's records
// are composed from that copy.
struct NavSnapshot {
    char latHemisphere;        // 'N' or 'S'
    int32_t latDegrees;        // 0..90
    int32_t latMinutes;        // 0..59
    int32_t latMinuteFraction; // 1/10000 or 1/1000000 minute, by the six-decimal setting
    char lonHemisphere;        // 'E' or 'W'
    int32_t lonDegrees;        // 0..180
    int32_t lonMinutes;
    int32_t lonMinuteFraction;

    int32_t timeHours;
    int32_t timeMinutes;
    int32_t timeSeconds;
    int32_t dateYear2; // year modulo 100
    int32_t dateMonth;
    int32_t dateDay;

    double groundSpeedKnots; // knots + 0.05
    double groundSpeedKmh;   // groundSpeedKnots * 1.852
    double trackTrue;        // degrees, above 0 up to 360
    double trackMagnetic;    // degrees
    double headingMagnetic;  // degrees, before drift correction
    double magVariation;     // degrees + 0.05, folded to its side
    char magVariationSide;   // 'E' or 'W'
    double altitudeMetres;   // metres + 0.05
    double airspeedValue;    // as the host delivers it
    double verticalSpeedFpm; // feet per minute

    // Written on generations 1 and 2 only.
    double attitudeA127;
    double attitudeB119;
    double bankDegrees;
    double pitchDegrees;

    // Full-precision values, for the records that round them to their own decimals.
    double latitudeDegrees;  // north positive
    double longitudeDegrees; // east positive, above -180 up to 180
    double headingTrue;      // degrees, above 0 up to 360
    double groundSpeedMs;    // metres per second, no offset
    double variationEast;    // degrees, east positive, above -180 up to 180, no offset
    double altitudeMsl;      // metres above mean sea level, no offset
    double verticalSpeedMs;  // metres per second, up positive
    double windSpeedKnots;   // as the host gives it
    double windFromDegrees;  // where the wind comes from, as the host gives it
};

extern NavSnapshot navSnapshot;

// The attitude values are clamped to these limits; the attitude sentence scales them to 250.
constexpr double kAttitudeALimit = 127.0;
constexpr double kAttitudeBLimit = 119.0;

// Added before a value is truncated to one decimal, so that the truncation rounds to the nearest tenth.
constexpr double kTenthRounding = 0.05;

constexpr int32_t kMinutesPerDegree = 60;

constexpr double kKmhPerKnot = 1.852;

// Degrees to radians with pi taken as 3.1415927, as the fix and the records compute their angles.
constexpr double kRadiansPerDegree = 0.01745329277777778;

// Double to integer, truncating toward zero like a cast, but saturating to the int32 range instead of being
// undefined for huge values; NaN gives 0.
inline int32_t TruncateToInt32(double value) {
    if (!(value == value)) {
        return 0;
    }
    if (value >= 2147483647.0) {
        return INT32_MAX;
    }
    if (value <= -2147483648.0) {
        return INT32_MIN;
    }
    return static_cast<int32_t>(value);
}

// Double to the nearest integer, halves away from zero, saturating like TruncateToInt32.
inline int32_t RoundToInt32(double value) {
    return TruncateToInt32(value < 0.0 ? value - 0.5 : value + 0.5);
}

// A bearing rounded to units of 1/unitsPerDegree degree and wrapped into one turn: 0 up to 360 units per
// degree, so that one that rounds to a full circle is 0.
inline int32_t RoundedBearing(double degrees, int32_t unitsPerDegree) {
    const int32_t turn = 360 * unitsPerDegree;
    const int32_t units = RoundToInt32(degrees * unitsPerDegree) % turn;
    return units < 0 ? units + turn : units;
}

// The host counts bank positive with the left wing down and pitch positive with the nose down; the network
// formats want roll to the right and pitch up positive.
inline double RollRightDegrees(const NavSnapshot& s) {
    return -s.bankDegrees;
}
inline double PitchUpDegrees(const NavSnapshot& s) {
    return -s.pitchDegrees;
}
