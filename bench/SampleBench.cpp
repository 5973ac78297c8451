// Loading and slicing a ten-minute 44.1 kHz stereo sample.
// Targets: a load no slower than `sox FILE -t f32 /dev/null` on the same file (compare with
// bench/load-vs-sox.sh) and automatic slicing under 30 ms.

#include <benchmark/benchmark.h>

#include "BenchAudio.h"
#include "sample/AudioFileReader.h"
#include "sample/Slices.h"

using namespace vornik;

namespace {

const bench::BenchFiles& files() {
    static const bench::BenchFiles f = bench::makeBenchFiles();
    return f;
}

void decode(benchmark::State& state, const std::string& path) {
    if (path.empty()) {
        state.SkipWithError("could not write the benchmark file");
        return;
    }
    for (auto _ : state) {
        DecodedAudio d = decodeAudioFile(path);
        if (!d.readComplete()) {
            state.SkipWithError("decode failed");
            return;
        }
        benchmark::DoNotOptimize(d.snapshot->left);
    }
    const double decodedBytes = double{bench::kBenchFrames} * bench::kBenchChannels * sizeof(float);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * decodedBytes));
}

void LoadWav(benchmark::State& state) { decode(state, files().wav); }
void LoadFlac(benchmark::State& state) { decode(state, files().flac); }

void SliceAuto10min(benchmark::State& state) {
    const DecodedAudio d = decodeAudioFile(files().wav);
    if (!d.readComplete()) {
        state.SkipWithError("decode failed");
        return;
    }
    SliceList slices;
    for (auto _ : state) {
        slices.clear();
        findSlices(slices, *d.snapshot, 1000.0);
        benchmark::DoNotOptimize(slices.data());
    }
    state.counters["slices"] = static_cast<double>(slices.size());
}

}  // namespace

BENCHMARK(LoadWav)->Name("Load/wav")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(LoadFlac)->Name("Load/flac")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(SliceAuto10min)->Name("Slice/auto10min")->Unit(benchmark::kMillisecond);
