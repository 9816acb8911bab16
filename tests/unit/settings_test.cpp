// The settings loader: the Sentences scan, parsing, limits and write-back of each key, relay selection and
// the port open at the end (a first run's file is the end-to-end tests' part).
#include <gtest/gtest.h>

#include <string>

#include "host/linkage.h"
#include "settings/settings.h"
#include "win32_standin.h"

namespace {

const char kPath[] = "C:\\Sim\\Modules\\Waypost.ini";

TEST(SettingsTest, SentencesScan) {
    const struct {
        const char* value;
        int32_t generation;
        SentenceMask mask;
    } cases[] = {
        {"gga,vtg,gsv", 0, 0x08C},
        {"RMC, GGA", 0, 0x001},
        {"RPY", 0, 0x001},
        {"RPY,GLL", 1, 0x802},
        {"RMCX,GllA", 0, 0x003},
        {",GGA", 0, 0x004},
        {"", 0, 0x001},
        {"RMC,GLL,GGA,GSA,VTG,RMA,GSV,PGRMZ,GTEXT,AV400,RPY,HDT,HDM,HDG,LK8EX1,LXWP0", 2, 0x1FEFF},
        {"lxwp0,Lk8ex1", 0, 0x18000},
        {"hdg,RPY,Hdt", 0, 0x5000},
    };
    for (const auto& c : cases) {
        standin::Reset();
        HostGeneration = c.generation;
        standin::SetProfileValue(kPath, "Waypost", "Sentences", c.value);
        LoadSettings(kPath);
        EXPECT_EQ(sentenceMask, c.mask) << "Sentences=" << c.value << " generation " << c.generation;
        EXPECT_EQ(standin::ProfileSection(kPath, "Waypost")["Sentences"], c.value) << "never written back";
    }
}

TEST(SettingsTest, KeysAreParsedLimitedAndWrittenBack) {
    const std::string longName(70, 'P');
    const struct {
        const char* key;
        std::string value;
        const int32_t* setting;
        int32_t expected;
        std::string written;
        bool serialLine; // a serial device is to be opened
    } cases[] = {
        {"PosTo6Decimal", "nope", &sixDecimalMinutes, 0, "No", true},
        {"PosTo6Decimal", "0", &sixDecimalMinutes, 1, "Yes", true},
        {"Interval", "50", &outputInterval, 100, "100", true},
        {"Interval", "", &outputInterval, 2000, "2000", true}, // present but empty: the value held stays
        {"Interval", "99999999999", &outputInterval, 2147483647, "2147483647", true},
        {"Speed", "abc", &baudRate, 0, "0", true},
        {"Speed", "19200 baud", &baudRate, 19200, "19200", true},
        {"Speed", "-99999999999", &baudRate, -2147483647 - 1, "-2147483648", true},
        {"Port", "nethub2", &relayMode, 1, "nethub2", false}, // six characters compared, nothing opened
        {"Port", "NetHu", &relayMode, 0, "NetHu", true},
        {"Port", "", &relayMode, 0, "", true}, // empty name: "\\.\" does not open, start-up stops
        {"Port", "none", &relayMode, 0, "none", false},
        {"Port", longName, &relayMode, 0, std::string(57, 'P'), true},
    };
    for (const auto& c : cases) {
        standin::Reset();
        standin::SetProfileValue(kPath, "Waypost", c.key, c.value);
        LoadSettings(kPath);
        EXPECT_EQ(SerialLineSelected(), c.serialLine) << c.key << "=" << c.value;
        EXPECT_EQ(*c.setting, c.expected) << c.key << "=" << c.value;
        EXPECT_EQ(standin::ProfileSection(kPath, "Waypost")[c.key], c.written) << c.key << "=" << c.value;
        EXPECT_EQ(std::string(devicePath + kDevicePrefixLength),
                  c.key == std::string("Port") ? c.written : "COM1")
            << c.value;
        EXPECT_TRUE(standin::CallsOf({"CreateFileA"}).empty()) << "the loader opens nothing";
    }
}

} // namespace
