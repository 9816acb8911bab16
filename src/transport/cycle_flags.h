// The five cycle flags shared by the host's thread and the output thread. Each is one 32-bit word, 0 or 1,
// read and written whole; dataReady publishes the snapshot (release on set, acquire on test).
#pragma once

#include <atomic>
#include <cstdint>

extern std::atomic<int32_t> stopRequested;   // set by shut-down, cleared by the hook before a thread starts
extern std::atomic<int32_t> threadRunning;   // 1 while an output thread exists
extern std::atomic<int32_t> sampleRequested; // raised by the output thread, cleared by the sampler
extern std::atomic<int32_t> dataReady;       // set by the sampler after the snapshot, cleared after a compose
extern std::atomic<int32_t> writePending;    // output thread only: a write is still in progress
