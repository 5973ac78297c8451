// Bow mode (a grain stream centred under the finger, scrubbed by sliding) and tape mode (speed
// from the centre, with a speed bar per voice).

#include <gtest/gtest.h>

#include "performance/TouchTestSupport.h"

using namespace vornik;
using test::Instrument;

namespace {

// A 10-second sample at 48 kHz on a strip 1000 points wide and 30 high, in bow mode.
struct Bow : Instrument {
    Bow() : Instrument(1000.0, 30.0) {
        load(std::vector<float>(480000, 0.25f));
        view.setPlayMode(Playhead::kBow);
    }
};

// A 44.1 kHz sample on a strip 1000 by 30, in tape mode.
struct Tape : Instrument {
    Tape() : Instrument(1000.0, 30.0) {
        load(std::vector<float>(44100, 0.25f), 44100.0);
        view.setPlayMode(Playhead::kTape);
    }
};

}  // namespace

TEST(BowMode, AFingerHoldsAGrainStreamAtItsPoint) {
    Bow in;
    in.down(1, 500.0);
    Playhead& v = in.voice(0);
    EXPECT_TRUE(v.active());
    EXPECT_EQ(v.mode(), Playhead::kBow);
    EXPECT_EQ(v.touchid(), 1u);
    EXPECT_FLOAT_EQ(v.amp(), 0.9f);
    EXPECT_EQ(v.rate(), 1.0);
    EXPECT_EQ(v.pos(), 240000.0);
    EXPECT_EQ(v.frameStart(), 240000.0);
    EXPECT_EQ(v.frameEnd(), 240000.0);
    EXPECT_EQ(v.bowAmp(), 0.0);
    EXPECT_DOUBLE_EQ(v.bowPos(), 236160.0);
    EXPECT_FLOAT_EQ(in.region(0).bounds().size.width, 16.0f);
    EXPECT_EQ(in.region(0).bounds().size.height, 34.0);
    EXPECT_FLOAT_EQ(in.region(0).position().x, 492.0f);
    EXPECT_EQ(in.region(0).position().y, -2.0);

    // Sliding moves the grain centre and the box; the rest is the mixer's.
    in.move(1, 750.0);
    EXPECT_EQ(v.frameStart(), 360000.0);
    EXPECT_EQ(v.pos(), 240000.0);
    EXPECT_EQ(v.frameEnd(), 240000.0);
    EXPECT_DOUBLE_EQ(v.bowPos(), 236160.0);
    EXPECT_FLOAT_EQ(in.region(0).position().x, 742.0f);
    EXPECT_FLOAT_EQ(in.region(0).bounds().size.width, 16.0f);

    // However it moves, the voice stays held until the finger lifts.
    in.move(1, -20.0);
    in.move(1, 1100.0);
    EXPECT_EQ(v.touchid(), 1u);
    EXPECT_DOUBLE_EQ(v.frameStart(), 528000.0);  // no clamp
    in.up(1);
    EXPECT_EQ(v.touchid(), kNoTouch);
}

TEST(BowMode, FingersPlayIndependentVoices) {
    Bow in;
    in.down(1, 250.0);
    in.down(2, 500.0);
    in.move(2, 750.0);
    EXPECT_EQ(in.voice(0).frameStart(), 120000.0);
    EXPECT_EQ(in.voice(1).frameStart(), 360000.0);
    EXPECT_FLOAT_EQ(in.region(0).position().x, 242.0f);

    // A sample shorter than a grain gives a box wider than the strip.
    Instrument shortOne(1000.0, 30.0);
    shortOne.load(std::vector<float>(4800, 0.25f));
    shortOne.view.setPlayMode(Playhead::kBow);
    shortOne.down(1, 500.0);
    EXPECT_FLOAT_EQ(shortOne.region(0).bounds().size.width, 1600.0f);
}

TEST(BowMode, TheFrameFollowsTheLayerAndTheBoxTheMeasuredSize) {
    Bow in;
    in.view.layer()->setBounds(Rect::make(0, 0, 2000, 30));  // laid out, not yet measured
    in.down(1, 500.0);
    EXPECT_EQ(in.voice(0).frameStart(), 120000.0);
    EXPECT_FLOAT_EQ(in.region(0).bounds().size.width, 16.0f);

    // Nothing to map onto before the strip is laid out and measured.
    Instrument early;
    early.load(std::vector<float>(480000, 0.25f));
    early.view.setPlayMode(Playhead::kBow);
    early.down(1, 500.0);
    EXPECT_EQ(early.sounding(), 0);
    early.view.setTouchBarSize({1000.0, 30.0});
    early.down(2, 500.0);  // the layer has no width yet
    EXPECT_EQ(early.sounding(), 0);
}

TEST(TapeMode, SpeedGrowsFromTheCentre) {
    Tape in;
    const double x[] = {750.0, 1000.0, 500.0, 250.0, 0.0};
    const double rate[] = {0.91875, 1.8375, 0.0, -0.91875, -1.8375};
    for (int i = 0; i < 5; ++i) {
        in.down(10 + i, x[i]);
        Playhead& v = in.voice(i);
        EXPECT_DOUBLE_EQ(v.rate(), rate[i]) << "x = " << x[i];
        EXPECT_EQ(v.mode(), Playhead::kTape);
        EXPECT_EQ(v.pos(), 0.0);  // every tape voice starts at the beginning
        EXPECT_EQ(v.frameStart(), 0.0);
        EXPECT_EQ(v.frameEnd(), 44100.0);
        EXPECT_FLOAT_EQ(v.amp(), 0.9f);
    }

    // Transposition does not apply; moving steers the speed at once.
    in.view.setTranspose(7);
    in.down(20, 750.0);
    EXPECT_DOUBLE_EQ(in.voice(5).rate(), 0.91875);
    in.move(20, 1000.0);
    EXPECT_DOUBLE_EQ(in.voice(5).rate(), 1.8375);
    in.move(20, 500.0);
    EXPECT_EQ(in.voice(5).rate(), 0.0);
    EXPECT_EQ(in.voice(5).touchid(), 20u);  // held at standstill
}

TEST(TapeMode, SpeedBarsStackDownFromTheTop) {
    Tape in;
    in.down(1, 300.0);
    EXPECT_EQ(in.speedBar(0).bounds(), Rect::make(0, 0, 200, 1.5));
    EXPECT_EQ(in.speedBar(0).position(), (Point{300, 28}));  // top-left corner

    in.down(2, 300.0);  // the first still sounds
    EXPECT_EQ(in.speedBar(1).position().y, 23.0);
    for (TouchId id = 3; id <= 6; ++id) in.down(id, 300.0);
    EXPECT_EQ(in.speedBar(5).position().y, 3.0);
    ASSERT_EQ(in.sounding(), 6);
    in.down(7, 300.0);  // six voices sounding: back to the top
    EXPECT_EQ(in.speedBar(6).position().y, 28.0);
}

TEST(TapeMode, TheSpeedBarRunsFromTheCentreOnTheRight) {
    Tape in;
    in.down(1, 300.0);
    in.move(1, 450.0);
    EXPECT_EQ(in.speedBar(0).bounds().size.width, 50.0);
    EXPECT_EQ(in.speedBar(0).position(), (Point{450, 28}));
    in.move(1, 500.0);
    EXPECT_EQ(in.speedBar(0).bounds().size.width, 0.0);
    EXPECT_EQ(in.speedBar(0).position().x, 500.0);
    // Right of the centre the bar starts at the centre and reaches the finger.
    in.move(1, 700.0);
    EXPECT_EQ(in.speedBar(0).bounds(), Rect::make(0, 0, 200, 1.5));
    EXPECT_EQ(in.speedBar(0).position(), (Point{500, 28}));  // its row is kept

    in.down(2, 900.0);
    EXPECT_EQ(in.speedBar(1).bounds().size.width, 400.0);
    EXPECT_EQ(in.speedBar(1).position(), (Point{500, 23}));
}

TEST(TapeMode, NothingStartsWithoutASampleOrAMeasuredStrip) {
    Instrument bare(1000.0, 30.0);
    bare.view.setPlayMode(Playhead::kTape);
    bare.down(1, 750.0);
    EXPECT_EQ(bare.sounding(), 0);

    Instrument early;
    early.load(std::vector<float>(44100, 0.25f));
    early.view.setPlayMode(Playhead::kTape);
    early.down(1, 750.0);
    early.move(1, 800.0);
    EXPECT_EQ(early.sounding(), 0);
    EXPECT_TRUE(std::isfinite(early.voice(0).rate()));
}
