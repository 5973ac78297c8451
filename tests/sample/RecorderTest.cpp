// The recorder through its file source: what reaches "recording.wav", what a failure leaves
// behind, the meter's numbers, clipping, overflow, and the capture path's real-time behaviour.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <memory>

#include "RecorderTestFiles.h"
#include "sample/CaptureSourceDevice.h"
#include "sample/CaptureSourceFile.h"
#include "sample/Recorder.h"
#include "sample/RecorderRing.h"
#include "support/LogLines.h"
#include "support/RealtimeGuard.h"

using namespace vornik;

namespace {

// 16-bit quantisation: a stored value is within one step of input x 32768 (clipped to the
// 16-bit range).
constexpr double kQuantisationSteps = 1.0;

double ideal16(float x) { return std::clamp(static_cast<double>(x) * 32768.0, -32768.0, 32767.0); }

struct FileRecorder {
    FileCaptureSource* source;
    std::unique_ptr<Recorder> recorder;
};

FileRecorder makeFileRecorder(const std::filesystem::path& dir, const std::filesystem::path& input,
                              std::size_t ringFrames = Recorder::kRingFrames) {
    auto source = std::make_unique<FileCaptureSource>(input);
    FileCaptureSource* raw = source.get();
    return {raw, std::make_unique<Recorder>(dir, std::move(source), ringFrames)};
}

// Records the whole of `input` into `dir`, pumping it in uneven pieces.
bool recordWhole(const std::filesystem::path& dir, const std::filesystem::path& input) {
    auto r = makeFileRecorder(dir, input);
    if (!r.recorder->record()) return false;
    const std::size_t pieces[] = {1, 700, 4096, 333, 10000};
    for (int i = 0; !r.source->atEnd(); ++i) r.source->pump(pieces[i % 5]);
    return r.recorder->stop();
}

void expectHolds(const test::Pcm16& file, const std::vector<float>& signal) {
    ASSERT_TRUE(file.opened);
    EXPECT_EQ(file.info.samplerate, 44100);
    EXPECT_EQ(file.info.channels, 2);
    EXPECT_EQ(file.info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    ASSERT_EQ(file.samples.size(), signal.size());
    std::size_t off = 0;
    for (std::size_t i = 0; i < signal.size(); ++i) {
        if (std::abs(file.samples[i] - ideal16(signal[i])) > kQuantisationSteps) ++off;
    }
    EXPECT_EQ(off, 0u) << "samples beyond 16-bit quantisation";
}

bool onlyRecordingIn(const test::TempDir& dir) {
    return dir.entries() == std::vector<std::string>{"recording.wav"};
}

}  // namespace

TEST(Recorder, KnownSignalArrivesSampleForSampleAndEachRecordingReplacesTheLast) {
    test::TempDir dir;
    const auto first = test::stereoSines(100003, 0.8f, 0.3f);
    const auto second = test::stereoSines(20000, -0.5f, 0.9f);
    test::writeFloatWav(dir / "first.wav", first, 2);
    test::writeFloatWav(dir / "second.wav", second, 2);
    test::TempDir out;

    ASSERT_TRUE(recordWhole(out.path(), dir / "first.wav"));
    expectHolds(test::readPcm16(out / "recording.wav"), first);
    EXPECT_TRUE(onlyRecordingIn(out)) << "a temporary file was left behind";

    ASSERT_TRUE(recordWhole(out.path(), dir / "second.wav"));
    expectHolds(test::readPcm16(out / "recording.wav"), second);
    EXPECT_TRUE(onlyRecordingIn(out));
}

TEST(Recorder, RecordsIntoAMissingDirectoryAndNamesTheFileInIt) {
    test::TempDir dir;
    test::writeFloatWav(dir / "in.wav", test::stereoSines(5000), 2);
    const auto target = dir / "a" / "b";
    auto r = makeFileRecorder(target, dir / "in.wav");
    EXPECT_EQ(r.recorder->url(), target / "recording.wav");
    ASSERT_TRUE(r.recorder->prepareToRecord());
    EXPECT_TRUE(std::filesystem::is_directory(target));
    EXPECT_FALSE(std::filesystem::exists(target / "recording.wav")) << "prepare touched the file";
    ASSERT_TRUE(r.recorder->record());
    EXPECT_EQ(r.source->pump(100000), 5000u);
    EXPECT_TRUE(r.recorder->stop());
    EXPECT_EQ(r.recorder->framesRecorded(), 5000u);
    EXPECT_EQ(test::readPcm16(target / "recording.wav").info.frames, 5000);
}

TEST(Recorder, MonoAndWideCaptureFilesBecomeStereoOtherRatesAreRefused) {
    test::TempDir dir;
    std::vector<float> mono(3000), quad(3000 * 4), stereo(3000 * 2);
    for (std::size_t i = 0; i < 3000; ++i) {
        mono[i] = static_cast<float>(i % 100) / 200.0f;
        for (int c = 0; c < 4; ++c) quad[i * 4 + c] = 0.1f * static_cast<float>(c + 1);
    }
    test::writeFloatWav(dir / "mono.wav", mono, 1);
    test::writeFloatWav(dir / "quad.wav", quad, 4);
    test::writeFloatWav(dir / "fast.wav", stereo, 2, 48000);

    test::TempDir out;
    ASSERT_TRUE(recordWhole(out.path(), dir / "mono.wav"));
    std::vector<float> expected(6000);
    for (std::size_t i = 0; i < 3000; ++i) expected[2 * i] = expected[2 * i + 1] = mono[i];
    expectHolds(test::readPcm16(out / "recording.wav"), expected);

    ASSERT_TRUE(recordWhole(out.path(), dir / "quad.wav"));
    for (std::size_t i = 0; i < 3000; ++i) {
        expected[2 * i] = 0.1f;
        expected[2 * i + 1] = 0.2f;
    }
    expectHolds(test::readPcm16(out / "recording.wav"), expected);

    test::LogLines log;
    EXPECT_FALSE(recordWhole(out.path(), dir / "fast.wav"));
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_NE(log.lines[0].find("48000 Hz"), std::string::npos) << log.lines[0];
    expectHolds(test::readPcm16(out / "recording.wav"), expected);  // the quad recording stays
}

TEST(Recorder, AFailedStartKeepsThePreviousRecording) {
    test::TempDir dir;
    const auto signal = test::stereoSines(8000);
    test::writeFloatWav(dir / "in.wav", signal, 2);
    test::TempDir out;
    ASSERT_TRUE(recordWhole(out.path(), dir / "in.wav"));

    {  // The input cannot be opened: nothing runs, nothing changes on disk.
        test::LogLines log;
        auto r = makeFileRecorder(out.path(), dir / "missing.wav");
        EXPECT_TRUE(r.recorder->prepareToRecord());
        EXPECT_FALSE(r.recorder->record());
        EXPECT_FALSE(r.recorder->isRecording());
        EXPECT_EQ(r.source->pump(1000), 0u);
        EXPECT_FALSE(r.recorder->stop());
        ASSERT_EQ(log.lines.size(), 1u);
        EXPECT_NE(log.lines[0].find("missing.wav"), std::string::npos) << log.lines[0];
    }
    expectHolds(test::readPcm16(out / "recording.wav"), signal);
    EXPECT_TRUE(onlyRecordingIn(out));

    {  // The directory cannot be made: prepare and record both fail.
        test::LogLines log;
        std::ofstream(out / "file") << "x";
        auto r = makeFileRecorder(out / "file" / "sub", dir / "in.wav");
        EXPECT_FALSE(r.recorder->prepareToRecord());
        EXPECT_FALSE(r.recorder->record());
        EXPECT_FALSE(r.recorder->stop());
        EXPECT_GE(log.lines.size(), 2u);
        std::filesystem::remove(out / "file");
    }

    {  // An interrupted recording (the recorder goes away mid-way) still ends complete.
        auto r = makeFileRecorder(out.path(), dir / "in.wav");
        ASSERT_TRUE(r.recorder->record());
        r.source->pump(3000);
    }
    EXPECT_EQ(test::readPcm16(out / "recording.wav").info.frames, 3000);
    EXPECT_TRUE(onlyRecordingIn(out));
}

TEST(Recorder, StopWithNothingRecordedKeepsWhatIsThere) {
    test::TempDir dir;
    test::writeFloatWav(dir / "in.wav", test::stereoSines(2000), 2);
    test::TempDir out;

    {  // Never started, and started without a frame: no file appears.
        test::LogLines log;
        auto r = makeFileRecorder(out.path(), dir / "in.wav");
        EXPECT_FALSE(r.recorder->stop());
        ASSERT_TRUE(r.recorder->record());
        EXPECT_FALSE(r.recorder->stop());
        EXPECT_FALSE(r.recorder->stop());
        EXPECT_TRUE(out.entries().empty());
        ASSERT_EQ(log.lines.size(), 1u);
        EXPECT_NE(log.lines[0].find("nothing was captured"), std::string::npos);
    }

    ASSERT_TRUE(recordWhole(out.path(), dir / "in.wav"));
    {  // An empty recording does not replace a real one.
        auto r = makeFileRecorder(out.path(), dir / "in.wav");
        ASSERT_TRUE(r.recorder->record());
        EXPECT_FALSE(r.recorder->stop());
    }
    EXPECT_EQ(test::readPcm16(out / "recording.wav").info.frames, 2000);
    EXPECT_TRUE(onlyRecordingIn(out));
}

TEST(Recorder, MeterReadsAveragePowerSinceThePreviousUpdate) {
    test::TempDir dir;
    constexpr std::size_t kFrames = 44100;  // a whole number of cycles of 441 Hz
    std::vector<float> full(kFrames * 2), quiet(kFrames * 2), silence(kFrames * 2, 0.0f);
    for (std::size_t i = 0; i < kFrames; ++i) {
        const double s = std::sin(2.0 * M_PI * 441.0 * static_cast<double>(i) / 44100.0);
        full[2 * i] = static_cast<float>(s);
        full[2 * i + 1] = 0.0f;
        quiet[2 * i] = quiet[2 * i + 1] = static_cast<float>(0.1 * s);  // -20 dBFS
    }
    std::vector<float> all = full;
    all.insert(all.end(), quiet.begin(), quiet.end());
    all.insert(all.end(), silence.begin(), silence.end());
    test::writeFloatWav(dir / "in.wav", all, 2);

    test::TempDir out;
    auto r = makeFileRecorder(out.path(), dir / "in.wav");
    Recorder& rec = *r.recorder;
    rec.updateMeters();
    EXPECT_EQ(rec.averagePowerForChannel(0), -160.0f);  // nothing recorded yet
    ASSERT_TRUE(rec.record());

    // Tolerance 0.01 dB: a sine's mean square over whole cycles is exactly half its peak.
    r.source->pump(kFrames);
    rec.updateMeters();
    EXPECT_NEAR(rec.averagePowerForChannel(0), -3.0103, 0.01);
    EXPECT_EQ(rec.averagePowerForChannel(1), -160.0f);
    EXPECT_EQ(rec.averagePowerForChannel(2), -160.0f);
    EXPECT_EQ(rec.averagePowerForChannel(-1), -160.0f);

    rec.updateMeters();  // no new audio: the reading holds
    EXPECT_NEAR(rec.averagePowerForChannel(0), -3.0103, 0.01);

    r.source->pump(kFrames);
    rec.updateMeters();
    EXPECT_NEAR(rec.averagePowerForChannel(0), -23.0103, 0.01);
    EXPECT_NEAR(rec.averagePowerForChannel(1), -23.0103, 0.01);

    r.source->pump(kFrames);
    rec.updateMeters();
    EXPECT_EQ(rec.averagePowerForChannel(0), -160.0f);

    // A non-finite block is left out instead of poisoning the meter.
    const float bad[4] = {NAN, 0.0f, 1.0f, 0.0f};
    rec.captureFrames(bad, 2);
    rec.updateMeters();
    EXPECT_EQ(rec.averagePowerForChannel(0), -160.0f);
    EXPECT_TRUE(rec.stop());

    EXPECT_EQ(RecorderMeter::powerToDb(1.0), 0.0f);
    EXPECT_EQ(RecorderMeter::powerToDb(4.0), 0.0f);  // louder than full scale reads full scale
    EXPECT_EQ(RecorderMeter::powerToDb(1e-30), -160.0f);
}

TEST(Recorder, LoudInputClipsInsteadOfWrapping) {
    test::TempDir dir;
    const std::vector<float> loud = {1.5f, -1.7f, 1.0f, -1.0f, 1.00002f, -1.00002f, 40.0f, -40.0f};
    test::writeFloatWav(dir / "in.wav", loud, 2);
    test::TempDir out;
    ASSERT_TRUE(recordWhole(out.path(), dir / "in.wav"));
    const auto file = test::readPcm16(out / "recording.wav");
    ASSERT_EQ(file.samples.size(), loud.size());
    EXPECT_EQ(file.samples[0], 32767);
    EXPECT_EQ(file.samples[1], -32768);
    EXPECT_GE(file.samples[2], 32766);
    EXPECT_LE(file.samples[3], -32767);
    EXPECT_EQ(file.samples[4], 32767);
    EXPECT_LE(file.samples[5], -32767);
    EXPECT_EQ(file.samples[6], 32767);
    EXPECT_EQ(file.samples[7], -32768);
}

TEST(Recorder, RingDropsWhatDoesNotFitCountsItAndNeverWaits) {
    FrameRing ring(100);
    std::vector<float> in(2 * 250), out(2 * 250);
    for (std::size_t i = 0; i < in.size(); ++i) in[i] = static_cast<float>(i);

    EXPECT_EQ(ring.push(in.data(), 60), 60u);
    EXPECT_EQ(ring.pop(out.data(), 50), 50u);  // the next push wraps around the end
    EXPECT_EQ(ring.writableFrames(), 90u);
    EXPECT_EQ(ring.push(in.data() + 120, 125), 90u);
    EXPECT_EQ(ring.droppedFrames(), 35u);
    EXPECT_EQ(ring.readableFrames(), 100u);
    EXPECT_EQ(ring.push(in.data(), 7), 0u);
    EXPECT_EQ(ring.droppedFrames(), 42u);
    EXPECT_EQ(ring.pop(out.data(), 250), 100u);
    for (std::size_t i = 0; i < 10 * 2; ++i) EXPECT_EQ(out[i], in[100 + i]);
    for (std::size_t i = 0; i < 90 * 2; ++i) EXPECT_EQ(out[20 + i], in[120 + i]);
    EXPECT_EQ(ring.pop(out.data(), 1), 0u);
    ring.reset();
    EXPECT_EQ(ring.droppedFrames(), 0u);
    EXPECT_EQ(ring.writableFrames(), 100u);

    // Through the recorder: the overflow is counted, logged once at the end, and the file holds
    // what fitted.
    test::TempDir dir;
    test::writeFloatWav(dir / "in.wav", test::stereoSines(10), 2);
    test::TempDir out2;
    test::LogLines log;
    auto r = makeFileRecorder(out2.path(), dir / "in.wav", 64);
    ASSERT_TRUE(r.recorder->record());
    const auto burst = test::stereoSines(10000);
    r.recorder->captureFrames(burst.data(), 10000);
    EXPECT_EQ(r.recorder->droppedFrames(), 10000u - 64u);
    EXPECT_TRUE(r.recorder->stop());
    EXPECT_EQ(r.recorder->framesRecorded(), 64u);
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_EQ(log.lines[0].rfind("dropped 9936 frames", 0), 0u) << log.lines[0];
}

TEST(Recorder, PumpWaitsForTheWriterSoNothingDrops) {
    test::TempDir dir;
    const auto signal = test::stereoSines(50000);
    test::writeFloatWav(dir / "in.wav", signal, 2);
    test::TempDir out;
    auto r = makeFileRecorder(out.path(), dir / "in.wav", 1024);
    ASSERT_TRUE(r.recorder->record());
    EXPECT_EQ(r.source->pump(60000), 50000u);
    EXPECT_TRUE(r.source->atEnd());
    EXPECT_TRUE(r.recorder->stop());
    EXPECT_EQ(r.recorder->droppedFrames(), 0u);
    expectHolds(test::readPcm16(out / "recording.wav"), signal);
}

TEST(Recorder, CaptureCallbackNeitherAllocatesNorLocks) {
    test::TempDir dir;
    test::writeFloatWav(dir / "in.wav", test::stereoSines(10), 2);
    test::TempDir out;
    auto r = makeFileRecorder(out.path(), dir / "in.wav", 4096);
    ASSERT_TRUE(r.recorder->record());

    auto block = test::stereoSines(DeviceCaptureSource::kCaptureBlockFrames);
    const int bytes = static_cast<int>(block.size() * sizeof(float));
    test::RealtimeCounts counts;
    {
        test::RealtimeScope scope;
        for (int i = 0; i < 20; ++i) {  // enough to overflow the ring as well
            DeviceCaptureSource::audioCallback(
                r.recorder.get(), reinterpret_cast<std::uint8_t*>(block.data()), bytes);
        }
        counts = scope.counts();
    }
    EXPECT_EQ(counts.allocations, 0u);
    EXPECT_EQ(counts.locks, 0u);
    EXPECT_TRUE(r.recorder->stop());
    EXPECT_EQ(r.recorder->framesRecorded() + r.recorder->droppedFrames(),
              20u * DeviceCaptureSource::kCaptureBlockFrames);
}

TEST(Recorder, DocumentsDirectoryComesFromTheToolThenUserDirsThenHome) {
    const std::filesystem::path home = "/home/ana";
    const std::string dirs =
        "# This file is written by xdg-user-dirs-update\n"
        "XDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
        "  XDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n";
    EXPECT_EQ(documentsDirectoryFrom("/data/docs\n", dirs, home), "/data/docs");
    EXPECT_EQ(documentsDirectoryFrom("", dirs, home), "/home/ana/Dokumente");
    EXPECT_EQ(documentsDirectoryFrom("", "XDG_DOCUMENTS_DIR=\"/srv/papers\"\n", home),
              "/srv/papers");
    EXPECT_EQ(documentsDirectoryFrom("", "XDG_DOCUMENTS_DIR=\"$HOMEWORK/x\"\n", home),
              "/home/ana/Documents");
    EXPECT_EQ(documentsDirectoryFrom("", "XDG_DOCUMENTS_DIR=\"relative\"\n", home),
              "/home/ana/Documents");
    EXPECT_EQ(documentsDirectoryFrom("not absolute", "", home), "/home/ana/Documents");
    EXPECT_EQ(documentsDirectoryFrom("", "", home), "/home/ana/Documents");
    EXPECT_TRUE(documentsDirectory().is_absolute());
}
