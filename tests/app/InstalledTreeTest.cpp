// An installed tree: `cmake --install` into a temporary prefix puts every file where the desktop
// looks for it, and the installed program, run from elsewhere, finds its own pictures and guide.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/Desktop.h"
#include "display/Image.h"
#include "support/Files.h"

namespace vornik {
namespace {

namespace fs = std::filesystem;

std::string quoted(const fs::path& p) {
    std::string s(1, '\'');
    s += p.string();
    s += '\'';
    return s;
}

TEST(InstalledTreeTest, InstallsEverythingAndRunsFromThePrefix) {
    const char* build = std::getenv("VORNIK_BUILD_DIR");
    const char* source = std::getenv("VORNIK_SOURCE_DIR");
    ASSERT_TRUE(build && source);
    test::TempDir dir;
    const fs::path& prefix = dir.path();
    const std::string install =
        "cmake --install " + quoted(build) + " --prefix " + quoted(prefix) + " > /dev/null";
    ASSERT_EQ(std::system(install.c_str()), 0);

    const fs::path icons = prefix / "share/icons/hicolor";
    for (const fs::path& file :
         {prefix / "bin/vornik", prefix / "share/applications/org.vornik.Vornik.desktop",
          prefix / "share/metainfo/org.vornik.Vornik.metainfo.xml",
          icons / "48x48/apps/org.vornik.Vornik.png", icons / "128x128/apps/org.vornik.Vornik.png",
          icons / "256x256/apps/org.vornik.Vornik.png",
          icons / "scalable/apps/org.vornik.Vornik.svg", prefix / "share/man/man1/vornik.1",
          prefix / "share/doc/vornik/user-guide.html", prefix / "share/vornik/assets/demo.wav"}) {
        EXPECT_TRUE(fs::is_regular_file(file)) << file;
    }
    // The desktop entry names its icon and window by the application id.
    const std::string text =
        test::readText(prefix / "share/applications/org.vornik.Vornik.desktop");
    for (const char* line :
         {"\nIcon=org.vornik.Vornik\n", "\nStartupWMClass=org.vornik.Vornik\n"}) {
        EXPECT_NE(text.find(line), std::string::npos) << line;
    }
    // The guide beside the assets, installed and in the checkout.
    EXPECT_EQ(findUserGuide(prefix / "share/vornik/assets"),
              prefix / "share/doc/vornik/user-guide.html");
    EXPECT_EQ(findUserGuide(fs::path(source) / "assets"),
              fs::path(source) / "docs/user-guide.html");

    // Run from the prefix with the dark picture swapped for the light one: the light one shows,
    // so the installed file was loaded (a drawn picture would be dark).
    const fs::path assets = prefix / "share/vornik/assets";
    fs::copy_file(assets / "Window Background.png", assets / "Window Background Dark.png",
                  fs::copy_options::overwrite_existing);
    const std::string run = "cd " + quoted(prefix) +
                            " && env -u VORNIK_ASSETS VORNIK_APPEARANCE=dark XDG_STATE_HOME=" +
                            quoted(prefix / "state") +
                            " "
                            "ASAN_OPTIONS=detect_leaks=0 SDL_RENDER_DRIVER=software "
                            "./bin/vornik --frames 2 --screenshot shot.png 2> /dev/null";
    ASSERT_EQ(std::system(run.c_str()), 0);
    const auto shot = Image::loadPng((prefix / "shot.png").string());
    ASSERT_TRUE(shot);
    EXPECT_GT(shot->pixel(5, 5).r, 200);
}

}  // namespace
}  // namespace vornik
