#pragma once
// The program's window: the picture with its link button above, the strip along the bottom
// showing the current bar, and the main loop that turns SDL's events into touches, keys, drops
// and frames. The only part of the instrument that talks to SDL's video and events.
// Thread: main, for every call here.
//
// The main loop, each turn: handle the waiting events, run the run loop's due work, end the
// implicit layer transaction, and once per display frame call the instrument's update and draw
// the strip; the window is presented when what it shows changed. Between turns it sleeps until
// the next frame, timer or event.

#include <SDL.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/Appearance.h"
#include "app/AudioBackend.h"
#include "app/CommandLine.h"
#include "app/FileInput.h"
#include "app/HelpOverlay.h"
#include "app/JackMidiBridge.h"
#include "app/Keys.h"
#include "app/MidiHost.h"
#include "app/Portal.h"
#include "app/StatusLine.h"
#include "app/StripInput.h"
#include "app/WindowController.h"
#include "app/WindowPicture.h"
#include "base/RunLoop.h"
#include "base/Status.h"
#include "display/Renderer.h"
#include "display/Transaction.h"
#include "session/StateKeeper.h"
#include "session/Takes.h"

namespace vornik {

class Application final : private KeyTarget, private FileInputTarget {
public:
    explicit Application(ApplicationOptions options);
    ~Application();
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    // Opens the window (and the sound device) and runs until the window closes, the frame limit
    // is reached or quit() is called. Returns the exit status: 0, or kExitNoDisplay when no
    // window could be opened (logged with what to do).
    int run();
    void quit() { running_ = false; }

    // Runs before each display frame with the frame's number (from 0); tests inject events here.
    void setFrameHook(std::function<void(Application&, int frame)> hook) {
        frameHook_ = std::move(hook);
    }

    // --- What tests look at ---------------------------------------------------------------------
    WindowController& controller() { return *controller_; }
    AudioBackend& audio() { return audio_; }
    // MIDI: null until run() opened it.
    MidiHost* midi() const { return midi_.get(); }
    MainView* mainView() const { return controller_ ? controller_->mainView() : nullptr; }
    StripInput& stripInput() { return stripInput_; }
    const Keys& keys() const { return keys_; }
    LinkButton* linkButton() const { return link_.get(); }
    Appearance appearance() const { return appearance_; }
    bool helpShown() const { return help_.shown(); }
    SDL_Window* window() const { return window_; }
    std::uint32_t windowID() const { return window_ ? SDL_GetWindowID(window_) : 0; }
    int framesRun() const { return frames_; }
    // Presents so far, whole or in part, and the rectangles (output pixels) the last one sent.
    int framesPresented() const { return presented_; }
    const std::vector<SDL_Rect>& presentedRects() const { return presentedRects_; }
    // The strip's zoom now: the one asked for, or less where the bars would not fit otherwise.
    double stripZoom() const { return stripZoom_; }
    // The strip as last drawn (premultiplied ARGB, zoomed).
    const Image& stripImage() const { return stripRenderer_.image(); }
    // Touches as they reached the controller, for tests: phase and identity.
    using TouchLog = std::function<void(TouchPhase, const Touch&)>;
    void setTouchLog(TouchLog log) { touchLog_ = std::move(log); }
    // The status line as last updated: the sample and the message shown.
    const StatusLine& statusLine() const { return status_; }
    // Files handed to the instrument's loadFile, in order.
    const std::vector<std::string>& loadedFiles() const { return loadedFiles_; }

    // Where the state is kept between runs; empty before run() and when nothing is kept.
    std::filesystem::path stateFile() const { return keeper_ ? keeper_->file() : ""; }

    // Where the pictures are: VORNIK_ASSETS, else an "assets" folder beside or above the program,
    // else one in the working directory; empty when none is found (then everything is drawn).
    static std::filesystem::path findAssetsDirectory();

    // KeyTarget and FileInputTarget: the keys and file input act through these.
    int currentBar() const override;
    int secondaryBar() const override;
    void showBar(int bar) override;
    bool recording() const override;
    void recordingStart() override;
    void recordingEnd() override;
    bool outputRecording() const override;
    void outputRecordingStart() override;
    void outputRecordingEnd(bool resample) override;
    void loadFile(const std::string& path) override;
    // A file opened at start (the command line, a saved session): loaded once the strip has been
    // measured, so that "auto slice" finds its slices. A missing file is logged and skipped.
    void loadFileOnceMeasured(const std::string& path);
    void raiseWindow() override;
    void resetTransposition() override;

    // Focus: the window became the one the user works in, or stopped being it.
    void applicationBecameActive();
    void applicationResignedActive();

private:
    bool openWindow();
    void loadPictures();
    void handleEvent(const SDL_Event& event);
    void handleKey(const SDL_KeyboardEvent& key);
    void openDocument();
    void openDocumentWithProgram();
    void startAppearance();
    void showHelp(bool shown);
    void followBar();
    void updateGeometry();
    Size stripSize() const { return Size{windowSize_.width / stripZoom_, stripHeight_}; }
    void frame();
    void holdVoices();
    // Draws the strip when it changed; the pixels that changed, in the window's output pixels.
    std::optional<SDL_Rect> drawStrip();
    // Asks for `rect` (output pixels) to be drawn again and shown at the next present.
    void damage(const SDL_Rect& rect);
    bool drawStatusLine();
    double belowPicture() const;  // the strip and the status line, window units
    SDL_Rect stripRect() const;
    SDL_Rect statusRect() const;
    SDL_Rect linkRect() const;
    // Shows what changed: the whole window when needsPresent_ (or for a capture), else only the
    // damaged rectangles where the renderer allows it.
    void present(bool capture);
    void drawWindow();
    void captureWindow();
    void writeScreenshot();
    void waitForWork(double nextFrame);
    // The kept state: the file to load at start (FILE, else the last run's sample when it is
    // still there), and the state as it is now.
    std::string startupFile();
    SessionState captureState();
    // The MIDI sources and channel of the last run, unless the command line chose them.
    void restoreMidiSettings();

    ApplicationOptions options_;
    SteadyClock clock_;
    RunLoop runLoop_{clock_};
    ScopedLayerClock layerClock_{clock_};
    Appearance appearance_ = Appearance::Light;
    DesktopPreferences desktop_;  // as read at start, the portal's colour scheme kept up to date
    std::filesystem::path assets_;
    std::unique_ptr<Portal> portal_;
    bool portalChooserOpen_ = false;
    HelpOverlay help_;

    AudioBackend audio_{runLoop_, options_};  // JACK or SDL audio under the instrument
    std::unique_ptr<WindowController> controller_;
    std::unique_ptr<MidiHost> midi_;            // plays the controller's instrument and controls
    std::unique_ptr<JackMidiBridge> jackMidi_;  // JACK's midi_in into midi_
    std::uint32_t jackMidiEvent_ = 0;           // its wake-up
    StripInput stripInput_;
    Keys keys_{clock_, *this};
    FileInput fileInput_;
    FileChooser chooser_{runLoop_};
    std::unique_ptr<LinkButton> link_;
    Renderer stripRenderer_;
    std::vector<std::uint32_t> lastStrip_;  // the strip's pixels as last uploaded

    bool sdlStarted_ = false;
    SDL_Window* window_ = nullptr;
    SDL_Renderer* renderer_ = nullptr;
    SDL_Texture* pictureTexture_ = nullptr;
    SDL_Texture* linkTexture_ = nullptr;
    SDL_Texture* stripTexture_ = nullptr;
    SDL_Texture* statusTexture_ = nullptr;
    StatusLine status_;
    StatusSink statusSink_{[this](const std::string& text, StatusKind kind) {
        status_.show(text, kind, clock_.now());
    }};
    bool statusResized_ = true;  // the window's width or scale changed: draw the line again
    Size pictureSize_;
    SDL_Color pictureMargin_{0, 0, 0, 255};  // the picture's bottom edge
    SDL_Color pictureTop_{0, 0, 0, 255};     // and its top edge
    int stripTextureWidth_ = 0;
    int stripTextureHeight_ = 0;

    Size windowSize_;                 // window units
    double minimumStripWidth_ = 0.0;  // points: every bar fits on a strip this wide
    double stripZoom_ = 1.0;          // window units per point: the asked zoom, less if needed
    double pixelScale_ = 1.0;         // output pixels per window unit
    double stripHeight_ = 0.0;        // points
    double framePeriod_ = 1.0 / 60.0;
    bool running_ = false;
    bool needsPresent_ = true;  // the whole window is to be drawn again: any part may ask
    bool active_ = false;
    int shownBar_ = 0;  // the bar the strip's fingers are on
    float shownLinkOpacity_ = -1.0f;
    std::vector<Point> shownHeld_;
    bool voicesHeld_ = false;  // --hold-voices: the fingers are down
    int frames_ = 0;
    int presented_ = 0;
    int partialPresented_ = 0;
    std::vector<SDL_Rect> damage_;  // to draw again at the next present
    std::vector<SDL_Rect> presentedRects_;
    bool partialPresents_ = false;  // the renderer draws into the window's surface
    std::function<void(Application&, int)> frameHook_;
    TouchLog touchLog_;
    std::vector<std::string> loadedFiles_;

    std::unique_ptr<StateKeeper> keeper_;
    SessionState restored_;
    std::string startupSample_;  // the sample until the instrument has loaded one
    TakePaths takePaths_;
    std::optional<WindowFrame> windowFrame_;  // the last one not maximized or full screen
};

}  // namespace vornik
