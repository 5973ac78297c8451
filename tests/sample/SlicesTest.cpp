// Cutting the sample into slices: onset detection, equal division and the slice under a finger.

#include <gtest/gtest.h>

#include <limits>

#include "SampleTestFiles.h"
#include "sample/Slices.h"

using namespace vornik;
using namespace vornik::test;

namespace {

constexpr std::uint32_t W = kSliceWindowFrames;
using Starts = std::vector<float>;

// A plane whose window i peaks at level[i] (alternating signs, as audio would).
std::vector<float> windows(const std::vector<float>& level) {
    std::vector<float> v(level.size() * W);
    for (std::size_t i = 0; i < v.size(); ++i) v[i] = level[i / W] * (i % 2 ? -1.0f : 1.0f);
    return v;
}

// `count` silent windows, with full-scale single-window bursts at `at`.
std::vector<float> bursts(std::size_t count, std::vector<std::size_t> at) {
    std::vector<float> level(count, 0.0f);
    for (std::size_t i : at) level[i] = 1.0f;
    return windows(level);
}

Starts starts(const SliceList& slices) {
    Starts p;
    for (const Slice& s : slices) p.push_back(s.pos);
    return p;
}

// The auto slices of a sample of equal planes (not loaded: as after a failed open).
Starts autoSlice(MainView& view, std::vector<std::vector<float>> planes, bool loaded = true) {
    const auto frames = static_cast<std::uint32_t>(planes[0].size());
    std::shared_ptr<float[]> storage(new float[planes.size() * frames]);
    for (std::size_t c = 0; c < planes.size(); ++c) {
        std::copy(planes[c].begin(), planes[c].end(), storage.get() + c * frames);
    }
    auto s = makeLoadedSnapshot(storage, frames, static_cast<int>(planes.size()), 44100.0);
    s->loaded = loaded;
    view.mixer().sample().publish(std::move(s));
    view.setNumSlices(1);  // "auto slice"
    return starts(view.slices());
}

}  // namespace

TEST(Slicing, AutoSliceStartsWhereTheSmoothedPeakRisesInTheChannelsThatCount) {
    Instrument in;
    MainView& m = in.view;
    EXPECT_EQ(m.numSlices(), 1);  // "auto slice" from the start
    // Shorter than one window, or a level that only falls: one slice.
    EXPECT_EQ(autoSlice(m, {std::vector<float>(W - 1, 0.9f)}), Starts{0.0f});
    std::vector<float> falling(48);
    for (std::size_t i = 0; i < falling.size(); ++i) falling[i] = 1.0f - i / 48.0f;
    EXPECT_EQ(autoSlice(m, {windows(falling)}), Starts{0.0f});
    // 48 windows, G = 2: the rise at window 2 is too close to the start, window 3 makes a slice
    // at 3/48 = 0.0625, and the level still climbing makes the next no earlier than window 6.
    std::vector<float> step(48, 1.0f);
    step[0] = step[1] = 0.0f;
    EXPECT_EQ(autoSlice(m, {windows(step)}), (Starts{0.0f, 0.0625f, 0.125f}));
    // From a steady 0.25, a peak raised by d lifts the smoothed level by 0.4 d; a slice needs a
    // rise of more than 0.03: d = 0.08 starts one at window 40, d = 0.07 none.
    for (const float d : {0.07f, 0.08f}) {
        std::vector<float> level(96, 0.25f);
        std::fill(level.begin() + 40, level.end(), 0.25f + d);
        const Starts expected = d > 0.075f ? Starts{0.0f, 40.0f / 96.0f} : Starts{0.0f};
        EXPECT_EQ(autoSlice(m, {windows(level)}), expected) << d;
    }
    // 96 windows, G = 4: of two onsets 3 windows apart only the first counts.
    const Starts expected{0.0f, 20.0f / 96.0f, 60.0f / 96.0f};
    const auto onsets = bursts(96, {20, 23, 60});
    EXPECT_EQ(autoSlice(m, {onsets}), expected);
    // NaN never raises a peak; a final partial window is not examined.
    auto poisoned = onsets;
    const float nan = std::numeric_limits<float>::quiet_NaN();
    std::fill(poisoned.begin() + 40 * W, poisoned.begin() + 41 * W, nan);
    poisoned[60 * W + 7] = poisoned[60 * W] = nan;
    EXPECT_EQ(autoSlice(m, {poisoned}), expected);
    poisoned.resize(96 * W + W - 1, 1.0f);
    EXPECT_EQ(autoSlice(m, {poisoned}), expected);
    // A rise in every other window of 240: G = 10, so slices more than 10 windows apart.
    std::vector<float> level(240);
    for (std::size_t i = 0; i < level.size(); ++i) level[i] = i % 2 ? 1.0f : 0.0f;
    const Starts s = autoSlice(m, {windows(level)});
    EXPECT_GT(s.size(), 10u);
    for (std::size_t k = 1; k < s.size(); ++k) EXPECT_GT((s[k] - s[k - 1]) * 240.0f, 10.5f) << k;
    // Stereo: both channels count; more: only the first.
    const std::vector<float> silent(onsets.size(), 0.0f);
    EXPECT_EQ(autoSlice(m, {silent, onsets}), expected);
    EXPECT_EQ(autoSlice(m, {onsets, silent, silent}), expected);
    EXPECT_EQ(autoSlice(m, {silent, onsets, onsets}), Starts{0.0f});
    // Nothing without a loaded file or a measured strip.
    EXPECT_TRUE(autoSlice(m, {onsets}, false).empty());
    m.setTouchBarSize({0.0, 0.0});
    EXPECT_TRUE(autoSlice(m, {onsets}).empty());
}

TEST(Slicing, EqualDivisionAndTheSliceUnderAFinger) {
    Instrument in;
    MainView& m = in.view;
    m.setNumSlices(4);
    SliceList& slices = m.slices();
    EXPECT_EQ(starts(slices), (Starts{0.0f, 0.25f, 0.5f, 0.75f}));
    setSliceEnds(slices);
    for (std::size_t i = 0; i < 4; ++i) EXPECT_EQ(slices[i].end, 0.25f * (i + 1)) << i;
    // On a 1000-point strip a start belongs to the slice before it; 0 and left of it find none.
    for (auto [x, slice] : {std::pair<float, const Slice*>{250.0f, &slices[0]},
                            {250.5f, &slices[1]},
                            {0.0f, nullptr},
                            {1000.0f, &slices[3]}}) {
        EXPECT_EQ(m.getSliceAtPos(x), slice) << x;
    }
    // Outside slicer mode the number is stored and the list left alone.
    m.setPlayMode(Playhead::kBow);
    m.setNumSlices(8);
    EXPECT_EQ(m.numSlices(), 8);
    EXPECT_EQ(starts(m.slices()), (Starts{0.0f, 0.25f, 0.5f, 0.75f}));
    m.setPlayMode(Playhead::kSlicer);
    m.setNumSlices(3);  // the step is the single-precision reciprocal, then the product
    const float third = 1.0f / 3.0f;
    EXPECT_EQ(starts(m.slices()), (Starts{0.0f, third, third * 2.0f}));
    m.setNumSlices(-2);
    EXPECT_TRUE(m.slices().empty());
    EXPECT_EQ(m.getSliceAtPos(500.0f), nullptr);
}
