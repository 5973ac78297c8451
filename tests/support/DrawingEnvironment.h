#pragma once
// For test binaries that draw: releases Cairo's and fontconfig's global caches after the last
// test, so LeakSanitizer sees a clean exit. Including this header registers it, once per binary.

#include <gtest/gtest.h>

#include "display/Renderer.h"

namespace vornik::test {

class DrawingEnvironment : public ::testing::Environment {
public:
    void TearDown() override { releaseDrawingCaches(); }
};

inline auto* const kDrawing = ::testing::AddGlobalTestEnvironment(new DrawingEnvironment);

}  // namespace vornik::test
