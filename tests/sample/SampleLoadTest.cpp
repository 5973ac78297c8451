// The two-step load of the instrument: voices fade, the file arrives 10 ms later, and bad files
// leave the state the user can rely on.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "AudioFileHelpers.h"
#include "display/MainView.h"
#include "support/LogLines.h"

using namespace vornik;
using test::TempDir;

namespace {

constexpr int kWav16 = SF_FORMAT_WAV | SF_FORMAT_PCM_16;

struct Instrument {
    ManualClock clock;
    RunLoop loop{clock};
    MainView view{loop};
};

// Plays a held tape voice over the current sample for one block; true if anything sounded.
bool sounds(MainView& view) {
    Playhead& v = view.playheads()[kVoiceCount - 1];
    v.setMode(Playhead::kTape);
    v.setFadeOut(false);
    v.setTouchid(99);
    v.setAmp(1.0f);
    v.setEnvelope(1.0);
    v.setRate(1.0);
    v.setPos(100.0);
    v.setActive(true);
    std::vector<float> left(64), right(64);
    view.renderAudio(left.data(), right.data(), 64);
    v.setActive(false);
    v.setTouchid(kNoTouch);
    const auto loud = [](float x) { return x != 0.0f; };
    return std::any_of(left.begin(), left.end(), loud) ||
           std::any_of(right.begin(), right.end(), loud);
}

bool logged(const test::LogLines& log, const std::string& start) {
    return std::any_of(log.lines.begin(), log.lines.end(),
                       [&](const std::string& l) { return l.rfind(start, 0) == 0; });
}

}  // namespace

TEST(SampleLoad, FadesOnlyPlayingVoicesAndLoadsTenMillisecondsLater) {
    TempDir dir;
    const std::string path = dir.file("a.wav");
    ASSERT_TRUE(test::writeAudio(path, kWav16, 44100, 2, test::testSignal(70000, 2)));
    Instrument in;
    for (std::size_t i : {3u, 10u, 63u}) in.view.playheads()[i].setActive(true);

    in.view.loadFile(path);
    for (std::size_t i = 0; i < kVoiceCount; ++i) {
        const bool playing = i == 3 || i == 10 || i == 63;
        EXPECT_EQ(in.view.playheads()[i].fadeOut(), playing) << i;
        EXPECT_EQ(in.view.playheads()[i].active(), playing) << i;  // nothing else changes
    }
    in.clock.set(0.0099);
    in.loop.runDue();
    EXPECT_FALSE(in.view.hasAudioFile());
    in.clock.set(0.010);
    in.loop.runDue();
    ASSERT_TRUE(in.view.hasAudioFile());

    // The file's own rate and length: 70,000 frames at 44.1 kHz stay 70,000.
    EXPECT_EQ(in.view.fileBufferLength(), 70000u);
    EXPECT_EQ(in.view.audioFileLength(), 70000);
    EXPECT_EQ(in.view.audioFileSampleRate(), 44100.0);
    EXPECT_EQ(in.view.audioFileChannelCount(), 2);
    EXPECT_EQ(in.view.fileBufferRight(), in.view.fileBufferLeft() + 70000);
}

TEST(SampleLoad, TwoLoadsFiveMillisecondsApartRunInOrder) {
    TempDir dir;
    const std::string mono = dir.file("mono.wav");
    const std::string quad = dir.file("quad.wav");
    ASSERT_TRUE(test::writeAudio(mono, kWav16, 44100, 1, test::testSignal(1000, 1)));
    ASSERT_TRUE(test::writeAudio(quad, kWav16, 22050, 4, test::testSignal(2000, 4)));
    Instrument in;

    in.view.loadFile(mono);
    in.clock.set(0.005);
    in.loop.runDue();
    in.view.loadFile(quad);
    in.clock.set(0.0099);
    in.loop.runDue();
    EXPECT_FALSE(in.view.hasAudioFile());

    in.clock.set(0.010);
    in.loop.runDue();
    EXPECT_EQ(in.view.fileBufferLength(), 1000u);
    EXPECT_EQ(in.view.fileBufferRight(), in.view.fileBufferLeft());  // mono: the same plane

    in.clock.set(0.0149);
    in.loop.runDue();
    EXPECT_EQ(in.view.fileBufferLength(), 1000u);
    in.clock.set(0.015);
    in.loop.runDue();
    EXPECT_EQ(in.view.fileBufferLength(), 2000u);
    EXPECT_EQ(in.view.audioFileChannelCount(), 4);
    EXPECT_EQ(in.view.audioFileSampleRate(), 22050.0);
    EXPECT_EQ(in.view.fileBufferRight(), in.view.fileBufferLeft() + 2000);  // planes 0 and 1
    EXPECT_EQ(in.loop.pendingCount(), 0u);
}

TEST(SampleLoad, SlicesAreRebuiltOnlyWhenLoadingInSlicerMode) {
    TempDir dir;
    // Silence, then a loud second half: auto detection starts slices at window 24 (0.5) and, as
    // the smoothed level still climbs, at window 27 (the first allowed after 24 + 2).
    std::vector<float> onset(48 * 512, 0.0f);
    std::fill(onset.begin() + 24 * 512, onset.end(), 0.8f);
    const std::string path = dir.file("onset.wav");
    ASSERT_TRUE(test::writeAudio(path, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 44100, 1, onset));
    Instrument in;
    in.view.setTouchBarSize({1000.0, 30.0});
    in.view.setNumSlices(4);
    ASSERT_EQ(in.view.slices().size(), 4u);

    for (int mode : {Playhead::kLooper, Playhead::kBow, Playhead::kTape}) {
        SCOPED_TRACE(mode);
        in.view.setPlayMode(mode);
        in.view.setNumSlices(1);  // stored, not applied outside slicer mode
        in.view.actuallyLoadFile(path);
        ASSERT_TRUE(in.view.hasAudioFile());
        EXPECT_EQ(in.view.slices().size(), 4u);
        EXPECT_EQ(in.view.numSlices(), 1);
    }

    in.view.setPlayMode(Playhead::kSlicer);
    in.view.actuallyLoadFile(path);
    ASSERT_EQ(in.view.slices().size(), 3u);
    EXPECT_EQ(in.view.slices()[0].pos, 0.0f);
    EXPECT_EQ(in.view.slices()[1].pos, 0.5f);
    EXPECT_EQ(in.view.slices()[2].pos, 27.0f / 48.0f);
}

TEST(SampleLoad, BadFilesLeaveTheStateTheUserCanRelyOn) {
    TempDir dir;
    const std::string good = dir.file("good.wav");
    ASSERT_TRUE(test::writeAudio(good, kWav16, 44100, 2, test::testSignal(70000, 2)));
    const std::string empty = dir.file("empty.wav");
    test::writeBytes(empty, {});
    const std::string garbage = dir.file("garbage.wav");
    test::writeBytes(garbage, std::vector<unsigned char>(3000, 'x'));

    Instrument in;
    in.view.setTouchBarSize({1000.0, 30.0});
    in.view.setNumSlices(8);
    in.view.actuallyLoadFile(good);
    ASSERT_TRUE(in.view.hasAudioFile());
    const float* planes = in.view.fileBufferLeft();
    ASSERT_TRUE(sounds(in.view));

    // Files that cannot be opened: no file, silence; the planes stay for the waveform, the slices
    // are left alone, and the next good file loads normally.
    for (const std::string& path : {dir.file("missing.wav"), dir.path().string(), empty, garbage}) {
        SCOPED_TRACE(path);
        test::LogLines log;
        in.view.setNumSlices(8);
        in.view.setNumSlices(0);  // would empty the list if a rebuild ran; set while not loading
        in.view.setNumSlices(8);
        in.view.actuallyLoadFile(path);
        EXPECT_FALSE(in.view.hasAudioFile());
        EXPECT_EQ(in.view.audioFileLength(), 0);
        EXPECT_EQ(in.view.fileBufferLeft(), planes);
        EXPECT_EQ(in.view.fileBufferLength(), 70000u);
        EXPECT_EQ(in.view.slices().size(), 8u);
        EXPECT_FALSE(sounds(in.view));
        EXPECT_TRUE(logged(log, "Could not open audio file \"" + path + "\""));
        EXPECT_FALSE(logged(log, "Error loading audio file into buffer"));

        in.view.actuallyLoadFile(good);
        EXPECT_TRUE(in.view.hasAudioFile());
        EXPECT_TRUE(sounds(in.view));
        planes = in.view.fileBufferLeft();
    }

    // Files that open but cannot become a sample: refused, and the sample the user had stays
    // loaded and playable.
    const std::string noFrames = dir.file("noframes.wav");
    ASSERT_TRUE(test::writeAudio(noFrames, kWav16, 44100, 2, {}));
    std::vector<std::string> refused{noFrames};
    // A sparse file claiming more frames than 32 bits count (takes no disk space).
    const std::uint64_t frames = (std::uint64_t{1} << 32) + 7;
    const std::string tooLong = dir.file("toolong.w64");
    test::writeBytes(tooLong, test::wave64Header(dir.file("scratch.w64"), 1, frames));
    std::error_code ec;
    std::filesystem::resize_file(tooLong, 0x68 + frames, ec);
    if (!ec) refused.push_back(tooLong);
    for (const std::string& path : refused) {
        SCOPED_TRACE(path);
        test::LogLines log;
        in.view.setNumSlices(8);
        in.view.actuallyLoadFile(path);
        EXPECT_TRUE(in.view.hasAudioFile());
        EXPECT_EQ(in.view.fileBufferLeft(), planes);
        EXPECT_EQ(in.view.fileBufferLength(), 70000u);
        EXPECT_TRUE(sounds(in.view));
        EXPECT_EQ(in.view.slices().size(), 8u);
        EXPECT_TRUE(logged(log, "Refused audio file \"" + path + "\""));
    }

    // A read that fails part-way: logged with libsndfile's error number, published anyway at the
    // length the file claims, the unread frames silent, and the slices rebuilt.
    const std::string cut = dir.file("cut.flac");
    ASSERT_TRUE(test::writeAudio(cut, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 44100, 2,
                                 test::testSignal(70000, 2)));
    auto bytes = test::readBytes(cut);
    bytes.resize(bytes.size() / 3);
    test::writeBytes(cut, bytes);
    SF_INFO info{};
    SNDFILE* probe = sf_open(cut.c_str(), SFM_READ, &info);
    ASSERT_NE(probe, nullptr);
    std::vector<float> scratch(std::size_t{70000} * 2);
    sf_readf_float(probe, scratch.data(), 70000);
    const int error = sf_error(probe);
    sf_close(probe);
    {
        test::LogLines log;
        in.view.setNumSlices(0);
        in.view.setNumSlices(8);
        in.view.actuallyLoadFile(cut);
        ASSERT_TRUE(in.view.hasAudioFile());
        EXPECT_EQ(in.view.fileBufferLength(), 70000u);
        EXPECT_EQ(in.view.fileBufferLeft()[69999], 0.0f);
        EXPECT_EQ(in.view.fileBufferRight()[69999], 0.0f);
        EXPECT_EQ(in.view.slices().size(), 8u);
        ASSERT_FALSE(log.lines.empty());
        EXPECT_EQ(log.lines[0], "Error loading audio file into buffer: " + std::to_string(error));
    }

    // NaN and infinity become silence, with a line saying so.
    std::vector<float> poisoned(1000, 0.25f);
    poisoned[500] = std::numeric_limits<float>::quiet_NaN();
    const std::string nan = dir.file("nan.wav");
    ASSERT_TRUE(test::writeAudio(nan, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 44100, 1, poisoned));
    {
        test::LogLines log;
        in.view.actuallyLoadFile(nan);
        ASSERT_TRUE(in.view.hasAudioFile());
        EXPECT_EQ(in.view.fileBufferLeft()[500], 0.0f);
        EXPECT_EQ(in.view.fileBufferLeft()[501], 0.25f);
        EXPECT_TRUE(logged(log, "Replaced 1 non-finite samples"));
    }
}
