// The window's plain parts: the command line, the appearance decision, where the picture lies,
// the link button's strict hit test and fades, and the status line's texts and times.

#include <gtest/gtest.h>

#include <tuple>
#include <utility>

#include "app/AppConstants.h"
#include "app/Appearance.h"
#include "app/CommandLine.h"
#include "app/StatusLine.h"
#include "app/WindowPicture.h"
#include "display/Transaction.h"
#include "support/LogLines.h"

namespace vornik {
namespace {

using Args = std::vector<std::string>;

TEST(ApplicationCommandLineTest, OptionsAndWrongCommandLines) {
    const CommandLine plain = parseCommandLine(Args{});
    EXPECT_EQ(plain.action, CommandLine::Action::Run);
    EXPECT_DOUBLE_EQ(plain.options.zoom, 2.0);
    const CommandLine line =
        parseCommandLine(Args{"--zoom=1.5", "--frames", "120", "--screenshot", "s.png", "a.wav"});
    EXPECT_EQ(line.options.file, "a.wav");
    EXPECT_DOUBLE_EQ(line.options.zoom, 1.5);
    EXPECT_EQ(line.options.frames, 120);
    EXPECT_EQ(line.options.screenshot, "s.png");
    EXPECT_DOUBLE_EQ(parseCommandLine(Args{"song.wav", "--zoom", "3"}).options.zoom, 3.0);
    EXPECT_EQ(parseCommandLine(Args{"--", "--odd.wav"}).options.file, "--odd.wav");
    const ApplicationOptions jack = parseCommandLine(Args{"--audio", "jack", "--client-name", "v2",
                                                          "--no-connect", "--buffer", "4096"})
                                        .options;
    EXPECT_EQ(jack.audio, AudioChoice::Jack);
    EXPECT_EQ(jack.clientName, "v2");
    EXPECT_FALSE(jack.connect);
    EXPECT_EQ(jack.bufferFrames * plain.options.bufferFrames, 4096 * 64);
    EXPECT_EQ(parseCommandLine(Args{"--audio=sdl"}).options.audio, AudioChoice::Sdl);
    EXPECT_EQ(plain.options.audio, AudioChoice::Auto);
    EXPECT_EQ(parseCommandLine(Args{"x.wav", "--help"}).action, CommandLine::Action::Help);
    EXPECT_EQ(parseCommandLine(Args{"--version"}).action, CommandLine::Action::Version);
    const CommandLine midi = parseCommandLine(Args{"--midi", "Launch", "--midi-channel=10"});
    EXPECT_EQ(midi.options.midi + std::to_string(midi.options.midiChannel), "Launch10");
    EXPECT_EQ(plain.options.midi, "all");
    EXPECT_NE(usageText().find("vornik [FILE] [--zoom N] [--fresh] [--midi none|all|NAME]"),
              std::string::npos);
    EXPECT_NE(usageText().find("[--audio auto|jack|sdl]"), std::string::npos);
    EXPECT_NE(usageText().find("Ctrl+Q quits"), std::string::npos);
    for (const Args& args :
         {Args{"--zoom"}, Args{"--zoom", "0"}, Args{"--zoom", "2x"}, Args{"--frames", "-1"},
          Args{"--loud"}, Args{"--midi"}, Args{"--midi-channel", "0"}, Args{"--midi-channel", "17"},
          Args{"--audio", "alsa"}, Args{"--client-name="}, Args{"--buffer", "15"},
          Args{"--buffer", "4097"}}) {
        const CommandLine c = parseCommandLine(args);
        EXPECT_EQ(c.action, CommandLine::Action::Error) << args[0];
        EXPECT_FALSE(c.error.empty());
    }
    EXPECT_NE(parseCommandLine(Args{"a.wav", "b.wav"}).error.find("one file"), std::string::npos);
}

TEST(ApplicationAppearanceTest, OverrideThenColourSchemeThenThemeThenLight) {
    const std::pair<DesktopPreferences, Appearance> cases[] = {
        {{}, Appearance::Light},
        {{"LIGHT", "prefer-dark", "Adwaita-dark"}, Appearance::Light},
        {{"", "prefer-light", "Adwaita-dark"}, Appearance::Light},
        {{"", "default", "Adwaita-dark"}, Appearance::Dark},
        {{"", "", "Adwaita:dark"}, Appearance::Dark}};  // GTK_THEME's form
    for (const auto& [settings, expected] : cases) EXPECT_EQ(appearanceFrom(settings), expected);
    test::LogLines log;
    EXPECT_EQ(appearanceFrom({"purple", "prefer-dark", ""}), Appearance::Dark);
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_NE(log.lines[0].find("purple"), std::string::npos);
}

TEST(ApplicationWindowTest, WindowWidthPictureAndLinkButton) {
    const Size picture{app::kPictureWidth, app::kPictureHeight};
    const PictureLayout start({1000.0, 560.0}, 60.0, picture);
    EXPECT_EQ(start.pictureRect(), Rect::make(0, 0, 1000, 500));
    // Window units (y down) to picture points (y up): the bottom-left corner above the strip.
    EXPECT_EQ(start.toPicture(250.0, 484.0), (Point{250.0, 16.0}));
    // Twice as wide: the picture keeps its proportions, centred.
    const PictureLayout wide({2000.0, 560.0}, 60.0, picture);
    EXPECT_EQ(wide.pictureRect(), Rect::make(500, 0, 1000, 500));
    EXPECT_EQ(wide.toPicture(750.0, 484.0), (Point{250.0, 16.0}));
    // Half the size, with a taller strip.
    const PictureLayout small({500.0, 370.0}, 120.0, picture);
    EXPECT_DOUBLE_EQ(small.scale(), 0.5);
    EXPECT_EQ(small.toPicture(125.0, 250.0 - 8.0), (Point{250.0, 16.0}));
    // No picture: the whole space, nothing maps to it.
    const PictureLayout none({800.0, 600.0}, 60.0, {0.0, 0.0});
    EXPECT_EQ(none.pictureRect(), Rect::make(0, 0, 800, 540));
    // Unknown or wide screens: 1085 points; else 95% of the screen, but no narrower than the
    // picture unless the screen is.
    for (auto [zoom, screen, width] : {std::tuple{2.0, 0, 2170},
                                       {2.0, 1920, 1824},
                                       {1.0, 1920, 1085},
                                       {2.0, 1024, 1000},
                                       {2.0, 800, 800}}) {
        EXPECT_EQ(defaultWindowWidth(zoom, screen), width) << zoom << " " << screen;
    }
    // The link button: strict edges and fades.
    ManualClock clock;
    ScopedLayerClock layerClock(clock);
    LinkButton link(Appearance::Light, app::kPictureWidth);
    const Layer& layer = *link.layer();
    EXPECT_EQ(layer.backgroundColor(), Color::white(0.0, 0.07));
    // The button spans x 172..328 and y 6..26; its edges are outside.
    for (const auto& [x, y, hit] : {std::tuple{172.0, 16.0, false},
                                    {173.0, 16.0, true},
                                    {328.0, 16.0, false},
                                    {250.0, 26.0, false},
                                    {250.0, 25.0, true}}) {
        EXPECT_EQ(static_cast<bool>(hitTestLayer(layer, {x, y})), hit) << x << ", " << y;
    }
    layer.markPresented();  // on screen: changes fade, in 0.2 s
    link.mouseMoved({172.0, 16.0});
    EXPECT_EQ(layer.opacity(), 0.0f);
    link.mouseMoved({173.0, 16.0});
    clock.advance(0.1);
    EXPECT_NEAR(layer.presentationOpacity(clock.now()), 0.5f, 0.05f);
    // A click: only on the button, and it hides it.
    EXPECT_FALSE(link.mouseDown({250.0, 30.0}));
    EXPECT_EQ(layer.opacity(), 1.0f);
    EXPECT_TRUE(link.mouseDown({250.0, 16.0}));
    EXPECT_EQ(layer.opacity(), 0.0f);
    Transaction::flush();
    // Dark: white at 0.09. Without a picture the button sits at (0, 16).
    LinkButton dark(Appearance::Dark, 0.0);
    EXPECT_EQ(dark.layer()->backgroundColor(), Color::white(1.0, 0.09));
    EXPECT_EQ(dark.layer()->position(), (Point{0.0, 16.0}));
}

TEST(ApplicationWindowTest, StatusLineMessagesLastFiveSecondsAndARecordingUntilCleared) {
    StatusLine line;
    EXPECT_TRUE(line.update(0.0));  // drawn once at the start
    EXPECT_FALSE(line.update(0.0));
    const std::string empty = "Cannot open \"a.wav\": the file is empty";
    const struct {
        double at;
        std::string text;  // none: only time passes
        StatusKind kind;
        std::string shown;  // after update(at)
    } steps[] = {
        {10.0, empty, StatusKind::warning, empty},
        {14.9, "", StatusKind::info, empty},
        {15.0, "", StatusKind::info, ""},  // five seconds later
        {20.0, "Recording 0:00", StatusKind::recording, "Recording 0:00"},
        {90.0, "", StatusKind::warning, "Recording 0:00"},  // clears only its own kind
        {96.0, "", StatusKind::recording, ""},
        {97.0, "Recording 0:01", StatusKind::recording, "Recording 0:01"},
        {98.0, "Saved", StatusKind::info, "Saved"},  // replaced
        {102.9, "", StatusKind::info, "Saved"},
        {103.0, "", StatusKind::info, ""},
    };
    std::string before;
    for (const auto& s : steps) {
        if (!s.text.empty() || s.kind != StatusKind::info) line.show(s.text, s.kind, s.at);
        const bool changed = line.update(s.at);
        EXPECT_EQ(line.message(), s.shown) << s.at;
        EXPECT_EQ(changed, s.shown != before) << s.at;
        before = s.shown;
    }
    EXPECT_EQ(describeSample("a.wav", 132300, 2, 44100.0),
              "a.wav  \xc2\xb7  3.0 s  \xc2\xb7  stereo  \xc2\xb7  44.1 kHz");
    EXPECT_EQ(describeSample("b.flac", 48000 * 754, 1, 48000.0),
              "b.flac  \xc2\xb7  12:34  \xc2\xb7  mono  \xc2\xb7  48 kHz");
    EXPECT_EQ(describeSample("c.wav", 100, 4, 22050.0).find("0.00 s  \xc2\xb7  4 channels"), 11u);
}

}  // namespace
}  // namespace vornik
