#pragma once
// Sources, measurements and settings shared by the audio tests.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <numbers>
#include <vector>

#include "audio/AudioGraph.h"
#include "display/MainView.h"
#include "support/RealtimeGuard.h"
#include "support/SampleFixtures.h"
#include "support/ScopedDriver.h"

namespace vornik::test {

// A sine of `frequency` Hz, the same on both channels.
struct SineSource {
    double frequency = 1000.0;
    float amplitude = 0.5f;
    std::int64_t frame = 0;
    void renderAudio(float* left, float* right, int frames) {
        for (int i = 0; i < frames; ++i, ++frame) {
            const double phase = 2.0 * std::numbers::pi * frequency * frame / 48000.0;
            left[i] = right[i] = amplitude * static_cast<float>(std::sin(phase));
        }
    }
};

// Reproducible noise in [-amplitude, amplitude), different per channel, whatever the call sizes.
struct NoiseSource {
    float amplitude = 0.25f;
    std::uint64_t frame = 0;
    static float at(std::uint64_t n) {
        std::uint64_t x = n * 0x9E3779B97F4A7C15ull;
        x ^= x >> 29;
        x *= 0xBF58476D1CE4E5B9ull;
        x ^= x >> 32;
        return static_cast<float>(x >> 40) / static_cast<float>(1 << 23) - 1.0f;
    }
    void renderAudio(float* left, float* right, int frames) {
        for (int i = 0; i < frames; ++i, ++frame) {
            left[i] = amplitude * at(2 * frame);
            right[i] = amplitude * at(2 * frame + 1);
        }
    }
};

struct Stereo {
    std::vector<float> left, right;
};

inline Stereo renderGraph(AudioGraph& g, int frames) {
    Stereo s{std::vector<float>(frames), std::vector<float>(frames)};
    g.render(s.left.data(), s.right.data(), frames);
    return s;
}

inline double rms(const std::vector<float>& v, std::size_t from = 0, std::size_t to = SIZE_MAX) {
    to = std::min(to, v.size());
    double sum = 0.0;
    for (std::size_t i = from; i < to; ++i) sum += static_cast<double>(v[i]) * v[i];
    return to > from ? std::sqrt(sum / static_cast<double>(to - from)) : 0.0;
}

inline double decibels(double ratio) { return 20.0 * std::log10(ratio); }

// A steady tone's frequency in Hz: the median time between its rising zero crossings
// (interpolated between frames; a dropout does not move it), over every `stride`-th value of `x`
// (2 reads one channel of interleaved stereo).
inline double toneFrequency(const std::vector<float>& x, double rate, std::size_t stride = 1) {
    std::vector<double> crossings, periods;
    for (std::size_t i = stride; i < x.size(); i += stride) {
        const float a = x[i - stride], b = x[i];
        if (a < 0.0f && b >= 0.0f)
            crossings.push_back(static_cast<double>(i / stride - 1) + a / (a - b));
    }
    for (std::size_t i = 1; i < crossings.size(); ++i)
        periods.push_back(crossings[i] - crossings[i - 1]);
    if (periods.empty()) return 0.0;
    std::nth_element(periods.begin(), periods.begin() + periods.size() / 2, periods.end());
    return rate / periods[periods.size() / 2];
}

inline bool allFinite(const Stereo& s) {
    auto finite = [](const std::vector<float>& v) {
        return std::all_of(v.begin(), v.end(), [](float x) { return std::isfinite(x); });
    };
    return finite(s.left) && finite(s.right);
}

inline void expectRealtime(const RealtimeCounts& counts) {
    EXPECT_EQ(counts.allocations, 0u);
    if (countsMalloc()) {  // sanitizer builds own malloc, which locks
        EXPECT_EQ(counts.locks, 0u);
    }
}

// Every effect in its inaudible start state; with `on`, every effect on and wet.
inline void setEffects(AudioGraph& g, bool on = false) {
    g.lowpass().setFilterType(FilterType::kLowPass);
    g.lowpass().setFrequency(on ? 9000.0f : 22000.0f);
    g.lowpass().setBypass(!on);
    g.highpass().setFilterType(FilterType::kHighPass);
    g.highpass().setFrequency(on ? 60.0f : 0.0f);
    g.highpass().setBypass(!on);
    g.delay().setDelayTime(0.45);
    g.delay().setFeedback(on ? 40.0f : 70.0f);
    g.delay().setWetDryMix(on ? 40.0f : 0.0f);
    g.delay().setLowPassCutoff(22000.0f);
    g.reverb().loadFactoryPreset(8);
    g.reverb().setWetDryMix(on ? 35.0f : 0.0f);
}

// `g` over `source`, every effect as setEffects leaves it, prepared.
template <class Source>
void prepare(AudioGraph& g, Source& source, bool on = false) {
    g.setSource(source);
    setEffects(g, on);
    g.prepare();
}

// A view with its graph; no device unless asked for.
struct View {
    ManualClock clock;
    RunLoop loop{clock};
    MainView view{loop};
    explicit View(MainView::AudioOutput out = MainView::AudioOutput::kNone) {
        view.initAudioEngine(out);
    }
};

// Holds tape voice `i` at `rate` from `pos`.
inline void holdTape(MainView& m, std::size_t i, double rate, double pos = 0.0) {
    startVoice(m.playheads()[i], {Playhead::kTape, pos, 0.0, rate, 0.0, 0.5f, i + 1});
}

}  // namespace vornik::test
