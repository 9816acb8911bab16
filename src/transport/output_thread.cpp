// The output thread: counts steps of two 50 ms sleeps, raises a sample request once per period, composes
// and writes when the sample is ready, and closes the port when told to stop.
#include "transport/output_thread.h"

#include "host/linkage.h"
#include "log/log.h"
#include "platform/fpu.h"
#include "sampling/fix.h"
#include "settings/settings.h"
#include "transport/cycle.h"
#include "transport/serial.h"

// See output_thread.h.
std::atomic<int32_t> stopRequested{0};
std::atomic<int32_t> threadRunning{0};
uint32_t threadStartFailures = 0;

constexpr int32_t kStepMs = 2 * static_cast<int32_t>(kHalfStepMs);

DWORD WINAPI OutputThread(LPVOID) {
    // threadRunning is already 1: the hook sets it before creating the thread.
    SetThreadFpu();
    const int32_t periodLimit = outputInterval / kStepMs;
    const int32_t periodSteps = periodLimit + 1; // tenths of a second
    LogLine("output thread started, a cycle every %d.%d s%s", static_cast<int>(periodSteps / 10),
            static_cast<int>(periodSteps % 10),
            threadStartFailures != 0 ? ", after failed attempts to create it" : "");
    int32_t step = 0;
    while (stopRequested.load() == 0) {
        // Strictly greater: a period is periodLimit + 1 steps.
        if (step > periodLimit) {
            step = 0;
            if (ServicePointer(kRowVariables) != nullptr) {
                sampleRequested.store(1);
            }
        }
        Sleep(kHalfStepMs);
        if (dataReady.load(std::memory_order_acquire) != 0) {
            ComposeCycle();
            dataReady.store(0, std::memory_order_release);
        }
        Sleep(kHalfStepMs);
        ++step;
    }
    if (portHandle != INVALID_HANDLE_VALUE) {
        CloseSerialPort(portHandle);
    }
    // The last line this thread writes: shut-down writes the rest once threadRunning is 0.
    LogLine("output thread stopped");
    threadRunning.store(0);
    return 0;
}
