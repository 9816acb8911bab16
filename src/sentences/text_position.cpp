// The fixed-column text position record: "@", date, time, position, altitude and the velocity split into
// east-west and north-south components; ends with CR LF, no checksum.
#include <cmath>
#include <cstdint>

#include "sampling/snapshot.h"
#include "sentences/output_buffer.h"
#include "sentences/records.h"
#include "settings/settings.h"

namespace {

constexpr double kDecimetresPerSecondPerKnot = 5.144444444444445;

} // namespace

// @940323123519N4807038E01131000S000+00545E0115N0011U0000 CR LF
int32_t AppendTextPosition(char* text, int32_t length, const NavSnapshot& s) {
    const int32_t thousandthsDivisor = sixDecimalMinutes ? 1000 : 10;

    // The track folded into its quadrant; each boundary belongs to the quadrant above it, and 360 is north.
    const double track = s.trackTrue;
    double angle;
    char eastWest;
    char northSouth;
    if (track < 90.0) {
        angle = track;
        eastWest = 'E';
        northSouth = 'N';
    } else if (track < 180.0) {
        angle = 180.0 - track;
        eastWest = 'E';
        northSouth = 'S';
    } else if (track < 270.0) {
        angle = track - 180.0;
        eastWest = 'W';
        northSouth = 'S';
    } else {
        angle = 360.0 - track;
        eastWest = 'W';
        northSouth = 'N';
    }
    const double radians = angle * kRadiansPerDegree;
    const double decimetresPerSecond = s.groundSpeedKnots * kDecimetresPerSecondPerKnot;
    const int32_t eastWestSpeed = TruncateToInt32(std::sin(radians) * decimetresPerSecond + 0.5);
    const int32_t northSouthSpeed = TruncateToInt32(std::cos(radians) * decimetresPerSecond + 0.5);

    return FormatAt(text, length,
                    "@%02d%02d%02d%02d%02d%02d%c%02d%02d%03d%c%03d%02d%03dS000%c%05d%c%04d%c%04dU0000\r\n",
                    s.dateYear2, s.dateMonth, s.dateDay, s.timeHours, s.timeMinutes, s.timeSeconds,
                    s.latHemisphere, s.latDegrees, s.latMinutes, s.latMinuteFraction / thousandthsDivisor,
                    s.lonHemisphere, s.lonDegrees, s.lonMinutes, s.lonMinuteFraction / thousandthsDivisor,
                    s.altitudeMetres < 0.0 ? '-' : '+', TruncateToInt32(std::fabs(s.altitudeMetres) + 0.5),
                    eastWest, eastWestSpeed, northSouth, northSouthSpeed);
}
