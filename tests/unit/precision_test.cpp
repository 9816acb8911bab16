// A 3D host may lower the x87 precision (and change the rounding) on its thread. The 32-bit module computes
// on the x87 unit, so it sets its own control word around the sampler on the host's thread and once on its
// output thread. Whatever the host leaves, the module prints the same bytes, and the host finds its own
// control word in place after the frame hook. On x86-64 doubles are computed in SSE; the test still runs.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "fake_host.h"
#include "host/linkage.h"
#include "module/lifecycle.h"
#include "sampling/fix.h"
#include "sampling/requests.h"
#include "settings/settings.h"
#include "transport/output_thread.h"
#include "transport/serial.h"
#include "win32_standin.h"

namespace {

constexpr uint16_t kLoweredControl = 0x007F; // 24-bit precision, as 3D hosts set it

uint16_t X87ControlWord() {
    uint16_t word;
    __asm__ volatile("fnstcw %0" : "=m"(word));
    return word;
}

void SetX87ControlWord(uint16_t word) {
    __asm__ volatile("fldcw %0" : : "m"(word));
}

// Host values of many significant digits, with a crosswind for the drift correction; the airspeed, printed
// in tenths, lies just below a rounding boundary that 24-bit precision would cross.
// clang-format off
const double kValues[kRequestCount] = {
    5362711.123456, -27384920375213.7, 77.77777, -3.3333, 1234.5678, 0, 0, 25.25, 300.5, 13, 47, 31.9, 2026.0,
    340.0, 141.2499999, -456.789, 3.21, 351.23, 45.67, -33.3, 0, 1.1,
};
// clang-format on

// One sample in a frame hook and one cycle on the output thread, each entered with the host's control
// word; returns the text written.
std::string SampleAndWriteOneCycle(uint16_t hostControl) {
    standin::Reset();
    HostGeneration = 1;
    sentenceMask = 0x1FEFF;
    fakehost::Install({});
    fakehost::SetReadyWord(1);
    fakehost::SetGroundSpeedWord(4719963);
    for (int role = 0; role < kRequestCount; role++) {
        fakehost::SetValue(requestTable[role].id, kValues[role]);
    }
    portHandle = standin::Opened(standin::kDeviceHandle);
    threadRunning = 1; // the output thread is run below, on this thread
    sampleRequested = 1;

    const uint16_t own = X87ControlWord();
    SetX87ControlWord(hostControl);
    FrameHook(0, 0);
    const uint16_t afterHook = X87ControlWord();
    SetX87ControlWord(own);
    EXPECT_EQ(afterHook, hostControl) << "the frame hook left the host another control word";
    EXPECT_EQ(dataReady.load(), 1);

    int sleeps = 0;
    standin::S().onSleep = [&sleeps](DWORD) {
        if (++sleeps == 2) {
            stopRequested = 1; // after the mid-step compose of the first step
        }
    };
    SetX87ControlWord(hostControl);
    OutputThread(nullptr);
    SetX87ControlWord(own);
    return standin::S().written;
}

TEST(FloatingPoint, HostControlWordChangesNoByteAndIsKept) {
    const std::string full = SampleAndWriteOneCycle(X87ControlWord());
    EXPECT_EQ(SampleAndWriteOneCycle(kLoweredControl), full);
    EXPECT_GT(full.size(), 600u) << full;
}

} // namespace
