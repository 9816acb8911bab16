// What the module costs per frame, per sample and per cycle, with the stand-in answering the platform and
// the fake host serving the variables (neither recording anything).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <iterator>

#include "fake_host.h"
#include "host/linkage.h"
#include "module/lifecycle.h"
#include "network/discovery.h"
#include "network/network.h"
#include "sampling/fix.h"
#include "sampling/geoid.h"
#include "sentences/network_records.h"
#include "sentences/output_buffer.h"
#include "sentences/records.h"
#include "settings/network_settings.h"
#include "settings/settings.h"
#include "transport/cycle.h"
#include "transport/output_thread.h"
#include "transport/serial.h"
#include "win32_standin.h"

namespace {

constexpr SentenceMask kEveryRecord = 0x1FEFF;

// A running module on a generation-2 host over Munich at 22 knots, after one completed sample.
void StartModule(int32_t generation) {
    standin::Reset();
    standin::S().record = false;
    fakehost::Services services;
    fakehost::Install(services);
    HostGeneration = generation;
    fakehost::SetReadyWord(1);
    fakehost::SetGroundSpeedWord(759000); // 22.45 knots
    const struct {
        uint32_t id;
        double value;
    } values[] = {{0x47, 5345916.0}, {0x48, 9003240000000.0},
                  {0x56, 84.45},     {0x52, -3.2},
                  {0x49, 545.4},     {0x157, 12.0},
                  {0x158, 270.0},    {0x06, 12.0},
                  {0x07, 35.0},      {0x05, 19.0},
                  {0x09, 1994.0},    {0x08, 81.0},
                  {0x3D, 120.0},     {0x41, -640.0}};
    for (const auto& v : values) {
        fakehost::SetValue(v.id, v.value);
    }
    portHandle = standin::Opened(standin::kDeviceHandle);
    threadRunning = 1; // an output thread exists
    sampleRequested = 1;
    SampleFlightState();
    dataReady = 0;
}

// The hook on a frame that has nothing to do: the steady state between samples.
void BM_FrameHookIdle(benchmark::State& state) {
    StartModule(2);
    for (auto _ : state) {
        FrameHook(0, 0);
    }
}
BENCHMARK(BM_FrameHookIdle);

// The hook on a frame that samples: registration done, 16, 20 or 22 reads through the host and the fix.
void BM_FrameHookSampling(benchmark::State& state) {
    StartModule(static_cast<int32_t>(state.range(0)));
    for (auto _ : state) {
        sampleRequested = 1;
        dataReady = 0;
        FrameHook(0, 0);
    }
    state.SetLabel("generation " + std::to_string(state.range(0)));
}
BENCHMARK(BM_FrameHookSampling)->Arg(0)->Arg(2);

// The conversion alone, without the host's reads.
void BM_ConvertFlightState(benchmark::State& state) {
    StartModule(2);
    for (auto _ : state) {
        benchmark::DoNotOptimize(ConvertFlightState(759000));
    }
}
BENCHMARK(BM_ConvertFlightState);

// The geoid's height, as the GDL 90 geometric altitude looks it up: a position a lookup, spread over the
// globe.
void BM_GeoidUndulation(benchmark::State& state) {
    double latitude = -89.9, longitude = -179.9;
    for (auto _ : state) {
        benchmark::DoNotOptimize(GeoidUndulation(latitude, longitude));
        latitude = latitude > 89.0 ? -89.9 : latitude + 0.37;
        longitude = longitude > 179.0 ? -179.9 : longitude + 1.13;
    }
}
BENCHMARK(BM_GeoidUndulation);

// One cycle's text in the buffer; bytes per second is the composing rate.
void BM_ComposeRecords(benchmark::State& state) {
    StartModule(2);
    sentenceMask = static_cast<SentenceMask>(state.range(0));
    int64_t bytes = 0;
    for (auto _ : state) {
        const int32_t length = ComposeRecords(OutputBuffer, navSnapshot, 42);
        benchmark::DoNotOptimize(length);
        bytes += length;
    }
    state.SetBytesProcessed(bytes);
    state.SetLabel(sentenceMask == kSentenceRmc ? "RMC only" : "every record");
}
BENCHMARK(BM_ComposeRecords)->Arg(kSentenceRmc)->Arg(kEveryRecord);

// A whole cycle as the output thread runs it: completion check, hundredths, records, the write's start.
void BM_ComposeCycle(benchmark::State& state) {
    StartModule(2);
    sentenceMask = static_cast<SentenceMask>(state.range(0));
    for (auto _ : state) {
        ComposeCycle(navSnapshot);
    }
    state.SetLabel(sentenceMask == kSentenceRmc ? "RMC only" : "every record");
}
BENCHMARK(BM_ComposeCycle)->Arg(kSentenceRmc)->Arg(kEveryRecord);

// A cycle with every output of the line's text: the serial line, NMEA over UDP and to eight TCP readers.
void BM_ComposeCycleEveryOutput(benchmark::State& state) {
    StartModule(2);
    sentenceMask = kEveryRecord;
    const NetworkEntry entries[] = {{kNetworkUdp, 0x7F000001, 10110}, {kNetworkTcp, 0x7F000001, 10110}};
    networkEntryCount = 2;
    std::copy(std::begin(entries), std::end(entries), networkEntries);
    standin::S().clients.resize(kMaxTcpClients);
    OpenNetworkOutputs();
    for (auto _ : state) {
        ComposeCycle(navSnapshot);
    }
    CloseNetworkOutputs();
    state.SetLabel("every record, serial, UDP and 8 TCP readers");
}
BENCHMARK(BM_ComposeCycleEveryOutput);

// The feeds' work at a step that sends every record, as the output thread does it once a second: the
// reports of the last step's datagrams read, ForeFlight's listener polled, then the EFB lines and the GDL 90
// frames to an entry of each and to eight tablets found by their announcements.
void BM_FeedStep(benchmark::State& state) {
    StartModule(2);
    const NetworkEntry entries[] = {{kNetworkXgps, 0x7F000001, 49002},
                                    {kNetworkGdl90, 0x7F000001, 4000},
                                    {kNetworkGdl90, 0, kDiscoveryDefaultPort}};
    networkEntryCount = 3;
    std::copy(std::begin(entries), std::end(entries), networkEntries);
    for (int tablet = 0; tablet < kMaxTablets; ++tablet) {
        standin::S().incoming.push_back({kDiscoveryDefaultPort,
                                         "192.168.1." + std::to_string(tablet + 10) + ":1",
                                         R"({"App":"ForeFlight","GDL90":{"port":4000}})"});
    }
    OpenNetworkOutputs();
    PollNetwork(0); // the tablets are found
    const Gdl90Status status = {Gdl90SecondsOfDay(navSnapshot), true};
    for (auto _ : state) {
        PollNetwork(1000);
        SendFeedRecords(kFeedHeartbeat | kFeedPosition | kFeedAttitude, status, navSnapshot);
    }
    CloseNetworkOutputs();
    state.SetLabel("EFB and GDL 90, 8 tablets, every record");
}
BENCHMARK(BM_FeedStep);

} // namespace

BENCHMARK_MAIN();
