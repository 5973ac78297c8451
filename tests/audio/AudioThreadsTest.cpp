// The graph rendered on one thread while the main thread moves every control and takes the
// oscilloscope's captures: no race (ThreadSanitizer in CI), no torn capture, and nothing
// allocated or locked on the rendering thread.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <random>
#include <thread>
#include <vector>

#include "AudioTestSupport.h"
#include "display/MainView.h"
#include "support/RealtimeGuard.h"
#include "support/SampleFixtures.h"

using namespace vornik;
using namespace vornik::test;

namespace {

struct Renderer {
    std::atomic<bool> stop{false};
    std::atomic<long> blocks{0};
    std::atomic<bool> nonFinite{false};
    RealtimeCounts counts;
    std::thread thread;

    template <class Render>
    void start(Render render) {
        thread = std::thread([this, render] {
            std::vector<float> left(256), right(256);
            RealtimeScope scope;
            int size = 1;
            while (!stop.load(std::memory_order_relaxed)) {
                size = size % 256 + 37;  // ragged calls, as some drivers make them
                const int n = std::min(size, 256);
                render(left.data(), right.data(), n);
                for (int i = 0; i < n; ++i) {
                    if (!std::isfinite(left[i]) || !std::isfinite(right[i])) nonFinite = true;
                }
                blocks.fetch_add(1, std::memory_order_relaxed);
            }
            counts = scope.counts();
        });
    }
    void waitFor(long more) {
        const long seen = blocks.load();
        while (blocks.load() < seen + more) std::this_thread::yield();
    }
    void finish() {
        stop = true;
        thread.join();
    }
};

void expectRealtime(const RealtimeCounts& counts) {
    EXPECT_EQ(counts.allocations, 0u);
    if (countsMalloc()) {
        EXPECT_EQ(counts.locks, 0u);
    }
}

}  // namespace

TEST(AudioThreads, ControlsMoveWhileTheViewRenders) {
    ManualClock clock;
    RunLoop loop(clock);
    MainView m(loop);
    m.initAudioEngine(MainView::AudioOutput::kNone);
    m.mixer().sample().publish(snapshotOf(ramp(48000, 1e-5f), ramp(48000, -1e-5f), 44100.0));
    for (std::size_t i = 0; i < 8; ++i) {
        Playhead& v = m.playheads()[i];
        v.setMode(Playhead::kTape);
        v.setTouchid(i + 1);
        v.setAmp(0.5f);
        v.setRate(m.getCurrentFilePlaybackRate() * (1.0 + 0.1 * i));
        v.setPos(1000.0 * i);
        v.setActive(true);
    }

    Renderer audio;
    audio.start([&m](float* l, float* r, int n) { m.renderOutput(l, r, n); });

    std::mt19937 rng(99);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    int captures = 0;
    for (int step = 0; step < 20000; ++step) {
        switch (rng() % 7) {
            case 0:
                m.filterSet(2.0f * unit(rng));
                break;
            case 1:
                m.filterSet(1.0f);
                break;
            case 2:
                m.delayTimeSet(unit(rng));
                break;
            case 3:
                m.delayFeedbackSet(unit(rng));
                break;
            case 4:
                m.reverbSet(unit(rng));
                break;
            case 5:
                m.setAttack(0.005 + unit(rng));
                m.setDecay(0.005 + unit(rng));
                break;
            default:
                if (m.takeOscilloscopeCapture()) {
                    ++captures;
                    m.setOscNewData(false);
                }
                break;
        }
        if (step % 500 == 0) audio.waitFor(1);
    }
    audio.waitFor(200);
    audio.finish();

    EXPECT_FALSE(audio.nonFinite.load());
    EXPECT_GT(captures, 0);
    expectRealtime(audio.counts);
}

TEST(AudioThreads, OscilloscopeCapturesArriveWholeAndInOrder) {
    // The source counts frames and every effect is off, so a capture is 1024 consecutive
    // numbers; a capture torn between two hand-overs would break the run.
    AudioGraph g;
    CounterSource counter;
    g.setSource(counter);
    setInaudible(g);
    g.prepare();

    Renderer audio;
    audio.start([&g](float* l, float* r, int n) { g.render(l, r, n); });

    std::vector<float> l(OscilloscopeTap::kFrames), r(OscilloscopeTap::kFrames);
    float last = -1.0f;
    int captures = 0;
    while (captures < 100) {
        if (!g.oscilloscope().take(l.data(), r.data())) {
            std::this_thread::yield();
            continue;
        }
        ++captures;
        for (int i = 1; i < OscilloscopeTap::kFrames; ++i) {
            const float expected = l[0] + static_cast<float>(i);
            ASSERT_TRUE(l[i] == expected || l[i] == expected - 1048576.0f) << i;  // wraps at 2^20
            ASSERT_EQ(r[i], -l[i]);
        }
        EXPECT_EQ(std::fmod(l[0], 1024.0f), 0.0f);  // captures start on 1024-frame boundaries
        EXPECT_NE(l[0], last);                      // never the same one twice
        last = l[0];
    }
    audio.finish();
    expectRealtime(audio.counts);
}

TEST(AudioThreads, TheDeviceRendersWhileControlsMoveAndTheRouteChanges) {
    // SDL's dummy driver (set by CTest) pulls the view on its own thread.
    if (!std::getenv("SDL_AUDIODRIVER")) setenv("SDL_AUDIODRIVER", "dummy", 1);
    ManualClock clock;
    RunLoop loop(clock);
    MainView m(loop);
    m.initAudioEngine(MainView::AudioOutput::kDevice);
    ASSERT_TRUE(m.audioDeviceOpen());
    m.mixer().sample().publish(snapshotOf(ramp(48000, 1e-5f), {}, 48000.0));
    Playhead& v = m.playheads()[0];
    v.setMode(Playhead::kTape);
    v.setTouchid(1);
    v.setAmp(0.5f);
    v.setRate(1.0);
    v.setActive(true);

    std::mt19937 rng(5);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    int captures = 0;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (int round = 0; round < 6 || captures < 3; ++round) {
        ASSERT_LT(std::chrono::steady_clock::now(), until);
        m.filterSet(2.0f * unit(rng));
        m.delayTimeSet(unit(rng));
        m.delayFeedbackSet(unit(rng));
        m.reverbSet(unit(rng));
        if (round % 3 == 2) m.audioHardwareRouteChanged();
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        if (m.takeOscilloscopeCapture()) ++captures;
    }
    EXPECT_TRUE(m.audioDeviceOpen());
    for (int i = 0; i < m.oscLength(); ++i) ASSERT_TRUE(std::isfinite(m.oscL()[i]));
}
