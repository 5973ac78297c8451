// The state file: its text, its faults, replacing it safely, and when it is written.

#include <gtest/gtest.h>

#include <fstream>

#include "session/StateFile.h"
#include "session/StateKeeper.h"
#include "session/Takes.h"
#include "support/Files.h"
#include "support/LogLines.h"

namespace vornik {
void PrintTo(const SessionState& s, std::ostream* os) { *os << formatState(s); }
namespace {

namespace fs = std::filesystem;

SessionState parsed(std::string_view keys) {
    return parseState("version = 1\n" + std::string(keys) + "end\n").state;
}

const SessionState kSome = parsed(
    "sample = /music/a b.wav\nplay-mode = bow\nslices = 8\nattack = 0.3\ndecay = 0.1\n"
    "transpose = -7\nfilter = 1.6\ndelay = 0.4\nfeedback = 0.5\nreverb = 0.7\n"
    "control-bar = effects\nzoom = 3\nwindow-x = 10\nwindow-y = -20\nwindow-width = 1500\n"
    "window-height = 310\nmidi.input = Launchpad Mini\n");

class SessionTest : public ::testing::Test {
protected:
    test::TempDir dir;
    fs::path file = dir / "vornik" / "state.conf";
    std::string error;
};

TEST_F(SessionTest, BrokenTruncatedAndNewerFilesGiveTheDefaultsAndValuesAreClamped) {
    const std::string good = formatState(kSome);
    const std::size_t reverb = good.find("reverb");
    static const char kBytes[] =
        "\x7f"
        "ELF\x02\x01\0\0\xff\xfe=\n";
    using O = ParsedState::Outcome;
    const struct {
        std::string text;
        O outcome;
    } cases[] = {
        {std::string(kBytes, sizeof kBytes - 1), O::broken},
        {"attack = 0.5\nend\n", O::broken},  // no version line
        {"version = 0\nend\n", O::broken},
        {"version = 2\nattack = 0.5\nend\n", O::newer},
        {good.substr(0, reverb), O::broken},  // cut after a line
        {good + "attack = 1\n", O::broken},   // more after the end
        {"version = 1\nattack 0.5\nend\n", O::broken},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const ParsedState p = parseState(c.text);
        EXPECT_EQ(p.outcome, c.outcome) << p.problem;
        EXPECT_EQ(p.state, SessionState{});
        ASSERT_TRUE(writeFileAtomically(file, c.text, error)) << error;
        test::LogLines log;
        const StateFileContents read = readStateFile(file);
        EXPECT_EQ(read.outcome, StateFileContents::Outcome::unusable);
        EXPECT_EQ(read.state, SessionState{});
        EXPECT_EQ(log.lines.size(), 1u);
    }
    EXPECT_EQ(parseState(good).state, kSome);  // every value back exactly as written
    fs::remove(file);
    EXPECT_EQ(readStateFile(file).outcome, StateFileContents::Outcome::missing);
    fs::create_directories(file);  // a folder where the file should be
    EXPECT_EQ(readStateFile(file).outcome, StateFileContents::Outcome::unusable);

    // Values are clamped to the controls' ranges, or refused.
    const ParsedState p = parseState(
        "# by hand\nversion = 1\nsample =  /music/odd name .wav\nplay-mode = 7\nslices = 32\n"
        "attack = -1\ndecay = 9\ntranspose = -99\nfilter = 5\ndelay = abc\nfeedback = nan\n"
        "reverb = +0.25\r\ncontrol-bar = 2\nzoom = 100\nwindow-x = -40000\nwindow-width = 5\n"
        "window-height = 99999\ncolour = red\nmidi.input = Launchpad Mini\nend\n");
    EXPECT_EQ(p.state, parsed("sample = /music/odd name .wav\nplay-mode = tape\nslices = 16\n"
                              "attack = 0\ndecay = 1\ntranspose = -24\nfilter = 2\nreverb = 0.25\n"
                              "control-bar = effects\nzoom = 8\nwindow-x = -32768\n"
                              "window-width = 100\nwindow-height = 16384\n"
                              "midi.input = Launchpad Mini\n"));
    EXPECT_EQ(p.refused, (std::vector<std::string>{"delay", "feedback"}));
}

TEST_F(SessionTest, ACrashBetweenWritingAndRenamingLeavesTheOldFile) {
    ASSERT_TRUE(writeFileAtomically(file, formatState(kSome), error)) << error;
    EXPECT_EXIT(writeFileAtomically(file, "version = 1\nend\n", error, [] { std::_Exit(7); }),
                ::testing::ExitedWithCode(7), "");
    EXPECT_EQ(readStateFile(file).state, kSome);
    auto count = [&] { return std::distance(fs::directory_iterator(file.parent_path()), {}); };
    EXPECT_EQ(count(), 2);  // the crashed process's temporary, until the next start tidies
    removeStaleTemporaries(file);
    EXPECT_EQ(count(), 1);
    EXPECT_FALSE(writeFileAtomically(file / "inside", "text", error));  // says why, harms nothing
    EXPECT_NE(error.find("state.conf"), std::string::npos);
}

TEST_F(SessionTest, ChangesAreWrittenAtMostOnceASecondFreshStartsWaitTakesKeepTheirNames) {
    ManualClock clock;
    RunLoop loop(clock);
    ASSERT_TRUE(writeFileAtomically(file, formatState(kSome), error));
    SessionState now = kSome;
    {
        StateKeeper keeper(loop, file);
        EXPECT_EQ(keeper.load(false), kSome);
        keeper.start([&] { return now; });
        loop.advance(clock, 5.0);
        EXPECT_EQ(keeper.writes(), 0);      // nothing changed
        for (double attack : {0.9, 0.8}) {  // one check, the newest change
            now.attack = attack;
            loop.advance(clock, 0.5);
        }
        EXPECT_EQ(keeper.writes(), 1);
        now.reverb = 0.2;
        loop.advance(clock, 0.9);
        EXPECT_EQ(keeper.writes(), 1);
        loop.advance(clock, 0.1);
        EXPECT_EQ(readStateFile(file).state, now);
        now.delay = 0.0;
        keeper.quit();  // a change since the last check is written at once
        EXPECT_EQ(readStateFile(file).state, now);
    }
    // --fresh, and a file from a newer Vornik: kept until something but the window changes.
    for (const bool fresh : {true, false}) {
        const std::string kept = fresh ? test::readText(file) : "version = 9\nend\n";
        ASSERT_TRUE(writeFileAtomically(file, kept, error));
        StateKeeper keeper(loop, file);
        now = keeper.load(fresh);
        EXPECT_EQ(now, SessionState{});
        now.window = WindowFrame{0, 0, 800, 300};
        keeper.start([&] { return now; });
        now.window->width = 900;  // the window manager places and sizes it
        loop.advance(clock, 3.0);
        EXPECT_EQ(test::readText(file), kept);
        now.playMode = 1;
        loop.advance(clock, 1.0);
        EXPECT_EQ(readStateFile(file).state, now);
    }
    // A take is kept under its permanent name.
    const fs::path recording = dir / "recording.wav", takes = takesDirectory(dir.path());
    fs::create_directories(takes);
    std::ofstream(recording) << "take two";
    std::ofstream(takes / "recording-1.wav") << "take one";         // same size, other bytes
    EXPECT_EQ(permanentTakePath(recording, recording), recording);  // no copy (yet)
    std::ofstream(takes / "recording-2.wav") << "take two";
    EXPECT_EQ(permanentTakePath(recording, recording), takes / "recording-2.wav");
    EXPECT_EQ(permanentTakePath(dir / "a.wav", recording), dir / "a.wav");
}

}  // namespace
}  // namespace vornik
