#include "cycle_check.h"

#include <cstdio>
#include <cstring>

namespace {

// The records in the cycle order, each by the mask bit that selects it and the text it starts with.
struct Mark {
    uint32_t bit;
    const char* start;
};
const Mark kMarks[] = {
    {0x040, "$GPGSA,"},   {0x080, "$GPGSV,2,1,"}, {0x080, "$GPGSV,2,2,"}, {0x010, "$GPRMA,"},
    {0x001, "$GPRMC,"},   {0x002, "$GPGLL,"},     {0x008, "$GPVTG,"},     {0x004, "$GPGGA,"},
    {0x020, "$PGRMZ,"},   {0x400, "\x02z"},       {0x800, "$RPY,"},       {0x200, "@"},
    {0x1000, "$GPHDT,"},  {0x2000, "$HCHDM,"},    {0x4000, "$HCHDG,"},    {0x8000, "$LK8EX1,"},
    {0x10000, "$LXWP0,"},
};
constexpr uint32_t kAttitudeBit = 0x800;
constexpr size_t kNmeaMaxLength = 82; // "$" to LF
// LXWP0 repeats its vario six times: at a jet's climb, "-150.00" each, it runs to 90 characters.
constexpr uint32_t kLxwp0Bit = 0x10000;
constexpr size_t kLxwp0MaxLength = 90;

// "$" fields "*" hh CR LF, hh the XOR of every byte between "$" and "*", printable characters only.
bool WellFormedNmea(const std::string& sentence) {
    const size_t star = sentence.rfind('*');
    if (star == std::string::npos || star + 5 != sentence.size()) {
        return false;
    }
    unsigned checksum = 0;
    for (size_t i = 1; i < star; ++i) {
        const char c = sentence[i];
        if (c < 0x20 || c > 0x7E || std::strchr("$*!\\^~", c) != nullptr) {
            return false;
        }
        checksum ^= static_cast<unsigned char>(c);
    }
    char closing[8];
    std::snprintf(closing, sizeof closing, "*%02X\r\n", checksum);
    return sentence.compare(star, 5, closing) == 0;
}

} // namespace

std::string CheckCycleText(const char* data, size_t length, const CycleExpectation& expect) {
    const std::string text(data, length);
    size_t at = 0;
    for (const Mark& mark : kMarks) {
        // The attitude sentence needs the attitude only generations 1 and 2 deliver.
        if (!(expect.mask & mark.bit) || (mark.bit == kAttitudeBit && expect.generation == 0)) {
            continue;
        }
        const bool block = mark.start[0] == '\x02';
        const size_t end = block ? text.find('\x03', at) : text.find("\r\n", at);
        if (text.compare(at, std::strlen(mark.start), mark.start) != 0 || end == std::string::npos) {
            return "expected " + std::string(mark.start) + " at byte " + std::to_string(at) + ": " + text;
        }
        const std::string record = text.substr(at, end + (block ? 1 : 2) - at);
        const bool nmea = mark.start[0] == '$' && mark.bit != kAttitudeBit;
        if (nmea && !WellFormedNmea(record)) {
            return "a malformed sentence: " + record;
        }
        if (nmea && expect.saneSnapshot &&
            record.size() > (mark.bit == kLxwp0Bit ? kLxwp0MaxLength : kNmeaMaxLength)) {
            return "a sentence longer than NMEA 0183 allows: " + record;
        }
        at += record.size();
    }
    return at == text.size() ? "" : "text goes on after the last selected record: " + text.substr(at);
}
