// Takes of the output seen from the instrument: what the status line says while a take runs and
// when it ends, a full disk, and a take that becomes the sample.

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <thread>

#include "MainViewTestSupport.h"
#include "base/Status.h"
#include "sample/AudioFileReader.h"
#include "support/Files.h"

namespace vornik::test {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

struct TakeStrip : Strip {
    TempDir dir;
    const fs::path& folder = dir.path();
    std::vector<std::pair<std::string, StatusKind>> shown;
    StatusSink sink{
        [this](const std::string& text, StatusKind kind) { shown.emplace_back(text, kind); }};

    TakeStrip() : Strip(1000.0) {
        view.outputRecorder().setTakesDirectory(folder);
        view.initAudioEngine();
    }
    ~TakeStrip() {
        view.outputRecordingEnd(false);
        view.outputRecorder().waitFinished();
        ::umount2(folder.c_str(), MNT_DETACH);
    }
    void render(int blocks) {
        float left[64], right[64];
        for (int i = 0; i < blocks; ++i) view.renderOutput(left, right, 64);
    }
    // The take stopped: its file finished and reported.
    void finish() {
        view.outputRecorder().waitFinished();
        view.update();
    }
};

TEST(MainViewTake, ShiftOTakeIsReportedAndBecomesTheSampleSlicedAtItsHits) {
    TakeStrip s;
    s.loadAndMeasure(snapshotOf(ramp(48000, 1e-5f)));
    s.view.outputRecordingStart();
    ASSERT_TRUE(s.view.outputRecording());
    s.render(10);
    s.view.playSlice(0, 48000, 1.0f, 7);  // a hit 640 frames in
    s.render(10);
    s.loop.advance(s.clock, 1.2);
    s.view.update();
    s.view.outputRecordingEnd(true);
    s.finish();
    ASSERT_EQ(s.shown.size(), 3u);
    EXPECT_EQ(s.shown[0],
              std::pair("recording the output 0:00   (o stops)"s, StatusKind::recording));
    EXPECT_EQ(s.shown[1],
              std::pair("recording the output 0:01   (o stops)"s, StatusKind::recording));
    const fs::path take = s.view.outputRecorder().lastTake().path;
    EXPECT_EQ(s.shown[2], std::pair("Take saved: " + take.string(), StatusKind::info));
    EXPECT_TRUE(
        std::regex_match(take.filename().string(), std::regex(R"(performance-\d{8}-\d{6}\.wav)")));
    EXPECT_EQ(std::distance(fs::directory_iterator(s.folder), {}), 1);  // no temporary left

    s.loop.advance(s.clock, 0.02);  // the load waits for the voices to fade
    EXPECT_EQ(s.view.samplePath(), take.string());
    EXPECT_EQ(s.view.fileBufferLength(), 1280u);
    ASSERT_EQ(s.view.slices().size(), 2u);
    EXPECT_FLOAT_EQ(s.view.slices()[1].pos, 0.5f);
}

TEST(MainViewTake, AFullDiskStopsTheTakeKeepsWhatWasWrittenAndSaysSo) {
    TakeStrip s;
    const std::string mount = "mount -t tmpfs -o size=256k tmpfs " + s.folder.string();
    if (geteuid() != 0 || std::system((mount + " 2>/dev/null").c_str()) != 0) {
        GTEST_SKIP() << "a small file system needs root";
    }
    s.loadAndMeasure(snapshotOf(ramp(48000, 1e-5f)));
    s.view.playSlice(0, 48000, 1.0f, 7);
    s.view.outputRecordingStart();
    // A second of the mix is more than the disk holds; the writer finds out soon after.
    s.render(750);
    for (int i = 0; i < 500 && !s.view.outputRecorder().writeFailed(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    s.view.update();
    EXPECT_FALSE(s.view.outputRecording());
    s.finish();
    const OutputRecorder::Take& take = s.view.outputRecorder().lastTake();
    ASSERT_FALSE(take.path.empty());
    EXPECT_EQ(s.shown.back(), std::pair("Take saved: " + take.path.string() + "; the disk is full",
                                        StatusKind::warning));
    const DecodedAudio file = decodeAudioFile(take.path);
    ASSERT_TRUE(file.readComplete());
    EXPECT_EQ(file.framesRead, take.frames);
    EXPECT_GT(take.frames, 20000u);
    EXPECT_LT(take.frames, 48000u);
    // The mix of the voice: its ramp, from the first frame on.
    EXPECT_GT(file.snapshot->left[take.frames - 1], file.snapshot->left[100]);
}

}  // namespace
}  // namespace vornik::test
