// The output graph per 64-frame block. Counter rt_share: the fraction of the block's real-time
// budget (64 / 48,000 s) one block takes. Targets on the CI machine: Graph/effects at most 0.02,
// Graph/full64 at most 0.05.

#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <vector>

#include "BenchVoices.h"
#include "audio/AudioGraph.h"
#include "base/Constants.h"
#include "display/MainView.h"

using namespace vornik;

namespace {

constexpr double kBlockSeconds = kRequestedBlockFrames / kOutputSampleRate;

void setRtShare(benchmark::State& state) {
    // The inverse of (budget x iterations / CPU time): CPU seconds per block / budget.
    state.counters["rt_share"] = benchmark::Counter(
        kBlockSeconds, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// Every unit in the path and wet: filters at work, delay and reverb mixed in.
void allOn(AudioGraph& g) {
    g.lowpass().setFilterType(FilterType::kLowPass);
    g.lowpass().setFrequency(8000.0f);
    g.lowpass().setBypass(false);
    g.highpass().setFilterType(FilterType::kHighPass);
    g.highpass().setFrequency(80.0f);
    g.highpass().setBypass(false);
    g.delay().setDelayTime(0.45);
    g.delay().setFeedback(60.0f);
    g.delay().setWetDryMix(50.0f);
    g.delay().setLowPassCutoff(12000.0f);
    g.reverb().loadFactoryPreset(8);
    g.reverb().setWetDryMix(50.0f);
}

// A second of noise, replayed block by block: the source costs a copy.
struct NoiseLoop {
    std::vector<float> left, right;
    std::size_t at = 0;
    NoiseLoop() : left(48000), right(48000) {
        std::uint32_t x = 12345;
        for (std::size_t i = 0; i < left.size(); ++i) {
            x = x * 1664525u + 1013904223u;
            left[i] = static_cast<float>(x >> 8) / 16777216.0f - 0.5f;
            right[i] = -left[i];
        }
    }
    void renderAudio(float* l, float* r, int n) {
        if (at + static_cast<std::size_t>(n) > left.size()) at = 0;
        std::copy_n(left.data() + at, n, l);
        std::copy_n(right.data() + at, n, r);
        at += static_cast<std::size_t>(n);
    }
};

void effects(benchmark::State& state) {
    auto graph = std::make_unique<AudioGraph>();
    NoiseLoop source;
    graph->setSource(source);
    allOn(*graph);
    graph->prepare();
    float left[kRequestedBlockFrames], right[kRequestedBlockFrames];
    for (auto _ : state) {
        graph->render(left, right, kRequestedBlockFrames);
        benchmark::DoNotOptimize(left);
        benchmark::DoNotOptimize(right);
    }
    setRtShare(state);
}

// 64 voices of all four modes through the whole graph, every effect on (or, for Graph/off64,
// every effect off: then they cost nothing and this is the mixer alone).
void full64(benchmark::State& state, bool effectsOn) {
    ManualClock clock;
    RunLoop loop(clock);
    auto view = std::make_unique<MainView>(loop);
    view->initAudioEngine(MainView::AudioOutput::kNone);
    view->mixer().sample().publish(bench::benchSample());
    if (effectsOn) {
        view->filterSet(0.8f);
        view->delayTimeSet(0.2f);
        view->delayFeedbackSet(0.5f);
        view->reverbSet(0.5f);
    }
    for (std::size_t i = 0; i < kVoiceCount; ++i) {
        bench::armVoice(view->playheads()[i], static_cast<int>(i % 4), i);
    }
    float left[kRequestedBlockFrames], right[kRequestedBlockFrames];
    for (auto _ : state) {
        view->renderOutput(left, right, kRequestedBlockFrames);
        benchmark::DoNotOptimize(left);
        benchmark::DoNotOptimize(right);
        for (std::size_t i = 0; i < kVoiceCount; ++i) {  // slicer voices end; start them again
            if (!view->playheads()[i].active()) {
                bench::armVoice(view->playheads()[i], static_cast<int>(i % 4), i);
            }
        }
    }
    setRtShare(state);
}

// The cathedral's tail long after the sound stopped (flushed denormals keep it cheap).
void reverbTail(benchmark::State& state) {
    auto graph = std::make_unique<AudioGraph>();
    NoiseLoop source;
    graph->setSource(source);
    graph->reverb().setWetDryMix(100.0f);
    graph->prepare();
    float left[kRequestedBlockFrames], right[kRequestedBlockFrames];
    for (int i = 0; i < 100; ++i) graph->render(left, right, kRequestedBlockFrames);
    graph->setSource(
        [](void*, float* l, float* r, int n) {
            std::fill_n(l, n, 0.0f);
            std::fill_n(r, n, 0.0f);
        },
        nullptr);
    for (int i = 0; i < 48000 * 66 / kRequestedBlockFrames; ++i) {  // down to about -700 dB
        graph->render(left, right, kRequestedBlockFrames);
    }
    for (auto _ : state) {
        graph->render(left, right, kRequestedBlockFrames);
        benchmark::DoNotOptimize(left);
    }
    setRtShare(state);
}

}  // namespace

BENCHMARK(effects)->Name("Graph/effects");
BENCHMARK_CAPTURE(full64, on, true)->Name("Graph/full64");
BENCHMARK_CAPTURE(full64, off, false)->Name("Graph/off64");
BENCHMARK(reverbTail)->Name("Graph/reverbTail");
