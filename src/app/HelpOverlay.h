#pragma once
// The help overlay over the window's picture: every key, mouse gesture and MIDI default. F1 or ?
// shows it and hides it again, Escape closes it, a click on the picture closes it too; the strip
// below stays playable. Thread: main, for every call here.

#include <SDL_render.h>

#include <memory>
#include <string>
#include <vector>

#include "app/Appearance.h"
#include "display/Image.h"

namespace vornik {

struct HelpLine {
    std::string keys;  // what the user presses, moves or sends
    std::string what;  // what it does
};

struct HelpSection {
    std::string title;
    std::vector<HelpLine> lines;
};

// The overlay's text: keys, mouse and strip, MIDI.
const std::vector<HelpSection>& helpSections();

// The overlay for an area of width x height pixels: a veil over the picture and the sections in
// columns, scaled to fit.
std::shared_ptr<Image> drawHelpOverlay(int width, int height, Appearance appearance);

class HelpOverlay {
public:
    HelpOverlay() = default;
    HelpOverlay(const HelpOverlay&) = delete;
    HelpOverlay& operator=(const HelpOverlay&) = delete;

    bool shown() const { return shown_; }
    void setShown(bool shown) { shown_ = shown; }

    // Draws the overlay over the area (0, 0, width, height) in output pixels, when shown.
    void present(SDL_Renderer* renderer, int width, int height, Appearance appearance);
    // The renderer lost its textures, or is going away: call before destroying it.
    void dropTexture();

private:
    bool shown_ = false;
    SDL_Texture* texture_ = nullptr;
    int width_ = 0, height_ = 0;
    Appearance appearance_ = Appearance::Light;
};

}  // namespace vornik
