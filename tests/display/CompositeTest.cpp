#include <cairo.h>
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "display/Composite.h"

using namespace vornik;

TEST(Composite, OverMatchesCairoToTheBit) {
    // Random premultiplied pixels (clear, opaque and between) over random ones, 37 columns wide
    // (the wide path and the tail), with a row repeated as a box's inside repeats its rows.
    constexpr int kWidth = 37, kHeight = 9;
    std::mt19937 random(7);
    auto pixel = [&random] {
        const std::uint32_t a = random() % 4 == 0 ? 0 : random() % 4 == 1 ? 255 : random() % 256;
        std::uint32_t p = a << 24;
        for (int shift = 0; shift < 24; shift += 8) p |= (a ? random() % (a + 1) : 0) << shift;
        return p;
    };
    cairo_surface_t* src = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, kWidth, kHeight);
    cairo_surface_t* dst = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, kWidth, kHeight);
    auto* s = reinterpret_cast<std::uint32_t*>(cairo_image_surface_get_data(src));
    auto* d = reinterpret_cast<std::uint32_t*>(cairo_image_surface_get_data(dst));
    const int ss = cairo_image_surface_get_stride(src) / 4,
              ds = cairo_image_surface_get_stride(dst) / 4;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            s[y * ss + x] = y == 5 ? s[4 * ss + x] : pixel();
            d[y * ds + x] = pixel();
        }
    }
    std::vector<std::uint32_t> ours(d, d + ds * kHeight);
    std::vector<const std::uint32_t*> rows;
    for (int y = 0; y < kHeight; ++y) rows.push_back(y == 5 ? s + 4 * ss : s + y * ss);
    compositeOver(rows.data(), 0, ours.data(), ds, kWidth, kHeight);

    cairo_surface_mark_dirty(src);
    cairo_surface_mark_dirty(dst);
    cairo_t* cr = cairo_create(dst);
    cairo_set_source_surface(cr, src, 0, 0);
    cairo_paint(cr);
    cairo_destroy(cr);
    cairo_surface_flush(dst);
    EXPECT_EQ(std::memcmp(ours.data(), d, ours.size() * 4), 0);
    cairo_surface_destroy(src);
    cairo_surface_destroy(dst);
}
