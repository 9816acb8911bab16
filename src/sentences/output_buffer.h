// The one cycle's text buffer, the bounded formatter and the NMEA checksum.
#pragma once

#include <cstdint>

constexpr int32_t kOutputBufferSize = 2048;

// One cycle's text, written only by the composer on the output thread; an overlapped write or the relay
// module reads it until the next cycle has seen that write finish.
extern char OutputBuffer[kOutputBufferSize];

// Formats at offset `at` of text (a cycle's buffer of kOutputBufferSize bytes), never past its end; returns
// the new length (at plus the characters stored).
int32_t FormatAt(char* text, int32_t at, const char* format, ...) __attribute__((format(printf, 3, 4)));

// Closes the sentence of text that starts with '$' at `start` and ends before `end` with "*hh\r\n", hh being
// the XOR of every byte after the '$'. Returns the new length, end + 5.
int32_t AppendChecksum(char* text, int32_t start, int32_t end);

// A double printed with one decimal: sign, integer part and the truncated tenths digit, as "%s%d.%d".
struct OneDecimal {
    const char* sign; // "-" for negative values that print a non-zero digit, else ""
    int32_t whole;    // magnitude of the integer part
    int32_t tenths;   // 0..9
};
OneDecimal ToOneDecimal(double value);

// A double rounded to `decimals` places (1 to 6), printed as "%s%d.%0<decimals>d". The C library's own
// floating-point conversions are not used: their decimal point follows the host's locale.
struct Decimal {
    const char* sign; // "-" for negative values that do not print as zero, else ""
    int32_t whole;    // magnitude of the integer part
    int32_t fraction; // 0 up to 10^decimals - 1
};
Decimal ToDecimal(double value, int32_t decimals);
