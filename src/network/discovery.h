// Tablets found without an address (gdl90:auto): ForeFlight, and any app that does the same, announces
// itself on the network, and each tablet that does gets the GDL 90 feed unicast at the port it names, until
// it falls silent.
#pragma once

#include <cstdint>

#include "platform/win32.h"
#include "settings/network_settings.h"

constexpr int32_t kMaxTablets = 8;
constexpr DWORD kTabletSilenceMs = 15000;       // a tablet is forgotten this long after its last announcement
constexpr int32_t kAnnouncementMaxBytes = 1024; // ForeFlight's are about a tenth of this
constexpr int32_t kAnnouncementsPerStep = 16;   // per listener: a flood costs the output thread this much

// Start-up, host's thread: the listener of a gdl90:auto entry (index in networkEntries), bound to every
// interface at the entry's port. False (logged) when it cannot listen.
bool OpenDiscovery(const NetworkEntry& entry, int32_t index);
// Every listener and tablet closed, every count at zero, as at load, without touching any socket.
void ResetDiscovery(void);
// Shut-down, host's thread, after the output thread has ended.
void CloseDiscovery(void);

// Output thread, once a step: reads the announcements waiting (bounded), finds, retargets and forgets
// tablets, and reads the refusals reported for the last step's datagrams.
void PollDiscovery(DWORD tick);
// One GDL 90 datagram to every tablet known.
void SendToTablets(const char* data, int32_t length);

// Shut-down: each listener's and each tablet's summary line.
void LogDiscoverySummary(void);
