// The output thread: paces the cycle, requests samples, composes and writes, closes the port at the end.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/win32.h"

constexpr DWORD kHalfStepMs = 50; // a step is two of these sleeps, each until its own deadline

// The thread's own flags, each one 32-bit word, 0 or 1, read and written whole.
// Set by shut-down (host's thread); cleared by the frame hook before it starts a thread; read by the thread.
extern std::atomic<int32_t> stopRequested;
// Set by the frame hook just before it creates the thread, cleared by the thread as its last act (or by the
// hook when the creation failed); read by the hook and by shut-down's wait.
extern std::atomic<int32_t> threadRunning;
// Thread creations that failed (each retried at the next frame); written on the host's thread before the
// thread that reports them is created.
extern uint32_t threadStartFailures;
// Written by the output thread as it ends, read by shut-down once threadRunning is 0: the steps it ran and
// the milliseconds from the first one's start to the end of the last, stalls included.
extern uint32_t stepsRun;
extern uint32_t stepsMs;

DWORD WINAPI OutputThread(LPVOID unused);
