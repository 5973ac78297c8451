// The recorder on SDL's capture device (the dummy driver gives silence), a device that cannot be
// opened, and the instrument's start and end of a recording.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <fstream>
#include <optional>
#include <string>
#include <thread>

#include "RecorderTestFiles.h"
#include "base/RunLoop.h"
#include "display/MainView.h"
#include "sample/CaptureSourceFile.h"
#include "sample/Recorder.h"
#include "support/LogLines.h"

using namespace vornik;

namespace {

// Sets an environment variable for the life of the object.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        setenv(name, value, 1);
    }
    ~ScopedEnv() {
        if (old_) {
            setenv(name_, old_->c_str(), 1);
        } else {
            unsetenv(name_);
        }
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

std::vector<float> quietSine(std::size_t frames) { return test::stereoSines(frames, 0.1f, 0.1f); }

}  // namespace

TEST(RecorderDevice, DummyInputRecordsSilence) {
    test::TempDir out;
    Recorder rec(out.path());
    ASSERT_TRUE(rec.record());
    // The dummy driver runs at about real time: this is a good number of its blocks.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    rec.updateMeters();
    EXPECT_EQ(rec.averagePowerForChannel(0), -160.0f);
    ASSERT_TRUE(rec.stop());
    const auto file = test::readPcm16(out / "recording.wav");
    ASSERT_TRUE(file.opened);
    EXPECT_EQ(file.info.samplerate, 44100);
    EXPECT_EQ(file.info.channels, 2);
    EXPECT_GT(file.info.frames, 0);
    EXPECT_EQ(static_cast<std::uint64_t>(file.info.frames), rec.framesRecorded());
    for (short s : file.samples) ASSERT_EQ(s, 0);

    // Recorded again with the same recorder.
    ASSERT_TRUE(rec.record());
    rec.stop();
}

TEST(RecorderDevice, AnInputThatCannotOpenFailsRecordAndKeepsThePreviousFile) {
    test::TempDir in;
    test::TempDir out;
    const auto signal = quietSine(4000);
    test::writeFloatWav(in / "in.wav", signal, 2);
    {
        auto source = std::make_unique<FileCaptureSource>(in / "in.wav");
        FileCaptureSource* feed = source.get();
        Recorder rec(out.path(), std::move(source));
        ASSERT_TRUE(rec.record());
        feed->pump(4000);
        ASSERT_TRUE(rec.stop());
    }

    ScopedEnv driver("SDL_AUDIODRIVER", "no-such-driver");
    test::LogLines log;
    Recorder rec(out.path());
    EXPECT_TRUE(rec.prepareToRecord());
    EXPECT_FALSE(rec.record());
    EXPECT_FALSE(rec.isRecording());
    EXPECT_FALSE(rec.stop());
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_EQ(log.lines[0].rfind("recording: no audio input", 0), 0u) << log.lines[0];
    EXPECT_EQ(test::readPcm16(out / "recording.wav").info.frames, 4000);
    EXPECT_EQ(out.entries(), std::vector<std::string>{"recording.wav"});
}

TEST(RecorderDevice, MainViewStartAndEndAroundTheRecorder) {
    ManualClock clock;
    RunLoop loop(clock);
    MainView view(loop);
    test::TempDir in;
    test::TempDir out;
    const auto signal = quietSine(30000);
    test::writeFloatWav(in / "in.wav", signal, 2);

    // A recording from a file source: complete and closed once recordingEnd returns.
    auto source = std::make_unique<FileCaptureSource>(in / "in.wav");
    FileCaptureSource* feed = source.get();
    view.setRecorder(std::make_unique<Recorder>(out.path(), std::move(source)));
    EXPECT_EQ(view.recordURL(), out / "recording.wav");
    {
        test::LogLines log;
        EXPECT_FALSE(view.recording());
        view.recordingStart();
        EXPECT_TRUE(view.recording());
        EXPECT_TRUE(view.recorder().isRecording());
        feed->pump(30000);
        view.recordingEnd();
        EXPECT_FALSE(view.recording());
        EXPECT_TRUE(log.lines.empty());
    }
    EXPECT_EQ(test::readPcm16(out / "recording.wav").info.frames, 30000);

    {  // A second end stops nothing and logs nothing.
        test::LogLines log;
        view.recordingEnd();
        EXPECT_FALSE(view.recording());
        EXPECT_TRUE(log.lines.empty());
        EXPECT_EQ(test::readPcm16(out / "recording.wav").info.frames, 30000);
    }

    {  // The device cannot start: the recorder's reason, then the instrument's line; the state
       // is recording all the same, and the previous file survives the end.
        ScopedEnv driver("SDL_AUDIODRIVER", "no-such-driver");
        view.setRecorder(std::make_unique<Recorder>(out.path()));
        test::LogLines log;
        view.recordingStart();
        EXPECT_TRUE(view.recording());
        ASSERT_EQ(log.lines.size(), 2u);
        EXPECT_EQ(log.lines[1], "ERROR: audioRecorder record audio");
        view.recordingEnd();
        EXPECT_FALSE(view.recording());
        EXPECT_EQ(test::readPcm16(out / "recording.wav").info.frames, 30000);
    }

    {  // Nothing can be prepared: both lines, in order.
        std::ofstream(out / "blocker") << "x";
        view.setRecorder(std::make_unique<Recorder>(out / "blocker"));
        test::LogLines log;
        view.recordingStart();
        EXPECT_TRUE(view.recording());
        std::vector<std::string> ours;
        for (const auto& line : log.lines) {
            if (line.rfind("ERROR: ", 0) == 0) ours.push_back(line);
        }
        EXPECT_EQ(ours, (std::vector<std::string>{"ERROR: audioRecorder prepareToRecord",
                                                  "ERROR: audioRecorder record audio"}));
        view.recordingEnd();
    }
}
