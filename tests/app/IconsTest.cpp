#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "app/Icons.h"
#include "support/DrawingEnvironment.h"
#include "support/Golden.h"

using namespace vornik;

namespace {

[[maybe_unused]] auto* const kDrawing =
    ::testing::AddGlobalTestEnvironment(new test::DrawingEnvironment);

using Op = Path::Op;

void expectPoint(Point p, double x, double y, const char* what) {
    EXPECT_DOUBLE_EQ(p.x, x) << what;
    EXPECT_DOUBLE_EQ(p.y, y) << what;
}

// The stroked path of a path icon: the container's one shape layer, white, 1.5 wide, round.
Path pathOf(const LayerPtr& icon) {
    EXPECT_EQ(icon->sublayers().size(), 1u);
    if (icon->sublayers().size() != 1u) return {};
    const Layer& l = *icon->sublayers().front();
    EXPECT_EQ(l.kind(), Layer::Kind::Shape);
    const auto& s = static_cast<const ShapeLayer&>(l);
    EXPECT_EQ(s.strokeColor(), Color::white(1.0));
    EXPECT_FALSE(s.fillColor().isVisible());
    EXPECT_EQ(s.lineWidth(), 1.5);
    EXPECT_EQ(s.lineCap(), LineCap::Round);
    EXPECT_EQ(s.lineJoin(), LineJoin::Round);
    return s.path();
}

struct Line {
    double x, y0, y1;
};

std::vector<Line> linesOf(const Path& p) {
    std::vector<Line> lines;
    const auto& e = p.elements();
    for (std::size_t i = 0; i + 1 < e.size(); i += 2) {
        EXPECT_EQ(e[i].op, Op::Move);
        EXPECT_EQ(e[i + 1].op, Op::Line);
        EXPECT_EQ(e[i].points[0].x, e[i + 1].points[0].x);
        lines.push_back({e[i].points[0].x, e[i].points[0].y, e[i + 1].points[0].y});
    }
    EXPECT_EQ(e.size() % 2, 0u);
    return lines;
}

}  // namespace

TEST(IconPaths, AttackAndDecayRamps) {
    // At 0 the bend is 17: the ramp hugs the bottom and turns up steeply next to x = 9.
    Path a = attackPath(0.0f);
    ASSERT_EQ(a.size(), 3u);
    EXPECT_EQ(a.elements()[0].op, Op::Move);
    expectPoint(a.elements()[0].points[0], -11.7, -9, "attack start");
    ASSERT_EQ(a.elements()[1].op, Op::Curve);
    expectPoint(a.elements()[1].points[0], 17.0 - 11.7, -9, "attack control 1");
    expectPoint(a.elements()[1].points[1], 9, 9.0 - 17.0, "attack control 2");
    expectPoint(a.elements()[1].points[2], 9, 9, "attack peak");
    EXPECT_EQ(a.elements()[2].op, Op::Line);
    expectPoint(a.elements()[2].points[0], 9, -9, "attack drop");

    // At 1 the bend is 0.85 (as a float): nearly a straight diagonal.
    const double k1 = static_cast<float>(17.0 * (1.0 - 0.95));
    EXPECT_NEAR(k1, 0.85, 1e-6);
    Path a1 = attackPath(1.0f);
    expectPoint(a1.elements()[1].points[0], k1 - 11.7, -9, "attack 1 control 1");
    expectPoint(a1.elements()[1].points[1], 9, 9.0 - k1, "attack 1 control 2");

    // Decay: up the left edge, then the curve falls at once and runs along the bottom.
    Path d = decayPath(0.0f);
    ASSERT_EQ(d.size(), 3u);
    expectPoint(d.elements()[0].points[0], -9, -9, "decay start");
    EXPECT_EQ(d.elements()[1].op, Op::Line);
    expectPoint(d.elements()[1].points[0], -9, 9, "decay top");
    ASSERT_EQ(d.elements()[2].op, Op::Curve);
    expectPoint(d.elements()[2].points[0], -9, 9.0 - 17.0, "decay control 1");
    expectPoint(d.elements()[2].points[1], 11.7 - 17.0, -9, "decay control 2");
    expectPoint(d.elements()[2].points[2], 11.7, -9, "decay end");

    // The attack ramp is the decay ramp mirrored and reversed, at every setting.
    for (float v : {0.0f, 0.3f, 1.0f}) {
        Path mirrored = decayPath(v);
        mirrored.transform(AffineTransform::scale(-1, 1));
        const auto& m = mirrored.elements();
        const Path attack = attackPath(v);
        const auto& at = attack.elements();
        expectPoint(at[0].points[0], m[2].points[2].x, m[2].points[2].y, "mirror start");
        expectPoint(at[1].points[0], m[2].points[1].x, m[2].points[1].y, "mirror c1");
        expectPoint(at[1].points[1], m[2].points[0].x, m[2].points[0].y, "mirror c2");
        expectPoint(at[1].points[2], m[1].points[0].x, m[1].points[0].y, "mirror peak");
    }
}

TEST(IconPaths, FilterCurves) {
    // v = 0: the peak at -6.75, the pass band at the single-precision 6.3.
    Path lp = lowpassPath(0.0f, false);
    ASSERT_EQ(lp.size(), 3u);
    expectPoint(lp.elements()[0].points[0], -9, 6.3f, "start");
    EXPECT_EQ(lp.elements()[0].points[0].y, 6.300000190734863);
    expectPoint(lp.elements()[1].points[0], -9, 6.3f, "rise c1");
    expectPoint(lp.elements()[1].points[1], -7.75, 9, "rise c2");
    expectPoint(lp.elements()[1].points[2], -6.75, 9, "peak");
    expectPoint(lp.elements()[2].points[0], -5.75, 9, "fall c1");
    expectPoint(lp.elements()[2].points[1], -8, -9, "fall c2");
    expectPoint(lp.elements()[2].points[2], 9, -9, "stop band");

    // Flipped: the same curve mirrored, the peak at 6.75.
    Path hp = lowpassPath(0.0f, true);
    expectPoint(hp.elements()[0].points[0], 9, 6.3f, "flipped start");
    expectPoint(hp.elements()[1].points[2], 6.75, 9, "flipped peak");
    expectPoint(hp.elements()[2].points[2], -9, -9, "flipped end");

    // Above 0.6 the whole curve shifts right: v = 1 gives b = 6.75 and s = 6.
    Path top = lowpassPath(1.0f, false);
    const float s = static_cast<float>((1.0f - 0.6) * 15.0);
    EXPECT_NEAR(s, 6.0f, 1e-5);
    expectPoint(top.elements()[1].points[2], s + 6.75f, 9, "shifted peak");
    expectPoint(top.elements()[2].points[2], s + 9.0f, -9, "shifted end");

    // Filter value 0.5: v = 5/9, b = 0.75, s = 0; 1.5 is the same curve mirrored.
    const Path half = pathOf(filterIconLayer(0.5));
    const auto& h = half.elements();
    ASSERT_EQ(h.size(), 3u);
    EXPECT_NEAR(h[1].points[2].x, 0.75, 1e-6);  // s + b, s = 0
    EXPECT_NEAR(h[1].points[0].x, 16.0 * 5.0 / 9.0 - 9.0, 1e-5);
    Path mirrored = half;
    mirrored.transform(AffineTransform::scale(-1, 1));
    EXPECT_EQ(pathOf(filterIconLayer(1.5)), mirrored);

    // At 1 the filter is off: a flat line at 6.3. At 0 and 2, v = 0 both ways.
    const Path flatPath = pathOf(filterIconLayer(1.0));
    const auto& flat = flatPath.elements();
    ASSERT_EQ(flat.size(), 2u);
    expectPoint(flat[0].points[0], -9, 6.3, "flat start");
    expectPoint(flat[1].points[0], 9, 6.3, "flat end");
    EXPECT_EQ(pathOf(filterIconLayer(0.0)), lowpassPath(0.0f, false));
    EXPECT_EQ(pathOf(filterIconLayer(2.0)), lowpassPath(0.0f, true));

    // Only the middle 20 points show.
    LayerPtr icon = filterIconLayer(0.0);
    ASSERT_TRUE(icon->mask());
    EXPECT_DOUBLE_EQ(icon->mask()->frame().minX(), 5.0);
    EXPECT_DOUBLE_EQ(icon->mask()->frame().maxX(), 25.0);
    EXPECT_DOUBLE_EQ(icon->mask()->frame().size.height, 30.0);
}

TEST(IconPaths, DelayEchoesAndReverbDot) {
    // Delay 0, feedback 1: six full-height lines 3.5 points apart from x = -9.
    auto full = linesOf(pathOf(delayIconLayer(0.0, 1.0)));
    ASSERT_EQ(full.size(), 6u);
    const double xs[] = {-9, -5.5, -2, 1.5, 5, 8.5};
    for (std::size_t i = 0; i < full.size(); ++i) {
        EXPECT_DOUBLE_EQ(full[i].x, xs[i]);
        EXPECT_DOUBLE_EQ(full[i].y0, -9.0);
        EXPECT_DOUBLE_EQ(full[i].y1, 9.0);
    }

    // Delay 1, feedback 0: three lines at -9, -0.5 and 8; the first full, the last nearly nothing.
    auto fading = linesOf(pathOf(delayIconLayer(1.0, 0.0)));
    ASSERT_EQ(fading.size(), 3u);
    EXPECT_DOUBLE_EQ(fading[0].x, -9.0);
    EXPECT_DOUBLE_EQ(fading[1].x, -0.5);
    EXPECT_DOUBLE_EQ(fading[2].x, 8.0);
    EXPECT_DOUBLE_EQ(fading[0].y1, 9.0);
    EXPECT_GT(fading[1].y1, 0.0);
    EXPECT_LT(fading[1].y1, 9.0);
    EXPECT_GE(fading[2].y1, 0.0);
    EXPECT_LT(fading[2].y1, 1e-5);
    EXPECT_DOUBLE_EQ(fading[2].y0, -fading[2].y1);

    // Feedback up to 0.5 keeps the curve exponent at 1 (a straight fall), beyond it steepens:
    // at feedback 0.5 the middle line of three is half the loss down.
    auto half = linesOf(pathOf(delayIconLayer(1.0, 0.5)));
    ASSERT_EQ(half.size(), 3u);
    const float u = (-0.5f + 9.0f) / -18.0f + 1.0f;
    EXPECT_FLOAT_EQ(static_cast<float>(half[1].y1), 9.0f - 0.5f * (1.0f - u) * 9.0f);

    // Reverb: an opaque 3-point dot at 0, a 22-point dot at alpha 0.3 at 1, centred.
    for (auto [r, diameter, alpha] : {std::tuple{0.0, 3.0, 1.0}, std::tuple{1.0, 22.0, 0.3}}) {
        LayerPtr icon = reverbIconLayer(r);
        ASSERT_EQ(icon->sublayers().size(), 1u);
        const Layer& dot = *icon->sublayers().front();
        EXPECT_FLOAT_EQ(static_cast<float>(dot.bounds().size.width), static_cast<float>(diameter));
        EXPECT_DOUBLE_EQ(dot.bounds().size.width, dot.bounds().size.height);
        EXPECT_DOUBLE_EQ(dot.cornerRadius(), dot.bounds().size.width / 2);
        EXPECT_NEAR(dot.backgroundColor().a, alpha, 1e-6);
        EXPECT_DOUBLE_EQ(dot.frame().midX(), 15.0);
        EXPECT_DOUBLE_EQ(dot.frame().midY(), 15.0);
    }
}

TEST(IconImages, SixtyPixelsSquareWhiteOnTransparent) {
    const auto images = {attackIcon(0.5), decayIcon(0.5), filterIcon(0.3), delayIcon(0.5, 0.5),
                         reverbIcon(0.5)};
    for (const auto& image : images) {
        ASSERT_TRUE(image);
        EXPECT_EQ(image->width(), 60);
        EXPECT_EQ(image->height(), 60);
        EXPECT_EQ(image->pixel(0, 0).a, 0);  // the corners stay clear
        EXPECT_EQ(image->pixel(59, 59).a, 0);
    }

    // The attack ramp's straight drop at x = 9: pixel x 48, rows 12..48 (y from 9 down to -9).
    auto attack = attackIcon(0.0);
    EXPECT_EQ(attack->pixel(48, 30), (Rgba8{255, 255, 255, 255}));
    // The round join at the peak reaches 0.75 points (1.5 pixels) above (9, 9): into row 10.
    EXPECT_GT(attack->pixel(48, 10).a, 0);
    EXPECT_EQ(attack->pixel(48, 9).a, 0);

    // The reverb dot: opaque at 0; at 1 its middle is white at alpha 0.3.
    EXPECT_EQ(reverbIcon(0.0)->pixel(30, 30), (Rgba8{255, 255, 255, 255}));
    const Rgba8 faint = reverbIcon(1.0)->pixel(30, 30);
    EXPECT_NEAR(faint.a, 0.3 * 255, 1.5);
    EXPECT_EQ(reverbIcon(0.0)->pixel(30, 36).a, 0);  // 3 points across: gone 3 points out
    EXPECT_GT(reverbIcon(1.0)->pixel(30, 50).a, 0);  // 22 points across: there 10 points out

    // The filter mask: at 0 the curve runs out to x = -9 (pixel 12), but only x >= -10 shows.
    auto filter = filterIcon(0.0);
    for (int y = 0; y < 60; ++y) {
        for (int x = 0; x < 10; ++x) EXPECT_EQ(filter->pixel(x, y).a, 0) << x << "," << y;
    }
    bool inked = false;
    for (int y = 0; y < 60; ++y) inked = inked || filter->pixel(12, y).a > 0;
    EXPECT_TRUE(inked);
}

TEST(IconImages, Goldens) {
    struct Case {
        const char* name;
        std::shared_ptr<Image> image;
    };
    const Case cases[] = {
        {"attack-0", attackIcon(0.0)},        {"attack-1", attackIcon(1.0)},
        {"decay-0", decayIcon(0.0)},          {"decay-06", decayIcon(0.6)},
        {"filter-05", filterIcon(0.5)},       {"filter-2", filterIcon(2.0)},
        {"delay-0-fb1", delayIcon(0.0, 1.0)}, {"delay-1-fb0", delayIcon(1.0, 0.0)},
        {"reverb-0", reverbIcon(0.0)},        {"reverb-1", reverbIcon(1.0)},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(test::compareWithGolden(*c.image, std::string("app/icon-") + c.name), "")
            << c.name;
    }
}
