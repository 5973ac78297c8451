#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "app/Icons.h"
#include "support/DrawingEnvironment.h"
#include "support/Golden.h"

using namespace vornik;

namespace {

// A path as text: "M x y", "L x y", "C x1 y1 x2 y2 x y", to nine digits.
std::string str(const Path& p) {
    std::string s;
    for (const Path::Element& e : p.elements()) {
        const int n = e.op == Path::Op::Curve ? 3 : e.op == Path::Op::Close ? 0 : 1;
        s += std::string(s.empty() ? "" : " ") + "MLCZ"[static_cast<int>(e.op)];
        for (int i = 0; i < n; ++i) {
            char xy[64];
            std::snprintf(xy, sizeof xy, " %.9g %.9g", e.points[i].x, e.points[i].y);
            s += xy;
        }
    }
    return s;
}

// The stroked path of a path icon: the container's one shape layer.
Path pathOf(const LayerPtr& icon) {
    EXPECT_EQ(icon->sublayers().size(), 1u);
    const auto& s = static_cast<const ShapeLayer&>(*icon->sublayers().front());
    EXPECT_EQ(s.kind(), Layer::Kind::Shape);
    return s.path();
}

}  // namespace

TEST(Icons, PathsAndGoldens) {
    // The ramps at 0 are in the goldens; at 1 the bend is 0.85.
    EXPECT_EQ(attackPath(1.0f).elements()[1].points[0].x, double{0.85f} - 11.7);
    // The filter slider: at 1 a flat line (no filter); at 0 and 2 the curve with v = 0, plain
    // and flipped; 1.5 is 0.5 mirrored.
    EXPECT_EQ(str(pathOf(filterIconLayer(1.0))), "M -9 6.3 L 9 6.3");
    EXPECT_EQ(str(pathOf(filterIconLayer(0.0))),
              "M -9 6.30000019 C -9 6.30000019 -7.75 9 -6.75 9 C -5.75 9 -8 -9 9 -9");
    EXPECT_EQ(str(pathOf(filterIconLayer(2.0))),
              "M 9 6.30000019 C 9 6.30000019 7.75 9 6.75 9 C 5.75 9 8 -9 -9 -9");
    Path half = pathOf(filterIconLayer(0.5));  // v = 5/9: b = 0.75
    half.transform(AffineTransform::scale(-1, 1));
    EXPECT_EQ(pathOf(filterIconLayer(1.5)), half);
    // Delay 0, feedback 1: six full-height lines 3.5 points apart (delay 1 in the golden).
    EXPECT_EQ(str(pathOf(delayIconLayer(0.0, 1.0))),
              "M -9 -9 L -9 9 M -5.5 -9 L -5.5 9 M -2 -9 L -2 9 M 1.5 -9 L 1.5 9 M 5 -9 L 5 9 "
              "M 8.5 -9 L 8.5 9");
    // Reverb: an opaque 3-point dot at 0, a 22-point dot at alpha 0.3 at 1, centred.
    for (auto [r, diameter, alpha] : {std::tuple{0.0, 3.0, 1.0}, std::tuple{1.0, 22.0, 0.3}}) {
        const auto icon = reverbIconLayer(r);  // holds the dot
        const Layer& dot = *icon->sublayers().at(0);
        EXPECT_EQ(dot.frame(),
                  Rect::make(15 - diameter / 2, 15 - diameter / 2, diameter, diameter));
        EXPECT_NEAR(dot.backgroundColor().a, alpha, 1e-6);
    }
    // 60 x 60 pixels, white on transparent; one setting of each icon.
    const std::pair<const char*, std::shared_ptr<Image>> cases[] = {
        {"attack-0", attackIcon(0.0)},  {"decay-0", decayIcon(0.0)},
        {"filter-05", filterIcon(0.5)}, {"delay-1-fb0", delayIcon(1.0, 0.0)},
        {"reverb-1", reverbIcon(1.0)},
    };
    for (const auto& [name, image] : cases) {
        EXPECT_EQ(test::compareWithGolden(*image, std::string("app/icon-") + name), "") << name;
    }
}
