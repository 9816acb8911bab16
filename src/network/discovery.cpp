// The tablets' discovery. While in front, ForeFlight broadcasts a small JSON datagram every 5 s to port
// 63093, naming the port it takes GDL 90 at, and any app may announce itself in the same form; iOS cannot
// rely on receiving broadcasts, so the feed goes unicast to the announcing address. Only private,
// link-local and loopback sources are taken: a tablet on the same network has such an address, and nothing
// from outside may make the module send somewhere. A source that is a broadcast address of its network
// gets a socket that may not broadcast, so the system refuses to send there.
#include "network/discovery.h"

#include <cstdio>
#include <cstring>

#include "log/log.h"
#include "network/announcement.h"
#include "network/datagram.h"

namespace {

enum IgnoreReason { kTooLong, kNoDevice, kForeignSource, kMalformed, kNoPort, kReasonCount };
const char* const kReasonTexts[kReasonCount] = {
    "longer than 1024 bytes",
    "not from a device's own address",
    "not from a private, link-local or loopback address",
    "not a JSON object",
    "no GDL 90 port 1 to 65535 in it",
};

constexpr uint32_t kLimitedBroadcast = 0xFFFFFFFF; // 255.255.255.255; 0.0.0.0 is no device's either
constexpr int32_t kAppNameMax = 32;                // characters of an app's name in the log
const char kUnnamedApp[] = "an unnamed app";       // what an announcement without an "App" name is called

// The initial values of both are those of a closed listener and a free slot, from load on.
struct Listener {
    SOCKET socket = INVALID_SOCKET; // INVALID_SOCKET: no gdl90:auto entry here, or it could not listen
    char label[kLabelSize] = {};    // "gdl90 auto:63093"
    uint32_t announcements = 0;     // datagrams read
    uint32_t ignored = 0;
    uint32_t reasonsLogged = 0; // one bit per IgnoreReason: logged once, then only counted
};

struct Tablet {
    Destination out;                // out.socket INVALID_SOCKET: a free slot; out.address: the tablet's
    DWORD lastHeard = 0;            // tick of its last announcement
    char app[kAppNameMax + 1] = {}; // the name its last announcement gave, for the log
};

// Written at start-up and shut-down on the host's thread, used by the output thread in between.
Listener listeners[kMaxNetworkEntries];
// Output thread only, but for shut-down.
Tablet tablets[kMaxTablets];
uint32_t tabletsFound = 0;
uint32_t tabletsTurnedAway = 0; // announcements of a ninth tablet
char announcement[kAnnouncementMaxBytes + 1];

// 127/8 loopback, 10/8, 172.16/12 and 192.168/16 private, 169.254/16 link-local.
bool NearbySource(uint32_t address) {
    return address >> 24 == 127 || address >> 24 == 10 || address >> 20 == 0xAC1 || address >> 16 == 0xC0A8 ||
           address >> 16 == 0xA9FE;
}

void Ignore(Listener* listener, const sockaddr_in& from, IgnoreReason reason) {
    listener->ignored++;
    if ((listener->reasonsLogged & 1u << reason) == 0) {
        listener->reasonsLogged |= 1u << reason;
        char source[24];
        FormatAddress(source, sizeof source, from);
        LogLine("network %s: an announcement from %s ignored: %s; later ones are only counted",
                listener->label, source, kReasonTexts[reason]);
    }
}

// The app's name as the log gives it: at most kAppNameMax characters, each byte outside printable ASCII as
// "?", so that no announcement can write more than a name into the log.
void NameApp(const Announcement& announced, char* name) {
    if (announced.app == nullptr || announced.appLength == 0) {
        std::memcpy(name, kUnnamedApp, sizeof kUnnamedApp);
        return;
    }
    const int32_t length = announced.appLength < kAppNameMax ? announced.appLength : kAppNameMax;
    for (int32_t i = 0; i < length; ++i) {
        name[i] = announced.app[i] >= ' ' && announced.app[i] <= '~' ? announced.app[i] : '?';
    }
    name[length] = '\0';
}

// An announcement from `address`: the tablet is found, keeps its place, or has moved its port.
void Heard(uint32_t address, const Announcement& announced, DWORD tick) {
    char host[16];
    FormatHost(host, sizeof host, address);
    char app[kAppNameMax + 1];
    NameApp(announced, app);
    const uint16_t port = announced.port;
    Tablet* slot = nullptr;
    for (Tablet& tablet : tablets) {
        if (tablet.out.socket == INVALID_SOCKET) {
            slot = slot != nullptr ? slot : &tablet;
        } else if (HostOrderAddress(tablet.out.address) == address) {
            tablet.lastHeard = tick;
            std::memcpy(tablet.app, app, sizeof app);
            if (NetworkOrder16(tablet.out.address.sin_port) != port) {
                RetargetDestination(&tablet.out, port);
                LogLine("network: %s at %s now asks for GDL 90 on port %u", app, host,
                        static_cast<unsigned>(port));
            }
            return;
        }
    }
    if (slot == nullptr) {
        if (tabletsTurnedAway++ == 0) {
            LogLine("network: %s at %s ignored: %d tablets get the feed already; later ones are only counted",
                    app, host, static_cast<int>(kMaxTablets));
        }
        return;
    }
    if (!OpenDestination(&slot->out, "gdl90", address, port, kOneDevice)) {
        return;
    }
    slot->lastHeard = tick;
    std::memcpy(slot->app, app, sizeof app);
    tabletsFound++;
    LogLine("network: %s at %s asks for GDL 90 on port %u", app, host, static_cast<unsigned>(port));
}

// Reads at most kAnnouncementsPerStep datagrams, so that a flood cannot hold the output thread.
void ReadAnnouncements(Listener* listener, DWORD tick) {
    for (int32_t read = 0; read < kAnnouncementsPerStep; ++read) {
        sockaddr_in from = {};
        int fromLength = sizeof from;
        const int length = recvfrom(listener->socket, announcement, sizeof announcement, 0,
                                    reinterpret_cast<sockaddr*>(&from), &fromLength);
        // Windows refuses a datagram longer than the buffer; elsewhere it comes cut to the buffer's size.
        const bool tooLong =
            length == SOCKET_ERROR ? WSAGetLastError() == WSAEMSGSIZE : length > kAnnouncementMaxBytes;
        if (length == SOCKET_ERROR && !tooLong) {
            return; // nothing waiting, or a failure tried again next step
        }
        listener->announcements++;
        const uint32_t source = HostOrderAddress(from);
        Announcement announced = {0, nullptr, 0};
        if (tooLong) {
            Ignore(listener, from, kTooLong);
            continue;
        }
        if (source == 0 || source == kLimitedBroadcast) {
            Ignore(listener, from, kNoDevice);
            continue;
        }
        if (!NearbySource(source)) {
            Ignore(listener, from, kForeignSource);
            continue;
        }
        switch (ParseAnnouncement(announcement, length, &announced)) {
        case kAnnouncementGdl90:
            Heard(source, announced, tick);
            break;
        case kAnnouncementMalformed:
            Ignore(listener, from, kMalformed);
            break;
        case kAnnouncementNoPort:
            Ignore(listener, from, kNoPort);
            break;
        }
    }
}

} // namespace

void ResetDiscovery(void) {
    for (Listener& listener : listeners) {
        listener = Listener{};
    }
    for (Tablet& tablet : tablets) {
        tablet = Tablet{};
    }
    tabletsFound = 0;
    tabletsTurnedAway = 0;
}

bool OpenDiscovery(const NetworkEntry& entry, int32_t index) {
    Listener* listener = &listeners[index];
    std::snprintf(listener->label, kLabelSize, "gdl90 auto:%u", static_cast<unsigned>(entry.port));
    const SOCKET s = OpenSocket(listener->label, SOCK_DGRAM);
    if (s == INVALID_SOCKET) {
        return false;
    }
    u_long nonBlocking = 1;
    const BOOL on = TRUE;
    const sockaddr_in address = SocketAddress(entry.address, entry.port);
    // Other programs on this computer may wait for the same broadcasts: share the port with them.
    if (ioctlsocket(s, FIONBIO, &nonBlocking) != 0 ||
        setsockopt(s, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&on), sizeof on) != 0 ||
        bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        LogLine("network %s: cannot listen: %s", listener->label,
                ErrorText(static_cast<DWORD>(WSAGetLastError())));
        closesocket(s);
        return false;
    }
    listener->socket = s;
    LogLine("network %s: listening for the tablets' announcements", listener->label);
    return true;
}

void CloseDiscovery(void) {
    for (Listener& listener : listeners) {
        if (listener.socket != INVALID_SOCKET) {
            closesocket(listener.socket);
            listener.socket = INVALID_SOCKET;
        }
    }
    for (Tablet& tablet : tablets) {
        CloseDestination(&tablet.out);
    }
}

void PollDiscovery(DWORD tick) {
    for (Listener& listener : listeners) {
        if (listener.socket != INVALID_SOCKET) {
            ReadAnnouncements(&listener, tick);
        }
    }
    for (Tablet& tablet : tablets) {
        if (tablet.out.socket == INVALID_SOCKET) {
            continue;
        }
        PollDestination(&tablet.out);
        if (tick - tablet.lastHeard >= kTabletSilenceMs) {
            char host[16];
            FormatHost(host, sizeof host, HostOrderAddress(tablet.out.address));
            LogLine("network: %s at %s forgotten: no announcement for %u s", tablet.app, host,
                    static_cast<unsigned>(kTabletSilenceMs / 1000));
            LogDestinationSummary(tablet.out);
            CloseDestination(&tablet.out);
        }
    }
}

void SendToTablets(const char* data, int32_t length) {
    for (Tablet& tablet : tablets) {
        SendToDestination(&tablet.out, data, length);
    }
}

void LogDiscoverySummary(void) {
    for (const Listener& listener : listeners) {
        if (listener.label[0] != '\0') {
            LogLine("summary: network %s: %u announcements, %u ignored; %u tablets found, %u turned away",
                    listener.label, listener.announcements, listener.ignored, tabletsFound,
                    tabletsTurnedAway);
        }
    }
    for (const Tablet& tablet : tablets) {
        if (tablet.out.socket != INVALID_SOCKET) {
            LogDestinationSummary(tablet.out);
        }
    }
}
