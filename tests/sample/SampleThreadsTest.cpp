// The recorder's three threads (capture, writer, main metering), the output recorder's (audio,
// writer, main marking hits) and loads while the audio thread renders: no race (ThreadSanitizer in
// CI), no torn frame, nothing allocated or locked on the real-time side.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "SampleTestFiles.h"
#include "sample/AudioFileReader.h"
#include "sample/CaptureSourceFile.h"
#include "sample/OutputRecorder.h"
#include "sample/Recorder.h"
#include "support/AudioThread.h"
#include "support/LogLines.h"
#include "support/SampleFixtures.h"

using namespace vornik;
using namespace vornik::test;

TEST(RecorderThreads, ProducerFeedsWhileWriterDrainsAndMainMeters) {
    TempDir dir;
    writeAudio(dir / "unused.wav", kWavFloat, 44100, 2, std::vector<float>(2));
    // The file source is only started; this test's thread is the capture side.
    Recorder rec(dir / "out", std::make_unique<FileCaptureSource>(dir / "unused.wav"), 8192);
    ASSERT_TRUE(rec.record());
    // Frame i carries a counter 16-bit PCM stores exactly: left k / 32768, right -k / 32768.
    constexpr int kCycle = 30000;
    constexpr std::size_t kBlock = 256, kFrames = 1200 * kBlock;
    std::atomic<bool> done{false};
    std::thread producer([&] {
        std::vector<float> block(2 * kBlock);
        for (std::size_t i = 0; i < kFrames; i += kBlock) {
            for (std::size_t j = 0; j < kBlock; ++j) {
                block[2 * j] = static_cast<float>(1 + (i + j) % kCycle) / 32768.0f;
                block[2 * j + 1] = -block[2 * j];
            }
            // Paced like a device, with a burst now and then that may overflow the ring.
            while ((i / kBlock) % 100 != 99 && rec.captureRoom() < kBlock) {
                std::this_thread::sleep_for(std::chrono::microseconds(100));
            }
            rec.captureFrames(block.data(), kBlock);
        }
        done = true;
    });
    bool outOfRange = false;
    while (!done) {
        rec.updateMeters();
        const float p = rec.averagePowerForChannel(0);
        outOfRange = outOfRange || !(p >= -160.0f && p <= 0.0f);
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    producer.join();
    rec.updateMeters();
    EXPECT_FALSE(outOfRange);
    ASSERT_TRUE(rec.stop());
    const auto file = readPcm16(dir / "out" / "recording.wav");
    const auto frames = static_cast<std::uint64_t>(file.info.frames);
    EXPECT_EQ(frames, rec.framesRecorded());
    EXPECT_EQ(frames + rec.droppedFrames(), kFrames);
    // Every frame whole (right mirrors left); the counter runs on except where frames dropped.
    std::uint64_t torn = 0, gaps = 0;
    for (std::uint64_t i = 0; i < frames; ++i) {
        const int left = file.samples[2 * i];
        torn += file.samples[2 * i + 1] != -left;
        gaps += i > 0 && left != file.samples[2 * (i - 1)] % kCycle + 1;
    }
    EXPECT_EQ(torn, 0u);
    EXPECT_TRUE(gaps == 0 || rec.droppedFrames() > 0) << gaps;
    EXPECT_EQ(file.samples[0], 1);
}

TEST(RecorderThreads, DummyDeviceRecordsSilenceWhileMainMeters) {
    TempDir out;
    Recorder rec(out.path());
    for (int round = 0; round < 2; ++round) {  // the same recorder twice
        ASSERT_TRUE(rec.record());
        // The dummy driver runs at about real time: this is a good number of its blocks.
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(250);
        while (std::chrono::steady_clock::now() < until) {
            rec.updateMeters();
            EXPECT_EQ(rec.averagePowerForChannel(0), -160.0f);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        ASSERT_TRUE(rec.stop());
        const auto file = readPcm16(out / "recording.wav");
        EXPECT_EQ(file.info.channels, 2);
        EXPECT_GT(file.info.frames, 0);
        EXPECT_EQ(static_cast<std::uint64_t>(file.info.frames), rec.framesRecorded());
        EXPECT_TRUE(
            std::all_of(file.samples.begin(), file.samples.end(), [](short s) { return s == 0; }));
    }
}

TEST(SampleLoadThreads, MainThreadLoadsWhileAudioRenders) {
    TempDir dir;
    const std::vector<std::string> files{dir.file("a.wav"), dir.file("b.flac"),
                                         dir.file("missing.wav"), dir.file("c.wav")};
    ASSERT_TRUE(writeAudio(files[0], kWav16, 44100, 2, testSignal(20000, 2)));
    ASSERT_TRUE(
        writeAudio(files[1], SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 48000, 1, testSignal(3000, 1)));
    ASSERT_TRUE(writeAudio(files[3], kWavFloat, 22050, 3, testSignal(7000, 3)));
    Instrument in;
    MainView& view = in.view;
    LogLines quiet;  // the failed opens log; keep stderr clean
    // Held voices of every mode, reading wherever they are when the sample changes.
    for (std::size_t i = 0; i < 8; ++i) {
        startVoice(view.playheads()[i], {static_cast<int>(i % 4), 500.0 * i, 100.0 * i + 4000.0,
                                         i % 2 ? 1.0 : -0.7, 1.0, 0.5f, i + 1})
            .setFrameStart(100.0 * i);
    }
    AudioThread audio([&](float* l, float* r, int n) { view.renderAudio(l, r, n); });
    for (int round = 0; round < 40; ++round) {
        audio.waitFor(3);  // renders in between
        view.actuallyLoadFile(files[round % files.size()]);
        view.setNumSlices(round % 3 == 0 ? 8 : 1);
        view.mixer().sample().collect();
    }
    EXPECT_TRUE(audio.finish());
    view.mixer().sample().collect();
    EXPECT_EQ(view.mixer().sample().retiredCount(), 0u);
    EXPECT_EQ(view.audioFileChannelCount(), 3);  // the last file was c.wav
}

TEST(OutputRecorderThreads, TakesStartAndStopWhileTheAudioThreadCopiesEveryBlock) {
    TempDir dir;
    OutputRecorder rec(dir.path(), 2048);
    // The audio side: 64-frame blocks of a counter (left k / 2^20, right minus that) as the graph
    // hands them on, paced so that the small ring does not overflow.
    constexpr std::uint32_t kWrap = 1 << 20;
    const auto value = [](std::uint32_t k) { return static_cast<float>(k % kWrap) / kWrap; };
    std::atomic<bool> done{false};
    std::thread audio([&] {
        float left[64], right[64];
        for (std::uint32_t k = 0; !done;) {
            for (int i = 0; i < 64; ++i, ++k) right[i] = -(left[i] = value(k));
            while (!done && rec.captureRoom() < 64) std::this_thread::yield();
            rec.mixRendered(left, right, 64);
            std::this_thread::sleep_for(std::chrono::microseconds(20));
        }
    });
    for (int round = 0; round < 3; ++round) {
        ASSERT_TRUE(rec.start());
        for (int i = 0; i < 20; ++i) {
            rec.markCue();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        rec.stop();
        rec.waitFinished();
        const OutputRecorder::Take& take = rec.lastTake();
        EXPECT_EQ(take.problem, "");
        const DecodedAudio file = decodeAudioFile(take.path);
        ASSERT_TRUE(file.readComplete()) << take.path;
        ASSERT_EQ(file.framesRead, take.frames);
        // Whole blocks, whole frames, in order, none missing.
        const float* left = file.snapshot->left;
        const auto first = static_cast<std::uint32_t>(left[0] * kWrap);
        std::uint64_t wrong = first % 64;
        for (std::uint32_t i = 0; i < take.frames; ++i) {
            wrong += left[i] != value(first + i) || file.snapshot->right[i] != -left[i];
        }
        EXPECT_EQ(wrong, 0u);
        // Each hit at a block's start, in order, as many as the take reports.
        const std::vector<std::uint32_t>& cues = file.snapshot->cues;
        EXPECT_EQ(cues.size(), take.cues);
        EXPECT_GT(cues.size(), 1u);
        for (std::uint32_t cue : cues) EXPECT_EQ(cue % 64, 0u);
    }
    done = true;
    audio.join();
}
