// The settings loader with any value (any bytes a profile line can hold, any length) under every key,
// each key present or absent, on every host generation, in relay and serial output, under the sanitizers.
// Checked: every value kept lies in its range, and the file it writes back is a fixed point (loading it again
// gives the same settings and the same file). What each value means is the unit tests' part.
#include <algorithm>
#include <map>
#include <tuple>

#include "fuzz_support.h"
#include "host/linkage.h"
#include "settings/network_settings.h"
#include "settings/settings.h"
#include "win32_standin.h"

namespace {

const char kPath[] = "C:\\Sim\\Modules\\Waypost.ini";
const char* const kKeys[] = {"PosTo6Decimal", "Sentences", "Port",        "Speed",
                             "Interval",      "Network",   "NetworkName", "AttitudeRate"};
constexpr uint32_t kKnownBits = 0x1FEFF; // the records' bits in the sentence mask

// The settings as loaded from the section, and the section as written back.
using Loaded = std::tuple<bool, uint32_t, int32_t, int32_t, int32_t, int32_t, std::string,
                          std::map<std::string, std::string>>;

Loaded Load(int32_t generation, const std::map<std::string, std::string>& file) {
    standin::Reset();
    standin::S().record = false;
    HostGeneration = generation;
    for (const auto& item : file) {
        standin::SetProfileValue(kPath, kSettingsSection, item.first, item.second);
    }
    LoadSettings(kPath);
    Require(std::memchr(devicePath, '\0', sizeof devicePath) != nullptr, "the device path is not terminated");
    return Loaded(SerialLineSelected(), sentenceMask, sixDecimalMinutes, relayMode, baudRate, outputInterval,
                  devicePath, standin::ProfileSection(kPath, kSettingsSection));
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
    Require(sixDecimalMinutes == 0 || sixDecimalMinutes == 1, "PosTo6Decimal is no flag");
    Require(sentenceMask != 0 && (sentenceMask & ~kKnownBits) == 0,
            "a mask bit no token stands for, or none");
    Require(std::strncmp(devicePath, "\\\\.\\", 4) == 0 &&
                std::strlen(devicePath) < kDevicePrefixLength + kPortNameReadSize,
            "the device path is not the prefix and a port name of at most 57 characters");
    Require(outputInterval >= 100, "an interval below 100 ms");

    LoadNetworkSettings(kPath);
    Require(networkEntryCount >= 0 && networkEntryCount <= kMaxNetworkEntries, "more than eight entries");
    for (int32_t i = 0; i < networkEntryCount; ++i) {
        const NetworkEntry& e = networkEntries[i];
        Require(e.kind >= kNetworkUdp && e.kind <= kNetworkGdl90 && e.port != 0 &&
                    (e.address != 0 || e.kind == kNetworkTcp || IsDiscoveryEntry(e)),
                "a malformed network entry was kept");
    }
    const std::string name = networkName;
    Require(!name.empty() && name.size() <= static_cast<size_t>(kNetworkNameLength) &&
                name.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789") ==
                    std::string::npos,
            "the network name is not 1 to 8 letters and digits");
    Require(attitudeRate >= kMinAttitudeRate && attitudeRate <= kMaxAttitudeRate,
            "AttitudeRate out of range");

    Require(Load(generation, std::get<7>(first)) == first, "the file written back is not a fixed point");
    return 0;
}
