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
        {"XYZ", 0, 0x001},
        {"GPRMC", 0, 0x001},
        {"RMCX,GllA", 0, 0x003},
        {"pgrm,gtex", 0, 0x001},
        {",GGA", 0, 0x004},
        {"RMC,,GSA", 0, 0x041},
        {"GLL,", 0, 0x002},
        {"", 0, 0x001},
        {"RMC,GLL,GGA,GSA,VTG,RMA,GSV,PGRMZ,GTEXT,AV400,RPY", 2, 0xEFF},
    };
    for (const auto& c : cases) {
        standin::Reset();
        HostGeneration = c.generation;
        standin::SetProfileValue(kPath, "Waypost", "Sentences", c.value);
        LoadSettings(kPath);
        EXPECT_EQ(sentenceMask, c.mask) << "Sentences=" << c.value << " generation " << c.generation;
        EXPECT_EQ(standin::ProfileValue(kPath, "Waypost", "Sentences"), c.value) << "never written back";
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
        BOOL result;
    } cases[] = {
        {"PosTo6Decimal", "nope", &sixDecimalMinutes, 0, "No", TRUE},
        {"PosTo6Decimal", "0", &sixDecimalMinutes, 1, "Yes", TRUE},
        {"PosTo6Decimal", "N", &sixDecimalMinutes, 1, "Yes", TRUE},
        {"PosTo6Decimal", "", &sixDecimalMinutes, 1, "Yes", TRUE},
        {"Interval", "50", &outputInterval, 100, "100", TRUE},
        {"Interval", "abc", &outputInterval, 100, "100", TRUE},
        {"Interval", "-5", &outputInterval, 100, "100", TRUE},
        {"Interval", "", &outputInterval, 2000, "2000", TRUE}, // present but empty: the value held stays
        {"Interval", "99999999999", &outputInterval, 2147483647, "2147483647", TRUE},
        {"Speed", "abc", &baudRate, 0, "0", TRUE},
        {"Speed", "19200 baud", &baudRate, 19200, "19200", TRUE},
        {"Speed", "", &baudRate, 4800, "4800", TRUE},
        {"Speed", "-99999999999", &baudRate, -2147483647 - 1, "-2147483648", TRUE},
        {"Port", "nethub2", &relayMode, 1, "nethub2", TRUE}, // six characters compared, nothing opened
        {"Port", "NetHu", &relayMode, 0, "NetHu", TRUE},
        {"Port", "", &relayMode, 0, "", FALSE}, // empty name: "\\.\" does not open, start-up stops
        {"Port", longName, &relayMode, 0, std::string(57, 'P'), TRUE},
    };
    for (const auto& c : cases) {
        standin::Reset();
        standin::SetProfileValue(kPath, "Waypost", c.key, c.value);
        EXPECT_EQ(LoadSettings(kPath), c.result) << c.key << "=" << c.value;
        EXPECT_EQ(*c.setting, c.expected) << c.key << "=" << c.value;
        EXPECT_EQ(standin::ProfileValue(kPath, "Waypost", c.key), c.written) << c.key << "=" << c.value;
        if (std::string(c.key) == "Port") {
            const std::vector<std::string> open = {"CreateFileA(\\\\.\\" + c.written +
                                                   ",0xC0000000,0,3,0x40000000)"};
            EXPECT_EQ(standin::CallsOf({"CreateFileA"}), relayMode ? std::vector<std::string>() : open)
                << c.value;
        }
    }
}

} // namespace
