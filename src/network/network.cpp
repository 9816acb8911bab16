// The network outputs. Sockets are made at start-up and closed at shut-down on the host's thread; between
// the two only the output thread touches them. A reader that cannot keep up loses cycles or is closed,
// never holding up the others.
#include "network/network.h"

#include <cstring>

#include "log/log.h"
#include "network/datagram.h"
#include "network/discovery.h"
#include "sentences/network_records.h"
#include "settings/network_settings.h"

namespace {

constexpr WORD kWinsockVersion = MAKEWORD(2, 2);
constexpr int32_t kReadChunk = 512;

// The initial values of both are those of a closed entry and a free slot, from load on.
struct NetworkOutput {
    Destination out;      // udp, xgps, gdl90: the destination; tcp: the listening socket and its label
    uint32_t clients = 0; // tcp: accepted, refused and closed
    uint32_t refused = 0;
    uint32_t closed = 0;
};

struct TcpClient {
    SOCKET socket = INVALID_SOCKET; // INVALID_SOCKET: a free slot
    char peer[24] = {};             // "127.0.0.1:50123" for the log
    int32_t full = 0;               // the last send found the client's buffer full
    DWORD fullSince = 0;
    DWORD inputSince = 0;   // its input is counted in windows of kClientInputWindowMs from the first byte
    int32_t inputBytes = 0; // bytes the client has sent within the current window
};

// Written at start-up and shut-down on the host's thread, used by the output thread in between.
NetworkOutput outputs[kMaxNetworkEntries];
TcpClient clients[kMaxNetworkEntries][kMaxTcpClients];
// Output thread only.
char recordBuffer[kNetworkRecordSize];
char readScratch[kReadChunk];

// The feed records, in the order they go out at a step.
struct FeedRecord {
    int32_t kind;
    uint32_t set; // kFeed...
    int32_t (*append)(char* out, const Gdl90Status& status, const NavSnapshot& s);
};
const FeedRecord kFeedRecords[] = {
    {kNetworkXgps, kFeedPosition,
     [](char* out, const Gdl90Status&, const NavSnapshot& s) { return AppendXgps(out, s); }},
    {kNetworkXgps, kFeedAttitude,
     [](char* out, const Gdl90Status&, const NavSnapshot& s) { return AppendXatt(out, s); }},
    {kNetworkGdl90, kFeedHeartbeat,
     [](char* out, const Gdl90Status& status, const NavSnapshot&) {
         return AppendGdl90Heartbeat(out, status);
     }},
    {kNetworkGdl90, kFeedPosition,
     [](char* out, const Gdl90Status&, const NavSnapshot& s) { return AppendGdl90Ownship(out, s); }},
    {kNetworkGdl90, kFeedPosition,
     [](char* out, const Gdl90Status&, const NavSnapshot& s) {
         return AppendGdl90GeometricAltitude(out, s);
     }},
    {kNetworkGdl90, kFeedHeartbeat,
     [](char* out, const Gdl90Status&, const NavSnapshot&) { return AppendGdl90Identification(out); }},
    {kNetworkGdl90, kFeedAttitude,
     [](char* out, const Gdl90Status&, const NavSnapshot& s) { return AppendGdl90Ahrs(out, s); }},
};

bool IsDestination(const NetworkEntry& entry) {
    return entry.kind != kNetworkTcp && !IsDiscoveryEntry(entry);
}

// A non-blocking TCP server socket, bound and listening; false when it cannot listen (logged).
bool OpenServer(const NetworkEntry& entry, NetworkOutput* output) {
    Destination* d = &output->out;
    d->kind = "tcp";
    d->address = SocketAddress(entry.address, entry.port);
    LabelDestination(d);
    const SOCKET s = OpenSocket(d->label, SOCK_STREAM);
    if (s == INVALID_SOCKET) {
        return false;
    }
    u_long nonBlocking = 1;
    if (ioctlsocket(s, FIONBIO, &nonBlocking) != 0 ||
        bind(s, reinterpret_cast<const sockaddr*>(&d->address), sizeof d->address) != 0 ||
        listen(s, kMaxTcpClients) != 0) {
        LogLine("network %s: cannot listen: %s", d->label, ErrorText(static_cast<DWORD>(WSAGetLastError())));
        closesocket(s);
        return false;
    }
    d->socket = s;
    LogLine("network %s: listening", d->label);
    return true;
}

void CloseClient(NetworkOutput* output, TcpClient* client, const char* why) {
    closesocket(client->socket);
    client->socket = INVALID_SOCKET;
    output->closed++;
    LogLine("network %s: client %s closed: %s", output->out.label, client->peer, why);
}

// Takes the waiting connections into free slots, at most kAcceptsPerCycle; a client beyond the last slot is
// closed at once.
void AcceptClients(NetworkOutput* output, TcpClient* slots, DWORD tick) {
    for (int32_t accepted = 0; accepted < kAcceptsPerCycle; ++accepted) {
        sockaddr_in peer;
        int peerLength = sizeof peer;
        const SOCKET s = accept(output->out.socket, reinterpret_cast<sockaddr*>(&peer), &peerLength);
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
            LogLine("network %s: client %s refused: %d clients already", output->out.label, name,
                    static_cast<int>(kMaxTcpClients));
            continue;
        }
        u_long nonBlocking = 1;
        ioctlsocket(s, FIONBIO, &nonBlocking);
        setsockopt(s, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&kClientSendBuffer),
                   sizeof kClientSendBuffer);
        *slot = TcpClient{s, "", 0, 0, tick, 0};
        std::memcpy(slot->peer, name, sizeof name);
        output->clients++;
        LogLine("network %s: client %s connected (%d of %d)", output->out.label, name,
                static_cast<int>(inUse + 1), static_cast<int>(kMaxTcpClients));
    }
}

// Reads what the client sent (a reader has nothing to say); false with a reason when it must go.
bool ClientStillWanted(TcpClient* client, DWORD tick, const char** why) {
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
        if (client->inputBytes == 0 || tick - client->inputSince >= kClientInputWindowMs) {
            client->inputSince = tick;
            client->inputBytes = 0;
        }
        client->inputBytes += n;
        if (client->inputBytes > kClientInputLimit) {
            *why = "sent more than 4 KiB within 5 s";
            return false;
        }
    }
}

void ServeClients(NetworkOutput* output, TcpClient* slots, const char* text, int32_t length, DWORD tick) {
    AcceptClients(output, slots, tick);
    for (int32_t i = 0; i < kMaxTcpClients; ++i) {
        TcpClient* client = &slots[i];
        const char* why = nullptr;
        if (client->socket == INVALID_SOCKET) {
            continue;
        }
        if (!ClientStillWanted(client, tick, &why)) {
            CloseClient(output, client, why);
            continue;
        }
        const int sent = send(client->socket, text, length, 0);
        if (sent == length) {
            client->full = 0;
            TallyText(&output->out.tally, "network", output->out.label, "sent", length);
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
    for (int32_t i = 0; i < kMaxNetworkEntries; ++i) {
        outputs[i] = NetworkOutput{};
        for (TcpClient& client : clients[i]) {
            client = TcpClient{};
        }
    }
    ResetDiscovery();
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
    int32_t ready = 0;
    for (int32_t i = 0; i < networkEntryCount; ++i) {
        const NetworkEntry& entry = networkEntries[i];
        bool opened;
        if (IsDiscoveryEntry(entry)) {
            opened = OpenDiscovery(entry, i);
        } else if (entry.kind == kNetworkTcp) {
            opened = OpenServer(entry, &outputs[i]);
        } else {
            opened = OpenDestination(&outputs[i].out, NetworkKindName(entry.kind), entry.address, entry.port,
                                     kMayBroadcast);
        }
        ready += opened ? 1 : 0;
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
        CloseDestination(&outputs[i].out);
    }
    CloseDiscovery();
}

bool NetworkTakesText(void) {
    for (int32_t i = 0; i < networkEntryCount; ++i) {
        const int32_t kind = networkEntries[i].kind;
        if ((kind == kNetworkUdp || kind == kNetworkTcp) && outputs[i].out.socket != INVALID_SOCKET) {
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
        if (output->out.socket == INVALID_SOCKET) {
            continue;
        }
        if (networkEntries[i].kind == kNetworkUdp) {
            SendToDestination(&output->out, text, length);
        } else if (networkEntries[i].kind == kNetworkTcp) {
            ServeClients(output, clients[i], text, length, tick);
        }
    }
}

void SendFeedRecords(uint32_t records, const Gdl90Status& status, const NavSnapshot& s) {
    for (const FeedRecord& record : kFeedRecords) {
        if ((records & record.set) == 0 || !NetworkHasKind(record.kind)) {
            continue;
        }
        const int32_t length = record.append(recordBuffer, status, s);
        if (length == 0) {
            continue; // a value it holds is missing
        }
        for (int32_t i = 0; i < networkEntryCount; ++i) {
            if (networkEntries[i].kind == record.kind && IsDestination(networkEntries[i])) {
                SendToDestination(&outputs[i].out, recordBuffer, length);
            }
        }
        if (record.kind == kNetworkGdl90) {
            SendToTablets(recordBuffer, length);
        }
    }
}

void PollNetwork(DWORD tick) {
    for (int32_t i = 0; i < networkEntryCount; ++i) {
        if (IsDestination(networkEntries[i])) {
            PollDestination(&outputs[i].out);
        }
    }
    PollDiscovery(tick);
}

void LogNetworkSummary(void) {
    for (int32_t i = 0; i < networkEntryCount; ++i) {
        const NetworkOutput& output = outputs[i];
        if (networkEntries[i].kind == kNetworkTcp) {
            LogLine("summary: network %s: %u clients (%u refused, %u closed), %u texts, %u bytes",
                    output.out.label, output.clients, output.refused, output.closed, output.out.tally.texts,
                    output.out.tally.bytes);
        } else if (IsDestination(networkEntries[i])) {
            LogDestinationSummary(output.out);
        }
    }
    LogDiscoverySummary();
}
