#include "display/Renderer.h"

#include <cairo.h>
#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <cmath>
#include <string_view>

#include "base/Log.h"
#include "display/Transaction.h"

namespace vornik {
namespace {

constexpr double kMiterLimit = 10.0;

// Renderers alive now: their font faces keep entries in Cairo's caches, which must be empty
// before the caches can be dropped.
int gLiveRenderers = 0;
constexpr double kCircleKappa = 0.5522847498307936;  // cubic approximation of a quarter circle

// The continuous corner: three cubics per corner that start 1.528 radii before the corner and
// bend with no jump in curvature, given as (along the incoming edge back from the corner, along
// the outgoing edge away from it) in radii.
constexpr double kContinuousReach = 1.52866483;
constexpr double kContinuous[9][2] = {
    {1.08849323, 0.0},        {0.86840689, 0.0},        {0.66993427, 0.06549600},
    {0.37282392, 0.16906013}, {0.16906013, 0.37282401}, {0.06549600, 0.66993427},
    {0.0, 0.86840701},        {0.0, 1.08849299},        {0.0, kContinuousReach},
};

double clamp01(double v) { return v > 0.0 ? (v < 1.0 ? v : 1.0) : 0.0; }  // NaN gives 0

void setSource(cairo_t* cr, const Color& c, double alpha) {
    cairo_set_source_rgba(cr, clamp01(c.r), clamp01(c.g), clamp01(c.b), clamp01(c.a) * alpha);
}

// One corner at `c`, reached along direction u and left along direction v.
void corner(cairo_t* cr, Point c, Point u, Point v, double r, bool continuous, bool first) {
    auto at = [&](double back, double on) {
        return Point{c.x - back * r * u.x + on * r * v.x, c.y - back * r * u.y + on * r * v.y};
    };
    const Point start = at(continuous ? kContinuousReach : 1.0, 0.0);
    if (first) {
        cairo_move_to(cr, start.x, start.y);
    } else {
        cairo_line_to(cr, start.x, start.y);
    }
    if (continuous) {
        for (int i = 0; i < 9; i += 3) {
            const Point p1 = at(kContinuous[i][0], kContinuous[i][1]);
            const Point p2 = at(kContinuous[i + 1][0], kContinuous[i + 1][1]);
            const Point p3 = at(kContinuous[i + 2][0], kContinuous[i + 2][1]);
            cairo_curve_to(cr, p1.x, p1.y, p2.x, p2.y, p3.x, p3.y);
        }
    } else {
        const Point p1 = at(1.0 - kCircleKappa, 0.0);
        const Point p2 = at(0.0, 1.0 - kCircleKappa);
        const Point p3 = at(0.0, 1.0);
        cairo_curve_to(cr, p1.x, p1.y, p2.x, p2.y, p3.x, p3.y);
    }
}

// Adds the rectangle with rounded corners to the current path. A continuous curve that does not
// fit becomes circular, so circles and capsules stay exact.
void roundedRect(cairo_t* cr, const Rect& r, double radius, CornerCurve curve) {
    const double w = r.size.width, h = r.size.height;
    const double half = std::min(w, h) * 0.5;
    radius = std::min(radius, half);
    if (!(radius > 0.0)) {
        cairo_rectangle(cr, r.origin.x, r.origin.y, w, h);
        return;
    }
    const bool continuous = curve == CornerCurve::Continuous && radius * kContinuousReach <= half;
    const double x0 = r.minX(), y0 = r.minY(), x1 = r.maxX(), y1 = r.maxY();
    corner(cr, {x1, y0}, {1, 0}, {0, 1}, radius, continuous, true);
    corner(cr, {x1, y1}, {0, 1}, {-1, 0}, radius, continuous, false);
    corner(cr, {x0, y1}, {-1, 0}, {0, -1}, radius, continuous, false);
    corner(cr, {x0, y0}, {0, -1}, {1, 0}, radius, continuous, false);
    cairo_close_path(cr);
}

void appendPath(cairo_t* cr, const Path& path) {
    for (const Path::Element& e : path.elements()) {
        switch (e.op) {
            case Path::Op::Move:
                cairo_move_to(cr, e.points[0].x, e.points[0].y);
                break;
            case Path::Op::Line:
                cairo_line_to(cr, e.points[0].x, e.points[0].y);
                break;
            case Path::Op::Curve:
                cairo_curve_to(cr, e.points[0].x, e.points[0].y, e.points[1].x, e.points[1].y,
                               e.points[2].x, e.points[2].y);
                break;
            case Path::Op::Close:
                cairo_close_path(cr);
                break;
        }
    }
}

cairo_line_join_t cairoJoin(LineJoin j) {
    switch (j) {
        case LineJoin::Round:
            return CAIRO_LINE_JOIN_ROUND;
        case LineJoin::Bevel:
            return CAIRO_LINE_JOIN_BEVEL;
        case LineJoin::Miter:
            break;
    }
    return CAIRO_LINE_JOIN_MITER;
}

cairo_line_cap_t cairoCap(LineCap c) {
    switch (c) {
        case LineCap::Round:
            return CAIRO_LINE_CAP_ROUND;
        case LineCap::Square:
            return CAIRO_LINE_CAP_SQUARE;
        case LineCap::Butt:
            break;
    }
    return CAIRO_LINE_CAP_BUTT;
}

void markPresented(const Layer& layer) {
    layer.markPresented();
    for (const LayerPtr& sublayer : layer.sublayers()) markPresented(*sublayer);
    if (layer.mask()) markPresented(*layer.mask());
}

bool hasSize(const Rect& r) { return r.size.width > 0.0 && r.size.height > 0.0; }

bool drawsFill(const ShapeLayer& s) { return s.fillColor().isVisible() && !s.path().isEmpty(); }
bool drawsStroke(const ShapeLayer& s) {
    return s.strokeColor().isVisible() && s.lineWidth() > 0.0 && !s.path().isEmpty();
}
bool drawsText(const TextLayer& t) {
    return t.foregroundColor().isVisible() && !t.string().empty() && t.fontSize() > 0.0;
}
bool drawsBorder(const Layer& l) {
    return l.borderWidth() > 0.0 && l.borderColor().isVisible() && hasSize(l.bounds());
}

// How many separate things the layer itself paints. With one at most, its opacity can go straight
// into that paint's alpha; with more (or with sublayers) they are composited as a group first, so
// that overlaps inside the layer do not show through.
int paintCount(const Layer& l) {
    int n = 0;
    if (l.backgroundColor().isVisible() && hasSize(l.bounds())) ++n;
    if (l.contents() && hasSize(l.bounds())) ++n;
    if (l.kind() == Layer::Kind::Shape) {
        const auto& s = static_cast<const ShapeLayer&>(l);
        n += drawsFill(s) + drawsStroke(s);
    } else if (l.kind() == Layer::Kind::Text) {
        n += drawsText(static_cast<const TextLayer&>(l));
    }
    if (drawsBorder(l)) ++n;
    return n;
}

}  // namespace

// One render of one tree: the recursion with what it needs at hand.
struct RenderPass {
    Renderer& renderer;
    cairo_t* cr;
    double now;

    void drawLayer(const Layer& layer, double alphaScale);
    void drawOwn(const Layer& layer, double alpha);  // background, contents, path or text
    void drawBorder(const Layer& layer, double alpha);
    void drawText(const TextLayer& text, double alpha);
    void drawImage(const Layer& layer, double alpha);
};

void RenderPass::drawLayer(const Layer& layer, double alphaScale) {
    layer.markPresented();
    const double alpha = clamp01(layer.presentationOpacity(now)) * alphaScale;
    if (alpha <= 0.0) {
        // Not drawn, but on screen all the same: later changes fade from here.
        for (const LayerPtr& sublayer : layer.sublayers()) markPresented(*sublayer);
        if (layer.mask()) markPresented(*layer.mask());
        return;
    }

    const Rect& b = layer.bounds();
    const Point anchor = layer.anchorPoint();
    cairo_matrix_t parentMatrix;
    cairo_get_matrix(cr, &parentMatrix);
    cairo_translate(cr, layer.position().x - anchor.x * b.size.width - b.origin.x,
                    layer.position().y - anchor.y * b.size.height - b.origin.y);

    const bool hasSublayers = !layer.sublayers().empty();
    const Layer* mask = layer.mask().get();
    const bool clips = layer.masksToBounds();
    const bool group = mask || (alpha < 1.0 && (hasSublayers || paintCount(layer) > 1));

    if (!hasSublayers && !mask && !clips && !group) {  // the common leaf: no state to save
        drawOwn(layer, alpha);
        drawBorder(layer, alpha);
        cairo_set_matrix(cr, &parentMatrix);
        return;
    }

    cairo_save(cr);
    if (group && !hasSublayers && !mask && layer.kind() == Layer::Kind::Plain) {
        // A plain leaf paints only inside its bounds: its group needs no more room than that
        // (a group of the whole picture costs a clear and a composite of every pixel).
        cairo_rectangle(cr, b.minX(), b.minY(), b.size.width, b.size.height);
        cairo_clip(cr);
    }
    if (group) cairo_push_group(cr);
    const double inner = group ? 1.0 : alpha;
    if (clips) {
        roundedRect(cr, b, layer.cornerRadius(), layer.cornerCurve());
        cairo_clip(cr);
    }
    drawOwn(layer, inner);
    for (const LayerPtr& sublayer : layer.sublayers()) drawLayer(*sublayer, inner);
    drawBorder(layer, inner);
    if (group) {
        cairo_pop_group_to_source(cr);
        if (mask) {
            // The mask lives in this layer's space; its alpha (times our opacity) lets us through.
            cairo_push_group(cr);
            drawLayer(*mask, alpha);
            cairo_pattern_t* maskPattern = cairo_pop_group(cr);
            cairo_mask(cr, maskPattern);
            cairo_pattern_destroy(maskPattern);
        } else {
            cairo_paint_with_alpha(cr, alpha);
        }
    }
    cairo_restore(cr);
    cairo_set_matrix(cr, &parentMatrix);
}

void RenderPass::drawOwn(const Layer& layer, double alpha) {
    const Rect& b = layer.bounds();
    const bool sized = hasSize(b);
    if (sized && layer.backgroundColor().isVisible()) {
        roundedRect(cr, b, layer.cornerRadius(), layer.cornerCurve());
        setSource(cr, layer.backgroundColor(), alpha);
        cairo_set_fill_rule(cr, CAIRO_FILL_RULE_WINDING);
        cairo_fill(cr);
    }
    if (sized && layer.contents()) drawImage(layer, alpha);

    if (layer.kind() == Layer::Kind::Shape) {
        const auto& s = static_cast<const ShapeLayer&>(layer);
        const bool fill = drawsFill(s), stroke = drawsStroke(s);
        if (fill || stroke) {
            appendPath(cr, s.path());
            if (fill) {
                cairo_set_fill_rule(cr, s.fillRule() == FillRule::EvenOdd
                                            ? CAIRO_FILL_RULE_EVEN_ODD
                                            : CAIRO_FILL_RULE_WINDING);
                setSource(cr, s.fillColor(), alpha);
                if (stroke) {
                    cairo_fill_preserve(cr);
                } else {
                    cairo_fill(cr);
                }
            }
            if (stroke) {
                cairo_set_line_width(cr, s.lineWidth());
                cairo_set_line_join(cr, cairoJoin(s.lineJoin()));
                cairo_set_line_cap(cr, cairoCap(s.lineCap()));
                cairo_set_miter_limit(cr, kMiterLimit);
                setSource(cr, s.strokeColor(), alpha);
                cairo_stroke(cr);
            }
        }
    } else if (layer.kind() == Layer::Kind::Text) {
        const auto& t = static_cast<const TextLayer&>(layer);
        if (drawsText(t)) drawText(t, alpha);
    }
}

void RenderPass::drawBorder(const Layer& layer, double alpha) {
    if (!drawsBorder(layer)) return;
    // The band between the bounds and the bounds inset by the width, over everything else.
    const Rect& b = layer.bounds();
    const double inset = layer.borderWidth();
    roundedRect(cr, b, layer.cornerRadius(), layer.cornerCurve());
    if (inset * 2.0 < std::min(b.size.width, b.size.height)) {
        roundedRect(cr,
                    Rect::make(b.minX() + inset, b.minY() + inset, b.size.width - 2 * inset,
                               b.size.height - 2 * inset),
                    std::max(0.0, layer.cornerRadius() - inset), layer.cornerCurve());
    }
    cairo_set_fill_rule(cr, CAIRO_FILL_RULE_EVEN_ODD);
    setSource(cr, layer.borderColor(), alpha);
    cairo_fill(cr);
}

void RenderPass::drawImage(const Layer& layer, double alpha) {
    const Image& image = *layer.contents();
    if (image.width() == 0 || image.height() == 0) return;
    const Rect& b = layer.bounds();
    cairo_save(cr);
    cairo_rectangle(cr, b.minX(), b.minY(), b.size.width, b.size.height);
    cairo_clip(cr);
    // Image rows run top to bottom; our y runs upward.
    cairo_translate(cr, b.minX(), b.maxY());
    cairo_scale(cr, b.size.width / image.width(), -b.size.height / image.height());
    cairo_set_source_surface(cr, image.surface(), 0, 0);
    cairo_pattern_set_extend(cairo_get_source(cr), CAIRO_EXTEND_PAD);
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_GOOD);
    cairo_paint_with_alpha(cr, alpha);
    cairo_restore(cr);
}

void RenderPass::drawText(const TextLayer& text, double alpha) {
    const Rect& b = text.bounds();
    cairo_set_font_face(cr, renderer.fontFace(text.fontName()));
    cairo_set_font_size(cr, text.fontSize());
    cairo_font_extents_t font;
    cairo_font_extents(cr, &font);
    setSource(cr, text.foregroundColor(), alpha);

    // Lines from the top of the bounds down; the first line's ascent touches the top.
    std::string_view rest = text.string();
    double baseline = b.maxY() - font.ascent;
    while (true) {
        const std::size_t end = rest.find('\n');
        const std::string_view line = rest.substr(0, end);
        const char* chars;
        if (end == std::string_view::npos) {
            chars = rest.data();  // the string's own terminator ends the last line
        } else {
            renderer.lineBuffer_.assign(line);
            chars = renderer.lineBuffer_.c_str();
        }
        cairo_text_extents_t extents;
        cairo_text_extents(cr, chars, &extents);
        double x = b.minX();
        if (text.alignmentMode() == TextAlignment::Center) {
            x += (b.size.width - extents.x_advance) * 0.5;
        } else if (text.alignmentMode() == TextAlignment::Right) {
            x += b.size.width - extents.x_advance;
        }
        cairo_matrix_t m;
        cairo_get_matrix(cr, &m);
        cairo_translate(cr, x, baseline);
        cairo_scale(cr, 1.0, -1.0);  // glyphs are drawn y-down
        cairo_move_to(cr, 0.0, 0.0);
        cairo_show_text(cr, chars);
        cairo_new_path(cr);
        cairo_set_matrix(cr, &m);
        if (end == std::string_view::npos) break;
        rest.remove_prefix(end + 1);
        baseline -= font.height;
    }
}

Renderer::Renderer() : image_(Image::create(0, 0)) { ++gLiveRenderers; }

Renderer::~Renderer() {
    --gLiveRenderers;
    if (cr_) cairo_destroy(cr_);
    for (FontEntry& f : fonts_) cairo_font_face_destroy(f.face);
}

cairo_font_face_t* Renderer::fontFace(const std::string& name) {
    for (const FontEntry& f : fonts_) {
        if (f.name == name) return f.face;
    }
    std::string family = name;
    cairo_font_weight_t weight = CAIRO_FONT_WEIGHT_NORMAL;
    cairo_font_slant_t slant = CAIRO_FONT_SLANT_NORMAL;
    auto strip = [&family](std::string_view suffix) {
        if (family.size() > suffix.size() && family.ends_with(suffix)) {
            family.resize(family.size() - suffix.size());
            return true;
        }
        return false;
    };
    for (int i = 0; i < 2; ++i) {
        if (strip(" Bold")) weight = CAIRO_FONT_WEIGHT_BOLD;
        if (strip(" Oblique") || strip(" Italic")) slant = CAIRO_FONT_SLANT_OBLIQUE;
    }
    if (family.empty()) family = kSystemFontName;
    cairo_font_face_t* face = cairo_toy_font_face_create(family.c_str(), slant, weight);
    fonts_.push_back(FontEntry{name, face});
    return face;
}

void Renderer::prepare(int width, int height) {
    if (cr_ && image_->width() == width && image_->height() == height) {
        image_->clear();
        return;
    }
    if (cr_) cairo_destroy(cr_);
    image_ = Image::create(width, height);
    cr_ = cairo_create(image_->surface());
    // Unhinted outlines and metrics: text looks the same at every zoom and on every machine.
    cairo_font_options_t* options = cairo_font_options_create();
    cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
    cairo_set_font_options(cr_, options);
    cairo_font_options_destroy(options);
}

const Image& Renderer::render(const Layer& root, double zoom, double now) {
    const Rect& b = root.bounds();
    int width = 0, height = 0;
    if (!(zoom > 0.0) || !std::isfinite(zoom)) {
        logf("cannot render at a zoom of %g pixels per point; the picture is empty", zoom);
        zoom = 1.0;
    } else {
        auto pixels = [zoom](double points) {
            // A size that is whole in pixels (a window's width over its zoom, times the zoom)
            // may land a rounding error below it: that is still the whole pixel.
            const double p = points * zoom + 1e-6;
            return p > 0.0 ? static_cast<int>(std::min(p, double{Image::kMaxImageSide} + 1.0)) : 0;
        };
        width = pixels(b.size.width);
        height = pixels(b.size.height);
    }
    prepare(width, height);
    zoom_ = zoom;
    origin_ = b.origin;
    if (image_->width() == 0 || image_->height() == 0) return *image_;

    cairo_t* cr = cr_;
    cairo_save(cr);
    cairo_identity_matrix(cr);
    cairo_translate(cr, 0.0, image_->height());
    cairo_scale(cr, zoom, -zoom);
    cairo_translate(cr, -b.origin.x, -b.origin.y);
    RenderPass pass{*this, cr, now};
    // The root sits at its own bounds: undo what its position would add.
    const Rect frame = root.frame();
    cairo_translate(cr, b.origin.x - frame.origin.x, b.origin.y - frame.origin.y);
    pass.drawLayer(root, 1.0);
    cairo_restore(cr);
    cairo_surface_flush(image_->surface());
    return *image_;
}

const Image& Renderer::render(const Layer& root, double zoom) {
    return render(root, zoom, Transaction::now());
}

Rgba8 Renderer::pixelAtPoint(double x, double y) const {
    const double col = std::floor((x - origin_.x) * zoom_);
    const double row = image_->height() - 1 - std::floor((y - origin_.y) * zoom_);
    if (!(col >= 0 && row >= 0 && col < image_->width() && row < image_->height())) return {};
    return image_->pixel(static_cast<int>(col), static_cast<int>(row));
}

std::shared_ptr<Image> renderLayerToImage(const Layer& root, double zoom) {
    Renderer renderer;
    renderer.render(root, zoom);
    return renderer.image().copy();
}

void releaseDrawingCaches() {
    if (gLiveRenderers > 0) {
        // Dropping caches that are still in use would abort inside Cairo.
        logf("drawing caches kept: %d renderers are still alive", gLiveRenderers);
        return;
    }
    cairo_debug_reset_static_data();
    FcFini();
}

}  // namespace vornik
