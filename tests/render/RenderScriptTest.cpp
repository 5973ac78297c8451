#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "RenderSupport.h"

using vornik::test::RenderDir;
using vornik::test::RenderRun;

TEST(RenderScript, FaultsStopWithTheLineNumberAndAGoodScriptGivesTheSameBytes) {
    RenderDir dir;
    struct Case {
        std::string script, message;
    } cases[] = {
        {"length 1\n# fine\nat 0 wiggle 3\n", ":3: unknown command \"wiggle\""},
        {"length 1\nat 0.5x down 1 20\n", ":2: bad number for time"},
        {"length 1\nat 0 down 1 nan\n", ":2: bad number for x"},
        {"length 1\nat 0 load nowhere.wav\n", ":2: missing file"},
        {"length 1\nat 0 set mode 4\n", ":2: mode takes a whole number from 0 to 3"},
        {"length 1\nat 0 set volume 1\n", ":2: unknown control \"volume\""},
        {"length 1\nat 0 key q down\n", ":2: unknown key \"q\""},
        {"at 0 up 1\nstrip 800 30\n", ":2: \"strip\" must come before any event"},
        {"length -2\n", ":1: length must be from 0"},
        {"strip 1e12 30\n", ":1: the strip is from 100 to 16000 points wide"},
        {"strip 1000 0.5\n", ":1: the strip is from"},
        {"length 1\nat 0 midi 90 2G 7F\n", ":2: bad MIDI byte \"2G\""},
        {"length 1\nat 0 midi 90\n", ":2: expected \"at T midi B1 B2 [B3]\""},
    };
    for (const Case& c : cases) {
        const RenderRun r = dir.run(c.script);
        EXPECT_EQ(r.exitCode, 2) << c.script;
        EXPECT_NE(r.errors.find(c.message), std::string::npos) << r.errors;
        EXPECT_TRUE(r.mix.empty());  // nothing was rendered
    }
    EXPECT_EQ(dir.run("length 1\n", "--input nowhere.wav").exitCode, 2);

    // A good script: the same bytes on every run, and the state dumped.
    dir.writeSample("tone.wav", 48000, [](int i) { return 0.5f * std::sin(i * 0.05f); });
    const std::string script =
        "strip 1085 30\nlength 0.5\nat 0 load tone.wav\nat 0.05 set filter 0.5\n"
        "at 0.05 set reverb 0.4\nat 0.3 press effects\nat 0.45 dump state.json\n";
    const RenderRun a = dir.run(script), b = dir.run(script);
    ASSERT_EQ(a.exitCode, 0) << a.errors;
    ASSERT_EQ(a.mix.size(), 24000u * 2);
    EXPECT_EQ(a.mix, b.mix);

    const std::string json = vornik::test::readText(dir.path() / "state.json");
    EXPECT_NE(json.find("\"fileBufferLength\": 48000"), std::string::npos) << json;
    EXPECT_NE(json.find("\"currentBar\": 2"), std::string::npos) << json;
}

TEST(RenderScript, RemovesOnlyTheFolderItMade) {
    RenderDir dir;
    const auto tmp = dir.path() / "tmp";
    std::filesystem::create_directory(tmp);
    std::ofstream(tmp / "keep.txt") << "the user's";
    const char* was = std::getenv("TMPDIR");
    const std::string saved = was ? was : "";
    setenv("TMPDIR", tmp.c_str(), 1);
    // A short press of r records until the end: the take lands in the tool's own folder.
    const RenderRun recorded = dir.run("length 0.2\nat 0 key r down\nat 0.05 key r up\n");
    setenv("TMPDIR", "/nonexistent", 1);
    const RenderRun refused = dir.run("length 0.2\n");
    was ? setenv("TMPDIR", saved.c_str(), 1) : unsetenv("TMPDIR");

    EXPECT_EQ(recorded.exitCode, 0) << recorded.errors;
    std::vector<std::filesystem::path> left;
    for (const auto& e : std::filesystem::directory_iterator(tmp)) left.push_back(e.path());
    EXPECT_EQ(left, std::vector{tmp / "keep.txt"});  // the user's file stays; ours is gone
    EXPECT_EQ(refused.exitCode, 2);
    EXPECT_NE(refused.errors.find("cannot make a temporary folder in /nonexistent"),
              std::string::npos)
        << refused.errors;
}
