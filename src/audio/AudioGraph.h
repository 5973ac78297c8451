#pragma once
// The output graph: a source (the mixer) -> low-pass -> high-pass -> delay -> reverb -> main mix,
// 48 kHz stereo planar float, pulled in 64-frame blocks. The oscilloscope taps the main mix, and
// so may one listener (the output recorder).
//
// Nothing here knows about a device: the sound device's callback pulls render(), and so do the
// tests and the headless renderer, directly. One caller renders at a time.

#include <atomic>
#include <cstdint>

#include "audio/DelayUnit.h"
#include "audio/EqUnit.h"
#include "audio/OscilloscopeTap.h"
#include "audio/ReverbUnit.h"
#include "base/Constants.h"

namespace vornik {

// Hears every block of the final mix right after it is rendered, whichever device pulls the
// graph. It must not allocate, lock, log, wait or do I/O. Thread: audio.
class MixListener {
public:
    virtual void mixRendered(const float* left, const float* right, int frames) noexcept = 0;

protected:
    ~MixListener() = default;
};

class AudioGraph {
public:
    static constexpr int kBlockFrames = kRequestedBlockFrames;

    // Fills `frames` frames of both planes. Called on the audio thread.
    using RenderFunction = void (*)(void* context, float* left, float* right, int frames);

    AudioGraph() = default;
    AudioGraph(const AudioGraph&) = delete;
    AudioGraph& operator=(const AudioGraph&) = delete;

    // The source node. Thread: main, before rendering starts.
    void setSource(RenderFunction render, void* context);
    template <class T>
    void setSource(T& renderer) {
        setSource(
            [](void* c, float* l, float* r, int n) { static_cast<T*>(c)->renderAudio(l, r, n); },
            &renderer);
    }

    // Sizes every unit for the rate and takes their settings as they stand. Allocates.
    // Thread: main, while nothing renders.
    void prepare(double sampleRate = kOutputSampleRate);
    bool isPrepared() const { return sampleRate_ > 0.0; }
    double sampleRate() const { return sampleRate_; }

    // Pulls the graph for `frames` frames into two planes, in blocks of kBlockFrames, with
    // denormals flushed (the caller's floating-point mode is restored). Silence before prepare.
    // Never allocates, locks or waits. Thread: audio (the device callback), or one caller
    // without a device.
    void render(float* left, float* right, int frames);

    // Frames the source has been pulled for: the mixer's frame clock, for a device that times
    // events against it. Thread: any.
    std::uint64_t framesRendered() const { return frames_.load(std::memory_order_relaxed); }

    // The units, for their parameters (any thread) and settings. Main mix: unity gain.
    EqUnit& lowpass() { return lowpass_; }
    EqUnit& highpass() { return highpass_; }
    DelayUnit& delay() { return delay_; }
    ReverbUnit& reverb() { return reverb_; }
    const EqUnit& lowpass() const { return lowpass_; }
    const EqUnit& highpass() const { return highpass_; }
    const DelayUnit& delay() const { return delay_; }
    const ReverbUnit& reverb() const { return reverb_; }

    // The oscilloscope's captures of the main mix. take(): main thread.
    OscilloscopeTap& oscilloscope() { return tap_; }

    // The one listener to the final mix, or null. It must outlive every render that may see it.
    // Thread: main.
    void setMixListener(MixListener* listener) {
        listener_.store(listener, std::memory_order_release);
    }

private:
    void renderBlock(float* left, float* right, int frames);
    // Runs a unit on the block, or skips it while it is idle (resetting it as it goes idle).
    void run(AudioEffect& unit, bool& idle, float* left, float* right, int frames);

    RenderFunction source_ = nullptr;
    void* sourceContext_ = nullptr;
    double sampleRate_ = 0.0;
    EqUnit lowpass_;
    EqUnit highpass_;
    DelayUnit delay_;
    ReverbUnit reverb_;
    bool lowpassIdle_ = false, highpassIdle_ = false, delayIdle_ = false, reverbIdle_ = false;
    OscilloscopeTap tap_;
    std::atomic<MixListener*> listener_{nullptr};
    std::atomic<std::uint64_t> frames_{0};
};

}  // namespace vornik
