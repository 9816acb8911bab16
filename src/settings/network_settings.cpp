// The network settings: "Network=udp:192.168.1.20:10110, tcp:10110, xgps:192.168.1.30, gdl90:auto",
// "NetworkName=Waypost", "AttitudeRate=5" and "PressureAltitude=Yes". Addresses are numeric (no name is ever
// looked up: that can block).
#include "settings/network_settings.h"

#include <cstring>

#include "log/log.h"
#include "platform/win32.h"
#include "settings/settings.h"

NetworkEntry networkEntries[kMaxNetworkEntries];
int32_t networkEntryCount = 0;
char networkName[kNetworkNameLength + 1] = "Waypost";
int32_t attitudeRate = kDefaultAttitudeRate;
bool pressureAltitude = true;

namespace {

const char kDefaultName[] = "Waypost";
constexpr DWORD kListReadSize = 1024;  // eight entries of the longest length, blanks and commas
constexpr size_t kEntryMaxLength = 63; // longer text is no entry
constexpr DWORD kRateReadSize = 16;    // also for Yes or No
const char kAutoAddress[] = "auto";    // gdl90:auto[:PORT]

// The kinds' names, by NetworkKind; an entry begins with one of them and ":".
const char* const kKindNames[] = {"udp", "tcp", "xgps", "gdl90"};

// ASCII only: the C library's character classes follow the host's locale.
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool IsLetterOrDigit(char c) {
    return IsDigit(c) || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// A decimal number of 1 to maxDigits digits at *at, at most limit; advances *at past it.
bool ParseNumber(const char** at, int maxDigits, uint32_t limit, uint32_t* value) {
    uint32_t number = 0;
    int digits = 0;
    while (IsDigit(**at) && digits < maxDigits) {
        number = number * 10 + static_cast<uint32_t>(**at - '0');
        ++*at;
        ++digits;
    }
    if (digits == 0 || IsDigit(**at) || number > limit) {
        return false;
    }
    *value = number;
    return true;
}

// A dotted IPv4 address of four decimal parts, each 0 to 255; advances *at past it.
bool ParseAddress(const char** at, uint32_t* address) {
    uint32_t value = 0;
    for (int part = 0; part < 4; ++part) {
        uint32_t byte;
        if ((part > 0 && *(*at)++ != '.') || !ParseNumber(at, 3, 255, &byte)) {
            return false;
        }
        value = value << 8 | byte;
    }
    *address = value;
    return true;
}

// ":PORT" ending the text, PORT 1 to 65535.
bool ParsePortTail(const char* at, uint16_t* port) {
    uint32_t value;
    if (*at++ != ':' || !ParseNumber(&at, 5, 65535, &value) || value == 0 || *at != '\0') {
        return false;
    }
    *port = static_cast<uint16_t>(value);
    return true;
}

// Copies the entry between begin and end without its surrounding blanks; false when it does not fit.
bool TrimmedEntry(const char* begin, const char* end, char* out) {
    while (begin < end && IsBlank(*begin)) {
        ++begin;
    }
    while (end > begin && IsBlank(end[-1])) {
        --end;
    }
    const size_t length = static_cast<size_t>(end - begin);
    if (length > kEntryMaxLength) {
        return false;
    }
    std::memcpy(out, begin, length);
    out[length] = '\0';
    return true;
}

} // namespace

bool IsDiscoveryEntry(const NetworkEntry& entry) {
    return entry.kind == kNetworkGdl90 && entry.address == 0;
}

bool NetworkHasKind(int32_t kind) {
    for (int32_t i = 0; i < networkEntryCount; ++i) {
        if (networkEntries[i].kind == kind) {
            return true;
        }
    }
    return false;
}

bool NetworkHasFeeds(void) {
    return NetworkHasKind(kNetworkXgps) || NetworkHasKind(kNetworkGdl90);
}

const char* NetworkKindName(int32_t kind) {
    return kKindNames[kind];
}

bool ParseNetworkEntry(const char* text, NetworkEntry* entry) {
    for (int32_t kind = kNetworkUdp; kind <= kNetworkGdl90; ++kind) {
        const size_t nameLength = std::strlen(kKindNames[kind]);
        if (strncasecmp(text, kKindNames[kind], nameLength) != 0 || text[nameLength] != ':') {
            continue;
        }
        const char* at = text + nameLength + 1;
        NetworkEntry parsed = {kind, 0, 0};
        if (kind == kNetworkGdl90 && strncasecmp(at, kAutoAddress, sizeof kAutoAddress - 1) == 0) {
            // gdl90:auto listens on every interface, at 63093 unless a port follows.
            at += sizeof kAutoAddress - 1;
            parsed.port = kDiscoveryDefaultPort;
            if (*at != '\0' && !ParsePortTail(at, &parsed.port)) {
                return false;
            }
            *entry = parsed;
            return true;
        }
        if (kind == kNetworkTcp && std::strchr(at, '.') == nullptr) {
            // tcp:PORT listens on every interface; at - 1 is the ':' that ends the prefix.
            if (!ParsePortTail(at - 1, &parsed.port)) {
                return false;
            }
        } else if (!ParseAddress(&at, &parsed.address)) {
            return false;
        } else if (*at == '\0' && (kind == kNetworkXgps || kind == kNetworkGdl90)) {
            parsed.port = kind == kNetworkXgps ? kXgpsDefaultPort : kGdl90DefaultPort;
        } else if (!ParsePortTail(at, &parsed.port)) {
            return false;
        }
        // A datagram needs somewhere to go; only a server may name no address.
        if (parsed.address == 0 && kind != kNetworkTcp) {
            return false;
        }
        *entry = parsed;
        return true;
    }
    return false;
}

void LoadNetworkSettings(const char* path) {
    char list[kListReadSize];
    networkEntryCount = 0;
    // A value that fills the buffer may have been cut short: its last entry could read as another one.
    const bool cut = GetPrivateProfileStringA(kSettingsSection, "Network", "", list, kListReadSize, path) >=
                     kListReadSize - 1;
    for (const char* begin = list; *begin != '\0';) {
        const char* end = std::strchr(begin, ',');
        if (end == nullptr) {
            end = begin + std::strlen(begin);
        }
        char text[kEntryMaxLength + 1];
        NetworkEntry entry;
        if (cut && *end == '\0') {
            LogLine("setting Network: the value is longer than %d characters: its last entry \"%.*s\" is cut "
                    "off and ignored",
                    static_cast<int>(kListReadSize - 2), static_cast<int>(end - begin), begin);
        } else if (!TrimmedEntry(begin, end, text)) {
            LogLine("setting Network: an entry of more than %d characters is ignored",
                    static_cast<int>(kEntryMaxLength));
        } else if (text[0] == '\0') {
            // An empty entry (two commas, a trailing comma) is nothing to report.
        } else if (networkEntryCount == kMaxNetworkEntries) {
            LogLine("setting Network: entry \"%s\" ignored: at most %d entries", text,
                    static_cast<int>(kMaxNetworkEntries));
        } else if (!ParseNetworkEntry(text, &entry)) {
            LogLine("setting Network: entry \"%s\" ignored: not udp:HOST:PORT, tcp:[ADDR:]PORT, "
                    "xgps:HOST[:PORT], gdl90:HOST[:PORT] or gdl90:auto[:PORT] with a numeric address and a "
                    "port 1 to 65535",
                    text);
        } else {
            networkEntries[networkEntryCount++] = entry;
        }
        begin = *end == ',' ? end + 1 : end;
    }

    char name[kListReadSize];
    GetPrivateProfileStringA(kSettingsSection, "NetworkName", kDefaultName, name, kListReadSize, path);
    int32_t kept = 0;
    for (const char* at = name; *at != '\0' && kept < kNetworkNameLength; ++at) {
        if (IsLetterOrDigit(*at)) {
            networkName[kept++] = *at;
        }
    }
    networkName[kept] = '\0';
    if (kept == 0) {
        std::memcpy(networkName, kDefaultName, sizeof kDefaultName);
    }
    if (std::strcmp(name, networkName) != 0) {
        LogLine("setting NetworkName: \"%s\" used as \"%s\" (letters and digits, at most %d)", name,
                networkName, static_cast<int>(kNetworkNameLength));
    }

    // Only the EFB and GDL 90 feeds send attitude: without them the key is not read at all.
    attitudeRate = kDefaultAttitudeRate;
    char rate[kRateReadSize];
    if (NetworkHasFeeds() &&
        GetPrivateProfileStringA(kSettingsSection, "AttitudeRate", "", rate, kRateReadSize, path) > 0) {
        uint32_t value = 0;
        const char* at = rate;
        if (!ParseNumber(&at, 2, static_cast<uint32_t>(kMaxAttitudeRate), &value) || *at != '\0' ||
            value < static_cast<uint32_t>(kMinAttitudeRate)) {
            LogLine(
                "setting AttitudeRate: \"%s\" ignored: a whole number of times a second, %d to %d; %d used",
                rate, static_cast<int>(kMinAttitudeRate), static_cast<int>(kMaxAttitudeRate),
                static_cast<int>(kDefaultAttitudeRate));
        } else {
            attitudeRate = static_cast<int32_t>(value);
        }
    }

    // Only the GDL 90 feed sends it: without a gdl90 entry the key is not read at all.
    pressureAltitude = true;
    char yesNo[kRateReadSize];
    if (NetworkHasKind(kNetworkGdl90) &&
        GetPrivateProfileStringA(kSettingsSection, "PressureAltitude", "", yesNo, kRateReadSize, path) > 0) {
        pressureAltitude = strcasecmp(yesNo, "No") != 0;
        if (pressureAltitude && strcasecmp(yesNo, "Yes") != 0) {
            LogLine("setting PressureAltitude: \"%s\" ignored: Yes or No; Yes used", yesNo);
        }
    }
}
