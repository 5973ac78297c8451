#include "engine/Mixer.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <utility>

namespace vornik {

bool mixPathAvailable(MixPath path) {
    switch (path) {
        case MixPath::kScalar:
            return true;
#if defined(__x86_64__)
        case MixPath::kSse2:
            return true;
        case MixPath::kAvx2:
            return mix::cpuHas("avx2");
        case MixPath::kAvx512:
            return mix::cpuHas("avx2") && mix::cpuHas("avx512f");
#endif
        default:
            return false;
    }
}

MixPath fastestMixPath() {
    for (MixPath p : {MixPath::kAvx512, MixPath::kAvx2, MixPath::kSse2}) {
        if (mixPathAvailable(p)) return p;
    }
    return MixPath::kScalar;
}

bool Mixer::setPath(MixPath path) {
    if (!mixPathAvailable(path)) return false;
    path_ = path;
    switch (path) {
#if defined(__x86_64__)
        case MixPath::kAvx512:
            kernels_ = mix::avx512Kernels();
            break;
        case MixPath::kAvx2:
            kernels_ = mix::avx2Kernels();
            break;
        case MixPath::kSse2:
            kernels_ = mix::sse2Kernels();
            break;
#endif
        default:
            kernels_ = mix::scalarKernels();
            break;
    }
    return true;
}

// A voice taken for one render call: its heads and envelope live here until the call ends.
struct Mixer::Voice {
    Playhead* v;
    std::uint32_t generation;
    int mode;
    double pos, envelope, second, phase;  // phase: the looper's crossfade or the bow's ramp
    bool ended;
    int from;  // the call's first frame it sounds in
};

// One voice's plan for one run: where each frame reads, with what weight and gain.
struct Mixer::Slot {
    enum { kPos, kSecond, kWeight };
    alignas(32) double values[3][kRunFrames];  // the tracks' planned values, where planned
    alignas(32) double envelope[kRunFrames];   // up to the plateau, then it holds still
    alignas(32) float gain[kRunFrames];
    mix::Track track[3];
    int plateau;  // the envelope's first frame of rest (frames: none)
    // The steering fields, read once for the run.
    double rate, frameStart, frameEnd;
    float amp;
    bool fadeOut, held;
    bool crossfadeSums;  // a looper's crossfade planned as running sums (else frame by frame)

    double envelopeAt(int n) const { return envelope[n < plateau ? n : plateau]; }
    // The planned values of a track from here on, whatever form it had.
    double* write(int which, int frames) {
        mix::Track& t = track[which];
        if (!t.values) {
            for (int n = 0; n < frames; ++n) values[which][n] = t.at(n);
            t.values = values[which];
        }
        return values[which];
    }
    mix::Heads heads() const { return {track[kPos], track[kSecond], track[kWeight], gain}; }
};

Mixer::Mixer() : slots_(new Slot[kBatchVoices + 1]) {
    setPath(fastestMixPath());
    static constexpr std::pair<const char*, MixPath> kNames[] = {{"scalar", MixPath::kScalar},
                                                                 {"sse2", MixPath::kSse2},
                                                                 {"avx2", MixPath::kAvx2},
                                                                 {"avx512", MixPath::kAvx512}};
    if (const char* forced = std::getenv("VORNIK_MIX_PATH")) {
        for (const auto& [name, path] : kNames) {
            if (std::strcmp(forced, name) == 0) setPath(path);
        }
    }
}

Mixer::~Mixer() = default;

namespace {

// One envelope step; the fast fade wins over the touch state.
inline double envelopeStep(double e, bool fastFade, bool held, double rise, double release) {
    if (fastFade) {
        e += Mixer::kFastFadeStep;
        return e < 0.0 ? 0.0 : e;
    }
    if (!held) {
        e += release;
        return e < 0.0 ? 0.0 : e;
    }
    e += rise;
    return e > 1.0 ? 1.0 : e;
}

// The envelope over a run whose fade and touch state hold still: once a step leaves it where
// it was (at 1 held, at 0 released), it stays there. Writes it up to the first frame of that
// plateau, and returns that frame (or `frames`).
inline int planEnvelope(double& e, bool fastFade, bool held, double rise, double release,
                        double* env, int frames) {
    for (int n = 0; n < frames; ++n) {
        const double next = envelopeStep(e, fastFade, held, rise, release);
        env[n] = next;
        const bool still = next == e;
        e = next;
        if (still) return n;
    }
    return frames;
}

// amp x envelope in double, narrowed; 0 where the envelope is 0 (nothing is added there).
inline void planGains(float amp, const double* env, float* gain, int frames, int plateau) {
    const double a = amp;
    const int exact = std::min(plateau + 1, frames);
    for (int n = 0; n < exact; ++n) {
        gain[n] = env[n] != 0.0 ? static_cast<float>(a * env[n]) : 0.0f;
    }
    if (exact < frames) std::fill(gain + exact, gain + frames, gain[exact - 1]);
}

// A head or a crossfade phase that moves by the same step every frame of a run: the running
// sum value, value + step, ... exactly as the frame loop adds it.
struct Chain {
    double value, step;
    double* out;
    double* result;  // where the sum's end goes
};

// The step of a running sum p, p + r, (p + r) + r, ... over `frames` additions, when every sum
// stays inside the binade of p (one ulp u clear of the powers of two around it): each addition
// then rounds r to the same multiple R of u, so the k-th sum is exactly p + k R, and so is every
// product and sum of that formula. False where the sums leave the binade, where r lies exactly
// halfway between two multiples of u (ties round to even and the steps alternate), and for
// zero, subnormal, infinite or NaN values.
inline bool binadeStep(double p, double r, int frames, double& step) {
    const double a = std::fabs(p);
    if (!(a >= std::numeric_limits<double>::min() && a <= std::numeric_limits<double>::max())) {
        return false;
    }
    const double lo = std::bit_cast<double>(std::bit_cast<std::uint64_t>(a) & 0x7FF0000000000000u);
    const double u = lo * 0x1p-52;
    const double R = (p + r) - p;
    if (!(std::fabs(R) * frames < lo) || std::fabs(r - R) == 0.5 * u) return false;
    const double b = std::fabs(p + static_cast<double>(frames) * R);
    if (!(a >= lo + u && a <= 2.0 * lo - u && b >= lo + u && b <= 2.0 * lo - u)) return false;
    step = R;
    return true;
}

// Runs the chains eight (then four) at a time, so that their additions overlap instead of each
// waiting for the one before. `count` is a multiple of four (padded with spare chains).
void runChains(Chain* chains, int count, int frames) {
    int i = 0;
    for (; i + 8 <= count; i += 8) {
        Chain* c = chains + i;
        double v0 = c[0].value, v1 = c[1].value, v2 = c[2].value, v3 = c[3].value;
        double v4 = c[4].value, v5 = c[5].value, v6 = c[6].value, v7 = c[7].value;
        const double s0 = c[0].step, s1 = c[1].step, s2 = c[2].step, s3 = c[3].step;
        const double s4 = c[4].step, s5 = c[5].step, s6 = c[6].step, s7 = c[7].step;
        double *o0 = c[0].out, *o1 = c[1].out, *o2 = c[2].out, *o3 = c[3].out;
        double *o4 = c[4].out, *o5 = c[5].out, *o6 = c[6].out, *o7 = c[7].out;
        for (int n = 0; n < frames; ++n) {
            o0[n] = v0, o1[n] = v1, o2[n] = v2, o3[n] = v3;
            o4[n] = v4, o5[n] = v5, o6[n] = v6, o7[n] = v7;
            v0 += s0, v1 += s1, v2 += s2, v3 += s3;
            v4 += s4, v5 += s5, v6 += s6, v7 += s7;
        }
        c[0].value = v0, c[1].value = v1, c[2].value = v2, c[3].value = v3;
        c[4].value = v4, c[5].value = v5, c[6].value = v6, c[7].value = v7;
    }
    if (i < count) {
        Chain* c = chains + i;
        double v0 = c[0].value, v1 = c[1].value, v2 = c[2].value, v3 = c[3].value;
        const double s0 = c[0].step, s1 = c[1].step, s2 = c[2].step, s3 = c[3].step;
        double *o0 = c[0].out, *o1 = c[1].out, *o2 = c[2].out, *o3 = c[3].out;
        for (int n = 0; n < frames; ++n) {
            o0[n] = v0, o1[n] = v1, o2[n] = v2, o3[n] = v3;
            v0 += s0, v1 += s1, v2 += s2, v3 += s3;
        }
        c[0].value = v0, c[1].value = v1, c[2].value = v2, c[3].value = v3;
    }
}

// The first frame whose advance meets `event`, or `frames`. A chain's values only rise (or
// only fall), and every event is a bound crossed, so when neither the first nor the last
// advanced value meets it, none does.
template <class Event>
int firstEvent(const mix::Track& t, double last, int frames, Event event) {
    auto after = [&](int n) { return n + 1 < frames ? t.at(n + 1) : last; };
    if (!event(after(0)) && !event(last)) return frames;
    int n = 0;
    while (n < frames && !event(after(n))) ++n;
    return n;
}

}  // namespace

void Mixer::renderAudio(float* left, float* right, int numFrames) {
    if (numFrames <= 0) return;
    const std::uint64_t clock = frameClock_.load(std::memory_order_relaxed);
    std::fill_n(left, numFrames, 0.0f);
    std::fill_n(right, numFrames, 0.0f);
    const SampleSnapshot* sample = sample_.acquireForRender();
    if (sample->playable()) mixVoices(*sample, left, right, numFrames, clock);
    sample_.releaseFromRender();
    // After the voices' write-back: a reader that sees the clock past a voice's start frame
    // sees the envelope it was mixed to.
    frameClock_.store(clock + static_cast<std::uint64_t>(numFrames), std::memory_order_release);
}

void Mixer::mixVoices(const SampleSnapshot& sample, float* left, float* right, int numFrames,
                      std::uint64_t clock) {
    // `active` and `mode` are read once per call: a voice switched off during the call plays
    // to its end. Voices that start later in the call (a timed note) gather at the back of the
    // array and are mixed from their first frame; those due after the call wait untouched.
    constexpr int kAll = static_cast<int>(kVoiceCount);
    Voice voices[kAll];
    int count = 0, late = 0;
    for (Playhead& v : playheads_) {
        if (!v.active()) continue;
        const int mode = v.mode();
        if (mode < Playhead::kSlicer || mode > Playhead::kTape) continue;  // taken, silent
        const std::uint64_t start = v.startFrame();
        if (start >= clock + static_cast<std::uint64_t>(numFrames)) continue;
        Voice& x = start > clock ? voices[kAll - ++late] : voices[count++];
        x.v = &v;
        x.generation = v.generation();
        x.mode = mode;
        x.pos = v.pos();
        x.envelope = v.envelope();
        x.second = mode == Playhead::kBow ? v.bowPos() : v.looperPos();
        x.phase = mode == Playhead::kBow ? v.bowAmp() : v.looperCrossfade();
        x.ended = false;
        x.from = start > clock ? static_cast<int>(start - clock) : 0;
    }

    mixRuns(voices, count, sample, left, right, 0, numFrames, clock);
    for (int i = kAll - late; i < kAll; ++i) {
        mixRuns(voices + i, 1, sample, left, right, voices[i].from, numFrames, clock);
    }

    // The heads and envelope go back unless the voice was started anew meanwhile.
    auto keep = [](const Voice& x) {
        Playhead& v = *x.v;
        if (v.generation() != x.generation) return;
        v.setEnvelope(x.envelope);
        v.setPos(x.pos);
        if (x.mode == Playhead::kLooper) {
            v.setLooperPos(x.second);
            v.setLooperCrossfade(x.phase);
        } else if (x.mode == Playhead::kBow) {
            v.setBowPos(x.second);
            v.setBowAmp(x.phase);
        } else if (x.ended) {
            v.setActive(false);
        }
    };
    std::for_each(voices, voices + count, keep);
    std::for_each(voices + kAll - late, voices + kAll, keep);
}

// Mixes `count` voices over frames [from, numFrames) of the call, in runs of kRunFrames.
void Mixer::mixRuns(Voice* voices, int count, const SampleSnapshot& sample, float* left,
                    float* right, int from, int numFrames, std::uint64_t clock) {
    double attack = -1.0, decay = -1.0;
    for (int done = from; done < numFrames && count > 0; done += kRunFrames) {
        const int frames = std::min(kRunFrames, numFrames - done);
        const double a = attack_.load(std::memory_order_relaxed);
        const double d = decay_.load(std::memory_order_relaxed);
        if (a != attack) rise_ = (1.0 / (attack = a)) / kOutputSampleRate;
        if (d != decay) release_ = (-1.0 / (decay = d)) / kOutputSampleRate;
        runStart_ = clock + static_cast<std::uint64_t>(done);
        // Voices are added in index order, so each frame sums them as the frame loop did.
        for (int b = 0; b < count; b += kBatchVoices) {
            const int k = std::min(kBatchVoices, count - b);
            planBatch(voices + b, k, frames);
            for (int i = 0; i < k; ++i) {
                mixVoice(voices[b + i], slots_[i], sample, left + done, right + done, frames);
            }
        }
    }
}

// Reads the steering fields, plans the envelopes (but the slicer's, which needs its positions)
// and runs every head and phase of the batch as running sums, as if no event happened.
void Mixer::planBatch(Voice* voices, int count, int frames) {
    Chain chains[3 * kBatchVoices + 8];
    int used = 0;
    // A running sum over the run, ending in `value`: as a formula where it stays in one
    // binade, else run with the others.
    auto sum = [&](double& value, double step, Slot& sl, int which) {
        double r;
        if (binadeStep(value, step, frames, r)) {
            sl.track[which] = {nullptr, value, r};
            value += static_cast<double>(frames) * r;
        } else {
            sl.track[which] = {sl.values[which], 0.0, 0.0};
            chains[used++] = {value, step, sl.values[which], &value};
        }
    };
    for (int i = 0; i < count; ++i) {
        Voice& x = voices[i];
        Slot& sl = slots_[i];
        Playhead& v = *x.v;
        sl.fadeOut = v.fadeOut();
        sl.held = v.touchid() != kNoTouch || runStart_ < v.releaseFrame();
        sl.rate = v.rate();
        sl.frameStart = v.frameStart();
        sl.frameEnd = v.frameEnd();
        sl.amp = v.amp();
        sl.crossfadeSums = false;
        sl.track[Slot::kSecond] = mix::Track{nullptr, 0.0, 0.0};
        sl.track[Slot::kWeight] = mix::Track{nullptr, 0.0, 0.0};
        bool silent = false;
        if (x.mode != Playhead::kSlicer) {
            sl.plateau =
                planEnvelope(x.envelope, sl.fadeOut, sl.held, rise_, release_, sl.envelope, frames);
            planGains(sl.amp, sl.envelope, sl.gain, frames, sl.plateau);
            silent = x.envelope == 0.0 || sl.envelope[0] == 0.0;  // it only rises or falls
        }
        sum(x.pos, sl.rate, sl, Slot::kPos);
        if (x.mode == Playhead::kBow) {
            sum(x.second, sl.rate, sl, Slot::kSecond);
            sum(x.phase, kBowRampStep, sl, Slot::kWeight);
        } else if (x.mode == Playhead::kLooper && x.phase != kLooperIdle && !silent) {
            sl.crossfadeSums = true;
            sum(x.second, sl.rate, sl, Slot::kSecond);
            sum(x.phase, kLooperCrossfadeStep, sl, Slot::kWeight);
        }
    }
    // Spare chains up to a multiple of four, written into a spare slot.
    double spare = 0.0;
    while (used % 4 != 0) chains[used++] = {0.0, 0.0, slots_[kBatchVoices].values[0], &spare};
    runChains(chains, used, frames);
    // Where the heads end unless an event comes.
    for (int i = 0; i < used; ++i) *chains[i].result = chains[i].value;
}

// The head's positions from frame `from` of the run on, each the last plus `rate` and then
// `wrap`ped; returns where the head ends.
template <class Wrap>
double Mixer::planFrom(Slot& sl, int from, int frames, double rate, Wrap wrap) {
    double* pos = sl.write(Slot::kPos, frames);
    double p = pos[from];
    for (int n = from; n < frames; ++n) {
        pos[n] = p;
        p = wrap(p + rate);
    }
    return p;
}

// Finds the run's first event, plans from there frame by frame with exactly the steps of the
// mode, then reads and mixes.
void Mixer::mixVoice(Voice& x, Slot& sl, const SampleSnapshot& s, float* left, float* right,
                     int frames) {
    const double rate = sl.rate;
    switch (x.mode) {
        case Playhead::kSlicer: {
            const double frameStart = sl.frameStart, frameEnd = sl.frameEnd;
            const double length = s.fileBufferLength;
            const int from = firstEvent(sl.track[Slot::kPos], x.pos, frames, [&](double p) {
                return p >= frameEnd || p >= length || p <= 0.0;
            });
            if (from < frames) {
                x.pos = planFrom(sl, from, frames, rate, [&](double p) {
                    if (p >= frameEnd) {
                        x.ended = true;
                        return frameStart;  // the rest of this call plays on from the slice's start
                    }
                    if (p >= length) {
                        x.ended = true;
                        return p - length;
                    }
                    return p <= 0.0 ? p + length : p;
                });
            }
            // The fast fade near the slice's end, frame by frame where the run reaches it.
            // Without an event the positions only rise or fall: their ends tell.
            const mix::Track& pos = sl.track[Slot::kPos];
            const double zone = frameEnd - kSlicerEndZone;
            bool inZone = pos.at(0) > zone || pos.at(frames - 1) > zone;
            for (int n = 0; n < frames && from < frames && !inZone; ++n) inZone = pos.at(n) > zone;
            if (inZone && !sl.fadeOut) {
                double e = x.envelope;
                for (int n = 0; n < frames; ++n) {
                    e = envelopeStep(e, pos.at(n) > zone, sl.held, rise_, release_);
                    sl.envelope[n] = e;
                }
                x.envelope = e;
                planGains(sl.amp, sl.envelope, sl.gain, frames, frames);
            } else {
                sl.plateau = planEnvelope(x.envelope, sl.fadeOut, sl.held, rise_, release_,
                                          sl.envelope, frames);
                planGains(sl.amp, sl.envelope, sl.gain, frames, sl.plateau);
            }
            kernels_.oneHead(s, sl.heads(), left, right, frames);
            break;
        }
        case Playhead::kTape: {
            const double length = s.fileBufferLength;
            const int from = firstEvent(sl.track[Slot::kPos], x.pos, frames, [&](double p) {
                return p >= length || p < 0.0 || (p == 0.0 && rate != 0.0);
            });
            if (from < frames) {
                x.pos = planFrom(sl, from, frames, rate, [&](double p) {
                    if (p >= length) return p - length;
                    // Arriving at exactly 0 moves to the end too; a tape standing at 0 stays
                    // there rather than flipping between the first and last frame.
                    return p < 0.0 || (p == 0.0 && rate != 0.0) ? p + length : p;
                });
            }
            kernels_.oneHead(s, sl.heads(), left, right, frames);
            break;
        }
        case Playhead::kLooper: {
            const double frameStart = sl.frameStart, frameEnd = sl.frameEnd;
            // Where the running sums hold: up to the crossfade's end, or to the head leaving
            // the loop; a crossfade in a run that falls silent goes frame by frame throughout.
            int from = 0;
            if (sl.crossfadeSums) {
                from = firstEvent(sl.track[Slot::kWeight], x.phase, frames,
                                  [](double c) { return c > 1.0; });
            } else if (x.phase == kLooperIdle) {
                from = firstEvent(sl.track[Slot::kPos], x.pos, frames,
                                  [&](double p) { return p > frameEnd || p < frameStart; });
            }
            if (from == frames) {
                (sl.crossfadeSums ? kernels_.twoHeads : kernels_.oneHead)(s, sl.heads(), left,
                                                                          right, frames);
                break;
            }
            // A run with a crossfade in part of it plays two heads throughout: frames without
            // one read the main head twice, at weight 0.
            double* pos = sl.write(Slot::kPos, frames);
            double* second = sl.write(Slot::kSecond, frames);
            double* weight = sl.write(Slot::kWeight, frames);
            if (!sl.crossfadeSums) {
                std::copy_n(pos, from, second);
                std::fill_n(weight, from, 0.0);
            }
            double p = pos[from];
            double q = sl.crossfadeSums ? second[from] : x.second;
            double cf = sl.crossfadeSums ? weight[from] : x.phase;
            for (int n = from; n < frames; ++n) {
                pos[n] = second[n] = p;
                weight[n] = 0.0;
                // A crossfade moves only in frames that sound.
                if (sl.envelopeAt(n) != 0.0 && cf != kLooperIdle) {
                    second[n] = q;
                    weight[n] = cf;
                    q += rate;
                    cf += kLooperCrossfadeStep;
                    if (cf > 1.0) {  // the handover: the second head becomes the main one
                        p = q;
                        cf = kLooperIdle;
                    }
                }
                p += rate;
                if (cf == kLooperIdle && (p > frameEnd || p < frameStart)) {
                    q = frameStart;  // a crossfade back to the start
                    cf = 0.0;
                }
            }
            x.pos = p, x.second = q, x.phase = cf;
            kernels_.twoHeads(s, sl.heads(), left, right, frames);
            break;
        }
        case Playhead::kBow: {
            const int from = firstEvent(sl.track[Slot::kWeight], x.phase, frames,
                                        [](double b) { return b > 1.0; });
            if (from < frames) {
                const double lead = kBowLeadSeconds * s.sampleRate;
                double* pos = sl.write(Slot::kPos, frames);
                double* second = sl.write(Slot::kSecond, frames);
                double* weight = sl.write(Slot::kWeight, frames);
                double p = pos[from], q = second[from], ba = weight[from];
                for (int n = from; n < frames; ++n) {
                    pos[n] = p;
                    second[n] = q;
                    weight[n] = ba;
                    p += rate;
                    q += rate;
                    ba += kBowRampStep;
                    if (ba > 1.0) {  // handover: the second head becomes the main one
                        ba -= 1.0;
                        p = q;
                        q = sl.frameStart - lead;  // and a new grain starts
                    }
                }
                x.pos = p, x.second = q, x.phase = ba;
            }
            kernels_.twoHeads(s, sl.heads(), left, right, frames);
            break;
        }
        default:
            break;
    }
}

}  // namespace vornik
