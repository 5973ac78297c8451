// Looper mode: two fingers set the ends of a loop that repeats while both stay down. A lone finger
// waits as the free touch for a partner; when one finger of a loop lifts, the other waits again.
//
// A touch value carries the location of the event it came from. A loop keeps the touch values of
// both its fingers and replaces each at that finger's every move; the free touch is not
// refreshed, so a waiting finger counts where it was when it began to wait.

#include <algorithm>
#include <cmath>

#include "display/MainView.h"
#include "display/Transaction.h"
#include "performance/PerformanceConstants.h"

namespace vornik {
namespace {

bool holds(const std::optional<Touch>& slot, TouchId identity) {
    return slot.has_value() && slot->identity == identity;
}

}  // namespace

void MainView::looperTouchDown(Point p, const Touch& touch) {
    if (!hasSampleToPlay()) return;  // the finger is not kept either
    const double width = touchBarWidth();
    if (!(width > 0.0)) return;  // nor before the strip has been measured
    if (!freeTouch_) {
        freeTouch_ = touch;
        return;
    }
    // A finger cannot be its own partner (the same identity landing twice).
    if (freeTouch_->identity == touch.identity) return;
    const double xf = freeTouch_->location.x;

    Playhead* v = getFreePlayhead();
    if (v == nullptr) return;  // the free touch keeps waiting; this finger is not kept
    v->setMode(Playhead::kLooper);
    v->setFadeOut(false);
    v->setTouchid(touch.identity);
    v->secondTouch.reset();
    v->setAmp(performance::kHeldAmp);
    v->setEnvelope(0.0);
    v->setRate(getCurrentFilePlaybackRate());
    // Left finger first; a finger level with the waiting one counts as left of it.
    if (p.x > xf) {
        v->firstTouch = freeTouch_;
        v->secondTouch = touch;
    } else {
        v->firstTouch = touch;
        v->secondTouch = freeTouch_;
    }
    const double x1 = v->firstTouch->location.x;
    const double x2 = v->secondTouch->location.x;
    const auto len = static_cast<double>(audioFileLength());
    const double start = x1 / width * len;
    v->setFrameStart(start);
    v->setPos(start);
    v->setFrameEnd(x2 / width * len);
    v->setLooperPos(0.0);
    v->setLooperCrossfade(Mixer::kLooperIdle);
    startVoice(*v);

    freeTouch_.reset();

    {
        TransactionScope transaction(true);
        const LayerPtr& box = layersOf(*v).regionLayer;
        box->setBounds(Rect::make(0.0, 0.0, std::fabs(p.x - xf),
                                  touchBarHeight() + 2.0 * performance::kRegionOverhang));
        box->setPosition({x1, -performance::kRegionOverhang});
    }

    // The first loop made answers the hint for good (until looper mode is chosen again).
    if (alertTimer_) alertTimer_->invalidate();
    alertTimer_.reset();
    looperAlert_->setOpacity(0.0f);
}

void MainView::looperTouchMoved(Point, const Touch& touch) {
    const double width = touchBarWidth();
    if (!(width > 0.0)) return;
    const auto len = static_cast<double>(audioFileLength());
    const double boxHeight = touchBarHeight() + 2.0 * performance::kRegionOverhang;

    TransactionScope transaction(true);
    for (Playhead& v : playheads()) {
        const bool first = holds(v.firstTouch, touch.identity);
        const bool second = holds(v.secondTouch, touch.identity);
        if (!first && !second) continue;
        if (first) v.firstTouch = touch;
        if (second) v.secondTouch = touch;
        // A voice that was started anew in another mode keeps only half of its old pair: it is
        // no loop, and its frames are not the looper's to change.
        if (!v.firstTouch || !v.secondTouch) continue;

        auto x1 = static_cast<float>(v.firstTouch->location.x);
        auto x2 = static_cast<float>(v.secondTouch->location.x);
        // Close fingers: the ends move in 0.32 points for every point below 150, so the loop
        // shrinks 1.64 times as fast as the spacing and turns around near 58.5 points.
        const float d = x2 - x1;
        if (d < performance::kLooperNarrowingSpacing) {
            const auto c = static_cast<float>((performance::kLooperNarrowingSpacing - d) *
                                              performance::kLooperNarrowing);
            x1 = x1 + c;
            x2 = x2 - c;
        }
        v.setFrameStart(x1 / width * len);
        v.setFrameEnd(x2 / width * len);

        const LayerPtr& box = layersOf(v).regionLayer;
        box->setBounds(Rect::make(0.0, 0.0, std::fabs(x1 - x2), boxHeight));
        box->setPosition({x2 > x1 ? x1 : x2, -performance::kRegionOverhang});
    }
}

void MainView::looperTouchEnded(Point, const Touch& touch) {
    if (holds(freeTouch_, touch.identity)) {
        freeTouch_.reset();  // the waiting finger lifted
        return;
    }
    for (Playhead& v : playheads()) {
        const bool first = holds(v.firstTouch, touch.identity);
        if (!first && !holds(v.secondTouch, touch.identity)) continue;
        // The partner waits, where it was last seen; a finger that waited before is dropped. A
        // partner that lifted while another mode was playing is gone and cannot wait.
        const std::optional<Touch>& partner = first ? v.secondTouch : v.firstTouch;
        if (partner && std::find(activeTouches_.begin(), activeTouches_.end(), partner->identity) !=
                           activeTouches_.end()) {
            freeTouch_ = partner;
        }
        v.setTouchid(kNoTouch);
        v.firstTouch.reset();
        v.secondTouch.reset();
    }
}

}  // namespace vornik
