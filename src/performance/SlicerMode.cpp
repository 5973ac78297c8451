// Slicer mode: every slice is a pad. A finger plays its slice once, louder the nearer it landed to
// the slice's left edge; sliding into another slice releases the sound and plays that one.

#include <cmath>
#include <cstdint>

#include "display/MainView.h"
#include "performance/PerformanceConstants.h"

namespace vornik {
namespace {

// A frame number from a product, truncated toward zero. Products outside the 32-bit range (a
// finger beyond the strip's ends) saturate rather than wrap; NaN gives 0.
template <class F>
std::uint32_t truncateToFrame(F value) {
    if (!(value > F(0))) return 0;
    if (value >= F(4294967296.0)) return UINT32_MAX;
    return static_cast<std::uint32_t>(value);
}

}  // namespace

void MainView::playSlice(std::uint32_t start, std::uint32_t length, float amplitude,
                         TouchId touch) {
    if (!hasSampleToPlay()) return;
    Playhead* v = getFreePlayhead();
    if (v == nullptr) return;
    v->setMode(Playhead::kSlicer);
    v->setFadeOut(false);
    v->setTouchid(touch);
    v->secondTouch.reset();
    v->setAmp(amplitude);
    v->setEnvelope(0.0);
    v->setRate(getCurrentFilePlaybackRate());
    v->setPos(start);
    v->setFrameStart(start);
    v->setFrameEnd(static_cast<std::uint32_t>(start + length));  // the 32-bit sum, widened
    startVoice(*v);
}

void MainView::slicerTouchDown(Point p, TouchId touch) {
    const double width = touchBarWidth();
    if (!(width > 0.0)) return;  // the strip has not been measured: no place to map x to
    const std::int64_t len = audioFileLength();

    if (!slices_.empty()) {
        Slice* slice = getSliceAtPos(static_cast<float>(p.x));
        if (slice == nullptr) return;
        slice->highlightOpacity = 1.0f;
        const double u = p.x / width;
        const float span = slice->end - slice->pos;
        // The finger's place in the slice: 0 at its start, 1 at its end.
        const auto r = static_cast<float>((u - slice->pos) / span);
        const auto lenf = static_cast<float>(len);
        const std::uint32_t start = truncateToFrame(lenf * slice->pos);
        const std::uint32_t length = truncateToFrame(lenf * span);
        const auto amplitude = static_cast<float>((1.0f - r) * performance::kSlicerAmpSpan +
                                                  performance::kSlicerAmpFloor);
        // A slice whose end has not been laid out has no extent to place the finger in; its
        // loudness would not be a number and would poison the mix.
        if (!std::isfinite(amplitude)) return;
        playSlice(start, length, amplitude, touch);
    } else {
        // No slices: from the finger to the end of the sample.
        const double u = p.x / width;
        const std::uint32_t start = truncateToFrame(static_cast<double>(len) * u);
        const auto length = static_cast<std::uint32_t>(len - start);
        playSlice(start, length, performance::kUnslicedAmp, touch);
    }
}

void MainView::slicerTouchMoved(Point p, Point previous, TouchId touch) {
    if (numSlices_ == 0) return;
    if (!(touchBarWidth() > 0.0)) return;
    Slice* now = getSliceAtPos(static_cast<float>(p.x));
    Slice* before = getSliceAtPos(static_cast<float>(previous.x));
    if (now == before) return;  // sliding within a slice changes nothing

    for (Playhead& v : playheads()) {
        if (v.touchid() == touch) v.setTouchid(kNoTouch);
    }
    // Left of the first start there is no slice: it counts as starting and ending at 0, which
    // starts a silent voice that the mixer switches off at once.
    const float fromPos = before != nullptr ? before->pos : 0.0f;
    const float toPos = now != nullptr ? now->pos : 0.0f;
    const float toEnd = now != nullptr ? now->end : 0.0f;
    const float amplitude =
        fromPos > toPos ? performance::kSlideLeftAmp : performance::kSlideRightAmp;
    const auto lenf = static_cast<float>(audioFileLength());
    playSlice(truncateToFrame(lenf * toPos), truncateToFrame(lenf * (toEnd - toPos)), amplitude,
              touch);
    if (now != nullptr) now->highlightOpacity = 1.0f;
}

}  // namespace vornik
