// The real program in this process, under SDL's offscreen video and dummy audio drivers: it starts
// on the demo sample, takes injected finger, key, mouse and drop events, and quits cleanly.

#include <SDL.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "app/Application.h"
#include "base/Status.h"
#include "support/DrawingEnvironment.h"
#include "support/LogLines.h"

namespace vornik {
namespace {

namespace fs = std::filesystem;

[[maybe_unused]] auto* const kDrawing =
    ::testing::AddGlobalTestEnvironment(new test::DrawingEnvironment);

// Sets an environment variable (or removes it, for nullopt) for its own lifetime.
class ScopedEnv {
public:
    ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        set(value);
    }
    ~ScopedEnv() { set(old_); }

private:
    void set(const std::optional<std::string>& v) {
        v ? ::setenv(name_, v->c_str(), 1) : ::unsetenv(name_);
    }
    const char* name_;
    std::optional<std::string> old_;
};

std::string readText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void push(SDL_Event event) { ASSERT_EQ(SDL_PushEvent(&event), 1) << SDL_GetError(); }

void pushFinger(Uint32 window, Uint32 type, SDL_FingerID id, float x, float y) {
    SDL_Event e{};
    e.tfinger = {type, 0, 1, id, x, y, 0, 0, 0, window};
    push(e);
}

// A press and release of a key, or of the left button at (x, y) in window units.
void pushKey(Uint32 window, SDL_Keycode key, Uint16 mod = KMOD_NONE) {
    SDL_Event e{};
    e.key.windowID = window;
    e.key.keysym.sym = key;
    e.key.keysym.mod = mod;
    for (Uint32 type : {SDL_KEYDOWN, SDL_KEYUP}) {
        e.key.type = type;
        e.key.state = type == SDL_KEYDOWN ? SDL_PRESSED : SDL_RELEASED;
        push(e);
    }
}
void pushClick(Uint32 window, int x, int y) {
    SDL_Event e{};
    e.button = {SDL_MOUSEBUTTONDOWN, 0, window, 0, SDL_BUTTON_LEFT, SDL_PRESSED, 1, 0, x, y};
    push(e);
    e.button.type = SDL_MOUSEBUTTONUP;
    e.button.state = SDL_RELEASED;
    push(e);
}

void pushDrop(Uint32 window, const std::vector<std::string>& files) {
    SDL_Event e{};
    e.drop.windowID = window;
    e.drop.type = SDL_DROPBEGIN;
    push(e);
    for (const std::string& f : files) {
        e.drop.type = SDL_DROPFILE;
        e.drop.file = SDL_strdup(f.c_str());
        push(e);
    }
    e.drop.type = SDL_DROPCOMPLETE;
    e.drop.file = nullptr;
    push(e);
}

class ApplicationRunTest : public ::testing::Test {
protected:
    ~ApplicationRunTest() override { fs::remove_all(home); }

    fs::path home = [] {
        const fs::path dir =
            fs::temp_directory_path() / ("vornik-app-" + std::to_string(::getpid()));
        fs::create_directories(dir / "Documents");
        return dir;
    }();
    // A recording goes to this test's documents folder, not the user's.
    ScopedEnv homeEnv{"HOME", home.string()};
    ScopedEnv xdgEnv{"XDG_CONFIG_HOME", (home / "config").string()};
    ScopedEnv stateEnv{"XDG_STATE_HOME", (home / "state").string()};
    ScopedEnv appearance{"VORNIK_APPEARANCE", "light"};
    // SDL's software renderer: the GL driver keeps small allocations and unloads itself before
    // the leak checker could name it. The picture is the same.
    ScopedEnv renderDriver{"SDL_RENDER_DRIVER", "software"};
    ScopedEnv framebuffer{"SDL_FRAMEBUFFER_ACCELERATION", "0"};
};

TEST_F(ApplicationRunTest, StartsOnTheDemoSampleTakesEventsAndQuits) {
    const char* source = std::getenv("VORNIK_SOURCE_DIR");
    const fs::path demo = (source ? fs::path(source) : fs::current_path()) / "assets" / "demo.wav";
    ASSERT_TRUE(fs::exists(demo));
    const fs::path dropped = home / "dropped.wav";
    fs::copy_file(demo, dropped);
    std::ofstream(home / "notes.txt") << "not audio";
    std::ofstream(home / "broken.wav") << "not audio either";

    ApplicationOptions options;
    options.file = demo.string();
    options.frames = 200;  // a safety net: the script quits long before
    Application app(options);
    std::vector<std::pair<TouchPhase, TouchId>> touches;
    app.setTouchLog(
        [&](TouchPhase phase, const Touch& t) { touches.emplace_back(phase, t.identity); });
    fs::path recordURL;
    std::optional<ScopedEnv> noChooser;  // a PATH without zenity or kdialog
    test::LogLines log;
    // Each frame's checks of the one before and its events; framesRun() proves all ran.
    app.setFrameHook([&](Application& a, int frame) {
        const Uint32 w = a.windowID();
        MainView* view = a.mainView();
        const auto& stepper = a.controller().transposeStepper();
        switch (frame) {
            case 0:  // a finger down, along and up on the strip (the bottom 60 of 560 units)
                ASSERT_NE(view, nullptr);
                EXPECT_EQ(a.currentBar(), 0);
                pushFinger(w, SDL_FINGERDOWN, 11, 0.25f, 0.97f);
                break;
            case 1:
                pushFinger(w, SDL_FINGERMOTION, 11, 0.30f, 0.97f);
                break;
            case 2:
                pushFinger(w, SDL_FINGERUP, 11, 0.30f, 0.97f);
                pushFinger(w, SDL_FINGERDOWN, 12, 0.5f, 0.5f);  // on the picture: not a touch
                break;
            case 3:  // the sample is in: a finger plays a slice
                EXPECT_TRUE(view->hasAudioFile());
                pushFinger(w, SDL_FINGERDOWN, 13, 0.6f, 0.97f);
                break;
            case 4:  // a short press of space: the controls bar, lifting the finger
                EXPECT_GE(view->activePlayheads(), 1);
                pushKey(w, SDLK_SPACE);
                break;
            case 6:  // transposed up a fifth, then a drop: back to "original"
                EXPECT_EQ(a.currentBar(), 1);
                if (stepper) stepper->setValue(7);
                view->setTranspose(7);
                pushDrop(w, {dropped.string()});
                break;
            case 8:
                EXPECT_EQ(view->transpose(), 0);
                EXPECT_EQ(stepper ? stepper->value() : 0.0, 0.0);
                EXPECT_EQ(a.loadedFiles().size(), 2u);           // the demo at start, then the drop
                pushDrop(w, {dropped.string(), demo.string()});  // two: refused
                pushDrop(w, {(home / "notes.txt").string()});    // not audio: refused
                break;
            case 10:
                EXPECT_EQ(a.loadedFiles().size(), 2u);
                EXPECT_EQ(a.statusLine().message(), "Not an audio file: notes.txt");
                pushKey(w, SDLK_SPACE);  // back to the instrument
                pushDrop(w, {(home / "broken.wav").string()});  // cannot be opened: refused
                break;
            case 12:  // shift-click on the strip: a held mouse finger
                EXPECT_EQ(a.currentBar(), 0);
                SDL_SetModState(KMOD_LSHIFT);
                pushClick(w, 300, 545);
                break;
            case 14: {
                SDL_SetModState(KMOD_NONE);
                EXPECT_EQ(a.stripInput().heldFingers().size(), 1u);
                SDL_Event e{};
                e.window.type = SDL_WINDOWEVENT;
                e.window.windowID = w;
                e.window.event = SDL_WINDOWEVENT_FOCUS_LOST;
                push(e);
                break;
            }
            case 16:
                EXPECT_EQ(a.stripInput().touchCount(), 0u);
                EXPECT_EQ(a.statusLine().message(),
                          "Cannot open \"broken.wav\": not an audio file this program can read");
                EXPECT_EQ(a.statusLine().sample().rfind("dropped.wav  \xc2\xb7  3.0 s", 0), 0u);
                pushKey(w, SDLK_r);               // record
                pushKey(w, SDLK_r, KMOD_LSHIFT);  // capital R: nothing
                break;
            case 18:
                EXPECT_TRUE(view->recording());
                break;
            case 40:  // about half a second later: stop
                pushKey(w, SDLK_r);
                break;
            case 42:  // a smaller window: the strip is the bottom 60 of 300 units, 300 points
                EXPECT_FALSE(view->recording());
                EXPECT_EQ(a.statusLine().message().rfind(
                              "Recording saved: ~/Documents/Vornik takes/recording-", 0),
                          0u);
                recordURL = view->recordURL();
                EXPECT_EQ(a.stripImage().width(), 1000);
                EXPECT_EQ(a.stripImage().height(), 60);
                SDL_SetWindowSize(a.window(), 600, 300);
                break;
            case 44:
                pushClick(w, 300, 270);
                noChooser.emplace("PATH", home.string());
                pushKey(w, SDLK_o, KMOD_LCTRL);
                break;
            case 46: {
                noChooser.reset();
                EXPECT_EQ(a.statusLine().message().rfind("No file chooser: install zenity", 0), 0u);
                EXPECT_EQ(a.stripImage().width(), 600);
                EXPECT_DOUBLE_EQ(view->touchBarSize().x, 300.0);
                EXPECT_EQ(fs::path(view->samplePath()).parent_path(), home / "Documents" /
                                                                       "Vornik takes");
                SDL_Event quit{};
                quit.type = SDL_QUIT;
                push(quit);
                break;
            }
            default:
                break;
        }
    });

    EXPECT_EQ(app.run(), 0);
    EXPECT_EQ(app.framesRun(), 47);  // quit by the event, not the frame limit
    EXPECT_GE(app.framesPresented(), 1);
    EXPECT_EQ(app.loadedFiles().size(), 3u);  // the demo, a drop, the broken drop
    EXPECT_EQ(app.loadedFiles().front(), demo.string());
    // The recording was made, in this test's home.
    EXPECT_EQ(recordURL.string().rfind(home.string(), 0), 0u) << recordURL;
    EXPECT_TRUE(fs::exists(recordURL)) << recordURL;

    // The first finger began, moved and ended as one touch; the playing finger and the held
    // mouse finger were cancelled by the bar switch and the focus loss; then the click.
    using enum TouchPhase;
    std::vector<TouchPhase> phases;
    for (const auto& t : touches) phases.push_back(t.first);
    ASSERT_EQ(phases,
              (std::vector{Began, Moved, Ended, Began, Cancelled, Began, Cancelled, Began, Ended}));
    EXPECT_EQ(touches[0].second, touches[2].second);
    EXPECT_EQ(touches[3].second, touches[4].second);
    EXPECT_EQ(touches[5].second, touches[6].second);
    int refusals = 0;
    for (const auto& line : log.lines) refusals += line.find("drop refused") != std::string::npos;
    EXPECT_EQ(refusals, 2);
}

TEST_F(ApplicationRunTest, ComesBackAsItWasLeft) {
    const char* source = std::getenv("VORNIK_SOURCE_DIR");
    const fs::path loop = home / "loop.wav";
    fs::copy_file((source ? fs::path(source) : fs::current_path()) / "assets" / "demo.wav", loop);
    const fs::path stateFile = home / "state" / "vornik" / "state.conf";
    // One start: `act` runs once the startup load is done, then the program quits.
    auto start = [](ApplicationOptions options, const std::function<void(Application&)>& act) {
        options.frames = 60;
        Application app(options);
        app.setFrameHook([&](Application& a, int frame) {
            if (frame != 20) return;
            act(a);
            a.quit();
        });
        EXPECT_EQ(app.run(), 0);
    };
    ApplicationOptions withFile;
    withFile.file = loop.string();
    start(withFile, [](Application& a) {
        WindowController& c = a.controller();
        c.makeItemForIdentifier(items::kPlayModeSelector);
        c.modeSegments()->setSelectedSegment(1);
        c.playModeChanged();
        c.makeItemForIdentifier(items::kReverb);
        c.reverbSlider()->setDoubleValue(0.6);
        c.reverbChanged();
        SDL_SetWindowSize(a.window(), 700, 400);
    });

    start({}, [&](Application& a) {
        EXPECT_EQ(a.mainView()->samplePath(), loop.string());
        EXPECT_TRUE(a.mainView()->hasAudioFile());
        EXPECT_EQ(a.mainView()->playMode(), 1);
        EXPECT_FLOAT_EQ(a.mainView()->reverbWetDryMix(), 60.0f);
        int w = 0, h = 0;
        SDL_GetWindowSize(a.window(), &w, &h);
        EXPECT_EQ(std::pair(w, h), std::pair(700, 400));
    });

    fs::remove(loop);  // gone: said in the window, and the rest comes back
    start({}, [&](Application& a) {
        EXPECT_FALSE(a.mainView()->hasAudioFile());
        EXPECT_EQ(a.mainView()->playMode(), 1);
        EXPECT_NE(a.statusLine().message().find("\"loop.wav\""), std::string::npos)
            << a.statusLine().message();
    });

    const std::string before = readText(stateFile);
    ApplicationOptions fresh;
    fresh.fresh = true;
    start(fresh, [](Application& a) {
        EXPECT_EQ(a.mainView()->playMode(), 0);
        EXPECT_EQ(a.mainView()->reverbWetDryMix(), 0.0f);
    });
    EXPECT_EQ(readText(stateFile), before);
}

TEST_F(ApplicationRunTest, WritesItsPictureAndStopsAtTheFrameLimit) {
    ApplicationOptions options;
    options.frames = 3;
    options.zoom = 1.0;
    options.screenshot = (home / "shot.png").string();
    Application app(options);
    EXPECT_EQ(app.run(), 0);
    EXPECT_EQ(app.framesRun(), 3);
    EXPECT_EQ(app.appearance(), Appearance::Light);
    const auto shot = Image::loadPng(options.screenshot);
    ASSERT_TRUE(shot);
    // The light picture, the status line's 24 units and a black strip of 30 points at zoom 1.
    EXPECT_EQ(shot->width(), 1000);
    EXPECT_EQ(shot->height(), 554);
    EXPECT_GT(shot->pixel(5, 5).r, 200);
    EXPECT_EQ(shot->pixel(5, 549), (Rgba8{0, 0, 0, 255}));
    int ink = 0;  // the status line's text: "No sample: ..." at its left
    for (int x = 0; x < 300; ++x) ink += shot->pixel(x, 512).r < 150;
    EXPECT_GT(ink, 10);
}

TEST_F(ApplicationRunTest, NoDisplayIsAClearFailure) {
    // An unknown driver; and nothing to show a window on, where SDL would draw nowhere.
    for (const bool unknownDriver : {true, false}) {
        ScopedEnv driver("SDL_VIDEODRIVER", unknownDriver
                                                ? std::optional<std::string>("no-such-driver")
                                                : std::nullopt);
        ScopedEnv x11("DISPLAY", std::nullopt);
        ScopedEnv wayland("WAYLAND_DISPLAY", std::nullopt);
        ScopedEnv runtime("XDG_RUNTIME_DIR", home.string());
        test::LogLines log;
        ApplicationOptions options;
        options.frames = 1;
        Application app(options);
        EXPECT_EQ(app.run(), kExitNoDisplay) << unknownDriver;
        ASSERT_FALSE(log.lines.empty());
        EXPECT_NE(log.lines.back().find("no display available"), std::string::npos);
        EXPECT_EQ(app.mainView(), nullptr);
    }
}

}  // namespace
}  // namespace vornik
