// The module run as the host runs it, against the stand-in and the fake host, for the unit tests that drive
// it from start-up to shut-down.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "cycle_check.h"
#include "fake_host.h"
#include "host/linkage.h"
#include "module/lifecycle.h"
#include "sampling/fix.h"
#include "transport/output_thread.h"
#include "win32_standin.h"

namespace modulerun {

const char kSettingsPath[] = "C:\\Sim\\Modules\\Waypost.ini";
constexpr UINT kTimerMessage = 0x0113;
constexpr uint32_t kAltitudeId = 0x49;
constexpr uint32_t kEveryRecord = 0x1FEFF;
const char kEverySentence[] = "GSA,GSV,RMA,RMC,GLL,VTG,GGA,PGRMZ,AV400,RPY,GTEXT,HDT,HDM,HDG,LK8EX1,LXWP0";

struct RunSetup {
    std::string port = "COM1";
    std::string sentences = "RMC,GGA";
    uint32_t mask = 0x005;        // the records those sentences select, for the cycle reader
    std::string interval = "100"; // a period of 2 steps, 200 ms
    int32_t generation = 1;
    std::map<std::string, std::string> keys; // more of the settings file: Network, Log, AttitudeRate, ...
    fakehost::Services services;
    std::function<void()> script;   // scripts the stand-in and the host before start-up
    std::function<void(int)> serve; // sets more host values for the sample of this number
    bool lateFrames = false;        // the host's frames come only after each step's mid-step check
    int frameAtSend = 0;            // n > 0: a host frame also comes at the nth send or write of a step
};

// Resets everything, writes the settings file, installs the host, runs the test's script, runs ModuleInit
// and, when that gives a timer, delivers the timer's message as the host's message loop would. Returns
// ModuleInit's result.
inline UINT_PTR Start(const RunSetup& setup) {
    standin::Reset();
    std::map<std::string, std::string> file = setup.keys; // these win over the three below
    file.insert({{"Port", setup.port}, {"Sentences", setup.sentences}, {"Interval", setup.interval}});
    for (const auto& key : file) {
        standin::SetProfileValue(kSettingsPath, "Waypost", key.first, key.second);
    }
    fakehost::Install(setup.services);
    if (setup.script) {
        setup.script();
    }
    HostGeneration = setup.generation;
    const UINT_PTR timer = ModuleInit();
    if (timer != 0) {
        StartTimerProc(nullptr, kTimerMessage, timer, 0);
    }
    return timer;
}

// Every expected text appears in the module's log, each after the one before.
inline void ExpectLogInOrder(const std::vector<std::string>& expected) {
    const std::string& log = standin::S().logText;
    size_t at = 0;
    for (const std::string& text : expected) {
        const size_t found = log.find(text, at);
        ASSERT_NE(found, std::string::npos) << "no \"" << text << "\" after offset " << at << " in:\n" << log;
        at = found + text.size();
    }
}

// What one simulated run saw.
struct Outcome {
    int samples = 0;                // frames that ran the sampler
    int steps = 0;                  // output thread steps
    std::vector<int> sampleSteps;   // the step in which each sample was taken
    std::vector<std::string> texts; // each write's text
    std::vector<int> textSamples;   // the latest sample's number when each text was written
    std::vector<DWORD> textTicks;   // the tick at which each text was written
};

// Runs the module deterministically on the test's thread: start-up, frames until the output thread exists,
// then the thread's routine, whose every sleep advances the clock on the scripted timer (standin::Elapse)
// and delivers one host frame (or, with lateFrames, only the second sleep of a step). `atTick` may inject a
// fault at a simulated time; the run stops after `runMs` of thread time and ends with shut-down. Every
// sample serves ten times its own number as the altitude in metres, so each text tells which sample it
// came from.
// Checked in every run: the thread sleeps only in half steps (exactly 50 ms under an exact timer unless a
// stall put it behind), keeps its pace (unless stalled) and ends; the frame hook never sleeps, waits or
// writes; every text is written at mid-step and is the selected records, well formed, and (with GGA) from
// the sample just taken; no datagram is empty. With recording off (the allocation test) the run itself
// allocates nothing after start-up.
inline Outcome Simulate(const RunSetup& setup, DWORD runMs,
                        const std::function<void(DWORD)>& atTick = nullptr) {
    Start(setup);
    Outcome out;
    out.sampleSteps.reserve(runMs / 100 + 1);
    auto frame = [&out, &setup]() {
        if (sampleRequested != 0 && dataReady == 0 && ServicePointer(kRowVariables) != nullptr) {
            fakehost::SetValue(kAltitudeId, 10.0 * (out.samples + 1));
            if (setup.serve) {
                setup.serve(out.samples + 1);
            }
        }
        standin::S().inFrame = true;
        FrameHook(0, 0);
        standin::S().inFrame = false;
        if (sampleRequested == 0 && dataReady != 0) {
            out.samples++;
            out.sampleSteps.push_back(out.steps);
        }
    };
    size_t written = 0;
    int sleeps = 0;
    int sends = 0;        // in this step
    int samplesAtMid = 0; // the samples taken before this step's mid-step check
    if (setup.frameAtSend > 0) {
        standin::S().onSend = [&] {
            if (++sends == setup.frameAtSend) {
                frame();
            }
        };
    }
    standin::S().onSleep = [&](DWORD ms) {
        // Half steps that begin behind their time: on a coarse timer, or after a stall.
        const bool late = standin::S().timerTickUs != 0 || standin::S().stall.first != 0;
        EXPECT_TRUE(ms == 50u || (late && ms < 50u)) << "the output thread sleeps only in half steps: " << ms;
        const bool firstHalf = sleeps++ % 2 == 0;
        if (standin::S().written.size() > written) {
            EXPECT_FALSE(firstHalf) << "text " << out.texts.size() << " is composed at mid-step";
            out.texts.push_back(standin::S().written.substr(written));
            out.textSamples.push_back(samplesAtMid);
            out.textTicks.push_back(standin::S().tickCount);
            written = standin::S().written.size();
        }
        out.steps += firstHalf ? 0 : 1;
        sends = 0;
        const DWORD now = standin::Elapse(ms);
        if (atTick) {
            atTick(now);
        }
        if (!(setup.lateFrames && firstHalf)) {
            frame();
        }
        samplesAtMid = firstHalf ? out.samples : samplesAtMid;
        if (now >= runMs) {
            stopRequested = 1; // shut-down's first act; the thread ends with this step
        }
    };
    // Frames until the thread is created (failures are retried frame by frame).
    for (int i = 0; i < 1000 && fakehost::RegisteredHook() != nullptr && standin::S().threadsCreated == 0;
         i++) {
        if (atTick) {
            atTick(standin::S().tickCount);
        }
        frame();
    }
    if (standin::S().threadsCreated != 0) {
        EXPECT_EQ(standin::S().lastThreadStart(nullptr), 0u);
        EXPECT_TRUE(standin::S().stall.first != 0 || out.steps == static_cast<int>(runMs / 100)) << out.steps;
    }
    ModuleDeinit();
    EXPECT_EQ(threadRunning.load(), 0);
    EXPECT_EQ(standin::S().waitsInFrame, 0) << "the frame hook slept, waited or wrote";
    EXPECT_EQ(standin::S().buffersChangedOnTheLine, 0) << "a text was rewritten while the line sent it";
    for (const standin::Datagram& datagram : standin::S().datagrams) {
        EXPECT_NE(datagram.bytes, "") << "an empty datagram to " << datagram.to;
    }
    for (size_t i = 0; i < out.texts.size(); i++) {
        const std::string& text = out.texts[i];
        EXPECT_EQ(CheckCycleText(text.data(), text.size(), {setup.mask, setup.generation, true}), "")
            << "text " << i;
        const std::string altitude = "E,1,05,0.0," + std::to_string(10 * out.textSamples[i]) + ".0,M";
        EXPECT_TRUE(!(setup.mask & 0x004) || text.find(altitude, text.find("$GPGGA,")) != std::string::npos)
            << "text " << i << " is not from sample " << out.textSamples[i] << ": " << text;
    }
    return out;
}

} // namespace modulerun
