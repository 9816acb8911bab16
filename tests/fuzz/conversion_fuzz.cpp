// One sample from any raw host values: any doubles in the request table (NaN, infinities, denormals, huge
// values), any ground-speed and ready words, any generation, with services present or absent, through
// SampleFlightState and the fake host. A sample either completes with a snapshot whose NaN values no selected
// record of the line prints, or changes nothing; from host values within the ranges below the snapshot keeps
// the ranges it promises, and the cycle composed from it reads back well formed, within NMEA 0183's 82
// characters. The network records of the snapshot come out whole, "no data" included.
#include <cmath>
#include <cstring>

#include "cycle_check.h"
#include "fake_host.h"
#include "fuzz_support.h"
#include "host/linkage.h"
#include "module_state.h"
#include "sampling/fix.h"
#include "sampling/requests.h"
#include "sampling/snapshot.h"
#include "sentences/network_records.h"
#include "sentences/output_buffer.h"
#include "sentences/records.h"
#include "settings/settings.h"
#include "transport/cycle.h"

namespace {

constexpr double kTwoTo48 = 281474976710656.0;

struct Range {
    double low;
    double high;
};

// Host values an aircraft can deliver, by request-table entry; the spare entries, never converted, take any
// value (NaN included).
const Range kSaneRanges[kRequestCount] = {
    {-10001750.0, 10001750.0}, // latitude, 90 degrees either way
    {-kTwoTo48, kTwoTo48},     // longitude, one turn either way
    {0.0, 719.999},            // true heading
    {-180.0, 180.0},           // magnetic variation
    {-1000.0, 30000.0},        // altitude, metres
    {NAN, NAN},                // spare 0x40
    {NAN, NAN},                // spare 0x155
    {0.0, 300.0},              // wind speed, knots
    {0.0, 360.0},              // wind direction
    {0.0, 23.999},             // clock hour
    {0.0, 59.999},             // clock minute
    {0.0, 59.999},             // clock second
    {1900.0, 2100.0},          // year
    {0.0, 364.999},            // day of year
    {0.0, 2000.0},             // airspeed
    {-38400.0, 38400.0},       // vertical speed, 150 m/s either way in 1/256 m/s
    {0.0, 359.999},            // pitch
    {0.0, 359.999},            // bank
    {-1e6, 1e6},               // attitude A, clamped
    {-1e6, 1e6},               // attitude B, clamped
    {NAN, NAN},                // spare 0x341
    {0.0, 6.283185},           // magnetic track, radians
};
constexpr uint32_t kSaneGroundSpeedWord = 64000000; // about 1898 knots
// A west variation of a hair (-2.8e-14 degrees) folds to 0.05 plus a rounding error below zero; the text
// still reads "0.0,W". The promised range holds up to the last bits of the arithmetic.
constexpr double kRoundingAllowance = 1e-9;

bool IsNaN(double value) {
    return value != value;
}

// The snapshot's promised ranges (its field comments), for a sample of host values within kSaneRanges.
bool SnapshotInRange(const NavSnapshot& s, bool sixDecimals) {
    const int32_t fractionLimit = sixDecimals ? 999999 : 9999;
    return (s.latHemisphere == 'N' || s.latHemisphere == 'S') && s.latDegrees >= 0 && s.latDegrees <= 90 &&
           s.latMinutes >= 0 && s.latMinutes <= 59 && s.latMinuteFraction >= 0 &&
           s.latMinuteFraction <= fractionLimit && (s.lonHemisphere == 'E' || s.lonHemisphere == 'W') &&
           s.lonDegrees >= 0 && s.lonDegrees <= 180 && s.lonMinutes >= 0 && s.lonMinutes <= 59 &&
           s.lonMinuteFraction >= 0 && s.lonMinuteFraction <= fractionLimit && s.timeHours >= 0 &&
           s.timeHours <= 23 && s.timeMinutes >= 0 && s.timeMinutes <= 59 && s.timeSeconds >= 0 &&
           s.timeSeconds <= 59 && s.dateYear2 >= 0 && s.dateYear2 <= 99 && s.dateMonth >= 1 &&
           s.dateMonth <= 12 && s.dateDay >= 1 && s.dateDay <= 31 && s.groundSpeedKnots >= 0.05 &&
           s.groundSpeedKmh >= 0.0926 && s.trackTrue >= 0.0 && s.trackTrue <= 360.0 &&
           s.trackMagnetic >= 0.0 && s.trackMagnetic <= 360.0 && s.headingMagnetic >= 0.0 &&
           s.headingMagnetic <= 360.0 && (s.magVariationSide == 'E' || s.magVariationSide == 'W') &&
           s.magVariation > -0.05 - kRoundingAllowance && s.magVariation <= 180.0 &&
           s.attitudeA127 >= -127.0 && s.attitudeA127 <= 127.0 && s.attitudeB119 >= -119.0 &&
           s.attitudeB119 <= 119.0 && s.bankDegrees > -180.0 && s.bankDegrees <= 180.0 &&
           s.pitchDegrees > -180.0 && s.pitchDegrees <= 180.0;
}

// A NaN only in a value no selected record of the line prints: kept for the network records' "no data".
bool NaNWherePrinted(const NavSnapshot& s, SentenceMask mask) {
    for (double value :
         {s.groundSpeedKnots, s.groundSpeedKmh, s.trackTrue, s.trackMagnetic, s.headingMagnetic,
          s.magVariation, s.latitudeDegrees, s.longitudeDegrees, s.headingTrue, s.groundSpeedMs}) {
        if (IsNaN(value)) {
            return true;
        }
    }
    const bool rpy = (mask & kSentenceRpy) != 0;
    const SentenceMask altitudeRecords = kSentenceGga | kSentencePgrmz | kSentenceAv400 | kSentenceGtext;
    for (double value : {s.airspeedValue, s.verticalSpeedFpm, s.attitudeA127, s.attitudeB119, s.bankDegrees,
                         s.pitchDegrees}) {
        if (IsNaN(value) && rpy) {
            return true;
        }
    }
    return IsNaN(s.altitudeMetres) && (rpy || (mask & altitudeRecords) != 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    ResetModuleState();
    HostGeneration = in.ConsumeIntegralInRange<int32_t>(0, 2);
    sixDecimalMinutes = in.ConsumeBool() ? 1 : 0;
    fakehost::Services services;
    services.globalData = in.ConsumeProbability<float>() > 0.1f;
    services.variables = in.ConsumeProbability<float>() > 0.1f;
    services.record = false;
    fakehost::Install(services);
    const uint32_t readyWord = in.ConsumeBool() ? 1 : in.ConsumeIntegral<uint32_t>();
    fakehost::SetReadyWord(readyWord);
    const bool sane = in.ConsumeBool();
    const uint32_t groundSpeedWord =
        sane ? in.ConsumeIntegralInRange<uint32_t>(0, kSaneGroundSpeedWord) : in.ConsumeIntegral<uint32_t>();
    fakehost::SetGroundSpeedWord(groundSpeedWord);
    for (int entry = 0; entry < kRequestCount; entry++) {
        const Range range = kSaneRanges[entry];
        const double value =
            sane && !IsNaN(range.low) ? in.ConsumeFloatingPointInRange(range.low, range.high) : AnyDouble(in);
        fakehost::SetValue(requestTable[entry].id, value);
    }
    // The records selected decide which values that are not numbers drop the sample.
    const SentenceMask mask = in.ConsumeIntegral<uint32_t>();
    sentenceMask = mask;

    const NavSnapshot before = navSnapshot;
    sampleRequested = 1;
    SampleFlightState();
    Require(sampleRequested == 0, "the sample left its request raised");

    const bool entryChecksPass =
        services.globalData && services.variables && (HostGeneration != 0 || readyWord != 0);
    const int32_t registered = HostGeneration == 0 ? 16 : HostGeneration == 1 ? 20 : 22;
    Require(registeredVariableCount == (entryChecksPass ? registered : 0),
            "registered the wrong number of requests");
    if (dataReady == 0) {
        Require(std::memcmp(&before, &navSnapshot, sizeof before) == 0,
                "a sample without data changed the snapshot");
        Require(!(sane && entryChecksPass), "host values within range gave no sample");
        return 0;
    }
    Require(entryChecksPass, "a sample completed without its services or before the host was ready");
    Require(!NaNWherePrinted(navSnapshot, mask), "a NaN reached a value the line prints");
    Require((navSnapshot.latHemisphere == 'N' || navSnapshot.latHemisphere == 'S') &&
                (navSnapshot.lonHemisphere == 'E' || navSnapshot.lonHemisphere == 'W') &&
                (navSnapshot.magVariationSide == 'E' || navSnapshot.magVariationSide == 'W'),
            "a letter other than N, S, E or W");
    if (sane) {
        Require(SnapshotInRange(navSnapshot, sixDecimalMinutes != 0), "the snapshot left its ranges");
    }
    if (HostGeneration == 0) {
        Require(navSnapshot.attitudeA127 == 0.0 && navSnapshot.bankDegrees == 0.0,
                "attitude written on generation 0");
    }

    const int32_t length = ComposeRecords(OutputBuffer, in.ConsumeIntegralInRange(0, 99));
    Require(length >= 0 && length < kOutputBufferSize, "the text's length lies outside the buffer");
    const std::string fault =
        CheckCycleText(OutputBuffer, static_cast<size_t>(length), {mask, HostGeneration, sane});
    Require(fault.empty(), fault);

    // The network records of the same snapshot, "no data" and all: whole frames and lines.
    char record[kNetworkRecordSize];
    for (int32_t (*append)(char*) : {AppendGdl90Ownship, AppendGdl90GeometricAltitude, AppendGdl90Ahrs}) {
        const int32_t frame = append(record);
        Require(frame == 0 || (frame > 2 && frame < kNetworkRecordSize && record[0] == '\x7E' &&
                               record[frame - 1] == '\x7E'),
                "a GDL 90 frame is not framed");
    }
    for (int32_t (*append)(char*) : {AppendXgps, AppendXatt}) {
        const int32_t line = append(record);
        Require(line >= 0 && line < kNetworkRecordSize &&
                    std::memchr(record, '\0', static_cast<size_t>(line)) == nullptr,
                "an EFB line holds a terminator");
    }
    return 0;
}
