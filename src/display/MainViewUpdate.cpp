// The per-frame update of the strip: it brings the picture up to date with the sound, and frees
// the voices whose sound has ended.

#include <cmath>
#include <cstdio>
#include <string>
#include <utility>

#include "base/Status.h"
#include "display/DisplayConstants.h"
#include "display/MainView.h"
#include "display/Transaction.h"

namespace vornik {

void MainView::setPresentationTime(double v) {
    // The stored value is never written, so every step of the tick (from 1 on) updates.
    if (v != presentationTime_) update();
}

void MainView::update() {
    Transaction::begin();
    Transaction::setDisableActions(true);  // every change of this frame shows at once
    if (recording()) updateMeter();
    updateVoices();
    updateSize();
    updateHighlights();
    updateOscilloscope();
    updateTake();
    Transaction::commit();
    Transaction::flush();
    // A replaced sample (230 MB for ten minutes) goes as soon as the audio thread let go of it.
    mixer_.sample().collect();
}

// The input level as a disc centred on the strip: 5 points across at silence, 3005 at full scale.
void MainView::updateMeter() {
    recorder_->updateMeters();
    const double p = recorder_->averagePowerForChannel(0);
    const auto s = static_cast<float>(std::pow(10.0, p / 20.0) * kMeterScale + kMeterFloor);
    const Size view = layer_->bounds().size;
    meterLayer_->setPosition({view.width * 0.5, view.height * 0.5});
    meterLayer_->setBounds(Rect::make(0.0, 0.0, s, s));
    meterLayer_->setCornerRadius(s * 0.5);

    // The status line counts the take's seconds.
    const auto seconds = static_cast<long>(runLoop_.now() - recordingSince_);
    if (recorder_->isRecording() && seconds != recordingShown_) {
        recordingShown_ = seconds;
        char text[64];
        std::snprintf(text, sizeof text, "Recording %ld:%02ld   (r stops)", seconds / 60,
                      seconds % 60);
        showStatus(text, StatusKind::recording);
    }
}

void MainView::updateVoices() {
    // With no file (a load that failed after its fade-out began) positions have nothing to map
    // to: the cursors stay where they are, the opacities and the switch-off still apply.
    const std::int64_t length = audioFileLength();
    const double width = touchBarSize_.x;
    for (std::size_t i = 0; i < kVoiceCount; ++i) {
        Playhead& voice = playheads()[i];
        VoiceLayers& layers = voiceLayers_[i];
        if (!voice.active()) {
            layers.cursor->setOpacity(0.0f);
            layers.bowCursor->setOpacity(0.0f);
            layers.speedLayer->setOpacity(0.0f);
            layers.regionLayer->setOpacity(0.0f);
            continue;
        }
        // One reading of what the mixer writes, so the opacities and the switch-off agree.
        const std::uint64_t now = mixer_.frameClock();  // first: the envelope is at least as new
        const double envelope = voice.envelope();
        const int mode = voice.mode();

        if (length > 0) layers.cursor->setPosition({voice.pos() / length * width, 0.0});
        layers.cursor->setOpacity(static_cast<float>(envelope));

        const bool boxed = mode == Playhead::kLooper || mode == Playhead::kBow;
        layers.regionLayer->setOpacity(boxed ? static_cast<float>(envelope * kRegionOpacityFactor)
                                             : 0.0f);

        if (mode == Playhead::kBow) {
            if (length > 0) layers.bowCursor->setPosition({voice.bowPos() / length * width, 0.0});
            layers.bowCursor->setOpacity(static_cast<float>(envelope));
        }

        layers.speedLayer->setOpacity(
            mode == Playhead::kTape
                ? static_cast<float>(layers.cursor->opacity() * kSpeedOpacityFactor)
                : 0.0f);

        // A voice told to fade, or whose finger has lifted, ends once the mixer has silenced it;
        // its layers go dark on the next frame. A timed note waits for its frames to pass.
        const bool due = voice.startFrame() <= now && voice.releaseFrame() <= now;
        if (envelope == 0.0 && due && (voice.fadeOut() || voice.touchid() == kNoTouch)) {
            voice.setActive(false);
        }
    }
}

// The strip's width is measured here: the first frame after the host sized the view, and after
// every change, re-lays the containers, re-centres the looper hint and redraws.
void MainView::updateSize() {
    const Rect bounds = layer_->bounds();
    if (touchBarSize_.x == bounds.size.width) return;
    touchBarSize_ = Point{bounds.size.width, bounds.size.height};
    // The containers live in the view layer's own space, so they cover its bounds (its frame
    // is in the host's space).
    waveform_->setFrame(bounds);
    markersLayer_->setFrame(bounds);
    highlightsLayer_->setFrame(bounds);
    oscLayer_->setFrame(bounds);
    looperAlert_->setPosition({touchBarSize_.x * 0.5, touchBarSize_.y * 0.5});
    renderWaveform();
    showSlices();
    if (loadOnceMeasured_ && touchBarSize_.x > 0.0) {
        const std::string path = std::move(*loadOnceMeasured_);
        loadFile(path);
    }
}

void MainView::updateHighlights() {
    for (std::size_t i = 0; i < slices_.size(); ++i) {
        Slice& slice = slices_[i];
        slice.highlightOpacity = static_cast<float>(slice.highlightOpacity * kHighlightDecay);
        if (!(slice.highlightOpacity > kHighlightFloor)) continue;
        if (i < sliceLayers_.size()) {
            sliceLayers_[i].highlight->setOpacity(
                static_cast<float>(slice.highlightOpacity * kHighlightOpacityFactor));
        }
    }
}

// The final mix as one polyline across the strip, centred on its midline. While recording the
// trace is left alone and the capture waits, so the first frame after recording draws the newest.
void MainView::updateOscilloscope() {
    if (recording()) return;
    takeOscilloscopeCapture();
    if (!oscNewData_) return;
    const Size view = layer_->bounds().size;
    const auto mid = static_cast<float>(view.height * 0.5);
    const double w = view.width;
    const int n = (oscL_ && oscR_) ? oscLength_ : 0;

    Path& path = oscLayer_->editPath();  // rebuilt in place: no allocation once it has grown
    path.clear();
    if (n > 0) {
        const auto dx = static_cast<float>(w / n);
        for (int i = 0; i < n; ++i) {
            const float sum = oscL_[i] + oscR_[i];
            const auto y = static_cast<float>(sum * kOscilloscopeGain * mid + mid);
            if (i == 0) {
                path.moveTo(0.0, y);
            } else {
                path.lineTo(static_cast<float>(i) * dx, y);
            }
        }
    }
    oscNewData_ = false;
}

}  // namespace vornik
