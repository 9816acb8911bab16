// Datagram destinations of the network outputs: one non-blocking UDP socket each, connected to its one
// destination, so that the system reports there when nothing listens (a port-unreachable answer comes back as
// a refused or reset connection at the next receive or send). A broadcast gets no such answer and never
// reports. Output thread only, but for opening and closing at start-up and shut-down.
#pragma once

#include <cstddef>
#include <cstdint>

#include "log/log.h"
#include "platform/win32.h"

constexpr int32_t kLabelSize = 48;
// Clean polls in a row after a refusal before datagrams count as taken again: one alone may only mean that
// the answer to the last datagrams has not come back yet.
constexpr int32_t kCleanPollsToRecover = 2;

// Its initial values are those of a closed destination, from load on.
struct Destination {
    SOCKET socket = INVALID_SOCKET; // INVALID_SOCKET: none
    sockaddr_in address = {};
    const char* kind = "";         // "udp", "xgps" or "gdl90", for the log
    char label[kLabelSize] = {};   // "gdl90 192.168.1.23:4000"
    const char* where = "";        // the address part of label
    OutputTally tally = {0, 0, 0}; // datagrams sent whole, and failures other than refusals
    int32_t connected = 0;         // connect() succeeded: refusals are reported on this socket
    int32_t sentSincePoll = 0;     // a datagram went since the last poll
    int32_t refused = 0;    // the last report said that nothing listens, until datagrams are taken again
    int32_t cleanPolls = 0; // polls without a refusal since the last one
    uint32_t refusals = 0;  // reports that nothing listened
};

// Whether a destination may be a broadcast address. A typed-in entry may; a found tablet is always one
// device, so that the system refuses a datagram to a broadcast address instead of sending it to everyone.
enum Reach { kOneDevice, kMayBroadcast };

// Socket addresses hold the port and address most significant byte first, whatever the machine's order.
uint16_t NetworkOrder16(uint16_t value);
uint32_t NetworkOrder32(uint32_t value);
sockaddr_in SocketAddress(uint32_t address, uint16_t port); // host byte order in
uint32_t HostOrderAddress(const sockaddr_in& address);
void FormatHost(char* out, size_t size, uint32_t address);              // "192.168.1.23"
void FormatAddress(char* out, size_t size, const sockaddr_in& address); // "192.168.1.23:4000"
// A socket of `type` (SOCK_DGRAM: UDP, SOCK_STREAM: TCP); INVALID_SOCKET, logged for `label`, when the
// system gives none.
SOCKET OpenSocket(const char* label, int type);

// "KIND ADDR:PORT" from d->kind and d->address, into d->label and d->where.
void LabelDestination(Destination* d);

// Makes the destination's socket and connects it; logs "ready", or why not and false.
bool OpenDestination(Destination* d, const char* kind, uint32_t address, uint16_t port, Reach reach);
// Points an open destination at another port of the same address.
void RetargetDestination(Destination* d, uint16_t port);
// One datagram; a failure costs this datagram only.
void SendToDestination(Destination* d, const char* data, int32_t length);
// Once a step: whether the system reported, since the datagrams of the last step, that nothing listens.
void PollDestination(Destination* d);
void CloseDestination(Destination* d);
// "summary: network LABEL: N datagrams, N bytes, N failed, N refused".
void LogDestinationSummary(const Destination& d);
