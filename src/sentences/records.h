// One appender per output record. Each formats its record from the snapshot `s` at offset `length` of `text`
// (a cycle's buffer of kOutputBufferSize bytes) and returns the new length; the NMEA ones include their
// checksum and line end.
#pragma once

#include <cstdint>

#include "sampling/snapshot.h"

constexpr double kFeetPerMetre = 3.28084; // altitude in feet for PGRMZ, the aviation block and RPY

int32_t AppendGsa(char* text, int32_t length);
int32_t AppendGsv(char* text, int32_t length); // both GSV sentences
int32_t AppendRma(char* text, int32_t length, const NavSnapshot& s);
int32_t AppendRmc(char* text, int32_t length, const NavSnapshot& s, int32_t hundredths);
int32_t AppendGll(char* text, int32_t length, const NavSnapshot& s, int32_t hundredths);
int32_t AppendVtg(char* text, int32_t length, const NavSnapshot& s);
int32_t AppendGga(char* text, int32_t length, const NavSnapshot& s, int32_t hundredths);
int32_t AppendPgrmz(char* text, int32_t length, const NavSnapshot& s);
int32_t AppendAviationBlock(char* text, int32_t length, const NavSnapshot& s);
int32_t AppendAttitude(char* text, int32_t length, const NavSnapshot& s);
int32_t AppendTextPosition(char* text, int32_t length, const NavSnapshot& s);
int32_t AppendHdt(char* text, int32_t length, const NavSnapshot& s);
int32_t AppendHdm(char* text, int32_t length, const NavSnapshot& s);
int32_t AppendHdg(char* text, int32_t length, const NavSnapshot& s);
int32_t AppendLk8ex1(char* text, int32_t length, const NavSnapshot& s);
int32_t AppendLxwp0(char* text, int32_t length, const NavSnapshot& s);

// Appends every selected record in the cycle's fixed order to `text` from offset 0; returns the length.
int32_t ComposeRecords(char* text, const NavSnapshot& s, int32_t hundredths);
