// The records of the network outputs, composed from the snapshot on the output thread: GDL 90 frames and
// the EFB simulator text lines. Each is one datagram.
#pragma once

#include <cstdint>

// A frame or line never exceeds this: the longest GDL 90 message (39 bytes) framed and fully stuffed.
constexpr int32_t kNetworkRecordSize = 96;

// The GDL 90 frame check sequence over `length` bytes (the message ID and data).
uint16_t Gdl90Crc(const uint8_t* data, int32_t length);
// Frames a message (ID and data): flag, bytes and check sequence with 0x7D and 0x7E escaped, flag.
// Returns the frame's length; out holds kNetworkRecordSize bytes.
int32_t Gdl90Frame(const uint8_t* message, int32_t length, char* out);

// One frame each, from navSnapshot; each returns its length.
int32_t AppendGdl90Heartbeat(char* out);
int32_t AppendGdl90Ownship(char* out);
int32_t AppendGdl90GeometricAltitude(char* out);
int32_t AppendGdl90Identification(char* out);
int32_t AppendGdl90Ahrs(char* out);

// One line each, without a line end, from navSnapshot.
int32_t AppendXgps(char* out);
int32_t AppendXatt(char* out);
