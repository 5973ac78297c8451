// The real program in this process, under SDL's offscreen video and dummy audio drivers: it starts
// on the demo sample, takes injected finger, key, mouse and drop events, and quits cleanly.

#include <SDL.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "app/Application.h"
#include "base/Status.h"
#include "support/DrawingEnvironment.h"
#include "support/Files.h"
#include "support/LogLines.h"
#include "support/ScopedEnv.h"

namespace vornik {
namespace {

namespace fs = std::filesystem;

using test::ScopedEnv;

void push(SDL_Event event) { ASSERT_EQ(SDL_PushEvent(&event), 1) << SDL_GetError(); }

void pushFinger(Uint32 window, Uint32 type, SDL_FingerID id, float x, float y) {
    SDL_Event e{};
    e.tfinger = {type, 0, 1, id, x, y, 0, 0, 0, window};
    push(e);
}

// A press and release of a key, or of the left button at (x, y) in window units.
void pushKey(Uint32 window, SDL_Keycode key, Uint16 mod = KMOD_NONE) {
    for (Uint8 state : {SDL_PRESSED, SDL_RELEASED}) {
        SDL_Event e{};
        e.key = {state ? SDL_KEYDOWN : SDL_KEYUP, 0, window, state, 0, 0, 0, {{}, key, mod, 0}};
        push(e);
    }
}
void pushClick(Uint32 window, int x, int y) {
    for (Uint8 state : {SDL_PRESSED, SDL_RELEASED}) {
        SDL_Event e{};
        e.button = {state ? SDL_MOUSEBUTTONDOWN : SDL_MOUSEBUTTONUP,
                    0,
                    window,
                    0,
                    SDL_BUTTON_LEFT,
                    state,
                    1,
                    0,
                    x,
                    y};
        push(e);
    }
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
    ApplicationRunTest() { fs::create_directories(home / "Documents"); }

    test::TempDir dir;
    const fs::path& home = dir.path();
    // A recording goes to this test's documents folder, not the user's.
    ScopedEnv homeEnv{"HOME", home.string()};
    ScopedEnv xdgEnv{"XDG_CONFIG_HOME", (home / "config").string()};
    ScopedEnv stateEnv{"XDG_STATE_HOME", (home / "state").string()};
    ScopedEnv noBus{"DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent"};  // no desktop portal
    ScopedEnv appearance{"VORNIK_APPEARANCE", "light"};
    // SDL's software renderer: the GL driver keeps small allocations and unloads itself before
    // the leak checker could name it. The picture is the same.
    ScopedEnv renderDriver{"SDL_RENDER_DRIVER", "software"};
    ScopedEnv framebuffer{"SDL_FRAMEBUFFER_ACCELERATION", "0"};
};

TEST_F(ApplicationRunTest, StartsOnTheDemoSampleTakesEventsAndQuits) {
    const fs::path demo = test::sourcePath("assets/demo.wav");
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
            case 0:  // a finger down, along and up on the strip (the bottom 51 of 560 units: at
                     // 1000 units wide the strip steps down to zoom 1.7, so the bars fit)
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
            case 3:  // the sample is in, cut by "auto slice" at start: a finger plays a slice
                EXPECT_GE(view->slices().size(), 4u);  // auto slices: only of a loaded file
                pushFinger(w, SDL_FINGERDOWN, 13, 0.6f, 0.97f);
                break;
            case 4: {  // one voice, from the slice's start to its end, not the sample's
                const Slice* slice = view->getSliceAtPos(0.6f * view->touchBarSize().x);
                ASSERT_TRUE(slice != nullptr && slice->end < 1.0f);
                const double length = view->audioFileLength();
                int held = 0;
                for (const Playhead& v : view->playheads()) {
                    if (!v.active() || v.touchid() == kNoTouch) continue;
                    held += 1;
                    EXPECT_NEAR(v.frameStart(), slice->pos * length, 2.0);
                    EXPECT_NEAR(v.frameEnd(), slice->end * length, 2.0);
                }
                EXPECT_EQ(held, 1);
                pushKey(w, SDLK_SPACE);  // a short press: the controls bar, lifting the finger
                break;
            }
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
                pushKey(w, SDLK_SPACE);                         // back to the instrument
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
            case 16:  // the Shift-clicked finger stays down (a file chooser took the focus);
                      // a click on it lifts it
                EXPECT_EQ(a.stripInput().touchCount(), 1u);
                EXPECT_EQ(a.controller().mainBar()->trackedTouchCount(), 1u);
                pushClick(w, 300, 545);
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
            case 42: {
                EXPECT_FALSE(view->recording());
                EXPECT_EQ(a.statusLine().message().rfind(
                              "Recording saved: ~/Documents/Vornik takes/recording-", 0),
                          0u);
                recordURL = view->recordURL();
                noChooser.emplace("PATH", home.string());
                pushKey(w, SDLK_o, KMOD_LCTRL);
                break;
            }
            case 44: {
                noChooser.reset();
                EXPECT_EQ(a.statusLine().message().rfind("No file chooser: install zenity", 0), 0u);
                EXPECT_EQ(fs::path(view->samplePath()).parent_path(),
                          home / "Documents" / "Vornik takes");
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
    EXPECT_EQ(app.framesRun(), 45);  // quit by the event, not the frame limit
    EXPECT_GE(app.framesPresented(), 1);
    EXPECT_EQ(app.loadedFiles().size(), 3u);  // the demo, a drop, the broken drop
    EXPECT_EQ(app.loadedFiles().front(), demo.string());
    // The recording was made, in this test's home.
    EXPECT_EQ(recordURL.string().rfind(home.string(), 0), 0u) << recordURL;
    EXPECT_TRUE(fs::exists(recordURL)) << recordURL;

    // The first finger began, moved and ended as one touch; the playing finger was cancelled by
    // the bar switch; the held mouse finger outlived the focus loss until clicked.
    using enum TouchPhase;
    std::vector<TouchPhase> phases;
    for (const auto& t : touches) phases.push_back(t.first);
    ASSERT_EQ(phases, (std::vector{Began, Moved, Ended, Began, Cancelled, Began, Ended}));
    EXPECT_EQ(touches[0].second, touches[2].second);
    EXPECT_EQ(touches[3].second, touches[4].second);
    EXPECT_EQ(touches[5].second, touches[6].second);
    int refusals = 0;
    for (const auto& line : log.lines) refusals += line.find("drop refused") != std::string::npos;
    EXPECT_EQ(refusals, 2);
}

TEST_F(ApplicationRunTest, ComesBackAsItWasLeft) {
    const fs::path loop = home / "loop.wav";
    fs::copy_file(test::sourcePath("assets/demo.wav"), loop);
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
    withFile.midi = "none";
    withFile.midiChannel = 3;
    withFile.midiGiven = true;
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
        EXPECT_EQ(a.midi()->choice(), "none");
        EXPECT_EQ(a.midi()->channel(), 3);
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

    const std::string before = test::readText(stateFile);
    ApplicationOptions fresh;
    fresh.fresh = true;
    start(fresh, [](Application& a) {
        EXPECT_EQ(a.mainView()->playMode(), 0);
        EXPECT_EQ(a.mainView()->reverbWetDryMix(), 0.0f);
    });
    EXPECT_EQ(test::readText(stateFile), before);
}

TEST_F(ApplicationRunTest, WritesItsPictureAndStopsAtTheFrameLimit) {
    ScopedEnv audio("SDL_AUDIODRIVER", "no-such-driver");  // no sound device at start
    ApplicationOptions options;
    options.frames = 3;
    options.zoom = 1.0;
    options.screenshot = (home / "shot.png").string();
    Application app(options);
    app.setFrameHook([](Application& a, int frame) {
        if (frame > 0) return;
        EXPECT_FALSE(a.mainView()->audioDeviceOpen());
        ::setenv("SDL_AUDIODRIVER", "dummy", 1);  // an output is plugged in: the sound is back
        SDL_Event added{};
        added.adevice.type = SDL_AUDIODEVICEADDED;
        push(added);
    });
    EXPECT_EQ(app.run(), 0);
    EXPECT_TRUE(app.mainView()->audioDeviceOpen());
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

TEST_F(ApplicationRunTest, PresentsNothingWhenStillAndOnlyTheStripWhenOnlyItMoves) {
    ApplicationOptions options;
    options.file = test::sourcePath("assets/demo.wav");
    options.frames = 24;
    Application app(options);
    int still = 0;
    app.setFrameHook([&](Application& a, int frame) {
        int w = 0, h = 0;
        SDL_GetWindowSize(a.window(), &w, &h);
        const int stripTop = h - static_cast<int>(std::ceil(30 * a.stripZoom()));
        if (frame == 12) still = a.framesPresented();  // the sample is in and drawn
        if (frame == 20) {
            EXPECT_EQ(a.framesPresented(), still);
            pushFinger(a.windowID(), SDL_FINGERDOWN, 21, 0.6f, 0.97f);  // a cursor appears
        }
        if (frame == 22) {
            EXPECT_GT(a.framesPresented(), still);
            ASSERT_FALSE(a.presentedRects().empty());
            for (const SDL_Rect& r : a.presentedRects()) {
                EXPECT_GE(r.y, stripTop);
                EXPECT_LE(r.y + r.h, h);
                EXPECT_LT(r.w, w);  // the cursor and the slice it lit, not the whole strip
            }
        }
    });
    EXPECT_EQ(app.run(), 0);
    EXPECT_GT(still, 0);
}

TEST_F(ApplicationRunTest, EveryControlFitsAndAnswersOnNarrowWindows) {
    struct Case {
        int width;
        double zoom;
        bool zoomKept;  // the items shrink first; where they cannot, the zoom steps down
    };
    for (const Case c : {Case{800, 2, false}, Case{1000, 2, false}, Case{1520, 2, true},
                         Case{800, 3, false}, Case{1000, 3, false}, Case{1520, 3, false}}) {
        SCOPED_TRACE(testing::Message() << c.width << " units at zoom " << c.zoom);
        ApplicationOptions options;
        options.zoom = c.zoom;
        options.frames = 9;
        Application app(options);
        std::vector<double> values;
        app.setFrameHook([&](Application& a, int frame) {
            WindowController& wc = a.controller();
            const Bar& bar = *wc.mainBar();
            const double z = a.stripZoom();
            if (frame == 0) SDL_SetWindowSize(a.window(), c.width, 400);
            if (frame == 0 || frame == 2) a.showBar(frame == 0 ? 2 : 1);
            if (frame == 2 || frame == 4) {  // the effects bar, then the controls bar
                EXPECT_EQ(z == c.zoom, c.zoomKept) << z;
                EXPECT_NEAR(bar.size().width * z, c.width, 1e-6);
                for (const BarItemPtr& item : bar.items()) {
                    EXPECT_GE(item->frame().minX(), 0.0) << item->identifier();
                    EXPECT_LE(item->frame().maxX(), bar.size().width) << item->identifier();
                }
            }
            // A click on each stepper's left arrow, then on its right one: each steps it.
            if (frame < 4 || frame % 2 == 1) return;
            for (std::size_t i = 0; i < 2; ++i) {
                const Stepper& s = i == 0 ? *wc.transposeStepper() : *wc.slicesStepper();
                if (frame == 4) values.push_back(s.value());
                EXPECT_EQ(s.value(), values[i] - (frame == 6 ? 1 : 0)) << frame;
                const double x = frame == 4 ? s.frame().minX() + 15 : s.frame().maxX() - 15;
                if (frame < 8) pushClick(a.windowID(), int(x * z), int(400 - 15 * z));
            }
        });
        EXPECT_EQ(app.run(), 0);
        EXPECT_EQ(values.size(), 2u);
    }
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
