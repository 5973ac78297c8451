// The mixer's numbers: the sample read, the envelope, slicer and tape voices.

#include "engine/Mixer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

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

    // Within 2 frames of either end: the stored frame itself, no interpolation.
    const std::vector<float> v{10, 11, 12, 13, 14, 15, 16, 17};
    const std::uint32_t cap = 8;
    EXPECT_EQ(readSample(v.data(), 0.0, cap), 10.0f);
    EXPECT_EQ(readSample(v.data(), 1.0, cap), 11.0f);
    EXPECT_EQ(readSample(v.data(), 1.75, cap), 11.0f);
    EXPECT_EQ(readSample(v.data(), cap - 2.0, cap), 16.0f);
    EXPECT_EQ(readSample(v.data(), cap - 1.0, cap), 17.0f);
    EXPECT_EQ(readSample(v.data(), cap - 1.5, cap), 16.0f);
    // cap - 3 is the last interpolated index.
    EXPECT_FLOAT_EQ(readSample(v.data(), cap - 2.5, cap), 15.5f);

    // Beyond the buffer, and the wrap of -1 and below: the last frame, never outside the array.
    EXPECT_EQ(readSample(v.data(), cap + 5.0, cap), 17.0f);
    EXPECT_EQ(readSample(v.data(), -0.5, cap), 10.0f);  // (-1, 0) truncates to frame 0
    EXPECT_EQ(readSample(v.data(), -1.0, cap), 17.0f);
    EXPECT_EQ(readSample(v.data(), -2.5, cap), 17.0f);
    EXPECT_EQ(readSample(v.data(), 1e30, cap), 17.0f);
    EXPECT_EQ(readSample(v.data(), std::nan(""), cap), 17.0f);
    // Past any 32-bit index: the last frame, not a wrapped index with a huge fraction.
    EXPECT_EQ(readSample(v.data(), 4294967296.0 + 3.0, cap), 17.0f);
}

TEST(Mixer, SilenceWithoutAPlayableSample) {
    Mixer m;
    startVoice(m, 0, Playhead::kTape, 10, 0, 100);
    // Before any load: both channels cleared, whatever they held.
    Out before = render(m, 64, 7.0f);
    for (float x : before.left) ASSERT_EQ(x, 0.0f);
    for (float x : before.right) ASSERT_EQ(x, 0.0f);
    EXPECT_EQ(m.playheads()[0].pos(), 10.0);  // no voice is touched

    // After a failed open the previous planes stay, but nothing plays.
    auto failed = snapshotOf(ramp(1000, 1.0f));
    failed->loaded = false;
    failed->fileLength = 0;
    m.sample().publish(std::move(failed));
    Out after = render(m, 64, 7.0f);
    for (float x : after.left) ASSERT_EQ(x, 0.0f);

    // A file of 0 frames plays nothing either.
    auto empty = snapshotOf({});
    m.sample().publish(std::move(empty));
    Out none = render(m, 64, 7.0f);
    for (float x : none.right) ASSERT_EQ(x, 0.0f);
    render(m, 0);  // and a call for no frames is fine
}

TEST(Mixer, EnvelopeAttackReleaseAndFastFade) {
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

    // Release over `decay` seconds once the finger lifts.
    m.setDecay(0.5);
    v.setTouchid(kNoTouch);
    render(m, 2400);
    EXPECT_NEAR(v.envelope(), 0.9, 1e-9);

    // The fast fade wins over the touch state: 200 a second.
    v.setTouchid(7);
    v.setFadeOut(true);
    render(m, 24);
    EXPECT_NEAR(v.envelope(), 0.8, 1e-9);
    render(m, 1000);
    EXPECT_EQ(v.envelope(), 0.0);

    // At envelope 0 the voice adds nothing but still moves.
    const double pos = v.pos();
    Out silent = render(m, 64);
    for (float x : silent.left) ASSERT_EQ(x, 0.0f);
    EXPECT_DOUBLE_EQ(v.pos(), pos + 64);
    EXPECT_TRUE(v.active());  // the display update frees it, not the mixer
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

    // From the next call on it is skipped.
    Out next = render(m, 64);
    for (float x : next.left) ASSERT_EQ(x, 0.0f);

    // Running off the sample's end switches off too, and wraps.
    Playhead& w = startVoice(m, 1, Playhead::kSlicer, 3998, 0, 1e9, 1.5);
    render(m, 2);
    EXPECT_FALSE(w.active());
    EXPECT_DOUBLE_EQ(w.pos(), 3998 + 3.0 - 4000);
}

TEST(Mixer, TapeWrapsInBothDirections) {
    Mixer m;
    const std::vector<float> s = ramp(1000, 0.001f);
    m.sample().publish(snapshotOf(s));
    Playhead& v = startVoice(m, 0, Playhead::kTape, 0.5, 0, 1000, -1.0);

    Out out = render(m, 2);
    EXPECT_EQ(out.left[0], s[0]);  // 0.5 reads stored frame 0
    EXPECT_EQ(out.left[1], s[999]);  // then 999.5, within the end margin
    EXPECT_DOUBLE_EQ(v.pos(), 998.5);

    // An exact 0 after an advance moves to the end; the end wraps to the start going forward.
    v.setPos(1.0);
    render(m, 1);
    EXPECT_DOUBLE_EQ(v.pos(), 1000.0);
    v.setRate(2.0);
    render(m, 1);
    EXPECT_DOUBLE_EQ(v.pos(), 2.0);
    // A standing tape stays where it is, at the very start too (no flip to the end and back).
    v.setRate(0.0);
    render(m, 64);
    EXPECT_DOUBLE_EQ(v.pos(), 2.0);
    v.setPos(0.0);
    Out standing = render(m, 3);
    EXPECT_EQ(v.pos(), 0.0);
    EXPECT_EQ(standing.left[2], s[0]);
}

TEST(Mixer, VoicesSumUnclippedAndForeignModesPlayNothing) {
    Mixer m;
    m.sample().publish(snapshotOf(std::vector<float>(1000, 0.8f), std::vector<float>(1000, -0.6f)));
    startVoice(m, 0, Playhead::kTape, 10, 0, 1000, 1.0, 0.9f);
    startVoice(m, 5, Playhead::kTape, 10, 0, 1000, 1.0, 0.9f);
    Playhead& odd = startVoice(m, 9, 4, 10, 0, 1000);
    Playhead& negative = startVoice(m, 10, -1, 10, 0, 1000);
    Out out = render(m, 16);
    const float g = static_cast<float>(static_cast<double>(0.9f) * 1.0);
    EXPECT_FLOAT_EQ(out.left[3], 2 * 0.8f * g);  // 1.44: no clipping, no master gain
    EXPECT_FLOAT_EQ(out.right[3], 2 * -0.6f * g);
    EXPECT_TRUE(odd.active());
    EXPECT_TRUE(negative.active());
    EXPECT_EQ(odd.pos(), 10.0);
    EXPECT_EQ(negative.envelope(), 1.0);
}
