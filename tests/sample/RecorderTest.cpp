#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <iterator>
#include <regex>
#include <set>

#include "SampleTestFiles.h"
#include "sample/CaptureSourceDevice.h"
#include "sample/CaptureSourceFile.h"
#include "sample/Recorder.h"
#include "support/LogLines.h"
#include "support/RealtimeGuard.h"

using namespace vornik;
using namespace vornik::test;
namespace fs = std::filesystem;

namespace {

std::unique_ptr<Recorder> fromFile(const fs::path& out, const fs::path& input,
                                   std::size_t ringFrames = 1024) {
    return std::make_unique<Recorder>(out, std::make_unique<FileCaptureSource>(input), ringFrames);
}

FileCaptureSource& feed(Recorder& r) { return static_cast<FileCaptureSource&>(r.source()); }

// Records the whole of `input`, pumped in uneven pieces; pumping waits for the writer, so
// nothing drops even through a small ring. The take, or empty if it failed.
fs::path recordWhole(const fs::path& out, const fs::path& input) {
    auto r = fromFile(out, input);
    if (!r->record()) return {};
    const std::size_t pieces[] = {1, 700, 4096, 333, 10000};
    for (int i = 0; !feed(*r).atEnd(); ++i) feed(*r).pump(pieces[i % 5]);
    EXPECT_EQ(r->droppedFrames(), 0u);
    return r->stop() ? r->lastTake() : fs::path();
}

// A 16-bit stereo file at 44.1 kHz holding `signal` within one quantisation step.
void expectHolds(const fs::path& file, const std::vector<float>& signal) {
    const Pcm16 f = readPcm16(file);
    ASSERT_TRUE(f.opened);
    EXPECT_EQ(f.info.samplerate, 44100);
    EXPECT_EQ(f.info.format, kWav16);
    ASSERT_EQ(f.info.channels, 2);
    ASSERT_EQ(f.samples.size(), signal.size());
    std::size_t off = 0;
    for (std::size_t i = 0; i < signal.size(); ++i) {
        off += std::abs(f.samples[i] - std::clamp(signal[i] * 32768.0, -32768.0, 32767.0)) > 1.0;
    }
    EXPECT_EQ(off, 0u) << "samples beyond 16-bit quantisation";
}

}  // namespace

TEST(Recorder, EveryTakeIsKeptAndTheNewestIsRecordingWavUnlessNothingWasCaptured) {
    TempDir in, out;
    const auto first = testSignal(100003, 2), second = testSignal(20000, 2);
    writeAudio(in / "first.wav", kWavFloat, 44100, 2, first);
    writeAudio(in / "second.wav", kWavFloat, 44100, 2, second);

    // Into a directory that does not exist yet: made by prepare, which leaves the file alone.
    const fs::path target = out / "a" / "b";
    {
        auto r = fromFile(target, in / "first.wav");
        EXPECT_EQ(r->url(), target / "recording.wav");
        ASSERT_TRUE(r->prepareToRecord());
        EXPECT_TRUE(fs::is_directory(target));
        EXPECT_FALSE(fs::exists(r->url())) << "prepare touched the file";
    }
    // An older "recording.wav" is kept as a take before it is replaced.
    writeAudio(target / "recording.wav", kWav16, 44100, 2, testSignal(5000, 2));
    const fs::path take1 = recordWhole(target, in / "first.wav");
    const fs::path take2 = recordWhole(target, in / "second.wav");
    const std::regex name(R"(recording-\d{8}-\d{6}(-\d+)?\.wav)");
    for (const fs::path& take : {take1, take2}) {
        EXPECT_EQ(take.parent_path(), target / "Vornik takes");
        EXPECT_TRUE(std::regex_match(take.filename().string(), name)) << take;
    }
    expectHolds(take1, first);
    expectHolds(take2, second);
    expectHolds(target / "recording.wav", second);

    {  // Stopped never started, and started without a frame: the file stays as it was.
        LogLines log;
        auto r = fromFile(target, in / "first.wav");
        EXPECT_FALSE(r->stop());
        ASSERT_TRUE(r->record());
        EXPECT_FALSE(r->stop());
        EXPECT_FALSE(r->stop());
        ASSERT_EQ(log.lines.size(), 1u);
        EXPECT_NE(log.lines[0].find("nothing was captured"), std::string::npos);
    }
    expectHolds(target / "recording.wav", second);
    {  // Interrupted (the recorder goes away mid-way): still a complete file.
        auto r = fromFile(target, in / "first.wav");
        ASSERT_TRUE(r->record());
        feed(*r).pump(3000);
    }
    EXPECT_EQ(readPcm16(target / "recording.wav").info.frames, 3000);
    EXPECT_EQ(entries(target), (std::vector<std::string>{"Vornik takes", "recording.wav"}));
    std::multiset<sf_count_t> kept;  // no take lost: the old file, the two, the interrupted one
    for (const auto& take : entries(target / "Vornik takes")) {
        kept.insert(readPcm16(target / "Vornik takes" / take).info.frames);
    }
    EXPECT_EQ(kept, (std::multiset<sf_count_t>{3000, 5000, 20000, 100003}));
}

TEST(Recorder, RecordingStartRemovesOnlyTemporaryFilesOfStoppedPrograms) {
    TempDir dir;
    const pid_t gone = fork();  // a process that has ended: its pid names no program
    if (gone == 0) _exit(0);
    ASSERT_GT(gone, 0);
    waitpid(gone, nullptr, 0);
    const std::string dead = std::to_string(gone), alive = std::to_string(getpid());
    const std::vector<std::string> kept = {
        ".recording-" + alive + "-1.wav.part",    ".recording-" + dead + "-x.wav.part",
        ".recording-" + dead + "-1.wav.partial",  "recording-" + dead + "-1.wav.part",
        ".recording-" + dead + "-1.wav.part.wav", "notes.part"};
    for (const auto& n : kept) std::ofstream(dir / n) << "x";
    std::ofstream(dir / (".recording-" + dead + "-7.wav.part")) << "cut off";
    auto r = fromFile(dir.path(), dir / "unused.wav");
    ASSERT_TRUE(r->prepareToRecord());  // adds its own temporary, removed when it goes
    r.reset();
    auto expected = kept;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(entries(dir.path()), expected);
}

TEST(Recorder, MonoAndWideInputBecomesStereoLoudClipsOtherRatesAreRefused) {
    TempDir in, out;
    std::vector<float> mono(3000), quad(3000 * 4), toMono(6000), toQuad(6000);
    for (std::size_t i = 0; i < 3000; ++i) {
        mono[i] = toMono[2 * i] = toMono[2 * i + 1] = static_cast<float>(i % 100) / 200.0f;
        for (int c = 0; c < 4; ++c) quad[i * 4 + c] = 0.1f * static_cast<float>(c + 1);
        toQuad[2 * i] = 0.1f;  // the first two channels
        toQuad[2 * i + 1] = 0.2f;
    }
    const float loud[] = {1.5f, -1.7f, 1.00002f, -1.00002f, 40.0f, -40.0f};  // clip, not wrap
    for (int i = 0; i < 6; ++i) mono[i] = toMono[2 * i] = toMono[2 * i + 1] = loud[i];
    writeAudio(in / "mono.wav", kWavFloat, 44100, 1, mono);
    writeAudio(in / "quad.wav", kWavFloat, 44100, 4, quad);
    writeAudio(in / "fast.wav", kWavFloat, 48000, 2, toMono);

    ASSERT_FALSE(recordWhole(out.path(), in / "mono.wav").empty());
    expectHolds(out / "recording.wav", toMono);
    ASSERT_FALSE(recordWhole(out.path(), in / "quad.wav").empty());
    expectHolds(out / "recording.wav", toQuad);

    LogLines log;
    EXPECT_TRUE(recordWhole(out.path(), in / "fast.wav").empty());
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_NE(log.lines[0].find("48000 Hz"), std::string::npos) << log.lines[0];
    expectHolds(out / "recording.wav", toQuad);  // the previous recording stays
}

TEST(Recorder, MeterReadsAveragePowerSinceThePreviousUpdate) {
    // A sine at full scale on the left only, then at 0.1 (-20 dBFS) on both, then silence; each
    // a whole number of cycles, so its mean square is exactly half its peak (+-0.01 dB).
    constexpr std::size_t kFrames = 44100;
    std::vector<float> all(kFrames * 2 * 3, 0.0f);
    for (std::size_t i = 0; i < kFrames; ++i) {
        const auto s = static_cast<float>(std::sin(2.0 * M_PI * 441.0 * i / 44100.0));
        all[2 * i] = s;
        all[2 * (kFrames + i)] = all[2 * (kFrames + i) + 1] = 0.1f * s;
    }
    TempDir in, out;
    writeAudio(in / "in.wav", kWavFloat, 44100, 2, all);
    auto r = fromFile(out.path(), in / "in.wav", Recorder::kRingFrames);
    r->updateMeters();
    EXPECT_EQ(r->averagePowerForChannel(0), -160.0f);  // nothing recorded yet
    ASSERT_TRUE(r->record());

    feed(*r).pump(kFrames);
    r->updateMeters();
    EXPECT_NEAR(r->averagePowerForChannel(0), -3.0103, 0.01);
    for (int ch : {1, 2, -1}) EXPECT_EQ(r->averagePowerForChannel(ch), -160.0f) << ch;
    r->updateMeters();  // no new audio: the reading holds
    EXPECT_NEAR(r->averagePowerForChannel(0), -3.0103, 0.01);

    feed(*r).pump(kFrames);
    r->updateMeters();
    EXPECT_NEAR(r->averagePowerForChannel(0), -23.0103, 0.01);
    EXPECT_NEAR(r->averagePowerForChannel(1), -23.0103, 0.01);

    feed(*r).pump(kFrames);
    r->updateMeters();
    EXPECT_EQ(r->averagePowerForChannel(0), -160.0f);

    const float bad[4] = {NAN, 0.0f, 1.0f, 0.0f};  // left out instead of poisoning the meter
    r->captureFrames(bad, 2);
    r->updateMeters();
    EXPECT_EQ(r->averagePowerForChannel(0), -160.0f);
    EXPECT_TRUE(r->stop());
    EXPECT_EQ(RecorderMeter::powerToDb(4.0), 0.0f);  // louder than full scale reads full scale
    EXPECT_EQ(RecorderMeter::powerToDb(1e-30), -160.0f);
}

TEST(Recorder, OverflowDropsWhatDoesNotFitAndTheCaptureCallbackNeitherAllocatesNorLocks) {
    TempDir dir;
    writeAudio(dir / "in.wav", kWavFloat, 44100, 2, testSignal(10, 2));
    {
        LogLines log;
        auto r = fromFile(dir / "out", dir / "in.wav", 64);
        ASSERT_TRUE(r->record());
        const auto burst = testSignal(10000, 2);
        r->captureFrames(burst.data(), 10000);
        EXPECT_EQ(r->droppedFrames(), 10000u - 64u);
        EXPECT_TRUE(r->stop());
        EXPECT_EQ(r->framesRecorded(), 64u);
        ASSERT_EQ(log.lines.size(), 1u);
        EXPECT_EQ(log.lines[0].rfind("dropped 9936 frames", 0), 0u) << log.lines[0];
    }
    auto r = fromFile(dir / "out", dir / "in.wav", 4096);
    ASSERT_TRUE(r->record());
    auto block = testSignal(DeviceCaptureSource::kCaptureBlockFrames, 2);
    const int bytes = static_cast<int>(block.size() * sizeof(float));
    RealtimeCounts counts;
    {
        RealtimeScope scope;
        for (int i = 0; i < 20; ++i) {  // enough to overflow the ring as well
            DeviceCaptureSource::audioCallback(
                r.get(), reinterpret_cast<std::uint8_t*>(block.data()), bytes);
        }
        counts = scope.counts();
    }
    EXPECT_EQ(counts.allocations + counts.locks, 0u);
    EXPECT_TRUE(r->stop());
    EXPECT_EQ(r->framesRecorded() + r->droppedFrames(),
              20u * DeviceCaptureSource::kCaptureBlockFrames);
}

TEST(Recorder, DocumentsDirectoryComesFromTheToolThenUserDirsThenHome) {
    const std::string dirs =
        "# written by xdg-user-dirs-update\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
        "  XDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n";
    const struct {
        const char *tool, *userDirs, *expected;
    } cases[] = {
        {"/data/docs\n", dirs.c_str(), "/data/docs"},
        {"", dirs.c_str(), "/home/ana/Dokumente"},
        {"", "XDG_DOCUMENTS_DIR=\"/srv/papers\"\n", "/srv/papers"},
        {"", "XDG_DOCUMENTS_DIR=\"$HOMEWORK/x\"\n", "/home/ana/Documents"},
        {"", "XDG_DOCUMENTS_DIR=\"relative\"\n", "/home/ana/Documents"},
        {"not absolute", "", "/home/ana/Documents"},
        // A desktop without a documents folder answers $HOME: recordings do not land there.
        {"/home/ana/\n", "", "/home/ana/Documents"},
        {"/home/ana\n", dirs.c_str(), "/home/ana/Dokumente"},
        {"", "XDG_DOCUMENTS_DIR=\"$HOME/\"\n", "/home/ana/Documents"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(documentsDirectoryFrom(c.tool, c.userDirs, "/home/ana"), c.expected)
            << c.userDirs;
    EXPECT_TRUE(documentsDirectory().is_absolute());
}

TEST(RecorderDevice, MainViewLoadsOnlyACompleteTakeAndSaysWhatHappened) {
    TempDir in, out;
    writeAudio(in / "in.wav", kWavFloat, 44100, 2, testSignal(30000, 2));
    Instrument instrument;
    MainView& view = instrument.view;
    const auto loadsDone = [&] {
        instrument.clock.advance(kLoadDelaySeconds);
        instrument.loop.runDue();
        return instrument.loop.pendingCount() == 0;
    };
    view.setRecorder(fromFile(out.path(), in / "in.wav"));
    EXPECT_EQ(view.recordURL(), out / "recording.wav");
    {  // Complete and closed once recordingEnd returns, then loaded by its take's own name; a
       // second end stops and loads nothing.
        LogLines log;
        StatusLines status;
        view.recordingStart();
        EXPECT_TRUE(view.recording());
        EXPECT_TRUE(view.recorder().isRecording());
        feed(view.recorder()).pump(30000);
        view.recordingEnd();
        EXPECT_FALSE(view.recording());
        EXPECT_TRUE(loadsDone());
        view.recordingEnd();
        EXPECT_FALSE(view.recording());
        EXPECT_EQ(instrument.loop.pendingCount(), 0u);
        EXPECT_TRUE(log.lines.empty());
        EXPECT_EQ(readPcm16(out / "recording.wav").info.frames, 30000);
        EXPECT_EQ(view.samplePath(), view.recorder().lastTake().string());
        EXPECT_EQ(view.fileBufferLength(), 30000u);
        ASSERT_EQ(status.lines.size(), 1u);  // the path as the user knows it, ~ for home
        EXPECT_TRUE(status.lines[0].starts_with("Recording saved: ")) << status.lines[0];
        EXPECT_TRUE(status.lines[0].ends_with("/Vornik takes/" +
                                              view.recorder().lastTake().filename().string()));
    }
    const float* planes = view.fileBufferLeft();
    const auto kept = [&] {
        return loadsDone() && view.fileBufferLeft() == planes && view.hasAudioFile() &&
               readPcm16(out / "recording.wav").info.frames == 30000;
    };
    {  // A take that captured nothing: the sample stays, and the window says why.
        StatusLines status;
        view.recordingStart();
        view.recordingEnd();
        EXPECT_TRUE(kept());
        EXPECT_EQ(status.lines, std::vector<std::string>{
                                    "Recording not saved: nothing was captured; the sample stays"});
    }
    {  // The device cannot start: the recorder's reason, then the instrument's line; the state
       // is recording all the same, and the sample survives the end.
        ScopedDriver driver("no-such-driver");
        view.setRecorder(std::make_unique<Recorder>(out.path()));
        LogLines log;
        StatusLines status;
        view.recordingStart();
        EXPECT_TRUE(view.recording());
        ASSERT_EQ(log.lines.size(), 2u);
        EXPECT_EQ(log.lines[0].rfind("recording: no audio input", 0), 0u) << log.lines[0];
        EXPECT_EQ(log.lines[1], "ERROR: audioRecorder record audio");
        view.recordingEnd();
        EXPECT_FALSE(view.recording());
        EXPECT_TRUE(kept());
        EXPECT_EQ(status.lines,
                  std::vector<std::string>{"Cannot record: no audio input could be opened"});
    }
    {  // Nothing can be prepared: both lines, in order.
        std::ofstream(out / "blocker") << "x";
        view.setRecorder(std::make_unique<Recorder>(out / "blocker"));
        LogLines log;
        view.recordingStart();
        EXPECT_TRUE(view.recording());
        std::vector<std::string> ours;
        std::copy_if(log.lines.begin(), log.lines.end(), std::back_inserter(ours),
                     [](const std::string& l) { return l.rfind("ERROR: ", 0) == 0; });
        EXPECT_EQ(ours, (std::vector<std::string>{"ERROR: audioRecorder prepareToRecord",
                                                  "ERROR: audioRecorder record audio"}));
        view.recordingEnd();
        EXPECT_TRUE(kept());
    }
}
