// The network outputs chosen in the INI file: "Network" (a comma-separated list of entries), "NetworkName",
// "AttitudeRate" and "PressureAltitude". None is written back; without them the module has no network output.
#pragma once

#include <cstdint>

enum NetworkKind {
    kNetworkUdp,   // udp:HOST:PORT, each cycle's text as one datagram
    kNetworkTcp,   // tcp:PORT or tcp:ADDR:PORT, a server sending each cycle's text to its clients
    kNetworkXgps,  // xgps:HOST[:PORT], the EFB simulator text format
    kNetworkGdl90, // gdl90:HOST[:PORT], GDL 90 frames; gdl90:auto[:PORT] to the tablets that announce
                   // themselves
};

struct NetworkEntry {
    int32_t kind;     // NetworkKind
    uint32_t address; // IPv4, host byte order; for tcp and gdl90:auto the local address (0: every interface)
    uint16_t port;    // for gdl90:auto the port the announcements come to
};

constexpr int32_t kMaxNetworkEntries = 8;
constexpr uint16_t kXgpsDefaultPort = 49002;
constexpr uint16_t kGdl90DefaultPort = 4000;
constexpr uint16_t kDiscoveryDefaultPort = 63093; // where ForeFlight announces itself
constexpr int32_t kNetworkNameLength = 8;         // letters and digits
constexpr int32_t kDefaultAttitudeRate = 5;       // Hz
constexpr int32_t kMinAttitudeRate = 1;
constexpr int32_t kMaxAttitudeRate = 10;

// Written by LoadNetworkSettings on the host's thread before the output thread exists; read-only afterwards.
extern NetworkEntry networkEntries[kMaxNetworkEntries];
extern int32_t networkEntryCount;
extern char networkName[kNetworkNameLength + 1];
extern int32_t attitudeRate; // "AttitudeRate": AHRS and XATT per second
// "PressureAltitude": whether the GDL 90 ownship report sends the altitude as pressure altitude.
extern bool pressureAltitude;

// Reads "Network", "NetworkName", "AttitudeRate" and "PressureAltitude" from section "Waypost" of the INI
// file at path.
// Malformed entries, one cut off by the read's size, and those beyond the eighth, are skipped (and logged);
// the others are kept in their order.
void LoadNetworkSettings(const char* path);

// "udp", "tcp", "xgps" or "gdl90".
const char* NetworkKindName(int32_t kind);

// Whether an entry of this kind is configured.
bool NetworkHasKind(int32_t kind);
// Whether an xgps or gdl90 entry asks for the feeds, at their own rates and with attitude.
bool NetworkHasFeeds(void);
// Whether the entry listens for ForeFlight's announcements (gdl90:auto) rather than naming a destination.
bool IsDiscoveryEntry(const NetworkEntry& entry);

// One entry such as "udp:127.0.0.1:10110" (the kind in any case, no blanks): true and *entry filled when it
// is well formed.
bool ParseNetworkEntry(const char* text, NetworkEntry* entry);
