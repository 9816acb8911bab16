// The write side of a cycle: the completion check, the hand-over, and the writer with its relay path.
#pragma once

#include <atomic>
#include <cstdint>

#include "log/log.h"
#include "platform/win32.h"

// Output thread only: a write was left in progress; cleared by the completion check that finds it finished.
extern std::atomic<int32_t> writePending;
// Output thread only. Reused for every write; hEvent is null so completion is tracked on the device.
extern OVERLAPPED writeOverlapped;

// Output thread only, read at shut-down once it has ended: what the serial line or the relay took.
// Texts written (or started) whole or handed to the relay; failures are refused or failed writes and texts
// the relay did not take.
extern OutputTally lineTally;
extern uint32_t lineBusySkips; // cycles dropped because the previous write was still going
extern int32_t relayState;     // the relay's state last logged, -1 before the first text

// WriteFile's contract in both modes: non-zero when finished at once, else 0 with the last error saying
// ERROR_IO_PENDING (in progress) or why it failed. In relay mode the text goes to the relay module.
BOOL WriteOutput(HANDLE device, const void* text, DWORD length, LPDWORD written, LPOVERLAPPED overlapped);

// Whether a serial line or the relay takes the cycle's text (not so when only network outputs run).
bool LineTakesText(void);

// Whether the cycle may compose: false while the previous write is still in progress.
bool PollPendingWrite(void);

// Writes the first `length` bytes of OutputBuffer and acts on the outcome.
void StartOutputWrite(int32_t length);

// Shut-down: what the serial line or the relay took, as one log line.
void LogLineSummary(void);
