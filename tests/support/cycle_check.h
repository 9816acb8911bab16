// An independent reader of one cycle's text, for the fuzz targets and the tests that run whole cycles: it
// walks the records in the cycle order and checks each one's frame, fields and (for NMEA) checksum without
// using the module's own code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct CycleExpectation {
    uint32_t mask;      // the sentence mask the text was composed with
    int32_t generation; // the host generation (the attitude sentence needs 1 or 2)
    bool sixDecimals;   // minute fractions of 6 digits, else 4
    bool saneSnapshot;  // every snapshot value lay within the ranges a sample produces
};

// Empty when the text is exactly the selected records, in order, each well formed; with saneSnapshot also
// every field in its width and range and every NMEA sentence within NMEA 0183's 82 characters. Otherwise a
// description of the first fault with the text around it.
std::string CheckCycleText(const char* text, size_t length, const CycleExpectation& expect);
