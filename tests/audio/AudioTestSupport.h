#pragma once
// Sources and measurements for the audio tests.

#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

#include "audio/AudioGraph.h"

namespace vornik::test {

// A sine of `frequency` Hz at `amplitude`, the same on both channels.
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

// Reproducible noise in [-amplitude, amplitude), different on the two channels; a function of
// the frame number only, so two sources give the same stream whatever the call sizes.
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

// Left carries the frame number, right its negative (exact in float up to 2^24).
struct CounterSource {
    std::uint32_t frame = 0;
    void renderAudio(float* left, float* right, int frames) {
        for (int i = 0; i < frames; ++i, ++frame) {
            const float v = static_cast<float>(frame % (1u << 20));
            left[i] = v;
            right[i] = -v;
        }
    }
};

// An impulse on both channels at the first frame.
struct ImpulseSource {
    std::int64_t frame = 0;
    void renderAudio(float* left, float* right, int frames) {
        for (int i = 0; i < frames; ++i, ++frame) left[i] = right[i] = frame == 0 ? 1.0f : 0.0f;
    }
};

struct Stereo {
    std::vector<float> left, right;
};

inline Stereo renderGraph(AudioGraph& g, int frames) {
    Stereo s{std::vector<float>(static_cast<std::size_t>(frames)),
             std::vector<float>(static_cast<std::size_t>(frames))};
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

// Every effect of a graph in its inaudible start state.
inline void setInaudible(AudioGraph& g) {
    g.lowpass().setFilterType(FilterType::kLowPass);
    g.lowpass().setFrequency(22000.0f);
    g.lowpass().setBypass(true);
    g.highpass().setFilterType(FilterType::kHighPass);
    g.highpass().setFrequency(0.0f);
    g.highpass().setBypass(true);
    g.delay().setDelayTime(0.45);
    g.delay().setFeedback(70.0f);
    g.delay().setWetDryMix(0.0f);
    g.delay().setLowPassCutoff(22000.0f);
    g.reverb().loadFactoryPreset(8);
    g.reverb().setWetDryMix(0.0f);
}

// Every effect on and wet.
inline void setAllOn(AudioGraph& g) {
    setInaudible(g);
    g.lowpass().setBypass(false);
    g.lowpass().setFrequency(9000.0f);
    g.highpass().setBypass(false);
    g.highpass().setFrequency(60.0f);
    g.delay().setFeedback(40.0f);
    g.delay().setWetDryMix(40.0f);
    g.reverb().setWetDryMix(35.0f);
}

}  // namespace vornik::test
