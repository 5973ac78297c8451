// The committed assets are what our own generators make: the pictures match their drawing and the
// demo sample matches its synthesis, so a change to either is noticed.

#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "app/Artwork.h"
#include "app/DemoSample.h"
#include "support/DrawingEnvironment.h"
#include "support/Files.h"
#include "support/Golden.h"

namespace vornik {
namespace {

std::filesystem::path assetsDir() { return test::sourcePath("assets"); }

TEST(ApplicationAssetsTest, PicturesAreTheGeneratorsDrawing) {
    ASSERT_EQ(artworkNames().size(), 15u);
    for (const std::string& name : artworkNames()) {
        SCOPED_TRACE(name);
        const auto drawn = drawArtwork(name);
        ASSERT_TRUE(drawn);
        const auto committed = Image::loadPng((assetsDir() / (name + ".png")).string());
        ASSERT_TRUE(committed) << "run scripts/make-assets.sh";
        // Text may differ by a shade where another machine rasterises a glyph edge.
        EXPECT_EQ(test::compareImages(*drawn, *committed, {8, 0.001}), "");
    }
    EXPECT_FALSE(drawArtwork("nothing@2x"));
    // The scalable icon is the generator's text, the same on every run.
    EXPECT_EQ(test::readText(assetsDir() / "icon.svg"), drawIconSvg())
        << "run scripts/make-assets.sh";

    // The window picture is the size the window lays out, and opaque; dimmed segments are faint.
    const auto light = drawArtwork("Window Background");
    EXPECT_EQ((std::pair{light->width(), light->height()}), (std::pair{1000, 500}));
    EXPECT_EQ(light->pixel(0, 0).a, 255);
    EXPECT_EQ(light->pixel(999, 499).a, 255);
    const auto maxAlpha = [](const std::string& name) {
        const auto image = drawArtwork(name);
        int alpha = 0;
        for (int y = 0; y < 60; ++y) {
            for (int x = 0; x < 60; ++x) alpha = std::max<int>(alpha, image->pixel(x, y).a);
        }
        return alpha;
    };
    EXPECT_EQ(maxAlpha("tape@2x"), 255);
    EXPECT_LT(maxAlpha("tape.disabled@2x"), 128);
}

TEST(ApplicationAssetsTest, DemoSampleIsItsSynthesis) {
    const std::vector<float> synthesized = synthesizeDemoSample();
    ASSERT_EQ(synthesized.size(), 2u * 132300u);
    float peak = 0.0f;
    for (float v : synthesized) peak = std::max(peak, std::fabs(v));
    EXPECT_NEAR(peak, 0.891f, 0.001f);               // -1 dBFS
    EXPECT_EQ(synthesizeDemoSample(), synthesized);  // the same on every run

    SF_INFO info{};
    SNDFILE* file = sf_open((assetsDir() / "demo.wav").c_str(), SFM_READ, &info);
    ASSERT_NE(file, nullptr) << "run scripts/make-assets.sh";
    EXPECT_EQ(info.samplerate, 44100);
    EXPECT_EQ(info.channels, 2);
    EXPECT_EQ(info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    std::vector<float> committed(synthesized.size());
    EXPECT_EQ(sf_readf_float(file, committed.data(), info.frames),
              static_cast<sf_count_t>(synthesized.size() / 2));
    sf_close(file);
    for (std::size_t i = 0; i < committed.size(); ++i) {
        ASSERT_NEAR(committed[i], synthesized[i], 1.0f / 32768.0f) << i;  // 16-bit rounding
    }

    // Drum hits on the beat: the first kick is loud within its first 20 ms.
    float kick = 0.0f;
    for (int i = 0; i < 882; ++i) kick = std::max(kick, std::fabs(synthesized[2 * i]));
    EXPECT_GT(kick, 0.3f);
}

}  // namespace
}  // namespace vornik
