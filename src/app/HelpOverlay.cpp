#include "app/HelpOverlay.h"

#include <cairo.h>

#include <algorithm>
#include <cstring>

#include "base/Log.h"

namespace vornik {
namespace {

constexpr const char* kFont = "DejaVu Sans";
// The overlay is laid out in a box of these points, scaled to fit the area and centred.
constexpr double kBoxWidth = 1000.0, kBoxHeight = 500.0;
constexpr double kColumnWidth = 290.0, kColumnGap = 25.0, kMargin = 40.0;

void font(cairo_t* cr, double size, bool bold) {
    cairo_select_font_face(cr, kFont, CAIRO_FONT_SLANT_NORMAL,
                           bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, size);
}

double advance(cairo_t* cr, const std::string& s) {
    cairo_text_extents_t e;
    cairo_text_extents(cr, s.c_str(), &e);
    return e.x_advance;
}

// Shows `text` from (x, y) wrapped at `width`; returns the baseline after its last line.
double showWrapped(cairo_t* cr, const std::string& text, double x, double y, double width,
                   double lineHeight) {
    std::string line;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find(' ', start);
        if (end == std::string::npos) end = text.size();
        const std::string word = text.substr(start, end - start);
        const std::string tried = line.empty() ? word : line + " " + word;
        if (!line.empty() && advance(cr, tried) > width) {
            cairo_move_to(cr, x, y);
            cairo_show_text(cr, line.c_str());
            y += lineHeight;
            line = word;
        } else {
            line = tried;
        }
        start = end + 1;
    }
    cairo_move_to(cr, x, y);
    cairo_show_text(cr, line.c_str());
    return y + lineHeight;
}

}  // namespace

const std::vector<HelpSection>& helpSections() {
    static const std::vector<HelpSection> sections{
        {"Keys",
         {{"F1 or ?", "This help; Escape closes it"},
          {"Space",
           "Short press: the instrument or the control bar last used. Held: the control "
           "bar while it is down"},
          {"R",
           "Record from the microphone, again to stop. Held over half a second: records "
           "while held"},
          {"O",
           "Record what Vornik plays, again to stop. Held over half a second: records while "
           "held"},
          {"Shift+O", "Stop the take and make it the sample, sliced where the notes were"},
          {"Ctrl+O", "Open an audio file with the desktop's file chooser"},
          {"Ctrl+Q", "Quit"}}},
        {"Mouse and strip",
         {{"Strip", "Play it with fingers or the mouse; the mouse is a finger too"},
          {"Shift-click", "Leaves a mouse finger down (a white dot); click it to lift it"},
          {"Drop a file", "Loads it; the transposition returns to original"},
          {"Modes",
           "Slicer: a tap plays a slice. Looper: two fingers set a loop. Bow: a finger "
           "holds grains. Tape: the strip is the speed, backward to forward"},
          {"Link", "At the bottom of the picture: opens the user guide"}}},
        {"MIDI (defaults)",
         {{"Notes",
           "Slicer: note 36 plays slice 1, 37 slice 2, ... Other modes: 16 zones along "
           "the strip from note 36"},
          {"CC 73, 72", "Attack, decay"},
          {"CC 74, 91", "Filter, reverb"},
          {"CC 12, 13", "Delay time, feedback"},
          {"CC 14, 15", "Slices, transpose"},
          {"Program 0 to 3", "Mode: slicer, looper, bow, tape"},
          {"CC 64", "Sustain pedal: lifted notes stay down while it is held"},
          {"Right-click a control", "Or hold two fingers on it: learns the next knob moved; "
                                    "Escape cancels"}}},
    };
    return sections;
}

std::shared_ptr<Image> drawHelpOverlay(int width, int height, Appearance appearance) {
    auto image = Image::create(width, height);
    if (image->width() == 0 || image->height() == 0) return image;
    const bool dark = appearance == Appearance::Dark;
    cairo_t* cr = cairo_create(image->surface());
    // A veil over the picture: the overlay reads on either.
    if (dark) {
        cairo_set_source_rgba(cr, 0.06, 0.065, 0.08, 0.97);
    } else {
        cairo_set_source_rgba(cr, 0.975, 0.97, 0.96, 0.97);
    }
    cairo_paint(cr);

    const double scale = std::min(width / kBoxWidth, height / kBoxHeight);
    cairo_translate(cr, (width - kBoxWidth * scale) / 2, (height - kBoxHeight * scale) / 2);
    cairo_scale(cr, scale, scale);
    const double ink = dark ? 0.96 : 0.11, text = dark ? 0.80 : 0.24, faint = dark ? 0.58 : 0.45;

    cairo_set_source_rgb(cr, ink, ink, ink);
    font(cr, 24, true);
    cairo_move_to(cr, kMargin, 52);
    cairo_show_text(cr, "Playing Vornik");
    cairo_set_source_rgb(cr, faint, faint, faint);
    font(cr, 13, false);
    const std::string closes = "Escape, F1 or ? closes";
    cairo_move_to(cr, kBoxWidth - kMargin - advance(cr, closes), 52);
    cairo_show_text(cr, closes.c_str());

    double x = kMargin;
    for (const HelpSection& section : helpSections()) {
        cairo_set_source_rgb(cr, 0.82, 0.074, 0.19);  // the accent red
        font(cr, 16, true);
        cairo_move_to(cr, x, 98);
        cairo_show_text(cr, section.title.c_str());
        double y = 126;
        for (const HelpLine& line : section.lines) {
            cairo_set_source_rgb(cr, ink, ink, ink);
            font(cr, 13, true);
            y = showWrapped(cr, line.keys, x, y, kColumnWidth, 16.5);
            cairo_set_source_rgb(cr, text, text, text);
            font(cr, 13, false);
            y = showWrapped(cr, line.what, x, y - 1, kColumnWidth, 16.5) + 7;
        }
        x += kColumnWidth + kColumnGap;
    }
    cairo_destroy(cr);
    cairo_surface_flush(image->surface());
    return image;
}

void HelpOverlay::present(SDL_Renderer* renderer, int width, int height, Appearance appearance) {
    if (!shown_ || width <= 0 || height <= 0) return;
    if (texture_ == nullptr || width != width_ || height != height_ || appearance != appearance_) {
        dropTexture();
        const auto image = drawHelpOverlay(width, height, appearance);
        // SDL blends straight alpha; Cairo's pixels are premultiplied.
        std::vector<std::uint32_t> pixels(static_cast<std::size_t>(width) * height);
        for (int y = 0; y < height; ++y) {
            const unsigned char* row =
                image->data() + static_cast<std::ptrdiff_t>(y) * image->stride();
            for (int x = 0; x < width; ++x) {
                std::uint32_t p;
                std::memcpy(&p, row + 4 * x, 4);
                const std::uint32_t a = p >> 24;
                if (a != 0 && a != 255) {
                    auto straight = [a](std::uint32_t c) {
                        return std::min(255u, (c * 255 + a / 2) / a);
                    };
                    p = (a << 24) | (straight((p >> 16) & 0xff) << 16) |
                        (straight((p >> 8) & 0xff) << 8) | straight(p & 0xff);
                }
                pixels[static_cast<std::size_t>(y) * width + x] = p;
            }
        }
        texture_ = SDL_CreateTexture(renderer, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STATIC,
                                     width, height);
        if (texture_ == nullptr) {
            logf("cannot show the help (%d x %d): %s", width, height, SDL_GetError());
            shown_ = false;
            return;
        }
        SDL_UpdateTexture(texture_, nullptr, pixels.data(), width * 4);
        SDL_SetTextureBlendMode(texture_, SDL_BLENDMODE_BLEND);
        width_ = width;
        height_ = height;
        appearance_ = appearance;
    }
    const SDL_Rect area{0, 0, width, height};
    SDL_RenderCopy(renderer, texture_, nullptr, &area);
}

void HelpOverlay::dropTexture() {
    if (texture_ != nullptr) SDL_DestroyTexture(texture_);
    texture_ = nullptr;
}

}  // namespace vornik
