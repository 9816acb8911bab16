// The host variable requests: one static table shared with the host's variable service.
#pragma once

#include <cstdint>

#include "host/host_interface.h"

// Entry index of each role in the request table; each generation uses a prefix of it.
enum RequestRole {
    kLatitude,          // 0x47: 10001750 units per 90 degrees
    kLongitude,         // 0x48: 2^48 units per 360 degrees
    kTrueHeading,       // 0x56: degrees
    kMagneticVariation, // 0x52: degrees, east positive
    kAltitude,          // 0x49: metres
    kSpare40,
    kSpare155,
    kWindSpeed,      // 0x157: knots
    kWindDirection,  // 0x158: degrees, from
    kClockHour,      // 0x06
    kClockMinute,    // 0x07
    kClockSecond,    // 0x05
    kClockYear,      // 0x09
    kClockDayOfYear, // 0x08: counted from 0
    kAirspeed,       // 0x3D
    kVerticalSpeed,  // 0x41: 1/256 m/s
    kPitchAngle,     // 0x4D: degrees, from generation 1
    kBankAngle,      // 0x4F
    kAttitudeA,      // 0x33A
    kAttitudeB,      // 0x29
    kSpare341,       // from generation 2
    kMagneticTrack,  // 0x342: radians
    kRequestCount
};

// The table the host receives addresses into; the host writes the value fields.
extern HostVariableRequest requestTable[kRequestCount];
// 0 until the first registration, then 16, 20 or 22; host's thread only.
extern int32_t registeredVariableCount;

// The number of entries a host of this generation registers and reads: 16, 20 or 22.
int32_t RequestCountForGeneration(int32_t generation);

// Registers the requests once (when none are registered yet), then reads every registered one, through the
// variable service's function table.
void RegisterAndReadVariables(const void* variableService);

// The value the host last delivered for a role.
inline double RequestValue(RequestRole role) {
    return requestTable[role].value;
}
