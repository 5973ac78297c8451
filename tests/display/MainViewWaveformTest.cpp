// The waveform bars: columns and frames per column, their spans and colours per play mode, and
// samples that are short, silent, odd or missing.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "MainViewTestSupport.h"
#include "display/DisplayConstants.h"
#include "display/WaveformScan.h"

using namespace vornik;
using test::Strip;

namespace {

// A bar of the 30-point strip: 2 points wide, anchored at its left middle.
void expectBar(const Layer& bar, double x, double y, double height) {
    EXPECT_EQ(bar.anchorPoint(), (Point{0.0, 0.5}));
    EXPECT_EQ(bar.bounds().size.width, 2.0);
    EXPECT_DOUBLE_EQ(bar.position().x, x);
    EXPECT_DOUBLE_EQ(bar.position().y, y);
    EXPECT_DOUBLE_EQ(bar.bounds().size.height, height);
}

}  // namespace

TEST(Waveform, ColumnsCoverFixedStretchesAndBarsSpanTheChannelsThatCount) {
    // 685 points: 228 columns; 44,100 frames: 193 per column, covering frames 0 to 44,003.
    Strip strip(685, 30);
    std::vector<float> v(44100, 0.0f);
    v[192] = 0.5f;     // last frame of column 0
    v[193] = -0.5f;    // first frame of column 1
    v[44003] = 1.0f;   // last frame of the last column: the peak
    v[44060] = -2.0f;  // beyond the columns: not examined
    strip.loadAndMeasure(test::snapshotOf(v));
    ASSERT_EQ(strip.bars().size(), 228u);
    // From the midline plus lo x H/2 to the midline plus hi x H/2, plus 0.5 point.
    expectBar(*strip.bars()[0], 2, 18.75, 8.0);
    expectBar(*strip.bars()[1], 5, 11.25, 8.0);
    expectBar(*strip.bars()[2], 8, 15.0, 0.5);
    expectBar(*strip.bars()[227], 683, 22.5, 15.5);
    // Column 1 holds the only crossings: the second colour.
    test::expectColour(strip.bars()[1]->backgroundColor(), kSlicerWaveform.most, 0.001);
    test::expectColour(strip.bars()[0]->backgroundColor(), kSlicerWaveform.few, 0.001);
    // 9 points: 3 columns of 100 frames. Stereo: the spans take both channels.
    const std::size_t n = 300;
    std::vector<float> left(n, 0.25f), right(n, 0.0f);
    right[150] = -0.5f;
    right[160] = 0.5f;
    Strip stereo(9, 30);
    stereo.loadAndMeasure(test::snapshotOf(left, right));
    ASSERT_EQ(stereo.bars().size(), 3u);
    expectBar(*stereo.bars()[0], 2, 18.75, 8.0);
    expectBar(*stereo.bars()[1], 5, 15.0, 30.5);
    // The crossings count on the first channel only.
    test::expectColour(stereo.bars()[1]->backgroundColor(), kSlicerWaveform.few, 0.001);
    // Three channels: only the first counts, so it reaches the top everywhere.
    std::shared_ptr<float[]> planes(new float[3 * n]);
    std::copy(left.begin(), left.end(), planes.get());
    std::fill(planes.get() + n, planes.get() + 3 * n, 0.9f);
    Strip three(9, 30);
    three.loadAndMeasure(makeLoadedSnapshot(planes, n, 3, 44100.0));
    for (const auto& bar : three.bars()) expectBar(*bar, bar->position().x, 22.5, 15.5);
}

TEST(Waveform, ShortEmptyNarrowAndOddSamplesDrawSafely) {
    // 1,030 frames: 5 per column, so columns 206 on lie past the end and draw as silence.
    Strip strip(685, 30);
    std::vector<float> v(1030, 0.0f);
    v[1029] = 1.0f;
    strip.loadAndMeasure(test::snapshotOf(v));
    ASSERT_EQ(strip.bars().size(), 228u);
    expectBar(*strip.bars()[205], 617, 22.5, 15.5);
    for (std::size_t c = 206; c < 228; ++c) expectBar(*strip.bars()[c], 3.0 * c + 2, 15, 0.5);
    // Fewer frames than half the columns: flat lines.
    strip.load(test::snapshotOf(std::vector<float>(100, 0.7f)));
    strip.view.renderWaveform();
    ASSERT_EQ(strip.bars().size(), 228u);
    for (const auto& bar : strip.bars()) expectBar(*bar, bar->position().x, 15, 0.5);
    // No file, or no frames: the previous drawing stays.
    const Layer* first = strip.bars()[0].get();
    strip.load(std::make_unique<SampleSnapshot>());
    strip.view.renderWaveform();
    strip.load(test::snapshotOf({}));
    strip.view.renderWaveform();
    EXPECT_EQ(strip.bars()[0].get(), first);
    // Too narrow for one column: the bars go.
    strip.load(test::snapshotOf(test::sine(1000, 10, 0.5f)));
    strip.view.setTouchBarSize({1.0, 30.0});
    strip.view.renderWaveform();
    EXPECT_TRUE(strip.bars().empty());
    // Not-a-number values take part in nothing: the bars stay finite and inside.
    std::vector<float> odd = test::sine(44100, 50, 0.5f);
    for (std::size_t i = 0; i < odd.size(); i += 7) odd[i] = std::nanf("");
    strip.load(test::snapshotOf(odd));
    strip.view.setTouchBarSize({685.0, 30.0});
    strip.view.renderWaveform();
    ASSERT_EQ(strip.bars().size(), 228u);
    for (const auto& bar : strip.bars()) {
        EXPECT_LE(bar->frame().maxY(), 30.25 + 1e-9);
        EXPECT_GE(bar->frame().minY(), -0.25 - 1e-9);
        EXPECT_TRUE(std::isfinite(bar->backgroundColor().r));
    }
}

TEST(WaveformScan, VectorLoopCountsExactlyAsTheFrameByFrameRules) {
    std::mt19937 random(7);
    std::uniform_real_distribution<float> level(-1.0f, 1.0f);
    std::vector<float> a(2000), b(2000);
    for (std::size_t i = 0; i < a.size(); ++i) {
        const int kind = static_cast<int>(random() % 10);
        a[i] = kind == 0 ? 0.0f : kind == 1 ? -0.0f : level(random);
        b[i] = level(random) * 1.5f;
    }
    a[517] = b[900] = std::numeric_limits<float>::quiet_NaN();
    const std::size_t bounds[][2] = {{0, 0},     {0, 7},      {0, 9},       {3, 20},
                                     {500, 530}, {511, 2000}, {1999, 2000}, {893, 907}};
    for (const auto& [begin, end] : bounds) {
        for (const bool stereo : {false, true}) {
            SCOPED_TRACE(testing::Message() << begin << ".." << end << (stereo ? " stereo" : ""));
            float hi = 0.0f, lo = 0.0f;
            std::uint32_t crossings = 0;
            for (std::size_t i = begin; i < end; ++i) {
                for (const float x : {a[i], stereo ? b[i] : 0.0f}) hi = x > hi ? x : hi;
                for (const float x : {a[i], stereo ? b[i] : 0.0f}) lo = x < lo ? x : lo;
                if (i > 0 && ((a[i] >= 0 && a[i - 1] < 0) || (a[i] <= 0 && a[i - 1] > 0))) {
                    ++crossings;
                }
            }
            const ColumnScan s =
                scanWaveformColumn(a.data(), stereo ? b.data() : nullptr, begin, end);
            EXPECT_EQ(s.hi, hi);
            EXPECT_EQ(s.lo, lo);
            EXPECT_EQ(s.crossings, crossings);
        }
    }
}
