#include "cycle_check.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <regex>
#include <vector>

namespace {

const char kGsa[] = "$GPGSA,M,3,10,06,04,09,02,07,30,05,,,,,1.6,0.9,1.3*3B\r\n";
const char kGsv[] = "$GPGSV,2,1,08,05,77,295,51,02,69,033,50,30,39,315,49,10,36,141,49*7B\r\n"
                    "$GPGSV,2,2,08,09,25,213,49,04,23,044,49,06,17,287,49,07,05,089,49*74\r\n";

// One record after the fixed GSA and GSV, in the cycle order. An NMEA sentence (commas non-zero) is read by
// its frame, and `sane` is the pattern of its fields after the address; any other record is read by `any`,
// and `sane` is its whole pattern. The sane patterns are those of a snapshot within its ranges.
struct Record {
    uint32_t bit; // in the sentence mask
    std::string name;
    size_t commas;
    std::regex any;
    std::regex sane;
};

std::vector<Record> Records(bool sixDecimals) {
    // hhmmss.hh, ddmmyy, one decimal, latitude ddmm.f and longitude dddmm.f with their hemispheres.
    const std::string t = R"(([01]\d|2[0-3])[0-5]\d[0-5]\d\.\d\d)",
                      date = R"((0[1-9]|[12]\d|3[01])(0[1-9]|1[0-2])\d\d)";
    const std::string d = R"(\d+\.\d)", s = R"(-?\d+\.\d)", f = sixDecimals ? R"(\.\d{6})" : R"(\.\d{4})";
    const std::string p = "([0-8]\\d|90)[0-5]\\d" + f + ",[NS],(0\\d\\d|1[0-7]\\d|180)[0-5]\\d" + f + ",[EW]";
    const std::regex none;
    return {
        {0x010, "GPRMA", 11, none, std::regex("A," + p + ",0\\.0,0\\.0," + d + "," + d + "," + d + ",[EW]")},
        {0x001, "GPRMC", 11, none,
         std::regex(t + ",A," + p + "," + d + "," + d + "," + date + "," + d + ",[EW]")},
        {0x002, "GPGLL", 6, none, std::regex(p + "," + t + ",A")},
        {0x008, "GPVTG", 8, none, std::regex(d + ",T," + d + ",M," + d + ",N," + d + ",K")},
        {0x004, "GPGGA", 14, none, std::regex(t + "," + p + ",1,05,0\\.0," + s + ",M,,,,")},
        {0x020, "PGRMZ", 3, none, std::regex(s + ",f,2")},
        // STX, eight lines led by z A B C D Q T w, each ended by CR LF, then ETX.
        {0x400, "aviation block", 0,
         std::regex("\x02z[ -~]*\r\nA[ -~]*\r\nB[ -~]*\r\nC[ -~]*\r\nD[ -~]*\r\nQ[ "
                    "-~]*\r\nT----------\r\nw01@\r\n\x03"),
         std::regex("\x02z\\d{5,}\r\nA[NS] \\d\\d [0-5]\\d{3}\r\nB[EW] \\d{3} "
                    "[0-5]\\d{3}\r\nC\\d{3,}\r\nD\\d{3,}\r\n"
                    "Q[EW]\\d{3,}\r\nT----------\r\nw01@\r\n\x03")},
        // 15 whole numbers, seven of them the fixed -999, ended (by this module's choice) with CR LF; the two
        // scaled attitude values within -250 to 250.
        {0x800, "attitude sentence", 0,
         std::regex(R"(\$RPY,(-?\d+,){2}(-999,){3}(-?\d+,){3}(-999,){2}(-?\d+,){3}-999,-999\r\n)"),
         std::regex(
             R"(\$RPY,(-?\d+,){2}(-999,){3}(-?\d+,){3}(-999,){2}(-?0*(250|2[0-4]\d|1?\d?\d),){2}-?\d+,-999,-999\r\n)")},
        // "@", the fixed columns, CR LF.
        {0x200, "text position record", 0, std::regex(R"(@[0-9NSEWU+-]*S000[0-9NSEWU+-]*U0000\r\n)"),
         std::regex(R"(@\d{12}[NS]\d{7}[EW]\d{8}S000[+-]\d{5}[EW]\d{4}[NS]\d{4}U0000\r\n)")},
    };
}

struct Reader {
    const std::string text;
    const CycleExpectation expect;
    size_t at = 0;
    std::string error;

    // Records the fault with the text around it, control characters escaped.
    bool Fail(const std::string& what) {
        error = what + " at byte " + std::to_string(at) + ": ";
        for (size_t i = at > 40 ? at - 40 : 0; i < text.size() && i < at + 120; i++) {
            const unsigned char c = static_cast<unsigned char>(text[i]);
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, c >= 0x20 && c < 0x7F ? "%c" : "<%02X>", c);
            error += escaped;
        }
        return false;
    }

    bool Fixed(const char* expected) {
        if (text.compare(at, std::strlen(expected), expected) != 0) {
            return Fail("expected the fixed sentence " + std::string(expected, 6));
        }
        at += std::strlen(expected);
        return true;
    }

    // "$" address "," fields "*" hh CR LF, the checksum being the XOR of every byte between "$" and "*";
    // from a sane snapshot within NMEA 0183's 82 characters, "$" to LF.
    bool Nmea(const Record& record) {
        const std::string start = "$" + record.name + ",";
        const size_t star = text.find('*', at);
        if (text.compare(at, start.size(), start) != 0 || star == std::string::npos ||
            star + 5 > text.size()) {
            return Fail("expected " + start + " and a checksum");
        }
        const std::string body = text.substr(at + 1, star - at - 1);
        unsigned checksum = 0;
        for (char c : body) {
            if (c < 0x20 || c > 0x7E || std::strchr("$*!\\^~", c) != nullptr) {
                return Fail(record.name + " holds a character NMEA does not allow");
            }
            checksum ^= static_cast<unsigned char>(c);
        }
        char closing[8];
        std::snprintf(closing, sizeof closing, "*%02X\r\n", checksum);
        if (text.compare(star, 5, closing) != 0) {
            return Fail(record.name + " is not closed by " + std::string(closing, 3) + " CR LF");
        }
        if (static_cast<size_t>(std::count(body.begin(), body.end(), ',')) != record.commas) {
            return Fail(record.name + " has not " + std::to_string(record.commas) + " commas");
        }
        if (expect.saneSnapshot && star + 5 - at > 82) {
            return Fail(record.name + " is longer than 82 characters");
        }
        if (expect.saneSnapshot && !std::regex_match(body.substr(start.size() - 1), record.sane)) {
            return Fail(record.name + " has a field out of its width or range");
        }
        at = star + 5;
        return true;
    }

    bool Read(const Record& record) {
        if (record.commas != 0) {
            return Nmea(record);
        }
        std::smatch match;
        if (!std::regex_search(text.cbegin() + static_cast<std::ptrdiff_t>(at), text.cend(), match,
                               record.any, std::regex_constants::match_continuous)) {
            return Fail("expected the " + record.name);
        }
        if (expect.saneSnapshot && !std::regex_match(match[0].first, match[0].second, record.sane)) {
            return Fail(record.name + " has a field out of its width or range");
        }
        at += static_cast<size_t>(match.length(0));
        return true;
    }

    std::string Run() {
        static const std::vector<Record> six = Records(true), four = Records(false);
        if ((expect.mask & 0x040) && !Fixed(kGsa)) {
            return error;
        }
        if ((expect.mask & 0x080) && !Fixed(kGsv)) {
            return error;
        }
        for (const Record& record : expect.sixDecimals ? six : four) {
            // The attitude sentence needs the attitude only generations 1 and 2 deliver.
            const bool selected =
                (expect.mask & record.bit) && (record.bit != 0x800 || expect.generation != 0);
            if (selected && !Read(record)) {
                return error;
            }
        }
        if (at != text.size()) {
            Fail("text goes on after the last selected record");
        }
        return error;
    }
};

} // namespace

std::string CheckCycleText(const char* text, size_t length, const CycleExpectation& expect) {
    return Reader{std::string(text, length), expect, 0, std::string()}.Run();
}
