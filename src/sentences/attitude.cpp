// The attitude sentence "$RPY": bank, pitch, altitude, airspeed, vertical speed, the two scaled attitude
// values and the magnetic heading, as whole numbers; no checksum.
#include <cstdint>

#include "sampling/snapshot.h"
#include "sentences/output_buffer.h"
#include "sentences/records.h"

namespace {

constexpr double kAttitudeFieldSpan = -250.0;              // the limits map to -250 and 250, sign inverted
constexpr double kAttitudeAInverse = 0.007874015748031496; // 1 / 127
constexpr double kAttitudeBInverse = 0.008403361344537815; // 1 / 119

// The positive limit is pinned to -250, where the scaling itself would stop at -249.
int32_t ScaleAttitude(double value, double limit, double inverse) {
    if (value == limit) {
        return static_cast<int32_t>(kAttitudeFieldSpan);
    }
    return TruncateToInt32(value * kAttitudeFieldSpan * inverse + 0.5);
}

int32_t Tenths(double value) {
    return TruncateToInt32(value * 10.0 + 0.5);
}

} // namespace

// $RPY,-52,24,-999,-999,-999,1790,1200,-500,-999,-999,-19,42,803,-999,-999 CR LF
// Ended with CR LF, unlike the bare sentence, so that the text position record after it, or the next cycle,
// starts on a line of its own.
int32_t AppendAttitude(char* text, int32_t length, const NavSnapshot& s) {
    return FormatAt(text, length, "$RPY,%d,%d,-999,-999,-999,%d,%d,%d,-999,-999,%d,%d,%d,-999,-999\r\n",
                    Tenths(s.bankDegrees), Tenths(s.pitchDegrees),
                    TruncateToInt32(s.altitudeMetres * kFeetPerMetre + 0.5), Tenths(s.airspeedValue),
                    TruncateToInt32(s.verticalSpeedFpm),
                    ScaleAttitude(s.attitudeA127, kAttitudeALimit, kAttitudeAInverse),
                    ScaleAttitude(s.attitudeB119, kAttitudeBLimit, kAttitudeBInverse),
                    Tenths(s.headingMagnetic));
}
