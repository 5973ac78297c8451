#include "engine/Mixer.h"

#include <algorithm>

namespace vornik {

float readSample(const float* plane, double position, std::uint32_t capacity) {
    // Truncate toward zero: a position in (-1, 0) reads frame 0. One of -1 or below, one past
    // any 32-bit index, and NaN land beyond the buffer and read its last frame.
    std::uint32_t i = UINT32_MAX;
    if (position > -1.0 && position < 4294967296.0) {
        i = static_cast<std::uint32_t>(position);
    }
    if (i < 2 || std::uint64_t{i} + 2 >= capacity) {
        return i > capacity - 1 ? plane[capacity - 1] : plane[i];
    }
    const float t = static_cast<float>(position - static_cast<double>(i));
    const float ym1 = plane[i - 1];
    const float y0 = plane[i];
    const float y1 = plane[i + 1];
    const float y2 = plane[i + 2];
    const float c1 = 0.5f * (y1 - ym1);
    const float w = (y0 - y1) + c1;
    const float a = w + (y0 - y1) + 0.5f * (y2 - y0);
    const float b = w + a;
    return ((a * t - b) * t + c1) * t + y0;
}

// The attack and release slopes per output frame. `attack` and `decay` are read at every frame,
// but the divisions are redone only when a value has changed.
class Mixer::EnvelopeSteps {
public:
    explicit EnvelopeSteps(const Mixer& m) : mixer_(m) {}

    // One envelope step; the fast fade wins over the touch state.
    double step(double e, bool fastFade, bool held) {
        if (fastFade) {
            e += kFastFadeStep;
            return e < 0.0 ? 0.0 : e;
        }
        if (!held) {
            const double decay = mixer_.decay_.load(std::memory_order_relaxed);
            if (decay != decay_) {
                decay_ = decay;
                release_ = (-1.0 / decay) / kOutputSampleRate;
            }
            e += release_;
            return e < 0.0 ? 0.0 : e;
        }
        const double attack = mixer_.attack_.load(std::memory_order_relaxed);
        if (attack != attack_) {
            attack_ = attack;
            rise_ = (1.0 / attack) / kOutputSampleRate;
        }
        e += rise_;
        return e > 1.0 ? 1.0 : e;
    }

private:
    const Mixer& mixer_;
    double attack_ = -1.0, rise_ = 0.0;
    double decay_ = -1.0, release_ = 0.0;
};

namespace {

// The voice's gain for one frame: amp times envelope in double, narrowed to float.
inline float gainOf(const Playhead& v, double envelope) {
    return static_cast<float>(static_cast<double>(v.amp()) * envelope);
}

// Weighted sum of two heads: the first product and the sum in double, each narrowed to float.
inline float crossfade(float main, float second, double weight) {
    const float first = static_cast<float>((1.0 - weight) * static_cast<double>(main));
    return static_cast<float>(static_cast<double>(first) + weight * static_cast<double>(second));
}

}  // namespace

void Mixer::renderAudio(float* left, float* right, int numFrames) {
    if (numFrames <= 0) return;
    std::fill_n(left, numFrames, 0.0f);
    std::fill_n(right, numFrames, 0.0f);

    const SampleSnapshot* sample = sample_.acquireForRender();
    if (sample->playable()) {
        EnvelopeSteps steps(*this);
        for (Playhead& v : playheads_) {
            if (!v.active()) continue;
            switch (v.mode()) {
                case Playhead::kSlicer:
                    renderSlicer(v, *sample, steps, left, right, numFrames);
                    break;
                case Playhead::kLooper:
                    renderLooper(v, *sample, steps, left, right, numFrames);
                    break;
                case Playhead::kBow:
                    renderBow(v, *sample, steps, left, right, numFrames);
                    break;
                case Playhead::kTape:
                    renderTape(v, *sample, steps, left, right, numFrames);
                    break;
                default:
                    break;  // not a mode: the voice stays taken but plays nothing
            }
        }
    }
    sample_.releaseFromRender();
}

void Mixer::renderSlicer(Playhead& v, const SampleSnapshot& s, EnvelopeSteps& steps, float* left,
                         float* right, int numFrames) {
    const double length = s.fileBufferLength;
    for (int n = 0; n < numFrames; ++n) {
        double pos = v.pos();
        const double frameEnd = v.frameEnd();
        const bool endZone = pos > frameEnd - kSlicerEndZone;
        const double e = steps.step(v.envelope(), v.fadeOut() || endZone, v.touchid() != kNoTouch);
        v.setEnvelope(e);
        if (e != 0.0) {
            const float g = gainOf(v, e);
            left[n] += readSample(s.left, pos, s.capacity) * g;
            right[n] += readSample(s.right, pos, s.capacity) * g;
        }
        pos += v.rate();
        if (pos >= frameEnd) {
            v.setActive(false);
            pos = v.frameStart();  // the rest of this call plays on from the slice's start
        } else if (pos >= length) {
            pos -= length;
            v.setActive(false);
        } else if (pos <= 0.0) {
            pos += length;
        }
        v.setPos(pos);
    }
}

void Mixer::renderTape(Playhead& v, const SampleSnapshot& s, EnvelopeSteps& steps, float* left,
                       float* right, int numFrames) {
    const double length = s.fileBufferLength;
    for (int n = 0; n < numFrames; ++n) {
        double pos = v.pos();
        const double e = steps.step(v.envelope(), v.fadeOut(), v.touchid() != kNoTouch);
        v.setEnvelope(e);
        if (e != 0.0) {
            const float g = gainOf(v, e);
            left[n] += readSample(s.left, pos, s.capacity) * g;
            right[n] += readSample(s.right, pos, s.capacity) * g;
        }
        pos += v.rate();
        if (pos >= length) {
            pos -= length;
        } else if (pos <= 0.0) {
            pos += length;  // an exact 0 is moved to the end too
        }
        v.setPos(pos);
    }
}

void Mixer::renderLooper(Playhead& v, const SampleSnapshot& s, EnvelopeSteps& steps, float* left,
                         float* right, int numFrames) {
    for (int n = 0; n < numFrames; ++n) {
        const double e = steps.step(v.envelope(), v.fadeOut(), v.touchid() != kNoTouch);
        v.setEnvelope(e);
        double cf = v.looperCrossfade();
        if (e != 0.0) {
            const float g = gainOf(v, e);
            const double pos = v.pos();
            float l = readSample(s.left, pos, s.capacity);
            float r = readSample(s.right, pos, s.capacity);
            if (cf != kLooperIdle) {
                const double second = v.looperPos();
                l = crossfade(l, readSample(s.left, second, s.capacity), cf);
                r = crossfade(r, readSample(s.right, second, s.capacity), cf);
                const double nextSecond = second + v.rate();
                v.setLooperPos(nextSecond);
                cf += kLooperCrossfadeStep;
                if (cf > 1.0) {  // the handover: the second head becomes the main one
                    v.setPos(nextSecond);
                    cf = kLooperIdle;
                }
                v.setLooperCrossfade(cf);
            }
            left[n] += l * g;
            right[n] += r * g;
        }
        const double pos = v.pos() + v.rate();
        v.setPos(pos);
        if ((pos > v.frameEnd() || pos < v.frameStart()) && cf == kLooperIdle) {
            v.setLooperPos(v.frameStart());
            v.setLooperCrossfade(0.0);
        }
    }
}

void Mixer::renderBow(Playhead& v, const SampleSnapshot& s, EnvelopeSteps& steps, float* left,
                      float* right, int numFrames) {
    const double lead = kBowLeadSeconds * s.sampleRate;
    for (int n = 0; n < numFrames; ++n) {
        const double e = steps.step(v.envelope(), v.fadeOut(), v.touchid() != kNoTouch);
        v.setEnvelope(e);
        double pos = v.pos();
        double second = v.bowPos();
        double ba = v.bowAmp();
        if (e != 0.0) {
            const float g = gainOf(v, e);
            const float l = crossfade(readSample(s.left, pos, s.capacity),
                                      readSample(s.left, second, s.capacity), ba);
            const float r = crossfade(readSample(s.right, pos, s.capacity),
                                      readSample(s.right, second, s.capacity), ba);
            left[n] += l * g;
            right[n] += r * g;
        }
        const double rate = v.rate();
        pos += rate;
        second += rate;
        ba += kBowRampStep;
        if (ba > 1.0) {  // handover: the second head becomes the main one, a new grain starts
            ba -= 1.0;
            pos = second;
            second = v.frameStart() - lead;
        }
        v.setPos(pos);
        v.setBowPos(second);
        v.setBowAmp(ba);
    }
}

}  // namespace vornik
