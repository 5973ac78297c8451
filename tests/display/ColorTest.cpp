#include <gtest/gtest.h>

#include "MainViewTestSupport.h"
#include "display/Color.h"

using namespace vornik;
using test::expectColour;

TEST(LabColor, ReferenceValuesRoundTripAndBlends) {
    const Lab red = rgb2lab(Color::rgba(1.0, 0.0, 0.0, 0.25));  // alpha is ignored
    EXPECT_NEAR(red.l, 53.23, 0.01);
    EXPECT_NEAR(red.a, 80.11, 0.01);
    EXPECT_NEAR(red.b, 67.22, 0.01);
    EXPECT_EQ(lab2rgb(red).a, 1.0);
    EXPECT_NEAR(rgb2lab(Color::white(1.0)).l, 100.0, 1e-9);
    // Round trips, in the linear segments too; nothing is clamped.
    for (int i = 0; i <= 10; ++i) {
        const Color c = Color::rgba(i / 10.0, 1.0 - i / 10.0, 0.002 + i * i / 100.0);
        expectColour(lab2rgb(rgb2lab(c)), c, 0.0005);
    }
    EXPECT_GT(lab2rgb(rgb2lab(Color::white(1.0))).r, 1.0);
    // Blends run through Lab or on components, alpha 1, t not clamped.
    const Color black = Color::white(0.0, 0.3), white = Color::white(1.0, 0.6);
    const Color grey = interpolateLabColor(black, white, 0.5f);
    EXPECT_NEAR(rgb2lab(grey).l, 50.0, 0.001);
    expectColour(grey, Color::white(0.466), 0.0005);
    EXPECT_EQ(interpolateColor(black, white, 0.5f), Color::white(0.5));
    const Color blue = Color::rgba(0.06640625, 0.50390625, 0.9921875, 0.2);
    const Color cyan = Color::rgba(0.34765625, 0.95703125, 0.99609375);
    expectColour(interpolateLabColor(blue, cyan, 0.0f), Color::rgba(blue.r, blue.g, blue.b), 5e-4);
    EXPECT_GT(rgb2lab(interpolateLabColor(black, grey, 2.0f)).l, 99.9);
    EXPECT_DOUBLE_EQ(interpolateColor(black, white, -0.5f).r, -0.5);
}
