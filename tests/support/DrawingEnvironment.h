#pragma once
// For test binaries that draw: releases Cairo's and fontconfig's global caches after the last
// test, so LeakSanitizer sees a clean exit. Register it once per binary:
//   static auto* const kDrawing = ::testing::AddGlobalTestEnvironment(new
//   test::DrawingEnvironment);

#include <gtest/gtest.h>

#include "display/Renderer.h"

namespace vornik::test {

class DrawingEnvironment : public ::testing::Environment {
public:
    void TearDown() override { releaseDrawingCaches(); }
};

}  // namespace vornik::test
