#pragma once
// One voice: a read position in the sample, its mode, gain, envelope, second read head and owner.
//
// Three parties share a record without locks: the touch handlers (main) start, steer and release
// it; the mixer (audio) moves its heads and envelope and ends slicer voices; the display update
// (main) frees it once its envelope has reached 0. Every field the audio thread sees is atomic on
// its own, with relaxed ordering, except `active`: a voice is started by writing every other
// field first and `active` last (release), and the mixer loads `active` with acquire, so a voice
// it sees active has its fields set. No step sets several fields as one.
//
// The display layers of a voice live beside the record, in the view, so that this record stays
// free of display types.

#include <atomic>
#include <cstdint>
#include <optional>

#include "base/Touch.h"

namespace vornik {

class Playhead {
public:
    static constexpr int kSlicer = 0;
    static constexpr int kLooper = 1;
    static constexpr int kBow = 2;
    static constexpr int kTape = 3;

    // Thread: any, for every accessor below.
    bool active() const { return active_.load(std::memory_order_acquire); }
    // Switching a voice on starts a new generation of it (see generation()).
    void setActive(bool v) {
        if (v) generation_.fetch_add(1, std::memory_order_relaxed);
        active_.store(v, std::memory_order_release);
    }
    // Counts how often the voice was switched on. The mixer keeps a voice's heads and envelope
    // in registers for one render call and writes them back only if the voice was not started
    // anew meanwhile, so a voice freed and started again during a call keeps its new values.
    std::uint32_t generation() const { return generation_.load(std::memory_order_acquire); }

    bool fadeOut() const { return fadeOut_.load(kRelaxed); }
    void setFadeOut(bool v) { fadeOut_.store(v, kRelaxed); }
    int mode() const { return mode_.load(kRelaxed); }
    void setMode(int v) { mode_.store(v, kRelaxed); }
    float amp() const { return amp_.load(kRelaxed); }
    void setAmp(float v) { amp_.store(v, kRelaxed); }
    // The finger that holds the voice; kNoTouch once it has lifted.
    TouchId touchid() const { return touchid_.load(kRelaxed); }
    void setTouchid(TouchId v) { touchid_.store(v, kRelaxed); }

    double pos() const { return pos_.load(kRelaxed); }
    void setPos(double v) { pos_.store(v, kRelaxed); }
    double frameStart() const { return frameStart_.load(kRelaxed); }
    void setFrameStart(double v) { frameStart_.store(v, kRelaxed); }
    double frameEnd() const { return frameEnd_.load(kRelaxed); }
    void setFrameEnd(double v) { frameEnd_.store(v, kRelaxed); }
    double rate() const { return rate_.load(kRelaxed); }
    void setRate(double v) { rate_.store(v, kRelaxed); }
    double looperPos() const { return looperPos_.load(kRelaxed); }
    void setLooperPos(double v) { looperPos_.store(v, kRelaxed); }
    double looperCrossfade() const { return looperCrossfade_.load(kRelaxed); }
    void setLooperCrossfade(double v) { looperCrossfade_.store(v, kRelaxed); }
    double bowPos() const { return bowPos_.load(kRelaxed); }
    void setBowPos(double v) { bowPos_.store(v, kRelaxed); }
    double bowAmp() const { return bowAmp_.load(kRelaxed); }
    void setBowAmp(double v) { bowAmp_.store(v, kRelaxed); }
    double envelope() const { return envelope_.load(kRelaxed); }
    void setEnvelope(double v) { envelope_.store(v, kRelaxed); }

    // Timed events, in the mixer's frames (Mixer::frameClock()), for notes that came with a
    // time: the voice sounds from `startFrame` on (0, or a frame already played: at once), and
    // once its finger has lifted it is still held until `releaseFrame`.
    std::uint64_t startFrame() const { return startFrame_.load(kRelaxed); }
    void setStartFrame(std::uint64_t v) { startFrame_.store(v, kRelaxed); }
    std::uint64_t releaseFrame() const { return releaseFrame_.load(kRelaxed); }
    void setReleaseFrame(std::uint64_t v) { releaseFrame_.store(v, kRelaxed); }

    // Looper: the fingers at the loop's start and end, as last seen. Thread: main only.
    std::optional<Touch> firstTouch;
    std::optional<Touch> secondTouch;

private:
    static constexpr auto kRelaxed = std::memory_order_relaxed;

    std::atomic<bool> active_{false};
    std::atomic<std::uint32_t> generation_{0};
    std::atomic<bool> fadeOut_{false};
    std::atomic<int> mode_{0};
    std::atomic<float> amp_{0.0f};
    std::atomic<TouchId> touchid_{kNoTouch};
    std::atomic<double> pos_{0.0};
    std::atomic<double> frameStart_{0.0};
    std::atomic<double> frameEnd_{0.0};
    std::atomic<double> rate_{0.0};
    std::atomic<double> looperPos_{0.0};
    std::atomic<double> looperCrossfade_{0.0};
    std::atomic<double> bowPos_{0.0};
    std::atomic<double> bowAmp_{0.0};
    std::atomic<double> envelope_{0.0};
    std::atomic<std::uint64_t> startFrame_{0};
    std::atomic<std::uint64_t> releaseFrame_{0};

    static_assert(std::atomic<double>::is_always_lock_free);
    static_assert(std::atomic<TouchId>::is_always_lock_free);
    static_assert(std::atomic<std::uint64_t>::is_always_lock_free);
};

}  // namespace vornik
