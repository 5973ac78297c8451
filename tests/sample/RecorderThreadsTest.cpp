// The recorder's three threads at once: a producer feeding the capture side, the writer draining,
// the main thread metering. Run under ThreadSanitizer in CI.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>
#include <vector>

#include "RecorderTestFiles.h"
#include "sample/CaptureSourceFile.h"
#include "sample/Recorder.h"
#include "sample/RecorderRing.h"

using namespace vornik;

namespace {

// Frame i carries a counter that 16-bit PCM stores exactly: left k / 32768, right -k / 32768.
constexpr int kCycle = 30000;
float counterValue(std::uint64_t i) { return static_cast<float>(1 + i % kCycle) / 32768.0f; }

}  // namespace

TEST(RecorderThreads, RingKeepsEveryFrameInOrder) {
    constexpr std::uint64_t kFrames = 1'000'000;
    FrameRing ring(1000);
    std::thread producer([&] {
        std::vector<float> block(2 * 97);
        std::uint64_t next = 0;
        while (next < kFrames) {
            const std::size_t n = std::min<std::uint64_t>(97, kFrames - next);
            for (std::size_t j = 0; j < n; ++j) {
                block[2 * j] = static_cast<float>(next + j);
                block[2 * j + 1] = -static_cast<float>(next + j);
            }
            // The test's producer may retry; the capture side never does.
            std::size_t done = 0;
            while (done < n) {
                const std::size_t room = ring.writableFrames();
                if (room == 0) {
                    std::this_thread::yield();
                    continue;
                }
                done += ring.push(block.data() + 2 * done, std::min(room, n - done));
            }
            next += n;
        }
    });

    std::vector<float> out(2 * 61);
    std::uint64_t expected = 0;
    std::uint64_t wrong = 0;
    while (expected < kFrames) {
        const std::size_t n = ring.pop(out.data(), 61);
        if (n == 0) std::this_thread::yield();
        for (std::size_t j = 0; j < n; ++j, ++expected) {
            if (out[2 * j] != static_cast<float>(expected) ||
                out[2 * j + 1] != -static_cast<float>(expected)) {
                ++wrong;
            }
        }
    }
    producer.join();
    EXPECT_EQ(wrong, 0u);
    EXPECT_EQ(ring.droppedFrames(), 0u);
}

TEST(RecorderThreads, ProducerFeedsWhileWriterDrainsAndMainMeters) {
    test::TempDir dir;
    test::writeFloatWav(dir / "unused.wav", std::vector<float>(2, 0.0f), 2);
    test::TempDir out;
    // The file source is only there to be started; this test's thread is the capture side.
    Recorder rec(out.path(), std::make_unique<FileCaptureSource>(dir / "unused.wav"), 8192);
    ASSERT_TRUE(rec.record());

    constexpr std::uint64_t kFrames = 1200 * 256;
    constexpr std::size_t kBlock = 256;
    std::atomic<bool> done{false};
    std::thread producer([&] {
        std::vector<float> block(2 * kBlock);
        for (std::uint64_t i = 0; i < kFrames; i += kBlock) {
            for (std::size_t j = 0; j < kBlock; ++j) {
                block[2 * j] = counterValue(i + j);
                block[2 * j + 1] = -counterValue(i + j);
            }
            // Paced like a device (whose blocks come at intervals), with a burst now and then that
            // may overflow the ring.
            const bool burst = (i / kBlock) % 100 == 99;
            while (!burst && rec.captureRoom() < kBlock) {
                std::this_thread::sleep_for(std::chrono::microseconds(100));
            }
            rec.captureFrames(block.data(), kBlock);
        }
        done.store(true, std::memory_order_release);
    });

    int updates = 0;
    bool outOfRange = false;
    while (!done.load(std::memory_order_acquire)) {
        rec.updateMeters();
        const float p = rec.averagePowerForChannel(0);
        if (!(p >= -160.0f && p <= 0.0f)) outOfRange = true;
        ++updates;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    producer.join();
    rec.updateMeters();
    EXPECT_FALSE(outOfRange);
    EXPECT_GT(rec.averagePowerForChannel(0), -20.0f);  // the counter's level is well above that
    EXPECT_GT(updates, 0);

    ASSERT_TRUE(rec.stop());
    const auto file = test::readPcm16(out / "recording.wav");
    ASSERT_TRUE(file.opened);
    const std::uint64_t frames = static_cast<std::uint64_t>(file.info.frames);
    EXPECT_EQ(frames, rec.framesRecorded());
    EXPECT_EQ(frames + rec.droppedFrames(), kFrames);

    // Every frame whole (right mirrors left), and the counter runs on except where frames dropped.
    std::uint64_t torn = 0, gaps = 0;
    for (std::uint64_t i = 0; i < frames; ++i) {
        const int left = file.samples[2 * i];
        if (file.samples[2 * i + 1] != -left) ++torn;
        if (i > 0) {
            const int previous = file.samples[2 * (i - 1)];
            if (left != previous % kCycle + 1) ++gaps;
        }
    }
    EXPECT_EQ(torn, 0u);
    if (rec.droppedFrames() == 0) {
        EXPECT_EQ(gaps, 0u);
    }
    EXPECT_EQ(file.samples[0], 1);
}

TEST(RecorderThreads, DeviceCaptureWhileMainMeters) {
    test::TempDir out;
    Recorder rec(out.path());
    for (int round = 0; round < 2; ++round) {
        ASSERT_TRUE(rec.record());
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
        while (std::chrono::steady_clock::now() < until) {
            rec.updateMeters();
            EXPECT_EQ(rec.averagePowerForChannel(0), -160.0f);  // dummy input: silence
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        rec.stop();
    }
}
