// One appender per output record. Each formats its record from navSnapshot at `length` in OutputBuffer and
// returns the new length; the NMEA ones include their checksum and line end.
#pragma once

#include <cstdint>

constexpr double kFeetPerMetre = 3.28084; // altitude in feet for PGRMZ, the aviation block and RPY

int32_t AppendGsa(int32_t length);
int32_t AppendGsv(int32_t length); // both GSV sentences
int32_t AppendRma(int32_t length);
int32_t AppendRmc(int32_t length, int32_t hundredths);
int32_t AppendGll(int32_t length, int32_t hundredths);
int32_t AppendVtg(int32_t length);
int32_t AppendGga(int32_t length, int32_t hundredths);
int32_t AppendPgrmz(int32_t length);
int32_t AppendAviationBlock(int32_t length);
int32_t AppendAttitude(int32_t length);
int32_t AppendTextPosition(int32_t length);

// Appends every selected record in the cycle's fixed order from offset 0; returns the text's length.
int32_t ComposeRecords(int32_t hundredths);
