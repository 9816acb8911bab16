// The aviation data block: STX, eight lines each ended by CR LF, ETX; no checksum.
#include <cstdint>

#include "sampling/snapshot.h"
#include "sentences/output_buffer.h"
#include "sentences/records.h"
#include "settings/settings.h"

namespace {

constexpr int32_t kHundredthsPerMinute = 100;

// The minute fraction rounded half up to hundredths of a minute. A fraction of 0.995' or more rounds to a
// whole minute and carries into the minutes and degrees, so the line shows the correctly rounded position
// (48 59.996 becomes 49 00.00). Only saturated positions, which cannot carry without overflowing, are
// held at 99.
int32_t RoundToHundredths(int32_t fraction, int32_t* degrees, int32_t* minutes) {
    const int64_t rounded =
        sixDecimalMinutes ? (int64_t{fraction} + 5000) / 10000 : (int64_t{fraction} + 50) / 100;
    if (rounded < kHundredthsPerMinute) {
        return static_cast<int32_t>(rounded);
    }
    if (*minutes < kMinutesPerDegree - 1) {
        ++*minutes;
        return 0;
    }
    if (*minutes == kMinutesPerDegree - 1 && *degrees < INT32_MAX) {
        *minutes = 0;
        ++*degrees;
        return 0;
    }
    return kHundredthsPerMinute - 1;
}

} // namespace

// STX "z01790" CR LF "AN 48 0704" CR LF "BE 011 3100" CR LF "C081" CR LF "D022" CR LF "QW033" CR LF
// "T----------" CR LF "w01@" CR LF ETX
int32_t AppendAviationBlock(char* text, int32_t length, const NavSnapshot& s) {
    const int32_t altitudeFeet =
        s.altitudeMetres < 0.0 ? 0 : TruncateToInt32(s.altitudeMetres * kFeetPerMetre + 0.5);
    int32_t latDegrees = s.latDegrees;
    int32_t latMinutes = s.latMinutes;
    const int32_t latHundredths = RoundToHundredths(s.latMinuteFraction, &latDegrees, &latMinutes);
    int32_t lonDegrees = s.lonDegrees;
    int32_t lonMinutes = s.lonMinutes;
    const int32_t lonHundredths = RoundToHundredths(s.lonMinuteFraction, &lonDegrees, &lonMinutes);
    return FormatAt(text, length,
                    "\x02z%05d\r\nA%c %02d %02d%02d\r\nB%c %03d %02d%02d\r\nC%03d\r\nD%03d\r\nQ%c%03d\r\n"
                    "T----------\r\nw01@\r\n\x03",
                    altitudeFeet, s.latHemisphere, latDegrees, latMinutes, latHundredths, s.lonHemisphere,
                    lonDegrees, lonMinutes, lonHundredths, TruncateToInt32(s.trackMagnetic + 0.5),
                    TruncateToInt32(s.groundSpeedKnots + 0.5), s.magVariationSide,
                    TruncateToInt32(s.magVariation * 10.0 + 0.5));
}
