#include "app/AudioBackend.h"

#include "audio/AudioDevice.h"
#include "base/Log.h"
#include "base/Status.h"
#include "display/MainView.h"

namespace vornik {

AudioBackend::AudioBackend(RunLoop& runLoop, const ApplicationOptions& options)
    : runLoop_(runLoop), choice_(options.audio), sdlBufferFrames_(options.bufferFrames) {
    jackSettings_.clientName = options.clientName;
    jackSettings_.connect = options.connect;
}

AudioBackend::~AudioBackend() { stop(); }

void AudioBackend::start(MainView& view) {
    view_ = &view;
    if (choice_ != AudioChoice::Sdl && openJack(choice_ == AudioChoice::Auto)) {
        schedulePoll();
        return;
    }
    if (choice_ == AudioChoice::Auto) logLine("no JACK server running: sound through SDL audio");
    view.startAudioDevice(sdlBufferFrames_);
    if (choice_ == AudioChoice::Jack) showStatus("No JACK server: playing through SDL audio");
}

void AudioBackend::setMidiSink(MidiEventSink* sink) {
    midiSink_ = sink;
    if (jack_) jack_->setMidiSink(sink);
}

void AudioBackend::stop() {
    if (jack_) jack_->setMidiSink(nullptr);
    if (pollTimer_) pollTimer_->invalidate();
    pollTimer_.reset();
    view_ = nullptr;
    jack_ = nullptr;
}

bool AudioBackend::openJack(bool quiet) {
    JackSettings options = jackSettings_;
    options.quietWithoutServer = quiet;
    auto device = std::make_unique<JackDevice>(view_->audioGraph(), options);
    device->setMidiSink(midiSink_);
    JackDevice* raw = device.get();
    if (!view_->setAudioDevice(std::move(device))) {
        view_->setAudioDevice(nullptr);
        return false;
    }
    jack_ = raw;
    view_->setRecorder(
        std::make_unique<Recorder>(std::filesystem::path{}, jack_->makeCaptureSource()));
    return true;
}

void AudioBackend::useSdl(const std::string& why) {
    jack_ = nullptr;
    view_->setAudioDevice(nullptr);  // the JACK client goes before SDL audio opens
    view_->startAudioDevice(sdlBufferFrames_);
    showStatus(why);
    // A take under way keeps its file; the microphone switches over when it ends.
    sdlRecorderPending_ = true;
}

void AudioBackend::schedulePoll() {
    pollTimer_ = runLoop_.scheduleTimer(kPollSeconds, [this] {
        poll();
        if (jack_ || sdlRecorderPending_) schedulePoll();
    });
}

void AudioBackend::poll() {
    if (!view_) return;
    if (sdlRecorderPending_ && !view_->recording()) {
        view_->setRecorder(std::make_unique<Recorder>());
        sdlRecorderPending_ = false;
    }
    if (!jack_) return;
    const JackDevice::Events e = jack_->takeEvents();
    if (e.serverLost) {
        logf("JACK server gone (%s): sound through SDL audio from now on", e.reason.c_str());
        useSdl("JACK server gone: playing through SDL audio");
        return;
    }
    if (e.sampleRate > 0.0) {
        logf("JACK: the server now runs at %.0f Hz; reconnecting", e.sampleRate);
        if (!jack_->reopen()) {
            useSdl("JACK rate change failed: playing through SDL audio");
            return;
        }
        showStatus("JACK now at " + std::to_string(static_cast<int>(e.sampleRate)) + " Hz",
                   StatusKind::info);
    }
    if (e.bufferFrames > 0) {
        logf("JACK: the period is now %d frames", e.bufferFrames);
        showStatus("JACK period now " + std::to_string(e.bufferFrames) + " frames",
                   StatusKind::info);
    }
    xrunsUnshown_ += e.xruns;
    if (xrunsUnshown_ > 0 && runLoop_.now() - lastXrunShown_ >= kXrunReportSeconds) {
        const std::string count = std::to_string(xrunsUnshown_);
        logf("JACK: %s xrun%s (periods the server missed)", count.c_str(),
             xrunsUnshown_ == 1 ? "" : "s");
        showStatus(xrunsUnshown_ == 1 ? "JACK xrun: the sound dropped out"
                                      : "JACK xruns: the sound dropped out " + count + " times");
        xrunsUnshown_ = 0;
        lastXrunShown_ = runLoop_.now();
    }
}

}  // namespace vornik
