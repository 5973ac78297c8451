// The four play modes on 1000 x 30-point strips.

#include "performance/TouchTestSupport.h"
#include "support/LogLines.h"

using namespace vornik;
using test::Instrument;

TEST(SlicerMode, ATouchPlaysItsSliceLouderNearTheLeftEdgeAndASlideCutsToTheNext) {
    Instrument in(Playhead::kSlicer, 48000);
    in.slice(4);
    in.view.setTranspose(12);  // twice the rate, the same frames
    // x = 0 is the first slice's start, in no slice: nothing plays. 1000 is the quietest place.
    in.play("+1@125 +2@10 +3@0 +4@1000");
    EXPECT_EQ(in.state(0), "slicer 1 0..12000 0.725");
    EXPECT_EQ(in.state(1), "slicer 2 0..12000 0.932");
    EXPECT_EQ(in.state(2), "slicer 4 36000..48000 0.5");
    EXPECT_EQ(in.state(3), "off");
    EXPECT_DOUBLE_EQ(in.voice(0).rate(), 2.0);
    EXPECT_EQ(in.view.slices()[0].highlightOpacity, 1.0f);
    in.view.createSlices();  // rebuilt, not yet laid out: no end to place a finger in
    in.play("+5@125");
    EXPECT_EQ(in.state(3), "off");
    Instrument slide(Playhead::kSlicer, 48000);
    slide.slice(4);
    slide.play("+1@375 1@400");  // within the slice: nothing changes
    EXPECT_EQ(slide.state(1), "off");
    slide.play("1@625");  // into the third; the second is released, its tail still sounds
    EXPECT_EQ(slide.state(0), "slicer 0 12000..24000 0.725");
    EXPECT_EQ(slide.state(1), "slicer 1 24000..36000 0.9");
    slide.play("1@0");  // off the left end, no slice: a silent voice of no length
    EXPECT_EQ(slide.state(2), "slicer 1 0..0 0.55");
    slide.play("+2@125 2@875");  // a fast slide plays only where it arrives
    EXPECT_EQ(slide.state(4), "slicer 2 36000..48000 0.9");
    EXPECT_EQ(slide.state(5), "off");
    // Without slices a touch plays to the end; right of the strip the end lies before the start.
    slide.slice(0);
    slide.play("+3@500 3@800 +4@1200");
    EXPECT_EQ(slide.state(5), "slicer 3 24000..48000 0.9");
    EXPECT_EQ(slide.state(6), "slicer 4 57600..48000 0.9");
}

TEST(LooperMode, TwoFingersMakeALoopBetweenThemCloseOnesNarrowIt) {
    // Whichever lands first, the left finger is the first; the second holds the voice.
    for (auto [first, second, held] :
         {std::tuple{"+1@200", "+2@600", "looper 2 20000..60000 0.9"},
          std::tuple{"+2@600", "+1@200", "looper 1 20000..60000 0.9"}}) {
        SCOPED_TRACE(first);
        Instrument in(Playhead::kLooper, 100000);
        in.play(first);
        EXPECT_EQ(in.state(0), "off");  // one finger waits
        in.play(second);
        EXPECT_EQ(in.state(0), held);
        EXPECT_DOUBLE_EQ(in.voice(0).pos(), 20000.0);
        EXPECT_FALSE(in.view.freeTouch());
        in.play("2@601");  // the right finger's end follows it exactly while far apart
        EXPECT_EQ(in.region(0), "200,-2 401x34");
    }
    // Close fingers narrow the loop from the first move.
    Instrument in(Playhead::kLooper, 100000);
    in.play("+1@400 +2@500");
    EXPECT_EQ(in.state(0), "looper 2 40000..50000 0.9");  // at the landing: the spacing exactly
    in.play("2@500");                                     // the first move narrows it: c = 16
    EXPECT_EQ(in.state(0), "looper 2 41600..48400 0.9");
    EXPECT_EQ(in.region(0), "416,-2 68x34");
    // 40 points apart the ends have crossed; the box spans from the left end to the right.
    in.play("2@440");
    EXPECT_EQ(in.state(0), "looper 2 43520..40480 0.9");
    EXPECT_EQ(in.region(0), "404.8,-2 30.4x34");
}

TEST(LooperMode, AWaitingFingerCountsWhereItBeganToWaitAndAFullPoolForgetsIt) {
    Instrument in(Playhead::kLooper, 100000);
    in.play("+1@300 1@350 +2@700");  // slides while waiting: not followed
    EXPECT_EQ(in.state(0), "looper 2 30000..70000 0.9");
    in.play("1@350");  // its first move in the loop: the left end jumps to the finger
    EXPECT_EQ(in.state(0), "looper 2 35000..70000 0.9");
    in.play("2@650 -1");  // the left finger lifts: the loop is released, the right one waits
    EXPECT_EQ(in.state(0), "looper 0 35000..65000 0.9");  // its release runs out in the mixer
    EXPECT_FALSE(in.voice(0).firstTouch || in.voice(0).secondTouch);
    ASSERT_TRUE(in.view.freeTouch() && in.view.freeTouch()->identity == 2u);
    in.play("2@700 +3@100");  // waiting again: it counts as of its last move in the loop
    EXPECT_EQ(in.state(1), "looper 3 10000..65000 0.9");
    EXPECT_EQ(in.region(1), "100,-2 550x34");
    in.play("-3 -2 +4@300 -4");  // a lone waiting finger lifting plays nothing, leaves nothing
    EXPECT_FALSE(in.view.freeTouch());
    EXPECT_TRUE(in.view.activeTouches().empty());
    for (const Playhead& v : in.view.playheads()) EXPECT_EQ(v.touchid(), kNoTouch);
    // A full pool forgets the second finger.
    Instrument full(Playhead::kLooper, 100000);
    for (Playhead& v : full.view.playheads()) v.setActive(true);
    test::LogLines log;
    full.play("+1@200 +2@600");
    EXPECT_EQ(log.lines, (std::vector<std::string>{"Ran out of playheads!"}));
    full.voice(7).setActive(false);
    full.play("+3@400 2@650");  // the first finger kept waiting; the forgotten one steers nothing
    EXPECT_EQ(full.state(7), "looper 3 20000..40000 0.9");
}

TEST(LooperMode, ModeChangesLeaveNoStaleFingers) {
    // After a mode change only the voice's owner releases the loop.
    Instrument in(Playhead::kLooper, 100000);
    in.play("+1@200 +2@600 bow -1");
    EXPECT_EQ(in.voice(0).touchid(), 2u);
    in.play("-2");
    EXPECT_EQ(in.voice(0).touchid(), kNoTouch);
    // A record reused by a bow voice is no longer the old pair's to move.
    Instrument re(Playhead::kLooper, 100000);
    re.play("+1@200 +2@600 bow -2");
    re.voice(0).setActive(false);
    re.play("+3@500 looper 1@250");
    EXPECT_EQ(re.state(0), "bow 3 50000..50000 0.9");
    // A finger that lifted in bow mode, waiting or in a loop, never waits again.
    re.play("+4@200 bow -4 looper +5@600");
    ASSERT_TRUE(re.view.freeTouch() && re.view.freeTouch()->identity == 5u);
    re.play("+6@300 bow -5 looper -6");
    EXPECT_EQ(re.state(1), "looper 0 30000..60000 0.9");
    EXPECT_FALSE(re.view.freeTouch());
}

TEST(BowMode, AFingerHoldsAGrainStreamAtItsPointOnTheLaidOutStrip) {
    Instrument in(Playhead::kBow, 480000);  // 10 s at 48 kHz
    in.play("+1@500");
    const Playhead& v = in.voice(0);
    EXPECT_EQ(in.state(0), "bow 1 240000..240000 0.9");
    EXPECT_DOUBLE_EQ(v.bowPos(), 236160.0);
    EXPECT_EQ(in.region(0), "492,-2 16x34");
    in.play("1@750");  // moves the grain centre and the box at once; the rest is the mixer's
    EXPECT_EQ(in.state(0), "bow 1 360000..240000 0.9");
    EXPECT_EQ(in.region(0), "742,-2 16x34");
    // Another finger moves only its own voice; beyond the end there is no clamp.
    in.play("+2@250 2@100 1@1100");
    EXPECT_EQ(in.state(0), "bow 1 528000..240000 0.9");
    EXPECT_EQ(in.state(1), "bow 2 48000..120000 0.9");
    in.play("-1");
    EXPECT_EQ(v.touchid(), kNoTouch);
    Instrument early(Playhead::kBow, 480000);
    early.view.layer()->setBounds(Rect::make(0, 0, 2000, 30));  // laid out, not yet measured
    early.play("+1@500");
    EXPECT_EQ(early.state(0), "bow 1 120000..120000 0.9");
    EXPECT_EQ(early.region(0), "492,-2 16x34");
    early.view.layer()->setBounds(Rect::make(0, 0, 0, 0));  // measured, the layer not laid out
    early.play("+2@500");
    EXPECT_EQ(early.state(1), "off");
    Instrument shortOne(Playhead::kBow, 4800);  // shorter than a grain: wider than the strip
    shortOne.play("+1@500");
    EXPECT_EQ(shortOne.region(0), "-300,-2 1600x34");
}

TEST(TapeMode, SpeedGrowsFromTheCentreAndBarsStackDownFromTheTop) {
    Instrument in(Playhead::kTape, 44100, 44100.0);  // played out at 48 kHz
    in.view.setTranspose(7);                         // does not apply here
    const double x[] = {750.0, 500.0, 0.0};
    const double rate[] = {0.91875, 0.0, -1.8375};
    for (int i = 0; i < 3; ++i) {
        in.down(10 + i, x[i]);
        EXPECT_DOUBLE_EQ(in.voice(i).rate(), rate[i]) << "x = " << x[i];
        EXPECT_EQ(in.state(i), "tape " + std::to_string(10 + i) + " 0..44100 0.9");  // from 0
    }
    in.play("10@500");  // steers the speed at once
    EXPECT_EQ(in.voice(0).rate(), 0.0);
    EXPECT_EQ(in.voice(0).touchid(), 10u);  // held at standstill
    Instrument bars(Playhead::kTape, 44100, 44100.0);
    // Each lands while the others sound; six voices sounding: the seventh is back at the top.
    bars.play("+1@300 +2@300 +3@300 +4@300 +5@300 +6@300 +7@900");
    EXPECT_EQ(bars.speedBar(1), "300,23 200x1.5");  // its top-left corner
    EXPECT_EQ(bars.speedBar(5), "300,3 200x1.5");
    EXPECT_EQ(bars.speedBar(6), "500,28 400x1.5");  // right of the centre: from the centre
    // Across the centre the left edge moves from the finger to the centre, keeping its row.
    bars.play("1@450");
    EXPECT_EQ(bars.speedBar(0), "450,28 50x1.5");
    bars.play("1@700");
    EXPECT_EQ(bars.speedBar(0), "500,28 200x1.5");
}
