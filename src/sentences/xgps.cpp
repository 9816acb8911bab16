// The EFB simulator text format: a position line "XGPS" and an attitude line "XATT", each followed directly
// by the network name and comma-separated fields, no line end.
#include <cmath>
#include <cstdio>
#include <initializer_list>

#include "sampling/snapshot.h"
#include "sentences/network_records.h"
#include "sentences/output_buffer.h"
#include "settings/network_settings.h"

namespace {

// The format has no "no data": a line with a missing value is left out.
bool AllFinite(std::initializer_list<double> values) {
    for (double value : values) {
        if (!std::isfinite(value)) {
            return false;
        }
    }
    return true;
}

// Clamps snprintf's result to what the buffer kept.
int32_t Kept(int written) {
    return written < 0 ? 0 : (written < kNetworkRecordSize ? written : kNetworkRecordSize - 1);
}

} // namespace

// XGPSWaypost,-122.308800,47.450200,1066.8,90.00,61.7: longitude before latitude, altitude in metres above
// mean sea level, true track, ground speed in metres per second
int32_t AppendXgps(char* out, const NavSnapshot& s) {
    if (!AllFinite({s.longitudeDegrees, s.latitudeDegrees, s.altitudeMsl, s.trackTrue, s.groundSpeedMs})) {
        return 0;
    }
    const Decimal lon = ToDecimal(s.longitudeDegrees, 6);
    const Decimal lat = ToDecimal(s.latitudeDegrees, 6);
    const Decimal altitude = ToDecimal(s.altitudeMsl, 1);
    const Decimal track = ToDecimal(s.trackTrue, 2);
    const Decimal speed = ToDecimal(s.groundSpeedMs, 1);
    return Kept(std::snprintf(out, kNetworkRecordSize, "XGPS%s,%s%d.%06d,%s%d.%06d,%s%d.%d,%s%d.%02d,%s%d.%d",
                              networkName, lon.sign, lon.whole, lon.fraction, lat.sign, lat.whole,
                              lat.fraction, altitude.sign, altitude.whole, altitude.fraction, track.sign,
                              track.whole, track.fraction, speed.sign, speed.whole, speed.fraction));
}

// XATTWaypost,92.3,2.5,15.0: true heading, pitch up and roll right positive
int32_t AppendXatt(char* out, const NavSnapshot& s) {
    if (!AllFinite({s.headingTrue, s.pitchDegrees, s.bankDegrees})) {
        return 0;
    }
    const Decimal heading = ToDecimal(s.headingTrue, 1);
    const Decimal pitch = ToDecimal(PitchUpDegrees(s), 1);
    const Decimal roll = ToDecimal(RollRightDegrees(s), 1);
    return Kept(std::snprintf(out, kNetworkRecordSize, "XATT%s,%s%d.%d,%s%d.%d,%s%d.%d", networkName,
                              heading.sign, heading.whole, heading.fraction, pitch.sign, pitch.whole,
                              pitch.fraction, roll.sign, roll.whole, roll.fraction));
}
