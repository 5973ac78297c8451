// Loads on the main thread while the audio thread renders: no race, no freed plane read, and
// nothing allocated or locked on the rendering thread. Run under ThreadSanitizer in CI.

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>
#include <vector>

#include "AudioFileHelpers.h"
#include "display/MainView.h"
#include "support/LogLines.h"
#include "support/RealtimeGuard.h"

using namespace vornik;

TEST(SampleLoadThreads, MainThreadLoadsWhileAudioRenders) {
    test::TempDir dir;
    const std::vector<std::string> files{dir.file("a.wav"), dir.file("b.flac"),
                                         dir.file("missing.wav"), dir.file("c.wav")};
    ASSERT_TRUE(test::writeAudio(files[0], SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 2,
                                 test::testSignal(20000, 2)));
    ASSERT_TRUE(test::writeAudio(files[1], SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 48000, 1,
                                 test::testSignal(3000, 1)));
    ASSERT_TRUE(test::writeAudio(files[3], SF_FORMAT_WAV | SF_FORMAT_FLOAT, 22050, 3,
                                 test::testSignal(7000, 3)));

    ManualClock clock;
    RunLoop loop(clock);
    MainView view(loop);
    view.setTouchBarSize({1000.0, 30.0});
    test::LogLines quiet;  // the failed opens log; keep stderr clean

    // Held voices of every mode, reading wherever they are when the sample changes.
    for (std::size_t i = 0; i < 8; ++i) {
        Playhead& v = view.playheads()[i];
        v.setMode(static_cast<int>(i % 4));
        v.setTouchid(i + 1);
        v.setAmp(0.5f);
        v.setEnvelope(1.0);
        v.setRate(i % 2 ? 1.0 : -0.7);
        v.setPos(500.0 * i);
        v.setFrameStart(100.0 * i);
        v.setFrameEnd(100.0 * i + 4000.0);
        v.setLooperCrossfade(Mixer::kLooperIdle);
        v.setBowPos(0.0);
        v.setActive(true);
    }

    std::atomic<bool> stop{false};
    std::atomic<long> blocks{0};
    std::atomic<bool> nonFinite{false};
    test::RealtimeCounts counts;
    std::thread audio([&] {
        std::vector<float> left(kRequestedBlockFrames), right(kRequestedBlockFrames);
        test::RealtimeScope scope;
        while (!stop.load(std::memory_order_relaxed)) {
            view.renderAudio(left.data(), right.data(), kRequestedBlockFrames);
            for (int i = 0; i < kRequestedBlockFrames; ++i) {
                if (!std::isfinite(left[i]) || !std::isfinite(right[i])) nonFinite = true;
            }
            blocks.fetch_add(1, std::memory_order_relaxed);
        }
        counts = scope.counts();
    });

    for (int round = 0; round < 40; ++round) {
        const long seen = blocks.load();
        while (blocks.load() < seen + 3) std::this_thread::yield();  // renders in between
        view.actuallyLoadFile(files[round % files.size()]);
        view.setNumSlices(round % 3 == 0 ? 8 : 1);
        view.mixer().sample().collect();
    }
    stop = true;
    audio.join();

    view.mixer().sample().collect();
    EXPECT_EQ(view.mixer().sample().retiredCount(), 0u);
    EXPECT_TRUE(view.hasAudioFile());  // the last file was c.wav
    EXPECT_EQ(view.audioFileChannelCount(), 3);
    EXPECT_FALSE(nonFinite.load());
    EXPECT_EQ(counts.allocations, 0u);
    if (test::countsMalloc()) {
        EXPECT_EQ(counts.locks, 0u);
    }
}
