#pragma once
// A path of move, line and cubic-curve segments, for shape layers. Thread: any, one thread at a
// time per path.
//
// clear() keeps the storage, so a path rebuilt every frame (the oscilloscope trace) allocates
// only while it grows past its largest size so far.

#include <cstddef>
#include <vector>

#include "display/Geometry.h"

namespace vornik {

class Path {
public:
    enum class Op : unsigned char { Move, Line, Curve, Close };

    struct Element {
        Op op;
        Point points[3];  // Move/Line: [0]; Curve: control 1, control 2, end; Close: none
        friend bool operator==(const Element&, const Element&) = default;
    };

    Path() = default;

    void moveTo(double x, double y);
    void lineTo(double x, double y);  // without a current point it acts as a move
    void curveTo(double c1x, double c1y, double c2x, double c2y, double x, double y);
    void closePath();

    // Applies `t` to every point added so far (e.g. a mirror: scale(-1, 1)).
    void transform(const AffineTransform& t);

    void clear() {
        elements_.clear();
        hasCurrentPoint_ = false;
    }
    void reserve(std::size_t elements) { elements_.reserve(elements); }
    bool isEmpty() const { return elements_.empty(); }
    std::size_t size() const { return elements_.size(); }
    const std::vector<Element>& elements() const { return elements_; }

    // The smallest rectangle holding every point, control points included; zero if empty.
    Rect boundingBox() const;

    friend bool operator==(const Path& a, const Path& b) { return a.elements_ == b.elements_; }

private:
    std::vector<Element> elements_;
    bool hasCurrentPoint_ = false;
};

}  // namespace vornik
