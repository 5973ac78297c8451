// Touch dispatch, the voice pool and the play mode: fingers on the strip reach the handlers of the
// current play mode, take voices from the pool and give them back when they lift.

#include <algorithm>
#include <cmath>

#include "base/Log.h"
#include "display/MainView.h"
#include "display/Transaction.h"
#include "performance/PerformanceConstants.h"

namespace vornik {
namespace {

// The strip's measured size, whichever of a point or a size holds it.
template <class S>
double widthOf(const S& s) {
    if constexpr (requires { s.width; }) {
        return s.width;
    } else {
        return s.x;
    }
}

template <class S>
double heightOf(const S& s) {
    if constexpr (requires { s.height; }) {
        return s.height;
    } else {
        return s.y;
    }
}

// A touch without an identity could never be told apart from "no touch" in a voice: it is
// dropped. One whose location is not a number is listed and released, but plays nothing.
bool hasIdentity(const Touch& t) {
    if (t.identity != kNoTouch) return true;
    logLine("Touch without an identity ignored");
    return false;
}

bool hasLocation(const Touch& t) {
    if (std::isfinite(t.location.x) && std::isfinite(t.location.y)) return true;
    logLine("Touch at a location that is not a number ignored");
    return false;
}

}  // namespace

double MainView::touchBarWidth() const { return widthOf(touchBarSize_); }

double MainView::touchBarHeight() const { return heightOf(touchBarSize_); }

bool MainView::hasSampleToPlay() const { return hasAudioFile() && audioFileLength() > 0; }

MainView::VoiceLayers& MainView::layersOf(const Playhead& voice) {
    return voiceLayers_[static_cast<std::size_t>(&voice - playheads().data())];
}

void MainView::handleTouchEvent(const TouchEvent& event) {
    if (!event.began.empty()) touchesBegan(event);
    if (!event.moved.empty()) touchesMoved(event);
    if (!event.ended.empty()) touchesEnded(event);
    if (!event.cancelled.empty()) touchesCancelled(event);
}

void MainView::touchesBegan(const TouchEvent& event) {
    for (const Touch& t : event.began) {
        if (!hasIdentity(t)) continue;
        if (std::find(activeTouches_.begin(), activeTouches_.end(), t.identity) ==
            activeTouches_.end()) {
            activeTouches_.push_back(t.identity);
        }
        if (!hasLocation(t)) continue;
        const Point p = t.location;
        switch (playMode_) {
            case Playhead::kSlicer:
                slicerTouchDown(p, t.identity);
                break;
            case Playhead::kLooper:
                looperTouchDown(p, t);
                break;
            case Playhead::kBow:
                bowTouchDown(p, t.identity);
                break;
            case Playhead::kTape:
                tapeTouchDown(p, t.identity);
                break;
            default:
                break;
        }
    }
}

void MainView::touchesMoved(const TouchEvent& event) {
    // Move handlers find their voices by the finger alone: a voice started in another mode is
    // steered by the current mode's handler.
    for (const Touch& t : event.moved) {
        if (!hasIdentity(t) || !hasLocation(t)) continue;
        const Point p = t.location;
        switch (playMode_) {
            case Playhead::kSlicer:
                slicerTouchMoved(p, t.previousLocation, t.identity);
                break;
            case Playhead::kLooper:
                looperTouchMoved(p, t);
                break;
            case Playhead::kBow:
                bowTouchMoved(p, t.identity);
                break;
            case Playhead::kTape:
                tapeTouchMoved(p, t.identity);
                break;
            default:
                break;
        }
    }
}

void MainView::touchesEnded(const TouchEvent& event) {
    for (const Touch& t : event.ended) {
        if (hasIdentity(t)) touchEnded(t);
    }
}

void MainView::touchesCancelled(const TouchEvent& event) {
    for (const Touch& t : event.cancelled) {
        if (hasIdentity(t)) touchEnded(t);
    }
}

void MainView::touchEnded(const Touch& touch) {
    // The looper hands the partner of a lifting finger on before the loop is released.
    if (playMode_ == Playhead::kLooper) looperTouchEnded(touch.location, touch);
    // Every voice the finger holds, whatever its mode and whether it still sounds.
    for (Playhead& v : playheads()) {
        if (v.touchid() != touch.identity) continue;
        v.setReleaseFrame(touchFrame_);
        v.setTouchid(kNoTouch);
    }
    const auto it = std::find(activeTouches_.begin(), activeTouches_.end(), touch.identity);
    if (it != activeTouches_.end()) activeTouches_.erase(it);
    // Only a finger that is down can wait for a partner, whatever mode it lifted in.
    if (freeTouch_ && freeTouch_->identity == touch.identity) freeTouch_.reset();
}

Playhead* MainView::getFreePlayhead() {
    for (Playhead& v : playheads()) {
        if (!v.active()) return &v;
    }
    logLine("Ran out of playheads!");
    return nullptr;
}

void MainView::startVoice(Playhead& voice) {
    voice.setStartFrame(touchFrame_);
    voice.setReleaseFrame(0);
    voice.setActive(true);
    outputRecorder_.markCue();
}

int MainView::activePlayheads() const {
    const VoicePool& pool = mixer_.playheads();
    return static_cast<int>(
        std::count_if(pool.begin(), pool.end(), [](const Playhead& v) { return v.active(); }));
}

void MainView::setPlayMode(int mode) {
    playMode_ = mode;
    // A pending hint is cancelled in every case, so that only the latest choice of looper mode
    // can show it (a stray earlier timer would show it after a loop was made).
    if (alertTimer_) alertTimer_->invalidate();
    alertTimer_.reset();
    if (mode == Playhead::kLooper) {
        alertTimer_ =
            runLoop_.scheduleTimer(performance::kLooperHintDelay, [this] { showLooperAlert(); });
    } else {
        looperAlert_->setOpacity(0.0f);
    }
    renderWaveform();  // its colours depend on the mode
    if (playMode_ == Playhead::kSlicer) {
        createSlices();
        showSlices();
    }
}

void MainView::showLooperAlert() {
    TransactionScope transaction;
    Transaction::setAnimationDuration(performance::kLooperHintFadeDuration);
    looperAlert_->setOpacity(1.0f);
}

}  // namespace vornik
