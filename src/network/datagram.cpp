// Datagram destinations. A refusal is a report about datagrams already gone: it is read once a step, before
// that step's datagrams, and logged once when it begins and once when it ends.
#include "network/datagram.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr int32_t kPollReads = 4; // datagrams a destination may have sent back, read and dropped per poll
char pollScratch[512];            // output thread only

bool IsRefusal(int error) {
    // Windows reports a port-unreachable answer as a reset connection, Linux (and so Wine) as a refused one.
    return error == WSAECONNRESET || error == WSAECONNREFUSED;
}

void Connect(Destination* d) {
    d->connected =
        connect(d->socket, reinterpret_cast<const sockaddr*>(&d->address), sizeof d->address) == 0 ? 1 : 0;
}

void NoteRefusal(Destination* d) {
    d->refusals++;
    d->cleanPolls = 0;
    if (!d->refused) {
        d->refused = 1;
        LogLine("network %s: nothing listens at %s: is the app open and in front?", d->kind, d->where);
    }
}

} // namespace

uint16_t NetworkOrder16(uint16_t value) {
    const unsigned char bytes[2] = {static_cast<unsigned char>(value >> 8),
                                    static_cast<unsigned char>(value)};
    uint16_t result;
    std::memcpy(&result, bytes, sizeof result);
    return result;
}

uint32_t NetworkOrder32(uint32_t value) {
    const unsigned char bytes[4] = {
        static_cast<unsigned char>(value >> 24), static_cast<unsigned char>(value >> 16),
        static_cast<unsigned char>(value >> 8), static_cast<unsigned char>(value)};
    uint32_t result;
    std::memcpy(&result, bytes, sizeof result);
    return result;
}

sockaddr_in SocketAddress(uint32_t address, uint16_t port) {
    sockaddr_in socketAddress = {};
    socketAddress.sin_family = AF_INET;
    socketAddress.sin_port = NetworkOrder16(port);
    socketAddress.sin_addr.s_addr = NetworkOrder32(address);
    return socketAddress;
}

uint32_t HostOrderAddress(const sockaddr_in& address) {
    // The order swaps are their own inverses.
    return NetworkOrder32(static_cast<uint32_t>(address.sin_addr.s_addr));
}

void FormatHost(char* out, size_t size, uint32_t address) {
    std::snprintf(out, size, "%u.%u.%u.%u", address >> 24, address >> 16 & 0xFF, address >> 8 & 0xFF,
                  address & 0xFF);
}

void FormatAddress(char* out, size_t size, const sockaddr_in& address) {
    FormatHost(out, size, HostOrderAddress(address));
    const size_t hostLength = std::strlen(out);
    std::snprintf(out + hostLength, size - hostLength, ":%u",
                  static_cast<unsigned>(NetworkOrder16(address.sin_port)));
}

SOCKET OpenSocket(const char* label, int type) {
    const SOCKET s = socket(AF_INET, type, type == SOCK_STREAM ? IPPROTO_TCP : IPPROTO_UDP);
    if (s == INVALID_SOCKET) {
        LogLine("network %s: no socket: %s", label, ErrorText(static_cast<DWORD>(WSAGetLastError())));
    }
    return s;
}

void LabelDestination(Destination* d) {
    std::snprintf(d->label, kLabelSize, "%s ", d->kind);
    const size_t kindLength = std::strlen(d->label);
    FormatAddress(d->label + kindLength, kLabelSize - kindLength, d->address);
    d->where = d->label + kindLength;
}

bool OpenDestination(Destination* d, const char* kind, uint32_t address, uint16_t port, Reach reach) {
    *d = Destination{};
    d->address = SocketAddress(address, port);
    d->kind = kind;
    LabelDestination(d);
    const SOCKET s = OpenSocket(d->label, SOCK_DGRAM);
    if (s == INVALID_SOCKET) {
        return false;
    }
    u_long nonBlocking = 1;
    const BOOL on = TRUE;
    // A subnet's or the limited broadcast address is sent to as a broadcast, where the destination may be
    // one.
    if (ioctlsocket(s, FIONBIO, &nonBlocking) != 0 ||
        (reach == kMayBroadcast &&
         setsockopt(s, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&on), sizeof on) != 0)) {
        LogLine("network %s: cannot send: %s", d->label, ErrorText(static_cast<DWORD>(WSAGetLastError())));
        closesocket(s);
        return false;
    }
    d->socket = s;
    // A destination that cannot be reached yet (no network at start-up) is connected at a later send.
    Connect(d);
    LogLine("network %s: ready", d->label);
    return true;
}

void RetargetDestination(Destination* d, uint16_t port) {
    d->address.sin_port = NetworkOrder16(port);
    LabelDestination(d);
    d->refused = 0;
    d->cleanPolls = 0;
    d->sentSincePoll = 0;
    Connect(d);
}

void SendToDestination(Destination* d, const char* data, int32_t length) {
    if (d->socket == INVALID_SOCKET) {
        return;
    }
    if (!d->connected) {
        Connect(d);
    }
    const int sent = d->connected ? send(d->socket, data, length, 0) : SOCKET_ERROR;
    d->sentSincePoll = 1;
    if (sent == length) {
        TallyText(&d->tally, "network", d->label, "sent", length);
        return;
    }
    const int error = sent == SOCKET_ERROR ? WSAGetLastError() : 0;
    if (IsRefusal(error)) {
        NoteRefusal(d);
    } else {
        TallyFailure(&d->tally, "network", d->label, "send failed", static_cast<DWORD>(error));
    }
}

void PollDestination(Destination* d) {
    if (d->socket == INVALID_SOCKET || !d->connected || !d->sentSincePoll) {
        return;
    }
    d->sentSincePoll = 0;
    for (int32_t read = 0; read < kPollReads; ++read) {
        // What the destination sends back is read and dropped: the module only sends.
        if (recv(d->socket, pollScratch, sizeof pollScratch, 0) != SOCKET_ERROR) {
            continue;
        }
        if (IsRefusal(WSAGetLastError())) {
            NoteRefusal(d);
            return;
        }
        break; // nothing reported
    }
    if (d->refused && ++d->cleanPolls >= kCleanPollsToRecover) {
        d->refused = 0;
        LogLine("network %s: %s takes datagrams again", d->kind, d->where);
    }
}

void CloseDestination(Destination* d) {
    if (d->socket != INVALID_SOCKET) {
        closesocket(d->socket);
        d->socket = INVALID_SOCKET;
    }
}

void LogDestinationSummary(const Destination& d) {
    LogLine("summary: network %s: %u datagrams, %u bytes, %u failed, %u refused", d.label, d.tally.texts,
            d.tally.bytes, d.tally.failures, d.refusals);
}
