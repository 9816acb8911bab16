// GDL 90 frames for electronic flight bags: heartbeat, ownship report, ownship geometric altitude, and the
// widely taken extension messages for device identification and AHRS. Multi-byte fields are big-endian
// except the heartbeat's time stamp and the frame check sequence.
#include <cmath>
#include <cstdint>
#include <cstring>

#include "sampling/geoid.h"
#include "sampling/snapshot.h"
#include "sentences/network_records.h"
#include "settings/network_settings.h"

namespace {

constexpr uint8_t kFlag = 0x7E;
constexpr uint8_t kEscape = 0x7D;
constexpr uint8_t kEscapeXor = 0x20;
constexpr uint16_t kCrcPolynomial = 0x1021;

constexpr uint8_t kHeartbeatId = 0;
constexpr uint8_t kOwnshipId = 10;
constexpr uint8_t kGeometricAltitudeId = 11;
constexpr uint8_t kExtensionId = 0x65;
constexpr uint8_t kIdentificationSubId = 0;
constexpr uint8_t kAhrsSubId = 1;

constexpr uint8_t kGpsValid = 0x80;                         // heartbeat status 1, bit 7
constexpr uint8_t kUatInitialized = 0x01;                   // heartbeat status 1, bit 0
constexpr uint8_t kUtcOk = 0x01;                            // heartbeat status 2, bit 0
constexpr int64_t kLastSecondOfDay = 86399;                 // the time stamp counts seconds since 0000Z
constexpr double kSemicirclesPerDegree = 8388608.0 / 180.0; // 2^23 units per half circle
constexpr int32_t kSemicircleRange = 0x1000000;             // 24 bits
constexpr uint32_t kPressureAltitudeUnknown = 0xFFF;        // no altitude, or PressureAltitude=No
constexpr int32_t kMaxPressureAltitude = 0xFFE;             // 101,350 ft and above
constexpr double kPressureAltitudeFloorFeet = -1000.0;      // the field's 0
constexpr double kFeetPerPressureUnit = 25.0;               // feet a unit of the field
constexpr double kMetresPerFoot = 0.3048;                   // the international foot
constexpr uint8_t kAirborne = 0x8;                          // misc bit 3
constexpr uint8_t kTrueTrack = 0x1;                         // misc bits 1-0; 0: no valid track
constexpr uint32_t kHorizontalUnknown = 0xFFF;
constexpr uint32_t kVerticalUnknown = 0x800;
constexpr double kAirborneKnots = 40.0; // at or above this ground speed
constexpr uint8_t kNicAndNacp = 0xBB;   // 11 and 11: a simulated fix is exact
constexpr int32_t kMaxHorizontalKnots = 0xFFE;
constexpr double kFpmPerUnit = 64.0;
constexpr int32_t kMaxVerticalUnits = 510; // +-32640 fpm
constexpr double kTrackUnitsPerDegree = 256.0 / 360.0;
constexpr uint8_t kEmitterLight = 1;
constexpr int32_t kCallsignLength = 8;
constexpr double kFeetPerUnit = 5.0;
constexpr uint16_t kVerticalFigureOfMerit = 10; // metres, no warning
constexpr double kKnotsPerMs = 3600.0 / 1852.0;
constexpr uint8_t kIdentificationVersion = 1;
constexpr int32_t kSerialLength = 8;
constexpr int32_t kLongNameLength = 16;
const char kLongName[] = "Waypost sim GPS";
constexpr uint32_t kCapabilityEllipsoidAltitude = 0; // bit 0 clear: the geometric altitude is above WGS-84
constexpr int32_t kMaxAngleTenths = 1800;            // receivers reject roll and pitch beyond
constexpr uint16_t kAngleUnknown = 0x7FFF;
constexpr uint16_t kHeadingUnknown = 0xFFFF;
constexpr int32_t kMaxAirspeedKnots = 0xFFFE;
constexpr uint16_t kAirspeedUnknown = 0xFFFF; // also the true airspeed: the host gives none

// The table-driven CRC of the GDL 90 interface document: polynomial 0x1021, start value 0, each byte
// folded in at the low end. Not CRC-16/XMODEM.
struct CrcTable {
    uint16_t entries[256];
};
constexpr CrcTable MakeCrcTable() {
    CrcTable table{};
    for (int i = 0; i < 256; ++i) {
        uint16_t crc = static_cast<uint16_t>(i << 8);
        for (int bit = 0; bit < 8; ++bit) {
            crc = static_cast<uint16_t>((crc & 0x8000) ? (crc << 1) ^ kCrcPolynomial : crc << 1);
        }
        table.entries[i] = crc;
    }
    return table;
}
constexpr CrcTable kCrcTable = MakeCrcTable();

void Put16(uint8_t* at, uint32_t value) {
    at[0] = static_cast<uint8_t>(value >> 8);
    at[1] = static_cast<uint8_t>(value);
}

void Put24(uint8_t* at, uint32_t value) {
    at[0] = static_cast<uint8_t>(value >> 16);
    Put16(at + 1, value);
}

// Degrees as 24-bit two's complement semicircles, truncated toward zero (the rounding that reproduces the
// interface document's own examples); 180 east wraps to 180 west, the same meridian.
uint32_t Semicircles(double degrees) {
    int32_t units = TruncateToInt32(degrees * kSemicirclesPerDegree);
    if (units >= kSemicircleRange / 2) {
        units -= kSemicircleRange;
    }
    return static_cast<uint32_t>(units) & (kSemicircleRange - 1);
}

int32_t Limit(int32_t value, int32_t low, int32_t high) {
    return value < low ? low : (value > high ? high : value);
}

// Roll or pitch in tenths of a degree, or unknown beyond a half turn or when the host gave none.
uint32_t AhrsAngle(double degrees) {
    const int32_t tenths = RoundToInt32(degrees * 10.0);
    return std::isfinite(degrees) && tenths >= -kMaxAngleTenths && tenths <= kMaxAngleTenths
               ? static_cast<uint32_t>(tenths)
               : kAngleUnknown;
}

// The host's altitude above sea level sent as pressure altitude: the two agree under the standard atmosphere,
// the simulators' default weather. Unknown when the host gave none or the settings say so.
uint32_t PressureAltitude(const NavSnapshot& s) {
    const double feet = s.altitudeMsl / kMetresPerFoot;
    return pressureAltitude && std::isfinite(feet)
               ? static_cast<uint32_t>(
                     Limit(RoundToInt32((feet - kPressureAltitudeFloorFeet) / kFeetPerPressureUnit), 0,
                           kMaxPressureAltitude))
               : kPressureAltitudeUnknown;
}

// The network name as letters and digits of the callsign alphabet, padded with `pad`.
void PutName(uint8_t* at, int32_t length, bool upperCase, uint8_t pad) {
    int32_t i = 0;
    for (; i < length && networkName[i] != '\0'; ++i) {
        const char c = networkName[i];
        at[i] = static_cast<uint8_t>(upperCase && c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    }
    for (; i < length; ++i) {
        at[i] = pad;
    }
}

} // namespace

uint16_t Gdl90Crc(const uint8_t* data, int32_t length) {
    uint16_t crc = 0;
    for (int32_t i = 0; i < length; ++i) {
        crc = static_cast<uint16_t>(kCrcTable.entries[crc >> 8] ^ (crc << 8) ^ data[i]);
    }
    return crc;
}

int32_t Gdl90Frame(const uint8_t* message, int32_t length, char* out) {
    const uint16_t crc = Gdl90Crc(message, length);
    int32_t at = 0;
    out[at++] = static_cast<char>(kFlag);
    auto put = [out, &at](uint8_t byte) {
        if (byte == kFlag || byte == kEscape) {
            out[at++] = static_cast<char>(kEscape);
            byte ^= kEscapeXor;
        }
        out[at++] = static_cast<char>(byte);
    };
    for (int32_t i = 0; i < length && at < kNetworkRecordSize - 6; ++i) {
        put(message[i]);
    }
    put(static_cast<uint8_t>(crc));
    put(static_cast<uint8_t>(crc >> 8));
    out[at++] = static_cast<char>(kFlag);
    return at;
}

int32_t Gdl90SecondsOfDay(const NavSnapshot& s) {
    const int64_t seconds = int64_t{s.timeHours} * 3600 + int64_t{s.timeMinutes} * 60 + s.timeSeconds;
    return static_cast<int32_t>(seconds < 0 ? 0 : (seconds > kLastSecondOfDay ? kLastSecondOfDay : seconds));
}

// 7E 00 81 01 F0 B0 00 00 A6 28 7E: 12:34:56Z, position valid, UTC known
// Without a valid position the time stamp goes with neither the valid bit nor UTC OK: the app shows "no
// GPS position" rather than losing the device.
int32_t AppendGdl90Heartbeat(char* out, const Gdl90Status& status) {
    const uint32_t seconds = static_cast<uint32_t>(status.secondsOfDay);
    const uint8_t message[7] = {
        kHeartbeatId,
        static_cast<uint8_t>((status.positionValid ? kGpsValid : 0) | kUatInitialized),
        static_cast<uint8_t>((seconds >> 16) << 7 | (status.positionValid ? kUtcOk : 0)),
        static_cast<uint8_t>(seconds),
        static_cast<uint8_t>(seconds >> 8),
        0,
        0};
    return Gdl90Frame(message, sizeof message, out);
}

// 7E 0A 00 00 00 00 21 BE 0B A9 06 5D 0B 49 BB 07 80 08 40 01 57 41 59 50 4F 53 54 20 00 42 D3 7E:
// 47.4502 N 122.3088 W, pressure altitude 3500 ft, airborne, true track 90, 120 kt, +512 fpm, "WAYPOST"
int32_t AppendGdl90Ownship(char* out, const NavSnapshot& s) {
    const double knots = s.groundSpeedMs * kKnotsPerMs;
    const uint32_t horizontal =
        std::isfinite(knots) ? static_cast<uint32_t>(Limit(RoundToInt32(knots), 0, kMaxHorizontalKnots))
                             : kHorizontalUnknown;
    const uint32_t vertical =
        std::isfinite(s.verticalSpeedFpm)
            ? static_cast<uint32_t>(Limit(RoundToInt32(s.verticalSpeedFpm / kFpmPerUnit), -kMaxVerticalUnits,
                                          kMaxVerticalUnits)) &
                  0xFFF
            : kVerticalUnknown;
    const bool track = std::isfinite(s.trackTrue);
    const uint8_t misc =
        static_cast<uint8_t>((knots >= kAirborneKnots ? kAirborne : 0) | (track ? kTrueTrack : 0));
    uint8_t message[28] = {kOwnshipId}; // alert status, address type and address 0
    Put24(message + 5, Semicircles(s.latitudeDegrees));
    Put24(message + 8, Semicircles(s.longitudeDegrees));
    Put16(message + 11, PressureAltitude(s) << 4 | misc);
    message[13] = kNicAndNacp;
    Put24(message + 14, horizontal << 12 | vertical);
    message[17] = track ? static_cast<uint8_t>(RoundToInt32(s.trackTrue * kTrackUnitsPerDegree)) : 0;
    message[18] = kEmitterLight;
    PutName(message + 19, kCallsignLength, true, ' ');
    return Gdl90Frame(message, sizeof message, out); // emergency code 0
}

// 7E 0B 02 DA 00 0A AE FC 7E: 3650 ft above the WGS-84 ellipsoid, vertical figure of merit 10 m
// The height above sea level plus the geoid's there. The message has no code for an unknown altitude:
// without one, or without a position, it is left out (length 0).
int32_t AppendGdl90GeometricAltitude(char* out, const NavSnapshot& s) {
    const double feet =
        (s.altitudeMsl + GeoidUndulation(s.latitudeDegrees, s.longitudeDegrees)) / kMetresPerFoot;
    if (!std::isfinite(feet)) {
        return 0;
    }
    const int32_t units = Limit(RoundToInt32(feet / kFeetPerUnit), INT16_MIN, INT16_MAX);
    uint8_t message[5] = {kGeometricAltitudeId};
    Put16(message + 1, static_cast<uint32_t>(units));
    Put16(message + 3, kVerticalFigureOfMerit);
    return Gdl90Frame(message, sizeof message, out);
}

// 7E 65 00 01 FF FF FF FF FF FF FF FF 57 61 79 70 6F 73 74 00 57 61 79 70 6F 73 74 20 73 69 6D 20 47 50 53 00
// 00 00 00 00 D5 B2 7E: version 1, no serial number, the network name, "Waypost sim GPS", geometric altitude
// above the WGS-84 ellipsoid
int32_t AppendGdl90Identification(char* out) {
    uint8_t message[39] = {kExtensionId, kIdentificationSubId, kIdentificationVersion};
    std::memset(message + 3, 0xFF, kSerialLength);
    PutName(message + 3 + kSerialLength, kNetworkNameLength, false, 0);
    std::memcpy(message + 19, kLongName, sizeof kLongName); // 15 characters and a terminator
    static_assert(sizeof kLongName <= kLongNameLength, "the long name fits its field");
    Put16(message + 35, 0);
    Put16(message + 37, kCapabilityEllipsoidAltitude);
    return Gdl90Frame(message, sizeof message, out);
}

// 7E 65 01 00 96 00 19 03 9B 00 76 FF FF 7F 01 7E: roll 15.0 right, pitch 2.5 up, heading 92.3 true,
// 118 kt indicated, true airspeed unknown
int32_t AppendGdl90Ahrs(char* out, const NavSnapshot& s) {
    uint8_t message[12] = {kExtensionId, kAhrsSubId};
    Put16(message + 2, AhrsAngle(RollRightDegrees(s)));
    Put16(message + 4, AhrsAngle(PitchUpDegrees(s)));
    Put16(message + 6, std::isfinite(s.headingTrue) ? static_cast<uint32_t>(RoundedBearing(s.headingTrue, 10))
                                                    : kHeadingUnknown);
    Put16(message + 8, std::isfinite(s.airspeedValue)
                           ? static_cast<uint32_t>(Limit(RoundToInt32(s.airspeedValue), 0, kMaxAirspeedKnots))
                           : kAirspeedUnknown);
    Put16(message + 10, kAirspeedUnknown);
    return Gdl90Frame(message, sizeof message, out);
}
