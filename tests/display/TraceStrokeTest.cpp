// The oscilloscope's stroke, covered column by column, against Cairo's own stroke of the same
// polyline.

#include <cairo.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "display/TraceStroke.h"

using namespace vornik;

namespace {

constexpr int kWidth = 600, kHeight = 60;

// Cairo's coverage of the stroke (butt caps, miter limit 10), one byte a pixel.
std::vector<std::uint8_t> cairoStroke(const std::vector<Point>& points, double width, bool miter) {
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_A8, kWidth, kHeight);
    cairo_t* cr = cairo_create(surface);
    for (const Point& p : points) cairo_line_to(cr, p.x, p.y);
    cairo_set_line_width(cr, width);
    cairo_set_miter_limit(cr, 10.0);
    cairo_set_line_join(cr, miter ? CAIRO_LINE_JOIN_MITER : CAIRO_LINE_JOIN_BEVEL);
    cairo_stroke(cr);
    cairo_surface_flush(surface);
    std::vector<std::uint8_t> out(kWidth * kHeight);
    const int stride = cairo_image_surface_get_stride(surface);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            out[y * kWidth + x] = cairo_image_surface_get_data(surface)[y * stride + x];
        }
    }
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
    return out;
}

}  // namespace

TEST(TraceStroke, CoversWhatCairosStrokeCovers) {
    // A sine, quiet noise, and noise far past the strip's edges (64 voices at once), 2 pixels
    // apart and 3 wide as the oscilloscope draws them; miter and bevel joins.
    // Cairo samples rows and this columns: they differ by a few levels at the edges, most where
    // the edges are near vertical (the wild noise).
    struct Case {
        double amplitude;
        bool noise, miter;
        int worst;        // of 255
        int overPer1000;  // covered pixels more than 16 apart (8 in a channel at the trace's 0.5)
    };
    for (const Case c : {Case{20, false, true, 8, 5}, Case{12, true, true, 10, 5},
                         Case{300, true, true, 32, 10}, Case{12, true, false, 10, 5}}) {
        SCOPED_TRACE(testing::Message() << c.amplitude << (c.noise ? " noise" : " sine"));
        std::vector<Point> points;
        unsigned seed = 7;
        for (int i = 0; i < 280; ++i) {
            seed = seed * 1103515245u + 12345u;
            const double noise = ((seed >> 8) & 0xffff) / 65536.0 - 0.5;
            const double v = c.noise ? 2.0 * noise : std::sin(i * 0.07);
            points.push_back({4.0 + 2.1 * i, 30.0 + c.amplitude * v});
        }
        const auto expected = cairoStroke(points, 3.0, c.miter);
        TraceStroke trace;
        ASSERT_TRUE(trace.draw(points, 1.5, c.miter, 10.0, PixelBox{0, 0, kWidth, kHeight}));
        const PixelBox& box = trace.box();
        int worst = 0, over = 0, covered = 0;
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                const bool inside = x >= box.x0 && x < box.x1 && y >= box.y0 && y < box.y1;
                const int mine =
                    inside ? trace.data()[(y - box.y0) * trace.stride() + x - box.x0] : 0;
                const int theirs = expected[y * kWidth + x];
                covered += mine > 0 || theirs > 0;
                worst = std::max(worst, std::abs(mine - theirs));
                over += std::abs(mine - theirs) > 16;
            }
        }
        EXPECT_LE(worst, c.worst);
        EXPECT_LE(over * 1000, covered * c.overPer1000);
    }

    // Not a trace: refused, so the caller strokes it its own way. Outside the clip: nothing.
    TraceStroke trace;
    const PixelBox all{0, 0, kWidth, kHeight};
    EXPECT_FALSE(trace.draw({{0, 0}}, 1.5, true, 10, all));
    EXPECT_FALSE(trace.draw({{0, 0}, {5, 5}, {5, 9}}, 1.5, true, 10, all));  // x must grow
    EXPECT_FALSE(trace.draw({{0, 0}, {5, std::nan("")}}, 1.5, true, 10, all));
    EXPECT_FALSE(trace.draw({{0, 0}, {5, 5}}, 0.0, true, 10, all));
    EXPECT_TRUE(trace.draw({{0, -50}, {5, -40}}, 1.5, true, 10, all));
    EXPECT_TRUE(trace.box().isEmpty());

    // The same trace again keeps its coverage; another trace, width or clip is covered anew.
    const std::vector<Point> a{{0, 10}, {5, 20}, {9, 12}}, b{{0, 10}, {5, 24}, {9, 12}};
    ASSERT_TRUE(trace.draw(a, 1.5, true, 10, all));
    const PixelBox boxA = trace.box();
    const std::vector<std::uint8_t> maskA(trace.data(),
                                          trace.data() + trace.stride() * boxA.height());
    ASSERT_TRUE(trace.draw(b, 1.5, true, 10, all));
    EXPECT_GT(trace.box().y1, boxA.y1);
    ASSERT_TRUE(trace.draw(a, 1.5, true, 10, all));
    EXPECT_EQ(trace.box(), boxA);
    EXPECT_TRUE(std::equal(maskA.begin(), maskA.end(), trace.data()));
    ASSERT_TRUE(trace.draw(a, 2.5, true, 10, all));
    EXPECT_GT(trace.box().height(), boxA.height());
    ASSERT_TRUE(trace.draw(a, 2.5, true, 10, PixelBox{0, 0, 4, kHeight}));
    EXPECT_EQ(trace.box().x1, 4);
}
