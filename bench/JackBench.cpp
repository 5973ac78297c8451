// The JACK process callback's share of the period with 64 voices of all four modes and every
// effect on, on the running server (bench/jack-cpu.sh starts one). Counters: mean_share and
// peak_share, the callback's own timing over JACK_BENCH_SECONDS (5); jack_cpu_load, the
// server's figure for all its clients, in percent.

#include <benchmark/benchmark.h>
#include <jack/jack.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>

#include "BenchVoices.h"
#include "audio/JackDevice.h"
#include "display/MainView.h"

using namespace vornik;

namespace {

void process64(benchmark::State& state) {
    ManualClock clock;
    RunLoop loop(clock);
    auto view = std::make_unique<MainView>(loop);
    view->initAudioEngine(MainView::AudioOutput::kNone);
    view->mixer().sample().publish(bench::benchSample());
    view->filterSet(0.8f);
    view->delayTimeSet(0.2f);
    view->delayFeedbackSet(0.5f);
    view->reverbSet(0.5f);
    JackSettings options;
    options.clientName = "vornik-bench";
    options.connect = true;
    options.quietWithoutServer = true;
    auto device = std::make_unique<JackDevice>(view->audioGraph(), options);
    JackDevice& jack = *device;
    jack_client_t* watcher = jack_client_open("vornik-bench-load", JackNoStartServer, nullptr);
    if (!watcher || !view->setAudioDevice(std::move(device))) {
        if (watcher) jack_client_close(watcher);
        state.SkipWithError("no JACK server running: use bench/jack-cpu.sh, which starts one");
        return;
    }
    const char* s = std::getenv("JACK_BENCH_SECONDS");
    const double seconds = s ? std::atof(s) : 5.0;
    JackDevice::Load load;
    double cpuLoad = 0.0;
    for (auto _ : state) {
        jack.takeLoad();
        const auto until =
            std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        int samples = 0;
        while (std::chrono::steady_clock::now() < until) {
            for (std::size_t i = 0; i < kVoiceCount; ++i) {  // voices that ended start again
                if (!view->playheads()[i].active()) {
                    bench::armVoice(view->playheads()[i], static_cast<int>(i % 4), i);
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            cpuLoad += jack_cpu_load(watcher);
            ++samples;
        }
        load = jack.takeLoad();
        cpuLoad /= std::max(1, samples);
    }
    state.counters["mean_share"] = load.mean;
    state.counters["peak_share"] = load.peak;
    state.counters["periods"] = static_cast<double>(load.periods);
    state.counters["rate"] = jack.sampleRate();
    state.counters["period"] = jack.bufferFrames();
    state.counters["jack_cpu_load"] = cpuLoad;
    view->setAudioDevice(nullptr);
    jack_client_close(watcher);
}

}  // namespace

BENCHMARK(process64)->Name("Jack/process64")->Iterations(1)->Unit(benchmark::kSecond);
