// The graph rendered on one thread while the main thread moves every control and takes the
// oscilloscope's captures: no race (ThreadSanitizer in CI), no torn capture. The one check that
// the audio callback neither allocates nor locks is here too; the threading tests leave it to it.

#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <thread>

#include "AudioTestSupport.h"
#include "support/AudioThread.h"
#include "support/Files.h"
#include "support/SampleFixtures.h"

using namespace vornik;
using namespace vornik::test;

namespace {

// Moves every effect control to a random place.
void moveControls(MainView& m, std::mt19937& rng) {
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    m.filterSet(rng() % 4 == 0 ? 1.0f : 2.0f * unit(rng));
    m.delayTimeSet(unit(rng));
    m.delayFeedbackSet(unit(rng));
    m.reverbSet(unit(rng));
    m.setAttack(0.005 + unit(rng));
    m.setDecay(0.005 + unit(rng));
}

}  // namespace

TEST(Realtime, TheAudioCallbackNeitherAllocatesNorLocks) {
    // The whole callback (mixer, every mode, every effect on) in ragged calls, with the controls
    // moving, the sample replaced between calls as the main thread does it, and a take of the
    // output running, hits marked.
    View v;
    MainView& m = v.view;
    setEffects(m.audioGraph(), true);
    TempDir takes;
    m.outputRecorder().setTakesDirectory(takes.path());
    ASSERT_TRUE(m.outputRecorder().start());
    std::mt19937 rng(3);
    RealtimeCounts counts;
    std::vector<float> left(4096), right(4096);
    for (int round = 0; round < 30; ++round) {
        if (round % 10 == 0) {
            m.mixer().sample().publish(
                snapshotOf(ramp(48000, 1e-5f), ramp(48000, -1e-5f), round % 20 ? 44100 : 48000));
            for (std::size_t i = 0; i < kVoiceCount; ++i) {
                startVoice(m.playheads()[i],
                           {static_cast<int>(i % 4), 1000.0 + 100 * i, 5000.0 + 100 * i,
                            0.7 + 0.01 * i, 1.0, 0.5f, i % 3 ? 1 + i : kNoTouch});
            }
        }
        moveControls(m, rng);
        m.outputRecorder().markCue();
        RealtimeScope scope;
        for (int n : {1, 63, 64, 65, 1000, 7, 4096}) m.renderOutput(left.data(), right.data(), n);
        counts.allocations += scope.counts().allocations;
        counts.locks += scope.counts().locks;
    }
    expectRealtime(counts);
    m.outputRecorder().stop();
    m.outputRecorder().waitFinished();
    EXPECT_EQ(m.outputRecorder().lastTake().frames, 30u * 5296);
}

TEST(AudioThreads, ControlsMoveWhileTheViewRenders) {
    View v;
    MainView& m = v.view;
    m.mixer().sample().publish(snapshotOf(ramp(48000, 1e-5f), ramp(48000, -1e-5f), 44100.0));
    for (std::size_t i = 0; i < 8; ++i) {
        holdTape(m, i, m.getCurrentFilePlaybackRate() * (1.0 + 0.1 * i), 1000.0 * i);
    }
    AudioThread audio([&m](float* l, float* r, int n) { m.renderOutput(l, r, n); });
    std::mt19937 rng(99);
    int captures = 0;
    for (int step = 0; step < 5000; ++step) {
        moveControls(m, rng);
        if (m.takeOscilloscopeCapture()) {
            ++captures;
            m.setOscNewData(false);
        }
        if (step % 100 == 0) audio.waitFor(1);
    }
    audio.waitFor(200);
    EXPECT_TRUE(audio.finish());
    EXPECT_GT(captures, 0);
}

TEST(AudioThreads, OscilloscopeCapturesArriveWholeAndInOrder) {
    // The source counts frames (left n, right -n, wrapping at 2^20) and every effect is off, so
    // a capture is 1024 consecutive numbers; one torn between two hand-overs breaks the run.
    struct CounterSource {
        std::uint32_t frame = 0;
        void renderAudio(float* left, float* right, int frames) {
            for (int i = 0; i < frames; ++i, ++frame) {
                left[i] = static_cast<float>(frame % (1u << 20));
                right[i] = -left[i];
            }
        }
    } counter;
    AudioGraph g;
    prepare(g, counter);
    AudioThread audio([&g](float* l, float* r, int n) { g.render(l, r, n); });

    std::vector<float> l(OscilloscopeTap::kFrames), r(OscilloscopeTap::kFrames);
    float last = -1.0f;
    for (int captures = 0; captures < 100;) {
        if (!g.oscilloscope().take(l.data(), r.data())) {
            std::this_thread::yield();
            continue;
        }
        ++captures;
        for (int i = 1; i < OscilloscopeTap::kFrames; ++i) {
            const float expected = l[0] + static_cast<float>(i);
            ASSERT_TRUE(l[i] == expected || l[i] == expected - 1048576.0f) << i;
            ASSERT_EQ(r[i], -l[i]);
        }
        EXPECT_EQ(std::fmod(l[0], 1024.0f), 0.0f);  // on 1024-frame boundaries
        EXPECT_NE(l[0], last);                      // never the same one twice
        last = l[0];
    }
    EXPECT_TRUE(audio.finish());
}

TEST(AudioThreads, TheDeviceRendersWhileControlsMoveAndTheRouteChanges) {
    ScopedDriver driver("dummy");  // pulls the view on SDL's own thread
    View v(MainView::AudioOutput::kDevice);
    MainView& m = v.view;
    ASSERT_TRUE(m.audioDeviceOpen());
    m.mixer().sample().publish(snapshotOf(ramp(48000, 1e-5f), {}, 48000.0));
    holdTape(m, 0, 1.0);

    std::mt19937 rng(5);
    int captures = 0;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (int round = 0; round < 6 || captures < 3; ++round) {
        ASSERT_LT(std::chrono::steady_clock::now(), until);
        moveControls(m, rng);
        if (round % 3 == 2) m.audioHardwareRouteChanged();
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        if (m.takeOscilloscopeCapture()) ++captures;
    }
    EXPECT_TRUE(m.audioDeviceOpen());
    for (int i = 0; i < m.oscLength(); ++i) ASSERT_TRUE(std::isfinite(m.oscL()[i]));
}
