// The state file: its text, its faults, replacing it safely, and when it is written.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "session/StateFile.h"
#include "session/StateKeeper.h"
#include "session/Takes.h"
#include "support/LogLines.h"

namespace vornik {
namespace {

namespace fs = std::filesystem;

}  // namespace
void PrintTo(const SessionState& s, std::ostream* os) { *os << formatState(s); }
namespace {

std::string readText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

SessionState someState() {
    SessionState s;
    s.sample = "/music/loops/a b.wav";
    s.playMode = 2;
    s.slicesStep = 3;
    s.attack = 0.3;
    s.decay = 0.1;
    s.transpose = -7;
    s.filter = 1.6;
    s.delay = 0.4;
    s.feedback = 0.5;
    s.reverb = 0.7;
    s.controlBar = state::kEffectsBar;
    s.zoom = 3;
    s.window = WindowFrame{10, -20, 1500, 310};
    s.others["midi.input"] = "Launchpad Mini";
    return s;
}

class SessionTest : public ::testing::Test {
protected:
    ~SessionTest() override { fs::remove_all(dir); }
    fs::path dir = fs::temp_directory_path() / ("vornik-session-" + std::to_string(::getpid()));
    fs::path file = dir / "vornik" / "state.conf";
};

TEST_F(SessionTest, BrokenTruncatedAndNewerFilesGiveTheDefaults) {
    const std::string good = formatState(someState());
    const std::size_t reverb = good.find("reverb");
    static const char kBytes[] = "\x7f" "ELF\x02\x01\0\0\xff\xfe=\n";
    using O = ParsedState::Outcome;
    const struct {
        const char* what;
        std::string text;
        O outcome;
    } cases[] = {
        {"empty", "", O::broken},
        {"random bytes", std::string(kBytes, sizeof kBytes - 1), O::broken},
        {"no version line", "attack = 0.5\nend\n", O::broken},
        {"version not a number", "version = one\nattack = 0.5\nend\n", O::broken},
        {"version 0", "version = 0\nend\n", O::broken},
        {"newer", "version = 2\nattack = 0.5\nend\n", O::newer},
        {"cut after a line", good.substr(0, reverb), O::broken},
        {"cut inside a line", good.substr(0, reverb + 5), O::broken},
        {"text after end", good + "attack = 1\n", O::broken},
        {"a line without =", "version = 1\nattack 0.5\nend\n", O::broken},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const ParsedState parsed = parseState(c.text);
        EXPECT_EQ(parsed.outcome, c.outcome) << parsed.problem;
        EXPECT_EQ(parsed.state, SessionState{});
        // On disk: logged once, the defaults.
        std::string error;
        ASSERT_TRUE(writeFileAtomically(file, c.text, error)) << error;
        test::LogLines log;
        const StateFileContents read = readStateFile(file);
        EXPECT_EQ(read.outcome, StateFileContents::Outcome::unusable);
        EXPECT_EQ(read.state, SessionState{});
        ASSERT_EQ(log.lines.size(), 1u);
        EXPECT_NE(log.lines[0].find("ignoring the saved state"), std::string::npos);
    }
    EXPECT_EQ(parseState(good).outcome, O::ok);
    fs::remove(file);
    EXPECT_EQ(readStateFile(file).outcome, StateFileContents::Outcome::missing);
    fs::create_directories(file);  // a folder where the file should be
    EXPECT_EQ(readStateFile(file).outcome, StateFileContents::Outcome::unusable);
}

TEST_F(SessionTest, ValuesAreClampedToTheControlsRangesOrRefused) {
    const ParsedState parsed = parseState(
        "# written by hand\n"
        "version = 1\n"
        "sample =  /music/odd name .wav\n"
        "play-mode = 7\n"
        "slices = 32\n"
        "attack = -1\n"
        "decay = 9\n"
        "transpose = -99\n"
        "filter = 5\n"
        "delay = abc\n"
        "feedback = nan\n"
        "reverb = +0.25\r\n"
        "control-bar = effects\n"
        "zoom = 100\n"
        "window-x = -40000\n"
        "window-width = 5\n"
        "window-height = 99999\n"
        "colour = red\n"
        "midi.input = Launchpad Mini\n"
        "end\n");
    ASSERT_EQ(parsed.outcome, ParsedState::Outcome::ok) << parsed.problem;
    SessionState want;
    want.sample = "/music/odd name .wav";
    want.playMode = 3;
    want.slicesStep = 4;
    want.attack = 0.0;
    want.decay = 1.0;
    want.transpose = -24;
    want.filter = 2.0;
    want.reverb = 0.25;
    want.controlBar = state::kEffectsBar;
    want.zoom = 8.0;
    want.window = WindowFrame{-32768, std::nullopt, 100, 16384};
    want.others["midi.input"] = "Launchpad Mini";
    EXPECT_EQ(parsed.state, want);
    EXPECT_EQ(parsed.refused, (std::vector<std::string>{"delay", "feedback"}));
    // Every value comes back exactly as written.
    EXPECT_EQ(parseState(formatState(someState())).state, someState());
}

TEST_F(SessionTest, ACrashBetweenWritingAndRenamingLeavesTheOldFile) {
    std::string error;
    ASSERT_TRUE(writeFileAtomically(file, formatState(someState()), error)) << error;
    SessionState next = someState();
    next.playMode = 0;
    EXPECT_EXIT(writeFileAtomically(file, formatState(next), error, [] { std::_Exit(7); }),
                ::testing::ExitedWithCode(7), "");
    EXPECT_EQ(readStateFile(file).state, someState());
    auto count = [&] { return std::distance(fs::directory_iterator(file.parent_path()), {}); };
    EXPECT_EQ(count(), 2);  // the crashed process's temporary, until the next start tidies
    removeStaleTemporaries(file);
    EXPECT_EQ(count(), 1);

    // A write that fails says why and leaves the old file alone.
    const fs::path blocked = dir / "a-file" / "state.conf";
    std::ofstream(dir / "a-file") << "x";
    EXPECT_FALSE(writeFileAtomically(blocked, "text", error));
    EXPECT_NE(error.find("a-file"), std::string::npos);
    EXPECT_FALSE(writeFileAtomically(file / "inside", "text", error));
    EXPECT_EQ(readStateFile(file).state, someState());
}

TEST_F(SessionTest, ChangesAreWrittenAtMostOnceASecondAndFreshStartsWaitForOne) {
    ManualClock clock;
    RunLoop loop(clock);
    std::string error;
    ASSERT_TRUE(writeFileAtomically(file, formatState(someState()), error));
    const std::string saved = readText(file);

    SessionState now = someState();
    {
        StateKeeper keeper(loop, file);
        EXPECT_EQ(keeper.load(false), someState());
        keeper.start([&] { return now; });
        loop.advance(clock, 5.0);
        EXPECT_EQ(keeper.writes(), 0);  // nothing changed
        now.attack = 0.9;  // checks at 6 s, 7 s, ...
        loop.advance(clock, 0.5);
        now.attack = 0.8;
        EXPECT_EQ(keeper.writes(), 0);
        loop.advance(clock, 0.5);
        EXPECT_EQ(keeper.writes(), 1);
        now.reverb = 0.1;
        loop.advance(clock, 0.2);
        now.reverb = 0.2;
        EXPECT_EQ(keeper.writes(), 1);
        loop.advance(clock, 0.8);
        EXPECT_EQ(keeper.writes(), 2);
        EXPECT_EQ(readStateFile(file).state, now);
        now.delay = 0.0;
        keeper.quit();  // a change since the last check is written at once
        EXPECT_EQ(keeper.writes(), 3);
        EXPECT_EQ(readStateFile(file).state, now);
    }

    // --fresh, and a file from a newer Vornik: the file stays until something but the window
    // changes.
    for (const bool fresh : {true, false}) {
        SCOPED_TRACE(fresh ? "fresh" : "newer file");
        const std::string kept = fresh ? saved : "version = 9\nwho = knows\nend\n";
        ASSERT_TRUE(writeFileAtomically(file, kept, error));
        StateKeeper keeper(loop, file);
        now = keeper.load(fresh);
        EXPECT_EQ(now, SessionState{});
        now.window = WindowFrame{0, 0, 800, 300};
        keeper.start([&] { return now; });
        now.window->width = 900;  // the window manager places and sizes it
        loop.advance(clock, 3.0);
        EXPECT_EQ(readText(file), kept);
        now.playMode = 1;
        loop.advance(clock, 1.0);
        EXPECT_EQ(keeper.writes(), 1);
        EXPECT_EQ(readStateFile(file).state, now);
    }
}

TEST_F(SessionTest, ATakeIsKeptUnderItsPermanentName) {
    const fs::path recording = dir / "recording.wav", takes = dir / kTakesFolderName;
    fs::create_directories(takes);
    std::ofstream(recording) << "take two";
    std::ofstream(takes / "recording-1.wav") << "take one";  // same size, other bytes
    EXPECT_EQ(permanentTakePath(recording, recording), recording);  // no copy (yet)
    std::ofstream(takes / "recording-2.wav") << "take two";
    EXPECT_EQ(permanentTakePath(recording, recording), takes / "recording-2.wav");
    EXPECT_EQ(permanentTakePath(dir / "other.wav", recording), dir / "other.wav");
}

TEST_F(SessionTest, TheStateFileFollowsTheBaseDirectories) {
    EXPECT_EQ(stateFilePathFrom("/x/state", "/home/u"), fs::path("/x/state/vornik/state.conf"));
    EXPECT_EQ(stateFilePathFrom("relative", "/home/u"),
              fs::path("/home/u/.local/state/vornik/state.conf"));
    EXPECT_EQ(stateFilePathFrom(nullptr, nullptr), fs::path());
}

}  // namespace
}  // namespace vornik
