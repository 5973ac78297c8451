#pragma once
// Points, sizes, rectangles and affine transforms of the layer tree. Units are points, origin at
// the bottom-left, x to the right, y upward. Plain values: any thread.

#include "base/Touch.h"  // Point

namespace vornik {

struct Size {
    double width = 0.0;
    double height = 0.0;
    friend bool operator==(const Size&, const Size&) = default;
};

struct Rect {
    Point origin;
    Size size;

    static constexpr Rect make(double x, double y, double width, double height) {
        return Rect{Point{x, y}, Size{width, height}};
    }
    double minX() const { return origin.x; }
    double minY() const { return origin.y; }
    double maxX() const { return origin.x + size.width; }
    double maxY() const { return origin.y + size.height; }
    double midX() const { return origin.x + size.width * 0.5; }
    double midY() const { return origin.y + size.height * 0.5; }
    friend bool operator==(const Rect&, const Rect&) = default;
};

// x' = a x + c y + tx, y' = b x + d y + ty.
struct AffineTransform {
    double a = 1.0, b = 0.0, c = 0.0, d = 1.0, tx = 0.0, ty = 0.0;

    static constexpr AffineTransform identity() { return {}; }
    static constexpr AffineTransform scale(double sx, double sy) {
        return {sx, 0.0, 0.0, sy, 0.0, 0.0};
    }
    static constexpr AffineTransform translation(double dx, double dy) {
        return {1.0, 0.0, 0.0, 1.0, dx, dy};
    }
    constexpr Point apply(Point p) const {
        return Point{a * p.x + c * p.y + tx, b * p.x + d * p.y + ty};
    }
    friend bool operator==(const AffineTransform&, const AffineTransform&) = default;
};

}  // namespace vornik
