// The slice display: in slicer mode a marker at each slice's start and a hidden full-height flash
// rectangle over each slice; in tape mode three markers dividing the strip into quarters; nothing
// in looper and bow modes. Every call throws the old layers away and lays out new ones.

#include "display/DisplayConstants.h"
#include "display/MainView.h"

namespace vornik {
namespace {

// A layer placed by its bottom-left corner.
LayerPtr stripRect(double x, double width, double height, const Color& colour, float opacity) {
    auto layer = Layer::create();
    layer->setAnchorPoint({0.0, 0.0});
    layer->setBounds(Rect::make(0.0, 0.0, width, height));
    layer->setPosition({x, 0.0});
    layer->setBackgroundColor(colour);
    layer->setOpacity(opacity);
    return layer;
}

}  // namespace

void MainView::showSlices() {
    markersLayer_->removeAllSublayers();
    highlightsLayer_->removeAllSublayers();
    sliceLayers_.clear();

    const double width = touchBarSize_.x;
    const double H = layer_->bounds().size.height;
    switch (playMode_) {
        case Playhead::kLooper:
        case Playhead::kBow:
            return;
        case Playhead::kTape:
            for (int i = 1; i <= kTapeMarkers; ++i) {
                markersLayer_->addSublayer(stripRect(i * width * kTapeMarkerSpacing, kMarkerWidth,
                                                     H, kMarkerColour, 1.0f));
            }
            return;
        default:
            break;
    }

    if (slices_.empty()) return;
    setSliceEnds(slices_);  // each ends where the next starts, the last at 1; no flash
    sliceLayers_.reserve(slices_.size());
    for (const Slice& slice : slices_) {
        const float w = slice.end - slice.pos;
        const double x = static_cast<double>(slice.pos) * width;
        SliceLayers layers{
            stripRect(x, kMarkerWidth, H, kMarkerColour, 1.0f),
            stripRect(x, static_cast<double>(w) * width, H, kHighlightColour, 0.0f),
        };
        highlightsLayer_->addSublayer(layers.highlight);
        markersLayer_->addSublayer(layers.marker);
        sliceLayers_.push_back(std::move(layers));
    }
}

}  // namespace vornik
