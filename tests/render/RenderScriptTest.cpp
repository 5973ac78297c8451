// vornik-render end to end: scripts, their faults, and what the instrument does with them.

#include <gtest/gtest.h>

#include <fstream>

#include "RenderSupport.h"

using vornik::test::RenderDir;
using vornik::test::RenderRun;

TEST(RenderScript, FaultsStopBeforeRenderingWithTheLineNumber) {
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
    };
    for (const Case& c : cases) {
        const RenderRun r = dir.run(c.script);
        EXPECT_EQ(r.exitCode, 2) << c.script;
        EXPECT_NE(r.errors.find(c.message), std::string::npos) << r.errors;
        EXPECT_TRUE(r.mix.empty());  // nothing was rendered
    }
    EXPECT_EQ(dir.run("length 1\n", "--input nowhere.wav").exitCode, 2);
}

TEST(RenderScript, SameScriptSameBytesAndStateDump) {
    RenderDir dir;
    dir.writeSample("tone.wav", 48000, [](int i) { return 0.5f * std::sin(i * 0.05f); });
    const std::string script =
        "strip 1085 30\n"
        "length 0.5\n"
        "at 0 load tone.wav\n"
        "at 0.05 set filter 0.5\n"
        "at 0.05 set reverb 0.4\n"
        "at 0.3 press effects\n"
        "at 0.45 dump state.json\n";
    const RenderRun a = dir.run(script), b = dir.run(script);
    ASSERT_EQ(a.exitCode, 0) << a.errors;
    ASSERT_EQ(a.mix.size(), 24000u * 2);
    EXPECT_EQ(a.mix, b.mix);

    std::ifstream dump(dir.path() / "state.json");
    const std::string json((std::istreambuf_iterator<char>(dump)), {});
    EXPECT_NE(json.find("\"fileBufferLength\": 48000"), std::string::npos) << json;
    EXPECT_NE(json.find("\"currentBar\": 2"), std::string::npos) << json;
}
