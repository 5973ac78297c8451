// Cutting the sample into slices: automatic onset detection, equal division and the look-up of
// the slice under a finger.

#include <gtest/gtest.h>

#include <limits>
#include <vector>

#include "display/MainView.h"
#include "sample/Slices.h"
#include "support/SampleFixtures.h"

using namespace vornik;

namespace {

constexpr std::uint32_t W = kSliceWindowFrames;

// A plane whose window i has peak level[i] (alternating signs, as audio would).
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

std::unique_ptr<SampleSnapshot> threeChannels(const std::vector<float>& a,
                                              const std::vector<float>& b,
                                              const std::vector<float>& c) {
    const auto frames = static_cast<std::uint32_t>(a.size());
    std::shared_ptr<float[]> planes(new float[3 * a.size()]);
    std::copy(a.begin(), a.end(), planes.get());
    std::copy(b.begin(), b.end(), planes.get() + frames);
    std::copy(c.begin(), c.end(), planes.get() + 2 * frames);
    return makeLoadedSnapshot(planes, frames, 3, 44100.0);
}

std::vector<float> starts(const SliceList& slices) {
    std::vector<float> p;
    for (const Slice& s : slices) p.push_back(s.pos);
    return p;
}

struct Instrument {
    ManualClock clock;
    RunLoop loop{clock};
    MainView view{loop};
    Instrument() { view.setTouchBarSize({1000.0, 30.0}); }

    std::vector<float> autoSlice(std::unique_ptr<SampleSnapshot> s) {
        view.mixer().sample().publish(std::move(s));
        view.setNumSlices(1);
        return starts(view.slices());
    }
};

using Starts = std::vector<float>;

}  // namespace

TEST(Slicing, AutoSliceStartsWhereTheSmoothedPeakRises) {
    Instrument in;
    EXPECT_EQ(in.view.numSlices(), 1);  // "auto slice" from the start
    in.view.createSlices();
    EXPECT_TRUE(in.view.slices().empty());  // no sample yet

    // Shorter than one window: one slice over the whole sample.
    EXPECT_EQ(in.autoSlice(test::snapshotOf(std::vector<float>(W - 1, 0.9f))), Starts{0.0f});
    setSliceEnds(in.view.slices());
    EXPECT_EQ(in.view.slices()[0].end, 1.0f);

    // Silence, and a level that only falls: one slice.
    EXPECT_EQ(in.autoSlice(test::snapshotOf(std::vector<float>(48 * W, 0.0f))), Starts{0.0f});
    std::vector<float> falling(48);
    for (std::size_t i = 0; i < falling.size(); ++i) falling[i] = 1.0f - i / 48.0f;
    EXPECT_EQ(in.autoSlice(test::snapshotOf(windows(falling))), Starts{0.0f});

    // 48 windows, G = 2: the rise at window 2 is too close to the start, window 3 makes a slice
    // at 3/48 = 0.0625, and the level still climbing makes the next no earlier than window 6.
    std::vector<float> step(48, 1.0f);
    step[0] = step[1] = 0.0f;
    EXPECT_EQ(in.autoSlice(test::snapshotOf(windows(step))), (Starts{0.0f, 0.0625f, 0.125f}));

    // 96 windows, G = 4: of two onsets 3 windows apart only the first counts.
    const Starts expected{0.0f, 20.0f / 96.0f, 60.0f / 96.0f};
    const auto onsets = bursts(96, {20, 23, 60});
    EXPECT_EQ(in.autoSlice(test::snapshotOf(onsets)), expected);

    // NaN never raises a peak: a window of NaN, and NaN inside a burst, change nothing.
    auto poisoned = onsets;
    const float nan = std::numeric_limits<float>::quiet_NaN();
    std::fill(poisoned.begin() + 40 * W, poisoned.begin() + 41 * W, nan);
    poisoned[60 * W + 7] = nan;
    poisoned[60 * W] = nan;
    EXPECT_EQ(in.autoSlice(test::snapshotOf(poisoned)), expected);

    // A final partial window is not examined.
    auto tail = onsets;
    tail.resize(96 * W + W - 1, 1.0f);
    EXPECT_EQ(in.autoSlice(test::snapshotOf(tail)), expected);
}

TEST(Slicing, AutoSliceReadsTheSecondChannelOnlyOfStereoFiles) {
    Instrument in;
    const Starts expected{0.0f, 20.0f / 96.0f, 60.0f / 96.0f};
    const auto onsets = bursts(96, {20, 60});
    const std::vector<float> silent(onsets.size(), 0.0f);

    EXPECT_EQ(in.autoSlice(test::snapshotOf(silent, onsets)), expected);  // right channel only
    EXPECT_EQ(in.autoSlice(test::snapshotOf(onsets, silent)), expected);
    // Three channels: only the first is examined.
    EXPECT_EQ(in.autoSlice(threeChannels(onsets, silent, silent)), expected);
    EXPECT_EQ(in.autoSlice(threeChannels(silent, onsets, onsets)), Starts{0.0f});
}

TEST(Slicing, AutoSliceNeedsAMeasuredStripAndALoadedFile) {
    Instrument in;
    in.view.setTouchBarSize({0.0, 0.0});
    EXPECT_TRUE(in.autoSlice(test::snapshotOf(bursts(96, {20}))).empty());

    in.view.setTouchBarSize({1000.0, 30.0});
    auto unloaded = test::snapshotOf(bursts(96, {20}));
    unloaded->loaded = false;  // after a failed open the planes stay, the file is gone
    EXPECT_TRUE(in.autoSlice(std::move(unloaded)).empty());
}

TEST(Slicing, AutoSliceKeepsSlicesMoreThanATwentyFourthApart) {
    Instrument in;
    // A rise in every other window of 240: G = 10, so at most 1 + 239 / 11 slices.
    std::vector<float> level(240);
    for (std::size_t i = 0; i < level.size(); ++i) level[i] = i % 2 ? 1.0f : 0.0f;
    const Starts s = in.autoSlice(test::snapshotOf(windows(level)));
    EXPECT_GT(s.size(), 10u);
    EXPECT_LE(s.size(), 1u + 239u / 11u);
    for (std::size_t k = 1; k < s.size(); ++k) {
        EXPECT_GT((s[k] - s[k - 1]) * 240.0f, 10.5f) << k;
    }
}

TEST(Slicing, EqualDivisionAndTheSliceUnderAFinger) {
    Instrument in;
    in.view.setNumSlices(4);
    SliceList& slices = in.view.slices();
    EXPECT_EQ(starts(slices), (Starts{0.0f, 0.25f, 0.5f, 0.75f}));
    setSliceEnds(slices);
    for (std::size_t i = 0; i < 4; ++i) EXPECT_EQ(slices[i].end, 0.25f * (i + 1)) << i;

    // On a 1000-point strip a start belongs to the slice before it; 0 and left of it find none.
    EXPECT_EQ(in.view.getSliceAtPos(250.0f), &slices[0]);
    EXPECT_EQ(in.view.getSliceAtPos(250.5f), &slices[1]);
    EXPECT_EQ(in.view.getSliceAtPos(0.0f), nullptr);
    EXPECT_EQ(in.view.getSliceAtPos(-3.0f), nullptr);
    EXPECT_EQ(in.view.getSliceAtPos(1000.0f), &slices[3]);
    EXPECT_EQ(in.view.getSliceAtPos(999.0f), &slices[3]);

    // The step is the single-precision reciprocal, then the product.
    in.view.setNumSlices(3);
    const float third = 1.0f / 3.0f;
    EXPECT_EQ(starts(in.view.slices()), (Starts{0.0f, third, third * 2.0f}));

    in.view.setNumSlices(0);
    EXPECT_TRUE(in.view.slices().empty());
    for (float x : {0.0f, 1.0f, 500.0f, 1000.0f}) EXPECT_EQ(in.view.getSliceAtPos(x), nullptr);
    in.view.setNumSlices(-2);
    EXPECT_TRUE(in.view.slices().empty());
}

TEST(Slicing, SettingNumSlicesOutsideSlicerModeOnlyStoresIt) {
    Instrument in;
    in.view.setNumSlices(4);
    for (int mode : {Playhead::kLooper, Playhead::kBow, Playhead::kTape}) {
        SCOPED_TRACE(mode);
        in.view.setPlayMode(mode);
        for (int n : {8, 0, 16}) {
            in.view.setNumSlices(n);
            EXPECT_EQ(in.view.numSlices(), n);
            EXPECT_EQ(starts(in.view.slices()), (Starts{0.0f, 0.25f, 0.5f, 0.75f}));
        }
    }
    in.view.setPlayMode(Playhead::kSlicer);
    in.view.setNumSlices(8);
    EXPECT_EQ(in.view.slices().size(), 8u);
}
