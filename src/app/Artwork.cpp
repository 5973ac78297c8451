#include "app/Artwork.h"

#include <cairo-svg.h>
#include <cairo.h>

#include <cmath>

#include "app/AppConstants.h"

namespace vornik {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr const char* kFont = "DejaVu Sans";
constexpr int kButtonSide = 60;  // pixels: 30 points at 2 pixels per point

// The accent red of the sliders and the meter.
constexpr double kAccentR = 0.82421875, kAccentG = 0.07421875, kAccentB = 0.1875;

struct Palette {
    double top[3], bottom[3];  // background gradient
    double ink[3];             // titles
    double text[3];            // body text
    double faint[3];           // secondary text and rules
    double strip[3];           // the drawn strip
};

constexpr Palette kLight{{0.965, 0.957, 0.941}, {0.894, 0.882, 0.863}, {0.110, 0.110, 0.125},
                         {0.220, 0.220, 0.240}, {0.470, 0.460, 0.450}, {0.090, 0.090, 0.100}};
constexpr Palette kDark{{0.133, 0.141, 0.161}, {0.071, 0.075, 0.090}, {0.960, 0.955, 0.945},
                        {0.840, 0.835, 0.825}, {0.560, 0.560, 0.580}, {0.020, 0.020, 0.024}};

void setRgb(cairo_t* cr, const double c[3], double alpha = 1.0) {
    cairo_set_source_rgba(cr, c[0], c[1], c[2], alpha);
}

void text(cairo_t* cr, double x, double y, double size, bool bold, const char* s) {
    cairo_select_font_face(cr, kFont, CAIRO_FONT_SLANT_NORMAL,
                           bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, size);
    cairo_move_to(cr, x, y);
    cairo_show_text(cr, s);
}

double textWidth(cairo_t* cr, double size, bool bold, const char* s) {
    cairo_select_font_face(cr, kFont, CAIRO_FONT_SLANT_NORMAL,
                           bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, size);
    cairo_text_extents_t e;
    cairo_text_extents(cr, s, &e);
    return e.x_advance;
}

void roundedRect(cairo_t* cr, double x, double y, double w, double h, double r) {
    cairo_new_sub_path(cr);
    cairo_arc(cr, x + w - r, y + r, r, -kPi / 2, 0);
    cairo_arc(cr, x + w - r, y + h - r, r, 0, kPi / 2);
    cairo_arc(cr, x + r, y + h - r, r, kPi / 2, kPi);
    cairo_arc(cr, x + r, y + r, r, kPi, 3 * kPi / 2);
    cairo_close_path(cr);
}

// A made-up sound for the illustration: a few decaying hits and a swell.
double illustrationLevel(double u) {
    const double hits[] = {0.02, 0.16, 0.30, 0.38, 0.52};
    double level = 0.04;
    for (double h : hits) {
        if (u >= h) level = std::max(level, 0.95 * std::exp(-(u - h) * 28.0));
    }
    if (u > 0.62)
        level =
            std::max(level, 0.55 + 0.3 * std::sin((u - 0.62) * 7.0) * std::exp(-(u - 0.62) * 2.5));
    return std::min(level, 1.0);
}

void drawWindowBackground(cairo_t* cr, bool dark) {
    const Palette& p = dark ? kDark : kLight;
    const double w = app::kPictureWidth;
    const double h = app::kPictureHeight;

    cairo_pattern_t* gradient = cairo_pattern_create_linear(0, 0, 0, h);
    cairo_pattern_add_color_stop_rgb(gradient, 0, p.top[0], p.top[1], p.top[2]);
    cairo_pattern_add_color_stop_rgb(gradient, 1, p.bottom[0], p.bottom[1], p.bottom[2]);
    cairo_set_source(cr, gradient);
    cairo_paint(cr);
    cairo_pattern_destroy(gradient);

    // Title and line.
    setRgb(cr, p.ink);
    text(cr, 64, 118, 64, true, "Vornik");
    cairo_set_source_rgb(cr, kAccentR, kAccentG, kAccentB);
    cairo_rectangle(cr, 68, 140, 56, 5);
    cairo_fill(cr);
    setRgb(cr, p.text);
    text(cr, 64, 184, 21, false, "A sampler you play with your fingers.");

    // How to play.
    struct Line {
        const char* key;
        const char* what;
    };
    const Line lines[] = {
        {"strip", "Play on the strip below, with fingers or the mouse"},
        {"Space", "Switch between the instrument and its controls"},
        {"R", "Record a new sample (hold to record while held)"},
        {"Ctrl+O", "Open an audio file, or drop one on this window"},
        {"Shift-click", "Leave a mouse finger down, for loops"},
        {"F1", "Every key, mouse gesture and MIDI control"},
    };
    double y = 250;
    for (const Line& line : lines) {
        const double kw = textWidth(cr, 13, true, line.key) + 16;
        roundedRect(cr, 64, y - 16, kw, 22, 5);
        setRgb(cr, p.faint, dark ? 0.28 : 0.20);
        cairo_fill(cr);
        setRgb(cr, p.ink);
        text(cr, 72, y, 13, true, line.key);
        setRgb(cr, p.text);
        text(cr, 64 + std::max(kw, 96.0) + 14, y, 15, false, line.what);
        y += 40;
    }

    // The illustration: a strip with a waveform cut into slices, and fingers on it.
    const double sx = 600, sy = 150, sw = 340, sh = 92;
    cairo_save(cr);
    roundedRect(cr, sx, sy, sw, sh, 12);
    setRgb(cr, p.strip);
    cairo_fill_preserve(cr);
    cairo_clip(cr);
    const int bars = 68;
    for (int i = 0; i < bars; ++i) {
        const double u = (i + 0.5) / bars;
        const double ripple = std::sin(i * 1.7);
        const double level = illustrationLevel(u) * (0.7 + 0.3 * ripple * ripple);
        const double bh = level * (sh - 24);
        const double t = u;  // red to warm white along the strip
        cairo_set_source_rgb(cr, kAccentR + (0.98 - kAccentR) * t * 0.7,
                             kAccentG + (0.78 - kAccentG) * t * 0.7,
                             kAccentB + (0.55 - kAccentB) * t * 0.7);
        const double bx = sx + 8 + i * (sw - 16) / bars;
        cairo_rectangle(cr, bx, sy + sh / 2 - bh / 2, (sw - 16) / bars - 1.5, bh);
        cairo_fill(cr);
    }
    cairo_set_source_rgba(cr, 1, 1, 1, 0.55);
    cairo_set_line_width(cr, 1.5);
    for (double u : {0.16, 0.30, 0.52, 0.62}) {
        cairo_move_to(cr, sx + 8 + u * (sw - 16), sy);
        cairo_line_to(cr, sx + 8 + u * (sw - 16), sy + sh);
    }
    cairo_stroke(cr);
    cairo_restore(cr);
    // Two fingertips.
    for (double u : {0.30, 0.66}) {
        const double cx = sx + 8 + u * (sw - 16);
        cairo_arc(cr, cx, sy + sh / 2, 15, 0, 2 * kPi);
        cairo_set_source_rgba(cr, 1, 1, 1, 0.22);
        cairo_fill_preserve(cr);
        cairo_set_source_rgba(cr, 1, 1, 1, 0.85);
        cairo_set_line_width(cr, 2);
        cairo_stroke(cr);
    }
    setRgb(cr, p.faint);
    text(cr, sx + 4, sy + sh + 30, 14, false,
         "slicer  \xc2\xb7  looper  \xc2\xb7  bow  \xc2\xb7  tape");

    // A hint towards the strip under the picture.
    setRgb(cr, p.faint);
    const char* hint = "the strip \xe2\x86\x93";
    text(cr, w - 40 - textWidth(cr, 13, false, hint), h - 11, 13, false, hint);

    // The link's label, centred where the link button lights up.
    const char* link = "Open the user guide";
    const double lx = w * app::kLinkButtonXFraction;
    setRgb(cr, p.text);
    text(cr, lx - textWidth(cr, 12, false, link) / 2, h - app::kLinkButtonY + 4.5, 12, false, link);
}

// --- Button and segment images: white line art on transparent, 60 x 60 pixels ------------------

void lineStyle(cairo_t* cr, double alpha, double width = 3.0) {
    cairo_set_source_rgba(cr, 1, 1, 1, alpha);
    cairo_set_line_width(cr, width);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
}

void drawControls(cairo_t* cr) {
    // Three faders.
    lineStyle(cr, 1.0);
    const double xs[] = {16, 30, 44};
    const double knobs[] = {38, 20, 30};
    for (int i = 0; i < 3; ++i) {
        cairo_move_to(cr, xs[i], 12);
        cairo_line_to(cr, xs[i], 48);
        cairo_stroke(cr);
        cairo_rectangle(cr, xs[i] - 6, knobs[i] - 3.5, 12, 7);
        cairo_fill(cr);
    }
}

void drawEffects(cairo_t* cr) {
    // A source and its echoes.
    lineStyle(cr, 1.0);
    cairo_arc(cr, 16, 30, 5, 0, 2 * kPi);
    cairo_fill(cr);
    for (int i = 0; i < 3; ++i) {
        lineStyle(cr, 1.0 - i * 0.25);
        cairo_arc(cr, 16, 30, 13 + i * 10, -kPi / 3.2, kPi / 3.2);
        cairo_stroke(cr);
    }
}

void drawSlicer(cairo_t* cr) {
    lineStyle(cr, 1.0, 2.5);
    for (int i = 0; i < 4; ++i) {
        roundedRect(cr, 7 + i * 12, 18, 10, 24, 2);
        cairo_stroke(cr);
    }
    cairo_set_source_rgba(cr, 1, 1, 1, 1.0);
    roundedRect(cr, 19, 18, 10, 24, 2);
    cairo_fill(cr);
}

void drawLooper(cairo_t* cr) {
    lineStyle(cr, 1.0);
    cairo_arc(cr, 30, 30, 15, kPi * 0.15, kPi * 1.85);
    cairo_stroke(cr);
    // The arrowhead at the arc's end, pointing on round (along the tangent).
    const double a = kPi * 1.85;
    const double ex = 30 + 15 * std::cos(a), ey = 30 + 15 * std::sin(a);
    const double tx = -std::sin(a), ty = std::cos(a);  // direction of travel
    const double nx = std::cos(a), ny = std::sin(a);   // outward
    cairo_move_to(cr, ex + tx * 7, ey + ty * 7);
    cairo_line_to(cr, ex + nx * 6 - tx * 2, ey + ny * 6 - ty * 2);
    cairo_line_to(cr, ex - nx * 6 - tx * 2, ey - ny * 6 - ty * 2);
    cairo_close_path(cr);
    cairo_fill(cr);
}

void drawBow(cairo_t* cr) {
    // Overlapping grains held at one point.
    lineStyle(cr, 1.0, 2.5);
    for (int i = 0; i < 3; ++i) {
        const double cx = 20 + i * 10;
        cairo_move_to(cr, cx - 12, 44);
        cairo_curve_to(cr, cx - 6, 44, cx - 5, 16, cx, 16);
        cairo_curve_to(cr, cx + 5, 16, cx + 6, 44, cx + 12, 44);
        cairo_stroke(cr);
    }
    cairo_move_to(cr, 6, 48);
    cairo_line_to(cr, 54, 48);
    cairo_stroke(cr);
}

void drawTape(cairo_t* cr) {
    lineStyle(cr, 1.0, 2.5);
    for (double cx : {18.0, 42.0}) {
        cairo_arc(cr, cx, 27, 10, 0, 2 * kPi);
        cairo_stroke(cr);
        cairo_arc(cr, cx, 27, 3, 0, 2 * kPi);
        cairo_fill(cr);
    }
    cairo_move_to(cr, 8, 27);
    cairo_line_to(cr, 8, 45);
    cairo_line_to(cr, 52, 45);
    cairo_line_to(cr, 52, 27);
    cairo_stroke(cr);
}

constexpr double kDimmed = 0.4;  // the unselected segments

// --- The application icon: a sliced waveform over the strip, on a dark rounded square ---------

constexpr double kIconUnits = 256.0;  // drawn in these units, scaled to each size

void drawIcon(cairo_t* cr) {
    const double m = 16, side = kIconUnits - 2 * m;
    cairo_pattern_t* gradient = cairo_pattern_create_linear(0, m, 0, m + side);
    cairo_pattern_add_color_stop_rgb(gradient, 0, 0.200, 0.212, 0.247);
    cairo_pattern_add_color_stop_rgb(gradient, 1, 0.063, 0.067, 0.082);
    roundedRect(cr, m, m, side, side, 52);
    cairo_set_source(cr, gradient);
    cairo_fill(cr);
    cairo_pattern_destroy(gradient);

    // The waveform, red at its start warming to white, mirrored about its middle line.
    const double x0 = 44, x1 = 212, mid = 108, half = 62;
    constexpr int kSteps = 84;
    auto level = [](double u) {
        const double ripple = std::sin(u * 48.0);
        return std::max(0.06, illustrationLevel(u) * (0.86 + 0.14 * ripple * ripple));
    };
    cairo_move_to(cr, x0, mid);
    for (int i = 0; i <= kSteps; ++i) {
        const double u = double(i) / kSteps;
        cairo_line_to(cr, x0 + u * (x1 - x0), mid - level(u) * half);
    }
    for (int i = kSteps; i >= 0; --i) {
        const double u = double(i) / kSteps;
        cairo_line_to(cr, x0 + u * (x1 - x0), mid + level(u) * half);
    }
    cairo_close_path(cr);
    gradient = cairo_pattern_create_linear(x0, 0, x1, 0);
    cairo_pattern_add_color_stop_rgb(gradient, 0, kAccentR, kAccentG, kAccentB);
    cairo_pattern_add_color_stop_rgb(gradient, 1, 0.98, 0.86, 0.72);
    cairo_set_source(cr, gradient);
    cairo_fill(cr);
    cairo_pattern_destroy(gradient);

    // Slice markers at the hits.
    cairo_set_source_rgba(cr, 1, 1, 1, 0.6);
    cairo_set_line_width(cr, 4);
    for (double u : {0.16, 0.30, 0.52}) {
        cairo_move_to(cr, x0 + u * (x1 - x0), mid - half - 8);
        cairo_line_to(cr, x0 + u * (x1 - x0), mid + half + 8);
    }
    cairo_stroke(cr);

    // The strip, and a fingertip on it.
    roundedRect(cr, x0 - 4, 192, x1 - x0 + 8, 24, 12);
    cairo_set_source_rgba(cr, 1, 1, 1, 0.16);
    cairo_fill(cr);
    cairo_arc(cr, x0 + 0.30 * (x1 - x0), 204, 17, 0, 2 * kPi);
    cairo_set_source_rgb(cr, 0.98, 0.97, 0.95);
    cairo_fill(cr);
}

cairo_status_t appendToString(void* closure, const unsigned char* data, unsigned int length) {
    static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
    return CAIRO_STATUS_SUCCESS;
}

}  // namespace

const std::vector<std::string>& artworkNames() {
    static const std::vector<std::string> names{"Window Background",
                                                "Window Background Dark",
                                                "effects@2x",
                                                "controls@2x",
                                                "slicer@2x",
                                                "slicer.disabled@2x",
                                                "looper@2x",
                                                "looper.disabled@2x",
                                                "bow@2x",
                                                "bow.disabled@2x",
                                                "tape@2x",
                                                "tape.disabled@2x",
                                                "icon-48",
                                                "icon-128",
                                                "icon-256"};
    return names;
}

std::shared_ptr<Image> drawArtwork(std::string_view name) {
    const bool isWindow = name == "Window Background" || name == "Window Background Dark";
    bool known = isWindow;
    for (const std::string& n : artworkNames()) known = known || n == name;
    if (!known) return nullptr;
    if (name.starts_with("icon-")) {
        const int side = std::stoi(std::string(name.substr(5)));
        auto image = Image::create(side, side);
        cairo_t* cr = cairo_create(image->surface());
        cairo_scale(cr, side / kIconUnits, side / kIconUnits);
        drawIcon(cr);
        cairo_destroy(cr);
        cairo_surface_flush(image->surface());
        return image;
    }

    auto image = isWindow ? Image::create(app::kPictureWidth, app::kPictureHeight)
                          : Image::create(kButtonSide, kButtonSide);
    cairo_t* cr = cairo_create(image->surface());
    cairo_font_options_t* options = cairo_font_options_create();
    cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
    cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
    cairo_set_font_options(cr, options);
    cairo_font_options_destroy(options);

    const bool dimmed = name.find(".disabled") != std::string_view::npos;
    if (isWindow) {
        drawWindowBackground(cr, name == "Window Background Dark");
    } else {
        // Drawn opaque, then laid down at once: overlapping strokes of a dimmed image stay even.
        cairo_push_group(cr);
    }
    if (name == "controls@2x") {
        drawControls(cr);
    } else if (name == "effects@2x") {
        drawEffects(cr);
    } else if (name.starts_with("slicer")) {
        drawSlicer(cr);
    } else if (name.starts_with("looper")) {
        drawLooper(cr);
    } else if (name.starts_with("bow")) {
        drawBow(cr);
    } else if (name.starts_with("tape")) {
        drawTape(cr);
    }
    if (!isWindow) {
        cairo_pop_group_to_source(cr);
        cairo_paint_with_alpha(cr, dimmed ? kDimmed : 1.0);
    }
    cairo_destroy(cr);
    cairo_surface_flush(image->surface());
    return image;
}

std::string drawIconSvg() {
    std::string svg;
    cairo_surface_t* surface =
        cairo_svg_surface_create_for_stream(appendToString, &svg, kIconUnits, kIconUnits);
    cairo_svg_surface_set_document_unit(surface, CAIRO_SVG_UNIT_PX);
    cairo_t* cr = cairo_create(surface);
    drawIcon(cr);
    cairo_destroy(cr);
    cairo_surface_finish(surface);
    cairo_surface_destroy(surface);
    // Cairo numbers its surfaces across the process: the same icon must give the same text.
    const std::string numbered = "<g id=\"surface";
    if (const auto at = svg.find(numbered); at != std::string::npos) {
        const auto end = svg.find('"', at + numbered.size());
        if (end != std::string::npos) svg.replace(at, end - at, "<g id=\"icon");
    }
    return svg;
}

}  // namespace vornik
