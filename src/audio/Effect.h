#pragma once
// What every effect unit of the output graph shares: prepared once for a rate and a largest
// block (everything allocated there), then processed block by block on the audio thread.
// Parameters are set from the main thread as atomics; a unit picks up a changed value at the
// start of its next block and ramps to it where a jump would click.

#include <algorithm>
#include <cmath>

namespace vornik {

class AudioEffect {
public:
    virtual ~AudioEffect() = default;

    // Sizes the unit for `sampleRate` and blocks of up to `maxBlock` frames, allocates all it
    // needs, clears its state and takes the current parameters without ramps.
    // Thread: main, while no render call runs.
    virtual void prepare(double sampleRate, int maxBlock) = 0;

    // Silences the unit's memory (filter state, delay lines). Never allocates, locks or waits.
    // Thread: main while no render runs; audio between blocks (the graph, as a unit goes idle)
    // and from the unit itself when its state has gone non-finite, so an overflow costs a
    // click, never lasting NaN.
    virtual void reset() = 0;

    // True when the unit would pass its input through unchanged and holds nothing that could
    // still be heard: the graph then skips it, and resets it once, so that it comes back from
    // a clean state. A unit leaves this state as soon as a parameter brings it back into the
    // path, and fades in from there. Thread: audio.
    virtual bool idle() const { return false; }

    // Below this level (-120 dB) what an idle unit still holds counts as silence.
    static constexpr float kSilence = 1e-6f;

    // Processes `frames` frames (any count; in place when out == in). Before prepare, copies.
    // Never allocates, locks or waits. Thread: audio.
    virtual void process(const float* inL, const float* inR, float* outL, float* outR,
                         int frames) = 0;
};

namespace dsp {

// A value moving linearly to its target over a fixed number of frames; exactly the target once
// there, so "fully dry" and "fully bypassed" can be tested for with ==.
class Ramp {
public:
    void snap(float v) {
        value_ = target_ = v;
        remaining_ = 0;
    }
    void setTarget(float t, int frames) {
        if (t == target_) return;
        target_ = t;
        if (frames <= 0) {
            snap(t);
            return;
        }
        remaining_ = frames;
        step_ = (target_ - value_) / static_cast<float>(frames);
    }
    float next() {
        if (remaining_ > 0) {
            value_ += step_;
            if (--remaining_ == 0) value_ = target_;
        }
        return value_;
    }
    bool settled() const { return remaining_ == 0; }
    float value() const { return value_; }
    float target() const { return target_; }

private:
    float value_ = 0.0f;
    float target_ = 0.0f;
    float step_ = 0.0f;
    int remaining_ = 0;
};

// A parameter as the audio thread may use it: inside [lo, hi], and `fallback` for NaN.
inline double clampParameter(double v, double lo, double hi, double fallback) {
    if (std::isnan(v)) return fallback;
    return std::clamp(v, lo, hi);
}

// One cheap test of a unit's state per block: the sum of a few values that every sample of its
// memory passes through. NaN or infinity anywhere there makes the sum non-finite.
template <class... T>
bool allFinite(T... values) {
    return std::isfinite((values + ...));
}

inline void copyIfApart(const float* in, float* out, int frames) {
    if (in != out) std::copy_n(in, frames, out);
}

}  // namespace dsp
}  // namespace vornik
