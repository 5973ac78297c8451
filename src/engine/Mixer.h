#pragma once
// The voice pool and the software mixer that renders it into the two output channels.

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>

#include "base/Constants.h"
#include "engine/MixKernels.h"
#include "engine/Playhead.h"
#include "engine/SampleBuffer.h"

namespace vornik {

using VoicePool = std::array<Playhead, kVoiceCount>;

// Reads one channel of the sample at a fractional frame: 4-point Hermite (Catmull-Rom) in
// single precision, a single stored frame within 2 frames of either end of the buffer, and the
// last frame for positions beyond it (a position of -1 or below included). Thread: any.
float readSample(const float* plane, double position, std::uint32_t capacity);

// How the mixer reads and mixes the sample: frame by frame, or four (SSE2), eight (AVX2) or
// sixteen (AVX-512) frames of one voice at a time. All give the same positions and envelopes,
// and the same mix within 1e-6 (for samples within +-1).
enum class MixPath { kScalar, kSse2, kAvx2, kAvx512 };

// Whether this machine can run `path`, and the fastest path it can. Thread: any.
bool mixPathAvailable(MixPath path);
MixPath fastestMixPath();

class Mixer {
public:
    // Per-output-frame constants at 48 kHz.
    static constexpr double kFastFadeStep = -200.0 / kOutputSampleRate;  // 5 ms from full level
    static constexpr double kSlicerEndZone = 0.005 * kOutputSampleRate;  // frames before the end
    static constexpr double kLooperCrossfadeStep = 200.0 / kOutputSampleRate;
    static constexpr double kLooperIdle = -1.0;
    static constexpr double kBowRampStep = 12.5 / kOutputSampleRate;  // a grain every 80 ms
    static constexpr double kBowLeadSeconds = 0.08;

    // Takes the fastest path the machine has, or the one VORNIK_MIX_PATH names (scalar, sse2,
    // avx2, avx512) when the machine can run it.
    Mixer();
    ~Mixer();
    Mixer(const Mixer&) = delete;
    Mixer& operator=(const Mixer&) = delete;

    // Clears both channels and adds every active voice into them. A voice's steering fields
    // (touch, fade, region, rate, gain) are read afresh for every run of kRunFrames frames.
    // Never allocates, locks, logs or waits. Thread: audio (one render call at a time).
    void renderAudio(float* left, float* right, int numFrames);

    // Frames rendered since the mixer was made: the clock of timed voice starts and releases
    // (Playhead::startFrame). Thread: any.
    std::uint64_t frameClock() const { return frameClock_.load(std::memory_order_acquire); }

    // Chooses the path; false (and no change) when the machine cannot run it. Thread: main,
    // while no render call runs.
    bool setPath(MixPath path);
    MixPath path() const { return path_; }

    VoicePool& playheads() { return playheads_; }
    const VoicePool& playheads() const { return playheads_; }
    SampleStore& sample() { return sample_; }
    const SampleStore& sample() const { return sample_; }

    // Envelope times in seconds, read by the mixer for every run of frames. Thread: any.
    double attack() const { return attack_.load(std::memory_order_relaxed); }
    void setAttack(double seconds) { attack_.store(seconds, std::memory_order_relaxed); }
    double decay() const { return decay_.load(std::memory_order_relaxed); }
    void setDecay(double seconds) { decay_.store(seconds, std::memory_order_relaxed); }

    // The largest run of frames planned at once; longer calls are mixed in runs of this size.
    static constexpr int kRunFrames = 64;

private:
    // Voices are planned and mixed kBatchVoices at a time; a batch's plans live in slots_.
    static constexpr int kBatchVoices = 8;
    struct Voice;
    struct Slot;

    void mixVoices(const SampleSnapshot& sample, float* left, float* right, int numFrames,
                   std::uint64_t clock);
    void mixRuns(Voice* voices, int count, const SampleSnapshot& sample, float* left,
                 float* right, int from, int numFrames, std::uint64_t clock);
    void planBatch(Voice* voices, int count, int frames);
    template <class Wrap>
    static double planFrom(Slot& sl, int from, int frames, double rate, Wrap wrap);
    void mixVoice(Voice& x, Slot& slot, const SampleSnapshot& s, float* left, float* right,
                  int frames);

    VoicePool playheads_;
    MixPath path_ = MixPath::kScalar;
    mix::Kernels kernels_ = mix::scalarKernels();
    std::unique_ptr<Slot[]> slots_;
    double rise_ = 0.0, release_ = 0.0;  // envelope steps per frame of the current run
    std::uint64_t runStart_ = 0;         // the current run's first frame on the clock
    std::atomic<std::uint64_t> frameClock_{0};
    SampleStore sample_;
    std::atomic<double> attack_{kDefaultAttack};
    std::atomic<double> decay_{kDefaultDecay};
};

}  // namespace vornik
