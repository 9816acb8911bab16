// The settings loader: reads the five keys of section "Waypost", applies defaults and limits, writes four of
// them back so that a first run leaves a complete file, and builds the sentence mask.
#include "settings/settings.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "host/linkage.h"
#include "log/log.h"
#include "settings/network_settings.h"

// All written here on the host's thread before the output thread exists; read-only afterwards.
SentenceMask sentenceMask = 0;
int32_t sixDecimalMinutes = 1;
int32_t relayMode = 0;
int32_t noSerialLine = 0;
int32_t baudRate = 4800;
int32_t outputInterval = 2000;
char devicePath[kDevicePrefixLength + kPortNameStorage] = "\\\\.\\";

constexpr DWORD kValueReadSize = 127; // bytes, terminator included
constexpr DWORD kLogValueReadSize = 16;
constexpr int32_t kDefaultBaudRate = 4800;
constexpr int32_t kMinimumInterval = 100; // milliseconds
static const char kRelayPortName[] = "NetHub";
constexpr size_t kRelayCompareLength = 6;
static const char kNoPortName[] = "None"; // no serial line: network outputs only

struct SentenceToken {
    const char* text;
    SentenceMask bit;
    bool attitude; // only on hosts that deliver attitude
};

// Tried in this order at each position of the "Sentences" list.
static const SentenceToken kSentenceTokens[] = {
    {"RMC", kSentenceRmc, false},     {"GLL", kSentenceGll, false},     {"GGA", kSentenceGga, false},
    {"GSA", kSentenceGsa, false},     {"VTG", kSentenceVtg, false},     {"RMA", kSentenceRma, false},
    {"GSV", kSentenceGsv, false},     {"PGRMZ", kSentencePgrmz, false}, {"GTEXT", kSentenceGtext, false},
    {"AV400", kSentenceAv400, false}, {"RPY", kSentenceRpy, true},      {"HDT", kSentenceHdt, false},
    {"HDM", kSentenceHdm, false},     {"HDG", kSentenceHdg, false},     {"LK8EX1", kSentenceLk8ex1, false},
    {"LXWP0", kSentenceLxwp0, false},
};
constexpr size_t kTokenCount = sizeof kSentenceTokens / sizeof kSentenceTokens[0];

// Decimal value of the leading digits (after optional blanks and sign), 0 for text that is not a number.
// Saturates to the 32-bit range, since a settings file may hold any number of digits.
static int32_t ParseDecimal(const char* text) {
    long long value = std::strtoll(text, nullptr, 10);
    if (value > INT32_MAX) {
        return INT32_MAX;
    }
    if (value < INT32_MIN) {
        return INT32_MIN;
    }
    return static_cast<int32_t>(value);
}

static void WriteNumber(const char* key, int32_t value, const char* path) {
    char text[16];
    wsprintfA(text, "%d", value);
    WritePrivateProfileStringA(kSettingsSection, key, text, path);
}

// The mask of the tokens in a comma-separated list. Each entry matches the first token that is a
// case-insensitive prefix of it; blanks are not skipped, so " GGA" matches nothing and "RMCX" matches RMC.
static SentenceMask ScanSentences(const char* list) {
    SentenceMask mask = 0;
    const char* at = list;
    for (;;) {
        size_t i = 0;
        while (i < kTokenCount &&
               ((kSentenceTokens[i].attitude && HostGeneration == 0) ||
                strncasecmp(at, kSentenceTokens[i].text, std::strlen(kSentenceTokens[i].text)) != 0)) {
            ++i;
        }
        const char* comma = std::strchr(at, ',');
        const int nameLength =
            static_cast<int>(comma != nullptr ? static_cast<size_t>(comma - at) : std::strlen(at));
        if (i < kTokenCount) {
            mask |= kSentenceTokens[i].bit;
        } else if (nameLength > 0) {
            LogLine("setting Sentences: \"%.*s\" ignored: %s", nameLength, at,
                    strncasecmp(at, "RPY", 3) == 0 ? "hosts of this generation give no attitude"
                                                   : "no record of that name");
        }
        if (comma == nullptr || comma[1] == '\0') {
            return mask;
        }
        at = comma + 1;
    }
}

bool LogWanted(const char* path) {
    char value[kLogValueReadSize];
    GetPrivateProfileStringA(kSettingsSection, "Log", "No", value, kLogValueReadSize, path);
    return strncasecmp(value, "Yes", 3) == 0;
}

void LoadSettings(const char* path) {
    char value[kValueReadSize];

    baudRate = kDefaultBaudRate;
    sentenceMask = 0;

    DWORD length =
        GetPrivateProfileStringA(kSettingsSection, "PosTo6Decimal", "", value, kValueReadSize, path);
    if (length > 0 && strncasecmp(value, "NO", 2) == 0) {
        sixDecimalMinutes = 0;
    }
    WritePrivateProfileStringA(kSettingsSection, "PosTo6Decimal", sixDecimalMinutes ? "Yes" : "No", path);

    length = GetPrivateProfileStringA(kSettingsSection, "Sentences", "RMC", value, kValueReadSize, path);
    if (length > 0) {
        sentenceMask = ScanSentences(value);
    }
    if (sentenceMask == 0) {
        sentenceMask = kSentenceRmc;
    }

    relayMode = 0;
    char* portName = devicePath + kDevicePrefixLength;
    char portRead[kPortNameReadSize] = "";
    length = GetPrivateProfileStringA(kSettingsSection, "Port", "COM1", portRead, kPortNameReadSize, path);
    if (length > 0) {
        std::memcpy(portName, portRead, std::strlen(portRead) + 1);
    }
    // An empty value keeps the name held before (empty at the first load); the open then fails.
    WritePrivateProfileStringA(kSettingsSection, "Port", portName, path);
    if (strncasecmp(portRead, kRelayPortName, kRelayCompareLength) == 0) {
        relayMode = 1;
    }
    noSerialLine = strcasecmp(portRead, kNoPortName) == 0 ? 1 : 0;

    length = GetPrivateProfileStringA(kSettingsSection, "Speed", "4800", value, kValueReadSize, path);
    if (length > 0) {
        baudRate = ParseDecimal(value);
        if (baudRate <= 0) {
            LogLine("setting Speed: \"%s\" read as %d, which no serial line takes", value,
                    static_cast<int>(baudRate));
        }
    }
    WriteNumber("Speed", baudRate, path);

    length = GetPrivateProfileStringA(kSettingsSection, "Interval", "2000", value, kValueReadSize, path);
    if (length > 0) {
        outputInterval = ParseDecimal(value);
        if (outputInterval < kMinimumInterval) {
            LogLine("setting Interval: \"%s\" raised to %d ms", value, static_cast<int>(kMinimumInterval));
            outputInterval = kMinimumInterval;
        }
    }
    WriteNumber("Interval", outputInterval, path);
}

bool SerialLineSelected(void) {
    return !relayMode && !noSerialLine;
}

void LogSettings(void) {
    char records[128] = "";
    size_t used = 0;
    for (const SentenceToken& token : kSentenceTokens) {
        if ((sentenceMask & token.bit) != 0) {
            used += static_cast<size_t>(std::snprintf(records + used, sizeof records - used, "%s%s",
                                                      used > 0 ? "," : "", token.text));
        }
    }
    const char* portName = devicePath + kDevicePrefixLength;
    LogLine("settings: Sentences=%s PosTo6Decimal=%s Interval=%d", records, sixDecimalMinutes ? "Yes" : "No",
            static_cast<int>(outputInterval));
    if (relayMode) {
        LogLine("settings: Port=%s: the text goes to the relay module", portName);
    } else if (noSerialLine) {
        LogLine("settings: Port=%s: no serial line", portName);
    } else {
        LogLine("settings: Port=%s Speed=%d", portName, static_cast<int>(baudRate));
    }
    if (networkEntryCount > 0) {
        // PressureAltitude is read only with a GDL 90 feed.
        const char* pressure = pressureAltitude ? " PressureAltitude=Yes" : " PressureAltitude=No";
        LogLine("settings: %d network entries, NetworkName=%s%s", static_cast<int>(networkEntryCount),
                networkName, NetworkHasKind(kNetworkGdl90) ? pressure : "");
    }
}
