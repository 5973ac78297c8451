#include "display/MainView.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "audio/AudioConstants.h"
#include "audio/AudioDevice.h"
#include "base/Log.h"
#include "base/Status.h"

namespace vornik {
namespace {

// The envelope times never go below the shortest ramp the controls can set; a value that is not
// a number would poison every envelope it touches, so it is refused.
constexpr double kShortestEnvelope = 0.005;

// A path as the user knows it: the home folder as "~".
std::string shownPath(const std::filesystem::path& path) {
    const char* home = std::getenv("HOME");
    const std::string p = path.string();
    const std::size_t n = home != nullptr ? std::strlen(home) : 0;
    if (n > 1 && p.compare(0, n, home) == 0 && p.size() > n && p[n] == '/') {
        return std::string("~").append(p, n);
    }
    return p;
}

std::string minutesAndSeconds(long seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld", seconds / 60, seconds % 60);
    return text;
}

}  // namespace

MainView::MainView(RunLoop& runLoop) : runLoop_(runLoop) { buildContents(); }

void MainView::buildContents() {
    // State.
    playMode_ = 0;
    touchBarSize_ = {0.0, 0.0};
    transpose_ = 0;

    // The waveform's container; laid out by the first update.
    waveform_ = Layer::create();
    layer_->addSublayer(waveform_);

    // The recording level disc.
    meterLayer_ = Layer::create();
    meterLayer_->setAnchorPoint({0.5, 0.5});
    meterLayer_->setBackgroundColor(kAccentRed);
    meterLayer_->setOpacity(0.0f);
    layer_->addSublayer(meterLayer_);

    // Slice markers, then their flash rectangles.
    markersLayer_ = Layer::create();
    layer_->addSublayer(markersLayer_);
    highlightsLayer_ = Layer::create();
    layer_->addSublayer(highlightsLayer_);

    // The voices' layers; voice 0's lie below voice 1's, and so on.
    for (std::size_t i = 0; i < kVoiceCount; ++i) {
        playheads()[i].setActive(false);
        VoiceLayers& v = voiceLayers_[i];
        v.cursor = Layer::create();
        v.cursor->setBounds(Rect::make(0, 0, 1, 50));
        v.cursor->setAnchorPoint({0, 0});
        v.cursor->setBackgroundColor(Color::white(1.0, 1.0));
        v.cursor->setOpacity(0.0f);
        layer_->addSublayer(v.cursor);

        v.bowCursor = Layer::create();
        v.bowCursor->setBounds(Rect::make(0, 0, 1, 50));
        v.bowCursor->setAnchorPoint({0, 0});
        v.bowCursor->setBackgroundColor(Color::white(1.0, 1.0));
        v.bowCursor->setOpacity(0.0f);
        layer_->addSublayer(v.bowCursor);

        v.speedLayer = Layer::create();
        v.speedLayer->setAnchorPoint({0, 1});  // its top-left corner
        v.speedLayer->setBackgroundColor(Color::white(1.0, 1.0));
        v.speedLayer->setOpacity(0.0f);
        layer_->addSublayer(v.speedLayer);

        v.regionLayer = Layer::create();
        v.regionLayer->setAnchorPoint({0, 0});
        v.regionLayer->setBackgroundColor(Color::white(1.0, 0.5));
        v.regionLayer->setBorderWidth(1.0);
        v.regionLayer->setBorderColor(Color::white(1.0, 1.0));
        v.regionLayer->setOpacity(0.0f);
        layer_->addSublayer(v.regionLayer);
    }

    // Slices and their markers: empty with no sample and an unmeasured strip.
    createSlices();
    showSlices();

    // The oscilloscope trace.
    oscLayer_ = ShapeLayer::create();
    oscLayer_->setFrame(layer_->frame());
    oscLayer_->setStrokeColor(Color::white(1.0, 0.5));
    oscLayer_->setFillColor(Color::clear());
    oscLayer_->setLineWidth(1.5);
    layer_->addSublayer(oscLayer_);

    // No hint pending; the hint box, centred by the first update.
    alertTimer_.reset();
    looperAlert_ = Layer::create();
    looperAlert_->setBounds(Rect::make(0, 0, 220, 22));
    looperAlert_->setAnchorPoint({0.5, 0.5});
    looperAlert_->setPosition({touchBarSize_.x / 2, touchBarSize_.y / 2});
    looperAlert_->setBackgroundColor(Color::white(0.1, 0.8));
    looperAlert_->setCornerRadius(5);
    looperAlert_->setCornerCurve(CornerCurve::Continuous);
    looperAlert_->setOpacity(0.0f);
    layer_->addSublayer(looperAlert_);

    // Its text, centred in the box.
    auto text = TextLayer::create();
    text->setBounds(Rect::make(0, 0, 220, 17));
    text->setAnchorPoint({0.5, 0.5});
    text->setPosition({110, 11});
    text->setFontSize(13);
    text->setFont(kSystemFontName);
    text->setForegroundColor(Color::white(1.0, 1.0));
    text->setAlignmentMode(TextAlignment::Center);
    text->setString("Use two fingers to create a loop");
    text->setContentsScale(2.0);
    looperAlert_->addSublayer(text);
}



void MainView::setAttack(double seconds) {
    if (std::isnan(seconds)) return;
    mixer_.setAttack(std::max(seconds, kShortestEnvelope));
}

void MainView::setDecay(double seconds) {
    if (std::isnan(seconds)) return;
    mixer_.setDecay(std::max(seconds, kShortestEnvelope));
}

// --- Recording from the audio input ---------------------------------------------------------

void MainView::setRecorder(std::unique_ptr<Recorder> recorder) {
    if (recorder) recorder_ = std::move(recorder);
}

void MainView::recordingStart() {
    setRecording(true);
    if (!recorder_->prepareToRecord()) logLine("ERROR: audioRecorder prepareToRecord");
    if (recorder_->record()) {
        recordingSince_ = runLoop_.now();
        recordingShown_ = -1;
    } else {
        logLine("ERROR: audioRecorder record audio");
        showStatus("Cannot record: " + recorder_->failure());
    }
    // While recording the strip shows only the meter (and any voice cursors).
    meterLayer_->setOpacity(1.0f);
    oscLayer_->editPath().clear();
    markersLayer_->removeAllSublayers();
    waveform_->removeAllSublayers();
}

void MainView::recordingEnd() {
    setRecording(false);
    const bool running = recorder_->isRecording();
    const bool saved = recorder_->stop();  // the file is complete and closed when this returns
    meterLayer_->setOpacity(0.0f);
    if (saved) {
        // The take by its permanent name, which a later recording does not change.
        loadFile(recorder_->lastTake().string());
        showStatus("Recording saved: " + shownPath(recorder_->lastTake()), StatusKind::info);
    } else if (running) {
        showStatus("Recording not saved: " + recorder_->failure() + "; the sample stays");
    }
    // The markers come back at once, in every mode, until the load replaces them.
    createSlices();
    showSlices();
}

// --- Recording the output ----------------------------------------------------------------------

void MainView::outputRecordingStart() {
    if (outputRecording()) return;
    // A take still being finished is reported (and resampled) first.
    outputRecorder_.waitFinished();
    updateTake();
    if (!outputRecorder_.start()) {
        showStatus("Cannot record the output: " + outputRecorder_.failure());
        return;
    }
    resampleTake_ = false;
    takeSince_ = runLoop_.now();
    takeSecondsShown_ = -1;
    updateTake();
}

void MainView::outputRecordingEnd(bool resample) {
    if (!outputRecording()) return;
    resampleTake_ = resample;
    outputRecorder_.stop();
}

void MainView::updateTake() {
    if (outputRecorder_.isRecording()) {
        if (outputRecorder_.writeFailed()) {
            outputRecorder_.stop();  // what was written is kept; the message follows below
        } else {
            const auto seconds = static_cast<long>(runLoop_.now() - takeSince_);
            if (seconds != takeSecondsShown_) {
                takeSecondsShown_ = seconds;
                showStatus("recording the output " + minutesAndSeconds(seconds) + "   (o stops)",
                           StatusKind::recording);
            }
            return;
        }
    }
    if (!outputRecorder_.collectFinished()) return;
    ++takesFinished_;
    const OutputRecorder::Take& take = outputRecorder_.lastTake();
    if (take.path.empty()) {
        logf("recording the output: no take kept (%s)", take.problem.c_str());
        showStatus("Take not saved: " + take.problem);
        return;
    }
    std::string text = "Take saved: " + shownPath(take.path);
    if (!take.problem.empty()) text += "; " + take.problem;
    if (take.droppedFrames > 0) {
        char lost[96];
        std::snprintf(lost, sizeof lost, "; %.2f s of it were lost (the disk was too slow)",
                      static_cast<double>(take.droppedFrames) / kOutputSampleRate);
        text += lost;
    }
    logf("recording the output: saved %s, %.1f s, %zu cue points", take.path.c_str(),
         static_cast<double>(take.frames) / kOutputSampleRate, take.cues);
    const bool clean = take.problem.empty() && take.droppedFrames == 0;
    showStatus(text, clean ? StatusKind::info : StatusKind::warning);
    if (resampleTake_) {
        resampleTake_ = false;
        if (takeLoader_) {
            takeLoader_(take.path.string());
        } else {
            loadFile(take.path.string());
        }
    }
}

// --- Audio graph, effects, oscilloscope capture and sound device ---------------------------

MainView::~MainView() {
    audioDevice_.reset();  // the device's callback renders the graph and the mixer: stop it first
}

void MainView::renderSource(void* view, float* left, float* right, int frames) {
    static_cast<MainView*>(view)->renderAudio(left, right, frames);
}

void MainView::initAudioEngine(AudioOutput output) {
    // Envelope times.
    setAttack(kDefaultAttack);
    setDecay(kDefaultDecay);
    // The output format (kOutputSampleRate, kOutputChannels, float32 planar) and the
    // 64-frame request are the graph's and the device's constants.
    // No sample yet: the sample store starts empty and stays so until the first load.
    // Low-pass: bypassed, band low-pass at 22 kHz, band in.
    EqUnit& lp = audioGraph_.lowpass();
    lp.setBypass(true);
    lp.setFilterType(FilterType::kLowPass);
    lp.setFrequency(audio::kLowpassInitialFrequency);
    lp.setBandBypass(false);
    // High-pass: bypassed, band high-pass at 0 Hz, band in.
    EqUnit& hp = audioGraph_.highpass();
    hp.setBypass(true);
    hp.setFilterType(FilterType::kHighPass);
    hp.setFrequency(audio::kHighpassInitialFrequency);
    hp.setBandBypass(false);
    // Delay: fully dry.
    DelayUnit& d = audioGraph_.delay();
    d.setDelayTime(audio::kDelayInitialTime);
    d.setFeedback(audio::kDelayInitialFeedback);
    d.setWetDryMix(audio::kDelayInitialWetDryMix);
    d.setLowPassCutoff(audio::kDelayInitialLowPassCutoff);
    // Reverb: the cathedral, fully dry.
    audioGraph_.reverb().loadFactoryPreset(audio::kReverbCathedralPreset);
    audioGraph_.reverb().setWetDryMix(audio::kReverbInitialWetDryMix);
    // The source node: the mixer.
    audioGraph_.setSource(&MainView::renderSource, this);
    // The oscilloscope tap sits on the main mix inside the graph; takeOscilloscopeCapture
    // collects its captures. The output recorder hears the same mix.
    audioGraph_.setMixListener(&outputRecorder_);
    // Connections: fixed inside the graph (source, low-pass, high-pass, delay, reverb, mix).
    // Prepare and start.
    audioGraph_.prepare(kOutputSampleRate);
    if (output == AudioOutput::kDevice) startAudioDevice();
    // Route changes: the app forwards SDL's audio device events to audioHardwareRouteChanged.
    // Not recording. The recorder is made with the view and opens nothing before the first
    // recording.
    setRecording(false);
}

void MainView::startAudioDevice(int bufferFrames) {
    if (!audioDevice_) audioDevice_ = std::make_unique<AudioDevice>(audioGraph_, bufferFrames);
    audioDevice_->open();
}

bool MainView::setAudioDevice(std::unique_ptr<OutputDevice> device) {
    audioDevice_.reset();  // its callback stops before the next one starts
    audioDevice_ = std::move(device);
    return audioDevice_ && audioDevice_->open();
}

void MainView::audioHardwareRouteChanged() {
    if (audioDevice_) audioDevice_->reopen();
}

void MainView::filterSet(float v) {
    EqUnit& lp = audioGraph_.lowpass();
    EqUnit& hp = audioGraph_.highpass();
    if (v == 1.0f) {
        lp.setBypass(true);
        hp.setBypass(true);
    } else if (v < 1.0f) {
        lp.setBypass(false);
        hp.setBypass(true);
        // The cube in double, narrowed; the scaling in single precision.
        const auto cube = static_cast<float>(static_cast<double>(v) * v * v);
        lp.setFrequency(cube * audio::kLowpassSpan + audio::kLowpassFloor);
    } else if (v > 1.0f) {
        lp.setBypass(true);
        hp.setBypass(false);
        // v - 1 in single precision; squared and scaled in double, narrowed.
        const double above = v - 1.0f;
        hp.setFrequency(static_cast<float>(above * above * audio::kHighpassSpan));
    }
    // Not a number: no change.
}

void MainView::delayTimeSet(float v) {
    const float twice = v + v;
    audioGraph_.delay().setDelayTime(static_cast<double>(twice) + audio::kDelayShortest);
}

void MainView::delayFeedbackSet(float v) {
    // One control raises the echo's level and its repetitions together.
    const float percent = v * audio::kPercent;
    audioGraph_.delay().setFeedback(percent);
    audioGraph_.delay().setWetDryMix(percent);
}

void MainView::reverbSet(float v) { audioGraph_.reverb().setWetDryMix(v * audio::kPercent); }

double MainView::getCurrentFilePlaybackRate() const {
    const SampleSnapshot& s = mixer_.sample().current();
    const double fileRate = s.loaded ? s.sampleRate : 0.0;
    return (fileRate / kOutputSampleRate) * std::pow(2.0, transpose_ / 12.0);
}

bool MainView::takeOscilloscopeCapture() {
    if (!audioGraph_.oscilloscope().take(oscLeft_.data(), oscRight_.data())) return false;
    oscL_ = oscLeft_.data();
    oscR_ = oscRight_.data();
    oscLength_ = kOscilloscopeFrames;
    oscNewData_ = true;
    return true;
}


// --- The sample and its slices ---------------------------------------------------------------

void MainView::loadFile(const std::string& path) {
    loadOnceMeasured_.reset();
    for (Playhead& v : playheads()) {
        if (v.active()) v.setFadeOut(true);
    }
    runLoop_.after(kLoadDelaySeconds, [this, path] { actuallyLoadFile(path); });
}

void MainView::loadFileOnceMeasured(const std::string& path) {
    if (touchBarSize_.x > 0.0) {
        loadFile(path);
    } else {
        loadOnceMeasured_ = path;  // updateSize loads it
    }
}

void MainView::actuallyLoadFile(const std::string& path) {
    const auto outcome = loader_.load(path);
    if (outcome == SampleLoader::Outcome::OpenFailed ||
        outcome == SampleLoader::Outcome::Refused) {
        return;
    }
    samplePath_ = path;
    renderWaveform();
    if (playMode_ == Playhead::kSlicer) {
        createSlices();
        showSlices();
    }
}

void MainView::setNumSlices(int n) {
    numSlices_ = n;
    if (playMode_ == Playhead::kSlicer) createSlices();
    showSlices();
}

void MainView::createSlices() {
    slices_.clear();
    sliceLayers_.clear();  // new slices have no layers until showSlices makes them
    if (numSlices_ == 1) {
        findSlices();
    } else if (numSlices_ >= 2) {
        divideEqually(slices_, numSlices_);
    }
}

void MainView::findSlices() { vornik::findSlices(slices_, sample(), touchBarSize_.x); }

Slice* MainView::getSliceAtPos(float x) { return sliceAtPos(slices_, x, touchBarSize_.x); }


}  // namespace vornik
