// The mixer's example numbers; MixerPathsTest's reference scene covers the rest of its paths.

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "engine/Mixer.h"
#include "support/SampleFixtures.h"

using namespace vornik;
using test::ramp;
using test::snapshotOf;

namespace {

struct Out {
    explicit Out(int frames, float fill = 0.0f) : left(frames, fill), right(frames, fill) {}
    std::vector<float> left, right;
};

Out render(Mixer& m, int frames, float fill = 0.0f) {
    Out out(frames, fill);
    m.renderAudio(out.left.data(), out.right.data(), frames);
    return out;
}

// Both channels, prefilled, come back cleared.
bool silent(Mixer& m) {
    Out out = render(m, 64, 7.0f);
    for (int i = 0; i < 64; ++i)
        if (out.left[i] != 0.0f || out.right[i] != 0.0f) return false;
    return true;
}

// A held voice at full level, as the touch handlers leave it (active written last).
Playhead& startVoice(Mixer& m, std::size_t index, int mode, double pos, double start, double end,
                     double rate = 1.0, float amp = 1.0f, double envelope = 1.0) {
    Playhead& v = m.playheads()[index];
    v.setMode(mode);
    v.setFadeOut(false);
    v.setTouchid(100 + index);
    v.setAmp(amp);
    v.setEnvelope(envelope);
    v.setRate(rate);
    v.setPos(pos);
    v.setFrameStart(start);
    v.setFrameEnd(end);
    v.setLooperCrossfade(Mixer::kLooperIdle);
    v.setActive(true);
    return v;
}

}  // namespace

TEST(SampleRead, HermiteExamplesAndMargins) {
    const std::vector<float> bump{0, 0, 1, 0, 0, 0};
    const std::vector<float> line{0, 1, 2, 3, 4, 5};
    EXPECT_FLOAT_EQ(readSample(bump.data(), 2.5, 6), 0.5625f);
    EXPECT_FLOAT_EQ(readSample(line.data(), 2.5, 6), 2.5f);

    // Within 2 frames of either end the stored frame itself (cap - 3 is the last interpolated
    // index); beyond the buffer, below -1, NaN and past any 32-bit index: the last frame.
    const std::vector<float> v{10, 11, 12, 13, 14, 15, 16, 17};
    const std::pair<double, float> reads[] = {{0.0, 10},          {1.0, 11},
                                              {1.75, 11},         {6.0, 16},
                                              {7.0, 17},          {6.5, 16},
                                              {5.5, 15.5},        {13.0, 17},
                                              {-0.5, 10},         {-1.0, 17},
                                              {-2.5, 17},         {1e30, 17},
                                              {std::nan(""), 17}, {4294967296.0 + 3.0, 17}};
    for (auto [pos, expected] : reads)
        EXPECT_FLOAT_EQ(readSample(v.data(), pos, 8), expected) << pos;
}

TEST(Mixer, SilenceWithoutAPlayableSample) {
    Mixer m;
    startVoice(m, 0, Playhead::kTape, 10, 0, 100);
    EXPECT_TRUE(silent(m));                      // before any load
    EXPECT_EQ(m.playheads()[0].pos(), 10.0);     // no voice is touched
    auto failed = snapshotOf(ramp(1000, 1.0f));  // a failed open keeps the planes, plays nothing
    failed->loaded = false;
    failed->fileLength = 0;
    m.sample().publish(std::move(failed));
    EXPECT_TRUE(silent(m));
    m.sample().publish(snapshotOf({}));  // a file of 0 frames
    EXPECT_TRUE(silent(m));
    render(m, 0);
}

TEST(Mixer, EnvelopeAttack) {
    Mixer m;
    m.sample().publish(snapshotOf(std::vector<float>(100000, 0.5f)));
    Playhead& v = startVoice(m, 0, Playhead::kTape, 100, 0, 100000, 1.0, 1.0f, 0.0);

    // 0.005 s attack: 1/240 a frame, 1 after about 240 frames, then exactly 1.
    render(m, 1);
    EXPECT_DOUBLE_EQ(v.envelope(), 1.0 / 240.0);
    render(m, 237);
    EXPECT_LT(v.envelope(), 1.0);
    render(m, 3);
    EXPECT_EQ(v.envelope(), 1.0);
    Out held = render(m, 64);
    EXPECT_EQ(v.envelope(), 1.0);
    EXPECT_EQ(held.left[63], 0.5f);
}

TEST(Mixer, TimedStartWaitsForItsFrameAndReleaseHoldsUntilItsOwn) {
    Mixer m;
    m.sample().publish(snapshotOf(std::vector<float>(100000, 0.5f)));
    render(m, 1000);  // the clock runs without voices too
    Playhead& v = m.playheads()[0];
    v.setStartFrame(1300);
    startVoice(m, 0, Playhead::kTape, 100, 0, 100000, 1.0, 1.0f, 0.0);

    EXPECT_TRUE(silent(m) && silent(m) && silent(m) && silent(m));  // up to frame 1256
    EXPECT_EQ(v.pos(), 100.0);
    Out out = render(m, 128);  // frames 1256..1383: it sounds from the 44th on
    EXPECT_EQ(out.left[43], 0.0f);
    EXPECT_FLOAT_EQ(out.left[44], 0.5f / 240.0f);
    EXPECT_DOUBLE_EQ(v.pos(), 184.0);
    EXPECT_EQ(m.frameClock(), 1384u);

    // Lifted, but held until frame 1688: full level to then, falling after.
    render(m, 240);
    v.setReleaseFrame(1688);
    v.setTouchid(kNoTouch);
    render(m, 64);
    EXPECT_EQ(v.envelope(), 1.0);
    render(m, 64);
    EXPECT_LT(v.envelope(), 1.0);
}

TEST(Mixer, SlicerEndZoneAndSwitchOffMidCall) {
    Mixer m;
    // value = frame + 1, so every output tells which frame was read.
    std::vector<float> s(4000);
    for (std::size_t i = 0; i < s.size(); ++i) s[i] = static_cast<float>(i + 1);
    m.sample().publish(snapshotOf(s));
    Playhead& v = startVoice(m, 0, Playhead::kSlicer, 700, 0, 1000);

    Out out = render(m, 512);
    EXPECT_EQ(out.left[60], 761.0f);  // pos 760: not yet in the end zone
    EXPECT_EQ(out.left[61], 762.0f * static_cast<float>(1.0 - 1.0 / 240.0));  // 761 fades
    EXPECT_EQ(out.right[61], out.left[61]);
    // pos reached 1000 at frame 299: switched off, back to the slice start, rendered on.
    EXPECT_FALSE(v.active());
    EXPECT_NEAR(out.left[300], 1.0f * 2.0 / 240.0, 1e-7);  // frame 0 again, attacking
    EXPECT_GT(out.left[511], 0.0f);
    EXPECT_DOUBLE_EQ(v.pos(), 212.0);

    EXPECT_TRUE(silent(m));  // from the next call on it is skipped
}

TEST(Mixer, TapeArrivingAtExactlyZeroMovesToTheEnd) {
    Mixer m;
    m.sample().publish(snapshotOf(ramp(1000)));
    Playhead& v = startVoice(m, 0, Playhead::kTape, 1.0, 0, 1000, -1.0);
    render(m, 1);
    EXPECT_DOUBLE_EQ(v.pos(), 1000.0);
}

TEST(Mixer, VoicesSumUnclippedAndForeignModesPlayNothing) {
    Mixer m;
    m.sample().publish(snapshotOf(std::vector<float>(1000, 0.8f), std::vector<float>(1000, -0.6f)));
    startVoice(m, 0, Playhead::kTape, 10, 0, 1000, 1.0, 0.9f);
    startVoice(m, 5, Playhead::kTape, 10, 0, 1000, 1.0, 0.9f);
    for (int mode : {4, -1}) startVoice(m, mode < 0 ? 10 : 9, mode, 10, 0, 1000);  // play nothing
    Out out = render(m, 16);
    EXPECT_FLOAT_EQ(out.left[3], 2 * 0.8f * 0.9f);  // 1.44: no clipping, no master gain
    EXPECT_FLOAT_EQ(out.right[3], 2 * -0.6f * 0.9f);
    EXPECT_TRUE(m.playheads()[10].active());
    EXPECT_EQ(m.playheads()[9].pos(), 10.0);
    EXPECT_EQ(m.playheads()[10].envelope(), 1.0);
}
