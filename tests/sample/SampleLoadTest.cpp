#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <limits>

#include "SampleTestFiles.h"
#include "support/LogLines.h"
#include "support/SampleFixtures.h"

using namespace vornik;
using namespace vornik::test;

namespace {

// Plays a held tape voice over the current sample for one block; true if anything sounded.
bool sounds(MainView& view) {
    Playhead& v = startVoice(view.playheads()[kVoiceCount - 1],
                             {Playhead::kTape, 100.0, 0.0, 1.0, 1.0, 1.0f, 99});
    std::vector<float> left(64), right(64);
    view.renderAudio(left.data(), right.data(), 64);
    v.setActive(false);
    return std::any_of(left.begin(), left.end(), [](float x) { return x != 0.0f; });
}

bool logged(const LogLines& log, const std::string& text) {
    return std::any_of(log.lines.begin(), log.lines.end(),
                       [&](const std::string& l) { return l.find(text) != std::string::npos; });
}

}  // namespace

// A good stereo file of 70,000 frames loaded in slicer mode with eight slices.
class SampleLoad : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(writeAudio(good, kWav16, 44100, 2, signal));
        in.view.setNumSlices(8);
        in.view.actuallyLoadFile(good);
        ASSERT_TRUE(sounds(in.view));
    }
    // The sample that was there stays loaded, playable and sliced.
    void expectKept(const float* planes) {
        EXPECT_TRUE(in.view.hasAudioFile());
        EXPECT_EQ(in.view.fileBufferLeft(), planes);
        EXPECT_TRUE(sounds(in.view));
        EXPECT_EQ(in.view.slices().size(), 8u);
    }
    TempDir dir;
    Instrument in;
    const std::string good = dir.file("good.wav");
    const std::vector<float> signal = testSignal(70000, 2);
};

TEST_F(SampleLoad, LoadsRunInOrderTenMillisecondsAfterTheirRequestsAndFadePlayingVoices) {
    const std::string quad = dir.file("quad.wav");
    ASSERT_TRUE(writeAudio(quad, kWav16, 22050, 4, testSignal(2000, 4)));
    Instrument fresh;
    MainView& m = fresh.view;
    const auto at = [&](double seconds) {
        fresh.clock.set(seconds);
        fresh.loop.runDue();
    };
    for (std::size_t i : {3u, 10u, 63u}) m.playheads()[i].setActive(true);

    m.loadFile(good);
    for (std::size_t i = 0; i < kVoiceCount; ++i) {
        const bool playing = i == 3 || i == 10 || i == 63;
        EXPECT_EQ(m.playheads()[i].fadeOut(), playing) << i;
        EXPECT_EQ(m.playheads()[i].active(), playing) << i;  // nothing else changes
    }
    at(0.005);
    m.loadFile(quad);
    at(0.0099);
    EXPECT_FALSE(m.hasAudioFile());

    // The file's own rate and length, not resampled; a stereo file's planes 0 and 1.
    at(0.010);
    ASSERT_TRUE(m.hasAudioFile());
    EXPECT_EQ(m.fileBufferLength(), 70000u);
    EXPECT_EQ(m.audioFileLength(), 70000);
    EXPECT_EQ(m.audioFileSampleRate(), 44100.0);
    EXPECT_EQ(m.fileBufferRight(), m.fileBufferLeft() + 70000);

    at(0.0149);
    EXPECT_EQ(m.fileBufferLength(), 70000u);
    at(0.015);
    EXPECT_EQ(m.fileBufferLength(), 2000u);
    EXPECT_EQ(m.audioFileChannelCount(), 4);
    EXPECT_EQ(m.audioFileSampleRate(), 22050.0);
    EXPECT_EQ(m.fileBufferRight(), m.fileBufferLeft() + 2000);  // planes 0 and 1 of four
    EXPECT_EQ(fresh.loop.pendingCount(), 0u);
}

TEST_F(SampleLoad, SlicesAreRebuiltOnlyWhenLoadingInSlicerMode) {
    // Silence, then a loud second half: three auto slices.
    std::vector<float> onset(48 * 512, 0.0f);
    std::fill(onset.begin() + 24 * 512, onset.end(), 0.8f);
    const std::string path = dir.file("onset.wav");
    ASSERT_TRUE(writeAudio(path, kWavFloat, 44100, 1, onset));
    for (int mode : {Playhead::kLooper, Playhead::kBow, Playhead::kTape}) {
        in.view.setPlayMode(mode);
        in.view.setNumSlices(1);  // stored, not applied outside slicer mode
        in.view.actuallyLoadFile(path);
        ASSERT_TRUE(in.view.hasAudioFile());
        EXPECT_EQ(in.view.slices().size(), 8u) << mode;
    }
    EXPECT_EQ(in.view.fileBufferRight(), in.view.fileBufferLeft());  // mono: the same plane
    in.view.setPlayMode(Playhead::kSlicer);
    in.view.actuallyLoadFile(path);
    EXPECT_EQ(in.view.slices().size(), 3u);  // the new file's (SlicesTest has their places)
}

TEST_F(SampleLoad, AFileOpenedBeforeTheStripIsMeasuredWaitsForItUnlessANewerOneCame) {
    const std::string newer = dir.file("newer.wav");
    ASSERT_TRUE(writeAudio(newer, kWav16, 44100, 2, testSignal(2000, 2)));
    for (const bool dropped : {false, true}) {
        Instrument fresh;
        fresh.view.setTouchBarSize({0.0, 0.0});  // before the first display frame
        fresh.view.loadFileOnceMeasured(good);
        if (dropped) fresh.view.loadFile(newer);  // the user's own choice wins
        fresh.clock.set(1.0);
        fresh.loop.runDue();
        EXPECT_EQ(fresh.view.hasAudioFile(), dropped);
        fresh.view.layer()->setBounds(Rect::make(0.0, 0.0, 1000.0, 30.0));
        fresh.view.update();  // measures the strip
        fresh.clock.set(2.0);
        fresh.loop.runDue();
        EXPECT_EQ(fresh.view.audioFileLength(), dropped ? 2000 : 70000);
    }
}

TEST_F(SampleLoad, FilesThatCannotBeOpenedOrUsedAreRefusedAndTheWindowSaysWhy) {
    const auto bytes = readBytes(good);
    auto noChannels = bytes;
    putLE(noChannels, 22, 0, 2);
    writeBytes(dir.file("nochannels.wav"), noChannels);
    writeBytes(dir.file("empty.wav"), {});
    writeBytes(dir.file("garbage.wav"), std::vector<unsigned char>(3000, 'x'));
    const std::string fifo = dir.file("fifo.wav");  // would block open() waiting for a writer
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    ASSERT_TRUE(writeAudio(dir.file("none.wav"), kWav16, 44100, 2, {}));
    std::vector<std::pair<std::string, std::string>> refused{
        {dir.file("missing.wav"), "no such file"},
        {dir.path().string(), "not a regular file"},
        {fifo, "not a regular file"},
        {dir.file("empty.wav"), "the file is empty"},
        {dir.file("garbage.wav"), "not an audio file"},
        {dir.file("nochannels.wav"), "damaged"},
        {dir.file("none.wav"), "no frames"}};
    if (geteuid() != 0) {  // root reads everything
        writeBytes(dir.file("locked.wav"), bytes);
        chmod(dir.file("locked.wav").c_str(), 0);
        refused.push_back({dir.file("locked.wav"), "no permission to read it"});
    }
    // An Ogg stream cut off has no known length.
    if (writeAudio(dir.file("cut.ogg"), SF_FORMAT_OGG | SF_FORMAT_VORBIS, 44100, 2, signal)) {
        cutFile(dir.file("cut.ogg"), 0.5);
        refused.push_back({dir.file("cut.ogg"), "unknown or too long"});
    }
    // Sparse Wave64 files: more frames than 32 bits count, and 17.6 TB of planes.
    for (auto [channels, frames, reason] :
         {std::tuple{1, (std::uint64_t{1} << 32) + 7, "4294967303"},
          std::tuple{1024, std::uint64_t{0xFFFFFFF0u}, "memory"}}) {
        const std::string path = dir.file(std::to_string(channels) + ".w64");
        writeBytes(path, wave64Header(dir.file("scratch.w64"), channels, frames));
        std::error_code ec;
        std::filesystem::resize_file(path, 0x68 + frames * channels, ec);
        EXPECT_FALSE(ec) << "no sparse file here: " << ec.message();
        if (!ec) refused.push_back({path, reason});
    }
    const float* planes = in.view.fileBufferLeft();
    const auto bars = in.view.waveform()->sublayers();
    ASSERT_FALSE(bars.empty());
    for (const auto& [path, reason] : refused) {
        SCOPED_TRACE(path);
        LogLines log;
        StatusLines status;
        in.view.actuallyLoadFile(path);
        expectKept(planes);
        EXPECT_EQ(in.view.waveform()->sublayers(), bars);  // still drawn, not drawn again
        EXPECT_EQ(in.view.samplePath(), good);
        EXPECT_TRUE(logged(log, "audio file \"" + path + "\""));
        ASSERT_EQ(status.lines.size(), 1u);
        const std::string name = std::filesystem::path(path).filename().string();
        EXPECT_NE(status.lines[0].find("\"" + name + "\": "), std::string::npos);
        EXPECT_NE(status.lines[0].find(reason), std::string::npos) << status.lines[0];
    }
}

TEST_F(SampleLoad, PartReadFilesLoadWhatIsThereNonFiniteSamplesBecomeSilence) {
    const auto bytes = readBytes(good);
    // A WAV cut off in its data: the frames there, no error.
    writeBytes(dir.file("cut.wav"), {bytes.begin(), bytes.begin() + 44 + 4 * 30000 + 3});
    // A WAV header claiming far more data than the file holds: only what is there.
    auto huge = bytes;
    huge.resize(44 + 4 * 1000);
    putLE(huge, 40, 0x7FFFFFF0u, 4);
    writeBytes(dir.file("huge.wav"), huge);
    for (auto [name, frames] : {std::pair{"cut.wav", 30000u}, {"huge.wav", 1000u}}) {
        LogLines log;
        in.view.actuallyLoadFile(dir.file(name));
        ASSERT_TRUE(in.view.hasAudioFile()) << name;
        EXPECT_EQ(in.view.fileBufferLength(), frames) << name;
        EXPECT_NEAR(in.view.fileBufferRight()[frames - 1], signal[2 * frames - 1], 2.0 / 32768);
        EXPECT_TRUE(log.lines.empty()) << log.lines[0];
    }

    // A FLAC stream cut off: logged with libsndfile's error number, published at the length the
    // file claims with libsndfile's frames, the rest silent, and the slices rebuilt.
    const std::string cut = dir.file("cut.flac");
    ASSERT_TRUE(writeAudio(cut, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 44100, 2, signal));
    cutFile(cut, 1.0 / 3);
    int error = 0;
    const auto expected = readAudio(cut, &error);
    ASSERT_EQ(expected.size(), signal.size());
    ASSERT_NE(expected[2 * 1000], 0.0f);
    {
        LogLines log;
        in.view.setNumSlices(0);
        in.view.setNumSlices(8);
        in.view.actuallyLoadFile(cut);
        ASSERT_TRUE(in.view.hasAudioFile());
        ASSERT_EQ(in.view.fileBufferLength(), 70000u);
        for (std::size_t f = 0; f < 70000; ++f) {
            ASSERT_EQ(in.view.fileBufferLeft()[f], expected[2 * f]) << f;
            ASSERT_EQ(in.view.fileBufferRight()[f], expected[2 * f + 1]) << f;
        }
        EXPECT_EQ(in.view.fileBufferLeft()[69999], 0.0f);
        EXPECT_EQ(in.view.slices().size(), 8u);
        ASSERT_FALSE(log.lines.empty());
        EXPECT_EQ(log.lines[0], "Error loading audio file into buffer: " + std::to_string(error));
    }
    // Non-finite samples become silence, with a line.
    auto poisoned = testSignal(1000, 2);
    poisoned[0] = std::numeric_limits<float>::quiet_NaN();
    poisoned[2 * 10 + 1] = std::numeric_limits<float>::infinity();
    poisoned[2 * 999] = -std::numeric_limits<float>::infinity();
    const std::string path = dir.file("nan.wav");
    ASSERT_TRUE(writeAudio(path, kWavFloat, 44100, 2, poisoned));
    LogLines log;
    in.view.actuallyLoadFile(path);
    ASSERT_TRUE(in.view.hasAudioFile());
    const float* l = in.view.fileBufferLeft();
    const float* r = in.view.fileBufferRight();
    EXPECT_EQ(l[0], 0.0f);
    EXPECT_EQ(r[10], 0.0f);
    EXPECT_EQ(l[999], 0.0f);
    EXPECT_EQ(l[1], poisoned[2]);
    EXPECT_EQ(r[0], poisoned[1]);
    for (int i = 0; i < 1000; ++i) ASSERT_TRUE(std::isfinite(l[i]) && std::isfinite(r[i])) << i;
    EXPECT_TRUE(logged(log, "Replaced 3 non-finite samples"));
}
