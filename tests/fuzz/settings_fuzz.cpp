// The settings loader with any value (any bytes a profile line can hold, any length) under every key,
// each key present or absent, on every host generation, in relay and serial output, under the sanitizers.
// Checked: every value kept lies in its range and is what was written back, the file it writes back is a
// fixed point (loading it again gives the same settings and the same file), and the network entries kept
// are at most eight well-formed ones and the network name is letters and digits. What each value means is
// the unit tests' part.
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
const char* const kKeys[] = {"PosTo6Decimal", "Sentences", "Port",        "Speed",
                             "Interval",      "Network",   "NetworkName", "AttitudeRate"};
constexpr size_t kPortRead = 57; // characters a 58-byte read keeps

constexpr uint32_t kKnownBits = 0x7EFF; // the records' bits in the sentence mask

struct Loaded {
    bool serialLine;
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
    LoadSettings(kPath);
    loaded.serialLine = SerialLineSelected();
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
    const Loaded first = Load(generation, file);

    Require(first.sixDecimals == 0 || first.sixDecimals == 1, "PosTo6Decimal is no flag");
    Require(first.file.at("PosTo6Decimal") == (first.sixDecimals ? "Yes" : "No"),
            "PosTo6Decimal written back wrongly");
    Require(first.mask != 0 && (first.mask & ~kKnownBits) == 0, "a mask bit no token stands for, or none");
    Require(file.count("Sentences") == first.file.count("Sentences") &&
                (!file.count("Sentences") || first.file.at("Sentences") == file.at("Sentences")),
            "Sentences was written");
    Require(first.device.compare(0, 4, "\\\\.\\") == 0 && first.device.size() <= 4 + kPortRead &&
                first.file.at("Port") == first.device.substr(4),
            "the device path is not the prefix and the port name written back");
    Require(first.relay == 0 || strncasecmp(first.device.c_str() + 4, "NetHub", 6) == 0,
            "relay mode without NetHub");
    Require(first.file.at("Speed") == std::to_string(first.baud), "Speed written back wrongly");
    Require(first.interval >= 100, "an interval below 100 ms");
    Require(first.file.at("Interval") == std::to_string(first.interval), "Interval written back wrongly");

    // At most eight well-formed network entries, each one that reads back as itself; a name of letters and
    // digits; an attitude rate within its limits. None of the keys is written back.
    LoadNetworkSettings(kPath);
    Require(networkEntryCount >= 0 && networkEntryCount <= kMaxNetworkEntries, "more than eight entries");
    for (int32_t i = 0; i < networkEntryCount; ++i) {
        const NetworkEntry& e = networkEntries[i];
        Require(e.kind >= kNetworkUdp && e.kind <= kNetworkGdl90 && e.port != 0 &&
                    (e.address != 0 || e.kind == kNetworkTcp || IsDiscoveryEntry(e)),
                "a malformed network entry was kept");
        const std::string address =
            IsDiscoveryEntry(e)
                ? "auto"
                : std::to_string(e.address >> 24) + "." + std::to_string(e.address >> 16 & 0xFF) + "." +
                      std::to_string(e.address >> 8 & 0xFF) + "." + std::to_string(e.address & 0xFF);
        const std::string text =
            std::string(NetworkKindName(e.kind)) + ":" + address + ":" + std::to_string(e.port);
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
    Require(attitudeRate >= kMinAttitudeRate && attitudeRate <= kMaxAttitudeRate,
            "AttitudeRate out of range");
    for (const char* key : {"Network", "NetworkName", "AttitudeRate"}) {
        Require(standin::ProfileSection(kPath, kSection).count(key) == file.count(key),
                "a network key was written");
    }

    // The file as written back loads to the same settings and stays as it is.
    const Loaded second = Load(generation, first.file);
    Require(second.serialLine == first.serialLine && second.mask == first.mask &&
                second.sixDecimals == first.sixDecimals && second.relay == first.relay &&
                second.baud == first.baud && second.interval == first.interval &&
                second.device == first.device && second.file == first.file,
            "the file written back is not a fixed point");
    return 0;
}
