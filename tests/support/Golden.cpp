#include "support/Golden.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sstream>

namespace vornik::test {
namespace {

std::string envOr(const char* name, const std::string& fallback) {
    const char* v = std::getenv(name);
    return v && *v ? v : fallback;
}

// Channels compared premultiplied, so that nearly transparent pixels count as nearly equal.
int difference(Rgba8 a, Rgba8 b) {
    auto pre = [](int c, int alpha) { return (c * alpha + 127) / 255; };
    return std::max({std::abs(pre(a.r, a.a) - pre(b.r, b.a)),
                     std::abs(pre(a.g, a.a) - pre(b.g, b.a)),
                     std::abs(pre(a.b, a.a) - pre(b.b, b.a)), std::abs(a.a - b.a)});
}

}  // namespace

std::string compareImages(const Image& image, const Image& reference, GoldenTolerance tolerance) {
    if (reference.width() != image.width() || reference.height() != image.height()) {
        return "the sizes differ";
    }
    long different = 0;
    int worst = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const int d = difference(image.pixel(x, y), reference.pixel(x, y));
            worst = std::max(worst, d);
            if (d > tolerance.channel) ++different;
        }
    }
    if (different <= tolerance.differentPixels * image.width() * image.height()) return {};
    std::ostringstream s;
    s << different << " pixels differ by more than " << tolerance.channel << " (largest difference "
      << worst << ")";
    return s.str();
}

std::string compareWithGolden(const Image& image, const std::string& name,
                              GoldenTolerance tolerance) {
    namespace fs = std::filesystem;
    const char* update = std::getenv("VORNIK_UPDATE_GOLDENS");
    if (update && std::string(update) == "1") {
        const fs::path path =
            fs::path(envOr("VORNIK_SOURCE_DIR", ".")) / "tests" / "data" / (name + ".png");
        fs::create_directories(path.parent_path());
        if (!image.writePng(path.string())) return "cannot write golden " + path.string();
        return {};
    }
    const fs::path goldenPath = fs::path(envOr("VORNIK_TEST_DATA", "tests/data")) / (name + ".png");
    const fs::path actualPath = fs::temp_directory_path() /
                                ("vornik-" + fs::path(name).filename().string() + "-actual.png");
    auto fail = [&](const std::string& what) {
        image.writePng(actualPath.string());
        return what + " (drawn picture: " + actualPath.string() +
               "; VORNIK_UPDATE_GOLDENS=1 rewrites the golden)";
    };
    const auto golden = Image::loadPng(goldenPath.string());
    if (!golden) return fail("no golden picture " + goldenPath.string());
    const std::string differs = compareImages(image, *golden, tolerance);
    return differs.empty() ? differs : fail(differs + " in " + goldenPath.string());
}

}  // namespace vornik::test
