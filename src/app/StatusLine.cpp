#include "app/StatusLine.h"

#include <cairo.h>

#include <cmath>
#include <cstdio>

#include "app/AppConstants.h"
#include "display/Color.h"
#include "display/Layer.h"

namespace vornik {
namespace {

constexpr const char* kSeparator = "  \xc2\xb7  ";  // a middle dot
constexpr double kMargin = 12.0;                    // window units, left and right
constexpr double kGap = 24.0;                       // between the sample and the message
constexpr double kFontSize = 12.5;

std::string lengthText(double seconds) {
    char text[32];
    if (seconds < 60.0) {
        std::snprintf(text, sizeof text, seconds < 1.0 ? "%.2f s" : "%.1f s", seconds);
    } else {
        const auto whole = static_cast<long long>(seconds);
        if (whole < 3600) {
            std::snprintf(text, sizeof text, "%lld:%02lld", whole / 60, whole % 60);
        } else {
            std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", whole / 3600, whole / 60 % 60,
                          whole % 60);
        }
    }
    return text;
}

// The text cut at a character boundary and ended with an ellipsis so that it fits `width`.
std::string fitted(cairo_t* cr, std::string text, double width) {
    cairo_text_extents_t e;
    cairo_text_extents(cr, text.c_str(), &e);
    if (e.x_advance <= width) return text;
    while (!text.empty()) {
        // One character off the end: its continuation bytes, then its first byte.
        while (!text.empty() && (static_cast<unsigned char>(text.back()) & 0xC0) == 0x80) {
            text.pop_back();
        }
        if (!text.empty()) text.pop_back();
        const std::string tried = text + "\xe2\x80\xa6";
        cairo_text_extents(cr, tried.c_str(), &e);
        if (e.x_advance <= width) return tried;
    }
    return {};
}

struct Ink {
    double r, g, b;
};

Ink inkFor(StatusKind kind, bool dark) {
    switch (kind) {
        case StatusKind::warning:
            return dark ? Ink{1.0, 0.70, 0.25} : Ink{0.62, 0.33, 0.0};
        case StatusKind::recording:
            return dark ? Ink{1.0, 0.33, 0.38} : Ink{kAccentRed.r, kAccentRed.g, kAccentRed.b};
        case StatusKind::info:
            break;
    }
    return dark ? Ink{0.96, 0.955, 0.945} : Ink{0.11, 0.11, 0.125};
}

}  // namespace

std::string describeSample(std::string_view name, std::int64_t frames, int channels,
                           double sampleRate) {
    if (name.empty()) return "No sample: drop an audio file here, press Ctrl+O, or r to record";
    std::string text(name);
    text += kSeparator;
    text += lengthText(sampleRate > 0.0 ? static_cast<double>(frames) / sampleRate : 0.0);
    text += kSeparator;
    text += channels == 1   ? std::string("mono")
            : channels == 2 ? std::string("stereo")
                            : std::to_string(channels) + " channels";
    char rate[32];
    std::snprintf(rate, sizeof rate, "%g kHz", sampleRate / 1000.0);
    return text + kSeparator + rate;
}

void StatusLine::show(std::string_view text, StatusKind kind, double now) {
    if (text.empty()) {
        if (message_.empty() || kind != kind_) return;
        message_.clear();
        changed_ = true;
        return;
    }
    changed_ = changed_ || text != message_ || kind != kind_;
    message_ = text;
    kind_ = kind;
    shownAt_ = now;
}

void StatusLine::setSample(std::string_view description) {
    if (description == sample_) return;
    sample_ = description;
    changed_ = true;
}

bool StatusLine::update(double now) {
    if (!message_.empty() && kind_ != StatusKind::recording && now - shownAt_ >= kMessageSeconds) {
        message_.clear();
        changed_ = true;
    }
    const bool changed = changed_;
    changed_ = false;
    return changed;
}

std::shared_ptr<Image> StatusLine::draw(Appearance appearance, int width, int height,
                                        double scale) const {
    auto image = Image::create(width, height);
    if (image->width() == 0 || image->height() == 0) return image;
    const bool dark = appearance == Appearance::Dark;
    cairo_t* cr = cairo_create(image->surface());
    cairo_scale(cr, scale, scale);
    const double w = width / scale, h = height / scale;
    cairo_select_font_face(cr, kSystemFontName, CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, kFontSize);
    cairo_font_extents_t font;
    cairo_font_extents(cr, &font);
    const double baseline = h / 2.0 + (font.ascent - font.descent) / 2.0;

    // The message on the right (a red dot before a recording's), the sample in what is left.
    double messageLeft = w - kMargin;
    if (!message_.empty()) {
        const double dot = kind_ == StatusKind::recording ? kFontSize : 0.0;
        const std::string text = fitted(cr, message_, w - 2.0 * kMargin - dot);
        cairo_text_extents_t e;
        cairo_text_extents(cr, text.c_str(), &e);
        messageLeft = w - kMargin - e.x_advance - dot;
        const Ink ink = inkFor(kind_, dark);
        cairo_set_source_rgb(cr, ink.r, ink.g, ink.b);
        if (dot > 0.0) {
            cairo_arc(cr, messageLeft + dot * 0.35, h / 2.0, dot * 0.3, 0.0, 2.0 * M_PI);
            cairo_fill(cr);
        }
        cairo_move_to(cr, messageLeft + dot, baseline);
        cairo_show_text(cr, text.c_str());
    }
    const double room = messageLeft - kMargin - (message_.empty() ? 0.0 : kGap);
    if (!sample_.empty() && room > kFontSize * 4.0) {
        const std::string text = fitted(cr, sample_, room);
        if (dark) {
            cairo_set_source_rgb(cr, 0.62, 0.62, 0.64);
        } else {
            cairo_set_source_rgb(cr, 0.33, 0.33, 0.35);
        }
        cairo_move_to(cr, kMargin, baseline);
        cairo_show_text(cr, text.c_str());
    }
    cairo_destroy(cr);
    cairo_surface_mark_dirty(image->surface());
    return image;
}

}  // namespace vornik
