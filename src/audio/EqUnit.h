#pragma once
// A one-band equaliser: a second-order Butterworth low-pass or high-pass, with the band's own
// bypass and the unit's bypass (either one passes the input through unchanged). The filter is a
// trapezoidal state-variable filter: the bilinear Butterworth response of a biquad, but it stays
// smooth while its frequency moves, where a direct-form biquad throws transients.
//
// The stored frequency is whatever was set; the filter runs at it clamped into a range a biquad
// holds (10 Hz up to 0.49 of the rate), gliding there in the log domain so a jump does not click.
// Switching the bypass crossfades over 5 ms; once the fade out has ended the unit is idle and the
// graph skips it, and it comes back from a clean state, fading in.

#include <atomic>
#include <vector>

#include "audio/Effect.h"

namespace vornik {

enum class FilterType { kLowPass, kHighPass };

class EqUnit final : public AudioEffect {
public:
    static constexpr double kLowestFrequency = 10.0;     // Hz
    static constexpr double kHighestFraction = 0.49;     // of the sample rate
    static constexpr double kGlideSeconds = 0.015;       // time constant of a frequency change
    static constexpr double kBypassFadeSeconds = 0.005;  // crossfade in and out of the path
    static constexpr double kButterworthQ = 0.70710678118654752;

    // Parameters. Thread: any.
    bool bypass() const { return bypass_.load(kRelaxed); }
    void setBypass(bool v) { bypass_.store(v, kRelaxed); }
    FilterType filterType() const { return type_.load(kRelaxed); }
    void setFilterType(FilterType t) { type_.store(t, kRelaxed); }
    float frequency() const { return frequency_.load(kRelaxed); }  // Hz, as set
    void setFrequency(float hz) { frequency_.store(hz, kRelaxed); }
    bool bandBypass() const { return bandBypass_.load(kRelaxed); }
    void setBandBypass(bool v) { bandBypass_.store(v, kRelaxed); }

    void prepare(double sampleRate, int maxBlock) override;
    void reset() override;
    void process(const float* inL, const float* inR, float* outL, float* outR, int frames) override;
    // Bypassed, and faded out of the path.
    bool idle() const override;

    // The frequency the filter runs at now, after clamping and gliding. Thread: audio, or any
    // while no render call runs.
    double runningFrequency() const;
    // The frequency a set value runs at once the glide is over. Thread: any after prepare.
    double clampedFrequency(float hz) const;

private:
    static constexpr auto kRelaxed = std::memory_order_relaxed;

    struct Channel {
        double ic1 = 0.0, ic2 = 0.0;  // the two integrators' states
    };

    void processChunk(const float* inL, const float* inR, float* outL, float* outR, int frames);
    void followParameters(int frames);
    void computeCoefficients();
    void filter(const float* in, float* out, Channel& c, int frames) const;

    std::atomic<bool> bypass_{false};
    std::atomic<FilterType> type_{FilterType::kLowPass};
    std::atomic<float> frequency_{1000.0f};
    std::atomic<bool> bandBypass_{false};

    // Audio thread from here on.
    double sampleRate_ = 0.0;
    int maxBlock_ = 0;
    int fadeFrames_ = 1;
    std::vector<float> scratchL_, scratchR_;
    FilterType runningType_ = FilterType::kLowPass;
    double logFrequency_ = 0.0;  // log2 Hz, gliding
    double targetLog_ = 0.0;
    double targetHz_ = 0.0;
    double runningHz_ = 0.0;
    double a1_ = 1.0, a2_ = 0.0, a3_ = 0.0;
    Channel left_, right_;
    bool inPath_ = false;
    dsp::Ramp wet_;  // 0 bypassed, 1 filtered
};

}  // namespace vornik
