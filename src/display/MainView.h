#pragma once
// The instrument: the one public face of the sample, the voices, the audio graph and the strip's
// layers. It owns smaller parts and forwards to them. Thread: main, unless a call says otherwise.

#include "base/Constants.h"
#include "base/RunLoop.h"
#include "base/Touch.h"
#include "engine/Mixer.h"
#include "sample/SampleLoader.h"
#include "sample/Slices.h"

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

    // ---- Sample and slices ----
    // Fades every playing voice out and loads `path` 10 ms later, once they are silent.
    void loadFile(const std::string& path);
    // The deferred half of loadFile: decodes the file, publishes it, redraws, and in slicer mode
    // rebuilds the slices. Called only by the work loadFile schedules.
    void actuallyLoadFile(const std::string& path);

    // The current sample, as the mixer reads it. Its planes stay valid until the next load.
    const SampleSnapshot& sample() const { return mixer_.sample().current(); }
    const float* fileBufferLeft() const { return sample().left; }
    const float* fileBufferRight() const { return sample().right; }
    std::uint32_t fileBufferLength() const { return sample().fileBufferLength; }
    // The open file: none before the first load and after a failed open (then all zeros).
    bool hasAudioFile() const { return sample().loaded; }
    std::int64_t audioFileLength() const { return sample().fileLength; }
    double audioFileSampleRate() const { return sample().sampleRate; }
    int audioFileChannelCount() const { return sample().channels; }

    void renderWaveform();
    void showSlices();

    // The slices: 0 or less none, 1 automatic detection, 2 or more equal slices.
    SliceList& slices() { return slices_; }
    int numSlices() const { return numSlices_; }
    // Stores the count; rebuilds the slices in slicer mode; refreshes the markers in every mode.
    void setNumSlices(int n);
    // Empties the list and fills it again as numSlices says.
    void createSlices();
    // Automatic detection, appended to the emptied list; only createSlices calls it.
    void findSlices();
    // The slice under x points across the strip, or null.
    Slice* getSliceAtPos(float x);

    // The strip's size is measured by the display update; tests set it here.
    void setTouchBarSize(Point size) { touchBarSize_ = size; }
    // Only stores the mode; entering a mode does more once touch handling arrives.
    void setPlayMode(int mode) { playMode_ = mode; }
    // ---- end of sample and slices ----

private:
    RunLoop& runLoop_;
    Mixer mixer_;
    int playMode_ = 0;
    int transpose_ = 0;
    Point touchBarSize_{0.0, 0.0};

    // ---- Sample and slices ----
    SampleLoader loader_{mixer_.sample()};
    SliceList slices_;
    int numSlices_ = 1;
    // ---- end of sample and slices ----
};

}  // namespace vornik
