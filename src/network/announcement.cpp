// {"App":"ForeFlight","GDL90":{"port":4000}}
// The announcement is read as JSON: later versions may add fields, in any order and with any spacing, so
// every value is walked over by the grammar, while only the outer object's "App" and "GDL90" and the
// latter's "port" are looked at. Keys are compared, and the app's name kept, as raw bytes, escapes
// unresolved; bytes from 0x80 up pass unchecked (nothing here reads text beyond ASCII); the last of a
// repeated key counts.
#include "network/announcement.h"

#include <cstring>

namespace {

// Objects and arrays inside one another, the outer object included: bounds the recursion, far above the
// announcement's own 2.
constexpr int32_t kMaxDepth = 16;
constexpr uint32_t kMaxPort = 65535; // a UDP port number

// What a value is to the announcement: which key it belongs to, or none that is looked at.
enum Role {
    kIgnored,
    kOuter, // the datagram's object
    kApp,   // the outer object's "App"
    kGdl90, // the outer object's "GDL90"
    kPort,  // "port" in the outer "GDL90" object
};

struct Cursor {
    const char* at;
    const char* end;
};

struct Findings {
    const char* app;   // the last "App" when a string, else nullptr
    int32_t appLength; // its bytes
    uint32_t port;     // the last "GDL90"'s last "port" when an integer 1..65535, else 0
};

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool IsHexDigit(char c) {
    return IsDigit(c) || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

bool At(const Cursor* in, char c) {
    return in->at < in->end && *in->at == c;
}

bool AtDigit(const Cursor* in) {
    return in->at < in->end && IsDigit(*in->at);
}

// Consumes c when it is next.
bool Take(Cursor* in, char c) {
    if (!At(in, c)) {
        return false;
    }
    ++in->at;
    return true;
}

void SkipSpace(Cursor* in) {
    while (At(in, ' ') || At(in, '\t') || At(in, '\r') || At(in, '\n')) {
        ++in->at;
    }
}

bool RawEquals(const char* text, int32_t length, const char* word) {
    const size_t wordLength = std::strlen(word);
    return static_cast<size_t>(length) == wordLength && std::memcmp(text, word, wordLength) == 0;
}

// A string at its opening quote; *text and *length give the raw bytes between the quotes.
bool ReadString(Cursor* in, const char** text, int32_t* length) {
    const char* begin = ++in->at;
    while (in->at < in->end) {
        const unsigned char c = static_cast<unsigned char>(*in->at++);
        if (c == '"') {
            *text = begin;
            *length = static_cast<int32_t>(in->at - 1 - begin);
            return true;
        }
        if (c < 0x20) {
            return false; // control characters appear only escaped
        }
        if (c != '\\') {
            continue;
        }
        if (in->at == in->end) {
            return false;
        }
        switch (*in->at++) {
        case '"':
        case '\\':
        case '/':
        case 'b':
        case 'f':
        case 'n':
        case 'r':
        case 't':
            break;
        case 'u':
            for (int hex = 0; hex < 4; ++hex) {
                if (in->at == in->end || !IsHexDigit(*in->at)) {
                    return false;
                }
                ++in->at;
            }
            break;
        default:
            return false;
        }
    }
    return false;
}

// A number; *port is its value when it is a plain integer 1..65535 (no sign, fraction or exponent), else 0.
bool ReadNumber(Cursor* in, uint32_t* port) {
    bool plain = !Take(in, '-');
    uint32_t value = 0;
    if (!Take(in, '0')) {
        if (!AtDigit(in)) {
            return false;
        }
        while (AtDigit(in)) {
            // Past the largest port the value only has to stay too large.
            if (value <= kMaxPort) {
                value = value * 10 + static_cast<uint32_t>(*in->at - '0');
            }
            ++in->at;
        }
    }
    if (Take(in, '.')) {
        plain = false;
        if (!AtDigit(in)) {
            return false;
        }
        while (AtDigit(in)) {
            ++in->at;
        }
    }
    if (At(in, 'e') || At(in, 'E')) {
        plain = false;
        ++in->at;
        if (!Take(in, '+')) {
            Take(in, '-');
        }
        if (!AtDigit(in)) {
            return false;
        }
        while (AtDigit(in)) {
            ++in->at;
        }
    }
    *port = plain && value >= 1 && value <= kMaxPort ? value : 0;
    return true;
}

bool ReadWord(Cursor* in, const char* word) {
    const size_t length = std::strlen(word);
    if (static_cast<size_t>(in->end - in->at) < length || std::memcmp(in->at, word, length) != 0) {
        return false;
    }
    in->at += length;
    return true;
}

bool ReadValue(Cursor* in, int32_t depth, Role role, Findings* found);

// An object at its "{", itself at depth (the outer object is at 1).
bool ReadObject(Cursor* in, int32_t depth, Role role, Findings* found) {
    ++in->at;
    SkipSpace(in);
    if (Take(in, '}')) {
        return true;
    }
    for (;;) {
        const char* key;
        int32_t keyLength;
        if (!At(in, '"') || !ReadString(in, &key, &keyLength)) {
            return false;
        }
        SkipSpace(in);
        if (!Take(in, ':')) {
            return false;
        }
        SkipSpace(in);
        Role member = kIgnored;
        if (role == kOuter && RawEquals(key, keyLength, "App")) {
            member = kApp;
        } else if (role == kOuter && RawEquals(key, keyLength, "GDL90")) {
            member = kGdl90;
        } else if (role == kGdl90 && RawEquals(key, keyLength, "port")) {
            member = kPort;
        }
        if (!ReadValue(in, depth, member, found)) {
            return false;
        }
        SkipSpace(in);
        if (Take(in, '}')) {
            return true;
        }
        if (!Take(in, ',')) {
            return false;
        }
        SkipSpace(in);
    }
}

// An array at its "[", itself at depth.
bool ReadArray(Cursor* in, int32_t depth, Findings* found) {
    ++in->at;
    SkipSpace(in);
    if (Take(in, ']')) {
        return true;
    }
    for (;;) {
        if (!ReadValue(in, depth, kIgnored, found)) {
            return false;
        }
        SkipSpace(in);
        if (Take(in, ']')) {
            return true;
        }
        if (!Take(in, ',')) {
            return false;
        }
        SkipSpace(in);
    }
}

// A value inside depth containers. A value of a looked-at key first clears what an earlier one gave, so the
// last one counts.
bool ReadValue(Cursor* in, int32_t depth, Role role, Findings* found) {
    if (role == kApp) {
        found->app = nullptr;
    } else if (role == kGdl90 || role == kPort) {
        found->port = 0;
    }
    if (in->at == in->end) {
        return false;
    }
    switch (*in->at) {
    case '{':
        return depth < kMaxDepth && ReadObject(in, depth + 1, role == kGdl90 ? kGdl90 : kIgnored, found);
    case '[':
        return depth < kMaxDepth && ReadArray(in, depth + 1, found);
    case '"': {
        const char* text;
        int32_t length;
        if (!ReadString(in, &text, &length)) {
            return false;
        }
        if (role == kApp) {
            found->app = text;
            found->appLength = length;
        }
        return true;
    }
    case 't':
        return ReadWord(in, "true");
    case 'f':
        return ReadWord(in, "false");
    case 'n':
        return ReadWord(in, "null");
    default: {
        uint32_t port;
        if (!ReadNumber(in, &port)) {
            return false;
        }
        if (role == kPort) {
            found->port = port;
        }
        return true;
    }
    }
}

} // namespace

AnnouncementVerdict ParseAnnouncement(const char* data, int32_t length, Announcement* found) {
    if (length <= 0) {
        return kAnnouncementMalformed;
    }
    Cursor in = {data, data + length};
    Findings findings = {nullptr, 0, 0};
    SkipSpace(&in);
    if (!At(&in, '{') || !ReadObject(&in, 1, kOuter, &findings)) {
        return kAnnouncementMalformed;
    }
    SkipSpace(&in);
    if (in.at != in.end) {
        return kAnnouncementMalformed;
    }
    if (findings.port == 0) {
        return kAnnouncementNoPort;
    }
    *found = Announcement{static_cast<uint16_t>(findings.port), findings.app, findings.appLength};
    return kAnnouncementGdl90;
}
