#pragma once
// The window above the strip: its picture, placed in the space the strip leaves, and the link
// button over it that lights up under the pointer. Plain C++ (the window feeds it points).
// Thread: main.

#include <memory>

#include "app/Appearance.h"
#include "display/Geometry.h"
#include "display/Layer.h"

namespace vornik {

// Where the picture lies in the window. The picture keeps its proportions and is centred in the
// space above the strip; at the window's starting size it fills that space one to one.
class PictureLayout {
public:
    // Sizes in window units; `pictureSize` in points (one point per window unit at scale 1).
    PictureLayout(Size windowSize, double stripHeight, Size pictureSize);

    // The picture's rectangle in window units, origin top-left, y down (SDL's way).
    Rect pictureRect() const { return rect_; }
    double scale() const { return scale_; }
    // A window point (y down) in the picture's own points (origin bottom-left, y up).
    Point toPicture(double x, double y) const;

private:
    Rect rect_;
    double scale_ = 1.0;
    Size picture_;
};

// The window's starting width in window units: the strip as wide as it was designed at `zoom`,
// within 95% of the screen's usable width (0: unknown), and never narrower than the picture unless
// the screen is.
int defaultWindowWidth(double zoom, int usableWidth);

// True exactly when p lies strictly inside the layer's frame around its position (a point on the
// edge is outside). The layer's anchor point is taken to be its centre.
bool hitTestLayer(const Layer& layer, Point p);

// The link button: a rounded box over the picture's link label, hidden until the pointer is over
// it. Its fades run on the layer clock (Transaction).
class LinkButton {
public:
    // `pictureWidth` in points: the button's centre is at (pictureWidth x 0.25, 16); 0 when the
    // window has no picture.
    LinkButton(Appearance appearance, double pictureWidth);

    const LayerPtr& layer() const { return layer_; }

    // The pointer moved to `p` (picture points): fades in over the button, out elsewhere.
    void mouseMoved(Point p);
    // A click at `p`: on the button it hides the button and returns true (the caller opens the
    // user guide); elsewhere it does nothing.
    bool mouseDown(Point p);

private:
    LayerPtr layer_;
};

}  // namespace vornik
