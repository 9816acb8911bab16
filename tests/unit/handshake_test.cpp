// The cycle handshake with real threads: the host's thread calls the frame hook (which samples) while the
// output thread composes and writes. Meant for ThreadSanitizer: a compose that read the snapshot while the
// sampler rewrote it, or a thread left running after shut-down, shows up as a race or a failure here.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "fake_host.h"
#include "host/lifecycle.h"
#include "host/linkage.h"
#include "transport/cycle_flags.h"
#include "win32_standin.h"

namespace {

const char kSettings[] = "C:\\Sim\\Modules\\Waypost.ini";
constexpr int kTimeScale = 10;                 // simulated milliseconds per real millisecond
constexpr std::chrono::milliseconds kRun{600}; // real time the host runs frames

struct Outcome {
    std::vector<std::string> lines; // every NMEA line sent, without CR LF
    int threadsCreated;
    int devicesClosed;
    int writesWhileLineBusy;
};

// Runs the module from start-up to shut-down with a host thread that serves a clock whose hour, minute and
// second are always equal, so a sentence built from a half-rewritten snapshot would show different ones. The
// host calls the frame hook every frameGap.
Outcome RunHost(const char* port, DWORD lineBaud, std::chrono::microseconds frameGap) {
    standin::Reset();
    standin::S().threadMode = standin::ThreadMode::kReal;
    standin::S().lineBaud = lineBaud;
    standin::S().onSleep = [](DWORD ms) {
        if (ms == 0) {
            std::this_thread::yield();
        } else {
            std::this_thread::sleep_for(std::chrono::microseconds(ms * 1000 / kTimeScale));
        }
    };
    standin::SetProfileValue(kSettings, "Waypost", "Sentences", "RMC,GGA");
    standin::SetProfileValue(kSettings, "Waypost", "Interval", "100");
    standin::SetProfileValue(kSettings, "Waypost", "Port", port);
    fakehost::Install(fakehost::Services());
    HostGeneration = 1;

    const UINT_PTR timer = ModuleInit();
    EXPECT_NE(timer, 0u);
    StartTimerProc(nullptr, 0x0113, timer, 0);
    const auto start = std::chrono::steady_clock::now();
    for (int frame = 0;; ++frame) {
        const auto elapsed = std::chrono::steady_clock::now() - start;
        if (elapsed > kRun) {
            break;
        }
        const double clock = static_cast<double>((frame / 3) % 24);
        fakehost::SetValue(0x06, clock);
        fakehost::SetValue(0x07, clock);
        fakehost::SetValue(0x05, clock);
        standin::S().tickCount = static_cast<DWORD>(
            std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count() * kTimeScale);
        FrameHook(0, 0);
        std::this_thread::sleep_for(frameGap);
    }
    ModuleDeinit();
    EXPECT_EQ(threadRunning.load(), 0);

    Outcome outcome;
    std::string text = standin::S().written;
    for (const std::string& sent : fakehost::RelayTexts()) {
        text += sent;
    }
    for (size_t at = 0; at < text.size();) {
        const size_t end = text.find("\r\n", at);
        EXPECT_NE(end, std::string::npos) << "a text that does not end its line: " << text.substr(at);
        if (end == std::string::npos) {
            break;
        }
        outcome.lines.push_back(text.substr(at, end - at));
        at = end + 2;
    }
    const std::vector<std::string> calls = standin::Calls();
    outcome.threadsCreated = standin::S().threadsCreated;
    outcome.devicesClosed = static_cast<int>(std::count(calls.begin(), calls.end(), "CloseHandle(device)"));
    outcome.writesWhileLineBusy = standin::S().writesWhileLineBusy;
    return outcome;
}

TEST(HandshakeTest, EverySentenceComesFromOneWholeSample) {
    // A slow host (a frame every 170 simulated ms) often serves a request late in the period, so that the
    // sample is composed only after the next request has been raised: the next frame then comes while, or
    // just after, that sample is being composed.
    const std::chrono::microseconds fast(300);
    const std::chrono::microseconds slow(17000);
    struct Case {
        const char* port;
        DWORD lineBaud;
        std::chrono::microseconds frameGap;
        int devicesClosed;
        size_t atLeast; // sentences; about 30 cycles of 200 simulated ms fit, a third of them is plenty
    };
    const Case cases[] = {
        {"COM1", 0, fast, 1, 10}, // every write finishes at once
        {"COM1", 0, slow, 1, 10},
        {"COM1", 4800, fast, 1, 5}, // 144 bytes a cycle take 300 ms: every other cycle finds the line busy
        {"NetHub", 0, slow, 0, 10}, // relay output, no device
    };
    for (const Case& c : cases) {
        const Outcome outcome = RunHost(c.port, c.lineBaud, c.frameGap);
        const std::string name = std::string(c.port) + " at " + std::to_string(c.lineBaud) +
                                 ", frames every " + std::to_string(c.frameGap.count()) + " us";
        EXPECT_EQ(outcome.threadsCreated, 1) << name;
        EXPECT_EQ(outcome.devicesClosed, c.devicesClosed) << name;
        EXPECT_EQ(outcome.writesWhileLineBusy, 0) << name;
        EXPECT_GE(outcome.lines.size(), c.atLeast) << name;
        for (const std::string& line : outcome.lines) {
            ASSERT_GE(line.size(), 20u) << name << ": " << line;
            EXPECT_TRUE(line.compare(0, 7, "$GPRMC,") == 0 || line.compare(0, 7, "$GPGGA,") == 0)
                << name << ": " << line;
            EXPECT_EQ(line.substr(7, 2), line.substr(9, 2)) << name << ": " << line;
            EXPECT_EQ(line.substr(7, 2), line.substr(11, 2)) << name << ": " << line;
            EXPECT_EQ(line[line.size() - 3], '*') << name << ": " << line;
        }
    }
}

} // namespace
