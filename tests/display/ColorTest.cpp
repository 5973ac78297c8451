#include <gtest/gtest.h>

#include "MainViewTestSupport.h"
#include "display/Color.h"
#include "display/DisplayConstants.h"

using namespace vornik;
using test::expectColour;

TEST(LabColor, ReferenceColoursGiveTheirLabValues) {
    const Lab white = rgb2lab(Color::white(1.0));
    EXPECT_DOUBLE_EQ(white.l, 100.0);  // fy narrows to exactly 1.0f
    EXPECT_NEAR(white.a, 0.0, 0.02);
    EXPECT_NEAR(white.b, 0.0, 0.02);

    const Lab black = rgb2lab(Color::white(0.0));
    EXPECT_NEAR(black.l, 0.0, 1e-6);
    EXPECT_EQ(black.a, 0.0);
    EXPECT_EQ(black.b, 0.0);

    const Lab red = rgb2lab(Color::rgba(1.0, 0.0, 0.0, 0.25));  // alpha is ignored
    EXPECT_NEAR(red.l, 53.23, 0.01);
    EXPECT_NEAR(red.a, 80.11, 0.01);
    EXPECT_NEAR(red.b, 67.22, 0.01);
    EXPECT_EQ(lab2rgb(red).a, 1.0);
}

TEST(LabColor, RoundTripReturnsTheColourUnclamped) {
    // The waveform colours, a spread of the sRGB cube, and components in the linear segments.
    std::vector<Color> colours = {Color::rgba(0.0, 0.0, 1.0), Color::rgba(0.002, 0.03, 0.5)};
    for (const auto& p : {kSlicerWaveform, kLooperWaveform, kBowWaveform, kTapeWaveform}) {
        colours.insert(colours.end(), {p.few, p.most});
    }
    for (int i = 0; i <= 10; ++i) {
        const double v = i / 10.0;
        colours.push_back(Color::rgba(v, 1.0 - v, v * v));
    }
    for (const Color& c : colours) {
        SCOPED_TRACE(testing::Message() << c.r << " " << c.g << " " << c.b);
        expectColour(lab2rgb(rgb2lab(c)), c, 0.0005);
    }
    // White comes back a hair above 1, and stays there: nothing is clamped.
    const Color white = lab2rgb(rgb2lab(Color::white(1.0)));
    for (double c : {white.r, white.g, white.b}) {
        EXPECT_GT(c, 1.0);
        EXPECT_LT(c, 1.0001);
    }
}

TEST(LabColor, BlendsThroughLabAndOnComponents) {
    const Color black = Color::white(0.0, 0.3), white = Color::white(1.0, 0.6);
    const Color grey = interpolateLabColor(black, white, 0.5f);
    EXPECT_NEAR(rgb2lab(grey).l, 50.0, 0.001);
    expectColour(grey, Color::white(0.466), 0.0005);
    EXPECT_EQ(interpolateColor(black, white, 0.5f), Color::white(0.5));

    // The ends give the colours themselves, with alpha 1; t is not clamped.
    const Color blue = Color::rgba(0.06640625, 0.50390625, 0.9921875, 0.2);
    const Color cyan = Color::rgba(0.34765625, 0.95703125, 0.99609375);
    expectColour(interpolateLabColor(blue, cyan, 0.0f), Color::rgba(blue.r, blue.g, blue.b), 5e-4);
    expectColour(interpolateLabColor(blue, cyan, 1.0f), cyan, 0.0005);
    EXPECT_EQ(interpolateColor(blue, cyan, 0.0f), Color::rgba(blue.r, blue.g, blue.b));
    EXPECT_GT(rgb2lab(interpolateLabColor(black, grey, 2.0f)).l, 99.9);
    EXPECT_DOUBLE_EQ(interpolateColor(black, white, -0.5f).r, -0.5);
}
