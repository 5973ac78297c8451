#pragma once
// A stereo feedback delay: each channel's echo is read from its own line, low-passed, fed back
// into the line and mixed with the dry input.
//
// Time changes while echoes ring crossfade from the old read position to the new one (both
// inside the line); wet/dry and feedback ramp over 10 ms. The line holds kLongestTime seconds;
// the stored time keeps any value that was set, and the unit runs at it clamped into the line.
// The loop gain stays below one (kFeedbackLimit), so sound that keeps coming cannot pile up
// without bound. Fully dry, the line takes no more input; once its echoes have died away the
// unit is idle.

#include <atomic>
#include <cstdint>
#include <vector>

#include "audio/Effect.h"

namespace vornik {

class DelayUnit final : public AudioEffect {
public:
    static constexpr double kLongestTime = 2.5;             // seconds the line holds
    static constexpr double kTimeCrossfadeSeconds = 0.02;   // from old to new read position
    static constexpr double kRampSeconds = 0.01;            // wet/dry and feedback changes
    static constexpr double kLowestCutoff = 10.0;           // Hz
    static constexpr double kHighestCutoffFraction = 0.49;  // of the sample rate
    static constexpr float kFeedbackLimit = 0.99f;          // loop gain

    // Parameters. Thread: any.
    double delayTime() const { return time_.load(kRelaxed); }  // seconds, as set
    void setDelayTime(double seconds) { time_.store(seconds, kRelaxed); }
    float feedback() const { return feedback_.load(kRelaxed); }  // percent, -100..100
    void setFeedback(float percent) { feedback_.store(percent, kRelaxed); }
    float wetDryMix() const { return wetDryMix_.load(kRelaxed); }  // percent, 0..100
    void setWetDryMix(float percent) { wetDryMix_.store(percent, kRelaxed); }
    float lowPassCutoff() const { return cutoff_.load(kRelaxed); }  // Hz
    void setLowPassCutoff(float hz) { cutoff_.store(hz, kRelaxed); }

    void prepare(double sampleRate, int maxBlock) override;
    void reset() override;
    void process(const float* inL, const float* inR, float* outL, float* outR, int frames) override;
    // Fully dry, and every echo the line could still give below kSilence.
    bool idle() const override;

    // The delay in frames that a time runs at. Thread: any after prepare.
    int delayFramesFor(double seconds) const;
    // The delay the unit reads at now (the new one once a crossfade has finished).
    // Thread: audio, or any while no render call runs.
    int runningDelayFrames() const { return current_; }

private:
    static constexpr auto kRelaxed = std::memory_order_relaxed;

    void followParameters();
    float feedbackTarget() const;
    float mixTarget() const;

    std::atomic<double> time_{0.5};
    std::atomic<float> feedback_{50.0f};
    std::atomic<float> wetDryMix_{100.0f};
    std::atomic<float> cutoff_{15000.0f};

    // Audio thread from here on.
    double sampleRate_ = 0.0;
    std::vector<float> lineL_, lineR_;
    std::uint32_t mask_ = 0;
    std::uint32_t write_ = 0;
    int longest_ = 1;  // frames
    int current_ = 1;  // frames read at
    int next_ = 1;     // frames read at once the crossfade ends
    float fade_ = 0.0f, fadeStep_ = 0.0f;
    bool fading_ = false;
    int rampFrames_ = 1;
    float lastCutoff_ = -1.0f;
    float smooth_ = 0.0f;  // one-pole coefficient of the echo's low-pass
    float lowL_ = 0.0f, lowR_ = 0.0f;
    int quiet_ = 0;  // frames written below kSilence since the line last held sound
    dsp::Ramp mix_, feedbackGain_;
};

}  // namespace vornik
