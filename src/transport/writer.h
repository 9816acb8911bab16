// The write side of a cycle: the completion check, the hand-over, and the writer with its relay path.
#pragma once

#include <cstdint>

#include "platform/win32.h"

// Output thread only. Reused for every write; hEvent is null so completion is tracked on the device.
extern OVERLAPPED writeOverlapped;

// WriteFile's contract in both modes: non-zero when finished at once, else 0 with the last error saying
// ERROR_IO_PENDING (in progress) or why it failed. In relay mode the text goes to the relay module.
BOOL WriteOutput(HANDLE device, const void* text, DWORD length, LPDWORD written, LPOVERLAPPED overlapped);

// Whether the cycle may compose: false while the previous write is still in progress.
bool PollPendingWrite(void);

// Writes the first `length` bytes of OutputBuffer and acts on the outcome.
void StartOutputWrite(int32_t length);
