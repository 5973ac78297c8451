// The mixer at full load: 64 held voices over a stereo sample, 64-frame calls.
// Counter ns_per_voice_frame: the target is at most 5 on the CI machine.

#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>

#include "base/Constants.h"
#include "engine/Mixer.h"

using namespace vornik;

namespace {

constexpr std::uint32_t kBenchFrames = 44100 * 20;  // 20 s of a 44.1 kHz stereo sample

std::unique_ptr<SampleSnapshot> benchSample() {
    std::shared_ptr<float[]> storage(new float[kBenchFrames * 2]);
    for (std::uint32_t i = 0; i < kBenchFrames; ++i) {
        storage[i] = 0.5f * std::sin(0.01f * static_cast<float>(i));
        storage[kBenchFrames + i] = 0.5f * std::cos(0.013f * static_cast<float>(i));
    }
    return makeLoadedSnapshot(storage, kBenchFrames, 2, 44100.0);
}

// A held voice at full level in `mode`, spread over the sample by its index.
void arm(Playhead& v, int mode, std::size_t index) {
    const double rate = 44100.0 / 48000.0 * std::pow(2.0, (index % 7) / 12.0);
    const double start = 10000.0 + 12000.0 * index;
    v.setMode(mode);
    v.setFadeOut(false);
    v.setTouchid(index + 1);
    v.setAmp(0.9f);
    v.setEnvelope(1.0);
    v.setRate(mode == Playhead::kTape ? -rate : rate);
    v.setPos(start);
    v.setFrameStart(start);
    v.setFrameEnd(mode == Playhead::kLooper ? start + 2000.0 : kBenchFrames - 1.0);
    v.setLooperPos(0.0);
    v.setLooperCrossfade(Mixer::kLooperIdle);
    v.setBowAmp(0.0);
    v.setBowPos(start - 0.08 * 44100.0);
    v.setActive(true);
}

void runMixer(benchmark::State& state, int mode) {
    auto mixer = std::make_unique<Mixer>();
    mixer->sample().publish(benchSample());
    auto modeOf = [mode](std::size_t i) { return mode >= 0 ? mode : static_cast<int>(i % 4); };
    for (std::size_t i = 0; i < kVoiceCount; ++i) arm(mixer->playheads()[i], modeOf(i), i);

    float left[kRequestedBlockFrames], right[kRequestedBlockFrames];
    for (auto _ : state) {
        mixer->renderAudio(left, right, kRequestedBlockFrames);
        benchmark::DoNotOptimize(left);
        benchmark::DoNotOptimize(right);
        for (std::size_t i = 0; i < kVoiceCount; ++i) {  // slicer voices end; start them again
            if (!mixer->playheads()[i].active()) arm(mixer->playheads()[i], modeOf(i), i);
        }
    }
    const double voiceFrames = static_cast<double>(kVoiceCount) * kRequestedBlockFrames;
    state.counters["ns_per_voice_frame"] = benchmark::Counter(
        voiceFrames / 1e9, benchmark::Counter::kIsIterationInvariantRate |
                               benchmark::Counter::kInvert);
}

}  // namespace

BENCHMARK_CAPTURE(runMixer, slicer, Playhead::kSlicer)->Name("Mixer/slicer");
BENCHMARK_CAPTURE(runMixer, looper, Playhead::kLooper)->Name("Mixer/looper");
BENCHMARK_CAPTURE(runMixer, bow, Playhead::kBow)->Name("Mixer/bow");
BENCHMARK_CAPTURE(runMixer, tape, Playhead::kTape)->Name("Mixer/tape");
BENCHMARK_CAPTURE(runMixer, mixed, -1)->Name("Mixer/mixed");
