// Routing by play mode, the fingers down, the voice pool, and the looper hint's timer.

#include <limits>

#include "performance/TouchTestSupport.h"
#include "support/LogLines.h"

using namespace vornik;
using test::Instrument;

TEST(VoicePool, The65thFingerPlaysNothingLiftingReleasesAFingersVoicesOnly) {
    Instrument in(Playhead::kBow, 48000);
    for (TouchId id = 1; id <= 64; ++id) in.down(id, 500.0);
    test::LogLines log;
    in.play("+65@700 65@800");  // its move finds no voice to steer
    EXPECT_EQ(log.lines, (std::vector<std::string>{"Ran out of playheads!"}));
    EXPECT_EQ(in.view.activeTouches().size(), 65u);  // listed all the same
    EXPECT_EQ(in.state(63), "bow 64 24000..24000 0.9");
    // Once voices are switched off, the next fingers get the lowest of them.
    in.voice(10).setActive(false);
    in.voice(3).setActive(false);
    in.play("+66@250 +67@250");
    EXPECT_EQ(in.state(3), "bow 66 12000..12000 0.9");
    EXPECT_EQ(in.state(10), "bow 67 12000..12000 0.9");
    EXPECT_EQ(log.lines.size(), 1u);
    // Lifting or cancelling releases all of a finger's voices, and only them.
    Instrument lifted(Playhead::kBow, 48000);
    lifted.play("+1@200 +2@400");
    lifted.voice(5).setTouchid(1);  // also the finger's: a voice that has ended by itself,
    lifted.voice(6).setMode(Playhead::kTape);
    lifted.voice(6).setTouchid(1);  // and one in another mode
    lifted.voice(6).setActive(true);
    lifted.play("-1");
    for (std::size_t i : {0, 5, 6}) EXPECT_EQ(lifted.voice(i).touchid(), kNoTouch) << i;
    EXPECT_EQ(lifted.state(0), "bow 0 9600..9600 0.9");  // the mixer and the display end it
    EXPECT_EQ(lifted.state(1), "bow 2 19200..19200 0.9");
    lifted.play("!2");  // a cancelled touch is a lifted one
    EXPECT_EQ(lifted.voice(1).touchid(), kNoTouch);
    EXPECT_TRUE(lifted.view.activeTouches().empty());
    // One event with several phases: a landing, a move and a lift together.
    lifted.play("+3@100");
    TouchEvent e;
    e.began.push_back(lifted.touch(4, 300.0));
    e.moved.push_back(lifted.touch(3, 750.0));
    e.ended.push_back(lifted.touch(3, 750.0));
    lifted.view.handleTouchEvent(e);
    EXPECT_EQ(lifted.state(2), "bow 0 36000..4800 0.9");
    EXPECT_EQ(lifted.view.activeTouches(), std::vector<TouchId>{4});
}

TEST(TouchDispatch, AMoveAfterAModeChangeSteersWithTheNewMode) {
    Instrument in(Playhead::kBow, 48000);
    in.play("+1@500 tape 1@750");
    EXPECT_EQ(in.state(0), "bow 1 24000..24000 0.9");  // keeps its mode and grain centre
    EXPECT_DOUBLE_EQ(in.voice(0).rate(), 1.0);         // the tape's speed for x = 750
    EXPECT_NE(in.speedBar(0).find(" 250x1.5"), std::string::npos) << in.speedBar(0);
    // Outside the four modes fingers are listed and released, and nothing else happens.
    in.view.setPlayMode(7);
    in.play("+2@300 1@100");
    EXPECT_EQ(in.state(1), "off");
    EXPECT_DOUBLE_EQ(in.voice(0).rate(), 1.0);
    in.play("-1 -2");
    EXPECT_EQ(in.voice(0).touchid(), kNoTouch);
    EXPECT_TRUE(in.view.activeTouches().empty());
    // Entering slicer mode rebuilds the slices; elsewhere the count is only stored.
    in.view.setNumSlices(4);
    EXPECT_TRUE(in.view.slices().empty());
    in.play("slicer");
    EXPECT_EQ(in.view.slices().size(), 4u);
}

TEST(TouchDispatch, TheLooperHintShowsAfterThreeSecondsAndStrangeTouchesPlayNothing) {
    Instrument in(Playhead::kSlicer, 48000);
    const LayerPtr& hint = in.view.looperAlert();
    hint->markPresented();  // on screen, so its changes fade
    in.play("looper");
    in.loop.advance(in.clock, 2.9);
    EXPECT_EQ(hint->opacity(), 0.0f);
    in.loop.advance(in.clock, 0.1);
    EXPECT_EQ(hint->opacity(), 1.0f);
    EXPECT_FLOAT_EQ(hint->presentationOpacity(3.25), 0.5f);  // fading in over half a second
    in.loop.advance(in.clock, 5.0);
    in.play("+1@100");
    EXPECT_EQ(hint->opacity(), 1.0f);  // a lone finger is no loop yet
    in.play("+2@150");
    EXPECT_EQ(hint->opacity(), 0.0f);
    // Looper chosen twice, then a loop: neither choice's timer shows it afterwards.
    in.play("looper");
    in.loop.advance(in.clock, 1.0);
    in.play("looper");
    in.loop.advance(in.clock, 1.0);
    in.play("+3@200 +4@600");
    in.loop.advance(in.clock, 10.0);
    EXPECT_EQ(hint->opacity(), 0.0f);
    EXPECT_EQ(in.loop.pendingCount(), 0u);
    // Strange touches play nothing.
    Instrument strange(Playhead::kBow, 48000);
    test::LogLines log;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    TouchEvent e;
    e.began.push_back(Touch{kNoTouch, {500.0, 15.0}, {500.0, 15.0}});
    e.began.push_back(Touch{9, {nan, 15.0}, {nan, 15.0}});
    strange.view.handleTouchEvent(e);
    EXPECT_EQ(strange.state(0), "off");
    EXPECT_EQ(strange.view.activeTouches(), std::vector<TouchId>{9});  // listed, and released later
    EXPECT_EQ(log.lines,
              (std::vector<std::string>{"Touch without an identity ignored",
                                        "Touch at a location that is not a number ignored"}));
    strange.play("-9 +3@500 +3@500");  // landing twice without lifting: listed once
    EXPECT_EQ(strange.view.activeTouches(), std::vector<TouchId>{3});
    // Nothing plays without a sample or a measured strip.
    for (int mode = 0; mode < 4; ++mode) {
        SCOPED_TRACE(mode);
        Instrument bare(mode, 0);                      // no sample
        Instrument early(mode, 100000, 48000.0, 0.0);  // the strip not measured yet
        for (Instrument* in : {&bare, &early}) {
            in->slice(4);
            in->play("+1@625 +2@875 1@700");
            EXPECT_EQ(in->view.activePlayheads(), 0);
            EXPECT_FALSE(in->view.freeTouch());
            EXPECT_EQ(in->view.activeTouches().size(), 2u);
            EXPECT_TRUE(std::isfinite(in->voice(0).rate()));
        }
        // Without a sample the touched slice still flashes; unmeasured, no place is known.
        EXPECT_EQ(bare.view.slices().size() == 4 && bare.view.slices()[2].highlightOpacity == 1.0f,
                  mode == Playhead::kSlicer);
        for (const Slice& s : early.view.slices()) EXPECT_EQ(s.highlightOpacity, 0.0f);
        // A strip that loses its size under a held finger: moves change nothing.
        Instrument held(Playhead::kBow, 48000);
        held.play("+1@500");
        held.measure(0.0, 0.0);
        held.view.setPlayMode(mode);
        held.play("1@750");
        EXPECT_EQ(held.state(0), "bow 1 24000..24000 0.9");
        EXPECT_EQ(held.voice(0).rate(), 1.0);
    }
}
