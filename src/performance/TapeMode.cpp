// Tape mode: the strip is a speed control for a tape loop of the whole sample, standing still at
// the centre, forward on the right, backward on the left, twice the normal speed at the ends.

#include <cmath>

#include "display/MainView.h"
#include "display/Transaction.h"
#include "performance/PerformanceConstants.h"

namespace vornik {
namespace {

// File frames per output frame for a finger at x. Transposition does not apply here, and
// nothing is clamped: beyond the strip's ends the tape runs faster still.
double tapeRate(double x, double width, double fileRate) {
    return ((x - width * 0.5) / (width * performance::kTapeNormalSpeedSpan)) *
           (fileRate / kOutputSampleRate);
}

// The speed bar spans from the finger to the centre, on whichever side the finger is; its top
// edge (the anchor) stays at `top`.
void placeSpeedBar(Layer& bar, double x, double width, double top) {
    const double centre = width * 0.5;
    const double length = std::fabs(centre - x);
    bar.setBounds(Rect::make(0.0, 0.0, length, performance::kSpeedBarHeight));
    bar.setPosition({centre > x ? centre - length : centre, top});
}

}  // namespace

void MainView::tapeTouchDown(Point p, TouchId touch) {
    if (!hasSampleToPlay()) return;
    const double width = touchBarWidth();
    if (!(width > 0.0)) return;  // unmeasured: there is no centre yet

    Playhead* v = getFreePlayhead();
    if (v == nullptr) return;
    v->setMode(Playhead::kTape);
    v->setFadeOut(false);
    v->setTouchid(touch);
    v->secondTouch.reset();
    v->setAmp(performance::kHeldAmp);
    v->setEnvelope(0.0);
    v->setPos(0.0);
    v->setFrameStart(0.0);
    v->setFrameEnd(fileBufferLength());
    v->setRate(tapeRate(p.x, width, audioFileSampleRate()));
    {
        TransactionScope transaction(true);
        // Bars stack downward from the top, one row per voice already sounding, six deep.
        const int sounding = activePlayheads();  // this voice is not on yet
        const double top = touchBarHeight() - performance::kSpeedBarTopMargin -
                           performance::kSpeedBarSpacing * (sounding % performance::kSpeedBarRows);
        placeSpeedBar(*layersOf(*v).speedLayer, p.x, width, top);
    }
    startVoice(*v);
}

void MainView::tapeTouchMoved(Point p, TouchId touch) {
    const double width = touchBarWidth();
    if (!(width > 0.0)) return;
    const double fileRate = audioFileSampleRate();

    TransactionScope transaction(true);
    for (Playhead& v : playheads()) {
        if (v.touchid() != touch) continue;
        v.setRate(tapeRate(p.x, width, fileRate));
        Layer& bar = *layersOf(v).speedLayer;
        placeSpeedBar(bar, p.x, width, bar.position().y);  // the bar keeps its row
    }
}

}  // namespace vornik
