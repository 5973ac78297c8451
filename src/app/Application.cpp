#include "app/Application.h"

#include <cairo.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "app/AppConstants.h"
#include "app/Artwork.h"
#include "app/Desktop.h"
#include "app/Identity.h"
#include "app/StateControls.h"
#include "base/Log.h"
#include "base/Status.h"
#include "sample/AudioFileReader.h"
#include "sample/AudioFormats.h"
#include "session/StateFile.h"

namespace vornik {
namespace {

// The MIDI settings among the kept state: the sources chosen and the channel heard (0 all).
constexpr const char* kMidiInputKey = "midi.input";
constexpr const char* kMidiChannelKey = "midi.channel";

// A texture of an image, for pictures drawn with SDL's alpha blending: Cairo's premultiplied
// pixels become straight ones.
SDL_Texture* textureFromImage(SDL_Renderer* renderer, const Image& image) {
    if (image.width() == 0 || image.height() == 0) return nullptr;
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(image.width()) * image.height());
    for (int y = 0; y < image.height(); ++y) {
        const auto* row = reinterpret_cast<const std::uint32_t*>(image.data() + y * image.stride());
        for (int x = 0; x < image.width(); ++x) {
            const std::uint32_t p = row[x];
            const std::uint32_t a = p >> 24;
            std::uint32_t out = 0;
            if (a == 255) {
                out = p;
            } else if (a != 0) {
                auto straight = [a](std::uint32_t c) {
                    return std::min(255u, (c * 255 + a / 2) / a);
                };
                out = (a << 24) | (straight((p >> 16) & 0xff) << 16) |
                      (straight((p >> 8) & 0xff) << 8) | straight(p & 0xff);
            }
            pixels[static_cast<std::size_t>(y) * image.width() + x] = out;
        }
    }
    SDL_Texture* texture =
        SDL_CreateTexture(renderer, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STATIC,
                          image.width(), image.height());
    if (texture == nullptr) {
        logf("cannot make a texture of %d x %d pixels: %s", image.width(), image.height(),
             SDL_GetError());
        return nullptr;
    }
    SDL_UpdateTexture(texture, nullptr, pixels.data(), image.width() * 4);
    SDL_SetTextureBlendMode(texture, SDL_BLENDMODE_BLEND);
    SDL_SetTextureScaleMode(texture, SDL_ScaleModeLinear);
    return texture;
}

void destroyTexture(SDL_Texture*& texture) {
    if (texture != nullptr) SDL_DestroyTexture(texture);
    texture = nullptr;
}

bool isFile(const std::filesystem::path& path) {
    std::error_code ec;
    return std::filesystem::is_regular_file(path, ec);
}

// A filled disc as triangles, in output pixels.
void fillDisc(SDL_Renderer* renderer, float cx, float cy, float radius, SDL_Color colour) {
    constexpr int kSegments = 20;
    SDL_Vertex vertices[kSegments + 1];
    int indices[kSegments * 3];
    vertices[0] = SDL_Vertex{{cx, cy}, colour, {0.0f, 0.0f}};
    for (int i = 0; i < kSegments; ++i) {
        const float a = static_cast<float>(2.0 * M_PI * i / kSegments);
        vertices[i + 1] = SDL_Vertex{
            {cx + radius * std::cos(a), cy + radius * std::sin(a)}, colour, {0.0f, 0.0f}};
        indices[3 * i] = 0;
        indices[3 * i + 1] = i + 1;
        indices[3 * i + 2] = (i + 1) % kSegments + 1;
    }
    SDL_RenderGeometry(renderer, nullptr, vertices, kSegments + 1, indices, kSegments * 3);
}

}  // namespace

Application::Application(ApplicationOptions options)
    : options_(std::move(options)),
      stripInput_([this](TouchPhase phase, const std::vector<Touch>& touches) {
          for (const Touch& touch : touches) {
              if (touchLog_) touchLog_(phase, touch);
              if (controller_) controller_->stripTouch(phase, touch);
              if (midi_) midi_->stripTouch(phase, touch);  // a long press arms MIDI learn
          }
      }),
      fileInput_(*this, [](std::string_view path) { return isAudioFileName(path); }),
      stripZoom_(options_.zoom) {}

Application::~Application() {
    audio_.stop();        // the JACK client hands no more MIDI to the bridge
    jackMidi_.reset();
    midi_.reset();        // MIDI stops before what it plays goes
    controller_.reset();  // the instrument and its sound device go before SDL does
    destroyTexture(statusTexture_);
    destroyTexture(stripTexture_);
    destroyTexture(linkTexture_);
    destroyTexture(pictureTexture_);
    help_.dropTexture();
    if (renderer_ != nullptr) SDL_DestroyRenderer(renderer_);
    if (window_ != nullptr) SDL_DestroyWindow(window_);
    if (sdlStarted_) SDL_QuitSubSystem(SDL_INIT_VIDEO);
}

std::filesystem::path Application::findAssetsDirectory() {
    const char* marker = "Window Background.png";
    if (const char* forced = std::getenv("VORNIK_ASSETS"); forced != nullptr && *forced) {
        return forced;
    }
    if (char* base = SDL_GetBasePath()) {
        std::filesystem::path dir = base;
        SDL_free(base);
        // Beside the program, or above it (build/src/vornik in a checkout).
        for (int up = 0; up < 4 && !dir.empty(); ++up) {
            if (isFile(dir / "assets" / marker)) return dir / "assets";
            if (isFile(dir / "share" / "vornik" / "assets" / marker)) {
                return dir / "share" / "vornik" / "assets";
            }
            const auto parent = dir.lexically_normal().parent_path();
            if (parent == dir) break;
            dir = parent;
        }
    }
    if (isFile(std::filesystem::path("assets") / marker)) {
        return std::filesystem::absolute("assets");
    }
    return {};
}

// --- Start and the main loop ------------------------------------------------------------------

int Application::run() {
    portal_ = std::make_unique<Portal>(runLoop_);
    startAppearance();
    assets_ = findAssetsDirectory();
    if (assets_.empty()) logLine("no assets folder found: the window's pictures are drawn instead");
    keeper_ = std::make_unique<StateKeeper>(runLoop_, stateFilePath());
    restored_ = keeper_->load(options_.fresh);
    if (!options_.zoomGiven && restored_.zoom) options_.zoom = *restored_.zoom;
    if (!openWindow()) return kExitNoDisplay;

    controller_ = std::make_unique<WindowController>(runLoop_, assets_, [this](RunLoop& loop) {
        auto view = std::make_unique<MainView>(loop);
        view->initAudioEngine(MainView::AudioOutput::kNone);
        audio_.start(*view);
        return view;
    });
    controller_->makeTouchBar();  // the strip is always there: the instrument exists from now on
    minimumStripWidth_ = controller_->minimumStripWidth();
    midi_ = std::make_unique<MidiHost>(runLoop_, *controller_, MidiMap::defaultPath());
    if (!options_.midiGiven) restoreMidiSettings();
    midi_->openInput(options_.midi, options_.midiChannel);
    if (audio_.jack() && options_.midi != "none") {  // midi_in feeds the same MIDI layer
        jackMidiEvent_ = SDL_RegisterEvents(1);
        jackMidi_ = std::make_unique<JackMidiBridge>(midi_->input(), [type = jackMidiEvent_] {
            SDL_Event wake{};
            wake.type = type;
            SDL_PushEvent(&wake);
        });
        audio_.setMidiSink(jackMidi_.get());
        logf("MIDI: JACK's %s:midi_in plays too", audio_.jack()->clientName().c_str());
    }
    // A resampled take comes in as a dropped file does.
    if (MainView* view = mainView()) {
        view->setTakeLoader([this](const std::string& path) { fileInput_.loadDropped(path); });
    }
    loadPictures();
    updateGeometry();
    shownBar_ = controller_->currentBar();
    if (SDL_GetWindowFlags(window_) & SDL_WINDOW_INPUT_FOCUS) applicationBecameActive();
    restoreControls(*controller_, restored_);

    options_.file = startupFile();
    if (!options_.file.empty()) loadFileOnceMeasured(options_.file);

    keeper_->start([this] { return captureState(); });

    running_ = true;
    const double started = clock_.now();
    double nextFrame = started;
    while (running_) {
        SDL_Event event;
        while (running_ && SDL_PollEvent(&event)) handleEvent(event);
        runLoop_.runDue();
        followBar();
        Transaction::flush();
        if (!running_) break;
        const double now = clock_.now();
        if (now >= nextFrame) {
            if (frameHook_) frameHook_(*this, frames_);
            frame();
            ++frames_;
            nextFrame = std::max(nextFrame + framePeriod_, now);
            if (options_.frames > 0 && frames_ >= options_.frames) running_ = false;
            continue;
        }
        waitForWork(nextFrame);
    }
    keeper_->quit();
    if (options_.holdVoices >= 0) {
        logf("%d display frames run, %d presented (%d in part) in %.1f s", frames_, presented_,
             partialPresented_, clock_.now() - started);
    }
    if (!options_.screenshot.empty()) writeScreenshot();
    return 0;
}

bool Application::openWindow() {
    SDL_SetHint(SDL_HINT_VIDEO_ALLOW_SCREENSAVER, "1");
    applyDesktopIdentity();
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
        logf(
            "no display available (%s): run vornik in a desktop session (X11 or Wayland), or "
            "without a screen under xvfb-run",
            SDL_GetError());
        return false;
    }
    sdlStarted_ = true;
    // Without a display SDL quietly falls back to a driver that draws nowhere; that is only
    // wanted when asked for by name (tests, measurements).
    const char* driver = SDL_GetCurrentVideoDriver();
    const char* asked = SDL_GetHint(SDL_HINT_VIDEODRIVER);
    const bool invisible = driver != nullptr &&
                           (std::strcmp(driver, "offscreen") == 0 ||
                            std::strcmp(driver, "dummy") == 0 || std::strcmp(driver, "evdev") == 0);
    if (invisible && (asked == nullptr || std::strstr(asked, driver) == nullptr)) {
        logf(
            "no display available (only SDL's \"%s\" video driver started): run vornik in a "
            "desktop session (X11 or Wayland), or without a screen under xvfb-run",
            driver);
        return false;
    }
    SDL_Rect usable{};
    int width = defaultWindowWidth(options_.zoom,
                                   SDL_GetDisplayUsableBounds(0, &usable) == 0 ? usable.w : 0);
    int height = app::kPictureHeight + static_cast<int>(app::kStatusLineHeight) +
                 static_cast<int>(std::ceil(app::kStripHeight * options_.zoom));
    int x = SDL_WINDOWPOS_CENTERED, y = SDL_WINDOWPOS_CENTERED;
    if (restored_.window) {
        windowFrame_ = restored_.window;
        // No larger than the screen it opens on now.
        width =
            usable.w > 0 ? std::min(restored_.window->width, usable.w) : restored_.window->width;
        height =
            usable.h > 0 ? std::min(restored_.window->height, usable.h) : restored_.window->height;
        // Where it was, if that is still on a screen (one may have gone since).
        if (restored_.window->x && restored_.window->y) {
            const SDL_Rect frame{*restored_.window->x, *restored_.window->y, width, height};
            for (int i = 0; i < SDL_GetNumVideoDisplays(); ++i) {
                SDL_Rect bounds{}, overlap{};
                if (SDL_GetDisplayBounds(i, &bounds) == 0 &&
                    SDL_IntersectRect(&frame, &bounds, &overlap) && overlap.w >= 100 &&
                    overlap.h >= 50) {
                    x = frame.x;
                    y = frame.y;
                    break;
                }
            }
        }
    }
    window_ = SDL_CreateWindow(app::kWindowTitle, x, y, width, height,
                               SDL_WINDOW_RESIZABLE | SDL_WINDOW_ALLOW_HIGHDPI);
    if (window_ == nullptr) {
        logf("no display available: cannot open a window (%s)", SDL_GetError());
        return false;
    }
    setWindowIcon(window_, assets_);
    SDL_SetWindowMinimumSize(
        window_, 160,
        static_cast<int>(std::ceil(app::kStripHeight * options_.zoom) + app::kStatusLineHeight) +
            40);
    // SDL's software renderer draws into the window's own pixels, and those can be sent to the
    // screen a rectangle at a time: a frame where only the strip moved costs the strip. An
    // OpenGL renderer draws and sends the whole window every frame, which without a GPU (Xvfb, a
    // virtual machine: Mesa's llvmpipe) costs far more. SDL_RENDER_DRIVER picks another one.
    const char* named = SDL_GetHint(SDL_HINT_RENDER_DRIVER);
    const bool software =
        named == nullptr || *named == '\0' || SDL_strcasecmp(named, "software") == 0;
    if (software) {
        // SDL would show the window's pixels through an OpenGL texture of the whole window; X11
        // (and the offscreen driver) take them a rectangle at a time without it.
        if (SDL_strcmp(driver, "x11") == 0 || SDL_strcmp(driver, "offscreen") == 0) {
            SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
        }
        // No vsync asked: the main loop keeps to the display's rate by itself.
        renderer_ = SDL_CreateRenderer(window_, -1, SDL_RENDERER_SOFTWARE);
    }
    if (renderer_ == nullptr) {
        renderer_ =
            SDL_CreateRenderer(window_, -1, SDL_RENDERER_ACCELERATED | SDL_RENDERER_PRESENTVSYNC);
    }
    if (renderer_ == nullptr) renderer_ = SDL_CreateRenderer(window_, -1, SDL_RENDERER_SOFTWARE);
    if (renderer_ == nullptr) {
        logf("no display available: cannot draw into the window (%s)", SDL_GetError());
        return false;
    }
    if (SDL_RendererInfo info{}; SDL_GetRendererInfo(renderer_, &info) == 0) {
        logf("drawing with SDL's %s renderer", info.name);
        partialPresents_ = SDL_strcmp(info.name, "software") == 0;
    }
    SDL_SetRenderDrawBlendMode(renderer_, SDL_BLENDMODE_BLEND);
    for (Uint32 type : {SDL_DROPBEGIN, SDL_DROPFILE, SDL_DROPTEXT, SDL_DROPCOMPLETE}) {
        SDL_EventState(type, SDL_ENABLE);
    }
    stripInput_.setWindowID(SDL_GetWindowID(window_));

    SDL_DisplayMode mode{};
    const int display = SDL_GetWindowDisplayIndex(window_);
    const int rate =
        display >= 0 && SDL_GetCurrentDisplayMode(display, &mode) == 0 ? mode.refresh_rate : 0;
    framePeriod_ = 1.0 / (rate > 0 ? rate : app::kFallbackRefreshRate);
    return true;
}

void Application::loadPictures() {
    destroyTexture(pictureTexture_);
    destroyTexture(linkTexture_);
    const std::string name =
        appearance_ == Appearance::Dark ? "Window Background Dark" : "Window Background";
    std::shared_ptr<Image> picture;
    const auto file = assets_ / (name + ".png");
    if (!assets_.empty() && isFile(file)) picture = Image::loadPng(file.string());
    if (!picture) picture = drawArtwork(name);
    pictureSize_ = picture ? Size{double(picture->width()), double(picture->height())} : Size{};
    if (picture) {
        pictureTexture_ = textureFromImage(renderer_, *picture);
        const Rgba8 edge = picture->pixel(0, picture->height() - 1);
        pictureMargin_ = SDL_Color{edge.r, edge.g, edge.b, 255};
        const Rgba8 top = picture->pixel(0, 0);
        pictureTop_ = SDL_Color{top.r, top.g, top.b, 255};
    }
    if (!pictureTexture_) pictureSize_ = Size{};
    link_ = std::make_unique<LinkButton>(appearance_, pictureSize_.width);

    // The button's look, drawn once at 2 pixels per point and faded by the texture's alpha.
    const LayerPtr look = Layer::create();
    look->setBounds(link_->layer()->bounds());
    look->setBackgroundColor(link_->layer()->backgroundColor());
    look->setCornerRadius(link_->layer()->cornerRadius());
    look->setCornerCurve(link_->layer()->cornerCurve());
    if (const auto image = renderLayerToImage(*look, 2.0)) {
        linkTexture_ = textureFromImage(renderer_, *image);
    }
    shownLinkOpacity_ = -1.0f;
    needsPresent_ = true;
}

void Application::updateGeometry() {
    int w = 0, h = 0, pw = 0, ph = 0;
    SDL_GetWindowSize(window_, &w, &h);
    SDL_GetRendererOutputSize(renderer_, &pw, &ph);
    windowSize_ = Size{double(std::max(w, 1)), double(std::max(h, 1))};
    pixelScale_ = w > 0 && pw > 0 ? double(pw) / w : 1.0;
    // A window too narrow for the bars at the asked zoom draws the strip smaller.
    stripZoom_ = stripZoomToFit(options_.zoom, windowSize_.width, minimumStripWidth_);
    stripInput_.setGeometry(windowSize_.width, windowSize_.height, stripZoom_);
    stripHeight_ = stripInput_.stripHeight();
    statusResized_ = true;
    needsPresent_ = true;
}

double Application::belowPicture() const {
    return stripHeight_ * stripZoom_ + app::kStatusLineHeight;
}

void Application::waitForWork(double nextFrame) {
    double until = nextFrame;
    if (const auto due = runLoop_.nextDueTime()) until = std::min(until, *due);
    const double wait = std::min(until - clock_.now(), app::kLongestIdleWait);
    if (wait <= 0.0) return;
    SDL_Event event;
    if (SDL_WaitEventTimeout(&event, std::max(1, static_cast<int>(std::ceil(wait * 1000.0))))) {
        handleEvent(event);
    }
}

// --- The state kept between runs ---------------------------------------------------------------

std::string Application::startupFile() {
    std::string file = options_.file;
    if (file.empty() && !restored_.sample.empty()) {
        if (isFile(restored_.sample)) {
            file = restored_.sample;
        } else {
            logf("the last sample, \"%s\", is gone: starting without it", restored_.sample.c_str());
            // Shown once the window's status line listens.
            const std::string name = std::filesystem::path(restored_.sample).filename().string();
            runLoop_.post(
                [name] { showStatus("The last sample, \"" + name + "\", is no longer there"); });
        }
    }
    if (isFile(file)) {
        std::error_code ec;
        const std::filesystem::path absolute = std::filesystem::absolute(file, ec);
        startupSample_ = ec ? file : absolute.lexically_normal().string();
    }
    return file;
}

SessionState Application::captureState() {
    SessionState state;
    if (controller_) captureControls(*controller_, state);
    // The startup file counts until the instrument has loaded a sample (its load waits for the
    // strip), so a state written meanwhile still names it.
    MainView* view = mainView();
    std::string sample = view ? view->samplePath() : "";
    if (sample.empty()) {
        sample = startupSample_;
    } else {
        std::error_code ec;
        const std::filesystem::path absolute = std::filesystem::absolute(sample, ec);
        if (!ec) sample = absolute.lexically_normal().string();
    }
    if (!sample.empty() && view) sample = takePaths_.keptPath(sample, view->recordURL());
    state.sample = sample;
    state.zoom = options_.zoom;
    if (window_ != nullptr) {
        const Uint32 flags = SDL_GetWindowFlags(window_);
        if (!(flags & (SDL_WINDOW_MAXIMIZED | SDL_WINDOW_MINIMIZED | SDL_WINDOW_FULLSCREEN))) {
            WindowFrame frame;
            int x = 0, y = 0;
            SDL_GetWindowPosition(window_, &x, &y);
            SDL_GetWindowSize(window_, &frame.width, &frame.height);
            frame.x = x;
            frame.y = y;
            windowFrame_ = frame;
        }
    }
    state.window = windowFrame_;
    if (midi_) {
        state.others[kMidiInputKey] = midi_->choice();
        state.others[kMidiChannelKey] = std::to_string(midi_->channel());
    }
    return state;
}

void Application::restoreMidiSettings() {
    const auto& kept = restored_.others;
    if (auto it = kept.find(kMidiInputKey); it != kept.end() && !it->second.empty()) {
        options_.midi = it->second;
    }
    if (auto it = kept.find(kMidiChannelKey); it != kept.end()) {
        int channel = -1;
        const auto& text = it->second;
        std::from_chars(text.data(), text.data() + text.size(), channel);
        if (channel >= 0 && channel <= 16) options_.midiChannel = channel;
    }
}

// --- Events -------------------------------------------------------------------------------------

void Application::handleEvent(const SDL_Event& event) {
    const std::uint32_t ours = SDL_GetWindowID(window_);
    if (jackMidiEvent_ != 0 && event.type == jackMidiEvent_) {
        if (midi_) midi_->drain();
        return;
    }
    if (midi_ && midi_->handleEvent(event, stripInput_)) return;
    switch (event.type) {
        case SDL_QUIT:
            running_ = false;
            return;
        case SDL_WINDOWEVENT: {
            if (event.window.windowID != ours) return;
            stripInput_.handleEvent(event, SDL_GetModState());  // focus loss lifts the fingers
            switch (event.window.event) {
                case SDL_WINDOWEVENT_CLOSE:
                    running_ = false;
                    break;
                case SDL_WINDOWEVENT_SIZE_CHANGED:
                case SDL_WINDOWEVENT_RESIZED:
                case SDL_WINDOWEVENT_DISPLAY_CHANGED:
                    updateGeometry();
                    break;
                case SDL_WINDOWEVENT_FOCUS_GAINED:
                    applicationBecameActive();
                    break;
                case SDL_WINDOWEVENT_FOCUS_LOST:
                    applicationResignedActive();
                    break;
                case SDL_WINDOWEVENT_LEAVE:
                    if (link_) link_->mouseMoved(Point{-1.0e9, -1.0e9});
                    break;
                default:
                    needsPresent_ = true;  // shown, exposed, restored: draw again
                    break;
            }
            return;
        }
        case SDL_KEYDOWN:
        case SDL_KEYUP:
            handleKey(event.key);
            return;
        case SDL_DROPBEGIN:
        case SDL_DROPFILE:
        case SDL_DROPTEXT:
        case SDL_DROPCOMPLETE:
            fileInput_.handleEvent(event);
            return;
        case SDL_TEXTINPUT:
            // The typed character, whatever key gives it on this keyboard.
            if (event.text.windowID == ours && std::strcmp(event.text.text, "?") == 0) {
                showHelp(!help_.shown());
            }
            return;
        case SDL_RENDER_TARGETS_RESET:
        case SDL_RENDER_DEVICE_RESET:
            help_.dropTexture();
            destroyTexture(stripTexture_);
            destroyTexture(statusTexture_);
            statusResized_ = true;
            lastStrip_.clear();
            loadPictures();
            return;
        case SDL_AUDIODEVICEREMOVED:
            // The output went away: open the default one again.
            // SDL's devices only: a JACK client is told by its server.
            if (!event.adevice.iscapture && mainView() && !audio_.jack()) {
                mainView()->audioHardwareRouteChanged();
            }
            return;
        case SDL_AUDIODEVICEADDED:
            // A device came (back) while none could be opened: try again. One that plays already
            // is left alone (SDL announces every device present when audio starts).
            if (!event.adevice.iscapture && mainView() && !mainView()->audioDeviceOpen() &&
                !audio_.jack()) {
                mainView()->audioHardwareRouteChanged();
            }
            return;
        default:
            break;
    }
    if (stripInput_.handleEvent(event, SDL_GetModState())) return;
    if (!link_) return;
    const PictureLayout layout(windowSize_, belowPicture(), pictureSize_);
    if (event.type == SDL_MOUSEMOTION && event.motion.windowID == ours) {
        link_->mouseMoved(layout.toPicture(event.motion.x, event.motion.y));
    } else if (event.type == SDL_MOUSEBUTTONDOWN && event.button.windowID == ours &&
               event.button.button == SDL_BUTTON_LEFT) {
        if (help_.shown()) {
            showHelp(false);  // a click on the picture closes the help, and only that
        } else if (link_->mouseDown(layout.toPicture(event.button.x, event.button.y))) {
            openUserGuide(assets_);
        }
    }
}

void Application::handleKey(const SDL_KeyboardEvent& key) {
    if (key.windowID != 0 && key.windowID != SDL_GetWindowID(window_)) return;
    const unsigned mods = key.keysym.mod;
    const bool commandOnly = (mods & KMOD_CTRL) && !(mods & (KMOD_ALT | KMOD_GUI));
    if (key.type == SDL_KEYDOWN && !key.repeat && commandOnly) {
        if (key.keysym.sym == SDLK_o) openDocument();
        if (key.keysym.sym == SDLK_q) running_ = false;
    }
    if (key.type == SDL_KEYDOWN && !key.repeat) {
        if (key.keysym.sym == SDLK_F1) showHelp(!help_.shown());
        if (key.keysym.sym == SDLK_ESCAPE) showHelp(false);
    }
    const std::string characters = keyCharacters(key.keysym.sym, mods);
    if (key.type == SDL_KEYDOWN) {
        keys_.keyDown(characters, key.repeat != 0);
    } else {
        keys_.keyUp(characters);
    }
}

void Application::openDocument() {
    if (portalChooserOpen_ || chooser_.isOpen()) {
        logLine("the file chooser is already open");
        return;
    }
    // The desktop's own chooser through its portal; a chooser program when no portal answers.
    if (portal_->unreachable()) {
        openDocumentWithProgram();
        return;
    }
    portalChooserOpen_ = true;
    portal_->openFile("Open a sample", portalParentWindow(window_), audioFileExtensions(),
                      [this](const Portal::Choice& choice) {
                          portalChooserOpen_ = false;
                          if (choice.outcome == Portal::Choice::Outcome::Unavailable) {
                              openDocumentWithProgram();
                          } else {
                              fileInput_.fileChosen(choice.path);
                          }
                      });
}

void Application::openDocumentWithProgram() {
    const auto command = FileChooser::findCommand(audioFileExtensions());
    if (command.empty()) {
        logLine(
            "no file chooser found (zenity or kdialog): drop an audio file on the window, or "
            "name it when starting: vornik FILE");
        showStatus("No file chooser: install zenity or kdialog, or drop a file on the window");
        return;
    }
    chooser_.open(command, [this](const std::string& path) { fileInput_.fileChosen(path); });
}

void Application::followBar() {
    if (!controller_ || controller_->currentBar() == shownBar_) return;
    shownBar_ = controller_->currentBar();
    // The items the fingers were on have left the strip (the controller let go of them): the
    // fingers, held ones included, are lifted here too, so no marker stays behind.
    stripInput_.cancelAll();
}

void Application::applicationBecameActive() { active_ = true; }

void Application::applicationResignedActive() {
    active_ = false;
    // No finger may stay down while another window has the keyboard and mouse; the fingers held
    // by Shift-clicks were left down on purpose and stay.
    stripInput_.cancelPressed();
}

void Application::showHelp(bool shown) {
    if (shown == help_.shown()) return;
    help_.setShown(shown);
    needsPresent_ = true;
}

void Application::startAppearance() {
    if (const auto forced = appearanceOverride()) {
        appearance_ = *forced;
        return;
    }
    // Followed live: a new scheme from the portal switches the picture.
    portal_->watchColorScheme([this](ColorScheme scheme) {
        desktop_.colorScheme = colorSchemeText(scheme);
        const Appearance next = appearanceFrom(desktop_);
        if (next == appearance_) return;
        appearance_ = next;
        logf("the desktop's appearance is now %s", appearanceName(appearance_));
        if (renderer_ != nullptr) loadPictures();
    });
    desktop_ = readDesktopPreferences(portal_->awaitColorScheme(app::kPortalStartWait));
    desktop_.override.clear();  // judged above
    appearance_ = appearanceFrom(desktop_);
}

// --- What the keys and file input act on ------------------------------------------------------

int Application::currentBar() const { return controller_ ? controller_->currentBar() : 0; }

int Application::secondaryBar() const { return controller_ ? controller_->secondaryBar() : 1; }

void Application::showBar(int bar) {
    if (controller_) controller_->showBar(bar);
}

bool Application::recording() const { return mainView() ? mainView()->recording() : false; }

void Application::recordingStart() {
    if (MainView* view = mainView()) view->recordingStart();
}

void Application::recordingEnd() {
    if (MainView* view = mainView()) view->recordingEnd();
}

bool Application::outputRecording() const {
    return mainView() ? mainView()->outputRecording() : false;
}

void Application::outputRecordingStart() {
    if (MainView* view = mainView()) view->outputRecordingStart();
}

void Application::outputRecordingEnd(bool resample) {
    if (MainView* view = mainView()) view->outputRecordingEnd(resample);
}

void Application::loadFile(const std::string& path) {
    loadedFiles_.push_back(path);
    if (MainView* view = mainView()) view->loadFile(path);
}

void Application::loadFileOnceMeasured(const std::string& path) {
    if (const std::string problem = unreadableFileReason(path); !problem.empty()) {
        logf("cannot open \"%s\": %s; starting without a sample", path.c_str(), problem.c_str());
        showStatus("Cannot open \"" + path + "\": " + problem);
        return;
    }
    loadedFiles_.push_back(path);
    if (MainView* view = mainView()) view->loadFileOnceMeasured(path);
}

void Application::raiseWindow() {
    if (window_ != nullptr) SDL_RaiseWindow(window_);
}

void Application::resetTransposition() {
    // Through the stepper, so that it reads "original"; nothing without an instrument.
    if (controller_) controller_->resetTransposition();
}

// --- Frames -----------------------------------------------------------------------------------

void Application::frame() {
    if (!controller_) return;
    // The bar is laid out first, so that the first tick already measures the strip.
    controller_->stripLayer(stripSize());
    // The instrument's display tick: cursors, finished voices, flashes, the oscilloscope.
    if (MainView* view = mainView()) view->update();
    holdVoices();
    const Uint32 flags = SDL_GetWindowFlags(window_);
    if (flags & (SDL_WINDOW_HIDDEN | SDL_WINDOW_MINIMIZED)) return;
    if (const std::optional<SDL_Rect> strip = drawStrip()) damage(*strip);
    if (drawStatusLine()) damage(statusRect());
    if (stripInput_.heldFingers() != shownHeld_) damage(stripRect());
    if (link_ && link_->layer()->presentationOpacity() != shownLinkOpacity_) damage(linkRect());
    if (needsPresent_ || !damage_.empty()) present(false);
}

// For measurements: bow fingers spread evenly over the strip, once the sample is in and the strip
// measured. The mode goes to the instrument only, so the kept state does not change.
void Application::holdVoices() {
    MainView* view = mainView();
    if (voicesHeld_ || options_.holdVoices <= 0 || !view || !view->hasAudioFile()) return;
    const double width = view->touchBarSize().x;
    if (!(width > 0.0)) return;
    voicesHeld_ = true;
    view->setPlayMode(Playhead::kBow);
    controller_->showBar(bars::kInstrument);
    followBar();
    constexpr TouchId kFirstHeldTouch = TouchId{1} << 48;  // far from SDL's and the mouse's
    for (int i = 0; i < options_.holdVoices; ++i) {
        const Point at{width * (i + 0.5) / options_.holdVoices, stripHeight_ * 0.5};
        controller_->stripTouch(TouchPhase::Began, Touch{kFirstHeldTouch + i, at, at});
    }
}

void Application::damage(const SDL_Rect& rect) {
    if (rect.w <= 0 || rect.h <= 0) return;
    for (SDL_Rect& r : damage_) {
        if (SDL_HasIntersection(&r, &rect)) {
            SDL_UnionRect(&r, &rect, &r);
            return;
        }
    }
    damage_.push_back(rect);
}

SDL_Rect Application::stripRect() const {
    int w = 0, h = 0;
    SDL_GetRendererOutputSize(renderer_, &w, &h);
    const int top =
        static_cast<int>((windowSize_.height - stripHeight_ * stripZoom_) * pixelScale_);
    return SDL_Rect{0, top, w, h - top};
}

SDL_Rect Application::statusRect() const {
    const SDL_Rect strip = stripRect();
    const int height = static_cast<int>(std::ceil(app::kStatusLineHeight * pixelScale_)) + 1;
    return SDL_Rect{0, strip.y - height, strip.w, height};
}

SDL_Rect Application::linkRect() const {
    const PictureLayout layout(windowSize_, belowPicture(), pictureSize_);
    const Rect r = layout.pictureRect();
    const Rect f = link_->layer()->frame();  // picture points, y up
    const double k = layout.scale(), s = pixelScale_;
    const double x0 = (r.minX() + f.minX() * k) * s, x1 = (r.minX() + f.maxX() * k) * s;
    const double y0 = (r.maxY() - f.maxY() * k) * s, y1 = (r.maxY() - f.minY() * k) * s;
    // Whole pixels around it: the edges are blended into their neighbours.
    const int left = static_cast<int>(std::floor(x0)) - 1,
              top = static_cast<int>(std::floor(y0)) - 1;
    return SDL_Rect{left, top, static_cast<int>(std::ceil(x1)) + 1 - left,
                    static_cast<int>(std::ceil(y1)) + 1 - top};
}

std::optional<SDL_Rect> Application::drawStrip() {
    const LayerPtr& root = controller_->stripLayer(stripSize());
    const double zoom = stripZoom_ * pixelScale_;
    // Nothing moved since the last frame: nothing to draw or upload.
    if (!stripRenderer_.renderIfChanged(*root, zoom, Transaction::now()) && stripTexture_) {
        return std::nullopt;
    }
    const Image& image = stripRenderer_.image();
    const int w = image.width(), h = image.height();
    if (w == 0 || h == 0) return std::nullopt;
    bool fresh = false;
    if (stripTexture_ == nullptr || stripTextureWidth_ != w || stripTextureHeight_ != h) {
        destroyTexture(stripTexture_);
        // In the window's own format when that is the strip's without its alpha (the strip is
        // opaque): the software renderer then copies rows instead of converting pixels.
        const Uint32 format = SDL_GetWindowPixelFormat(window_) == SDL_PIXELFORMAT_RGB888
                                  ? SDL_PIXELFORMAT_RGB888
                                  : SDL_PIXELFORMAT_ARGB8888;
        stripTexture_ = SDL_CreateTexture(renderer_, format, SDL_TEXTUREACCESS_STREAMING, w, h);
        if (stripTexture_ == nullptr) {
            logf("cannot make the strip's texture (%d x %d): %s", w, h, SDL_GetError());
            return std::nullopt;
        }
        // Premultiplied pixels copied over black are exactly the strip as drawn.
        SDL_SetTextureBlendMode(stripTexture_, SDL_BLENDMODE_NONE);
        stripTextureWidth_ = w;
        stripTextureHeight_ = h;
        lastStrip_.assign(static_cast<std::size_t>(w) * h, 0);
        fresh = true;
    }
    // The pixels that differ from those uploaded last, as one rectangle.
    const auto* pixels = reinterpret_cast<const std::uint32_t*>(image.data());
    const int pitch = image.stride() / 4;
    int top = h, bottom = -1, left = w, right = -1;
    for (int y = 0; y < h; ++y) {
        const std::uint32_t* row = pixels + static_cast<std::size_t>(y) * pitch;
        const std::uint32_t* last = lastStrip_.data() + static_cast<std::size_t>(y) * w;
        if (!fresh && std::memcmp(row, last, static_cast<std::size_t>(w) * 4) == 0) continue;
        top = std::min(top, y);
        bottom = y;
        int x0 = 0, x1 = w - 1;
        if (!fresh) {
            while (row[x0] == last[x0]) ++x0;
            while (row[x1] == last[x1]) --x1;
        }
        left = std::min(left, x0);
        right = std::max(right, x1);
    }
    if (bottom < 0) return std::nullopt;
    const SDL_Rect changed{left, top, right + 1 - left, bottom + 1 - top};
    for (int y = top; y <= bottom; ++y) {
        std::memcpy(lastStrip_.data() + static_cast<std::size_t>(y) * w + left,
                    pixels + static_cast<std::size_t>(y) * pitch + left,
                    static_cast<std::size_t>(changed.w) * 4);
    }
    SDL_UpdateTexture(stripTexture_, &changed,
                      lastStrip_.data() + static_cast<std::size_t>(top) * w + left, w * 4);
    const SDL_Rect strip = stripRect();
    return SDL_Rect{strip.x + left, strip.y + top, changed.w, changed.h};
}

bool Application::drawStatusLine() {
    if (MainView* view = mainView()) {
        const std::string& path = view->samplePath();
        const std::string name = std::filesystem::path(path).filename().string();
        status_.setSample(describeSample(view->hasAudioFile() ? name : std::string(),
                                         view->audioFileLength(), view->audioFileChannelCount(),
                                         view->audioFileSampleRate()));
    }
    if (!status_.update(clock_.now()) && !statusResized_) return false;
    statusResized_ = false;
    destroyTexture(statusTexture_);
    const int w = static_cast<int>(std::lround(windowSize_.width * pixelScale_));
    const int h = static_cast<int>(std::lround(app::kStatusLineHeight * pixelScale_));
    if (const auto image = status_.draw(appearance_, w, h, pixelScale_)) {
        statusTexture_ = textureFromImage(renderer_, *image);
    }
    return true;
}

void Application::present(bool capture) {
    // The software renderer draws into the window's own pixels, which it can show a rectangle at
    // a time: what changed is drawn again within those rectangles and only they are sent.
    const bool partial = !needsPresent_ && !capture && partialPresents_;
    if (partial) {
        for (const SDL_Rect& rect : damage_) {
            SDL_RenderSetClipRect(renderer_, &rect);
            drawWindow();
        }
        SDL_RenderSetClipRect(renderer_, nullptr);
        SDL_RenderFlush(renderer_);
        SDL_UpdateWindowSurfaceRects(window_, damage_.data(), static_cast<int>(damage_.size()));
        presentedRects_ = damage_;
        ++partialPresented_;
    } else {
        SDL_SetRenderDrawColor(renderer_, pictureMargin_.r, pictureMargin_.g, pictureMargin_.b,
                               255);
        SDL_RenderClear(renderer_);
        drawWindow();
        if (capture) captureWindow();
        SDL_RenderPresent(renderer_);
        presentedRects_.assign(1, SDL_Rect{0, 0, 0, 0});
        SDL_GetRendererOutputSize(renderer_, &presentedRects_[0].w, &presentedRects_[0].h);
    }
    damage_.clear();
    needsPresent_ = false;
    ++presented_;
}

void Application::drawWindow() {
    const float s = static_cast<float>(pixelScale_);
    const float stripTop =
        static_cast<float>((windowSize_.height - stripHeight_ * stripZoom_) * pixelScale_);

    // The picture, and the link button over it. Around a picture that does not fill the space,
    // its own top-to-bottom shading continues.
    const PictureLayout layout(windowSize_, belowPicture(), pictureSize_);
    const Rect r = layout.pictureRect();
    {
        const float w = float(windowSize_.width) * s;
        const SDL_Color top = pictureTop_, bottom = pictureMargin_;
        const SDL_Vertex v[4] = {{{0.0f, 0.0f}, top, {0, 0}},
                                 {{w, 0.0f}, top, {0, 0}},
                                 {{w, stripTop}, bottom, {0, 0}},
                                 {{0.0f, stripTop}, bottom, {0, 0}}};
        const int indices[6] = {0, 1, 2, 0, 2, 3};
        SDL_RenderGeometry(renderer_, nullptr, v, 4, indices, 6);
    }
    if (pictureTexture_ != nullptr) {
        const SDL_FRect dst{float(r.minX()) * s, float(r.minY()) * s, float(r.size.width) * s,
                            float(r.size.height) * s};
        SDL_RenderCopyF(renderer_, pictureTexture_, nullptr, &dst);
    }
    if (link_) {
        const Layer& button = *link_->layer();
        const float opacity = std::clamp(button.presentationOpacity(), 0.0f, 1.0f);
        if (opacity > 0.0f && linkTexture_ != nullptr) {
            const double k = layout.scale();
            const Rect f = button.frame();  // picture points, y up
            const SDL_FRect dst{float(r.minX() + f.minX() * k) * s,
                                float(r.maxY() - f.maxY() * k) * s, float(f.size.width * k) * s,
                                float(f.size.height * k) * s};
            SDL_SetTextureAlphaMod(linkTexture_, static_cast<Uint8>(std::lround(opacity * 255.0f)));
            SDL_RenderCopyF(renderer_, linkTexture_, nullptr, &dst);
        }
        button.markPresented();
        shownLinkOpacity_ = button.presentationOpacity();
    }

    // The help over the picture; the status line below it stays in sight.
    help_.present(renderer_, static_cast<int>(std::lround(float(windowSize_.width) * s)),
                  static_cast<int>(std::lround(stripTop - app::kStatusLineHeight * s)),
                  appearance_);
    if (statusTexture_ != nullptr) {
        const float h = static_cast<float>(app::kStatusLineHeight) * s;
        const SDL_FRect dst{0.0f, stripTop - h, float(windowSize_.width) * s, h};
        SDL_RenderCopyF(renderer_, statusTexture_, nullptr, &dst);
    }

    // The strip: black, the current bar over it, then the held mouse fingers.
    SDL_SetRenderDrawColor(renderer_, 0, 0, 0, 255);
    SDL_SetRenderDrawBlendMode(renderer_, SDL_BLENDMODE_NONE);  // opaque: nothing to blend
    const SDL_FRect band{0.0f, stripTop, float(windowSize_.width) * s,
                         float(windowSize_.height) * s - stripTop};
    SDL_RenderFillRectF(renderer_, &band);
    SDL_SetRenderDrawBlendMode(renderer_, SDL_BLENDMODE_BLEND);
    if (stripTexture_ != nullptr) {
        const SDL_FRect dst{0.0f, stripTop, float(stripTextureWidth_), float(stripTextureHeight_)};
        SDL_RenderCopyF(renderer_, stripTexture_, nullptr, &dst);
    }
    shownHeld_ = stripInput_.heldFingers();
    const float zoom = static_cast<float>(stripZoom_) * s;
    const float bottom = static_cast<float>(windowSize_.height) * s;
    for (const Point& p : shownHeld_) {
        const float x = static_cast<float>(p.x) * zoom;
        const float y = bottom - static_cast<float>(p.y) * zoom;
        const float radius = static_cast<float>(app::kHeldFingerMarkerRadius) * zoom;
        fillDisc(renderer_, x, y, radius + 1.5f * s, SDL_Color{0, 0, 0, 160});
        fillDisc(renderer_, x, y, radius, SDL_Color{255, 255, 255, 230});
    }
}

void Application::captureWindow() {
    int w = 0, h = 0;
    SDL_GetRendererOutputSize(renderer_, &w, &h);
    auto shot = Image::create(w, h);
    cairo_surface_t* surface = shot->surface();
    cairo_surface_flush(surface);
    unsigned char* data = cairo_image_surface_get_data(surface);
    if (data != nullptr && SDL_RenderReadPixels(renderer_, nullptr, SDL_PIXELFORMAT_ARGB8888, data,
                                                cairo_image_surface_get_stride(surface)) == 0) {
        for (int y = 0; y < h; ++y) {  // the window is opaque
            auto* row = reinterpret_cast<std::uint32_t*>(
                data + y * cairo_image_surface_get_stride(surface));
            for (int x = 0; x < w; ++x) row[x] |= 0xff000000u;
        }
        cairo_surface_mark_dirty(surface);
        if (shot->writePng(options_.screenshot)) {
            logf("wrote the window's picture to \"%s\"", options_.screenshot.c_str());
        }
    } else {
        logf("cannot read the window's picture: %s", SDL_GetError());
    }
}

void Application::writeScreenshot() {
    if (!controller_ || renderer_ == nullptr) return;
    drawStrip();
    drawStatusLine();
    present(true);
}

}  // namespace vornik
