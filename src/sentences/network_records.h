// The records of the network outputs, composed from the snapshot on the output thread: GDL 90 frames and
// the EFB simulator text lines. Each is one datagram.
#pragma once

#include <cstdint>

#include "sampling/snapshot.h"

// A frame or line never exceeds this: the longest GDL 90 message (39 bytes) framed and fully stuffed.
constexpr int32_t kNetworkRecordSize = 96;

// The GDL 90 frame check sequence over `length` bytes (the message ID and data).
uint16_t Gdl90Crc(const uint8_t* data, int32_t length);
// Frames a message (ID and data): flag, bytes and check sequence with 0x7D and 0x7E escaped, flag.
// Returns the frame's length; out holds kNetworkRecordSize bytes.
int32_t Gdl90Frame(const uint8_t* message, int32_t length, char* out);

// What the heartbeat tells, kept by the output thread: it goes every second, also while no sample comes.
struct Gdl90Status {
    int32_t secondsOfDay; // the time stamp: the clock of the last sample
    bool positionValid;   // a position from the last 3 s; also says that the time is UTC
};
// The heartbeat's time stamp for a snapshot: seconds since 0000Z, held within the day.
int32_t Gdl90SecondsOfDay(const NavSnapshot& s);
int32_t AppendGdl90Heartbeat(char* out, const Gdl90Status& status);

// One frame each, from the snapshot; each returns its length. A value the host gave none of goes as its
// field's "no data" code; a message that has none for it is left out (length 0).
int32_t AppendGdl90Ownship(char* out, const NavSnapshot& s);
int32_t AppendGdl90GeometricAltitude(char* out, const NavSnapshot& s);
int32_t AppendGdl90Identification(char* out);
int32_t AppendGdl90Ahrs(char* out, const NavSnapshot& s);

// One line each, without a line end, from the snapshot; left out (length 0) when a value it holds is missing.
int32_t AppendXgps(char* out, const NavSnapshot& s);
int32_t AppendXatt(char* out, const NavSnapshot& s);
