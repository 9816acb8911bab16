// The serial device: opened and configured as a plain 8N1 output line at start-up, put back as it was
// found and closed when output ends. The module only ever writes to it.
#include "transport/serial.h"

#include <cstddef>
#include <cstdio>
#include <cstring>

#include "log/log.h"

// Written by OpenSerialPort on the host's thread before the output thread exists; afterwards read by the
// frame hook (portHandle only) and used by the output thread, which closes the device on its way out.
HANDLE portHandle = INVALID_HANDLE_VALUE;
int32_t portOpened = 0;
DCB savedDcb;
int32_t savedDcbValid = 0;
COMMTIMEOUTS savedTimeouts;
int32_t savedTimeoutsValid = 0;

constexpr DWORD kQueueSize = 256;             // bytes, driver input and output queues
constexpr DWORD kWriteTimeoutPerByte = 5000;  // milliseconds
constexpr DWORD kWriteTimeoutConstant = 5000; // milliseconds
constexpr size_t kDcbFlagsOffset = 8;         // the bit fields follow DCBlength and BaudRate

static_assert(sizeof(DCB) == 28, "DCB as the platform lays it out");
static_assert(offsetof(DCB, BaudRate) == 4 && offsetof(DCB, wReserved) == 12, "flags word at byte 8");

uint32_t DcbFlags(const DCB* dcb) {
    uint32_t flags;
    std::memcpy(&flags, reinterpret_cast<const unsigned char*>(dcb) + kDcbFlagsOffset, sizeof flags);
    return flags;
}

void SetDcbFlags(DCB* dcb, uint32_t flags) {
    std::memcpy(reinterpret_cast<unsigned char*>(dcb) + kDcbFlagsOffset, &flags, sizeof flags);
}

BOOL OpenSerialPort(const char* path, const char* portName, int32_t baud) {
    portHandle = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                             FILE_FLAG_OVERLAPPED, nullptr);
    if (portHandle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_ACCESS_DENIED) {
            LogLine("serial %s: cannot open: access denied: another program holds %s", portName, portName);
        } else if (error == ERROR_FILE_NOT_FOUND) {
            LogLine("serial %s: cannot open: this computer has no port of that name", portName);
        } else {
            LogLine("serial %s: cannot open: %s", portName, ErrorText(error));
        }
        return FALSE;
    }
    portOpened = 1;
    SetupComm(portHandle, kQueueSize, kQueueSize);
    savedDcbValid = GetCommState(portHandle, &savedDcb) ? 1 : 0;
    savedTimeoutsValid = GetCommTimeouts(portHandle, &savedTimeouts) ? 1 : 0;

    // The mode string sets data bits, parity and stop bits; its baud field only takes hundreds, so the full
    // rate is put in afterwards.
    DCB dcb = savedDcb;
    char mode[96]; // a 57-character name, ":", ten digits and ",n,8,1"
    std::snprintf(mode, sizeof mode, "%s:%u,n,8,1", portName, static_cast<unsigned>(baud / 100));
    BuildCommDCBA(mode, &dcb);
    dcb.BaudRate = static_cast<DWORD>(baud);
    // Binary, no hardware or XON/XOFF flow control, DTR and RTS under explicit command.
    SetDcbFlags(&dcb, (DcbFlags(&dcb) & kDcbFlagsKeep) | kDcbFlagsSet);
    SetCommState(portHandle, &dcb);

    // Reads return at once with what has arrived; a write of n bytes may take 5000 * n + 5000 ms.
    COMMTIMEOUTS timeouts = {MAXDWORD, 0, 0, kWriteTimeoutPerByte, kWriteTimeoutConstant};
    SetCommTimeouts(portHandle, &timeouts);

    PurgeComm(portHandle, kPurgeAll);
    EscapeCommFunction(portHandle, SETDTR);
    EscapeCommFunction(portHandle, SETRTS);
    DWORD errors;
    COMSTAT status;
    ClearCommError(portHandle, &errors, &status);
    LogLine("serial %s: open at %d baud, 8 data bits, no parity, 1 stop bit, no flow control", portName,
            static_cast<int>(baud));
    return TRUE;
}

void CloseSerialPort(HANDLE port) {
    // The purge also aborts a write still in progress, so nothing reads OutputBuffer after this.
    PurgeComm(port, kPurgeAll);
    if (savedDcbValid) {
        SetCommState(port, &savedDcb);
    }
    if (savedTimeoutsValid) {
        SetCommTimeouts(port, &savedTimeouts);
    }
    CloseHandle(port);
    portHandle = INVALID_HANDLE_VALUE;
}
