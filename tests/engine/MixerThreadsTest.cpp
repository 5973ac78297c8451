// The mixer against the main thread: no race, no freed sample read. Run under ThreadSanitizer and
// AddressSanitizer in CI.

#include <gtest/gtest.h>

#include <random>

#include "engine/Mixer.h"
#include "support/AudioThread.h"
#include "support/SampleFixtures.h"

using namespace vornik;

namespace {

std::unique_ptr<SampleSnapshot> randomSample(std::mt19937& rng) {
    std::uniform_int_distribution<int> frames(0, 6000);
    std::uniform_real_distribution<float> value(-1.0f, 1.0f);
    std::vector<float> left(frames(rng)), right;
    for (float& x : left) x = value(rng);
    if (rng() % 2) {
        right.resize(left.size());
        for (float& x : right) x = value(rng);
    }
    auto s = test::snapshotOf(left, right, rng() % 2 ? 44100.0 : 48000.0);
    if (rng() % 8 == 0) s->loaded = false;  // a failed open keeps the planes, plays nothing
    return s;
}

}  // namespace

TEST(MixerThreads, MainThreadSteersWhileAudioRenders) {
    Mixer m;
    test::AudioThread audio([&m](float* l, float* r, int n) { m.renderAudio(l, r, n); });
    std::mt19937 rng(1234);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int step = 0; step < 20000; ++step) {
        Playhead& v = m.playheads()[rng() % kVoiceCount];
        const double length = m.sample().current().fileBufferLength;
        switch (rng() % 6) {
            case 0:  // start a voice: every field first, active last
                if (v.active()) break;
                v.setMode(static_cast<int>(rng() % 9) - 2);  // a few foreign modes too
                v.setFadeOut(false);
                v.setTouchid(1 + rng() % 10);
                v.setAmp(0.9f);
                v.setEnvelope(0.0);
                v.setRate(unit(rng) * 4.0 - 2.0);
                v.setPos(unit(rng) * length);
                v.setFrameStart(unit(rng) * length);
                v.setFrameEnd(unit(rng) * length + 100.0);
                v.setLooperCrossfade(-1.0);
                v.setBowAmp(0.0);
                v.setBowPos(v.frameStart() - 3528.0);
                v.setActive(true);
                break;
            case 1:  // steer
                v.setFrameStart(unit(rng) * length);
                v.setRate(unit(rng) * 2.0);
                break;
            case 2:  // the finger lifts
                v.setTouchid(kNoTouch);
                break;
            case 3:  // the display update frees silent voices
                for (Playhead& p : m.playheads()) {
                    const bool silent = p.envelope() == 0.0 || p.mode() < 0 || p.mode() > 3;
                    if (p.active() && silent && (p.touchid() == kNoTouch || p.fadeOut())) {
                        p.setActive(false);
                    }
                }
                break;
            case 4:  // a load: fade everything, then swap the sample
                for (Playhead& p : m.playheads()) {
                    if (p.active()) p.setFadeOut(true);
                }
                if (rng() % 4 == 0) m.sample().publish(randomSample(rng));
                break;
            default:
                m.setAttack(0.005 + unit(rng));
                m.setDecay(0.005 + unit(rng));
                m.sample().collect();
                break;
        }
        if (step % 500 == 0) std::this_thread::yield();
    }
    audio.waitFor(200);
    EXPECT_TRUE(audio.finish());
    m.sample().collect();
    EXPECT_EQ(m.sample().retiredCount(), 0u);
}
