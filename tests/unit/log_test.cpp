// The diagnostic log: off unless the settings ask for it; with Log=Yes, the lines of a good start-up and
// shut-down, the line that names each failure's cause, and the cap on its size.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "log/log.h"
#include "module_run.h"
#include "settings/settings.h"

namespace {

const char kLogPath[] = "C:\\Sim\\Modules\\Waypost.log";

// The setup with Log=Yes, on a generation-2 host found by its main window.
modulerun::RunSetup LoggedRun(modulerun::RunSetup setup) {
    setup.generation = 2;
    const std::function<void()> script = setup.script;
    setup.keys["Log"] = "Yes";
    setup.script = [script] {
        standin::S().windows = {{standin::S().processId, "FS98MAIN", "Flight Simulator 2004"}};
        DllMain(nullptr, DLL_PROCESS_ATTACH, nullptr);
        if (script) {
            script();
        }
    };
    return setup;
}

// Hosts without a relay record, and without either hook service.
const fakehost::Services kNoRelay = {true, true, true, true, false},
                         kNoHookService = {false, true, true, false};

// A good start-up and shut-down, then each failure with the line that names its cause.
TEST(LogTest, GoodRunAndEachFailureNamesItsCause) {
    const struct {
        const char* port;
        std::vector<std::string> lines;
        std::function<void()> script = nullptr;
        std::map<std::string, std::string> keys = {};
    } cases[] = {
        {"NetHub",
         {"    0.000 Waypost " + std::string(kModuleVersion) + ", settings " + modulerun::kSettingsPath,
          "host generation 2 from the main window, class \"FS98MAIN\", title \"Flight Simulator 2004\"",
          "settings: Sentences=RMC,GGA PosTo6Decimal=Yes Interval=100",
          "settings: Port=NetHub: the text goes to the relay module",
          "outputs ready; the frame hook is registered in 25 s",
          "frame hook registered through service 0x0001, entry 270",
          "output thread started, a cycle every 0.2 s", "relay: texts are handed over",
          "    1.000 output thread stopped",
          "summary: 4 samples taken, 0 dropped for a printed value that is not a number, 0 while the host "
          "was not ready; 4 cycles, 10 steps of 100.0 ms on average",
          "summary: relay: 4 texts, ", " bytes handed over, 0 dropped", "shut down after 1 s"}},
        {"COM3",
         {"serial COM3: cannot open: access denied: another program holds COM3",
          "no output can run: the module stays idle"},
         [] {
             standin::S().failCreateFile = true;
             standin::S().createFileError = ERROR_ACCESS_DENIED;
         }},
        // The machine holds step 2 for 4.5 steps: the thread starts afresh, making up none of the 4 missed.
        {"NetHub",
         {"summary: 2 samples taken, ", "; 2 cycles, 6 steps of 166.7 ms on average"},
         [] { standin::S().stall = std::make_pair(200, 450); }},
        {"COM3",
         {"serial COM3: cannot open: this computer has no port of that name"},
         [] { standin::S().failCreateFile = true; }},
        {"NetHub",
         {"relay: the host has no relay module; texts are dropped",
          "summary: relay: 0 texts, 0 bytes handed over, 4 dropped"},
         [] { fakehost::Install(kNoRelay); }},
        {"COM1",
         {"the host has filled neither hook service: the module stays idle"},
         [] { fakehost::Install(kNoHookService); }},
        {"COM1",
         {"serial COM1: write refused: System text 5 (error 5); later failures are only counted",
          "summary: serial COM1: 0 texts, 0 bytes, 4 failed writes, 0 cycles skipped while the line was "
          "busy"},
         [] {
             standin::S().writeResults.assign(10, {FALSE, ERROR_ACCESS_DENIED});
         }},
        {"COM1",
         {"setting Sentences: \"XYZ\" ignored: no record of that name", "setting Speed: \"fast\" read as 0",
          "setting Interval: \"50\" raised to 100 ms", "setting Network: entry \"udp:1.2.3:5\" ignored",
          "network tcp 0.0.0.0:10110: cannot listen: System text 10048 (error 10048)"},
         [] { standin::S().busyPorts = {10110}; },
         {{"Interval", "50"},
          {"Sentences", "RMC,GGA,XYZ"},
          {"Speed", "fast"},
          {"Network", "udp:1.2.3:5,tcp:10110"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lines[0]);
        modulerun::RunSetup setup;
        setup.port = c.port;
        setup.keys = c.keys;
        setup.script = c.script;
        modulerun::Simulate(LoggedRun(setup), 1000);
        modulerun::ExpectLogInOrder(c.lines);
    }
}

// Off unless asked for; a log file that cannot be made, or whose write fails, costs the outputs nothing and
// is dropped at once.
TEST(LogTest, OffUnlessAskedForAndNeverInTheWay) {
    const struct {
        bool asked, failCreate;
        int failWrite; // the write to the log that fails, 0: none
        size_t lines;  // in the file at the end
    } cases[] = {{false, false, 0, 0}, {true, true, 0, 0}, {true, false, 3, 2}};
    for (const auto& c : cases) {
        modulerun::RunSetup setup;
        setup.script = [&c] {
            standin::S().failLogFile = c.failCreate;
            standin::S().failLogWrite = c.failWrite;
        };
        const modulerun::Outcome out = modulerun::Simulate(c.asked ? LoggedRun(setup) : setup, 1000);
        EXPECT_EQ(out.texts.size(), 4u);
        EXPECT_EQ(standin::S().logPath, c.asked && !c.failCreate ? kLogPath : "");
        const std::string& log = standin::S().logText;
        EXPECT_EQ(static_cast<size_t>(std::count(log.begin(), log.end(), '\n')), c.lines) << log;
        EXPECT_EQ(standin::CountCalls("CloseHandle(file)"), c.asked && !c.failCreate ? 1 : 0);
    }
}

// Whatever the length of its lines, the log stops below 64 KiB with a line saying so; a line longer than
// the line buffer is cut, still ending in CR LF, with no terminator in the file.
TEST(LogTest, CappedWithALastLineSayingSo) {
    for (const size_t length : {1, 100, 496, 497, 498, 600, 5000}) {
        standin::Reset();
        OpenLog(modulerun::kSettingsPath);
        const std::string text(length, 'x');
        for (int i = 0; i < 100000 && logFile != INVALID_HANDLE_VALUE; ++i) {
            LogLine("line %05d %s", i, text.c_str());
        }
        const std::string& log = standin::S().logText;
        EXPECT_LE(log.size(), 65536u) << length;
        EXPECT_GT(log.size(), 65536u - 520) << length;
        EXPECT_EQ(log.substr(log.size() - 35), "log full: later lines are dropped\r\n");
        EXPECT_EQ(log.find('\0'), std::string::npos);
        size_t start = 0;
        for (size_t end = log.find("\r\n"); end != std::string::npos; end = log.find("\r\n", start)) {
            const std::string line = log.substr(start, end - start);
            EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos) << "a line end cut in half";
            EXPECT_LE(line.size() + 2, 511u) << "longer than the line buffer";
            start = end + 2;
        }
        EXPECT_EQ(start, log.size());
    }
}

} // namespace
