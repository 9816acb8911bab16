// The write side of a cycle. A serial write is overlapped and only polled, never waited for; the relay
// hand-over is presented as a pending write that has already finished, so one state machine serves both.
#include "transport/writer.h"

#include <cstring>

#include "host/linkage.h"
#include "sentences/output_buffer.h"
#include "settings/settings.h"
#include "transport/cycle_flags.h"
#include "transport/serial.h"

// Output thread only; the platform updates it in the background while a serial write is in progress.
OVERLAPPED writeOverlapped;
// Receives the byte counts of the write and completion calls; never read.
static DWORD writeByteCount;

constexpr DWORD kRelayChannel = 1; // first argument of every relay send

// Hands the text to the relay module when the record is there, accepts output and has a send entry;
// otherwise the text is dropped without a trace.
static void SendToRelay(const void* text, DWORD length) {
    const void* relay = ServicePointer(kRowRelay);
    if (relay == nullptr || (HostWord(relay, kRelayFlagsOffset) & kRelayAcceptsOutput) == 0) {
        return;
    }
    uintptr_t send;
    std::memcpy(&send, static_cast<const unsigned char*>(relay) + kRelaySendOffset, sizeof send);
    if (send != 0) {
        reinterpret_cast<RelaySendEntry>(send)(kRelayChannel, static_cast<const char*>(text), length);
    }
}

BOOL WriteOutput(HANDLE device, const void* text, DWORD length, LPDWORD written, LPOVERLAPPED overlapped) {
    if (!relayMode) {
        return WriteFile(device, text, length, written, overlapped);
    }
    SendToRelay(text, length);
    overlapped->Internal = length;
    overlapped->InternalHigh = length;
    SetLastError(ERROR_IO_PENDING);
    return FALSE;
}

bool PollPendingWrite(void) {
    if (writePending.load() == 0) {
        return true;
    }
    if (relayMode) {
        // A relay hand-over leaves both words at the length: always finished.
        if (writeOverlapped.Internal != writeOverlapped.InternalHigh) {
            dataReady.store(0, std::memory_order_release);
            return false;
        }
    } else if (!GetOverlappedResult(portHandle, &writeOverlapped, &writeByteCount, FALSE)) {
        if (GetLastError() == ERROR_IO_INCOMPLETE) {
            dataReady.store(0, std::memory_order_release);
            return false;
        }
        // The write ended in failure (the device went away, a time-out): it is over all the same. Drop
        // what is queued and let output resume, instead of waiting for it for ever.
        PurgeComm(portHandle, kPurgeAll);
    }
    writePending.store(0);
    return true;
}

void StartOutputWrite(int32_t length) {
    if (length <= 0) {
        dataReady.store(0, std::memory_order_release);
        return;
    }
    writeOverlapped.hEvent = nullptr;
    if (WriteOutput(portHandle, OutputBuffer, static_cast<DWORD>(length), &writeByteCount,
                    &writeOverlapped)) {
        return;
    }
    if (GetLastError() == ERROR_IO_PENDING) {
        writePending.store(1);
    } else {
        // Refused at once: the text is lost, the next cycle writes afresh.
        PurgeComm(portHandle, kPurgeAll);
    }
    dataReady.store(0, std::memory_order_release);
}
