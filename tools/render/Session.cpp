#include "Session.h"

#include <charconv>
#include <chrono>
#include <thread>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "base/Constants.h"
#include "base/Log.h"
#include "display/MainView.h"
#include "display/Renderer.h"
#include "display/Transaction.h"
#include "sample/CaptureSourceFile.h"
#include "sample/Recorder.h"

namespace vornik::render {
namespace {

// JSON numbers: shortest text that reads back the same double; non-finite values as null.
std::string num(double v) {
    if (!std::isfinite(v)) return "null";
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, v).ptr;
    return std::string(text, end);
}

// A microphone in a silent room, fed from the render loop so that recordings are deterministic.
class SilentCapture final : public CaptureSource {
public:
    bool start(CaptureSink& sink) override {
        sink_ = &sink;
        return true;
    }
    void stop() override { sink_ = nullptr; }
    void pump(std::size_t frames) {
        static constexpr float kZeros[2 * 512] = {};
        while (sink_ && frames > 0) {
            const std::size_t n = std::min<std::size_t>({frames, 512, sink_->captureRoom()});
            if (n == 0) {  // the writer is behind: wait for it, so that nothing is dropped
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                continue;
            }
            sink_->captureFrames(kZeros, n);
            frames -= n;
        }
    }

private:
    CaptureSink* sink_ = nullptr;
};

}  // namespace

Session::Session(const Script& script, std::filesystem::path input, std::filesystem::path recordDir,
                 std::filesystem::path takes)
    : script_(script), recordDir_(std::move(recordDir)) {
    Transaction::setClock(&clock_);
    const char* assets = std::getenv("VORNIK_ASSETS");
    controller_ = std::make_unique<WindowController>(loop_, assets ? assets : VORNIK_ASSETS_DIR);
    controller_->makeTouchBar();
    view_ = controller_->mainView();
    keys_ = std::make_unique<Keys>(clock_, *controller_);
    midi_ = std::make_unique<MidiHost>(loop_, *controller_, std::filesystem::path());
    // Every control exists from the start, as if each bar had been shown once.
    for (int mode = 0; mode < 4; ++mode) {
        for (const auto& id : WindowController::controlsBarItems(mode)) {
            controller_->makeItemForIdentifier(id);
        }
    }
    for (const auto& id : WindowController::effectsBarItems()) {
        controller_->makeItemForIdentifier(id);
    }
    controller_->stripLayer(Size{script.stripWidth, script.stripHeight});
    std::unique_ptr<CaptureSource> source;
    if (!input.empty()) {
        auto file = std::make_unique<FileCaptureSource>(std::move(input));
        pumpInput_ = [f = file.get()](std::size_t frames) { f->pump(frames); };
        source = std::move(file);
    } else {
        auto silence = std::make_unique<SilentCapture>();
        pumpInput_ = [s = silence.get()](std::size_t frames) { s->pump(frames); };
        source = std::move(silence);
    }
    view_->setRecorder(std::make_unique<Recorder>(recordDir_, std::move(source)));
    if (!takes.empty()) view_->outputRecorder().setTakesDirectory(std::move(takes));
}

Session::~Session() {
    midi_.reset();
    keys_.reset();
    controller_.reset();
    Transaction::setClock(nullptr);
}

bool Session::run(const MixSink& sink) {
    const auto total = static_cast<std::int64_t>(std::llround(script_.length * kOutputSampleRate));
    std::vector<float> stretch(static_cast<std::size_t>(kSinkFrames) * 2);
    int held = 0;  // frames in `stretch`
    float left[kBlockFrames], right[kBlockFrames];
    std::size_t next = 0;
    std::int64_t nextUpdate = 0;
    double pumped = 0.0;  // input frames fed to the recorder so far
    for (std::int64_t frame = 0; frame < total; frame += kBlockFrames) {
        const double now = static_cast<double>(frame) / kOutputSampleRate;
        clock_.set(now);
        loop_.runDue();
        // Events at T apply at the first block that starts at or after T.
        while (next < script_.commands.size() && script_.commands[next].time <= now) {
            apply(script_.commands[next++]);
        }
        if (frame >= nextUpdate) {
            view_->update();
            Transaction::flush();
            reportTakes();
            nextUpdate += kUpdateFrames;
        }
        const int n = static_cast<int>(std::min<std::int64_t>(kBlockFrames, total - frame));
        // Faster than real time the take's writer may fall behind: wait for it, so that
        // nothing is dropped.
        while (view_->outputRecording() && view_->outputRecorder().captureRoom() < std::size_t(n)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        view_->renderOutput(left, right, n);
        if (view_->recording()) {
            // The microphone runs at 44.1 kHz: feed what it would have heard during this block.
            const double due = pumped + n * (static_cast<double>(kRecordingSampleRate) / kOutputSampleRate);
            const auto frames = static_cast<std::size_t>(std::floor(due) - std::floor(pumped));
            pumpInput_(frames);
            pumped = due;
        }
        for (int i = 0; i < n; ++i, ++held) {
            stretch[static_cast<std::size_t>(held) * 2] = left[i];
            stretch[static_cast<std::size_t>(held) * 2 + 1] = right[i];
        }
        if (held == kSinkFrames || frame + n == total) {
            if (!sink(stretch.data(), held)) return false;
            held = 0;
        }
    }
    // Whatever is due at the very end (a dump at the last instant, say).
    clock_.set(script_.length);
    loop_.runDue();
    while (next < script_.commands.size()) apply(script_.commands[next++]);
    if (view_->recording()) view_->recordingEnd();
    view_->outputRecordingEnd(false);
    view_->outputRecorder().waitFinished();
    view_->update();
    reportTakes();
    return ok_;
}

void Session::reportTakes() {
    if (view_->takesFinished() == takesReported_) return;
    takesReported_ = view_->takesFinished();
    const auto& take = view_->outputRecorder().lastTake();
    if (take.path.empty()) {
        logf("the take was not saved: %s", take.problem.c_str());
        ok_ = false;
        return;
    }
    std::printf("take: %s\n", take.path.c_str());
    std::fflush(stdout);
}

int Session::activeVoices() const {
    int n = 0;
    for (const Playhead& p : view_->playheads()) n += p.active() ? 1 : 0;
    return n;
}

void Session::apply(const Command& c) {
    switch (c.kind) {
        case Command::Kind::Load:
            view_->loadFile(c.path.string());
            break;
        case Command::Kind::Drop:
            view_->loadFile(c.path.string());
            controller_->resetTransposition();
            break;
        case Command::Kind::Down:
        case Command::Kind::Move:
        case Command::Kind::Up:
        case Command::Kind::Cancel:
            touch(c);
            break;
        case Command::Kind::Set:
            set(c);
            break;
        case Command::Kind::Key: {
            const std::string characters = c.name == "space" ? " " : c.name;
            if (c.keyDown) {
                keys_->keyDown(characters, false);
            } else {
                keys_->keyUp(characters);
            }
            // A take that stopped is finished before the render goes on, so that when it
            // becomes the sample does not depend on how fast the disk is.
            if (!view_->outputRecording()) view_->outputRecorder().waitFinished();
            break;
        }
        case Command::Kind::Press:
            if (c.name == "effects") {
                controller_->effectsButton()->sendAction();
            } else {
                controller_->controlsButton()->sendAction();
            }
            break;
        case Command::Kind::Midi:
            midi_->feed(c.bytes.data(), c.bytes.size(), c.time);
            break;
        case Command::Kind::Snapshot:
            writeSnapshot(c.path);
            break;
        case Command::Kind::Dump:
            writeDump(c.path);
            break;
        default:
            logf("line %d: this command is not playable yet", c.line);
            break;
    }
}

void Session::touch(const Command& c) {
    const double y = script_.stripHeight / 2;
    auto it = fingers_.find(c.finger);
    if (c.kind == Command::Kind::Down) {
        if (it != fingers_.end()) {
            logf("line %d: finger %ld is already down", c.line, c.finger);
            return;
        }
        const Finger f{nextTouchId_++, {c.value, y}};
        fingers_[c.finger] = f;
        controller_->stripTouch(TouchPhase::Began, Touch{f.id, f.location, f.location});
        return;
    }
    if (it == fingers_.end()) {
        logf("line %d: finger %ld is not down", c.line, c.finger);
        return;
    }
    Finger& f = it->second;
    const Point previous = f.location;
    if (c.kind == Command::Kind::Move) {
        f.location = {c.value, y};
        controller_->stripTouch(TouchPhase::Moved, Touch{f.id, f.location, previous});
        return;
    }
    const TouchPhase phase = c.kind == Command::Kind::Up ? TouchPhase::Ended : TouchPhase::Cancelled;
    controller_->stripTouch(phase, Touch{f.id, f.location, previous});
    fingers_.erase(it);
}

void Session::set(const Command& c) {
    WindowController& w = *controller_;
    auto slide = [&](const std::shared_ptr<Slider>& slider) {
        slider->setDoubleValue(c.value);
        slider->sendAction();
    };
    if (c.name == "mode") {
        w.modeSegments()->setSelectedSegment(static_cast<int>(c.value));
        w.modeSegments()->sendAction();
    } else if (c.name == "slices" || c.name == "transpose") {
        const auto& stepper = c.name == "slices" ? w.slicesStepper() : w.transposeStepper();
        stepper->setValue(c.value);
        stepper->sendAction();
    } else if (c.name == "attack") {
        slide(w.attackSlider());
    } else if (c.name == "decay") {
        slide(w.decaySlider());
    } else if (c.name == "delay") {
        slide(w.delaySlider());
    } else if (c.name == "feedback") {
        slide(w.feedbackSlider());
    } else if (c.name == "reverb") {
        slide(w.reverbSlider());
    } else if (c.name == "filter") {
        slide(w.filterSlider());
    }
}

void Session::writeSnapshot(const std::filesystem::path& path) {
    Renderer renderer;
    const auto& strip = controller_->stripLayer(Size{script_.stripWidth, script_.stripHeight});
    renderer.render(*strip, kSnapshotZoom, clock_.now());
    if (!renderer.writePng(path.string())) {
        logLine("cannot write the snapshot " + path.string());
        ok_ = false;
    }
}

void Session::writeDump(const std::filesystem::path& path) {
    MainView& v = *view_;
    std::ostringstream j;
    j << "{\n";
    j << "  \"playMode\": " << v.playMode() << ",\n";
    j << "  \"numSlices\": " << v.numSlices() << ",\n";
    j << "  \"transpose\": " << v.transpose() << ",\n";
    j << "  \"attack\": " << num(v.attack()) << ",\n";
    j << "  \"decay\": " << num(v.decay()) << ",\n";
    j << "  \"recording\": " << (v.recording() ? "true" : "false") << ",\n";
    j << "  \"currentBar\": " << controller_->currentBar() << ",\n";
    j << "  \"secondaryBar\": " << controller_->secondaryBar() << ",\n";
    j << "  \"touchBarSize\": [" << num(v.touchBarSize().x) << ", " << num(v.touchBarSize().y)
      << "],\n";
    j << "  \"fileBufferLength\": " << v.fileBufferLength() << ",\n";
    j << "  \"fileSampleRate\": " << num(v.audioFileSampleRate()) << ",\n";
    j << "  \"fileChannels\": " << v.audioFileChannelCount() << ",\n";
    j << "  \"slices\": [";
    bool first = true;
    for (const Slice& s : v.slices()) {
        j << (first ? "\n" : ",\n") << "    {\"pos\": " << num(s.pos) << ", \"end\": " << num(s.end)
          << ", \"highlightOpacity\": " << num(s.highlightOpacity) << "}";
        first = false;
    }
    j << (first ? "],\n" : "\n  ],\n");
    j << "  \"voices\": [";
    first = true;
    for (std::size_t i = 0; i < kVoiceCount; ++i) {
        const Playhead& p = v.playheads()[i];
        if (!p.active()) continue;
        j << (first ? "\n" : ",\n") << "    {\"index\": " << i << ", \"mode\": " << p.mode()
          << ", \"amp\": " << num(p.amp()) << ", \"pos\": " << num(p.pos())
          << ", \"frameStart\": " << num(p.frameStart()) << ", \"frameEnd\": "
          << num(p.frameEnd()) << ", \"rate\": " << num(p.rate()) << ", \"envelope\": "
          << num(p.envelope()) << ", \"fadeOut\": " << (p.fadeOut() ? "true" : "false")
          << ", \"touchid\": " << p.touchid() << ", \"looperPos\": " << num(p.looperPos())
          << ", \"looperCrossfade\": " << num(p.looperCrossfade()) << ", \"bowPos\": "
          << num(p.bowPos()) << ", \"bowAmp\": " << num(p.bowAmp()) << "}";
        first = false;
    }
    j << (first ? "],\n" : "\n  ],\n");
    j << "  \"effects\": {\"lowpassBypass\": " << (v.lowpassBypass() ? "true" : "false")
      << ", \"lowpassFrequency\": " << num(v.lowpassFrequency())
      << ", \"highpassBypass\": " << (v.highpassBypass() ? "true" : "false")
      << ", \"highpassFrequency\": " << num(v.highpassFrequency())
      << ", \"delayTime\": " << num(v.delayTime()) << ", \"delayFeedback\": "
      << num(v.delayFeedback()) << ", \"delayWetDryMix\": " << num(v.delayWetDryMix())
      << ", \"reverbWetDryMix\": " << num(v.reverbWetDryMix()) << "}\n";
    j << "}\n";
    std::ofstream out(path);
    out << j.str();
    if (!out) {
        logLine("cannot write the dump " + path.string());
        ok_ = false;
    }
}

}  // namespace vornik::render
