#include <gtest/gtest.h>

#include "RenderSupport.h"

using vornik::test::peak;
using vornik::test::readText;
using vornik::test::RenderDir;
using vornik::test::RenderRun;

namespace {

// Mean of the left channel over [from, to) seconds.
double meanLeft(const std::vector<float>& mix, double from, double to) {
    double sum = 0;
    const auto a = static_cast<std::size_t>(from * 48000), b = static_cast<std::size_t>(to * 48000);
    for (std::size_t i = a; i < b; ++i) sum += mix[2 * i];
    return sum / static_cast<double>(b - a);
}

}  // namespace

TEST(RenderPlay, EachModeSoundsWhereTheFingerIs) {
    RenderDir dir;
    // Value grows with the frame: the level tells where in the sample a voice plays.
    dir.writeSample("ramp.wav", 96000, [](int i) { return static_cast<float>(i) / 96000.0f; });
    const std::string head = "strip 1000 30\nlength 2\nat 0 load ramp.wav\n";
    struct Case {
        const char* name;
        std::string events;
        double from, to, low, high;  // the mean level while held, as 0.9 x the sample there
    } cases[] = {
        // Bow at the middle: grains of +-0.08 s around frame 48000, so about 0.9 x 0.5.
        {"bow",
         "at 0 set mode 2\nat 0 key space down\nat 0.05 key space up\n"
         "at 0.1 down 1 500\nat 1.2 up 1\n",
         0.5, 1.1, 0.40, 0.50},
        // Looper between 0.25 and 0.75 of the sample: a mean of about 0.9 x 0.5.
        {"looper",
         "at 0 set mode 1\nat 0 key space down\nat 0.05 key space up\n"
         "at 0.1 down 1 250\nat 0.1 down 2 750\nat 1.2 up 1\nat 1.2 up 2\n",
         0.3, 1.1, 0.40, 0.50},
        // Tape at the centre stands still at the sample's start: silence on a ramp from 0.
        {"tape",
         "at 0 set mode 3\nat 0 key space down\nat 0.05 key space up\n"
         "at 0.1 down 1 500\nat 1.2 up 1\n",
         0.5, 1.1, -0.001, 0.001},
        // MIDI: bow by program change, note 44 at the centre of zone 8 (0.53 of the sample),
        // lifted by a note-on at velocity 0 in running status.
        {"midi", "at 0 midi C0 02\nat 0.1 midi 90 2C 7F\nat 1.2 midi 2C 00\n", 0.5, 1.1, 0.43,
         0.53},
    };
    for (const Case& c : cases) {
        const RenderRun r = dir.run(head + c.events, "--check");
        ASSERT_EQ(r.exitCode, 0) << c.name << r.errors;
        const double level = meanLeft(r.mix, c.from, c.to);
        EXPECT_GE(level, c.low) << c.name;
        EXPECT_LE(level, c.high) << c.name;
        EXPECT_NEAR(peak(r.mix, 0, c.from, c.to), peak(r.mix, 1, c.from, c.to), 1e-6) << c.name;
    }

    // Slicer, four equal slices: a finger at the left edge of the last one plays from 0.75 of
    // the sample, at nearly full loudness.
    const RenderRun s = dir.run(head + "at 0 set slices 2\nat 0.1 down 1 751\nat 0.2 up 1\n");
    ASSERT_EQ(s.exitCode, 0) << s.errors;
    EXPECT_GT(peak(s.mix, 0, 0.1, 0.2), 0.6);
    EXPECT_LT(peak(s.mix, 0, 0.1, 0.2), 0.9);
    EXPECT_EQ(peak(s.mix, 0, 1.5, 2.0), 0.0f);  // released and decayed: all quiet
}

TEST(RenderPlay, ARecordingFedFromAFileBecomesTheSample) {
    RenderDir dir;
    dir.writeSample(
        "mic.wav", 44100 * 2, [](int i) { return 0.5f * std::sin(i * 0.03f); }, 44100);
    dir.writeSample("first.wav", 4800, [](int) { return 0.1f; });
    // A short press of r starts recording, the next one stops it; the recording loads.
    const RenderRun r = dir.run(
        "length 1.2\nat 0 load first.wav\nat 0.1 key r down\nat 0.15 key r up\n"
        "at 0.6 key r down\nat 0.65 key r up\nat 1.0 dump state.json\n",
        "--input " + (dir.path() / "mic.wav").string());
    ASSERT_EQ(r.exitCode, 0) << r.errors;
    const std::string state = readText(dir.path() / "state.json");
    EXPECT_NE(state.find("\"recording\": false"), std::string::npos) << state;
    EXPECT_NE(state.find("\"fileSampleRate\": 44100"), std::string::npos) << state;
    EXPECT_NE(state.find("\"fileChannels\": 2"), std::string::npos) << state;
    // About half a second was recorded (0.1 s to 0.6 s of rendered time).
    const auto at = state.find("\"fileBufferLength\": ");
    ASSERT_NE(at, std::string::npos);
    const long frames = std::stol(state.substr(at + 20));
    EXPECT_NEAR(frames, 0.5 * 44100, 0.02 * 44100);
}

TEST(RenderPlay, EffectsAreHeardInTheMix) {
    RenderDir dir;
    dir.writeSample("tone.wav", 48000, [](int i) { return 0.5f * std::sin(i * 0.2f); });
    const std::string play =
        "length 2\nat 0 load tone.wav\nat 0 set mode 3\nat 0 key space down\n"
        "at 0.05 key space up\nat 0.1 down 1 750\nat 0.5 up 1\n";
    const RenderRun dry = dir.run(play);
    const RenderRun wet = dir.run("at 0 set reverb 1\n" + play);
    const RenderRun dark = dir.run("at 0 set filter 0\n" + play);
    ASSERT_EQ(dry.exitCode, 0) << dry.errors;
    // Dry, the voice is silent once released and decayed; the cathedral still rings.
    EXPECT_EQ(peak(dry.mix, 0, 1.6, 2.0), 0.0f);
    EXPECT_GT(peak(wet.mix, 0, 1.6, 2.0), 1e-3f);
    // The 100 Hz low-pass takes most of a 1.5 kHz tone away.
    EXPECT_LT(peak(dark.mix, 0, 0.2, 0.5), 0.1f * peak(dry.mix, 0, 0.2, 0.5));
}

TEST(RenderPlay, AHugeFloatSampleIsClampedAndLeavesTheEffectsClean) {
    RenderDir dir;
    dir.writeSample("huge.wav", 48000, [](int i) { return i % 2 ? 3e38f : -3e38f; });
    dir.writeSample("soft.wav", 48000, [](int) { return 0.2f; });
    const RenderRun r = dir.run(
        "length 2.4\nat 0 set reverb 0.3\nat 0 set delay 0.3\nat 0 load huge.wav\n"
        "at 0 set mode 3\nat 0 key space down\nat 0.05 key space up\nat 0.1 down 1 700\n"
        "at 0.2 down 2 650\nat 0.5 up 1\nat 0.5 up 2\nat 0.6 load soft.wav\n"
        "at 1.0 down 1 700\nat 1.4 up 1\n",
        "--check");
    EXPECT_EQ(r.exitCode, 0) << r.errors;  // every sample of the mix finite
    EXPECT_NE(r.errors.find("Clamped 96000 samples of"), std::string::npos) << r.errors;
    EXPECT_GT(peak(r.mix, 0, 1.1, 1.4), 0.1f);  // the good sample after it sounds
}

TEST(RenderPlay, ATakeIsTheMixAndShiftOMakesItTheSampleSlicedAtItsHits) {
    RenderDir dir;
    dir.writeSample("ramp.wav", 96000, [](int i) { return 0.2f + i / 192000.0f; });
    // The reverb and a transposition in the take; hits at 0.4 s and 0.9 s.
    const RenderRun r = dir.run(
        "length 2\nat 0 load ramp.wav\nat 0 set reverb 0.5\nat 0.6 set transpose 3\n"
        "at 0.2 key o down\nat 0.25 key o up\nat 0.4 down 1 100\nat 0.5 up 1\n"
        "at 0.9 down 1 600\nat 1.0 up 1\nat 1.5 key O down\nat 1.55 key O up\n"
        "at 1.8 dump state.json\n",
        "--takes " + (dir.path() / "takes").string());
    ASSERT_EQ(r.exitCode, 0) << r.errors;
    const auto at = r.output.find("take: ");
    ASSERT_NE(at, std::string::npos) << r.output;
    const std::filesystem::path take = r.output.substr(at + 6, r.output.find('\n', at) - at - 6);
    EXPECT_EQ(take.parent_path(), dir.path() / "takes");
    // From the block at 0.2 s to the one before 1.5 s: the mix there, sample for sample.
    const std::size_t start = 9600, end = 72000;
    const std::vector<float> t = vornik::test::readAudio(take);
    ASSERT_EQ(t.size(), 2 * (end - start));
    EXPECT_TRUE(std::equal(t.begin(), t.end(), r.mix.begin() + 2 * start));
    EXPECT_GT(peak(t, 0, 0.2, 0.3), 0.1f);
    // It is the sample now, at its own pitch, sliced at the hits: 9600 and 33600 frames in.
    const std::string state = readText(dir.path() / "state.json");
    EXPECT_NE(state.find("\"fileBufferLength\": 62400,"), std::string::npos) << state;
    EXPECT_NE(state.find("\"transpose\": 0,"), std::string::npos) << state;
    for (const char* pos : {"{\"pos\": 0,", "{\"pos\": 0.1538461", "{\"pos\": 0.5384615"}) {
        EXPECT_NE(state.find(pos), std::string::npos) << pos << "\n" << state;
    }
    EXPECT_EQ(state.find("{\"pos\"", state.find("{\"pos\": 0.5384615") + 1), std::string::npos);
}
