// The settings loader with any value (any bytes a profile line can hold, any length) under every key,
// each key present or absent, on every host generation, in relay and serial output. Checked: what the
// loader keeps and writes back against what the file held, that the file it writes back is a fixed point
// (loading it again gives the same settings and the same file), and that the network entries kept are at
// most eight well-formed ones and the network name is letters and digits.
#include <strings.h>

#include <algorithm>
#include <map>

#include "fuzz_support.h"
#include "host/linkage.h"
#include "settings/network_settings.h"
#include "settings/settings.h"
#include "win32_standin.h"

namespace {

const char kPath[] = "C:\\Sim\\Modules\\Waypost.ini";
const char kSection[] = "Waypost";
const char* const kKeys[] = {"PosTo6Decimal", "Sentences", "Port",       "Speed",
                             "Interval",      "Network",   "NetworkName"};
constexpr size_t kValueRead = 126; // characters a 127-byte read keeps
constexpr size_t kPortRead = 57;   // characters a 58-byte read keeps

struct Token {
    const char* text;
    uint32_t bit;
};
const Token kTokens[] = {{"RMC", 0x001},   {"GLL", 0x002},   {"GGA", 0x004}, {"VTG", 0x008},
                         {"RMA", 0x010},   {"PGRMZ", 0x020}, {"GSA", 0x040}, {"GSV", 0x080},
                         {"GTEXT", 0x200}, {"AV400", 0x400}, {"RPY", 0x800}};
constexpr uint32_t kKnownBits = 0xEFF;

struct Loaded {
    BOOL result;
    uint32_t mask;
    int32_t sixDecimals;
    int32_t relay;
    int32_t baud;
    int32_t interval;
    std::string device;
    std::map<std::string, std::string> file;
};

Loaded Load(int32_t generation, const std::map<std::string, std::string>& file) {
    standin::Reset();
    standin::S().record = false;
    HostGeneration = generation;
    for (const auto& item : file) {
        standin::SetProfileValue(kPath, kSection, item.first, item.second);
    }
    Loaded loaded;
    loaded.result = LoadSettings(kPath);
    loaded.mask = sentenceMask;
    loaded.sixDecimals = sixDecimalMinutes;
    loaded.relay = relayMode;
    loaded.baud = baudRate;
    loaded.interval = outputInterval;
    Require(std::memchr(devicePath, '\0', sizeof devicePath) != nullptr, "the device path is not terminated");
    loaded.device = devicePath;
    loaded.file = standin::ProfileSection(kPath, kSection);
    return loaded;
}

// The mask a list selects: each entry (the start, and after each comma that is not the last character) is
// matched case-insensitively against the tokens' prefixes; nothing selected means RMC.
uint32_t ExpectedMask(const std::string& list, int32_t generation) {
    uint32_t mask = 0;
    for (size_t at = 0; at < list.size(); at = list.find(',', at) + 1) {
        for (const Token& token : kTokens) {
            if ((token.bit != 0x800 || generation != 0) &&
                strncasecmp(list.c_str() + at, token.text, std::strlen(token.text)) == 0) {
                mask |= token.bit;
            }
        }
        if (list.find(',', at) == std::string::npos) {
            break;
        }
    }
    return mask != 0 ? mask : 0x001;
}

// The value of a plain decimal of at most nine digits, or -1 when the text is anything else.
int64_t PlainDecimal(const std::string& text) {
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos) {
        return -1;
    }
    return std::atoll(text.c_str());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const int32_t generation = in.ConsumeIntegralInRange<int32_t>(0, 2);
    std::map<std::string, std::string> file;
    for (const char* key : kKeys) {
        if (in.ConsumeBool()) {
            std::string value = in.ConsumeRandomLengthString(300);
            // A profile line holds no NUL and no line end.
            for (char removed : {'\0', '\r', '\n'}) {
                value.erase(std::remove(value.begin(), value.end(), removed), value.end());
            }
            file[key] = value;
        }
    }
    auto given = [&](const char* key) { return file.count(key) ? file[key] : std::string(); };
    auto has = [&](const char* key) { return file.count(key) != 0 && !file[key].empty(); };

    const Loaded first = Load(generation, file);

    // The six-decimal flag, written back as Yes or No.
    const bool sixOff = has("PosTo6Decimal") && strncasecmp(given("PosTo6Decimal").c_str(), "no", 2) == 0;
    Require(first.sixDecimals == (sixOff ? 0 : 1), "PosTo6Decimal read wrongly");
    Require(first.file.at("PosTo6Decimal") == (sixOff ? "No" : "Yes"), "PosTo6Decimal written back wrongly");

    // The mask, never written back.
    const std::string sentences = has("Sentences") ? given("Sentences").substr(0, kValueRead) : "RMC";
    Require(first.mask == ExpectedMask(sentences, generation), "Sentences selects the wrong records");
    Require((first.mask & ~kKnownBits) == 0, "a mask bit no token stands for");
    Require(file.count("Sentences") == first.file.count("Sentences") &&
                (!file.count("Sentences") || first.file.at("Sentences") == file.at("Sentences")),
            "Sentences was written");

    // The port name behind the device prefix, written back; relay output on NetHub.
    const std::string port = has("Port")          ? given("Port").substr(0, kPortRead)
                             : file.count("Port") ? ""
                                                  : "COM1";
    Require(first.device == "\\\\.\\" + port, "the device path is not the prefix and the port name");
    Require(first.file.at("Port") == port, "Port written back wrongly");
    const bool relay = has("Port") && strncasecmp(port.c_str(), "NetHub", 6) == 0;
    Require(first.relay == (relay ? 1 : 0), "relay mode chosen wrongly");
    // The stand-in opens any device path with a name; only an empty name fails, and None opens nothing.
    Require(first.result ==
                (relay || (!port.empty() && strcasecmp(port.c_str(), "None") != 0) ? TRUE : FALSE),
            "LoadSettings reported the wrong result");

    // Speed and Interval: decimal, written back as read; the interval at least 100.
    const int64_t speed = has("Speed") ? PlainDecimal(given("Speed").substr(0, kValueRead)) : 4800;
    Require(speed < 0 || first.baud == speed, "Speed read wrongly");
    Require(first.file.at("Speed") == std::to_string(first.baud), "Speed written back wrongly");
    const int64_t interval = has("Interval") ? PlainDecimal(given("Interval").substr(0, kValueRead)) : 2000;
    Require(first.interval >= 100, "an interval below 100 ms");
    Require(interval < 0 || first.interval == std::max<int64_t>(interval, 100), "Interval read wrongly");
    Require(first.file.at("Interval") == std::to_string(first.interval), "Interval written back wrongly");

    // At most eight well-formed network entries, each one that reads back as itself; a name of letters and
    // digits. Neither key is written back.
    LoadNetworkSettings(kPath);
    Require(networkEntryCount >= 0 && networkEntryCount <= kMaxNetworkEntries, "more than eight entries");
    for (int32_t i = 0; i < networkEntryCount; ++i) {
        const NetworkEntry& e = networkEntries[i];
        static const char* const kinds[] = {"udp", "tcp", "xgps", "gdl90"};
        Require(e.kind >= kNetworkUdp && e.kind <= kNetworkGdl90 && e.port != 0 &&
                    (e.address != 0 || e.kind == kNetworkTcp),
                "a malformed network entry was kept");
        const std::string text = std::string(kinds[e.kind]) + ":" + std::to_string(e.address >> 24) + "." +
                                 std::to_string(e.address >> 16 & 0xFF) + "." +
                                 std::to_string(e.address >> 8 & 0xFF) + "." +
                                 std::to_string(e.address & 0xFF) + ":" + std::to_string(e.port);
        NetworkEntry again;
        Require(ParseNetworkEntry(text.c_str(), &again) && again.kind == e.kind &&
                    again.address == e.address && again.port == e.port,
                "a network entry does not read back as itself");
    }
    const std::string name = networkName;
    Require(!name.empty() && name.size() <= 8 &&
                name.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789") ==
                    std::string::npos,
            "the network name is not 1 to 8 letters and digits");
    Require(standin::ProfileSection(kPath, kSection).count("Network") == file.count("Network"),
            "Network was written");

    // The file as written back loads to the same settings and stays as it is.
    const Loaded second = Load(generation, first.file);
    Require(second.result == first.result && second.mask == first.mask &&
                second.sixDecimals == first.sixDecimals && second.relay == first.relay &&
                second.baud == first.baud && second.interval == first.interval &&
                second.device == first.device && second.file == first.file,
            "the file written back is not a fixed point");
    return 0;
}
