// LK8000's variometer sentence LK8EX1, which XCSoar also reads whatever device is chosen: pressure altitude
// and vario. The host gives no static pressure, temperature or battery, so those fields carry their "none"
// markers and the altitude above sea level stands for the pressure altitude (the two agree under the
// standard atmosphere, the simulators' default weather).
#include <cmath>
#include <cstdint>

#include "sampling/snapshot.h"
#include "sentences/output_buffer.h"
#include "sentences/records.h"

namespace {

constexpr int32_t kAltitudeNone = 99999; // metres
constexpr int32_t kVarioNone = 9999;     // centimetres per second
constexpr double kCentimetresPerMetre = 100.0;

// Rounded to a whole number, or `none` for a value that is not a number; a real value stops short of it.
int32_t WholeOrNone(double value, int32_t none) {
    if (std::isnan(value)) {
        return none;
    }
    const int32_t whole = RoundToInt32(value);
    return whole < none ? whole : none - 1;
}

} // namespace

// $LK8EX1,999999,1524,254,99,999,*1B: no pressure, 1524 m, +2.54 m/s, no temperature, no battery
int32_t AppendLk8ex1(char* text, int32_t length, const NavSnapshot& s) {
    return AppendChecksum(text, length,
                          FormatAt(text, length, "$LK8EX1,999999,%d,%d,99,999,",
                                   WholeOrNone(s.altitudeMsl, kAltitudeNone),
                                   WholeOrNone(s.verticalSpeedMs * kCentimetresPerMetre, kVarioNone)));
}
