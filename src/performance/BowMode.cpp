// Bow mode: a finger sustains the sound at its point of the sample as a stream of overlapping
// grains; sliding scrubs the point. Only the position counts, not the finger's speed.

#include "display/MainView.h"
#include "display/Transaction.h"
#include "performance/PerformanceConstants.h"

namespace vornik {
namespace {

// The grain box: one grain's width of the sample on the strip, centred on the finger.
void placeGrainBox(Layer& box, double x, double fileRate, double length, double width,
                   double height) {
    const auto g = static_cast<float>((fileRate * performance::kGrainSeconds) * (width / length));
    box.setBounds(Rect::make(0.0, 0.0, g, height + 2.0 * performance::kRegionOverhang));
    box.setPosition({x - g * 0.5, -performance::kRegionOverhang});
}

}  // namespace

void MainView::bowTouchDown(Point p, TouchId touch) {
    if (!hasSampleToPlay()) return;
    // The frame comes from the layer's width, the box from the measured one; until both are
    // known a finger has no place in the sample.
    const double layerWidth = layer_->bounds().size.width;
    const double width = touchBarWidth();
    if (!(layerWidth > 0.0) || !(width > 0.0)) return;

    Playhead* v = getFreePlayhead();
    if (v == nullptr) return;
    v->setMode(Playhead::kBow);
    v->setFadeOut(false);
    v->setTouchid(touch);
    v->secondTouch.reset();
    v->setAmp(performance::kHeldAmp);
    v->setEnvelope(0.0);
    v->setRate(getCurrentFilePlaybackRate());
    const auto len = static_cast<double>(audioFileLength());
    const double frame = len * (p.x / layerWidth);
    v->setPos(frame);
    v->setFrameStart(frame);
    v->setFrameEnd(frame);
    v->setBowAmp(0.0);
    v->setBowPos(frame + audioFileSampleRate() * -performance::kBowLeadSeconds);
    {
        TransactionScope transaction(true);
        placeGrainBox(*layersOf(*v).regionLayer, p.x, audioFileSampleRate(), len, width,
                      touchBarHeight());
    }
    startVoice(*v);
}

void MainView::bowTouchMoved(Point p, TouchId touch) {
    if (!hasSampleToPlay()) return;  // no length to size a grain by
    const double layerWidth = layer_->bounds().size.width;
    const double width = touchBarWidth();
    if (!(layerWidth > 0.0) || !(width > 0.0)) return;
    const auto len = static_cast<double>(audioFileLength());

    // Only the grain centre moves; the mixer takes it at its next grain handover.
    TransactionScope transaction(true);
    for (Playhead& v : playheads()) {
        if (v.touchid() != touch) continue;
        v.setFrameStart(len * (p.x / layerWidth));
        placeGrainBox(*layersOf(v).regionLayer, p.x, audioFileSampleRate(), len, width,
                      touchBarHeight());
    }
}

}  // namespace vornik
