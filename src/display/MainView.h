#pragma once
// The instrument: the one public face of the sample, the voices, the audio graph and the strip's
// layers. It owns smaller parts and forwards to them. Thread: main, unless a call says otherwise.

#include "base/Constants.h"
#include "base/RunLoop.h"
#include "base/Touch.h"
#include "engine/Mixer.h"

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

private:
    RunLoop& runLoop_;
    Mixer mixer_;
    int playMode_ = 0;
    int transpose_ = 0;
    Point touchBarSize_{0.0, 0.0};
};

}  // namespace vornik
