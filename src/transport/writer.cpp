// The write side of a cycle. A serial write is overlapped and only polled, never waited for; the relay
// hand-over is presented as a pending write that has already finished, so one state machine serves both.
#include "transport/writer.h"

#include <cstring>

#include "host/linkage.h"
#include "log/log.h"
#include "sampling/fix.h"
#include "sentences/output_buffer.h"
#include "settings/settings.h"
#include "transport/serial.h"

std::atomic<int32_t> writePending{0};
// Output thread only; the platform updates it in the background while a serial write is in progress.
OVERLAPPED writeOverlapped;
// Receives the byte counts of the write and completion calls; never read.
static DWORD writeByteCount;

// Output thread only, read at shut-down once it has ended.
OutputTally lineTally = {0, 0, 0};
uint32_t lineBusySkips = 0;
int32_t relayState = -1;

constexpr DWORD kRelayChannel = 1; // first argument of every relay send

enum RelayState { kRelaySent, kRelayAbsent, kRelayRefuses, kRelayNoEntry };

// Hands the text to the relay module when the record is there, accepts output and has a send entry;
// otherwise the text is dropped, and the log says why when that changes.
static void SendToRelay(const void* text, DWORD length) {
    static const char* const kStateTexts[] = {
        "relay: texts are handed over",
        "relay: the host has no relay module; texts are dropped",
        "relay: the relay module does not accept output; texts are dropped",
        "relay: the relay module has no send entry; texts are dropped",
    };
    const void* relay = ServicePointer(kRowRelay);
    uintptr_t send = 0;
    RelayState state = kRelayAbsent;
    if (relay != nullptr) {
        std::memcpy(&send, static_cast<const unsigned char*>(relay) + kRelaySendOffset, sizeof send);
        state = (HostWord(relay, kRelayFlagsOffset) & kRelayAcceptsOutput) == 0 ? kRelayRefuses
                : send == 0                                                     ? kRelayNoEntry
                                                                                : kRelaySent;
    }
    if (state != relayState) {
        relayState = state;
        LogLine("%s", kStateTexts[state]);
    }
    if (state != kRelaySent) {
        lineTally.failures++;
        return;
    }
    reinterpret_cast<RelaySendEntry>(send)(kRelayChannel, static_cast<const char*>(text), length);
    lineTally.texts++;
    lineTally.bytes += length;
}

static void NoteSerialText(int32_t length) {
    TallyText(&lineTally, "serial", devicePath + kDevicePrefixLength, "written", length);
}

static void NoteSerialFailure(const char* what, DWORD error) {
    TallyFailure(&lineTally, "serial", devicePath + kDevicePrefixLength, what, error);
}

void LogLineSummary(void) {
    if (relayMode) {
        LogLine("summary: relay: %u texts, %u bytes handed over, %u dropped", lineTally.texts,
                lineTally.bytes, lineTally.failures);
    } else if (portOpened) {
        LogLine("summary: serial %s: %u texts, %u bytes, %u failed writes, %u cycles skipped while the line "
                "was busy",
                devicePath + kDevicePrefixLength, lineTally.texts, lineTally.bytes, lineTally.failures,
                lineBusySkips);
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

bool LineTakesText(void) {
    return relayMode || portHandle != INVALID_HANDLE_VALUE;
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
        const DWORD error = GetLastError();
        if (error == ERROR_IO_INCOMPLETE) {
            lineBusySkips++;
            dataReady.store(0, std::memory_order_release);
            return false;
        }
        // The write ended in failure (the device went away, a time-out): it is over all the same. Drop
        // what is queued and let output resume, instead of waiting for it for ever.
        NoteSerialFailure("write failed", error);
        PurgeComm(portHandle, kPurgeAll);
    }
    writePending.store(0);
    return true;
}

void StartOutputWrite(int32_t length) {
    if (!LineTakesText()) {
        return;
    }
    if (length <= 0) {
        dataReady.store(0, std::memory_order_release);
        return;
    }
    writeOverlapped.hEvent = nullptr;
    if (WriteOutput(portHandle, OutputBuffer, static_cast<DWORD>(length), &writeByteCount,
                    &writeOverlapped)) {
        NoteSerialText(length);
        return;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_IO_PENDING) {
        if (!relayMode) {
            NoteSerialText(length);
        }
        writePending.store(1);
    } else {
        // Refused at once: the text is lost, the next cycle writes afresh.
        NoteSerialFailure("write refused", error);
        PurgeComm(portHandle, kPurgeAll);
    }
    dataReady.store(0, std::memory_order_release);
}
