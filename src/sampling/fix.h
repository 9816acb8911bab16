// The sampler: one call takes one sample of the aircraft and turns it into the navigation snapshot.
#pragma once

#include <cstdint>

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
