#include "Session.h"

#include <charconv>
#include <cmath>
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

std::filesystem::path makeRecordDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vornik-render-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) return std::filesystem::temp_directory_path();
    return pattern;
}

// JSON numbers: shortest text that reads back the same double; non-finite values as null.
std::string num(double v) {
    if (!std::isfinite(v)) return "null";
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, v).ptr;
    return std::string(text, end);
}

}  // namespace

Session::Session(const Script& script, std::filesystem::path input)
    : script_(script), recordDir_(makeRecordDir()) {
    Transaction::setClock(&clock_);
    view_ = std::make_unique<MainView>(loop_);
    view_->initAudioEngine(MainView::AudioOutput::kNone);
    view_->layer()->setBounds(Rect::make(0, 0, script.stripWidth, script.stripHeight));
    std::unique_ptr<CaptureSource> source;
    if (!input.empty()) {
        auto file = std::make_unique<FileCaptureSource>(std::move(input));
        capture_ = file.get();
        source = std::move(file);
    }
    view_->setRecorder(std::make_unique<Recorder>(recordDir_, std::move(source)));
}

Session::~Session() {
    view_.reset();
    Transaction::setClock(nullptr);
    std::error_code ec;
    std::filesystem::remove_all(recordDir_, ec);
}

bool Session::run(std::vector<float>& mix) {
    const auto total = static_cast<std::int64_t>(std::llround(script_.length * kOutputSampleRate));
    mix.assign(static_cast<std::size_t>(total) * 2, 0.0f);
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
            Transaction::flush();  // the display update joins here when it lands
            nextUpdate += kUpdateFrames;
        }
        const int n = static_cast<int>(std::min<std::int64_t>(kBlockFrames, total - frame));
        view_->renderOutput(left, right, n);
        if (capture_ && view_->recording()) {
            // The microphone runs at 44.1 kHz: feed what it would have heard during this block.
            const double due = pumped + n * (static_cast<double>(kRecordingSampleRate) / kOutputSampleRate);
            const auto frames = static_cast<std::size_t>(std::floor(due) - std::floor(pumped));
            capture_->pump(frames);
            pumped = due;
        }
        for (int i = 0; i < n; ++i) {
            mix[static_cast<std::size_t>(frame + i) * 2] = left[i];
            mix[static_cast<std::size_t>(frame + i) * 2 + 1] = right[i];
        }
    }
    // Whatever is due at the very end (a dump at the last instant, say).
    clock_.set(script_.length);
    loop_.runDue();
    while (next < script_.commands.size()) apply(script_.commands[next++]);
    if (view_->recording()) view_->recordingEnd();
    return ok_;
}

void Session::apply(const Command& c) {
    switch (c.kind) {
        case Command::Kind::Load:
            view_->loadFile(c.path.string());
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

void Session::writeSnapshot(const std::filesystem::path& path) {
    Renderer renderer;
    renderer.render(*view_->layer(), kSnapshotZoom, clock_.now());
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
