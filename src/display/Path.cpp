#include "display/Path.h"

#include <algorithm>

namespace vornik {

void Path::moveTo(double x, double y) {
    elements_.push_back(Element{Op::Move, {Point{x, y}, {}, {}}});
    hasCurrentPoint_ = true;
}

void Path::lineTo(double x, double y) {
    if (!hasCurrentPoint_) {
        moveTo(x, y);
        return;
    }
    elements_.push_back(Element{Op::Line, {Point{x, y}, {}, {}}});
}

void Path::curveTo(double c1x, double c1y, double c2x, double c2y, double x, double y) {
    if (!hasCurrentPoint_) moveTo(c1x, c1y);
    elements_.push_back(Element{Op::Curve, {Point{c1x, c1y}, Point{c2x, c2y}, Point{x, y}}});
}

void Path::closePath() {
    if (!hasCurrentPoint_) return;
    elements_.push_back(Element{Op::Close, {}});
}

void Path::transform(const AffineTransform& t) {
    for (Element& e : elements_) {
        const int n = e.op == Op::Curve ? 3 : (e.op == Op::Close ? 0 : 1);
        for (int i = 0; i < n; ++i) e.points[i] = t.apply(e.points[i]);
    }
}

Rect Path::boundingBox() const {
    bool any = false;
    double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    for (const Element& e : elements_) {
        const int n = e.op == Op::Curve ? 3 : (e.op == Op::Close ? 0 : 1);
        for (int i = 0; i < n; ++i) {
            const Point p = e.points[i];
            if (!any) {
                x0 = x1 = p.x;
                y0 = y1 = p.y;
                any = true;
            }
            x0 = std::min(x0, p.x);
            x1 = std::max(x1, p.x);
            y0 = std::min(y0, p.y);
            y1 = std::max(y1, p.y);
        }
    }
    return Rect::make(x0, y0, x1 - x0, y1 - y0);
}

}  // namespace vornik
