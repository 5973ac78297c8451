// Slicer mode: pads louder at their left edge, slides that cut to the next slice, and plain
// playback from the finger to the end when there are no slices.

#include <gtest/gtest.h>

#include "performance/TouchTestSupport.h"
#include "sample/Slices.h"

using namespace vornik;
using test::Instrument;

namespace {

// Four equal slices of a 48,000-frame sample on a strip 1000 points wide.
struct FourSlices : Instrument {
    FourSlices() : Instrument(1000.0, 30.0) {
        load(std::vector<float>(48000, 0.25f));
        view.setNumSlices(4);
        setSliceEnds(view.slices());  // what the slice display does after each rebuild
    }
};

}  // namespace

TEST(SlicerMode, ATouchPlaysItsSliceLouderNearTheLeftEdge) {
    FourSlices in;
    in.down(1, 125.0);
    Playhead& v = in.voice(0);
    EXPECT_TRUE(v.active());
    EXPECT_EQ(v.mode(), Playhead::kSlicer);
    EXPECT_EQ(v.touchid(), 1u);
    EXPECT_FALSE(v.fadeOut());
    EXPECT_EQ(v.envelope(), 0.0);
    EXPECT_EQ(v.pos(), 0.0);
    EXPECT_EQ(v.frameStart(), 0.0);
    EXPECT_EQ(v.frameEnd(), 12000.0);
    EXPECT_FLOAT_EQ(v.amp(), 0.725f);
    EXPECT_EQ(v.rate(), 1.0);
    EXPECT_EQ(in.view.slices()[0].highlightOpacity, 1.0f);
    EXPECT_EQ(in.view.slices()[1].highlightOpacity, 0.0f);

    in.down(2, 10.0);  // near the left edge of the same slice
    EXPECT_EQ(in.voice(1).frameStart(), 0.0);
    EXPECT_EQ(in.voice(1).frameEnd(), 12000.0);
    EXPECT_FLOAT_EQ(in.voice(1).amp(), 0.932f);

    in.down(3, 0.0);  // on the first start: no slice, nothing plays
    EXPECT_EQ(in.sounding(), 2);
    EXPECT_EQ(in.view.activeTouches().size(), 3u);

    // Right at the end of the last slice: the quietest place.
    in.down(4, 1000.0);
    EXPECT_EQ(in.voice(2).frameStart(), 36000.0);
    EXPECT_EQ(in.voice(2).frameEnd(), 48000.0);
    EXPECT_FLOAT_EQ(in.voice(2).amp(), 0.5f);
}

TEST(SlicerMode, SlidingIntoAnotherSliceCutsToIt) {
    FourSlices in;
    in.down(1, 375.0);  // the second slice
    ASSERT_EQ(in.voice(0).frameStart(), 12000.0);

    in.move(1, 400.0);  // within it: nothing changes
    EXPECT_EQ(in.sounding(), 1);
    EXPECT_EQ(in.voice(0).touchid(), 1u);

    in.move(1, 625.0);                           // into the third, moving right
    EXPECT_EQ(in.voice(0).touchid(), kNoTouch);  // released, still sounding its tail
    EXPECT_TRUE(in.voice(0).active());
    Playhead& third = in.voice(1);
    EXPECT_EQ(third.touchid(), 1u);
    EXPECT_EQ(third.frameStart(), 24000.0);
    EXPECT_EQ(third.frameEnd(), 36000.0);
    EXPECT_FLOAT_EQ(third.amp(), 0.9f);
    EXPECT_EQ(in.view.slices()[2].highlightOpacity, 1.0f);

    in.move(1, 375.0);  // back into the second, moving left: softer
    EXPECT_EQ(third.touchid(), kNoTouch);
    EXPECT_EQ(in.voice(2).frameStart(), 12000.0);
    EXPECT_EQ(in.voice(2).frameEnd(), 24000.0);
    EXPECT_FLOAT_EQ(in.voice(2).amp(), 0.55f);

    // Off the left end there is no slice: the voice is released and a silent voice of no length
    // starts, which the mixer switches off at once.
    in.move(1, 0.0);
    EXPECT_EQ(in.voice(2).touchid(), kNoTouch);
    EXPECT_EQ(in.voice(3).frameStart(), 0.0);
    EXPECT_EQ(in.voice(3).frameEnd(), 0.0);
    EXPECT_FLOAT_EQ(in.voice(3).amp(), 0.55f);

    // A fast slide over several slices plays only the one the finger arrives in.
    in.down(2, 125.0);
    in.move(2, 875.0);
    EXPECT_EQ(in.voice(5).frameStart(), 36000.0);
    EXPECT_EQ(in.sounding(), 6);
}

TEST(SlicerMode, WithoutSlicesATouchPlaysToTheEnd) {
    Instrument in(1000.0, 30.0);
    in.load(std::vector<float>(48000, 0.25f));
    in.view.setNumSlices(0);
    ASSERT_TRUE(in.view.slices().empty());

    in.down(1, 500.0);
    EXPECT_EQ(in.voice(0).pos(), 24000.0);
    EXPECT_EQ(in.voice(0).frameStart(), 24000.0);
    EXPECT_EQ(in.voice(0).frameEnd(), 48000.0);
    EXPECT_FLOAT_EQ(in.voice(0).amp(), 0.9f);

    in.move(1, 800.0);  // moving changes nothing
    EXPECT_EQ(in.sounding(), 1);
    EXPECT_EQ(in.voice(0).touchid(), 1u);
    EXPECT_EQ(in.voice(0).frameStart(), 24000.0);

    // Beyond the ends of the strip (a dragged mouse): left of it plays from the start; right of
    // it the 32-bit end lands on the sample's end, before the start, so the mixer stops at once.
    in.down(2, -50.0);
    EXPECT_EQ(in.voice(1).frameStart(), 0.0);
    EXPECT_EQ(in.voice(1).frameEnd(), 48000.0);
    in.down(3, 1200.0);
    EXPECT_EQ(in.voice(2).frameStart(), 57600.0);
    EXPECT_EQ(in.voice(2).frameEnd(), 48000.0);
}

TEST(SlicerMode, TransposeChangesTheRateNotTheRange) {
    FourSlices in;
    in.view.setTranspose(12);
    in.down(1, 625.0);
    EXPECT_DOUBLE_EQ(in.voice(0).rate(), 2.0);
    EXPECT_EQ(in.voice(0).frameStart(), 24000.0);
    EXPECT_EQ(in.voice(0).frameEnd(), 36000.0);
}

TEST(SlicerMode, NothingPlaysWithoutASampleOrBeforeTheStripIsMeasured) {
    // No sample: the touched slice still flashes.
    Instrument bare(1000.0, 30.0);
    bare.view.setNumSlices(4);
    setSliceEnds(bare.view.slices());
    bare.down(1, 625.0);
    EXPECT_EQ(bare.sounding(), 0);
    EXPECT_EQ(bare.view.slices()[2].highlightOpacity, 1.0f);
    bare.move(1, 875.0);
    EXPECT_EQ(bare.sounding(), 0);
    EXPECT_EQ(bare.view.activeTouches().size(), 1u);

    // Unmeasured strip: nothing to divide by; no voice, no flash, no move.
    Instrument early;
    early.load(std::vector<float>(48000, 0.25f));
    early.view.setNumSlices(4);
    setSliceEnds(early.view.slices());
    early.down(1, 625.0);
    early.move(1, 875.0);
    early.view.setNumSlices(0);
    early.down(2, 500.0);
    EXPECT_EQ(early.sounding(), 0);
    for (const Slice& s : early.view.slices()) EXPECT_EQ(s.highlightOpacity, 0.0f);
}

TEST(SlicerMode, ASliceWithoutItsEndPlaysNothing) {
    // Slices rebuilt but not yet laid out have no end: no loudness can be given to a place in
    // them, and no sound that is not a number reaches the mix.
    FourSlices in;
    in.view.createSlices();  // ends not set
    in.down(1, 125.0);
    EXPECT_EQ(in.sounding(), 0);
}
