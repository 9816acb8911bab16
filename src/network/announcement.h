// The discovery announcement: while in the foreground ForeFlight broadcasts a JSON datagram to UDP port 63093
// every 5 s, naming the port it takes GDL 90 on, and other apps may announce themselves in the same form
// under their own "App" name. GDL 90 then goes unicast to the announcing address.
#pragma once

#include <cstdint>

enum AnnouncementVerdict {
    kAnnouncementGdl90,     // an announcement with a GDL 90 port, from whichever app
    kAnnouncementMalformed, // not one JSON object (or nested deeper than the parser follows)
    kAnnouncementNoPort,    // no "GDL90" object with an integer "port" 1..65535
};

// What an app announces: the port it takes GDL 90 at, and its name as it gives it.
struct Announcement {
    uint16_t port;
    const char* app;   // the last "App" string's raw bytes between the quotes, escapes unresolved, inside the
                       // datagram; nullptr when there is none
    int32_t appLength; // bytes at app
};

// Reads one datagram of `length` bytes (not terminated; may hold any bytes, NUL included).
// Sets *found only for kAnnouncementGdl90.
AnnouncementVerdict ParseAnnouncement(const char* data, int32_t length, Announcement* found);
