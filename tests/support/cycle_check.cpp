#include "cycle_check.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr size_t kNmeaMaxLength = 82;    // NMEA 0183: "$" to LF inclusive
constexpr size_t kTextPositionBody = 55; // "@" record without its CR LF

// Bits of the sentence mask, as the settings file selects them.
constexpr uint32_t kRmc = 0x001, kGll = 0x002, kGga = 0x004, kVtg = 0x008, kRma = 0x010, kPgrmz = 0x020,
                   kGsa = 0x040, kGsv = 0x080, kGtext = 0x200, kAv400 = 0x400, kRpy = 0x800;

const char kGsaText[] = "$GPGSA,M,3,10,06,04,09,02,07,30,05,,,,,1.6,0.9,1.3*3B\r\n";
const char kGsv1Text[] = "$GPGSV,2,1,08,05,77,295,51,02,69,033,50,30,39,315,49,10,36,141,49*7B\r\n";
const char kGsv2Text[] = "$GPGSV,2,2,08,09,25,213,49,04,23,044,49,06,17,287,49,07,05,089,49*74\r\n";

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts(1);
    for (char c : text) {
        if (c == separator) {
            parts.emplace_back();
        } else {
            parts.back() += c;
        }
    }
    return parts;
}

bool AllDigits(const std::string& text, size_t from = 0) {
    if (text.size() <= from) {
        return false;
    }
    for (size_t i = from; i < text.size(); i++) {
        if (text[i] < '0' || text[i] > '9') {
            return false;
        }
    }
    return true;
}

// An optionally negative whole number.
bool IsInteger(const std::string& text) {
    return AllDigits(text, !text.empty() && text[0] == '-' ? 1 : 0);
}

// "[-]d+.d": an integer part and exactly one decimal.
bool IsOneDecimal(const std::string& text, bool allowMinus) {
    const size_t point = text.find('.');
    if (point == std::string::npos || point + 2 != text.size() || text[point + 1] < '0' ||
        text[point + 1] > '9') {
        return false;
    }
    const std::string whole = text.substr(0, point);
    return allowMinus ? IsInteger(whole) : AllDigits(whole);
}

int Number(const std::string& text, size_t from, size_t count) {
    return std::atoi(text.substr(from, count).c_str());
}

// ddmm.ffff(ff) or dddmm.ffff(ff) with degrees and minutes in range.
bool IsPosition(const std::string& text, size_t degreeDigits, int maxDegrees, bool sixDecimals) {
    const size_t fraction = sixDecimals ? 6 : 4;
    if (text.size() != degreeDigits + 3 + fraction || text[degreeDigits + 2] != '.') {
        return false;
    }
    return AllDigits(text.substr(0, degreeDigits + 2)) && AllDigits(text.substr(degreeDigits + 3)) &&
           Number(text, 0, degreeDigits) <= maxDegrees && Number(text, degreeDigits, 2) <= 59;
}

// hhmmss.hh
bool IsTime(const std::string& text) {
    return text.size() == 9 && text[6] == '.' && AllDigits(text.substr(0, 6)) && AllDigits(text.substr(7)) &&
           Number(text, 0, 2) <= 23 && Number(text, 2, 2) <= 59 && Number(text, 4, 2) <= 59;
}

bool IsDate(const std::string& text) {
    return text.size() == 6 && AllDigits(text) && Number(text, 0, 2) >= 1 && Number(text, 0, 2) <= 31 &&
           Number(text, 2, 2) >= 1 && Number(text, 2, 2) <= 12;
}

bool IsLetter(const std::string& text, const char* letters) {
    return text.size() == 1 && std::strchr(letters, text[0]) != nullptr;
}

class Reader {
  public:
    Reader(const char* text, size_t length, const CycleExpectation& expect)
        : text_(text, length), expect_(expect) {}

    std::string Run();

  private:
    bool Fail(const std::string& what) {
        if (error_.empty()) {
            const size_t from = at_ > 40 ? at_ - 40 : 0;
            std::string context;
            for (size_t i = from; i < text_.size() && i < at_ + 120; i++) {
                const unsigned char c = static_cast<unsigned char>(text_[i]);
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, c >= 0x20 && c < 0x7F ? "%c" : "<%02X>", c);
                context += escaped;
            }
            error_ = what + " at byte " + std::to_string(at_) + ": " + context;
        }
        return false;
    }

    bool Fixed(const char* expected) {
        if (text_.compare(at_, std::strlen(expected), expected) != 0) {
            return Fail(std::string("expected the fixed sentence ") + std::string(expected, 6));
        }
        at_ += std::strlen(expected);
        return true;
    }

    bool Nmea(const char* address, size_t commas);
    bool NmeaFields(const std::string& address, const std::vector<std::string>& f);
    bool AviationBlock();
    bool Attitude();
    bool TextPosition();

    std::string text_;
    CycleExpectation expect_;
    size_t at_ = 0;
    std::string error_;
};

// "$" address "," fields "*" hh CR LF, the checksum being the XOR of every byte between "$" and "*".
bool Reader::Nmea(const char* address, size_t commas) {
    const std::string start = std::string("$") + address + ",";
    if (text_.compare(at_, start.size(), start) != 0) {
        return Fail("expected " + start);
    }
    const size_t star = text_.find('*', at_);
    if (star == std::string::npos || star + 5 > text_.size()) {
        return Fail(std::string(address) + " has no checksum");
    }
    const std::string body = text_.substr(at_ + 1, star - at_ - 1);
    unsigned checksum = 0;
    size_t commaCount = 0;
    for (char c : body) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || u > 0x7E || std::strchr("$*!\\^~", c) != nullptr) {
            return Fail(std::string(address) + " holds a character NMEA does not allow");
        }
        checksum ^= u;
        commaCount += c == ',' ? 1 : 0;
    }
    char closing[8];
    std::snprintf(closing, sizeof closing, "*%02X\r\n", checksum);
    if (text_.compare(star, 5, closing) != 0) {
        return Fail(std::string(address) + " is not closed by " + std::string(closing, 3) + " CR LF");
    }
    if (commaCount != commas) {
        return Fail(std::string(address) + " has " + std::to_string(commaCount) + " commas, not " +
                    std::to_string(commas));
    }
    if (expect_.saneSnapshot) {
        if (star + 5 - at_ > kNmeaMaxLength) {
            return Fail(std::string(address) + " is longer than 82 characters");
        }
        if (!NmeaFields(address, Split(body, ','))) {
            return false;
        }
    }
    at_ = star + 5;
    return true;
}

// The fields of a sentence made from a snapshot within its ranges: every one in its width and range.
bool Reader::NmeaFields(const std::string& address, const std::vector<std::string>& f) {
    const bool six = expect_.sixDecimals;
    bool ok = true;
    if (address == "GPRMC") {
        ok = IsTime(f[1]) && f[2] == "A" && IsPosition(f[3], 2, 90, six) && IsLetter(f[4], "NS") &&
             IsPosition(f[5], 3, 180, six) && IsLetter(f[6], "EW") && IsOneDecimal(f[7], false) &&
             IsOneDecimal(f[8], false) && IsDate(f[9]) && IsOneDecimal(f[10], false) && IsLetter(f[11], "EW");
    } else if (address == "GPGLL") {
        ok = IsPosition(f[1], 2, 90, six) && IsLetter(f[2], "NS") && IsPosition(f[3], 3, 180, six) &&
             IsLetter(f[4], "EW") && IsTime(f[5]) && f[6] == "A";
    } else if (address == "GPGGA") {
        ok = IsTime(f[1]) && IsPosition(f[2], 2, 90, six) && IsLetter(f[3], "NS") &&
             IsPosition(f[4], 3, 180, six) && IsLetter(f[5], "EW") && f[6] == "1" && f[7] == "05" &&
             f[8] == "0.0" && IsOneDecimal(f[9], true) && f[10] == "M" && f[11].empty() && f[14].empty();
    } else if (address == "GPRMA") {
        ok = f[1] == "A" && IsPosition(f[2], 2, 90, six) && IsLetter(f[3], "NS") &&
             IsPosition(f[4], 3, 180, six) && IsLetter(f[5], "EW") && f[6] == "0.0" && f[7] == "0.0" &&
             IsOneDecimal(f[8], false) && IsOneDecimal(f[9], false) && IsOneDecimal(f[10], false) &&
             IsLetter(f[11], "EW");
    } else if (address == "GPVTG") {
        ok = IsOneDecimal(f[1], false) && f[2] == "T" && IsOneDecimal(f[3], false) && f[4] == "M" &&
             IsOneDecimal(f[5], false) && f[6] == "N" && IsOneDecimal(f[7], false) && f[8] == "K";
    } else if (address == "PGRMZ") {
        ok = IsOneDecimal(f[1], true) && f[2] == "f" && f[3] == "2";
    }
    return ok || Fail(address + " has a field out of its width or range");
}

// STX, eight lines led by z A B C D Q T w, each ended by CR LF, then ETX.
bool Reader::AviationBlock() {
    if (at_ >= text_.size() || text_[at_] != '\x02') {
        return Fail("expected STX");
    }
    const char leaders[] = "zABCDQTw";
    std::vector<std::string> lines;
    size_t from = at_ + 1;
    for (int i = 0; i < 8; i++) {
        const size_t end = text_.find("\r\n", from);
        if (end == std::string::npos) {
            return Fail("aviation block line without CR LF");
        }
        lines.push_back(text_.substr(from, end - from));
        if (lines.back().empty() || lines.back()[0] != leaders[i]) {
            return Fail("aviation block line not led by its letter");
        }
        for (char c : lines.back()) {
            if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E) {
                return Fail("aviation block line holds a control character");
            }
        }
        from = end + 2;
    }
    if (from >= text_.size() || text_[from] != '\x03' || lines[6] != "T----------" || lines[7] != "w01@") {
        return Fail("aviation block not closed as expected");
    }
    if (expect_.saneSnapshot) {
        const std::string& a = lines[1];
        const std::string& b = lines[2];
        const bool ok = lines[0].size() >= 6 && AllDigits(lines[0], 1) && a.size() == 10 &&
                        IsLetter(a.substr(1, 1), "NS") && a[2] == ' ' && AllDigits(a.substr(3, 2)) &&
                        a[5] == ' ' && AllDigits(a.substr(6)) && Number(a, 6, 2) <= 59 && b.size() == 11 &&
                        IsLetter(b.substr(1, 1), "EW") && b[2] == ' ' && AllDigits(b.substr(3, 3)) &&
                        b[6] == ' ' && AllDigits(b.substr(7)) && Number(b, 7, 2) <= 59 &&
                        lines[3].size() >= 4 && AllDigits(lines[3], 1) && lines[4].size() >= 4 &&
                        AllDigits(lines[4], 1) && lines[5].size() >= 5 &&
                        IsLetter(lines[5].substr(1, 1), "EW") && AllDigits(lines[5], 2);
        if (!ok) {
            return Fail("aviation block has a field out of its width or range");
        }
    }
    at_ = from + 1;
    return true;
}

// "$RPY," and 15 whole numbers, seven of them the fixed -999, ended (by this module's choice) with CR LF.
bool Reader::Attitude() {
    if (text_.compare(at_, 5, "$RPY,") != 0) {
        return Fail("expected $RPY,");
    }
    const size_t end = text_.find("\r\n", at_);
    if (end == std::string::npos) {
        return Fail("attitude sentence without CR LF");
    }
    const std::vector<std::string> f = Split(text_.substr(at_ + 5, end - at_ - 5), ',');
    if (f.size() != 15) {
        return Fail("attitude sentence without its 15 fields");
    }
    for (size_t i = 0; i < f.size(); i++) {
        const bool fixed = i == 2 || i == 3 || i == 4 || i == 8 || i == 9 || i == 13 || i == 14;
        if (!IsInteger(f[i]) || (fixed && f[i] != "-999")) {
            return Fail("attitude field " + std::to_string(i + 1) + " is not as expected");
        }
    }
    if (expect_.saneSnapshot && (std::atoi(f[10].c_str()) < -250 || std::atoi(f[10].c_str()) > 250 ||
                                 std::atoi(f[11].c_str()) < -250 || std::atoi(f[11].c_str()) > 250)) {
        return Fail("attitude values beyond -250 to 250");
    }
    at_ = end + 2;
    return true;
}

// "@", the fixed columns, CR LF.
bool Reader::TextPosition() {
    if (at_ >= text_.size() || text_[at_] != '@') {
        return Fail("expected @");
    }
    const size_t end = text_.find("\r\n", at_);
    if (end == std::string::npos) {
        return Fail("text position record without CR LF");
    }
    const std::string r = text_.substr(at_, end - at_);
    for (char c : r.substr(1)) {
        if (std::strchr("0123456789NSEWU+-", c) == nullptr) {
            return Fail("text position record holds an unexpected character");
        }
    }
    if (r.find("S000") == std::string::npos || r.size() < 5 || r.compare(r.size() - 5, 5, "U0000") != 0) {
        return Fail("text position record without its fixed columns");
    }
    if (expect_.saneSnapshot) {
        const bool ok =
            r.size() == kTextPositionBody && AllDigits(r.substr(1, 12)) && IsLetter(r.substr(13, 1), "NS") &&
            AllDigits(r.substr(14, 7)) && IsLetter(r.substr(21, 1), "EW") && AllDigits(r.substr(22, 8)) &&
            r.compare(30, 4, "S000") == 0 && IsLetter(r.substr(34, 1), "+-") && AllDigits(r.substr(35, 5)) &&
            IsLetter(r.substr(40, 1), "EW") && AllDigits(r.substr(41, 4)) &&
            IsLetter(r.substr(45, 1), "NS") && AllDigits(r.substr(46, 4));
        if (!ok) {
            return Fail("text position record out of its columns");
        }
    }
    at_ = end + 2;
    return true;
}

std::string Reader::Run() {
    const uint32_t mask = expect_.mask;
    const bool ok =
        (!(mask & kGsa) || Fixed(kGsaText)) && (!(mask & kGsv) || (Fixed(kGsv1Text) && Fixed(kGsv2Text))) &&
        (!(mask & kRma) || Nmea("GPRMA", 11)) && (!(mask & kRmc) || Nmea("GPRMC", 11)) &&
        (!(mask & kGll) || Nmea("GPGLL", 6)) && (!(mask & kVtg) || Nmea("GPVTG", 8)) &&
        (!(mask & kGga) || Nmea("GPGGA", 14)) && (!(mask & kPgrmz) || Nmea("PGRMZ", 3)) &&
        (!(mask & kAv400) || AviationBlock()) && (!(mask & kRpy) || expect_.generation == 0 || Attitude()) &&
        (!(mask & kGtext) || TextPosition());
    if (ok && at_ != text_.size()) {
        Fail("text goes on after the last selected record");
    }
    return error_;
}

} // namespace

std::string CheckCycleText(const char* text, size_t length, const CycleExpectation& expect) {
    return Reader(text, length, expect).Run();
}
