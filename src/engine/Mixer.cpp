#include "engine/Mixer.h"

#include <algorithm>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

namespace vornik {

namespace {

// The sample's index and fraction at a position. Truncation is toward zero: a position in
// (-1, 0) reads frame 0. One of -1 or below, one past any 32-bit index, and NaN land beyond the
// buffer and read its last frame. `edge` is set where no interpolation happens.
struct ReadPoint {
    std::uint32_t index;
    float t;
    bool edge;
};

inline ReadPoint locate(double position, std::uint32_t capacity) {
    std::uint32_t i = UINT32_MAX;
    if (position > -1.0 && position < 4294967296.0) i = static_cast<std::uint32_t>(position);
    if (i < 2 || std::uint64_t{i} + 2 >= capacity) {
        return {i > capacity - 1 ? capacity - 1 : i, 0.0f, true};
    }
    return {i, static_cast<float>(position - static_cast<double>(i)), false};
}

// 4-point, third-order Hermite (Catmull-Rom) around y[0], single precision.
inline float hermite(const float* y, float t) {
    const float ym1 = y[-1], y0 = y[0], y1 = y[1], y2 = y[2];
    const float c1 = 0.5f * (y1 - ym1);
    const float w = (y0 - y1) + c1;
    const float a = w + (y0 - y1) + 0.5f * (y2 - y0);
    const float b = w + a;
    return ((a * t - b) * t + c1) * t + y0;
}

inline float readAt(const float* plane, const ReadPoint& p) {
    return p.edge ? plane[p.index] : hermite(plane + p.index, p.t);
}

// Both channels at once. With SSE the two channels run in two lanes of one register through
// the very same single- and double-precision steps as the scalar code, so results are identical.
#if defined(__SSE2__)
using Stereo = __m128;  // lanes: left, right, -, -

inline Stereo stereoOf(float l, float r) { return _mm_setr_ps(l, r, 0.0f, 0.0f); }

// hermite() in every lane: the four frames around each lane's index, and its fraction.
inline __m128 hermiteLanes(__m128 ym1, __m128 y0, __m128 y1, __m128 y2, __m128 t) {
    const __m128 half = _mm_set1_ps(0.5f);
    const __m128 c1 = _mm_mul_ps(half, _mm_sub_ps(y1, ym1));
    const __m128 d = _mm_sub_ps(y0, y1);
    const __m128 w = _mm_add_ps(d, c1);
    const __m128 a = _mm_add_ps(_mm_add_ps(w, d), _mm_mul_ps(half, _mm_sub_ps(y2, y0)));
    const __m128 b = _mm_add_ps(w, a);
    __m128 res = _mm_sub_ps(_mm_mul_ps(a, t), b);
    res = _mm_add_ps(_mm_mul_ps(res, t), c1);
    return _mm_add_ps(_mm_mul_ps(res, t), y0);
}

inline Stereo hermiteStereo(const float* left, const float* right, float t) {
    const __m128 lv = _mm_loadu_ps(left - 1);   // l[-1] l[0] l[1] l[2]
    const __m128 rv = _mm_loadu_ps(right - 1);  // r[-1] r[0] r[1] r[2]
    const __m128 lo = _mm_unpacklo_ps(lv, rv);  // l[-1] r[-1] l[0] r[0]
    const __m128 hi = _mm_unpackhi_ps(lv, rv);  // l[1]  r[1]  l[2] r[2]
    return hermiteLanes(lo, _mm_movehl_ps(lo, lo), hi, _mm_movehl_ps(hi, hi), _mm_set1_ps(t));
}

// (1 - w) * main in double, narrowed; plus w * second in double, narrowed.
inline Stereo crossfade(Stereo main, Stereo second, double weight) {
    const __m128d first = _mm_mul_pd(_mm_set1_pd(1.0 - weight), _mm_cvtps_pd(main));
    const __m128d sum = _mm_add_pd(_mm_cvtps_pd(_mm_cvtpd_ps(first)),
                                   _mm_mul_pd(_mm_set1_pd(weight), _mm_cvtps_pd(second)));
    return _mm_cvtpd_ps(sum);
}

// Two heads' stereo reads in the four lanes of one register (main left, main right, second
// left, second right), then their crossfade: the same steps as two hermiteStereo() calls and
// crossfade(), at half the work.
inline __m128 hermiteTwoHeads(const SampleSnapshot& s, std::uint32_t i, float t, std::uint32_t j,
                              float u) {
    const __m128 lo1 = _mm_unpacklo_ps(_mm_loadu_ps(s.left + i - 1), _mm_loadu_ps(s.right + i - 1));
    const __m128 hi1 = _mm_unpackhi_ps(_mm_loadu_ps(s.left + i - 1), _mm_loadu_ps(s.right + i - 1));
    const __m128 lo2 = _mm_unpacklo_ps(_mm_loadu_ps(s.left + j - 1), _mm_loadu_ps(s.right + j - 1));
    const __m128 hi2 = _mm_unpackhi_ps(_mm_loadu_ps(s.left + j - 1), _mm_loadu_ps(s.right + j - 1));
    return hermiteLanes(_mm_movelh_ps(lo1, lo2), _mm_movehl_ps(lo2, lo1), _mm_movelh_ps(hi1, hi2),
                        _mm_movehl_ps(hi2, hi1), _mm_setr_ps(t, t, u, u));
}

inline Stereo readTwoHeads(const SampleSnapshot& s, double main, double second, double weight) {
    const ReadPoint p = locate(main, s.capacity);
    const ReadPoint q = locate(second, s.capacity);
    if (p.edge || q.edge) {
        const Stereo x = p.edge ? stereoOf(s.left[p.index], s.right[p.index])
                                : hermiteStereo(s.left + p.index, s.right + p.index, p.t);
        const Stereo y = q.edge ? stereoOf(s.left[q.index], s.right[q.index])
                                : hermiteStereo(s.left + q.index, s.right + q.index, q.t);
        return crossfade(x, y, weight);
    }
    const __m128 both = hermiteTwoHeads(s, p.index, p.t, q.index, q.t);
    return crossfade(both, _mm_movehl_ps(both, both), weight);
}

inline void mixInto(float& left, float& right, Stereo x, float g) {
    const __m128 y = _mm_mul_ps(x, _mm_set1_ps(g));
    left += _mm_cvtss_f32(y);
    right += _mm_cvtss_f32(_mm_shuffle_ps(y, y, 1));
}
#else
struct Stereo {
    float l, r;
};

inline Stereo stereoOf(float l, float r) { return {l, r}; }

inline Stereo hermiteStereo(const float* left, const float* right, float t) {
    return {hermite(left, t), hermite(right, t)};
}

inline float crossfade(float main, float second, double weight) {
    const float first = static_cast<float>((1.0 - weight) * static_cast<double>(main));
    return static_cast<float>(static_cast<double>(first) + weight * static_cast<double>(second));
}

inline Stereo crossfade(Stereo main, Stereo second, double weight) {
    return {crossfade(main.l, second.l, weight), crossfade(main.r, second.r, weight)};
}

inline void mixInto(float& left, float& right, Stereo x, float g) {
    left += x.l * g;
    right += x.r * g;
}
#endif

#if !defined(__SSE2__)
inline Stereo readStereo(const SampleSnapshot& s, double position);
inline Stereo readTwoHeads(const SampleSnapshot& s, double main, double second, double weight) {
    return crossfade(readStereo(s, main), readStereo(s, second), weight);
}
#endif

inline Stereo readStereo(const SampleSnapshot& s, double position) {
    const ReadPoint p = locate(position, s.capacity);
    if (p.edge) return stereoOf(s.left[p.index], s.right[p.index]);
    return hermiteStereo(s.left + p.index, s.right + p.index, p.t);
}

}  // namespace

float readSample(const float* plane, double position, std::uint32_t capacity) {
    return readAt(plane, locate(position, capacity));
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

// Each mode's frame loop keeps the heads and the envelope, which only the mixer moves while a
// voice plays, in locals for the call, and reads the fields the main thread steers (touch,
// fade, region, rate, gain) afresh at every frame.

void Mixer::renderSlicer(Playhead& v, const SampleSnapshot& s, EnvelopeSteps& steps, float* left,
                         float* right, int numFrames) {
    const std::uint32_t generation = v.generation();
    const double length = s.fileBufferLength;
    double pos = v.pos();
    double e = v.envelope();
    bool ended = false;
    for (int n = 0; n < numFrames; ++n) {
        const double frameEnd = v.frameEnd();
        const bool endZone = pos > frameEnd - kSlicerEndZone;
        e = steps.step(e, v.fadeOut() || endZone, v.touchid() != kNoTouch);
        if (e != 0.0) {
            const float g = gainOf(v, e);
            mixInto(left[n], right[n], readStereo(s, pos), g);
        }
        pos += v.rate();
        if (pos >= frameEnd) {
            ended = true;
            pos = v.frameStart();  // the rest of this call plays on from the slice's start
        } else if (pos >= length) {
            pos -= length;
            ended = true;
        } else if (pos <= 0.0) {
            pos += length;
        }
    }
    if (v.generation() != generation) return;  // started anew meanwhile: keep its new state
    v.setEnvelope(e);
    v.setPos(pos);
    if (ended) v.setActive(false);
}

void Mixer::renderTape(Playhead& v, const SampleSnapshot& s, EnvelopeSteps& steps, float* left,
                       float* right, int numFrames) {
    const std::uint32_t generation = v.generation();
    const double length = s.fileBufferLength;
    double pos = v.pos();
    double e = v.envelope();
    for (int n = 0; n < numFrames; ++n) {
        e = steps.step(e, v.fadeOut(), v.touchid() != kNoTouch);
        if (e != 0.0) {
            const float g = gainOf(v, e);
            mixInto(left[n], right[n], readStereo(s, pos), g);
        }
        const double rate = v.rate();
        pos += rate;
        if (pos >= length) {
            pos -= length;
        } else if (pos < 0.0 || (pos == 0.0 && rate != 0.0)) {
            // Arriving at exactly 0 moves to the end too; a tape standing at 0 stays there
            // rather than flipping between the first and the last frame every frame.
            pos += length;
        }
    }
    if (v.generation() != generation) return;
    v.setEnvelope(e);
    v.setPos(pos);
}

void Mixer::renderLooper(Playhead& v, const SampleSnapshot& s, EnvelopeSteps& steps, float* left,
                         float* right, int numFrames) {
    const std::uint32_t generation = v.generation();
    double pos = v.pos();
    double e = v.envelope();
    double second = v.looperPos();
    double cf = v.looperCrossfade();
    for (int n = 0; n < numFrames; ++n) {
        e = steps.step(e, v.fadeOut(), v.touchid() != kNoTouch);
        const double rate = v.rate();
        if (e != 0.0) {
            const float g = gainOf(v, e);
            Stereo x;
            if (cf == kLooperIdle) {
                x = readStereo(s, pos);
            } else {
                x = readTwoHeads(s, pos, second, cf);
                second += rate;
                cf += kLooperCrossfadeStep;
                if (cf > 1.0) {  // the handover: the second head becomes the main one
                    pos = second;
                    cf = kLooperIdle;
                }
            }
            mixInto(left[n], right[n], x, g);
        }
        pos += rate;
        if (cf == kLooperIdle) {
            const double frameStart = v.frameStart();
            if (pos > v.frameEnd() || pos < frameStart) {  // a crossfade back to the start
                second = frameStart;
                cf = 0.0;
            }
        }
    }
    if (v.generation() != generation) return;
    v.setEnvelope(e);
    v.setPos(pos);
    v.setLooperPos(second);
    v.setLooperCrossfade(cf);
}

void Mixer::renderBow(Playhead& v, const SampleSnapshot& s, EnvelopeSteps& steps, float* left,
                      float* right, int numFrames) {
    const std::uint32_t generation = v.generation();
    const double lead = kBowLeadSeconds * s.sampleRate;
    double pos = v.pos();
    double e = v.envelope();
    double second = v.bowPos();
    double ba = v.bowAmp();
    for (int n = 0; n < numFrames; ++n) {
        e = steps.step(e, v.fadeOut(), v.touchid() != kNoTouch);
        if (e != 0.0) {
            const float g = gainOf(v, e);
            mixInto(left[n], right[n], readTwoHeads(s, pos, second, ba), g);
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
    }
    if (v.generation() != generation) return;
    v.setEnvelope(e);
    v.setPos(pos);
    v.setBowPos(second);
    v.setBowAmp(ba);
}

}  // namespace vornik
