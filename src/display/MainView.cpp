#include "display/MainView.h"

#include <cmath>

#include "base/Log.h"

namespace vornik {
namespace {

// The envelope times never go below the shortest ramp the controls can set; a value that is not
// a number would poison every envelope it touches, so it is refused.
constexpr double kShortestEnvelope = 0.005;

}  // namespace

MainView::MainView(RunLoop& runLoop) : runLoop_(runLoop) {}

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
    if (!recorder_->record()) logLine("ERROR: audioRecorder record audio");
    // [display] show the level meter: meterLayer opacity 1
    // [display] clear the oscilloscope trace: oscLayer path none
    // [display] remove every sublayer of markersLayer and of waveform
}

void MainView::recordingEnd() {
    setRecording(false);
    recorder_->stop();  // the file is complete and closed when this returns
    // [display] hide the level meter: meterLayer opacity 0
    // [sample] loadFile(recordURL())
    // [slices] createSlices() then showSlices(), at once, from the current state
}

}  // namespace vornik
