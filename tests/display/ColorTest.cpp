#include <gtest/gtest.h>

#include "display/Color.h"

using namespace vornik;

TEST(LabColor, ReferenceColoursGiveTheirLabValues) {
    const Lab white = rgb2lab(Color::white(1.0));
    EXPECT_DOUBLE_EQ(white.l, 100.0);  // fy narrows to exactly 1.0f
    EXPECT_NEAR(white.a, 0.0, 0.02);
    EXPECT_NEAR(white.b, 0.0, 0.02);

    const Lab black = rgb2lab(Color::white(0.0));
    EXPECT_NEAR(black.l, 0.0, 1e-6);
    EXPECT_EQ(black.a, 0.0);
    EXPECT_EQ(black.b, 0.0);

    const Lab red = rgb2lab(Color::rgba(1.0, 0.0, 0.0));
    EXPECT_NEAR(red.l, 53.23, 0.01);
    EXPECT_NEAR(red.a, 80.11, 0.01);
    EXPECT_NEAR(red.b, 67.22, 0.01);

    // Alpha is ignored on the way in and 1 on the way out.
    const Lab translucent = rgb2lab(Color::rgba(1.0, 0.0, 0.0, 0.25));
    EXPECT_EQ(translucent.l, red.l);
    EXPECT_EQ(lab2rgb(red).a, 1.0);
}

TEST(LabColor, RoundTripReturnsTheColourUnclamped) {
    // The waveform colours of every play mode, and a spread of the sRGB cube.
    const Color colours[] = {
        Color::rgba(0.06640625, 0.50390625, 0.9921875),
        Color::rgba(0.34765625, 0.95703125, 0.99609375),
        Color::rgba(0.82421875, 0.07421875, 0.1875),
        Color::rgba(0.82421875, 0.84765625, 0.1875),
        Color::rgba(0.078125, 0.91015625, 0.25390625),
        Color::rgba(0.99609375, 0.8828125, 0.12890625),
        Color::rgba(0.98828125, 0.53515625, 0.0),
        Color::rgba(0.984375, 0.9921875, 0.43359375),
        Color::rgba(0.0, 0.0, 1.0),
        Color::rgba(0.0, 1.0, 0.0),
        Color::rgba(0.002, 0.03, 0.5),  // components in the linear segments of both curves
    };
    for (const Color& c : colours) {
        const Color back = lab2rgb(rgb2lab(c));
        EXPECT_NEAR(back.r, c.r, 0.0005) << c.r << " " << c.g << " " << c.b;
        EXPECT_NEAR(back.g, c.g, 0.0005) << c.r << " " << c.g << " " << c.b;
        EXPECT_NEAR(back.b, c.b, 0.0005) << c.r << " " << c.g << " " << c.b;
        EXPECT_EQ(back.a, 1.0);
    }
    for (int i = 0; i <= 10; ++i) {
        const double v = i / 10.0;
        const Color c = Color::rgba(v, 1.0 - v, v * v);
        const Color back = lab2rgb(rgb2lab(c));
        EXPECT_NEAR(back.r, c.r, 0.0005);
        EXPECT_NEAR(back.g, c.g, 0.0005);
        EXPECT_NEAR(back.b, c.b, 0.0005);
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
    for (double c : {grey.r, grey.g, grey.b}) EXPECT_NEAR(c, 0.466, 0.0005);
    EXPECT_EQ(grey.a, 1.0);

    const Color plain = interpolateColor(black, white, 0.5f);
    EXPECT_EQ(plain.r, 0.5);
    EXPECT_EQ(plain.g, 0.5);
    EXPECT_EQ(plain.b, 0.5);
    EXPECT_EQ(plain.a, 1.0);

    // The ends give the colours themselves, with alpha 1.
    const Color blue = Color::rgba(0.06640625, 0.50390625, 0.9921875, 0.2);
    const Color cyan = Color::rgba(0.34765625, 0.95703125, 0.99609375);
    const Color atA = interpolateLabColor(blue, cyan, 0.0f);
    const Color atB = interpolateLabColor(blue, cyan, 1.0f);
    EXPECT_NEAR(atA.r, blue.r, 0.0005);
    EXPECT_NEAR(atA.g, blue.g, 0.0005);
    EXPECT_NEAR(atA.b, blue.b, 0.0005);
    EXPECT_EQ(atA.a, 1.0);
    EXPECT_NEAR(atB.r, cyan.r, 0.0005);
    EXPECT_NEAR(atB.g, cyan.g, 0.0005);
    EXPECT_NEAR(atB.b, cyan.b, 0.0005);
    EXPECT_EQ(interpolateColor(blue, cyan, 0.0f).r, blue.r);
    EXPECT_EQ(interpolateColor(blue, cyan, 1.0f).b, cyan.b);

    // t is not clamped: beyond the ends the blend extrapolates.
    EXPECT_GT(rgb2lab(interpolateLabColor(black, grey, 2.0f)).l, 99.9);
    EXPECT_DOUBLE_EQ(interpolateColor(black, white, -0.5f).r, -0.5);
}
