// The network outputs: the GDL 90 and EFB text records against literal bytes (the GDL 90 document's own
// examples where they apply, the others worked from the published formats with an independent frame check
// sequence), the "Network" setting, ForeFlight's announcement (each parsed from a heap block of its exact
// size, so that a sanitizer build catches a read past its end), and the sockets through the stand-in: the
// feeds' own rates, tablets found by their announcements, clients that stall, flood or hang up, destinations
// where nothing listens, failures that cost one entry only, and everything closed at shut-down.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <numeric>
#include <string>
#include <tuple>
#include <vector>

#include "module_run.h"
#include "network/announcement.h"
#include "network/discovery.h"
#include "network/network.h"
#include "reference_fix.h"
#include "sentences/network_records.h"
#include "sentences/records.h"
#include "settings/network_settings.h"

namespace {

std::string Hex(const char* data, int32_t length) {
    std::string text;
    for (int32_t i = 0; i < length; ++i) {
        char byte[4];
        std::snprintf(byte, sizeof byte, "%s%02X", i > 0 ? " " : "", static_cast<unsigned char>(data[i]));
        text += byte;
    }
    return text;
}

std::string Appended(int32_t (*append)(char*, const NavSnapshot&)) {
    char out[kNetworkRecordSize];
    return Hex(out, append(out, navSnapshot));
}

// 47.4502 N 122.3088 W at 1066.8 m (3500 ft), 120 kt on a true track of 90, 512 fpm up, heading 92.3, roll
// 15 right and pitch 2.5 up (the host counts both the other way), 118 kt indicated, 12:34:56.
void SetNetworkFix() {
    SetReferenceFix(true);
    NavSnapshot& s = navSnapshot;
    std::tie(s.timeHours, s.timeMinutes, s.timeSeconds) = std::make_tuple(12, 34, 56);
    std::tie(s.latitudeDegrees, s.longitudeDegrees, s.altitudeMsl) =
        std::make_tuple(47.4502, -122.3088, 1066.8);
    std::tie(s.groundSpeedMs, s.trackTrue, s.verticalSpeedFpm) =
        std::make_tuple(120 * 1852.0 / 3600, 90, 512);
    std::tie(s.headingTrue, s.bankDegrees, s.pitchDegrees, s.airspeedValue) =
        std::make_tuple(92.3, -15, -2.5, 118);
}

TEST(Gdl90, RecordsFromTheSnapshot) {
    standin::Reset();
    SetNetworkFix();
    char out[kNetworkRecordSize];
    // Inside a frame 0x7E and 0x7D go as 0x7D and the byte XOR 0x20 (the check sequence comes from the bytes
    // before): 0x0B 0x7E 0x7D 0x00 0x0A checks as 0x7497.
    const uint8_t escaped[] = {0x0B, 0x7E, 0x7D, 0x00, 0x0A};
    EXPECT_EQ(Hex(out, Gdl90Frame(escaped, sizeof escaped, out)), "7E 0B 7D 5E 7D 5D 00 0A 97 74 7E");
    // The heartbeat's time stamp is held within the day, whatever the host's clock says.
    const struct {
        int32_t hours, minutes;
        bool valid;
        const char* frame;
    } heartbeats[] = {
        {12, 34, true, "7E 00 81 01 F0 B0 00 00 A6 28 7E"},
        {1000000, 0, true, "7E 00 81 81 7F 51 00 00 55 F5 7E"},
        {INT32_MIN, 0, false, "7E 00 01 00 00 00 00 00 B4 76 7E"},
    };
    for (const auto& h : heartbeats) {
        navSnapshot.timeHours = h.hours;
        navSnapshot.timeMinutes = h.minutes;
        EXPECT_EQ(Hex(out, AppendGdl90Heartbeat(out, {Gdl90SecondsOfDay(navSnapshot), h.valid})), h.frame)
            << h.hours << " h " << h.minutes << " min";
    }
    EXPECT_EQ(Appended(AppendGdl90Ownship),
              "7E 0A 00 00 00 00 21 BE 0B A9 06 5D 0B 49 BB 07 80 08 40 01 57 41 59 50 "
              "4F 53 54 20 00 42 D3 7E");
    // Capability bit 0 clear: the geometric altitude is the height above the WGS-84 ellipsoid.
    EXPECT_EQ(Hex(out, AppendGdl90Identification(out)),
              "7E 65 00 01 FF FF FF FF FF FF FF FF 57 61 79 70 6F 73 74 "
              "00 57 61 79 70 6F 73 74 20 73 69 6D 20 47 50 "
              "53 00 00 00 00 00 D5 B2 7E");
    EXPECT_EQ(Appended(AppendGdl90Ahrs), "7E 65 01 00 96 00 19 03 9B 00 76 FF FF 7F 01 7E");

    // Values the host gave none of go as their fields' "no data"; the altitude message has none: left out.
    NavSnapshot& s = navSnapshot;
    for (double* field : {&s.verticalSpeedFpm, &s.trackTrue, &s.bankDegrees, &s.pitchDegrees, &s.headingTrue,
                          &s.airspeedValue, &s.altitudeMsl}) {
        *field = std::nan("");
    }
    EXPECT_EQ(Appended(AppendGdl90Ownship),
              "7E 0A 00 00 00 00 21 BE 0B A9 06 5D FF F8 BB 07 88 00 00 01 57 41 59 50 "
              "4F 53 54 20 00 4E 25 7E");
    EXPECT_EQ(Appended(AppendGdl90Ahrs), "7E 65 01 7F FF 7F FF FF FF FF FF FF FF FB 12 7E");
    EXPECT_EQ(AppendGdl90GeometricAltitude(out, s), 0);

    // The height above sea level plus the geoid's: 3650 ft above the ellipsoid at 0 N 0 E, where the geoid
    // lies 17.16 m above it.
    SetNetworkFix();
    s.latitudeDegrees = s.longitudeDegrees = 0;
    s.altitudeMsl = 3650 * 0.3048 - 17.16;
    EXPECT_EQ(Appended(AppendGdl90GeometricAltitude), "7E 0B 02 DA 00 0A AE FC 7E");

    // 180 east is the semicircle 0x800000; on the ground at 10 kt, a descent beyond the field's range, a
    // track that rounds to a full circle, and a name of lower-case letters.
    SetNetworkFix();
    std::tie(s.latitudeDegrees, s.longitudeDegrees) = std::make_tuple(0, 180);
    std::tie(s.groundSpeedMs, s.verticalSpeedFpm, s.trackTrue) =
        std::make_tuple(10 * 1852.0 / 3600, -40000, 359.9);
    std::snprintf(networkName, sizeof networkName, "efb2");
    EXPECT_EQ(Appended(AppendGdl90Ownship),
              "7E 0A 00 00 00 00 00 00 00 80 00 00 0B 41 BB 00 AE 02 00 01 45 46 42 32 "
              "20 20 20 20 00 0D F8 7E");
}

// A GDL 90 frame's message: flags dropped, escapes undone.
std::vector<int> Unstuffed(const std::string& frame) {
    std::vector<int> m;
    for (size_t i = 1; i + 1 < frame.size(); ++i) {
        m.push_back(frame[i] == 0x7D ? (frame[++i] ^ 0x20) & 0xFF : frame[i] & 0xFF);
    }
    return m;
}

// The host's altitude as pressure altitude: (feet + 1000) / 25 rounded once (the snapshot's offset taken
// off), held to 0..0xFFE; 0xFFF only without an altitude, or with PressureAltitude=No.
TEST(Gdl90, PressureAltitudeField) {
    const struct {
        double metres;
        int field;
        bool setting = true;
    } cases[] = {
        {0, 0x028},      {1524.3, 0x0F0},       {-500, 0x000},          {15000, 0x7D9},
        {31000, 0xFFE},  {std::nan(""), 0xFFF}, {3.807, 0x028},         {3.815, 0x029},
        {-304.8, 0x000}, {-297.18, 0x001},      {30887.5, 0xFFD},       {30891.48, 0xFFE},
        {1e300, 0xFFE},  {-1e300, 0x000},       {1066.8, 0xFFF, false}, {1066.8, 0x0B4},
    };
    for (const auto& c : cases) {
        SetNetworkFix();
        navSnapshot.altitudeMsl = c.metres;
        pressureAltitude = c.setting;
        char out[kNetworkRecordSize];
        const auto m = Unstuffed({out, static_cast<size_t>(AppendGdl90Ownship(out, navSnapshot))});
        EXPECT_EQ(m[11] << 4 | m[12] >> 4, c.field) << c.metres << " m, PressureAltitude " << c.setting;
    }
}

// The altitude rounds to the nearest tenth of a metre for any altitude; south and west are negative; a line
// with a value the host gave none of is left out.
TEST(Xgps, PositionAndAttitudeLines) {
    const double nan = std::nan("");
    const struct {
        double latitude, longitude, altitude, bank;
        const char* xgps;
        const char* xatt;
    } cases[] = {
        {47.4502, -122.3088, 1066.8, -15, "XGPSWaypost,-122.308800,47.450200,1066.8,90.00,61.7",
         "XATTWaypost,92.3,2.5,15.0"},
        {-0.0000004, 179.9999996, 1066.86, nan, "XGPSWaypost,180.000000,0.000000,1066.9,90.00,61.7", ""},
        {10, 20, -12.34, 180, "XGPSWaypost,20.000000,10.000000,-12.3,90.00,61.7",
         "XATTWaypost,92.3,2.5,-180.0"},
        {10, 20, nan, 1, "", "XATTWaypost,92.3,2.5,-1.0"},
    };
    for (const auto& c : cases) {
        standin::Reset();
        SetNetworkFix();
        NavSnapshot& s = navSnapshot;
        std::tie(s.latitudeDegrees, s.longitudeDegrees, s.altitudeMsl) =
            std::tie(c.latitude, c.longitude, c.altitude);
        std::tie(s.groundSpeedMs, s.bankDegrees) = std::make_tuple(61.7, c.bank);
        char out[kNetworkRecordSize];
        EXPECT_EQ(std::string(out, static_cast<size_t>(AppendXgps(out, navSnapshot))), c.xgps) << c.altitude;
        EXPECT_EQ(std::string(out, static_cast<size_t>(AppendXatt(out, navSnapshot))), c.xatt) << c.bank;
    }
}

using namespace std::string_literals;

constexpr uint16_t kUntouched = 12345;

// An announcement with n arrays inside one another in the outer object: n + 1 containers deep.
std::string Nested(size_t n) {
    return R"({"x":)" + std::string(n, '[') + "0" + std::string(n, ']') +
           R"(,"App":"ForeFlight","GDL90":{"port":4000}})";
}

TEST(Announcement, Verdicts) {
    const struct {
        std::string input;
        AnnouncementVerdict verdict;
        uint16_t port; // with a GDL 90 port
    } cases[] = {
        {R"({"App":"ForeFlight","GDL90":{"port":4000}})", kAnnouncementGdl90, 4000},
        {R"({"Version":"14.2","App":"ForeFlight","Build":20231001,"Beta":false,"Pro":true,"Sync":null,)"
         R"("Ratio":-0.25E-2,"Scale":1e+3,"Small":2.5e-3,"Devices":[{"Name":"iPad","Slots":[[],[{}]]},[]],)"
         R"("Note":"{\"a\":[1,}] \\\" \\\\ \/ \b\f\n\r\t \u00E9\uD83D\ude00 ]}",)"
         R"("Empty":"","Utf8":"Zürich","GDL90":{"port":4000}})",
         kAnnouncementGdl90, 4000},
        {" \t\r\n{ \"App\" :\t\"ForeFlight\" ,\n\"GDL90\"\r\n:{\n\t\"port\" : 4000 } }\r\n",
         kAnnouncementGdl90, 4000},
        {R"({"App":"ForeFlight","GDL90":{"port":65535}})", kAnnouncementGdl90, 65535},
        {R"({"App":"ForeFlight","GDL90":{"port":0}})", kAnnouncementNoPort, 0},
        {R"({"App":"ForeFlight","GDL90":{"port":65536}})", kAnnouncementNoPort, 0},
        {R"({"App":"ForeFlight","GDL90":{"port":4000.0}})", kAnnouncementNoPort, 0},
        {R"({"App":"ForeFlight","GDL90":{"port":04000}})", kAnnouncementMalformed, 0},
        {R"({"App":"ForeFlight","GDL90":[{"port":4000}]})", kAnnouncementNoPort, 0},
        {"", kAnnouncementMalformed, 0},
        {R"({"App":"ForeFlight","GDL90":{"port":4000})", kAnnouncementMalformed, 0},
        {R"({"App":"ForeFlight","GDL90":{"port":4000}}x)", kAnnouncementMalformed, 0},
        {R"([{"App":"ForeFlight","GDL90":{"port":4000}}])", kAnnouncementMalformed, 0},
        {R"({"App":"ForeFlight","GDL90":{"port":4000},})", kAnnouncementMalformed, 0},
        {"{\"App\":\"ForeFlight\",\"x\":\"a\tb\",\"GDL90\":{\"port\":4000}}", kAnnouncementMalformed, 0},
        {"{\"App\":\"ForeFlight\",\"x\":\"\x7F\xFF\",\"GDL90\":{\"port\":4000}}", kAnnouncementGdl90, 4000},
        {Nested(15), kAnnouncementGdl90, 4000},
        {Nested(16), kAnnouncementMalformed, 0},
        {Nested(100000), kAnnouncementMalformed, 0},
        {"{\"App\":\"Fore\0Flight\",\"GDL90\":{\"port\":4000}}"s, kAnnouncementMalformed, 0},
        {R"({"App":"ForeFlight","GDL90":{"port":4000},"GDL90":{"port":4001}})", kAnnouncementGdl90, 4001},
    };
    for (const auto& c : cases) {
        const std::vector<char> bytes(c.input.begin(), c.input.end());
        Announcement found = {kUntouched, nullptr, 0};
        const AnnouncementVerdict verdict =
            ParseAnnouncement(bytes.data(), static_cast<int32_t>(bytes.size()), &found);
        EXPECT_EQ(verdict, c.verdict) << c.input.substr(0, 120);
        EXPECT_EQ(found.port, c.verdict == kAnnouncementGdl90 ? c.port : kUntouched)
            << c.input.substr(0, 120);
    }
}

const char kPath[] = "C:\\Sim\\Modules\\Waypost.ini";

// AttitudeRate is read only with an EFB or GDL 90 entry, PressureAltitude only with a GDL 90 entry.
TEST(NetworkSettings, EntriesNameAttitudeRateAndPressureAltitude) {
    const struct {
        std::string network;
        const char* name;
        const char* rate;
        const char* entries; // kind address:port, ...
        const char* usedName;
        int32_t usedRate;
        const char* pressure;
        bool usedPressure;
    } cases[] = {
        {"udp:127.0.0.1:10110, TCP:10110 ,xgps:192.168.1.30,gdl90:10.0.0.2:4001", "", "10",
         "0 127.0.0.1:10110,1 0.0.0.0:10110,2 192.168.1.30:49002,3 10.0.0.2:4001", "Waypost", 10, "", true},
        {"tcp:127.0.0.1:2000,gdl90:255.255.255.255,,", "My-EFB_1", "0",
         "1 127.0.0.1:2000,3 255.255.255.255:4000", "MyEFB1", 5, "no", false},
        {"udp:1.2.3.4,udp:1.2.3:5,udp:256.1.1.1:5,udp:1.2.3.4:0,udp:1.2.3.4:65536,udp:0.0.0.0:5,tcp:0,"
         "udp:host.example:5,ftp:1.2.3.4:5,udp: 1.2.3.4:5,udp:01.2.3.4:5x,udp:1.2.3.4.5:6,gdl90:auto:0,"
         "gdl90:autox,xgps:auto",
         "ABCDEFGHIJ", "1", "", "ABCDEFGH", 5, "No", true},
        {"gdl90:auto,GDL90:Auto:5000", "", "1", "3 0.0.0.0:63093,3 0.0.0.0:5000", "Waypost", 1, "On", true},
        {"udp:1.1.1.1:1,udp:1.1.1.2:2,udp:1.1.1.3:3,udp:1.1.1.4:4,udp:1.1.1.5:5,udp:1.1.1.6:6,udp:1.1.1.7:7,"
         "udp:1.1.1.8:8,udp:1.1.1.9:9",
         "-", "5x",
         "0 1.1.1.1:1,0 1.1.1.2:2,0 1.1.1.3:3,0 1.1.1.4:4,0 1.1.1.5:5,0 1.1.1.6:6,0 1.1.1.7:7,0 1.1.1.8:8",
         "Waypost", 5, "No", true},
        // The read stops at 1023 characters, inside the last entry's port: not taken as port 101.
        {"xgps:10.0.0.1," + std::string(1023 - 14 - 22, ' ') + "udp:192.168.1.20:10110", "", "11",
         "2 10.0.0.1:49002", "Waypost", 5, "NO", true},
    };
    for (const auto& c : cases) {
        standin::Reset();
        standin::SetProfileValue(kPath, "Waypost", "Network", c.network);
        standin::SetProfileValue(kPath, "Waypost", "NetworkName", c.name);
        standin::SetProfileValue(kPath, "Waypost", "AttitudeRate", c.rate);
        standin::SetProfileValue(kPath, "Waypost", "PressureAltitude", c.pressure);
        LoadNetworkSettings(kPath);
        std::string entries;
        for (int32_t i = 0; i < networkEntryCount; ++i) {
            const NetworkEntry& e = networkEntries[i];
            char text[40];
            std::snprintf(text, sizeof text, "%s%d %u.%u.%u.%u:%u", i > 0 ? "," : "",
                          static_cast<int>(e.kind), e.address >> 24, e.address >> 16 & 0xFF,
                          e.address >> 8 & 0xFF, e.address & 0xFF, static_cast<unsigned>(e.port));
            entries += text;
        }
        EXPECT_EQ(entries, c.entries) << c.network;
        EXPECT_STREQ(networkName, c.usedName) << c.name;
        EXPECT_EQ(attitudeRate, c.usedRate) << c.rate;
        EXPECT_EQ(pressureAltitude, c.usedPressure) << c.pressure;
        EXPECT_EQ(standin::ProfileSection(kPath, "Waypost").size(), 4u) << "nothing is written back";
    }
}

// How often the module's log holds `text` from offset `from`.
int Occurrences(const std::string& text, size_t from = 0) {
    const size_t at = standin::S().logText.find(text, from);
    return at == std::string::npos ? 0 : 1 + Occurrences(text, at + 1);
}

// What one run sent to a destination: the datagrams, with the tick each went at.
std::vector<standin::Datagram> DatagramsTo(const std::string& to, const std::string& prefix = "") {
    std::vector<standin::Datagram> found;
    for (const standin::Datagram& datagram : standin::S().datagrams) {
        if (datagram.to == to && datagram.bytes.compare(0, prefix.size(), prefix) == 0) {
            found.push_back(datagram);
        }
    }
    return found;
}

// The ticks of the datagrams to `to` that begin with `prefix` (a GDL 90 frame's flag, ID and sub-ID). On a
// coarse timer, whose tick ends the sleeps, one at most a tick past a step's mid-step counts as sent at it.
std::vector<DWORD> Ticks(const std::string& to, const std::string& prefix) {
    std::vector<DWORD> ticks;
    for (const standin::Datagram& d : DatagramsTo(to, prefix)) {
        const DWORD past = (d.at + 50) % 100;
        ticks.push_back(past * 1000 < standin::S().timerTickUs + 1000 ? d.at - past : d.at);
    }
    return ticks;
}

// The mid-step ticks of every `every`-th step of a run of `steps` steps from step `from`.
std::vector<DWORD> EveryNthStep(int every, int steps, int from = 0) {
    std::vector<DWORD> ticks;
    for (int step = from; every > 0 && step < steps; step += every) {
        ticks.push_back(static_cast<DWORD>(step * 100 + 50));
    }
    return ticks;
}

modulerun::RunSetup FeedRun(const char* interval, int32_t generation, const std::string& network,
                            const char* rate = "", bool coarseTimer = false) {
    modulerun::RunSetup setup;
    setup.interval = interval;
    setup.generation = generation;
    setup.keys = {{"Network", network}, {"AttitudeRate", rate}, {"Log", "Yes"}};
    setup.script = [coarseTimer] {
        fakehost::SetReadyWord(1);                          // a generation-0 host samples while it is set
        standin::S().timerTickUs = coarseTimer ? 15625 : 0; // Windows' default tick
    };
    return setup;
}

const char kFeeds[] = "xgps:127.0.0.2,gdl90:127.0.0.3,udp:127.0.0.4:10110";

// The EFB and GDL 90 feeds keep their own rates whatever Interval is: heartbeat, position and identification
// every 10 steps from the first, attitude every whole number of steps that is not faster than AttitudeRate
// (none on the first generation), each from a sample asked for at that step. The line keeps its period,
// and the NMEA over UDP the line's texts. On Windows' coarse timer (a 15.625 ms tick) each of them still
// comes within a tick of its step's mid-step time, over 50 periods and more: the half steps sleep until
// their deadlines, where plain 50 ms sleeps stretch every step by a quarter.
TEST(NetworkFeeds, OwnRatesWhateverTheIntervalOrTimer) {
    const struct {
        const char* interval;
        const char* rate;
        int32_t generation;
        int attitudeSteps;   // 0: none
        bool coarse = false; // Windows' default timer instead of exact sleeps, as Wine's
    } cases[] = {
        {"100", "1", 2, 10},       {"100", "10", 0, 0},       {"1000", "5", 2, 2},       {"1000", "", 2, 2},
        {"1000", "1", 0, 0},       {"2000", "10", 2, 1},      {"2000", "5", 2, 2},       {"2000", "3", 2, 4},
        {"100", "10", 2, 1, true}, {"1000", "5", 2, 2, true}, {"2000", "3", 2, 4, true},
    };
    for (const auto& c : cases) {
        const int runSteps = c.coarse ? 1050 : 40; // on the coarse timer, 50 periods at Interval 2000
        SCOPED_TRACE("row " + std::to_string(&c - cases));
        const modulerun::Outcome out =
            modulerun::Simulate(FeedRun(c.interval, c.generation, kFeeds, c.rate, c.coarse), runSteps * 100);
        // The line's own period is Interval / 100 + 1 steps, strictly: its first text (over UDP too) comes at
        // that step.
        const int period = std::atoi(c.interval) / 100 + 1;
        EXPECT_EQ(Ticks("127.0.0.4:10110", ""), EveryNthStep(period, runSteps, period));
        const std::vector<DWORD> second = EveryNthStep(10, runSteps),
                                 attitude = EveryNthStep(c.attitudeSteps, runSteps);
        for (const char* kind : {"\x7E\x00", "\x7E\x0A", "\x7E\x0B", "\x7E\x65\x00"}) {
            EXPECT_EQ(Ticks("127.0.0.3:4000", std::string(kind, kind[1] == 0x65 ? 3 : 2)), second) << kind[1];
        }
        EXPECT_EQ(Ticks("127.0.0.3:4000", "\x7E\x65\x01"), attitude);
        EXPECT_EQ(Ticks("127.0.0.2:49002", "XGPS"), second);
        EXPECT_EQ(Ticks("127.0.0.2:49002", "XATT"), attitude);
        // One sample serves each step that asks for one, the line's and the feeds' alike.
        std::vector<int> steps;
        for (int step = 0; step < runSteps; ++step) {
            if ((step > 0 && step % period == 0) || step % 10 == 0 ||
                (c.attitudeSteps != 0 && step % c.attitudeSteps == 0)) {
                steps.push_back(step);
            }
        }
        EXPECT_EQ(out.sampleSteps, steps);
    }
}

// The heartbeat goes every second, sample or not: its position is valid while the last sample is at most
// 3 s old. Position records go only with a fresh sample; a record whose value is missing not at all.
TEST(NetworkFeeds, HeartbeatWithAndWithoutFreshSamples) {
    for (const DWORD stopsAt : {0u, 3000u, 99999u}) {
        SCOPED_TRACE("samples stop at " + std::to_string(stopsAt));
        modulerun::RunSetup setup = FeedRun("2000", 2, "gdl90:127.0.0.3,xgps:127.0.0.2");
        setup.services.variables = stopsAt != 0;
        setup.script = [] {
            fakehost::SetReadyWord(1);
            fakehost::SetValue(0x4F, std::nan("")); // the bank
        };
        const modulerun::Outcome out = modulerun::Simulate(setup, 8000, [stopsAt](DWORD tick) {
            if (tick == stopsAt) {
                fakehost::Uninstall(); // the host takes its services away
            }
        });
        const int lastSample = out.sampleSteps.empty() ? -1000 : out.sampleSteps.back();
        std::vector<int> valid, expected;
        for (const standin::Datagram& d : DatagramsTo("127.0.0.3:4000", std::string("\x7E\x00", 2))) {
            valid.push_back(static_cast<unsigned char>(d.bytes[2]) == 0x81 ? 1 : 0);
            expected.push_back(static_cast<int>(d.at / 100) - lastSample <= 30 ? 1 : 0); // by its step
        }
        EXPECT_EQ(valid.size(), 8u);
        EXPECT_EQ(valid, expected);
        EXPECT_EQ(Ticks("127.0.0.3:4000", "\x7E\x0A").size(),
                  static_cast<size_t>(lastSample < 0 ? 0 : lastSample / 10 + 1));
    }
}

// The sample a record comes from: each sample n serves 10 n metres of altitude and n degrees of pitch up; 0
// for a record that carries neither (heartbeat, identification).
int SampleOf(const std::string& d) {
    if (d[0] == 'X' || d[0] == '$') { // the fields after XGPS, XATT or the cycle's GGA
        std::vector<double> fields;
        for (size_t at = d.find(',', d[0] == '$' ? d.find("$GPGGA,") : 0); at != std::string::npos;
             at = d.find(',', at + 1)) {
            fields.push_back(std::atof(d.c_str() + at + 1));
        }
        // GGA's altitude, XGPS's altitude, XATT's pitch.
        return static_cast<int>(std::lround(d[0] == '$'   ? fields[8] / 10
                                            : d[1] == 'G' ? fields[2] / 10
                                                          : fields[1]));
    }
    const std::vector<int> m = Unstuffed(d);
    const auto signed16 = [&m](size_t at) { return static_cast<int16_t>(m[at] << 8 | m[at + 1]); };
    if (m[0] == 10) { // pressure altitude: 25 ft a unit from -1000 ft
        return static_cast<int>(std::lround(((m[11] << 4 | m[12] >> 4) * 25 - 1000) * 0.3048 / 10));
    }
    if (m[0] == 11) { // above the ellipsoid, which lies 17.16 m below sea level where these samples fly
        return static_cast<int>(std::lround((signed16(1) * 5 * 0.3048 - 17.16) / 10));
    }
    return m[0] == 0x65 && m[1] == 1 ? static_cast<int>(std::lround(signed16(4) / 10.0)) : 0;
}

// A host frame that lands during any send of a step, while the line is idle, busy or on the relay, and with
// the samples coming late (after the mid-step check, as from a host below 20 frames a second): every record
// of the step still comes from the one sample the step saw complete. The late samples still carry the
// records they were asked for, a step later.
TEST(NetworkFeeds, EveryRecordOfAStepFromOneSample) {
    for (const char* line : {"COM1", "slow COM1", "NetHub"}) {
        for (int frameAtSend = 1; frameAtSend <= 9; ++frameAtSend) {
            SCOPED_TRACE(std::string(line) + ", a frame at send " + std::to_string(frameAtSend));
            modulerun::RunSetup setup = FeedRun("100", 2, kFeeds, "10");
            setup.port = std::strchr(line, ' ') != nullptr ? std::strchr(line, ' ') + 1 : line;
            setup.lateFrames = true;
            setup.frameAtSend = frameAtSend;
            setup.script = [line] { standin::S().lineBaud = line[0] == 's' ? 4800 : 0; };
            setup.serve = [](int sample) { fakehost::SetValue(0x4D, -sample); }; // pitch, nose down positive
            const modulerun::Outcome out = modulerun::Simulate(setup, 3000);
            std::map<DWORD, std::vector<int>> samples; // by step, of every record that carries one
            for (const standin::Datagram& d : standin::S().datagrams) {
                if (const int sample = SampleOf(d.bytes)) {
                    samples[d.at].push_back(sample);
                }
            }
            EXPECT_GT(out.samples, 25) << "frames at sends took samples of their own";
            for (const auto& step : samples) {
                EXPECT_EQ(std::count(step.second.begin(), step.second.end(), step.second.front()),
                          static_cast<long>(step.second.size()))
                    << "step at " << step.first << ": " << ::testing::PrintToString(step.second);
            }
        }
    }
    // Asked for at steps 0, 10 and 20, taken after their mid-step checks: sent at the next step's.
    modulerun::RunSetup setup = FeedRun("2000", 2, kFeeds, "1");
    setup.lateFrames = true;
    modulerun::Simulate(setup, 3000);
    const std::vector<DWORD> late = {150, 1150, 2150};
    EXPECT_EQ(Ticks("127.0.0.2:49002", "XGPS"), late);
    EXPECT_EQ(Ticks("127.0.0.2:49002", "XATT"), late);
    EXPECT_EQ(Ticks("127.0.0.3:4000", "\x7E\x0A"), late);
    EXPECT_EQ(Ticks("127.0.0.3:4000", "\x7E\x65\x01"), late);
}

TEST(NetworkOutputs, TcpClients) {
    std::vector<standin::Client> clients(40);
    for (size_t i = 0; i < clients.size(); ++i) {
        clients[i].port = static_cast<uint16_t>(50000 + i);
        clients[i].connectAt = i < 9 ? 0 : 3000; // nine at once, later a flood of 31
    }
    clients[1].sendLimit = 0;                         // never reads
    clients[2].sendLimit = 100;                       // takes a part of each text
    clients[3].input = {{0, std::string(4096, 'x')}}; // says as much as it may
    clients[4].input = {{0, std::string(4097, 'x')}}; // one byte more
    clients[5].input = {{0, std::string(4096, 'x')}, {6000, std::string(4096, 'x')}}; // as much again, later
    clients[6].input = {{4000, std::string(2048, 'x')}, {6000, std::string(2049, 'x')}}; // 5 s from 4 s
    clients[7].hangsUp = true;
    clients[9].sendError = WSAECONNRESET;
    modulerun::RunSetup setup;
    setup.keys = {{"Network", "tcp:127.0.0.1:10110"}, {"Log", "Yes"}};
    setup.script = [&clients] { standin::S().clients = clients; };
    const modulerun::Outcome out = modulerun::Simulate(setup, 8000);
    const std::vector<standin::Client>& seen = standin::S().clients;
    const std::string all = std::accumulate(out.texts.begin(), out.texts.end(), std::string());
    for (int i : {0, 3, 5}) {
        EXPECT_EQ(seen[i].received, all) << "client " << i << " read and got every text whole";
    }
    EXPECT_EQ(seen[8].received, "") << "the ninth is refused";
    // A client whose buffer is full (since the first cycle, at 250 ms) stays until it has been full 5 s, then
    // goes with that reason.
    for (const auto& closed : std::map<int, DWORD>{{1, 5250}, {2, 5250}, {4, 250}, {6, 6050}, {7, 250}}) {
        EXPECT_EQ(seen[closed.first].closedAt, closed.second) << "client " << closed.first;
    }
    EXPECT_EQ(seen[2].received.size() % 100, 0u);
    modulerun::ExpectLogInOrder({"client 127.0.0.1:50008 refused: 8 clients already",
                                 "client 127.0.0.1:50004 closed: sent more than 4 KiB within 5 s",
                                 "client 127.0.0.1:50007 closed: closed by the client",
                                 "client 127.0.0.1:50001 closed: not reading for 5 s"});
    // The flood: at most 16 accepts a step, the first of them with the first of the flood.
    EXPECT_EQ(std::count_if(seen.begin(), seen.end(),
                            [&seen](const standin::Client& c) { return c.acceptedAt == seen[9].acceptedAt; }),
              16);
    EXPECT_TRUE(std::all_of(seen.begin(), seen.end(), [](const standin::Client& c) {
        return c.acceptedAt != standin::kNever && c.closedAt != standin::kNever;
    }));
    EXPECT_EQ(standin::S().openSockets, 0) << "every socket closed at shut-down";
    EXPECT_EQ(out.texts.size(), 39u) << "the serial line went on";
}

// Port=None, or a port that does not open, leaves the network outputs to run alone; with nothing to write
// to at all the module stays idle. Without a Network key no socket is made and Winsock never starts; with
// one, its reference is kept at shut-down (released, it could deadlock a host that unloads from its detach).
TEST(NetworkOutputs, RunAloneOrNotAtAll) {
    const struct {
        const char* port;
        const char* network;
        bool deviceMissing, runs;
        int datagrams;
    } cases[] = {
        {"None", "udp:127.0.0.1:10110", false, true, 4},
        {"COM9", "udp:127.0.0.1:10110", true, true, 4},
        {"None", "", false, false, 0},
        {"COM1", "", false, true, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.port) + " " + c.network);
        modulerun::RunSetup setup;
        setup.port = c.port;
        setup.keys = {{"Network", c.network}};
        setup.script = [&c] { standin::S().failCreateFile = c.deviceMissing; };
        const modulerun::Outcome out = modulerun::Simulate(setup, 1000);
        EXPECT_EQ(fakehost::RegisteredHook() != nullptr, c.runs);
        EXPECT_EQ(static_cast<int>(standin::S().datagrams.size()), c.datagrams);
        EXPECT_EQ(standin::CallsOf({"WSAStartup", "socket"}).empty(), c.network[0] == '\0');
        EXPECT_TRUE(standin::CallsOf({"WSACleanup"}).empty());
        EXPECT_EQ(out.texts.empty(), std::string(c.port) != "COM1");
    }
}

// Where nothing listens the system says so for the datagrams already sent, in the form of Windows or of
// Linux and Wine: the log tells it once, with a hint, and again once datagrams are taken; the summary counts
// the reports. Other failures cost that entry only.
TEST(NetworkOutputs, NothingListens) {
    for (const int refusal : {WSAECONNREFUSED, WSAECONNRESET}) {
        SCOPED_TRACE(refusal == WSAECONNRESET ? "as Windows reports it" : "as Linux reports it");
        modulerun::RunSetup setup;
        setup.keys = {{"Network", "udp:127.0.0.9:9,gdl90:127.0.0.3,udp:127.0.0.5:10110"}, {"Log", "Yes"}};
        setup.script = [refusal] {
            standin::S().refusalError = refusal;
            standin::S().refusing = {"127.0.0.9:9", "127.0.0.3:4000"};
            standin::S().unreachable = {"127.0.0.5:10110"};
        };
        const modulerun::Outcome out = modulerun::Simulate(setup, 4000, [](DWORD tick) {
            if (tick == 2000) {
                standin::S().refusing = {"127.0.0.3:4000"}; // the app comes to the front
            }
        });
        const std::vector<standin::Datagram> sent = DatagramsTo("127.0.0.9:9");
        const auto refused =
            std::count_if(sent.begin(), sent.end(), [](const standin::Datagram& d) { return d.at < 2000; });
        EXPECT_EQ(sent.size(), out.texts.size()) << "each report is read before a send";
        modulerun::ExpectLogInOrder(
            {"network udp 127.0.0.9:9: first text sent",
             "network udp 127.0.0.5:10110: send failed: System text 10065 (error 10065); later failures",
             "network udp: nothing listens at 127.0.0.9:9: is the app open and in front?",
             // At the second poll without a report.
             "    2.350 network udp: 127.0.0.9:9 takes datagrams again",
             "summary: network udp 127.0.0.9:9: " + std::to_string(out.texts.size()) + " datagrams, ",
             " 0 failed, " + std::to_string(refused) + " refused",
             "summary: network udp 127.0.0.5:10110: 0 datagrams, 0 bytes, " +
                 std::to_string(out.texts.size()) + " failed, 0 refused"});
        EXPECT_EQ(Occurrences("nothing listens at 127.0.0.9:9"), 1) << "told once";
        EXPECT_EQ(Occurrences("network gdl90: nothing listens at 127.0.0.3:4000"), 1);
        EXPECT_EQ(Occurrences("127.0.0.3:4000 takes datagrams again"), 0);
    }
}

// gdl90:auto: each tablet that announces itself from a nearby address gets the GDL 90 feed at the port it
// names, whichever app it names (logged bounded and printable), up to eight; it follows a change of port,
// is left as it is while it names the same one, and is forgotten 15 s after its last announcement. A found
// tablet is one device: at a broadcast address the system refuses it, while a typed-in entry broadcasts.
// What is too long, from no device's or a distant address, or not an announcement is ignored and counted,
// once in the log.
TEST(Discovery, TabletsFoundMovedAndForgotten) {
    const std::string good = R"({"App":"ForeFlight","GDL90":{"port":4000}})",
                      moved = R"({"App":"ForeFlight 15","GDL90":{"port":4001}})",
                      other = R"({"App":"Enroute Flight Navigation","GDL90":{"port":4000}})";
    std::vector<standin::Incoming> incoming = {
        {5000, "8.8.8.8:63093", good},
        {5000, "255.255.255.255:1", good},
        {5000, "0.0.0.0:1", good},
        {5000, "10.0.0.1:1", "{\"App\":\"ForeFlight\""},
        {5000, "10.0.0.1:1", R"({"App":"ForeFlight","GDL90":{"port":0}})"},
        {5000, "10.0.0.1:1",
         good + std::string(kAnnouncementMaxBytes + 1 - good.size(), ' ')}, // cut, as Linux
        {5000, "10.0.0.1:1", std::string(kAnnouncementMaxBytes + 2, ' ')},  // refused, as Windows does
        {5000, "192.168.1.23:63093", good},
        {6000, "192.168.1.23:63093", moved},   // another listener's port: never read
        {5000, "172.32.0.1:1", good, 3000},    // just outside the private 172.16/12
        {5000, "192.168.9.9:1", other, 3000},  // a ninth tablet
        {5000, "192.168.1.255:1", good, 2000}, // its network's broadcast address
        // The largest announcement taken, and other apps (their names as the log gives them below).
        {5000, "172.16.0.1:1", good + std::string(kAnnouncementMaxBytes - good.size(), ' '), 2000},
        {5000, "172.31.255.254:1", other, 2000},
        {5000, "169.254.1.1:1", R"({"App":"Other","App":7,"GDL90":{"port":4000}})", 2000}, // the last counts
        {5000, "10.1.1.1:1", "{\"App\":\"A\x7F\xC3\xA9\\u0007\",\"GDL90\":{\"port\":4000}}", 2000},
        {5000, "127.0.0.5:1", R"({"App":")" + std::string(500, 'A') + R"(","GDL90":{"port":4000}})", 2000},
        {5000, "192.168.2.2:1", good, 2000},
    };
    for (DWORD at = 1000; at <= 10000; at += at == 1000 ? 4000 : 5000) {
        incoming.push_back({5000, "192.168.1.23:63093", moved, at});
    }
    modulerun::RunSetup setup = FeedRun("2000", 2, "gdl90:auto:5000,gdl90:192.168.1.255:4002");
    setup.script = [incoming] {
        standin::S().incoming = incoming;
        standin::S().broadcasts.push_back("192.168.1.255:");
        standin::S().refusing = {"192.168.1.23:4001"};
        standin::S().refusalError = WSAECONNRESET;
    };
    modulerun::Simulate(setup, 30000);
    const std::string heartbeat("\x7E\x00", 2);
    EXPECT_EQ(Ticks("192.168.1.23:4000", heartbeat), std::vector<DWORD>({50})) << "found at once, then moved";
    // From 1 s to 15 s after the last announcement, at 10 s.
    EXPECT_EQ(Ticks("192.168.1.23:4001", heartbeat), EveryNthStep(10, 250, 10));
    EXPECT_EQ(standin::CountCalls("connect(192.168.1.23:4001)"), 1) << "the same port: left as it is";
    EXPECT_EQ(Occurrences("nothing listens at 192.168.1.23:4001"), 1) << "its refusal kept";
    EXPECT_EQ(Occurrences("now asks for GDL 90"), 1);
    for (const char* address :
         {"172.16.0.1", "172.31.255.254", "169.254.1.1", "10.1.1.1", "127.0.0.5", "192.168.2.2"}) {
        EXPECT_EQ(Ticks(std::string(address) + ":4000", heartbeat), EveryNthStep(10, 170, 20)) << address;
    }
    for (const char* ignored : {"8.8.8.8:4000", "0.0.0.0:4000", "255.255.255.255:4000", "172.32.0.1:4000",
                                "192.168.9.9:4000", "10.0.0.1:4000", "192.168.1.255:4000"}) {
        EXPECT_TRUE(DatagramsTo(ignored).empty()) << ignored;
    }
    EXPECT_FALSE(DatagramsTo("192.168.1.255:4002").empty()) << "a typed-in broadcast";
    modulerun::ExpectLogInOrder(
        {"network gdl90 auto:5000: listening for the tablets' announcements",
         "network gdl90 auto:5000: an announcement from 8.8.8.8:63093 ignored: not from a private, "
         "link-local or loopback address; later ones are only counted",
         "network gdl90 auto:5000: an announcement from 255.255.255.255:1 ignored: not from a device's own "
         "address",
         "an announcement from 10.0.0.1:1 ignored: not a JSON object",
         "an announcement from 10.0.0.1:1 ignored: no GDL 90 port 1 to 65535 in it",
         "an announcement from 10.0.0.1:1 ignored: longer than 1024 bytes",
         "network: ForeFlight at 192.168.1.23 asks for GDL 90 on port 4000",
         "network: ForeFlight 15 at 192.168.1.23 now asks for GDL 90 on port 4001",
         "network: Enroute Flight Navigation at 172.31.255.254 asks for GDL 90 on port 4000",
         "network: an unnamed app at 169.254.1.1 asks", "network: A???\\u0007 at 10.1.1.1 asks",
         "network: " + std::string(32, 'A') + " at 127.0.0.5 asks",
         "network gdl90 192.168.1.255:4000: send failed: System text 10013 (error 10013)",
         "network: Enroute Flight Navigation at 192.168.9.9 ignored: 8 tablets get the feed already",
         "network: ForeFlight 15 at 192.168.1.23 forgotten: no announcement for 15 s",
         "summary: network gdl90 auto:5000: 20 announcements, 8 ignored; 8 tablets found, 1 turned away"});
    EXPECT_EQ(Occurrences("longer than 1024 bytes"), 1) << "each reason once";
}

} // namespace
