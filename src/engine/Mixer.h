#pragma once
// The voice pool and the software mixer that renders it into the two output channels.

#include <array>
#include <atomic>
#include <cstdint>

#include "base/Constants.h"
#include "engine/Playhead.h"
#include "engine/SampleBuffer.h"

namespace vornik {

using VoicePool = std::array<Playhead, kVoiceCount>;

// Reads one channel of the sample at a fractional frame: 4-point Hermite (Catmull-Rom) in
// single precision, a single stored frame within 2 frames of either end of the buffer, and the
// last frame for positions beyond it (a position of -1 or below included). Thread: any.
float readSample(const float* plane, double position, std::uint32_t capacity);

class Mixer {
public:
    // Per-output-frame constants at 48 kHz.
    static constexpr double kFastFadeStep = -200.0 / kOutputSampleRate;  // 5 ms from full level
    static constexpr double kSlicerEndZone = 0.005 * kOutputSampleRate;  // frames before the end
    static constexpr double kLooperCrossfadeStep = 200.0 / kOutputSampleRate;
    static constexpr double kLooperIdle = -1.0;
    static constexpr double kBowRampStep = 12.5 / kOutputSampleRate;      // a grain every 80 ms
    static constexpr double kBowLeadSeconds = 0.08;

    Mixer() = default;
    Mixer(const Mixer&) = delete;
    Mixer& operator=(const Mixer&) = delete;

    // Clears both channels and adds every active voice into them. Never allocates, locks,
    // logs or waits. Thread: audio (one render call at a time).
    void renderAudio(float* left, float* right, int numFrames);

    VoicePool& playheads() { return playheads_; }
    const VoicePool& playheads() const { return playheads_; }
    SampleStore& sample() { return sample_; }
    const SampleStore& sample() const { return sample_; }

    // Envelope times in seconds, read by the mixer at every frame. Thread: any.
    double attack() const { return attack_.load(std::memory_order_relaxed); }
    void setAttack(double seconds) { attack_.store(seconds, std::memory_order_relaxed); }
    double decay() const { return decay_.load(std::memory_order_relaxed); }
    void setDecay(double seconds) { decay_.store(seconds, std::memory_order_relaxed); }

private:
    class EnvelopeSteps;

    void renderSlicer(Playhead& v, const SampleSnapshot& s, EnvelopeSteps& steps, float* left,
                      float* right, int numFrames);
    void renderTape(Playhead& v, const SampleSnapshot& s, EnvelopeSteps& steps, float* left,
                    float* right, int numFrames);
    void renderLooper(Playhead& v, const SampleSnapshot& s, EnvelopeSteps& steps, float* left,
                      float* right, int numFrames);
    void renderBow(Playhead& v, const SampleSnapshot& s, EnvelopeSteps& steps, float* left,
                   float* right, int numFrames);

    VoicePool playheads_;
    SampleStore sample_;
    std::atomic<double> attack_{kDefaultAttack};
    std::atomic<double> decay_{kDefaultDecay};
};

}  // namespace vornik
