// The LX instruments' sentence LXWP0, read by the LX drivers of XCSoar and LK8000: indicated airspeed,
// pressure altitude (the altitude above sea level, as in LK8EX1), vario, true heading and wind. A value
// that is not a number leaves its field empty.
#include <cmath>
#include <cstdint>
#include <cstdio>

#include "sampling/snapshot.h"
#include "sentences/output_buffer.h"
#include "sentences/records.h"

namespace {

constexpr int32_t kFieldSize = 16; // the widest field, "-2147483647.99", and its terminator

typedef char Field[kFieldSize];

// Rounded to `decimals` places, or empty.
void DecimalField(Field field, double value, int32_t decimals) {
    field[0] = '\0';
    if (!std::isnan(value)) {
        const Decimal d = ToDecimal(value, decimals);
        std::snprintf(field, kFieldSize, "%s%d.%0*d", d.sign, d.whole, decimals, d.fraction);
    }
}

// Whole degrees from 0 to 359, one that rounds to a full circle being 0, or empty.
void BearingField(Field field, double degrees) {
    field[0] = '\0';
    if (!std::isnan(degrees)) {
        std::snprintf(field, kFieldSize, "%d", RoundedBearing(degrees, 1));
    }
}

} // namespace

// $LXWP0,N,222.2,1524.3,2.54,2.54,2.54,2.54,2.54,2.54,72,270,18.5*7E: no logger running, 222.2 km/h,
// 1524.3 m, the vario of +2.54 m/s as each of the six readings of the last second, heading 72, the wind
// from 270 at 18.5 km/h
int32_t AppendLxwp0(char* text, int32_t length, const NavSnapshot& s) {
    Field airspeed, altitude, vario, heading, windFrom, windSpeed;
    DecimalField(airspeed, s.airspeedValue < 0.0 ? 0.0 : s.airspeedValue * kKmhPerKnot, 1);
    DecimalField(altitude, s.altitudeMsl, 1);
    DecimalField(vario, s.verticalSpeedMs, 2);
    BearingField(heading, s.headingTrue);
    BearingField(windFrom, s.windFromDegrees);
    DecimalField(windSpeed, s.windSpeedKnots * kKmhPerKnot, 1);
    const int32_t end =
        FormatAt(text, length, "$LXWP0,N,%s,%s,%s,%s,%s,%s,%s,%s,%s,%s,%s", airspeed, altitude, vario, vario,
                 vario, vario, vario, vario, heading, windFrom, windSpeed);
    return AppendChecksum(text, length, end);
}
