// The recorder: the capture callback's cost per block, and how much faster than real time the
// writer turns captured audio into a finished "recording.wav".
// Counters: ns_per_frame on the capture side (a 44.1 kHz input gives 22,675 ns per frame);
// realtime_factor of the writer, which must stay well above 1.

#include <benchmark/benchmark.h>
#include <sndfile.h>
#include <stdlib.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "sample/CaptureSourceFile.h"
#include "sample/Recorder.h"
#include "sample/RecorderMeter.h"
#include "sample/RecorderRing.h"

using namespace vornik;

namespace {

std::vector<float> noise(std::size_t frames) {
    std::vector<float> v(frames * 2);
    std::uint32_t x = 12345;
    for (float& s : v) {
        x = x * 1664525u + 1013904223u;
        s = static_cast<float>(x >> 8) / 16777216.0f * 1.6f - 0.8f;
    }
    return v;
}

std::filesystem::path makeTempDir() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "vornik-bench-rec-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) return {};
    return pattern;
}

// What the device callback does for one 512-frame block (meter and ring), plus the writer's pop.
void BM_CapturePath(benchmark::State& state) {
    constexpr std::size_t kBlock = 512;
    const auto block = noise(kBlock);
    std::vector<float> out(kBlock * 2);
    FrameRing ring(Recorder::kRingFrames);
    RecorderMeter meter;
    for (auto _ : state) {
        meter.add(block.data(), kBlock);
        ring.push(block.data(), kBlock);
        benchmark::DoNotOptimize(ring.pop(out.data(), kBlock));
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kBlock));
    state.counters["ns_per_frame"] =
        benchmark::Counter(static_cast<double>(state.iterations() * kBlock),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_CapturePath);

// Ten seconds of stereo input through the whole path into a finished file (rename and fsync
// included), pumped as fast as the writer takes it.
void BM_WriterRealtimeFactor(benchmark::State& state) {
    constexpr std::size_t kFrames = 10 * 44100;
    const std::filesystem::path dir = makeTempDir();
    if (dir.empty()) {
        state.SkipWithError("no temporary directory");
        return;
    }
    {
        SF_INFO info{};
        info.samplerate = 44100;
        info.channels = 2;
        info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
        SNDFILE* f = sf_open((dir / "in.wav").c_str(), SFM_WRITE, &info);
        const auto data = noise(kFrames);
        sf_writef_float(f, data.data(), kFrames);
        sf_close(f);
    }
    auto source = std::make_unique<FileCaptureSource>(dir / "in.wav");
    FileCaptureSource* feed = source.get();
    Recorder rec(dir / "out", std::move(source));
    double seconds = 0.0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        rec.record();
        feed->pump(kFrames);
        rec.stop();
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    }
    state.counters["realtime_factor"] =
        static_cast<double>(state.iterations()) * 10.0 / std::max(seconds, 1e-9);
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
}
BENCHMARK(BM_WriterRealtimeFactor)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
