// The front door of the touch performance: routing by play mode, the list of fingers down, the
// voice pool and its release on lift or cancel, and the looper hint's timer.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "performance/TouchTestSupport.h"
#include "support/LogLines.h"

using namespace vornik;
using test::Instrument;

namespace {

struct Bow : Instrument {
    Bow() : Instrument(1000.0, 30.0) {
        load(std::vector<float>(48000, 0.25f));
        view.setPlayMode(Playhead::kBow);
    }
};

}  // namespace

TEST(VoicePool, The65thFingerPlaysNothing) {
    Bow in;
    for (TouchId id = 1; id <= 64; ++id) in.down(id, 500.0);
    ASSERT_EQ(in.sounding(), 64);
    for (std::size_t i = 0; i < kVoiceCount; ++i) EXPECT_EQ(in.voice(i).touchid(), i + 1);

    test::LogLines log;
    in.down(65, 700.0);
    EXPECT_EQ(log.lines, (std::vector<std::string>{"Ran out of playheads!"}));
    EXPECT_EQ(in.sounding(), 64);
    EXPECT_EQ(in.view.activeTouches().size(), 65u);  // listed all the same
    in.move(65, 800.0);                              // finds no voice to steer
    for (std::size_t i = 0; i < kVoiceCount; ++i) EXPECT_EQ(in.voice(i).frameStart(), 24000.0);

    // As soon as one voice has been switched off, the next finger gets it.
    in.up(11);
    in.voice(10).setActive(false);
    in.down(66, 250.0);
    EXPECT_EQ(in.voice(10).touchid(), 66u);
    EXPECT_EQ(in.voice(10).frameStart(), 12000.0);
    EXPECT_EQ(log.lines.size(), 1u);
}

TEST(VoicePool, TheLowestFreeVoiceIsHandedOut) {
    Bow in;
    for (TouchId id = 1; id <= 5; ++id) in.down(id, 500.0);
    in.voice(3).setActive(false);
    in.voice(1).setActive(false);
    EXPECT_EQ(in.view.getFreePlayhead(), &in.voice(1));
    in.down(6, 500.0);
    in.down(7, 500.0);
    in.down(8, 500.0);
    EXPECT_EQ(in.voice(1).touchid(), 6u);
    EXPECT_EQ(in.voice(3).touchid(), 7u);
    EXPECT_EQ(in.voice(5).touchid(), 8u);
    EXPECT_EQ(in.view.activePlayheads(), 6);
}

TEST(VoicePool, LiftingOrCancellingReleasesAllOfAFingersVoicesAndOnlyThem) {
    Bow in;
    in.down(1, 200.0);
    in.down(2, 400.0);
    // A voice the first finger started earlier that has already ended by itself, and one in
    // another mode: both are the finger's and both are released.
    Playhead& ended = in.voice(5);
    ended.setMode(Playhead::kSlicer);
    ended.setTouchid(1);
    Playhead& other = in.voice(6);
    other.setMode(Playhead::kTape);
    other.setTouchid(1);
    other.setActive(true);

    in.up(1);
    EXPECT_EQ(in.voice(0).touchid(), kNoTouch);
    EXPECT_EQ(ended.touchid(), kNoTouch);
    EXPECT_EQ(other.touchid(), kNoTouch);
    EXPECT_EQ(in.voice(1).touchid(), 2u);
    EXPECT_TRUE(in.voice(0).active());  // released: the mixer and the display end it
    EXPECT_EQ(in.view.activeTouches(), std::vector<TouchId>{2});

    in.cancel(2);  // a cancelled touch is a lifted one
    EXPECT_EQ(in.voice(1).touchid(), kNoTouch);
    EXPECT_TRUE(in.view.activeTouches().empty());

    // One event with several phases: a landing, a move and a lift together.
    in.down(3, 100.0);
    TouchEvent e;
    e.began.push_back(in.touch(4, 300.0));
    e.moved.push_back(in.touch(3, 750.0));
    e.ended.push_back(in.touch(3, 750.0));
    in.view.handleTouchEvent(e);
    EXPECT_EQ(in.voice(2).touchid(), kNoTouch);
    EXPECT_EQ(in.voice(2).frameStart(), 36000.0);
    EXPECT_EQ(in.voice(3).touchid(), 4u);
    EXPECT_EQ(in.view.activeTouches(), std::vector<TouchId>{4});
}

TEST(TouchDispatch, AMoveAfterAModeChangeSteersWithTheNewMode) {
    Bow in;
    in.down(1, 500.0);
    in.view.setPlayMode(Playhead::kTape);
    in.move(1, 750.0);
    Playhead& v = in.voice(0);
    EXPECT_EQ(v.mode(), Playhead::kBow);  // playing voices keep their mode
    EXPECT_DOUBLE_EQ(v.rate(), 1.0);      // the tape's speed for x = 750
    EXPECT_EQ(v.frameStart(), 24000.0);   // the grain centre is not moved
    EXPECT_EQ(in.speedBar(0).bounds().size.width, 250.0);

    // Outside the four modes fingers are listed and released, and nothing else happens.
    in.view.setPlayMode(7);
    in.down(2, 300.0);
    in.move(1, 100.0);
    EXPECT_EQ(in.sounding(), 1);
    EXPECT_DOUBLE_EQ(v.rate(), 1.0);
    EXPECT_EQ(in.view.activeTouches().size(), 2u);
    in.up(1);
    in.up(2);
    EXPECT_EQ(v.touchid(), kNoTouch);
    EXPECT_TRUE(in.view.activeTouches().empty());
}

TEST(TouchDispatch, TheLooperHintShowsAfterThreeSeconds) {
    Instrument in(1000.0, 30.0);
    const LayerPtr& hint = in.view.looperAlert();
    hint->markPresented();  // on screen, so its changes fade

    in.view.setPlayMode(Playhead::kLooper);
    in.loop.advance(in.clock, 2.9);
    EXPECT_EQ(hint->opacity(), 0.0f);
    in.loop.advance(in.clock, 0.1);
    EXPECT_EQ(hint->opacity(), 1.0f);
    EXPECT_FLOAT_EQ(hint->presentationOpacity(3.25), 0.5f);  // fading in over half a second
    EXPECT_EQ(hint->presentationOpacity(3.5), 1.0f);

    // Another mode hides it.
    in.clock.advance(1.0);
    in.view.setPlayMode(Playhead::kSlicer);
    EXPECT_EQ(hint->opacity(), 0.0f);
    EXPECT_FALSE(in.view.alertTimer());

    // Looper, then another mode within three seconds: never shown.
    in.view.setPlayMode(Playhead::kLooper);
    in.loop.advance(in.clock, 2.0);
    in.view.setPlayMode(Playhead::kTape);
    in.loop.advance(in.clock, 10.0);
    EXPECT_EQ(hint->opacity(), 0.0f);

    // Looper chosen twice, then a loop: the earlier choice's timer shows nothing afterwards.
    in.load(std::vector<float>(48000, 0.25f));
    in.view.setPlayMode(Playhead::kLooper);
    in.loop.advance(in.clock, 1.0);
    in.view.setPlayMode(Playhead::kLooper);
    in.loop.advance(in.clock, 1.0);
    in.down(1, 200.0);
    in.down(2, 600.0);
    in.loop.advance(in.clock, 10.0);
    EXPECT_EQ(hint->opacity(), 0.0f);
    EXPECT_EQ(in.loop.pendingCount(), 0u);
}

TEST(TouchDispatch, EnteringSlicerModeRebuildsTheSlices) {
    Instrument in(1000.0, 30.0);
    in.view.setPlayMode(Playhead::kBow);
    in.view.setNumSlices(4);  // stored; the list is left alone outside slicer mode
    EXPECT_TRUE(in.view.slices().empty());
    in.view.setPlayMode(Playhead::kSlicer);
    EXPECT_EQ(in.view.slices().size(), 4u);
}

TEST(TouchDispatch, StrangeTouchesPlayNothing) {
    Bow in;
    test::LogLines log;
    TouchEvent noIdentity;
    noIdentity.began.push_back(Touch{kNoTouch, {500.0, 15.0}, {500.0, 15.0}});
    in.view.handleTouchEvent(noIdentity);
    EXPECT_EQ(in.sounding(), 0);
    EXPECT_TRUE(in.view.activeTouches().empty());

    const double nan = std::numeric_limits<double>::quiet_NaN();
    TouchEvent lost;
    lost.began.push_back(Touch{9, {nan, 15.0}, {nan, 15.0}});
    in.view.handleTouchEvent(lost);
    EXPECT_EQ(in.sounding(), 0);
    EXPECT_EQ(in.view.activeTouches(), std::vector<TouchId>{9});  // listed, and released later
    in.up(9);
    EXPECT_TRUE(in.view.activeTouches().empty());
    EXPECT_EQ(log.lines,
              (std::vector<std::string>{"Touch without an identity ignored",
                                        "Touch at a location that is not a number ignored"}));

    // A finger that lands twice without lifting is listed once.
    in.down(3, 500.0);
    in.down(3, 500.0);
    EXPECT_EQ(in.view.activeTouches(), std::vector<TouchId>{3});
}

TEST(TouchDispatch, AnUnmeasuredStripMovesNothing) {
    Bow in;
    in.down(1, 500.0);
    in.view.setTouchBarSize({0.0, 0.0});
    in.view.layer()->setBounds(Rect::make(0, 0, 0, 0));
    for (int mode = 0; mode < 4; ++mode) {
        in.view.setPlayMode(mode);
        in.move(1, 750.0);
    }
    EXPECT_EQ(in.voice(0).frameStart(), 24000.0);
    EXPECT_EQ(in.voice(0).rate(), 1.0);
    EXPECT_TRUE(std::isfinite(in.region(0).bounds().size.width));
}
