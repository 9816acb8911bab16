// The sampler: one call takes one sample of the aircraft and turns it into the navigation snapshot.
#pragma once

#include <atomic>
#include <cstdint>

// The sampler's handshake with the output thread: each one 32-bit word, 0 or 1, read and written whole.
// Raised by the output thread when it wants a sample; cleared by the sampler as its first act.
extern std::atomic<int32_t> sampleRequested;
// Set by the sampler (release) once the snapshot is complete; cleared by the sampler on entry, by the
// writer once the line's write is started, and by the output thread (release) after its compose; the hook
// samples only while it is 0. The output thread copies the snapshot as soon as it sees it set.
extern std::atomic<int32_t> dataReady;

// Runs on the host's thread inside the frame hook when a sample is requested. Clears sampleRequested and
// dataReady, reads the host, converts, and sets dataReady once the whole snapshot is written.
void SampleFlightState(void);

// The conversion alone: from the request table's values and the global block's ground-speed word into
// navSnapshot. Returns false, changing nothing, when a value it uses is not finite.
bool ConvertFlightState(uint32_t groundSpeedWord);

// Host's thread only, read at shut-down: samples completed, dropped for a value that is not a number, and
// not taken for want of a service or of a ready host.
extern uint32_t samplesTaken;
extern uint32_t samplesDropped;
extern uint32_t samplesWaiting;
