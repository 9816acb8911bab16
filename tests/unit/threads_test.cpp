// The module on real threads, for ThreadSanitizer: the host's thread calls the frame hook (which samples)
// while the output thread composes and writes. A compose that read the snapshot while the sampler rewrote it
// shows up as a race, or as a sentence whose hour, minute and second differ; shut-down ends the thread
// whatever state the write is in (the faults themselves are played deterministically elsewhere). The run
// lasts until enough output has come (or the thread has made its steps), within a generous bound, so the
// outcome does not depend on the machine's speed.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <numeric>
#include <thread>

#include "module_run.h"

namespace {

using std::chrono::microseconds;
constexpr int kTimeScale = 10;        // simulated milliseconds per real millisecond
constexpr int kHalfStepsAtLeast = 80; // 40 steps: 20 periods at Interval 100
constexpr auto kBound = std::chrono::seconds(60);

// The lines sent on the serial line or to the relay.
std::vector<std::string> LinesSent() {
    const std::vector<std::string> relayed = fakehost::RelayTexts();
    const std::string text = std::accumulate(relayed.begin(), relayed.end(), standin::Written());
    std::vector<std::string> lines;
    for (size_t at = 0, end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2) {
        lines.push_back(text.substr(at, end - at));
    }
    EXPECT_TRUE(text.empty() || text.size() - text.rfind("\r\n") == 2u) << "every text ends its line";
    return lines;
}

TEST(ThreadsTest, EverySentenceFromOneWholeSampleAndShutDownEndsTheThread) {
    // A slow host (a frame every 170 simulated ms) often serves a request late in its period, so that the
    // sample is composed after the next request is up, and the next frame follows that compose.
    const struct {
        const char* name;
        const char* port;
        microseconds frameGap;
        size_t atLeast; // sentences awaited
        DWORD lineBaud;
        const char* network = "";
    } cases[] = {
        {"slow host, the feeds sampling at their own rates", "COM1", microseconds(17000), 10, 0,
         "gdl90:127.0.0.3,xgps:127.0.0.2,udp:127.0.0.4:10110"},
        {"4800 baud: every other cycle finds the line busy", "COM1", microseconds(300), 5, 4800},
        {"relay, slow host", "NetHub", microseconds(17000), 10, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        modulerun::RunSetup setup;
        setup.port = c.port;
        std::atomic<int> halfSteps{0};
        setup.keys = {{"Network", c.network}};
        setup.script = [&c, &halfSteps] {
            standin::S().lineBaud = c.lineBaud;
            standin::S().onSleep = [&halfSteps](DWORD ms) {
                if (ms == 0) {
                    std::this_thread::yield();
                    return;
                }
                std::this_thread::sleep_for(microseconds(ms * 1000 / kTimeScale));
                ++halfSteps;
            };
        };
        ASSERT_NE(modulerun::Start(setup), 0u);
        std::thread output; // the output thread, started as CreateThread would once the hook has created it
        const auto start = std::chrono::steady_clock::now();
        for (int frame = 0; std::chrono::steady_clock::now() - start < kBound; ++frame) {
            for (uint32_t clockId : {0x05u, 0x06u, 0x07u}) {
                fakehost::SetValue(clockId, static_cast<double>((frame / 3) % 24));
            }
            const auto elapsed = std::chrono::steady_clock::now() - start;
            standin::S().tickCount = static_cast<DWORD>(elapsed / std::chrono::milliseconds(1) * kTimeScale);
            FrameHook(0, 0);
            if (!output.joinable() && standin::S().threadsCreated == 1) {
                output = std::thread([] { standin::S().lastThreadStart(nullptr); });
            }
            if (frame % 16 == 0 && halfSteps >= kHalfStepsAtLeast && LinesSent().size() >= c.atLeast) {
                break;
            }
            std::this_thread::sleep_for(c.frameGap);
        }
        std::future<void> shutDown = std::async(std::launch::async, [] { ModuleDeinit(); });
        if (shutDown.wait_for(kBound) != std::future_status::ready) {
            ADD_FAILURE() << "shut-down hangs";
            std::abort(); // the module's thread cannot be left behind safely
        }
        output.join(); // at once: shut-down has seen the thread leave its loop
        EXPECT_EQ(threadRunning.load(), 0);
        EXPECT_EQ(standin::S().threadsCreated, 1);
        EXPECT_GE(halfSteps.load(), kHalfStepsAtLeast) << "the thread ran";
        EXPECT_EQ(standin::S().writesWhileLineBusy, 0);
        EXPECT_EQ(standin::CountCalls("CloseHandle(device)"), c.port == std::string("COM1"));

        const std::vector<std::string> lines = LinesSent();
        for (const std::string& line : lines) {
            ASSERT_TRUE(line.size() > 20 && (line.rfind("$GPRMC,", 0) == 0 || line.rfind("$GPGGA,", 0) == 0))
                << line;
            EXPECT_TRUE(line.substr(7, 2) == line.substr(9, 2) && line.substr(7, 2) == line.substr(11, 2))
                << line;
        }
        EXPECT_GE(lines.size(), c.atLeast) << "within " << kBound.count() << " s";
    }
}

} // namespace
