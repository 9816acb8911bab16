// The serial device: opened and configured at start-up, restored and closed when output ends.
#pragma once

#include <cstdint>

#include "platform/win32.h"

constexpr DWORD kPurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;
constexpr uint32_t kDcbFlagsKeep =
    0xFFFFC4C3; // keeps parity, DSR sensitivity, XOFF continue, error char, abort
constexpr uint32_t kDcbFlagsSet = 0x00000001; // binary mode

// Written at start-up on the host's thread; used afterwards by the output thread.
extern HANDLE portHandle;  // INVALID_HANDLE_VALUE when no device is open
extern int32_t portOpened; // 1 once the device has opened, also after it is closed again
extern DCB savedDcb;
extern int32_t savedDcbValid;
extern COMMTIMEOUTS savedTimeouts;
extern int32_t savedTimeoutsValid;

// Opens devicePath and configures it as an 8N1 output line at baudRate. Non-zero on success.
BOOL OpenSerialPort(const char* devicePath, const char* portName, int32_t baudRate);
// Purges, puts back the state and time-outs found at open, and closes.
void CloseSerialPort(HANDLE port);

// The DCB's 32-bit flags word (fBinary..fDummy2), read and written whole.
uint32_t DcbFlags(const DCB* dcb);
void SetDcbFlags(DCB* dcb, uint32_t flags);
