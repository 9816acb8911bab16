// One cycle's composition from any snapshot, sentence mask, six-decimal setting, host generation and
// hundredths. The text must stay inside the buffer and read back, record by record, as the selected records
// in the cycle order with correct checksums; from a snapshot within the ranges a sample produces, every
// field must also keep its width and every NMEA sentence NMEA 0183's 82 characters.
#include <cmath>

#include "cycle_check.h"
#include "fuzz_support.h"
#include "host/linkage.h"
#include "module_state.h"
#include "sampling/snapshot.h"
#include "sentences/cycle.h"
#include "sentences/output_buffer.h"
#include "settings/settings.h"

namespace {

enum class Values {
    kRawBytes,   // the whole record from the input, letters and padding included
    kAnyNumbers, // valid letters, every number any value (NaN, infinities, the int32 extremes)
    kSane,       // every field within the ranges below
    kMaxValue = kSane
};

char Letter(FuzzedDataProvider& in, char a, char b) {
    return in.ConsumeBool() ? a : b;
}

NavSnapshot AnyNumbers(FuzzedDataProvider& in) {
    NavSnapshot s{};
    s.latHemisphere = Letter(in, 'N', 'S');
    s.lonHemisphere = Letter(in, 'E', 'W');
    s.magVariationSide = Letter(in, 'E', 'W');
    for (int32_t* field : {&s.latDegrees, &s.latMinutes, &s.latMinuteFraction, &s.lonDegrees, &s.lonMinutes,
                           &s.lonMinuteFraction, &s.timeHours, &s.timeMinutes, &s.timeSeconds, &s.dateYear2,
                           &s.dateMonth, &s.dateDay}) {
        *field = in.ConsumeIntegral<int32_t>();
    }
    for (double* field :
         {&s.groundSpeedKnots, &s.groundSpeedKmh, &s.trackTrue, &s.trackMagnetic, &s.headingMagnetic,
          &s.magVariation, &s.altitudeMetres, &s.airspeedValue, &s.verticalSpeedFpm, &s.attitudeA127,
          &s.attitudeB119, &s.bankDegrees, &s.pitchDegrees}) {
        *field = AnyDouble(in);
    }
    return s;
}

// The ranges a completed sample guarantees, for an aircraft below 1900 knots and 30000 metres.
NavSnapshot Sane(FuzzedDataProvider& in, bool sixDecimals) {
    NavSnapshot s{};
    const int32_t fractionLimit = sixDecimals ? 999999 : 9999;
    s.latHemisphere = Letter(in, 'N', 'S');
    s.latDegrees = in.ConsumeIntegralInRange(0, 90);
    s.latMinutes = in.ConsumeIntegralInRange(0, 59);
    s.latMinuteFraction = in.ConsumeIntegralInRange(0, fractionLimit);
    s.lonHemisphere = Letter(in, 'E', 'W');
    s.lonDegrees = in.ConsumeIntegralInRange(0, 180);
    s.lonMinutes = in.ConsumeIntegralInRange(0, 59);
    s.lonMinuteFraction = in.ConsumeIntegralInRange(0, fractionLimit);
    s.timeHours = in.ConsumeIntegralInRange(0, 23);
    s.timeMinutes = in.ConsumeIntegralInRange(0, 59);
    s.timeSeconds = in.ConsumeIntegralInRange(0, 59);
    s.dateYear2 = in.ConsumeIntegralInRange(0, 99);
    s.dateMonth = in.ConsumeIntegralInRange(1, 12);
    s.dateDay = in.ConsumeIntegralInRange(1, 31);
    s.groundSpeedKnots = in.ConsumeFloatingPointInRange(0.05, 1900.05);
    s.groundSpeedKmh = s.groundSpeedKnots * 1.852;
    s.trackTrue = in.ConsumeFloatingPointInRange(0.0, 360.0);
    s.trackMagnetic = in.ConsumeFloatingPointInRange(0.0, 360.0);
    s.headingMagnetic = in.ConsumeFloatingPointInRange(0.0, 360.0);
    s.magVariationSide = Letter(in, 'E', 'W');
    s.magVariation = in.ConsumeFloatingPointInRange(-0.0499, 180.0);
    s.altitudeMetres = in.ConsumeFloatingPointInRange(-1000.0, 30000.0);
    s.airspeedValue = in.ConsumeFloatingPointInRange(0.0, 2000.0);
    s.verticalSpeedFpm = in.ConsumeFloatingPointInRange(-30000.0, 30000.0);
    s.attitudeA127 = in.ConsumeFloatingPointInRange(-127.0, 127.0);
    s.attitudeB119 = in.ConsumeFloatingPointInRange(-119.0, 119.0);
    s.bankDegrees = in.ConsumeFloatingPointInRange(-180.0, 180.0);
    s.pitchDegrees = in.ConsumeFloatingPointInRange(-180.0, 180.0);
    return s;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    ResetModuleState();
    sentenceMask = in.ConsumeIntegral<uint32_t>();
    HostGeneration = in.ConsumeIntegralInRange<int32_t>(0, 2);
    sixDecimalMinutes = in.ConsumeBool() ? 1 : 0;
    const Values values = in.ConsumeEnum<Values>();
    const int32_t hundredths =
        values == Values::kSane ? in.ConsumeIntegralInRange(0, 99) : in.ConsumeIntegral<int32_t>();
    if (values == Values::kRawBytes) {
        const std::vector<uint8_t> bytes = in.ConsumeBytes<uint8_t>(sizeof navSnapshot);
        if (!bytes.empty()) {
            std::memcpy(&navSnapshot, bytes.data(), bytes.size());
        }
    } else {
        navSnapshot = values == Values::kSane ? Sane(in, sixDecimalMinutes != 0) : AnyNumbers(in);
    }

    const int32_t length = ComposeRecords(hundredths);
    Require(length >= 0 && length < kOutputBufferSize, "the text's length lies outside the buffer");
    if (values == Values::kRawBytes) {
        return 0;
    }
    const CycleExpectation expect = {sentenceMask, HostGeneration, sixDecimalMinutes != 0,
                                     values == Values::kSane};
    Require(std::memchr(OutputBuffer, '\0', static_cast<size_t>(length)) == nullptr,
            "a NUL byte in the text");
    const std::string fault = CheckCycleText(OutputBuffer, static_cast<size_t>(length), expect);
    Require(fault.empty(), fault);
    return 0;
}
