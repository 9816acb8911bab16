// The network outputs: the GDL 90 and EFB text records against literal bytes (the GDL 90 document's own
// examples where they apply, the others worked by hand from the published formats), the "Network" setting,
// and the sockets through the stand-in: rates, clients that stall, flood or hang up, failures that cost one
// entry only, and everything closed at shut-down.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "module_run.h"
#include "reference_fix.h"
#include "sentences/network_records.h"
#include "sentences/records.h"
#include "settings/network_settings.h"
#include "transport/network.h"

namespace {

using Lines = std::vector<std::string>;

std::string Hex(const char* data, int32_t length) {
    std::string text;
    for (int32_t i = 0; i < length; ++i) {
        char byte[4];
        std::snprintf(byte, sizeof byte, "%s%02X", i > 0 ? " " : "", static_cast<unsigned char>(data[i]));
        text += byte;
    }
    return text;
}

std::string Appended(int32_t (*append)(char*)) {
    char out[kNetworkRecordSize];
    return Hex(out, append(out));
}

TEST(Gdl90, FrameChecksAndEscapes) {
    const struct {
        std::vector<uint8_t> message;
        const char* frame;
    } cases[] = {
        // The interface document's heartbeat example.
        {{0x00, 0x81, 0x41, 0xDB, 0xD0, 0x08, 0x02}, "7E 00 81 41 DB D0 08 02 B3 8B 7E"},
        // The AHRS example: 0x7D in the data is escaped.
        {{0x65, 0x01, 0x00, 0x96, 0x00, 0x19, 0x03, 0x9B, 0x00, 0x76, 0x00, 0x7D},
         "7E 65 01 00 96 00 19 03 9B 00 76 00 7D 5D FD FE 7E"},
        {{0x0B, 0x7E, 0x7D, 0x00, 0x0A}, "7E 0B 7D 5E 7D 5D 00 0A 97 74 7E"},
    };
    for (const auto& c : cases) {
        char out[kNetworkRecordSize];
        EXPECT_EQ(Hex(out, Gdl90Frame(c.message.data(), static_cast<int32_t>(c.message.size()), out)),
                  c.frame);
    }
}

// 47.4502 N 122.3088 W at 1112.57 m (3650 ft), 120 kt on a true track of 90, 512 fpm up, heading 92.3, roll
// 15 right and pitch 2.5 up (the host counts both the other way), 118 kt indicated, 12:34:56.
void SetNetworkFix() {
    SetReferenceFix(true);
    NavSnapshot& s = navSnapshot;
    s.timeHours = 12;
    s.timeMinutes = 34;
    s.timeSeconds = 56;
    s.latitudeDegrees = 47.4502;
    s.longitudeDegrees = -122.3088;
    s.altitudeMetres = 3650 / kFeetPerMetre + kTenthRounding;
    s.groundSpeedMs = 120 * 1852.0 / 3600;
    s.trackTrue = 90;
    s.verticalSpeedFpm = 512;
    s.headingTrue = 92.3;
    s.bankDegrees = -15;
    s.pitchDegrees = -2.5;
    s.airspeedValue = 118;
}

TEST(Gdl90, RecordsFromTheSnapshot) {
    standin::Reset();
    SetNetworkFix();
    EXPECT_EQ(Appended(AppendGdl90Heartbeat), "7E 00 81 01 F0 B0 00 00 A6 28 7E");
    EXPECT_EQ(Appended(AppendGdl90Ownship),
              "7E 0A 00 00 00 00 21 BE 0B A9 06 5D FF F9 BB 07 80 08 40 01 57 41 59 50 "
              "4F 53 54 20 00 33 E9 7E");
    EXPECT_EQ(Appended(AppendGdl90GeometricAltitude), "7E 0B 02 DA 00 0A AE FC 7E");
    EXPECT_EQ(Appended(AppendGdl90Identification), "7E 65 00 01 FF FF FF FF FF FF FF FF 57 61 79 70 6F 73 74 "
                                                   "00 57 61 79 70 6F 73 74 20 73 69 6D 20 47 50 "
                                                   "53 00 00 00 00 01 D4 B2 7E");
    EXPECT_EQ(Appended(AppendGdl90Ahrs), "7E 65 01 00 96 00 19 03 9B 00 76 FF FF 7F 01 7E");

    // 180 east is the semicircle 0x800000; on the ground at 10 kt, a descent beyond the field's range, a
    // track that rounds to a full circle, and a name of lower-case letters.
    NavSnapshot& s = navSnapshot;
    s.latitudeDegrees = 0;
    s.longitudeDegrees = 180;
    s.groundSpeedMs = 10 * 1852.0 / 3600;
    s.verticalSpeedFpm = -40000;
    s.trackTrue = 359.9;
    std::snprintf(networkName, sizeof networkName, "efb2");
    EXPECT_EQ(Appended(AppendGdl90Ownship),
              "7E 0A 00 00 00 00 00 00 00 80 00 00 FF F1 BB 00 AE 02 00 01 45 46 42 32 "
              "20 20 20 20 00 7C C2 7E");
}

TEST(Xgps, PositionAndAttitudeLines) {
    standin::Reset();
    SetNetworkFix();
    navSnapshot.altitudeMetres = 1066.8 + kTenthRounding;
    navSnapshot.groundSpeedMs = 61.7;
    char out[kNetworkRecordSize];
    EXPECT_EQ(std::string(out, static_cast<size_t>(AppendXgps(out))),
              "XGPSWaypost,-122.308800,47.450200,1066.8,90.00,61.7");
    EXPECT_EQ(std::string(out, static_cast<size_t>(AppendXatt(out))), "XATTWaypost,92.3,2.5,15.0");
    navSnapshot.latitudeDegrees = -0.0000004; // rounds to zero: no sign
    navSnapshot.longitudeDegrees = 179.9999996;
    navSnapshot.bankDegrees = 0.04;
    EXPECT_EQ(std::string(out, static_cast<size_t>(AppendXgps(out))),
              "XGPSWaypost,180.000000,0.000000,1066.8,90.00,61.7");
    EXPECT_EQ(std::string(out, static_cast<size_t>(AppendXatt(out))), "XATTWaypost,92.3,2.5,0.0");
}

const char kPath[] = "C:\\Sim\\Modules\\Waypost.ini";

TEST(NetworkSettings, EntriesAndName) {
    const struct {
        const char* network;
        const char* name;
        const char* entries; // kind address:port, ...
        const char* usedName;
    } cases[] = {
        {"udp:127.0.0.1:10110, TCP:10110 ,xgps:192.168.1.30,gdl90:10.0.0.2:4001", "",
         "0 127.0.0.1:10110,1 0.0.0.0:10110,2 192.168.1.30:49002,3 10.0.0.2:4001", "Waypost"},
        {"tcp:127.0.0.1:2000,gdl90:255.255.255.255,,", "My-EFB_1", "1 127.0.0.1:2000,3 255.255.255.255:4000",
         "MyEFB1"},
        {"udp:1.2.3.4,udp:1.2.3:5,udp:256.1.1.1:5,udp:1.2.3.4:0,udp:1.2.3.4:65536,udp:0.0.0.0:5,tcp:0,"
         "udp:host.example:5,ftp:1.2.3.4:5,udp: 1.2.3.4:5,udp:01.2.3.4:5x,udp:1.2.3.4.5:6",
         "ABCDEFGHIJ", "", "ABCDEFGH"},
        {"udp:1.1.1.1:1,udp:1.1.1.2:2,udp:1.1.1.3:3,udp:1.1.1.4:4,udp:1.1.1.5:5,udp:1.1.1.6:6,udp:1.1.1.7:7,"
         "udp:1.1.1.8:8,udp:1.1.1.9:9",
         "-",
         "0 1.1.1.1:1,0 1.1.1.2:2,0 1.1.1.3:3,0 1.1.1.4:4,0 1.1.1.5:5,0 1.1.1.6:6,0 1.1.1.7:7,0 1.1.1.8:8",
         "Waypost"},
    };
    for (const auto& c : cases) {
        standin::Reset();
        standin::SetProfileValue(kPath, "Waypost", "Network", c.network);
        standin::SetProfileValue(kPath, "Waypost", "NetworkName", c.name);
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
        EXPECT_EQ(standin::ProfileSection(kPath, "Waypost").size(), 2u) << "nothing is written back";
    }
}

std::vector<std::string> DatagramsTo(const std::string& to, const std::string& prefix = "") {
    std::vector<std::string> found;
    for (const standin::Datagram& datagram : standin::S().datagrams) {
        if (datagram.to == to && datagram.bytes.compare(0, prefix.size(), prefix) == 0) {
            found.push_back(datagram.bytes);
        }
    }
    return found;
}

// Interval 100: in 2 s, cycles at 250, 450, ... 1850 ms. Each takes the cycle's text; the position and
// heartbeat records go out once a second (at 250 and 1250), the attitude records every cycle, except on the
// first generation, which gives no attitude. An entry whose host cannot be reached costs nothing else.
TEST(NetworkOutputs, DatagramsAtTheirRates) {
    for (const int32_t generation : {1, 0}) {
        SCOPED_TRACE("generation " + std::to_string(generation));
        modulerun::RunSetup setup;
        setup.generation = generation;
        setup.script = [] {
            standin::SetProfileValue(modulerun::kSettingsPath, "Waypost", "Network",
                                     "udp:127.0.0.1:10110,xgps:127.0.0.2,gdl90:127.0.0.3,udp:127.0.0.4:9,"
                                     "gdl90:127.0.0.5");
            standin::S().unreachable = {"127.0.0.4:9", "127.0.0.5:4000"};
        };
        // A generation-0 host is sampled while its ready word is set.
        const modulerun::Outcome out =
            modulerun::Simulate(setup, 2000, [](DWORD) { fakehost::SetReadyWord(1); });
        ASSERT_EQ(out.samples, 9);
        EXPECT_EQ(DatagramsTo("127.0.0.1:10110"), out.texts) << "the serial line's texts, one datagram each";
        EXPECT_EQ(DatagramsTo("127.0.0.2:49002", "XGPS").size(), 2u);
        EXPECT_EQ(DatagramsTo("127.0.0.2:49002", "XATT").size(), generation != 0 ? 9u : 0u);
        std::vector<int> ids;
        for (const std::string& frame : DatagramsTo("127.0.0.3:4000")) {
            const int id = static_cast<unsigned char>(frame[1]);
            ids.push_back(id == 0x65 ? id << 8 | static_cast<unsigned char>(frame[2]) : id);
        }
        // Heartbeat, ownship, geometric altitude, identification and AHRS, then AHRS alone until a second has
        // passed.
        std::vector<int> first = {0x00, 0x0A, 0x0B, 0x6500}, ahrs;
        if (generation != 0) {
            first.push_back(0x6501);
            ahrs.push_back(0x6501);
        }
        std::vector<int> expected;
        for (const auto& cycle : {first, ahrs, ahrs, ahrs, ahrs, first, ahrs, ahrs, ahrs}) {
            expected.insert(expected.end(), cycle.begin(), cycle.end());
        }
        EXPECT_EQ(ids, expected);
        EXPECT_EQ(standin::S().openSockets, 0);
        EXPECT_EQ(standin::S().winsockStarts, 0);
    }
}

TEST(NetworkOutputs, TcpClientsThatStallFloodHangUpOrComeNinth) {
    std::vector<standin::Client> clients(10);
    clients[1].sendLimit = 0;           // never reads: full from the start, closed after 5 s
    clients[2].sendLimit = 100;         // takes a part of each text: misses it, then closed after 5 s
    clients[3].input.assign(5000, 'x'); // says too much
    clients[4].hangsUp = true;
    clients[5].sendError = 10054; // reset by the peer
    clients[9].connectAt = 1000;  // clients[8] comes ninth and is refused; this one finds a slot
    for (size_t i = 0; i < clients.size(); ++i) {
        clients[i].port = static_cast<uint16_t>(50000 + i);
    }
    modulerun::RunSetup setup;
    setup.script = [&clients] {
        standin::SetProfileValue(modulerun::kSettingsPath, "Waypost", "Network",
                                 "tcp:127.0.0.1:10110,tcp:10111");
        standin::S().busyPorts = {10111}; // the second server cannot listen; the first works
        standin::S().clients = clients;
    };
    const modulerun::Outcome out = modulerun::Simulate(setup, 8000);
    const std::vector<standin::Client>& seen = standin::S().clients;
    std::string all, fromSecond;
    for (size_t i = 0; i < out.texts.size(); ++i) {
        all += out.texts[i];
        fromSecond += out.textTicks[i] >= 1000 ? out.texts[i] : "";
    }
    EXPECT_EQ(seen[0].received, all) << "a reader that keeps up gets every text whole";
    EXPECT_EQ(seen[6].received, all);
    for (int i : {1, 3, 4, 5}) {
        EXPECT_EQ(seen[i].received, "") << "client " << i << " was closed before a text went out";
    }
    EXPECT_EQ(seen[2].received.size() % 100, 0u);
    EXPECT_LT(seen[2].received.size(), 100u * 27) << "closed within 5 s and a cycle";
    for (int i = 0; i < 10; ++i) {
        EXPECT_TRUE(seen[i].accepted && seen[i].closed) << "client " << i;
    }
    EXPECT_EQ(seen[8].received, "") << "refused";
    EXPECT_EQ(seen[9].received, fromSecond) << "a slot is free again once others have gone";
    EXPECT_EQ(standin::CountCalls("bind(0.0.0.0:10111)"), 1);
    EXPECT_EQ(standin::S().openSockets, 0) << "every socket closed at shut-down";
    EXPECT_EQ(standin::S().winsockStarts, 0);
    EXPECT_EQ(out.texts.size(), 39u) << "the serial line went on";
}

// Port=None, or a port that does not open, leaves the network outputs to run alone; with nothing to write
// to at all the module stays idle. Without a Network key no socket is made and Winsock never starts.
TEST(NetworkOutputs, RunAloneOrNotAtAll) {
    const struct {
        const char* port;
        const char* network;
        bool deviceMissing;
        bool runs;
        int datagrams;
    } cases[] = {
        {"None", "udp:127.0.0.1:10110", false, true, 4},
        {"COM9", "udp:127.0.0.1:10110", true, true, 4},
        {"None", "", false, false, 0},
        {"None", "udp:127.0.0.1:10110,tcp:10110,bad", false, true, 4},
        {"COM1", "", false, true, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.port) + " " + c.network);
        modulerun::RunSetup setup;
        setup.port = c.port;
        setup.script = [&c] {
            standin::SetProfileValue(modulerun::kSettingsPath, "Waypost", "Network", c.network);
            standin::S().failCreateFile = c.deviceMissing;
        };
        const modulerun::Outcome out = modulerun::Simulate(setup, 1000);
        EXPECT_EQ(fakehost::RegisteredHook() != nullptr, c.runs);
        EXPECT_EQ(static_cast<int>(standin::S().datagrams.size()), c.datagrams);
        EXPECT_EQ(standin::CountCalls("CreateFileA(\\\\.\\None,0xC0000000,0,3,0x40000000)"), 0);
        if (c.network[0] == '\0') {
            EXPECT_EQ(standin::CallsOf({"WSAStartup", "socket"}), Lines());
        }
        EXPECT_EQ(standin::S().openSockets, 0);
        EXPECT_EQ(standin::S().winsockStarts, 0);
        EXPECT_EQ(out.texts.empty(), std::string(c.port) != "COM1");
    }
}

} // namespace
