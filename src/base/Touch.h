#pragma once
// A finger on the strip, as the strip delivers it to the instrument.

#include <cstdint>

namespace vornik {

// Identity of one finger for its whole life on the strip; 0 means "no touch".
using TouchId = std::uint64_t;
inline constexpr TouchId kNoTouch = 0;

struct Point {
    double x = 0.0;
    double y = 0.0;
    friend bool operator==(const Point&, const Point&) = default;
};

struct Touch {
    TouchId identity = kNoTouch;
    Point location;          // strip points, origin bottom-left, y up
    Point previousLocation;  // where the finger was at the previous event
    friend bool operator==(const Touch&, const Touch&) = default;
};

}  // namespace vornik
