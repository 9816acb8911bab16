// A 3D host may lower the x87 precision control to 24 bits on its thread. The module's double arithmetic is
// done in SSE2, so the sampler (on the host's thread) and the composer must print the same bytes whatever
// the control word says. On x86-64 this holds by construction; the 32-bit build is where it is tested.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "host/linkage.h"
#include "sampling/fix.h"
#include "sampling/requests.h"
#include "sentences/cycle.h"
#include "sentences/output_buffer.h"
#include "settings/settings.h"
#include "win32_standin.h"

namespace {

constexpr uint16_t kPrecisionControl = 0x0300; // x87 control word bits 8-9; 00 is 24-bit single precision

uint16_t X87ControlWord() {
    uint16_t word;
    __asm__ volatile("fnstcw %0" : "=m"(word));
    return word;
}

void SetX87ControlWord(uint16_t word) {
    __asm__ volatile("fldcw %0" : : "m"(word));
}

// One sample with values of many significant digits, a crosswind for the drift correction, every record.
std::string SampleAndCompose() {
    const double values[kRequestCount] = {
        5362711.123456,
        -27384920375213.7,
        77.77777,
        -3.3333,
        1234.5678,
        0,
        0,
        25.25,
        300.5,
        13,
        47,
        31.9,
        2026.0,
        340.0,
        141.25,
        -456.789,
        3.21,
        351.23,
        45.67,
        -33.3,
        0,
        1.1,
    };
    for (int role = 0; role < kRequestCount; role++) {
        requestTable[role].value = values[role];
    }
    EXPECT_TRUE(ConvertFlightState(4719963));
    return std::string(OutputBuffer, static_cast<size_t>(ComposeRecords(37)));
}

TEST(FloatingPoint, LoweredX87PrecisionChangesNoByte) {
    standin::Reset();
    HostGeneration = 1;
    sentenceMask = 0xEFF;
    const std::string full = SampleAndCompose();

    const uint16_t saved = X87ControlWord();
    SetX87ControlWord(static_cast<uint16_t>(saved & ~kPrecisionControl));
    const std::string lowered = SampleAndCompose();
    SetX87ControlWord(saved);

    EXPECT_EQ(full, lowered);
    EXPECT_GT(full.size(), 600u) << full;
}

} // namespace
