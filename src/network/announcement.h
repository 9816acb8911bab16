// ForeFlight's discovery announcement: while in the foreground the app broadcasts a JSON datagram to UDP port
// 63093 every 5 s, naming the port it takes GDL 90 on. GDL 90 then goes unicast to the announcing address.
#pragma once

#include <cstdint>

enum AnnouncementVerdict {
    kAnnouncementForeFlight, // a ForeFlight announcement with a GDL 90 port
    kAnnouncementMalformed,  // not one JSON object (or nested deeper than the parser follows)
    kAnnouncementOtherApp,   // a JSON object whose "App" is missing or is not "ForeFlight"
    kAnnouncementNoPort,     // ForeFlight's, but no "GDL90" object with an integer "port" 1..65535
};

// Reads one datagram of `length` bytes (not terminated; may hold any bytes, NUL included).
// Sets *port only for kAnnouncementForeFlight.
AnnouncementVerdict ParseAnnouncement(const char* data, int32_t length, uint16_t* port);
