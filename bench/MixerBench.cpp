// The mixer at full load: 64 held voices over a stereo sample, 64-frame calls.
// Counter ns_per_voice_frame: the target is at most 3 on the CI machine. VORNIK_MIX_PATH=scalar,
// sse2, avx2 or avx512 times one path (the fastest the CPU has by default).

#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>

#include "base/Constants.h"
#include "BenchVoices.h"
#include "engine/Mixer.h"

using namespace vornik;

namespace {

void runMixer(benchmark::State& state, int mode) {
    auto mixer = std::make_unique<Mixer>();
    mixer->sample().publish(bench::benchSample());
    auto modeOf = [mode](std::size_t i) { return mode >= 0 ? mode : static_cast<int>(i % 4); };
    for (std::size_t i = 0; i < kVoiceCount; ++i) bench::armVoice(mixer->playheads()[i], modeOf(i), i);

    float left[kRequestedBlockFrames], right[kRequestedBlockFrames];
    for (auto _ : state) {
        mixer->renderAudio(left, right, kRequestedBlockFrames);
        benchmark::DoNotOptimize(left);
        benchmark::DoNotOptimize(right);
        for (std::size_t i = 0; i < kVoiceCount; ++i) {  // slicer voices end; start them again
            if (!mixer->playheads()[i].active()) bench::armVoice(mixer->playheads()[i], modeOf(i), i);
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
