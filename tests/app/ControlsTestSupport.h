#pragma once
// Fingers and the mouse on the strip's controls.

#include <gtest/gtest.h>

#include "app/Controls.h"
#include "support/DrawingEnvironment.h"

namespace vornik::test {

inline constexpr TouchId kFinger = 11;
inline constexpr TouchId kFinger2 = 12;
inline constexpr TouchId kMouse = 0x7fff'0000'0000'0001;  // the mouse is a finger of its own

inline Touch at(TouchId id, double x) { return Touch{id, {x, 15.0}, {x, 15.0}}; }

}  // namespace vornik::test
