// The network outputs beside the serial line: NMEA text as UDP datagrams and from a TCP server, the EFB
// simulator text format and GDL 90 as UDP datagrams (GDL 90 also to the tablets that announce themselves).
// Every socket is non-blocking and only the output thread sends; nothing waits for a reader, and a failing
// entry costs that entry only.
#pragma once

#include <cstdint>

#include "platform/win32.h"
#include "sentences/network_records.h"

constexpr int32_t kMaxTcpClients = 8;
constexpr DWORD kClientStallMs = 5000;       // a client whose buffer stays full this long is closed
constexpr int32_t kClientInputLimit = 4096;  // bytes a client may send within kClientInputWindowMs
constexpr DWORD kClientInputWindowMs = 5000; // a reader has nothing to say: more is a flood
constexpr int32_t kAcceptsPerCycle = 16;     // a connection flood costs a cycle this many accepts at most
// The system's buffer for each client: a few cycles. A reader that falls behind finds it full within
// seconds and misses cycles, instead of being fed positions minutes old from a buffer the system grew.
constexpr int kClientSendBuffer = 8192;

// What a feed sends at a step: the heartbeat and identification (every second, sample or not), the
// position records (with a fresh sample), the attitude records (likewise).
constexpr uint32_t kFeedHeartbeat = 0x1;
constexpr uint32_t kFeedPosition = 0x2;
constexpr uint32_t kFeedAttitude = 0x4;

// Start-up, host's thread: starts Winsock and opens a socket for each configured entry (a TCP server or a
// discovery listener listens). Returns the number of entries ready; with no entries configured, Winsock is
// not started.
int32_t OpenNetworkOutputs(void);
// Every entry closed and every count at zero, as at load, without touching any socket.
void ResetNetworkOutputs(void);
// Shut-down, host's thread, after the output thread has ended: closes every socket (clients see their
// connection closed). Winsock's reference is kept until the process ends: its release may deadlock a host
// that shuts the module down from its own library detach.
void CloseNetworkOutputs(void);

// Output thread. Whether a udp or tcp entry takes the cycle's NMEA text.
bool NetworkTakesText(void);
// The cycle's NMEA text to every udp entry and every client of every tcp entry (accepting new clients and
// dropping slow or failing ones first).
void SendNetworkText(const char* text, int32_t length, DWORD tick);
// The feed records of `records` (kFeed... bits) to their entries and tablets: the heartbeat from `status`,
// the others from `s`, the step's sample.
void SendFeedRecords(uint32_t records, const Gdl90Status& status, const NavSnapshot& s);
// Once a step: the refusals reported for earlier datagrams, and ForeFlight's announcements.
void PollNetwork(DWORD tick);

// Shut-down: one summary line per entry and tablet.
void LogNetworkSummary(void);
