// The network outputs. Sockets are made at start-up and closed at shut-down on the host's thread; between
// the two only the output thread touches them. A reader that cannot keep up loses cycles or is closed,
// never holding up the others.
#include "transport/network.h"

#include <cstdio>
#include <cstring>

#include "host/linkage.h"
#include "log/log.h"
#include "sentences/network_records.h"
#include "settings/network_settings.h"

namespace {

constexpr WORD kWinsockVersion = MAKEWORD(2, 2);
constexpr DWORD kFixPeriodMs = 1000; // position and heartbeat at most this often
constexpr int32_t kReadChunk = 512;
constexpr int32_t kLabelSize = 40;

struct NetworkOutput {
    SOCKET socket; // INVALID_SOCKET: the entry could not be opened
    sockaddr_in address;
    char label[kLabelSize]; // "udp 192.168.1.20:10110" for the log
    OutputTally tally;      // texts: datagrams, or texts sent whole to a client
    uint32_t clients;       // tcp: accepted, refused and closed
    uint32_t refused;
    uint32_t closed;
};

struct TcpClient {
    SOCKET socket; // INVALID_SOCKET: a free slot
    char peer[24]; // "127.0.0.1:50123" for the log
    int32_t full;  // the last send found the client's buffer full
    DWORD fullSince;
    int32_t received; // bytes the client has sent
};

// Written at start-up and shut-down on the host's thread, used by the output thread in between.
int32_t winsockStarted = 0;
NetworkOutput outputs[kMaxNetworkEntries];
TcpClient clients[kMaxNetworkEntries][kMaxTcpClients];
// Output thread only.
DWORD lastFixTick = 0;
int32_t fixSent = 0;
char recordBuffer[kNetworkRecordSize];
char readScratch[kReadChunk];

// The records of the fix feeds, in the order they go out in a cycle.
struct FixRecord {
    int32_t kind;
    bool oncePerSecond; // else every cycle
    bool attitude;      // only on hosts that give attitude
    int32_t (*append)(char* out);
};
const FixRecord kFixRecords[] = {
    {kNetworkXgps, true, false, AppendXgps},
    {kNetworkXgps, false, true, AppendXatt},
    {kNetworkGdl90, true, false, AppendGdl90Heartbeat},
    {kNetworkGdl90, true, false, AppendGdl90Ownship},
    {kNetworkGdl90, true, false, AppendGdl90GeometricAltitude},
    {kNetworkGdl90, true, false, AppendGdl90Identification},
    {kNetworkGdl90, false, true, AppendGdl90Ahrs},
};

// Socket addresses hold the port and address most significant byte first, whatever the machine's order.
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

void FormatAddress(char* out, size_t size, const sockaddr_in& address) {
    // The order swaps are their own inverses.
    const uint32_t host = NetworkOrder32(static_cast<uint32_t>(address.sin_addr.s_addr));
    std::snprintf(out, size, "%u.%u.%u.%u:%u", host >> 24, host >> 16 & 0xFF, host >> 8 & 0xFF, host & 0xFF,
                  static_cast<unsigned>(NetworkOrder16(address.sin_port)));
}

// A non-blocking socket of the entry's kind, bound and listening for tcp; INVALID_SOCKET on failure (logged).
SOCKET OpenSocket(const NetworkEntry& entry, NetworkOutput* output) {
    const bool server = entry.kind == kNetworkTcp;
    SOCKET s = socket(AF_INET, server ? SOCK_STREAM : SOCK_DGRAM, server ? IPPROTO_TCP : IPPROTO_UDP);
    if (s == INVALID_SOCKET) {
        LogLine("network %s: no socket: %s", output->label, ErrorText(static_cast<DWORD>(WSAGetLastError())));
        return INVALID_SOCKET;
    }
    u_long nonBlocking = 1;
    const BOOL on = TRUE;
    bool ready = ioctlsocket(s, FIONBIO, &nonBlocking) == 0;
    if (ready && server) {
        ready = bind(s, reinterpret_cast<const sockaddr*>(&output->address), sizeof output->address) == 0 &&
                listen(s, kMaxTcpClients) == 0;
    } else if (ready) {
        // A subnet's or the limited broadcast address is sent to as a broadcast.
        ready = setsockopt(s, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&on), sizeof on) == 0;
    }
    if (!ready) {
        LogLine("network %s: cannot %s: %s", output->label, server ? "listen" : "send",
                ErrorText(static_cast<DWORD>(WSAGetLastError())));
        closesocket(s);
        return INVALID_SOCKET;
    }
    LogLine("network %s: %s", output->label, server ? "listening" : "ready");
    return s;
}

void CloseClient(NetworkOutput* output, TcpClient* client, const char* why) {
    closesocket(client->socket);
    client->socket = INVALID_SOCKET;
    output->closed++;
    LogLine("network %s: client %s closed: %s", output->label, client->peer, why);
}

// Takes every waiting connection into a free slot; a client beyond the last slot is closed at once.
void AcceptClients(NetworkOutput* output, TcpClient* slots) {
    for (;;) {
        sockaddr_in peer;
        int peerLength = sizeof peer;
        const SOCKET s = accept(output->socket, reinterpret_cast<sockaddr*>(&peer), &peerLength);
        if (s == INVALID_SOCKET) {
            return; // none waiting (or a failed accept, tried again next cycle)
        }
        TcpClient* slot = nullptr;
        int32_t inUse = 0;
        for (int32_t i = 0; i < kMaxTcpClients; ++i) {
            if (slots[i].socket != INVALID_SOCKET) {
                inUse++;
            } else if (slot == nullptr) {
                slot = &slots[i];
            }
        }
        char name[sizeof slot->peer];
        FormatAddress(name, sizeof name, peer);
        if (slot == nullptr) {
            closesocket(s);
            output->refused++;
            LogLine("network %s: client %s refused: %d clients already", output->label, name,
                    static_cast<int>(kMaxTcpClients));
            continue;
        }
        u_long nonBlocking = 1;
        ioctlsocket(s, FIONBIO, &nonBlocking);
        setsockopt(s, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&kClientSendBuffer),
                   sizeof kClientSendBuffer);
        *slot = TcpClient{s, "", 0, 0, 0};
        std::memcpy(slot->peer, name, sizeof name);
        output->clients++;
        LogLine("network %s: client %s connected (%d of %d)", output->label, name,
                static_cast<int>(inUse + 1), static_cast<int>(kMaxTcpClients));
    }
}

// Reads what the client sent (a reader has nothing to say); false with a reason when it must go.
bool ClientStillWanted(TcpClient* client, const char** why) {
    for (;;) {
        const int n = recv(client->socket, readScratch, kReadChunk, 0);
        if (n == 0) {
            *why = "closed by the client";
            return false;
        }
        if (n == SOCKET_ERROR) {
            const int error = WSAGetLastError();
            *why = error == WSAEWOULDBLOCK ? nullptr : ErrorText(static_cast<DWORD>(error));
            return error == WSAEWOULDBLOCK;
        }
        client->received += n;
        if (client->received > kClientInputLimit) {
            *why = "sent more than 4 KiB";
            return false;
        }
    }
}

void NoteSent(NetworkOutput* output, int32_t length) {
    TallyText(&output->tally, "network", output->label, "sent", length);
}

void SendDatagram(NetworkOutput* output, const char* data, int32_t length) {
    const int sent = sendto(output->socket, data, length, 0,
                            reinterpret_cast<const sockaddr*>(&output->address), sizeof output->address);
    if (sent == length) {
        NoteSent(output, length);
    } else {
        const int error = sent == SOCKET_ERROR ? WSAGetLastError() : 0;
        TallyFailure(&output->tally, "network", output->label, "send failed", static_cast<DWORD>(error));
    }
}

void ServeClients(NetworkOutput* output, TcpClient* slots, const char* text, int32_t length, DWORD tick) {
    AcceptClients(output, slots);
    for (int32_t i = 0; i < kMaxTcpClients; ++i) {
        TcpClient* client = &slots[i];
        const char* why = nullptr;
        if (client->socket == INVALID_SOCKET) {
            continue;
        }
        if (!ClientStillWanted(client, &why)) {
            CloseClient(output, client, why);
            continue;
        }
        const int sent = send(client->socket, text, length, 0);
        if (sent == length) {
            client->full = 0;
            NoteSent(output, length);
        } else if (sent == SOCKET_ERROR && WSAGetLastError() != WSAEWOULDBLOCK) {
            CloseClient(output, client, ErrorText(static_cast<DWORD>(WSAGetLastError())));
        } else if (!client->full) {
            // The client's buffer is full: it misses this cycle (a partial text ends in a bad checksum).
            client->full = 1;
            client->fullSince = tick;
        } else if (tick - client->fullSince >= kClientStallMs) {
            CloseClient(output, client, "not reading for 5 s");
        }
    }
}

} // namespace

void ResetNetworkOutputs(void) {
    winsockStarted = 0;
    for (int32_t i = 0; i < kMaxNetworkEntries; ++i) {
        outputs[i] = NetworkOutput{INVALID_SOCKET, {}, "", {0, 0, 0}, 0, 0, 0};
        for (TcpClient& client : clients[i]) {
            client.socket = INVALID_SOCKET;
        }
    }
    lastFixTick = 0;
    fixSent = 0;
}

int32_t OpenNetworkOutputs(void) {
    ResetNetworkOutputs();
    if (networkEntryCount == 0) {
        return 0;
    }
    WSADATA data;
    const int error = WSAStartup(kWinsockVersion, &data);
    if (error != 0) {
        LogLine("network: Winsock 2.2 did not start: %s", ErrorText(static_cast<DWORD>(error)));
        return 0;
    }
    winsockStarted = 1;
    int32_t ready = 0;
    for (int32_t i = 0; i < networkEntryCount; ++i) {
        const NetworkEntry& entry = networkEntries[i];
        NetworkOutput* output = &outputs[i];
        output->address.sin_family = AF_INET;
        output->address.sin_port = NetworkOrder16(entry.port);
        output->address.sin_addr.s_addr = NetworkOrder32(entry.address);
        char address[24];
        FormatAddress(address, sizeof address, output->address);
        std::snprintf(output->label, kLabelSize, "%s %s", NetworkKindName(entry.kind), address);
        output->socket = OpenSocket(entry, output);
        ready += output->socket != INVALID_SOCKET ? 1 : 0;
    }
    return ready;
}

void CloseNetworkOutputs(void) {
    for (int32_t i = 0; i < kMaxNetworkEntries; ++i) {
        for (TcpClient& client : clients[i]) {
            if (client.socket != INVALID_SOCKET) {
                closesocket(client.socket);
                client.socket = INVALID_SOCKET;
            }
        }
        if (outputs[i].socket != INVALID_SOCKET) {
            closesocket(outputs[i].socket);
            outputs[i].socket = INVALID_SOCKET;
        }
    }
    if (winsockStarted) {
        WSACleanup();
        winsockStarted = 0;
    }
}

bool NetworkTakesText(void) {
    for (int32_t i = 0; i < networkEntryCount; ++i) {
        const int32_t kind = networkEntries[i].kind;
        if ((kind == kNetworkUdp || kind == kNetworkTcp) && outputs[i].socket != INVALID_SOCKET) {
            return true;
        }
    }
    return false;
}

void SendNetworkText(const char* text, int32_t length, DWORD tick) {
    if (length <= 0) {
        return;
    }
    for (int32_t i = 0; i < networkEntryCount; ++i) {
        NetworkOutput* output = &outputs[i];
        if (output->socket == INVALID_SOCKET) {
            continue;
        }
        if (networkEntries[i].kind == kNetworkUdp) {
            SendDatagram(output, text, length);
        } else if (networkEntries[i].kind == kNetworkTcp) {
            ServeClients(output, clients[i], text, length, tick);
        }
    }
}

void SendNetworkFix(DWORD tick) {
    const bool fixDue = !fixSent || tick - lastFixTick >= kFixPeriodMs;
    // The host's first generation gives no attitude.
    const bool attitude = HostGeneration != 0;
    bool sentAny = false;
    for (const FixRecord& record : kFixRecords) {
        if ((record.oncePerSecond && !fixDue) || (record.attitude && !attitude) ||
            !NetworkHasKind(record.kind)) {
            continue;
        }
        const int32_t length = record.append(recordBuffer);
        for (int32_t i = 0; i < networkEntryCount; ++i) {
            if (networkEntries[i].kind == record.kind && outputs[i].socket != INVALID_SOCKET) {
                SendDatagram(&outputs[i], recordBuffer, length);
                sentAny = true;
            }
        }
    }
    if (fixDue && sentAny) {
        fixSent = 1;
        lastFixTick = tick;
    }
}

void LogNetworkSummary(void) {
    for (int32_t i = 0; i < networkEntryCount; ++i) {
        const NetworkOutput& output = outputs[i];
        if (networkEntries[i].kind == kNetworkTcp) {
            LogLine("summary: network %s: %u clients (%u refused, %u closed), %u texts, %u bytes",
                    output.label, output.clients, output.refused, output.closed, output.tally.texts,
                    output.tally.bytes);
        } else {
            LogLine("summary: network %s: %u datagrams, %u bytes, %u failed", output.label,
                    output.tally.texts, output.tally.bytes, output.tally.failures);
        }
    }
}
