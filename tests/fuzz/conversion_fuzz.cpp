// One sample from any raw host values: any doubles in the request table (NaN, infinities, denormals, huge
// values), any ground-speed and ready words, any generation, with services present or absent, through
// SampleFlightState and the fake host. A sample either completes, only with both services and a ready host,
// with no NaN in a value every line prints, or changes nothing; the cycle composed from it reads back well
// formed, and from host values within the ranges below within NMEA 0183's 82 characters. The network records
// of the snapshot stay within their buffer, "no data" included. What each value becomes is the unit tests'
// part.
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
#include "win32_standin.h"

namespace {

constexpr double kTwoTo48 = 281474976710656.0;

struct Range {
    double low, high;
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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    ResetModuleState();
    standin::S().record = false; // nothing kept from one input to the next
    HostGeneration = in.ConsumeIntegralInRange<int32_t>(0, 2);
    sixDecimalMinutes = in.ConsumeBool() ? 1 : 0;
    fakehost::Services services;
    services.globalData = in.ConsumeProbability<float>() > 0.1f;
    services.variables = in.ConsumeProbability<float>() > 0.1f;
    fakehost::Install(services);
    const uint32_t readyWord = in.ConsumeBool() ? 1 : in.ConsumeIntegral<uint32_t>();
    fakehost::SetReadyWord(readyWord);
    const bool sane = in.ConsumeBool();
    const uint32_t groundSpeedWord =
        sane ? in.ConsumeIntegralInRange<uint32_t>(0, kSaneGroundSpeedWord) : in.ConsumeIntegral<uint32_t>();
    fakehost::SetGroundSpeedWord(groundSpeedWord);
    for (int entry = 0; entry < kRequestCount; entry++) {
        const Range range = kSaneRanges[entry];
        const double value = sane && !std::isnan(range.low)
                                 ? in.ConsumeFloatingPointInRange(range.low, range.high)
                                 : AnyDouble(in);
        fakehost::SetValue(requestTable[entry].id, value);
    }
    // The records selected decide which values that are not numbers drop the sample.
    const SentenceMask mask = in.ConsumeIntegral<uint32_t>();
    sentenceMask = mask;

    const NavSnapshot before = navSnapshot;
    sampleRequested = 1;
    SampleFlightState();
    // A sample needs both services and, on generation 0, the host's ready word.
    const bool hostReady =
        services.globalData && services.variables && (HostGeneration != 0 || readyWord != 0);
    if (dataReady == 0) {
        Require(std::memcmp(&before, &navSnapshot, sizeof before) == 0,
                "a sample without data changed the snapshot");
        Require(!(sane && hostReady), "host values within range gave no sample");
        return 0;
    }
    Require(hostReady, "a sample completed without its services or before the host was ready");
    // Which optional value each record prints is the unit tests'; these every line prints.
    const NavSnapshot& s = navSnapshot;
    for (double value : {s.latitudeDegrees, s.longitudeDegrees, s.groundSpeedKnots, s.trackTrue,
                         s.trackMagnetic, s.headingMagnetic, s.magVariation}) {
        Require(!std::isnan(value), "a NaN reached a value every line prints");
    }
    const int32_t length = ComposeRecords(OutputBuffer, s, in.ConsumeIntegralInRange(0, 99));
    Require(length >= 0 && length < kOutputBufferSize, "the text's length lies outside the buffer");
    const std::string fault =
        CheckCycleText(OutputBuffer, static_cast<size_t>(length), {mask, HostGeneration, sane});
    Require(fault.empty(), fault);

    // The network records of the same snapshot, "no data" and all, stay within their buffer (the sanitizers
    // watch them); their bytes are the unit tests'.
    char record[kNetworkRecordSize];
    for (int32_t (*append)(char*, const NavSnapshot&) :
         {AppendGdl90Ownship, AppendGdl90GeometricAltitude, AppendGdl90Ahrs, AppendXgps, AppendXatt}) {
        const int32_t recordLength = append(record, s);
        Require(recordLength >= 0 && recordLength < kNetworkRecordSize,
                "a network record longer than its buffer");
    }
    return 0;
}
