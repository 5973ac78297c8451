#pragma once
// The instrument: the one public face of the sample, the voices, the audio graph and the strip's
// layers. It owns smaller parts (the mixer with the voice pool and the sample store, the audio
// graph and device, the loader, the slice list, the recorder) and forwards to them.
// Thread: main, unless a call says otherwise. Members are defined by subsystem: MainView.cpp
// (construction, parameters, audio, loading, slices, recording), MainViewWaveform.cpp,
// MainViewSlices.cpp, MainViewUpdate.cpp (display) and src/performance/ (touches, play modes).

#include <array>
#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "audio/AudioGraph.h"
#include "audio/OutputDevice.h"
#include "base/Constants.h"
#include "base/RunLoop.h"
#include "base/Touch.h"
#include "display/Layer.h"
#include "engine/Mixer.h"
#include "performance/TouchEvent.h"
#include "sample/OutputRecorder.h"
#include "sample/Recorder.h"
#include "sample/SampleLoader.h"
#include "sample/Slices.h"

namespace vornik {

class MainView {
public:
    enum class AudioOutput { kNone, kDevice };

    // Builds the state and the layer tree; the audio engine starts with initAudioEngine.
    explicit MainView(RunLoop& runLoop);
    ~MainView();
    MainView(const MainView&) = delete;
    MainView& operator=(const MainView&) = delete;

    RunLoop& runLoop() const { return runLoop_; }

    // --- Sound engine --------------------------------------------------------------------------
    Mixer& mixer() { return mixer_; }
    VoicePool& playheads() { return mixer_.playheads(); }
    // The mixer alone, as the graph's source pulls it. Thread: audio.
    void renderAudio(float* left, float* right, int numFrames) {
        mixer_.renderAudio(left, right, numFrames);
    }

    // --- Playback parameters -------------------------------------------------------------------
    int playMode() const { return playMode_; }
    // Stores the mode, schedules or cancels the looper hint, redraws the waveform, and in
    // slicer mode rebuilds and shows the slices. Playing voices keep their mode.
    void setPlayMode(int mode);
    double attack() const { return mixer_.attack(); }
    void setAttack(double seconds);
    double decay() const { return mixer_.decay(); }
    void setDecay(double seconds);
    int transpose() const { return transpose_; }
    void setTranspose(int semitones) { transpose_ = semitones; }
    // File frames per output frame for a new voice: (file rate / 48 kHz) x 2^(transpose / 12);
    // 0 with no file loaded.
    double getCurrentFilePlaybackRate() const;

    // --- Audio graph, effects and sound device -------------------------------------------------
    // Builds the output graph with its initial settings and makes it ready to render; opens the
    // sound device when `output` is kDevice (tests and the headless renderer run without one and
    // pull renderOutput). Once.
    void initAudioEngine(AudioOutput output = AudioOutput::kNone);
    // Opens the sound device on the graph (SDL audio, asked for `bufferFrames`, unless one was
    // set); a device that cannot open is logged.
    void startAudioDevice(int bufferFrames = kRequestedBlockFrames);
    // Replaces the sound device: the old one is closed first, the new one opened on the graph
    // (prepared before); null leaves the instrument without one. Returns whether it opened.
    bool setAudioDevice(std::unique_ptr<OutputDevice> device);
    OutputDevice* audioDevice() const { return audioDevice_.get(); }
    // The default output went away or changed: close and reopen the device, same graph and
    // settings (the app calls it on SDL's audio device added/removed events).
    void audioHardwareRouteChanged();
    bool audioDeviceOpen() const { return audioDevice_ && audioDevice_->isOpen(); }
    // The graph pulled without a device: `frames` frames of the final mix. Thread: one caller,
    // and only while no device is open.
    void renderOutput(float* left, float* right, int frames) {
        audioGraph_.render(left, right, frames);
    }
    AudioGraph& audioGraph() { return audioGraph_; }

    // Effect controls (0..2 for the filter, 0..1 for the others).
    void filterSet(float v);
    void delayTimeSet(float v);
    void delayFeedbackSet(float v);
    void reverbSet(float v);
    // Effect parameters as set, for tests and the state dump. Thread: any.
    bool lowpassBypass() const { return audioGraph_.lowpass().bypass(); }
    float lowpassFrequency() const { return audioGraph_.lowpass().frequency(); }
    bool highpassBypass() const { return audioGraph_.highpass().bypass(); }
    float highpassFrequency() const { return audioGraph_.highpass().frequency(); }
    double delayTime() const { return audioGraph_.delay().delayTime(); }
    float delayFeedback() const { return audioGraph_.delay().feedback(); }
    float delayWetDryMix() const { return audioGraph_.delay().wetDryMix(); }
    float reverbWetDryMix() const { return audioGraph_.reverb().wetDryMix(); }

    // The oscilloscope capture for the display: oscL/oscR point at oscLength frames owned by the
    // view (null and 0 before the first capture). takeOscilloscopeCapture() copies the newest
    // capture of the final mix, if one came since, and sets oscNewData; the display update calls
    // it, draws when oscNewData is set, and clears the flag.
    bool takeOscilloscopeCapture();
    bool oscNewData() const { return oscNewData_; }
    void setOscNewData(bool v) { oscNewData_ = v; }
    int oscLength() const { return oscLength_; }
    const float* oscL() const { return oscL_; }
    const float* oscR() const { return oscR_; }

    // --- The sample ----------------------------------------------------------------------------
    // Fades every playing voice out and loads `path` 10 ms later, once they are silent. A load
    // still waiting in loadFileOnceMeasured is dropped: the newer file wins.
    void loadFile(const std::string& path);
    // loadFile, once the strip has been measured (at once if it has been): automatic slicing
    // needs the strip's width. For files opened at start, before the first display frame.
    void loadFileOnceMeasured(const std::string& path);
    // The deferred half of loadFile: decodes the file, publishes it, redraws, and in slicer mode
    // rebuilds the slices. Called only by the work loadFile schedules.
    void actuallyLoadFile(const std::string& path);

    // The file the sample came from, as given to loadFile; empty before the first good load.
    // A file that could not be loaded leaves it as it was. For a recording it is the take in the
    // takes folder, which later recordings do not change.
    const std::string& samplePath() const { return samplePath_; }

    // The current sample, as the mixer reads it. Its planes stay valid until the next load.
    const SampleSnapshot& sample() const { return mixer_.sample().current(); }
    const float* fileBufferLeft() const { return sample().left; }
    const float* fileBufferRight() const { return sample().right; }
    std::uint32_t fileBufferLength() const { return sample().fileBufferLength; }
    // The open file: none before the first load (then all zeros). A file that cannot be opened
    // or used changes nothing: the sample before it stays, playable and drawn.
    bool hasAudioFile() const { return sample().loaded; }
    std::int64_t audioFileLength() const { return sample().fileLength; }
    double audioFileSampleRate() const { return sample().sampleRate; }
    int audioFileChannelCount() const { return sample().channels; }

    // --- Slices --------------------------------------------------------------------------------
    // 0 or less none, 1 automatic detection, 2 or more equal slices.
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

    // --- Recording from the audio input --------------------------------------------------------
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
    // Starts recording; a device that cannot be prepared or started is logged and shown, and the
    // state is recording all the same.
    void recordingStart();
    // Stops recording; returns once the take is complete and closed, then loads it. A take that
    // failed or captured nothing loads nothing: the sample stays, and the window says why. A
    // second end stops and loads nothing.
    void recordingEnd();

    // --- Recording the output ------------------------------------------------------------------
    // The final mix, after the effects, into a take in the takes folder; the strip goes on
    // showing the instrument. The audio graph hands every rendered block to the recorder.
    OutputRecorder& outputRecorder() { return outputRecorder_; }
    // True from outputRecordingStart until the take stops (a key, or a write error).
    bool outputRecording() const { return outputRecorder_.isRecording(); }
    // Starts a take; the status line counts its seconds in red. One that cannot start is
    // reported there.
    void outputRecordingStart();
    // Stops the take; its file is finished on the writer's thread and reported when it is done
    // (update() looks). With `resample` the finished take then becomes the sample through the
    // take loader. Nothing while no take runs.
    void outputRecordingEnd(bool resample);
    // How a take to resample is loaded: as a dropped file, in the app; loadFile by default.
    void setTakeLoader(std::function<void(const std::string&)> loader) {
        takeLoader_ = std::move(loader);
    }
    // Takes finished so far; outputRecorder().lastTake() is the newest.
    int takesFinished() const { return takesFinished_; }

    // --- Touches and the four play modes -------------------------------------------------------
    // The strip's touches, one call per phase of an event, each taking that phase's list
    // (began, moved, ended or cancelled). A cancelled touch ends exactly like a lifted one.
    void touchesBegan(const TouchEvent& event);
    void touchesMoved(const TouchEvent& event);
    void touchesEnded(const TouchEvent& event);
    void touchesCancelled(const TouchEvent& event);
    // The four phases of one event, in that order: what the host calls per strip event.
    void handleTouchEvent(const TouchEvent& event);
    // One finger lifted or cancelled: the looper hears of it first, then every voice the finger
    // holds is released.
    void touchEnded(const Touch& touch);
    // The mixer frame the touches handled next take effect at (voices start, lifted fingers let
    // go): a MIDI note's time, so that notes keep their spacing; 0 for at once.
    void setTouchFrame(std::uint64_t frame) { touchFrame_ = frame; }
    // The fingers down on the strip, in landing order, each once.
    const std::vector<TouchId>& activeTouches() const { return activeTouches_; }

    // The lowest free voice, or null (logged) when all are sounding. It stays free until the
    // caller, having filled it, switches it on with startVoice.
    Playhead* getFreePlayhead();
    // Switches a filled voice on (`active` last) and marks the hit in a running take.
    void startVoice(Playhead& voice);
    int activePlayheads() const;
    // Fades the looper hint in; the hint timer's work.
    void showLooperAlert();

    // Slicer: one voice over [start, start + length) frames, the sum taken in 32 bits.
    void playSlice(std::uint32_t start, std::uint32_t length, float amplitude, TouchId touch);
    void slicerTouchDown(Point p, TouchId touch);
    void slicerTouchMoved(Point p, Point previous, TouchId touch);
    // Looper: the handlers get the touch itself, whose location is that of its own event.
    void looperTouchDown(Point p, const Touch& touch);
    void looperTouchMoved(Point p, const Touch& touch);
    void looperTouchEnded(Point p, const Touch& touch);
    // The lone finger waiting for a partner, as it was when it began to wait.
    const std::optional<Touch>& freeTouch() const { return freeTouch_; }
    void bowTouchDown(Point p, TouchId touch);
    void bowTouchMoved(Point p, TouchId touch);
    void tapeTouchDown(Point p, TouchId touch);
    void tapeTouchMoved(Point p, TouchId touch);

    // --- Display -------------------------------------------------------------------------------
    // The view's backing layer: the root of everything the instrument shows on the strip. Its
    // bounds are the strip's size in points; the host sets them and renders this tree.
    const LayerPtr& layer() const { return layer_; }
    // The strip's measured size in points (x the width, y the height); (0, 0) until the first
    // display frame. Tests set it directly.
    Point touchBarSize() const { return touchBarSize_; }
    void setTouchBarSize(Point size) { touchBarSize_ = size; }

    // The display tick. The host calls update() once per presented frame; setPresentationTime
    // is the same step driven by an animated value: any value other than the stored one (which
    // stays 0.0) calls update().
    double presentationTime() const { return presentationTime_; }
    void setPresentationTime(double v);
    // One display frame: the meter while recording, the voices' cursors, boxes and speed bars
    // (and the switch-off of voices whose sound has ended), the strip's size when it changed,
    // the slice flashes and the oscilloscope; then frees a replaced sample the audio thread let
    // go of. The first call after the host sized layer() measures the strip. Allocates nothing
    // on a frame where the strip's width is unchanged (while recording, once a second for the
    // status line's count).
    void update();

    // Redraws the sample's bars in the play mode's colours.
    void renderWaveform();
    // Lays the slice markers out (slicer mode), or the three tape markers (tape mode).
    void showSlices();

    // Each voice's display layers, beside its record so that the record stays free of them.
    struct VoiceLayers {
        LayerPtr cursor;       // position line on the waveform
        LayerPtr bowCursor;    // bow: the line at the second head
        LayerPtr speedLayer;   // tape: the speed bar
        LayerPtr regionLayer;  // looper and bow: the loop or grain box
    };
    VoiceLayers& voiceLayers(std::size_t voice) { return voiceLayers_[voice]; }
    // The layers showSlices made for each slice, by index into slices(); empty outside slicer
    // mode and after the list was rebuilt until the next showSlices.
    struct SliceLayers {
        LayerPtr marker;
        LayerPtr highlight;
    };
    const std::vector<SliceLayers>& sliceLayers() const { return sliceLayers_; }

    const LayerPtr& waveform() const { return waveform_; }
    const LayerPtr& meterLayer() const { return meterLayer_; }
    const LayerPtr& markersLayer() const { return markersLayer_; }
    const LayerPtr& highlightsLayer() const { return highlightsLayer_; }
    const std::shared_ptr<ShapeLayer>& oscLayer() const { return oscLayer_; }
    const LayerPtr& looperAlert() const { return looperAlert_; }
    // The timer that shows the looper hint; null when none is pending.
    std::shared_ptr<Timer>& alertTimer() { return alertTimer_; }

private:
    // Builds the state and the layer tree, bottom to top: waveform, level meter, slice markers,
    // slice highlights, the four layers of each of the 64 voices, oscilloscope, looper hint.
    void buildContents();
    static void renderSource(void* view, float* left, float* right, int frames);

    void updateMeter();
    void updateVoices();
    void updateSize();
    void updateHighlights();
    void updateOscilloscope();
    void updateTake();

    VoiceLayers& layersOf(const Playhead& voice);
    double touchBarWidth() const;
    double touchBarHeight() const;
    // A sample with frames to play: the touch-down handlers start nothing without one.
    bool hasSampleToPlay() const;

    RunLoop& runLoop_;
    Mixer mixer_;
    int playMode_ = 0;
    int transpose_ = 0;

    AudioGraph audioGraph_;
    std::unique_ptr<OutputDevice> audioDevice_;  // after the graph: it goes first
    std::array<float, kOscilloscopeFrames> oscLeft_{};
    std::array<float, kOscilloscopeFrames> oscRight_{};
    const float* oscL_ = nullptr;
    const float* oscR_ = nullptr;
    int oscLength_ = 0;
    bool oscNewData_ = false;

    SampleLoader loader_{mixer_.sample()};
    std::string samplePath_;
    SliceList slices_;
    int numSlices_ = 1;
    std::optional<std::string> loadOnceMeasured_;

    std::unique_ptr<Recorder> recorder_ = std::make_unique<Recorder>();
    std::atomic<bool> recording_{false};
    double recordingSince_ = 0.0;  // run loop time the recorder started
    long recordingShown_ = -1;     // whole seconds last shown in the status line

    OutputRecorder outputRecorder_;
    std::function<void(const std::string&)> takeLoader_;
    bool resampleTake_ = false;
    double takeSince_ = 0.0;
    long takeSecondsShown_ = -1;
    int takesFinished_ = 0;

    std::vector<TouchId> activeTouches_;
    std::uint64_t touchFrame_ = 0;
    std::optional<Touch> freeTouch_;

    Point touchBarSize_{0.0, 0.0};
    double presentationTime_ = 0.0;
    LayerPtr layer_ = Layer::create();
    LayerPtr waveform_;
    LayerPtr meterLayer_;
    LayerPtr markersLayer_;
    LayerPtr highlightsLayer_;
    std::array<VoiceLayers, kVoiceCount> voiceLayers_;
    std::vector<SliceLayers> sliceLayers_;
    std::shared_ptr<ShapeLayer> oscLayer_;
    LayerPtr looperAlert_;
    std::shared_ptr<Timer> alertTimer_;
};

}  // namespace vornik
