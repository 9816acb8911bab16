#include "sentences/output_buffer.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>

#include "sampling/snapshot.h"

// Composed by ComposeCycle on the output thread; the overlapped write or the relay module reads the first
// outputLength bytes until a later cycle has seen that write finish.
char OutputBuffer[kOutputBufferSize];

namespace {

constexpr int32_t kMaxTenthsDigit = 9;

} // namespace

// The room handed to vsnprintf always ends at the buffer's end, so no value however wide can write past
// it; a record that does not fit is cut there and the length stops at the last byte before the terminator.
int32_t FormatAt(char* text, int32_t at, const char* format, ...) {
    if (at < 0 || at >= kOutputBufferSize) {
        return at;
    }
    const int32_t room = kOutputBufferSize - at;
    va_list arguments;
    va_start(arguments, format);
    const int written = std::vsnprintf(text + at, static_cast<size_t>(room), format, arguments);
    va_end(arguments);
    if (written < 0) {
        return at;
    }
    return written < room ? at + written : kOutputBufferSize - 1;
}

int32_t AppendChecksum(char* text, int32_t start, int32_t end) {
    unsigned checksum = 0;
    for (int32_t at = start + 1; at < end && at < kOutputBufferSize; at++) {
        checksum ^= static_cast<unsigned char>(text[at]);
    }
    return FormatAt(text, end, "*%02X\r\n", checksum);
}

// Works on the magnitude, so that a negative value gets exactly one leading "-" and an unsigned digit, and
// the "-" is left out when the printed value is 0.0. Saturated values keep the digit within 0..9.
OneDecimal ToOneDecimal(double value) {
    const double magnitude = std::fabs(value);
    const int32_t whole = TruncateToInt32(magnitude);
    int32_t tenths = TruncateToInt32((magnitude - whole) * 10.0);
    if (tenths > kMaxTenthsDigit) {
        tenths = kMaxTenthsDigit;
    }
    const bool printsNegative = value < 0.0 && (whole != 0 || tenths != 0);
    return OneDecimal{printsNegative ? "-" : "", whole, tenths};
}

Decimal ToDecimal(double value, int32_t decimals) {
    int32_t scale = 1;
    for (int32_t place = 0; place < decimals; ++place) {
        scale *= 10;
    }
    const double magnitude = std::fabs(value);
    int32_t whole = TruncateToInt32(magnitude);
    int32_t fraction = TruncateToInt32((magnitude - whole) * scale + 0.5);
    if (fraction >= scale) {
        fraction = 0;
        whole = whole < INT32_MAX ? whole + 1 : whole;
    }
    const bool printsNegative = value < 0.0 && (whole != 0 || fraction != 0);
    return Decimal{printsNegative ? "-" : "", whole, fraction};
}
