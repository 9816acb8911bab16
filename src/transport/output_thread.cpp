// The output thread: counts steps of 100 ms kept by the tick count, raises a sample request once per period
// (and at the network feeds' own rates), composes and writes when the sample is ready, and closes the port
// when told to stop.
#include "transport/output_thread.h"

#include "host/linkage.h"
#include "log/log.h"
#include "network/network.h"
#include "platform/fpu.h"
#include "sampling/fix.h"
#include "sampling/snapshot.h"
#include "sentences/network_records.h"
#include "settings/network_settings.h"
#include "settings/settings.h"
#include "transport/cycle.h"
#include "transport/serial.h"

// See output_thread.h.
std::atomic<int32_t> stopRequested{0};
std::atomic<int32_t> threadRunning{0};
uint32_t threadStartFailures = 0;
uint32_t stepsRun = 0;
uint32_t stepsMs = 0;

namespace {

constexpr DWORD kStepTicks = 2 * kHalfStepMs;
constexpr int32_t kStepMs = static_cast<int32_t>(kStepTicks);
constexpr int32_t kStepsPerSecond = 1000 / kStepMs;
constexpr int32_t kFreshSteps = 30; // a position older than 3 s no longer makes the heartbeat valid
constexpr uint32_t kForLine = 0x8;  // a sample's purpose besides the feeds' kFeedPosition and kFeedAttitude

// Output thread only: the sample of the current step, copied while dataReady still holds the sampler off.
// The writer clears dataReady as soon as the line's write is started, and a frame may then sample again
// while the feeds and the network text of the step are still being built from it.
NavSnapshot stepSnapshot;

// The feed records due at the thread's step n: the heartbeat and position every second, evenly spaced,
// and the attitude every attitudeSteps steps (0: the host gives none).
uint32_t FeedsDue(uint32_t step, uint32_t attitudeSteps) {
    uint32_t due = step % kStepsPerSecond == 0 ? kFeedHeartbeat | kFeedPosition : 0;
    if (attitudeSteps != 0 && step % attitudeSteps == 0) {
        due |= kFeedAttitude;
    }
    return due;
}

// A sleep ends on the system timer's tick (15.625 ms by default on Windows), so a fixed 50 ms would
// stretch every step; sleeping for what is left until the deadline keeps the steps' average on the clock.
// A deadline already passed costs a yield only. Unsigned ticks: the count's wrap is harmless.
void SleepUntil(DWORD deadline) {
    const int32_t left = static_cast<int32_t>(deadline - GetTickCount());
    Sleep(left > 0 ? static_cast<DWORD>(left) : 0);
}

} // namespace

// The line's samples come every periodLimit + 1 steps. With EFB or GDL 90 entries the feeds ask for
// samples of their own at their own rates; one sample serves every purpose raised before it was taken,
// and a sample only the feeds asked for goes to the feeds alone.
DWORD WINAPI OutputThread(LPVOID) {
    // threadRunning is already 1: the hook sets it before creating the thread.
    SetThreadFpu();
    const int32_t periodLimit = outputInterval / kStepMs;
    const int32_t periodSteps = periodLimit + 1; // tenths of a second
    LogLine("output thread started, a cycle every %d.%d s%s", static_cast<int>(periodSteps / 10),
            static_cast<int>(periodSteps % 10),
            threadStartFailures != 0 ? ", after failed attempts to create it" : "");
    const bool feeds = NetworkHasFeeds();
    const bool network = networkEntryCount > 0;
    // Whole steps, never faster than asked: 5 a second is every 2 steps, 3 a second every 4.
    const uint32_t attitudeSteps =
        HostGeneration != 0 ? static_cast<uint32_t>((kStepsPerSecond + attitudeRate - 1) / attitudeRate) : 0;
    if (feeds && attitudeSteps != 0) {
        LogLine("network feeds: position every 1.0 s, attitude every %d.%d s",
                static_cast<int>(attitudeSteps / 10), static_cast<int>(attitudeSteps % 10));
    } else if (feeds) {
        LogLine("network feeds: position every 1.0 s, no attitude (hosts of this generation give none)");
    }
    int32_t step = 0;         // steps into the line's period
    uint32_t feedStep = 0;    // steps since the thread started
    uint32_t outstanding = 0; // purposes of the samples asked for and not yet taken
    int32_t stepsSinceSample = kFreshSteps + 1;
    Gdl90Status heartbeat = {0, false};
    const DWORD firstStepStart = GetTickCount();
    DWORD stepStart = firstStepStart; // when the current step is due to begin
    while (stopRequested.load() == 0) {
        // More than a step behind (the machine stalled the thread): start afresh from now rather than catch
        // up with steps back to back.
        const DWORD now = GetTickCount();
        if (static_cast<int32_t>(now - stepStart) > kStepMs) {
            stepStart = now;
        }
        uint32_t due = 0;
        // Strictly greater: a period is periodLimit + 1 steps.
        if (step > periodLimit) {
            step = 0;
            due = kForLine;
        }
        if (feeds) {
            due |= FeedsDue(feedStep, attitudeSteps);
        }
        if (due != 0 && ServicePointer(kRowVariables) != nullptr) {
            outstanding |= due;
            sampleRequested.store(1);
        }
        SleepUntil(stepStart + kHalfStepMs);
        if (network) {
            PollNetwork(GetTickCount());
        }
        uint32_t records = due & kFeedHeartbeat; // the heartbeat goes sample or not
        const bool ready = dataReady.load(std::memory_order_acquire) != 0;
        if (ready) {
            // Without the feeds every sample is the line's, as it always was.
            const uint32_t served = feeds ? outstanding : kForLine;
            outstanding = 0;
            stepsSinceSample = 0;
            stepSnapshot = navSnapshot;
            heartbeat.secondsOfDay = Gdl90SecondsOfDay(stepSnapshot);
            if (served & kForLine) {
                ComposeCycle(stepSnapshot);
            }
            records |= served & (kFeedPosition | kFeedAttitude);
        }
        if (records != 0) {
            heartbeat.positionValid = stepsSinceSample <= kFreshSteps;
            SendFeedRecords(records, heartbeat, stepSnapshot);
        }
        if (ready) {
            dataReady.store(0, std::memory_order_release);
        }
        SleepUntil(stepStart + kStepTicks);
        stepStart += kStepTicks;
        ++step;
        ++feedStep;
        stepsSinceSample += stepsSinceSample <= kFreshSteps ? 1 : 0;
    }
    stepsRun = feedStep;
    stepsMs = static_cast<uint32_t>(GetTickCount() - firstStepStart);
    if (portHandle != INVALID_HANDLE_VALUE) {
        CloseSerialPort(portHandle);
    }
    // The last line this thread writes: shut-down writes the rest once threadRunning is 0.
    LogLine("output thread stopped");
    threadRunning.store(0);
    return 0;
}
