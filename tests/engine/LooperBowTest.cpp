// The two-head voices: the looper's crossfade at the loop point and the bow's grains.

#include <gtest/gtest.h>

#include <vector>

#include "engine/Mixer.h"
#include "support/SampleFixtures.h"

using namespace vornik;
using test::ramp;
using test::snapshotOf;

namespace {

// The left channel of `frames` rendered frames.
std::vector<float> renderFrames(Mixer& m, int frames) {
    std::vector<float> l(frames), r(frames);
    m.renderAudio(l.data(), r.data(), frames);
    return l;
}

}  // namespace

TEST(Looper, CrossfadeAtTheLoopPointOrAMovedStartHandsOverAfterAbout240Frames) {
    Mixer m;
    m.sample().publish(snapshotOf(ramp(10000, 1e-4f)));
    Playhead& v = test::startVoice(m.playheads()[3], {Playhead::kLooper, 1000, 2000});
    v.setPos(1990);
    int frame = 0;
    while (v.looperCrossfade() == Mixer::kLooperIdle && frame < 100) {
        renderFrames(m, 1);
        ++frame;
    }
    EXPECT_GT(v.pos(), 2000.0);
    EXPECT_EQ(v.looperPos(), 1000.0);
    EXPECT_EQ(v.looperCrossfade(), 0.0);
    // The first crossfade frame still gives the second head weight 0: exactly the main head.
    const double mainPos = v.pos();
    EXPECT_EQ(renderFrames(m, 1)[0], readSample(m.sample().current().left, mainPos, 10000) * 0.9f);
    int crossfadeFrames = 1;
    while (v.looperCrossfade() != Mixer::kLooperIdle && crossfadeFrames < 1000) {
        renderFrames(m, 1);
        ++crossfadeFrames;
    }
    EXPECT_NEAR(crossfadeFrames, 241, 2);
    EXPECT_NEAR(v.pos(), 1241.0, 2.0);  // about 1240, and the loop goes on from there
    renderFrames(m, 500);
    EXPECT_EQ(v.looperCrossfade(), Mixer::kLooperIdle);
    EXPECT_NEAR(v.pos(), 1742.0, 2.0);
    v.setFrameStart(1500);
    v.setPos(1500);
    renderFrames(m, 10);
    EXPECT_EQ(v.looperCrossfade(), Mixer::kLooperIdle);
    // The finger moves the loop's start past the head: a crossfade back starts at once.
    v.setFrameStart(1600);
    renderFrames(m, 1);
    EXPECT_EQ(v.looperCrossfade(), 0.0);
    EXPECT_EQ(v.looperPos(), 1600.0);
    // At envelope 0 the crossfade holds still while the main head moves on.
    renderFrames(m, 10);
    v.setFadeOut(true);
    v.setEnvelope(0.0);
    const double cf = v.looperCrossfade(), second = v.looperPos(), pos = v.pos();
    renderFrames(m, 50);
    EXPECT_GT(cf, 0.0);
    EXPECT_EQ(v.looperCrossfade(), cf);
    EXPECT_EQ(v.looperPos(), second);
    EXPECT_DOUBLE_EQ(v.pos(), pos + 50);
}

TEST(Bow, GrainsHandOverEvery3840FramesWithAmpInRange) {
    Mixer m;
    m.sample().publish(snapshotOf(ramp(96000, 1e-5f), ramp(96000, -1e-5f)));
    const double centre = 24000;
    Playhead& v = test::startVoice(m.playheads()[0], {Playhead::kBow, centre, centre, 1.0, 0.0});
    // First frame: bowAmp 0, so exactly the main head times g.
    const float g = static_cast<float>(static_cast<double>(0.9f) * (1.0 / 240.0));
    EXPECT_EQ(renderFrames(m, 1)[0], readSample(m.sample().current().left, centre, 96000) * g);
    std::vector<int> handovers;
    double lastAmp = v.bowAmp();
    for (int frame = 1; frame < 20000; ++frame) {
        if (frame == 9000) v.setFadeOut(true);  // the ramp runs whatever the envelope
        renderFrames(m, 1);
        const double a = v.bowAmp();
        ASSERT_GE(a, 0.0);
        ASSERT_LE(a, 1.0);
        if (a < lastAmp) {
            handovers.push_back(frame);
            // With rate fsr/sr the new main head arrives exactly at the centre.
            EXPECT_NEAR(v.pos(), centre, 1.0);
            EXPECT_NEAR(v.bowPos(), centre - 3840, 1e-6);
        }
        lastAmp = a;
    }
    ASSERT_GE(handovers.size(), 4u);
    for (std::size_t i = 1; i < handovers.size(); ++i) {
        EXPECT_NEAR(handovers[i] - handovers[i - 1], 3840, 1);
    }
    // Mid-grain, both heads at fractional positions: the two-lane reads must equal the
    // one-channel read and the crossfade formula to the last bit, on both channels.
    renderFrames(m, 1000);
    const double pos = v.pos() + 0.37, second = v.bowPos() + 0.61, ba = v.bowAmp();
    v.setFadeOut(false);
    v.setPos(pos);
    v.setBowPos(second);
    std::vector<float> l(1), r(1);
    m.renderAudio(l.data(), r.data(), 1);
    const SampleSnapshot& s = m.sample().current();
    const double e = v.envelope();
    const float g2 = static_cast<float>(static_cast<double>(0.9f) * e);
    auto mix = [&](const float* plane) {
        const float a = readSample(plane, pos, 96000), b = readSample(plane, second, 96000);
        const float first = static_cast<float>((1.0 - ba) * static_cast<double>(a));
        return static_cast<float>(static_cast<double>(first) + ba * static_cast<double>(b)) * g2;
    };
    EXPECT_EQ(l[0], mix(s.left));
    EXPECT_EQ(r[0], mix(s.right));
}
