// Looper mode: two fingers make a loop whose ends follow them, narrowing when they come close; a
// lone finger waits for a partner, and a loop's remaining finger waits again when the other lifts.

#include <gtest/gtest.h>

#include "performance/TouchTestSupport.h"
#include "support/LogLines.h"

using namespace vornik;
using test::Instrument;

namespace {

// A strip 1000 points wide and 30 high over a 100,000-frame sample, in looper mode.
struct Looper : Instrument {
    Looper() : Instrument(1000.0, 30.0) {
        load(std::vector<float>(100000, 0.25f));
        view.setPlayMode(Playhead::kLooper);
    }
};

}  // namespace

TEST(LooperMode, TwoFingersMakeALoopBetweenThem) {
    for (bool leftFirst : {true, false}) {
        SCOPED_TRACE(leftFirst ? "left finger first" : "right finger first");
        Looper in;
        const TouchId left = 1, right = 2;
        in.down(leftFirst ? left : right, leftFirst ? 200.0 : 600.0);
        EXPECT_EQ(in.sounding(), 0);  // one finger waits
        ASSERT_TRUE(in.view.freeTouch());
        in.down(leftFirst ? right : left, leftFirst ? 600.0 : 200.0);

        Playhead& v = in.voice(0);
        EXPECT_TRUE(v.active());
        EXPECT_EQ(v.mode(), Playhead::kLooper);
        EXPECT_EQ(v.touchid(), leftFirst ? right : left);  // the finger that completed the pair
        EXPECT_FLOAT_EQ(v.amp(), 0.9f);
        EXPECT_DOUBLE_EQ(v.frameStart(), 20000.0);
        EXPECT_DOUBLE_EQ(v.pos(), 20000.0);
        EXPECT_DOUBLE_EQ(v.frameEnd(), 60000.0);
        EXPECT_EQ(v.looperPos(), 0.0);
        EXPECT_EQ(v.looperCrossfade(), -1.0);
        ASSERT_TRUE(v.firstTouch && v.secondTouch);
        EXPECT_EQ(v.firstTouch->identity, left);
        EXPECT_EQ(v.secondTouch->identity, right);
        EXPECT_FALSE(in.view.freeTouch());

        EXPECT_EQ(in.region(0).bounds(), Rect::make(0, 0, 400, 34));
        EXPECT_EQ(in.region(0).position(), (Point{200, -2}));

        // Moving the right finger moves the loop's end, exactly while they are far apart.
        in.move(right, 601.0);
        EXPECT_DOUBLE_EQ(v.frameEnd(), 60100.0);
        EXPECT_DOUBLE_EQ(v.frameStart(), 20000.0);
        EXPECT_EQ(in.region(0).bounds().size.width, 401.0);
    }
}

TEST(LooperMode, CloseFingersNarrowTheLoopFromTheFirstMove) {
    Looper in;
    in.down(1, 400.0);
    in.down(2, 500.0);
    Playhead& v = in.voice(0);
    // At the landing the loop is exactly as wide as the spacing.
    EXPECT_DOUBLE_EQ(v.frameStart(), 40000.0);
    EXPECT_DOUBLE_EQ(v.frameEnd(), 50000.0);
    EXPECT_EQ(in.region(0).bounds().size.width, 100.0);

    in.move(2, 500.0);  // the first move narrows it: c = 16
    EXPECT_DOUBLE_EQ(v.frameStart(), 41600.0);
    EXPECT_DOUBLE_EQ(v.frameEnd(), 48400.0);
    EXPECT_EQ(in.region(0).bounds().size.width, 68.0);
    EXPECT_EQ(in.region(0).position(), (Point{416, -2}));

    // 40 points apart the ends have crossed: the start lies after the end and the box still spans
    // from the left end to the right end.
    in.move(2, 440.0);
    const float x1 = 400.0f + 35.2f, x2 = 440.0f - 35.2f;
    EXPECT_NEAR(x1, 435.2f, 1e-4);
    EXPECT_DOUBLE_EQ(v.frameStart(), static_cast<double>(x1) / 1000.0 * 100000.0);
    EXPECT_DOUBLE_EQ(v.frameEnd(), static_cast<double>(x2) / 1000.0 * 100000.0);
    EXPECT_GT(v.frameStart(), v.frameEnd());
    EXPECT_NEAR(in.region(0).position().x, 404.8, 1e-4);
    EXPECT_NEAR(in.region(0).bounds().size.width, 30.4, 1e-4);
    EXPECT_EQ(in.region(0).bounds().size.height, 34.0);
}

TEST(LooperMode, LiftingOneFingerLeavesTheOtherWaiting) {
    Looper in;
    in.down(1, 200.0);
    in.down(2, 600.0);
    in.move(2, 650.0);  // refreshes the right finger in the loop

    in.up(1);  // the left finger lifts: the loop is released, the right finger waits
    Playhead& old = in.voice(0);
    EXPECT_EQ(old.touchid(), kNoTouch);
    EXPECT_TRUE(old.active());  // its release runs out in the mixer
    EXPECT_FALSE(old.firstTouch);
    EXPECT_FALSE(old.secondTouch);
    ASSERT_TRUE(in.view.freeTouch());
    EXPECT_EQ(in.view.freeTouch()->identity, 2u);
    EXPECT_EQ(in.view.freeTouch()->location.x, 650.0);  // as of its last move in the loop

    in.move(2, 700.0);  // a waiting finger is not followed
    EXPECT_EQ(in.view.freeTouch()->location.x, 650.0);

    in.down(3, 100.0);  // a new partner: a loop from the new finger to the waiting one
    Playhead& next = in.voice(1);
    EXPECT_EQ(next.touchid(), 3u);
    EXPECT_DOUBLE_EQ(next.frameStart(), 10000.0);
    EXPECT_DOUBLE_EQ(next.frameEnd(), 65000.0);
    EXPECT_EQ(in.region(1).bounds().size.width, 550.0);

    // A lone waiting finger lifting plays nothing and leaves nothing.
    in.up(3);
    in.up(2);
    EXPECT_FALSE(in.view.freeTouch());
    in.down(4, 300.0);
    in.up(4);
    EXPECT_FALSE(in.view.freeTouch());
    EXPECT_TRUE(in.view.activeTouches().empty());
    for (const Playhead& v : in.view.playheads()) EXPECT_EQ(v.touchid(), kNoTouch);
}

TEST(LooperMode, AWaitingFingerCountsWhereItBeganToWait) {
    Looper in;
    in.down(1, 300.0);
    in.move(1, 350.0);  // slides while waiting
    in.down(2, 700.0);
    Playhead& v = in.voice(0);
    EXPECT_DOUBLE_EQ(v.frameStart(), 30000.0);  // where it landed
    EXPECT_DOUBLE_EQ(v.frameEnd(), 70000.0);
    EXPECT_EQ(in.region(0).bounds().size.width, 400.0);

    in.move(1, 350.0);  // its first move in the loop: the left end jumps to the finger
    EXPECT_DOUBLE_EQ(v.frameStart(), 35000.0);
    EXPECT_DOUBLE_EQ(v.frameEnd(), 70000.0);
}

TEST(LooperMode, ALoopAnswersTheHint) {
    Looper in;
    ASSERT_TRUE(in.view.alertTimer());
    in.loop.advance(in.clock, 1.0);
    in.down(1, 200.0);
    in.down(2, 600.0);
    EXPECT_FALSE(in.view.alertTimer());
    in.loop.advance(in.clock, 5.0);
    EXPECT_EQ(in.view.looperAlert()->opacity(), 0.0f);

    // Once shown, the hint goes when the first loop is made.
    in.view.setPlayMode(Playhead::kLooper);
    in.loop.advance(in.clock, 3.0);
    EXPECT_EQ(in.view.looperAlert()->opacity(), 1.0f);
    in.down(3, 100.0);
    EXPECT_EQ(in.view.looperAlert()->opacity(), 1.0f);  // a lone finger is no loop yet
    in.down(4, 150.0);
    EXPECT_EQ(in.view.looperAlert()->opacity(), 0.0f);
}

TEST(LooperMode, AFullPoolForgetsTheSecondFinger) {
    Looper in;
    in.fillPool();
    test::LogLines log;
    in.down(1, 200.0);
    in.down(2, 600.0);
    EXPECT_EQ(log.lines, (std::vector<std::string>{"Ran out of playheads!"}));
    ASSERT_TRUE(in.view.freeTouch());
    EXPECT_EQ(in.view.freeTouch()->identity, 1u);  // the first keeps waiting

    in.voice(7).setActive(false);
    in.down(3, 400.0);
    EXPECT_EQ(in.voice(7).touchid(), 3u);
    EXPECT_EQ(in.voice(7).firstTouch->identity, 1u);
    EXPECT_DOUBLE_EQ(in.voice(7).frameEnd(), 40000.0);

    // The forgotten finger's moves steer nothing.
    in.move(2, 650.0);
    EXPECT_DOUBLE_EQ(in.voice(7).frameEnd(), 40000.0);
}

TEST(LooperMode, AfterAModeChangeOnlyTheCompletingFingerReleasesTheLoop) {
    Looper in;
    in.down(1, 200.0);
    in.down(2, 600.0);
    in.view.setPlayMode(Playhead::kBow);
    in.up(1);  // the looper's finger-up no longer runs; the loop belongs to finger 2
    EXPECT_EQ(in.voice(0).touchid(), 2u);
    in.up(2);
    EXPECT_EQ(in.voice(0).touchid(), kNoTouch);
}

TEST(LooperMode, AReusedVoiceIsNoLongerALoop) {
    // A loop left over from before a mode change keeps its pair; once the voice plays again in
    // another mode its frames are not the looper's to move.
    Looper in;
    in.down(1, 200.0);
    in.down(2, 600.0);
    in.view.setPlayMode(Playhead::kBow);
    in.up(2);
    in.voice(0).setActive(false);  // its release has run out
    in.down(3, 500.0);             // a bow voice in the same record
    ASSERT_EQ(in.voice(0).touchid(), 3u);
    const double grain = in.voice(0).frameStart();
    in.view.setPlayMode(Playhead::kLooper);
    in.move(1, 250.0);
    EXPECT_EQ(in.voice(0).frameStart(), grain);
    EXPECT_EQ(in.voice(0).frameEnd(), grain);
}

TEST(LooperMode, NoFingerIsKeptWithoutASampleOrAMeasuredStrip) {
    Instrument bare(1000.0, 30.0);
    bare.view.setPlayMode(Playhead::kLooper);
    bare.down(1, 200.0);
    bare.down(2, 600.0);
    EXPECT_FALSE(bare.view.freeTouch());
    EXPECT_EQ(bare.sounding(), 0);

    Instrument early;
    early.load(std::vector<float>(100000, 0.25f));
    early.view.setPlayMode(Playhead::kLooper);
    early.down(1, 200.0);
    early.down(2, 600.0);
    EXPECT_FALSE(early.view.freeTouch());
    EXPECT_EQ(early.sounding(), 0);
}

TEST(LooperMode, AFingerThatLiftedInAnotherModeNeverWaits) {
    // A waiting finger lifts while bow mode plays: back in looper mode, the next finger waits
    // alone instead of looping with a finger that is gone.
    Looper in;
    in.down(1, 200.0);
    in.view.setPlayMode(Playhead::kBow);
    in.up(1);
    EXPECT_FALSE(in.view.freeTouch());
    in.view.setPlayMode(Playhead::kLooper);
    in.down(2, 600.0);
    EXPECT_EQ(in.sounding(), 0);

    // A loop's left finger lifts in bow mode; its right finger lifts in looper mode: the loop is
    // released, and the gone partner does not become the waiting finger.
    in.down(3, 300.0);  // pairs with the waiting finger 2
    ASSERT_EQ(in.voice(0).touchid(), 3u);
    in.view.setPlayMode(Playhead::kBow);
    in.up(2);
    in.view.setPlayMode(Playhead::kLooper);
    in.up(3);
    EXPECT_EQ(in.voice(0).touchid(), kNoTouch);
    EXPECT_FALSE(in.view.freeTouch());
    in.down(4, 500.0);
    EXPECT_EQ(in.sounding(), 1);  // only the released loop, still in its release
}
