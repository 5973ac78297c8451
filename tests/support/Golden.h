#pragma once
// Golden pictures: a rendered image compared with a reference PNG under tests/data, with a
// tolerance. VORNIK_UPDATE_GOLDENS=1 rewrites the references in the source tree instead.

#include <ostream>
#include <string>

#include "display/Image.h"

namespace vornik {

// Pixels print as r,g,b,a in test failures.
inline void PrintTo(const Rgba8& p, std::ostream* os) {
    *os << int{p.r} << "," << int{p.g} << "," << int{p.b} << "," << int{p.a};
}

}  // namespace vornik

namespace vornik::test {

struct GoldenTolerance {
    int channel = 8;                 // largest difference of one 8-bit channel that still matches
    double differentPixels = 0.005;  // fraction of pixels allowed to differ by more than that
};

// Empty when the two pictures match; otherwise how they differ.
std::string compareImages(const Image& image, const Image& reference,
                          GoldenTolerance tolerance = {});

// Empty when `image` matches tests/data/<name>.png (or the golden was rewritten); otherwise what
// differs, with the path of the picture that was drawn, saved for inspection.
std::string compareWithGolden(const Image& image, const std::string& name,
                              GoldenTolerance tolerance = {});

}  // namespace vornik::test
