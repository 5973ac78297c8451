// The real program in this process, under SDL's offscreen video and dummy audio drivers: it starts
// on the demo sample, takes injected finger, key, mouse and drop events, and quits cleanly.

#include <SDL.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/Application.h"
#include "support/DrawingEnvironment.h"
#include "support/LogLines.h"

namespace vornik {
namespace {

namespace fs = std::filesystem;

[[maybe_unused]] auto* const kDrawing =
    ::testing::AddGlobalTestEnvironment(new test::DrawingEnvironment);

// Sets an environment variable for the scope of a test.
class ScopedEnv {
public:
    // Sets it, or removes it when `value` is empty.
    ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value) {
            ::setenv(name, value->c_str(), 1);
        } else {
            ::unsetenv(name);
        }
    }
    ~ScopedEnv() {
        if (old_) {
            ::setenv(name_, old_->c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

fs::path sourceDir() {
    const char* source = std::getenv("VORNIK_SOURCE_DIR");
    return source ? fs::path(source) : fs::current_path();
}

void push(SDL_Event event) { ASSERT_EQ(SDL_PushEvent(&event), 1) << SDL_GetError(); }

void pushFinger(Uint32 window, Uint32 type, SDL_FingerID id, float x, float y) {
    SDL_Event e{};
    e.tfinger.type = type;
    e.tfinger.windowID = window;
    e.tfinger.touchId = 1;
    e.tfinger.fingerId = id;
    e.tfinger.x = x;
    e.tfinger.y = y;
    push(e);
}

void pushKey(Uint32 window, Uint32 type, SDL_Keycode key, Uint16 mod = KMOD_NONE) {
    SDL_Event e{};
    e.key.type = type;
    e.key.windowID = window;
    e.key.state = type == SDL_KEYDOWN ? SDL_PRESSED : SDL_RELEASED;
    e.key.keysym.sym = key;
    e.key.keysym.mod = mod;
    push(e);
}

void pushButton(Uint32 window, Uint32 type, int x, int y) {
    SDL_Event e{};
    e.button.type = type;
    e.button.windowID = window;
    e.button.button = SDL_BUTTON_LEFT;
    e.button.state = type == SDL_MOUSEBUTTONDOWN ? SDL_PRESSED : SDL_RELEASED;
    e.button.x = x;
    e.button.y = y;
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
    void SetUp() override {
        home = fs::temp_directory_path() / ("vornik-app-" + std::to_string(::getpid()));
        fs::create_directories(home / "Documents");
        // A recording goes to this test's documents folder, not the user's.
        homeEnv.emplace("HOME", home.string());
        xdgEnv.emplace("XDG_CONFIG_HOME", (home / "config").string());
    }
    void TearDown() override {
        homeEnv.reset();
        xdgEnv.reset();
        fs::remove_all(home);
    }

    fs::path home;
    std::optional<ScopedEnv> homeEnv, xdgEnv;
    ScopedEnv appearance{"VORNIK_APPEARANCE", "light"};
    // SDL's software renderer, without a GL texture behind the window: the GL driver keeps small
    // allocations and unloads itself before the leak checker could name it. The picture is the
    // same.
    ScopedEnv renderDriver{"SDL_RENDER_DRIVER", "software"};
    ScopedEnv framebuffer{"SDL_FRAMEBUFFER_ACCELERATION", "0"};
};

TEST_F(ApplicationRunTest, StartsOnTheDemoSampleTakesEventsAndQuits) {
    const fs::path demo = sourceDir() / "assets" / "demo.wav";
    ASSERT_TRUE(fs::exists(demo));
    const fs::path dropped = home / "dropped.wav";
    fs::copy_file(demo, dropped);
    std::ofstream(home / "notes.txt") << "not audio";

    ApplicationOptions options;
    options.file = demo.string();
    options.frames = 200;  // a safety net: the hook quits long before
    Application app(options);

    std::vector<std::pair<TouchPhase, TouchId>> touches;
    app.setTouchLog(
        [&](TouchPhase phase, const Touch& t) { touches.emplace_back(phase, t.identity); });

    struct Seen {
        int voices = 0;
        bool instrument = false, loaded = false, controlsShown = false, backToInstrument = false;
        int transposeAfterDrop = -99;
        double stepperAfterDrop = -99;
        std::size_t filesAfterDrop = 0, filesAfterRefusals = 0;
        std::size_t heldAfterShiftClick = 0, touchesAfterFocusLoss = 99;
        bool recordingAfterR = false, recordingAfterSecondR = true;
        fs::path recordURL;
        int stripWidth = 0, stripHeight = 0;
    } seen;

    test::LogLines log;
    app.setFrameHook([&](Application& a, int frame) {
        const Uint32 w = a.windowID();
        MainView* view = a.mainView();
        switch (frame) {
            case 0:
                seen.instrument = view != nullptr && a.currentBar() == 0;
                // A finger down, along and up on the strip (the bottom 60 of 560 units).
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
                seen.loaded = view->hasAudioFile();
                pushFinger(w, SDL_FINGERDOWN, 13, 0.6f, 0.97f);
                break;
            case 4:  // a short press of space: the controls bar (the finger is lifted)
                seen.voices = view->activePlayheads();
                pushKey(w, SDL_KEYDOWN, SDLK_SPACE);
                pushKey(w, SDL_KEYUP, SDLK_SPACE);
                break;
            case 6:
                seen.controlsShown = a.currentBar() == 1;
                // Transposed up a fifth, then a drop: back to "original".
                if (const auto& stepper = a.controller().transposeStepper()) stepper->setValue(7);
                view->setTranspose(7);
                pushDrop(w, {dropped.string()});
                break;
            case 8:
                seen.transposeAfterDrop = view->transpose();
                if (const auto& stepper = a.controller().transposeStepper()) {
                    seen.stepperAfterDrop = stepper->value();
                }
                seen.filesAfterDrop = a.loadedFiles().size();
                pushDrop(w, {dropped.string(), demo.string()});  // two: refused
                pushDrop(w, {(home / "notes.txt").string()});    // not audio: refused
                break;
            case 10:
                seen.filesAfterRefusals = a.loadedFiles().size();
                pushKey(w, SDL_KEYDOWN, SDLK_SPACE);  // back to the instrument
                pushKey(w, SDL_KEYUP, SDLK_SPACE);
                break;
            case 12: {
                seen.backToInstrument = a.currentBar() == 0;
                // Shift-click on the strip: a held mouse finger.
                SDL_SetModState(KMOD_LSHIFT);
                pushButton(w, SDL_MOUSEBUTTONDOWN, 300, 545);
                pushButton(w, SDL_MOUSEBUTTONUP, 300, 545);
                break;
            }
            case 14: {
                SDL_SetModState(KMOD_NONE);
                seen.heldAfterShiftClick = a.stripInput().heldFingers().size();
                SDL_Event e{};
                e.window.type = SDL_WINDOWEVENT;
                e.window.windowID = w;
                e.window.event = SDL_WINDOWEVENT_FOCUS_LOST;
                push(e);
                break;
            }
            case 16:
                seen.touchesAfterFocusLoss = a.stripInput().touchCount();
                pushKey(w, SDL_KEYDOWN, SDLK_r);  // record
                pushKey(w, SDL_KEYUP, SDLK_r);
                pushKey(w, SDL_KEYDOWN, SDLK_r, KMOD_LSHIFT);  // capital R: nothing
                pushKey(w, SDL_KEYUP, SDLK_r, KMOD_LSHIFT);
                break;
            case 18:
                seen.recordingAfterR = view->recording();
                break;
            case 40:  // about half a second later: stop
                pushKey(w, SDL_KEYDOWN, SDLK_r);
                pushKey(w, SDL_KEYUP, SDLK_r);
                break;
            case 42: {
                seen.recordingAfterSecondR = view->recording();
                seen.recordURL = view->recordURL();
                seen.stripWidth = a.stripImage().width();
                seen.stripHeight = a.stripImage().height();
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
    EXPECT_TRUE(seen.instrument);
    EXPECT_TRUE(seen.loaded);
    EXPECT_GE(seen.voices, 1);  // the strip's finger reached the instrument
    EXPECT_TRUE(seen.controlsShown);
    EXPECT_EQ(seen.transposeAfterDrop, 0);
    EXPECT_EQ(seen.stepperAfterDrop, 0.0);
    EXPECT_EQ(seen.filesAfterDrop, 2u);  // the demo at start, then the drop
    EXPECT_EQ(seen.filesAfterRefusals, 2u);
    EXPECT_TRUE(seen.backToInstrument);
    EXPECT_EQ(seen.heldAfterShiftClick, 1u);
    EXPECT_EQ(seen.touchesAfterFocusLoss, 0u);
    EXPECT_TRUE(seen.recordingAfterR);
    EXPECT_FALSE(seen.recordingAfterSecondR);
    EXPECT_EQ(seen.stripWidth, 1000);
    EXPECT_EQ(seen.stripHeight, 60);
    EXPECT_EQ(app.framesRun(), 43);  // quit by the event, not the frame limit
    EXPECT_GE(app.framesPresented(), 1);
    EXPECT_EQ(app.loadedFiles().front(), demo.string());
    // The recording went to this test's home (the documents folder there), and was made.
    EXPECT_EQ(seen.recordURL.string().rfind(home.string(), 0), 0u) << seen.recordURL;
    EXPECT_TRUE(fs::exists(seen.recordURL)) << seen.recordURL;

    // The finger: began, moved, ended with one identity; the held mouse finger began and was
    // cancelled with focus.
    ASSERT_EQ(touches.size(), 7u);
    EXPECT_EQ(touches[0].first, TouchPhase::Began);
    EXPECT_EQ(touches[1].first, TouchPhase::Moved);
    EXPECT_EQ(touches[2].first, TouchPhase::Ended);
    EXPECT_EQ(touches[0].second, touches[2].second);
    EXPECT_EQ(touches[3].first, TouchPhase::Began);  // the playing finger, lifted by the switch
    EXPECT_EQ(touches[4].first, TouchPhase::Cancelled);
    EXPECT_EQ(touches[4].second, touches[3].second);
    EXPECT_EQ(touches[5].first, TouchPhase::Began);  // the held mouse finger, lifted with focus
    EXPECT_EQ(touches.back().first, TouchPhase::Cancelled);
    EXPECT_EQ(touches.back().second, touches[5].second);

    int refusals = 0;
    for (const auto& line : log.lines) refusals += line.find("drop refused") != std::string::npos;
    EXPECT_EQ(refusals, 2);
}

TEST_F(ApplicationRunTest, WritesItsPictureAndStopsAtTheFrameLimit) {
    ApplicationOptions options;
    options.frames = 3;
    options.zoom = 1.0;
    options.screenshot = (home / "shot.png").string();
    Application app(options);
    EXPECT_EQ(app.run(), 0);
    EXPECT_EQ(app.framesRun(), 3);
    const auto shot = Image::loadPng(options.screenshot);
    ASSERT_TRUE(shot);
    EXPECT_EQ(shot->width(), 1000);
    EXPECT_EQ(shot->height(), 530);  // the picture and a strip of 30 points at zoom 1
    // The light picture's background at the top, the strip black at the bottom.
    EXPECT_GT(shot->pixel(5, 5).r, 200);
    EXPECT_EQ(shot->pixel(5, 525), (Rgba8{0, 0, 0, 255}));
    EXPECT_EQ(app.appearance(), Appearance::Light);
}

TEST_F(ApplicationRunTest, ResizingTheWindowResizesTheStrip) {
    ApplicationOptions options;
    options.frames = 8;
    options.zoom = 3.0;
    Application app(options);
    int before = 0, after = 0;
    double instrumentWidth = 0.0;
    std::vector<TouchPhase> phases;
    app.setTouchLog([&](TouchPhase phase, const Touch&) { phases.push_back(phase); });
    app.setFrameHook([&](Application& a, int frame) {
        if (frame == 2) {
            before = a.stripImage().width();
            SDL_SetWindowSize(a.window(), 600, 300);
        }
        if (frame == 4) {
            // The strip is now the bottom 90 units of 300: a click at y 250 is on it.
            pushButton(a.windowID(), SDL_MOUSEBUTTONDOWN, 300, 250);
            pushButton(a.windowID(), SDL_MOUSEBUTTONUP, 300, 250);
        }
        if (frame == 6) {
            after = a.stripImage().width();
            instrumentWidth = a.mainView()->touchBarSize().x;
        }
    });
    EXPECT_EQ(app.run(), 0);
    EXPECT_EQ(before, 1000);  // the starting window (the offscreen screen is 1024 wide)
    EXPECT_EQ(after, 600);    // 200 points at zoom 3
    EXPECT_DOUBLE_EQ(instrumentWidth, 200.0);
    EXPECT_EQ(phases, (std::vector<TouchPhase>{TouchPhase::Began, TouchPhase::Ended}));
}

TEST_F(ApplicationRunTest, SwitchingBarsLiftsTheStripsFingers) {
    ApplicationOptions options;
    options.frames = 7;
    Application app(options);
    std::vector<TouchPhase> phases;
    app.setTouchLog([&](TouchPhase phase, const Touch&) { phases.push_back(phase); });
    std::size_t heldBefore = 0, heldAfter = 9;
    int bar = -1;
    app.setFrameHook([&](Application& a, int frame) {
        if (frame == 1) {
            SDL_SetModState(KMOD_LSHIFT);
            pushButton(a.windowID(), SDL_MOUSEBUTTONDOWN, 300, 545);
            pushButton(a.windowID(), SDL_MOUSEBUTTONUP, 300, 545);
        }
        if (frame == 3) {
            SDL_SetModState(KMOD_NONE);
            heldBefore = a.stripInput().heldFingers().size();
            pushKey(a.windowID(), SDL_KEYDOWN, SDLK_SPACE);
            pushKey(a.windowID(), SDL_KEYUP, SDLK_SPACE);
        }
        if (frame == 5) {
            heldAfter = a.stripInput().heldFingers().size();
            bar = a.currentBar();
        }
    });
    EXPECT_EQ(app.run(), 0);
    EXPECT_EQ(heldBefore, 1u);
    EXPECT_EQ(heldAfter, 0u);
    EXPECT_EQ(bar, 1);
    EXPECT_EQ(phases, (std::vector<TouchPhase>{TouchPhase::Began, TouchPhase::Cancelled}));
}

TEST_F(ApplicationRunTest, NoDisplayIsAClearFailure) {
    {
        ScopedEnv driver("SDL_VIDEODRIVER", "no-such-driver");
        test::LogLines log;
        Application app(ApplicationOptions{});
        EXPECT_EQ(app.run(), kExitNoDisplay);
        ASSERT_FALSE(log.lines.empty());
        EXPECT_NE(log.lines.back().find("no display available"), std::string::npos);
        EXPECT_EQ(app.mainView(), nullptr);
    }
    {
        // Nothing to show a window on: SDL would fall back to drawing nowhere.
        ScopedEnv driver("SDL_VIDEODRIVER", std::nullopt);
        ScopedEnv x11("DISPLAY", std::nullopt);
        ScopedEnv wayland("WAYLAND_DISPLAY", std::nullopt);
        ScopedEnv runtime("XDG_RUNTIME_DIR", home.string());
        test::LogLines log;
        ApplicationOptions options;
        options.frames = 1;
        Application app(options);
        EXPECT_EQ(app.run(), kExitNoDisplay);
        ASSERT_FALSE(log.lines.empty());
        EXPECT_NE(log.lines.back().find("no display available"), std::string::npos);
    }
}

}  // namespace
}  // namespace vornik
