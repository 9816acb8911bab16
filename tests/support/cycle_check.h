// An independent reader of one cycle's text, for the fuzz target and the tests that run whole cycles: it
// walks the records in the cycle order and checks each one's frame and (for NMEA) characters and checksum,
// without the module's own code. What each field holds is the golden texts' part.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct CycleExpectation {
    uint32_t mask;      // the sentence mask the text was composed with
    int32_t generation; // the host generation (the attitude sentence needs 1 or 2)
    bool saneSnapshot;  // every snapshot value lay within the ranges a sample produces
};

// Empty when the text is exactly the selected records, in order, each well formed; with saneSnapshot also
// every NMEA sentence within NMEA 0183's 82 characters (LXWP0 within 90). Otherwise what is wrong, with the
// text.
std::string CheckCycleText(const char* text, size_t length, const CycleExpectation& expect);
