#pragma once
// The instrument: the one public face of the sample, the voices, the audio graph and the strip's
// layers. It owns smaller parts and forwards to them. Thread: main, unless a call says otherwise.

#include <atomic>
#include <filesystem>
#include <memory>

#include "base/Constants.h"
#include "base/RunLoop.h"
#include "base/Touch.h"
#include "display/Layer.h"
#include "engine/Mixer.h"
#include "sample/Recorder.h"

namespace vornik {

class MainView {
public:
    explicit MainView(RunLoop& runLoop);
    MainView(const MainView&) = delete;
    MainView& operator=(const MainView&) = delete;

    RunLoop& runLoop() const { return runLoop_; }

    // The sound engine. renderAudio is the audio thread's entry point.
    Mixer& mixer() { return mixer_; }
    VoicePool& playheads() { return mixer_.playheads(); }
    void renderAudio(float* left, float* right, int numFrames) {  // Thread: audio
        mixer_.renderAudio(left, right, numFrames);
    }

    // Playback parameters.
    int playMode() const { return playMode_; }
    double attack() const { return mixer_.attack(); }
    void setAttack(double seconds);
    double decay() const { return mixer_.decay(); }
    void setDecay(double seconds);
    int transpose() const { return transpose_; }
    void setTranspose(int semitones) { transpose_ = semitones; }

    // The strip's measured size in points; (0, 0) until the first display frame.
    Point touchBarSize() const { return touchBarSize_; }

    // The view's backing layer: the root of everything the instrument shows on the strip. Its
    // bounds are the strip's size in points; the host sets them and renders this tree.
    const LayerPtr& layer() const { return layer_; }

    // --- Recording from the audio input -----------------------------------------------------
    // The recorder, made with the view (nothing opens before the first recording). Tests and the
    // headless renderer swap in one over a file source; a recording in progress in the old one
    // is finished first.
    Recorder& recorder() { return *recorder_; }
    void setRecorder(std::unique_ptr<Recorder> recorder);
    // Where "recording.wav" lives: the documents directory, unless the recorder says otherwise.
    std::filesystem::path recordURL() const { return recorder_->url(); }
    // True from recordingStart to recordingEnd, even when the recorder could not start.
    // Thread: any (read by the display update and the keys).
    bool recording() const { return recording_.load(std::memory_order_relaxed); }
    void setRecording(bool on) { recording_.store(on, std::memory_order_relaxed); }
    // Starts recording; a device that cannot be prepared or started is logged, and the state is
    // recording all the same.
    void recordingStart();
    // Stops recording; returns once "recording.wav" is complete and closed. A second end stops
    // nothing.
    void recordingEnd();

private:
    RunLoop& runLoop_;
    Mixer mixer_;
    int playMode_ = 0;
    int transpose_ = 0;
    Point touchBarSize_{0.0, 0.0};
    LayerPtr layer_ = Layer::create();

    std::unique_ptr<Recorder> recorder_ = std::make_unique<Recorder>();
    std::atomic<bool> recording_{false};
};

}  // namespace vornik
