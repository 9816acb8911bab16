// The network outputs beside the serial line: NMEA text as UDP datagrams and from a TCP server, the EFB
// simulator text format and GDL 90 as UDP datagrams. Every socket is non-blocking and only the output thread
// sends; nothing waits for a reader, and a failing entry costs that entry only.
#pragma once

#include <cstdint>

#include "platform/win32.h"

constexpr int32_t kMaxTcpClients = 8;
constexpr DWORD kClientStallMs = 5000;      // a client whose buffer stays full this long is closed
constexpr int32_t kClientInputLimit = 4096; // a client that sends more than this is closed
// The system's buffer for each client: a few cycles. A reader that falls behind finds it full within
// seconds and misses cycles, instead of being fed positions minutes old from a buffer the system grew.
constexpr int kClientSendBuffer = 8192;

// Start-up, host's thread: starts Winsock and opens a socket for each configured entry (a TCP server
// listens). Returns the number of entries ready; with no entries configured, Winsock is not started.
int32_t OpenNetworkOutputs(void);
// Every entry closed and every count at zero, as at load, without touching any socket.
void ResetNetworkOutputs(void);
// Shut-down, host's thread, after the output thread has ended: closes every socket (clients see their
// connection closed) and stops Winsock.
void CloseNetworkOutputs(void);

// Output thread. Whether a udp or tcp entry takes the cycle's NMEA text.
bool NetworkTakesText(void);
// The cycle's NMEA text to every udp entry and every client of every tcp entry (accepting new clients and
// dropping slow or failing ones first).
void SendNetworkText(const char* text, int32_t length, DWORD tick);
// The EFB text and GDL 90 records of the snapshot to their entries: position and heartbeat at most once a
// second of `tick`, attitude every cycle on hosts that give it.
void SendNetworkFix(DWORD tick);

// Shut-down: one summary line per entry.
void LogNetworkSummary(void);
