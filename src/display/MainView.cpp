#include "display/MainView.h"

#include <cmath>

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

// ---- Sample and slices ----

void MainView::loadFile(const std::string& path) {
    for (Playhead& v : playheads()) {
        if (v.active()) v.setFadeOut(true);
    }
    runLoop_.after(kLoadDelaySeconds, [this, path] { actuallyLoadFile(path); });
}

void MainView::actuallyLoadFile(const std::string& path) {
    const auto outcome = loader_.load(path);
    if (outcome == SampleLoader::Outcome::OpenFailed ||
        outcome == SampleLoader::Outcome::Refused) {
        return;
    }
    renderWaveform();
    if (playMode_ == Playhead::kSlicer) {
        createSlices();
        showSlices();
    }
}

void MainView::renderWaveform() {}  // Stub: the waveform display fills this in.

void MainView::showSlices() {}  // Stub: the slice display fills this in.

void MainView::setNumSlices(int n) {
    numSlices_ = n;
    if (playMode_ == Playhead::kSlicer) createSlices();
    showSlices();
}

void MainView::createSlices() {
    slices_.clear();
    if (numSlices_ == 1) {
        findSlices();
    } else if (numSlices_ >= 2) {
        divideEqually(slices_, numSlices_);
    }
}

void MainView::findSlices() { vornik::findSlices(slices_, sample(), touchBarSize_.x); }

Slice* MainView::getSliceAtPos(float x) { return sliceAtPos(slices_, x, touchBarSize_.x); }

// ---- end of sample and slices ----

}  // namespace vornik
