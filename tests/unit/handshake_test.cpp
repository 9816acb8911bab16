// The cycle handshake on real threads, for ThreadSanitizer: the host's thread calls the frame hook (which
// samples) while the output thread composes and writes. A compose that read the snapshot while the sampler
// rewrote it shows up as a race, or as a sentence whose hour, minute and second differ.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>

#include "fake_host.h"
#include "host/lifecycle.h"
#include "host/linkage.h"
#include "transport/cycle_flags.h"
#include "win32_standin.h"

namespace {

const char kSettings[] = "C:\\Sim\\Modules\\Waypost.ini";
constexpr int kTimeScale = 10; // simulated milliseconds per real millisecond

TEST(HandshakeTest, EverySentenceComesFromOneWholeSample) {
    using std::chrono::microseconds;
    // A slow host (a frame every 170 simulated ms) often serves a request late in its period, so that the
    // sample is composed after the next request is up, and the next frame follows that compose.
    const struct {
        const char* port;
        DWORD lineBaud;
        microseconds frameGap;
        size_t atLeast; // sentences; about 30 cycles of 200 simulated ms fit in the run
    } cases[] = {
        {"COM1", 0, microseconds(300), 10},
        {"COM1", 0, microseconds(17000), 10},
        {"COM1", 4800, microseconds(300), 5}, // 144 bytes take 300 ms: every other cycle finds the line busy
        {"NetHub", 0, microseconds(17000), 10},
    };
    for (const auto& c : cases) {
        const std::string name = std::string(c.port) + " " + std::to_string(c.lineBaud) +
                                 " baud, frames every " + std::to_string(c.frameGap.count()) + " us";
        standin::Reset();
        standin::S().threadMode = standin::ThreadMode::kReal;
        standin::S().lineBaud = c.lineBaud;
        standin::S().onSleep = [](DWORD ms) {
            ms == 0 ? std::this_thread::yield()
                    : std::this_thread::sleep_for(microseconds(ms * 1000 / kTimeScale));
        };
        standin::SetProfileValue(kSettings, "Waypost", "Sentences", "RMC,GGA");
        standin::SetProfileValue(kSettings, "Waypost", "Interval", "100");
        standin::SetProfileValue(kSettings, "Waypost", "Port", c.port);
        fakehost::Install(fakehost::Services());
        HostGeneration = 1;

        const UINT_PTR timer = ModuleInit();
        StartTimerProc(nullptr, 0x0113, timer, 0);
        const auto start = std::chrono::steady_clock::now();
        for (int frame = 0; std::chrono::steady_clock::now() - start < std::chrono::milliseconds(600);
             ++frame) {
            for (uint32_t clockId : {0x05u, 0x06u, 0x07u}) {
                fakehost::SetValue(clockId, static_cast<double>((frame / 3) % 24));
            }
            const auto elapsed = std::chrono::steady_clock::now() - start;
            standin::S().tickCount = static_cast<DWORD>(
                std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count() * kTimeScale);
            FrameHook(0, 0);
            std::this_thread::sleep_for(c.frameGap);
        }
        ModuleDeinit();

        EXPECT_EQ(threadRunning.load(), 0) << name;
        EXPECT_EQ(standin::S().threadsCreated, 1) << name;
        EXPECT_EQ(standin::S().writesWhileLineBusy, 0) << name;
        const std::vector<std::string> calls = standin::Calls();
        EXPECT_EQ(std::count(calls.begin(), calls.end(), "CloseHandle(device)"),
                  c.port == std::string("COM1"))
            << name;
        std::string text = standin::S().written;
        for (const std::string& sent : fakehost::RelayTexts()) {
            text += sent;
        }
        size_t lines = 0;
        for (size_t at = 0, end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2, ++lines) {
            const std::string line = text.substr(at, end - at);
            ASSERT_TRUE(line.size() > 20 && (line.rfind("$GPRMC,", 0) == 0 || line.rfind("$GPGGA,", 0) == 0))
                << name << ": " << line;
            EXPECT_EQ(line.substr(7, 2), line.substr(9, 2)) << name << ": " << line;
            EXPECT_EQ(line.substr(7, 2), line.substr(11, 2)) << name << ": " << line;
            EXPECT_EQ(line[line.size() - 3], '*') << name << ": " << line;
        }
        EXPECT_EQ(text.size() - text.rfind("\r\n"), 2u) << name << ": every text ends its line";
        EXPECT_GE(lines, c.atLeast) << name;
    }
}

} // namespace
