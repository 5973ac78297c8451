#include "display/Renderer.h"

#include <cairo.h>
#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <string_view>
#include <unordered_map>

#include "base/Log.h"
#include "display/Composite.h"
#include "display/TraceStroke.h"
#include "display/Transaction.h"

namespace vornik {
namespace {

constexpr double kMiterLimit = 10.0;
// Renders a kept box's picture outlives its last paint in renderIfChanged (ten seconds at 60 Hz).
constexpr std::uint64_t kKeptRenders = 600;

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

namespace {

struct Digest {
    std::uint64_t h = 0x243f6a8885a308d3u;
    void add(std::uint64_t v) { h = (std::rotl(h, 5) ^ v) * 0x517cc1b727220a95u; }
    void add(double v) { add(std::bit_cast<std::uint64_t>(v)); }
    void add(const void* p) {
        add(static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(p)));
    }
    void add(Point p) { add(p.x), add(p.y); }
    void add(const Color& c) { add(c.r), add(c.g), add(c.b), add(c.a); }
    void add(const std::string& text) {
        add(static_cast<std::uint64_t>(text.size()));
        for (unsigned char c : text) add(static_cast<std::uint64_t>(c));
    }

    // The layer's own drawing, not its sublayers'.
    void addOwn(const Layer& layer, double now) {
        add(&layer);
        add(static_cast<std::uint64_t>(layer.kind()));
        const Rect& b = layer.bounds();
        add(b.origin), add(b.size.width), add(b.size.height);
        add(layer.anchorPoint()), add(layer.position());
        add(layer.backgroundColor());
        add(layer.borderWidth()), add(layer.borderColor());
        add(layer.cornerRadius());
        add(static_cast<std::uint64_t>(layer.cornerCurve()) * 2 + layer.masksToBounds());
        add(static_cast<double>(layer.presentationOpacity(now)));
        add(layer.contents().get());
        if (layer.kind() == Layer::Kind::Shape) {
            const auto& s = static_cast<const ShapeLayer&>(layer);
            add(static_cast<std::uint64_t>(s.path().size()));
            for (const Path::Element& e : s.path().elements()) {
                add(static_cast<std::uint64_t>(e.op));
                const int points = e.op == Path::Op::Curve ? 3 : e.op == Path::Op::Close ? 0 : 1;
                for (int i = 0; i < points; ++i) add(e.points[i]);
            }
            add(s.strokeColor()), add(s.fillColor()), add(s.lineWidth());
            add(static_cast<std::uint64_t>(s.lineJoin()) * 16 +
                static_cast<std::uint64_t>(s.lineCap()) * 4 +
                static_cast<std::uint64_t>(s.fillRule()));
        } else if (layer.kind() == Layer::Kind::Text) {
            const auto& t = static_cast<const TextLayer&>(layer);
            add(t.string()), add(t.fontName()), add(t.fontSize()), add(t.foregroundColor());
            add(static_cast<std::uint64_t>(t.alignmentMode()));
        }
        add(std::uint64_t{layer.mask() != nullptr});
    }

    void addTree(const Layer& layer, double now) {
        addOwn(layer, now);
        // Hidden layers count too: a render marks them as shown, which decides how they fade.
        if (layer.mask()) addTree(*layer.mask(), now);
        add(static_cast<std::uint64_t>(layer.sublayers().size()));
        for (const LayerPtr& sublayer : layer.sublayers()) addTree(*sublayer, now);
    }
};

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
    bool drawTrace(const ShapeLayer& shape, double alpha);
    bool paintKeptLeaf(const Layer& layer, double alpha);
    bool paintDirectly(const Renderer::KeptLeaf& kept, int left, int top,
                       const cairo_rectangle_list_t& clip);
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
    const bool plainLeaf = !hasSublayers && !mask && layer.kind() == Layer::Kind::Plain;
    if (group && plainLeaf && paintKeptLeaf(layer, alpha)) {
        cairo_restore(cr);
        cairo_set_matrix(cr, &parentMatrix);
        return;
    }
    if (group && plainLeaf) {
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
        if (stroke && !fill && drawTrace(s, alpha)) return;
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

// A translucent plain leaf with more than one paint (a box with a border) is a group: drawn
// opaque under the clip of its bounds, then painted at its opacity under that clip. That picture
// is kept between renders, so a box that stays as it is (a held finger's grain box) costs only
// the last paint. False when it cannot be kept: a rotated or skewed drawing, or a clip around it
// with edges inside pixels (the group would be clipped by it twice).
bool RenderPass::paintKeptLeaf(const Layer& layer, double alpha) {
    cairo_matrix_t m;
    cairo_get_matrix(cr, &m);
    if (m.xy != 0.0 || m.yx != 0.0) return false;
    // The clip in device pixels (null when it has edges within pixels).
    cairo_identity_matrix(cr);
    cairo_rectangle_list_t* clip = cairo_copy_clip_rectangle_list(cr);
    cairo_set_matrix(cr, &m);
    struct ClipList {
        cairo_rectangle_list_t* list;
        ~ClipList() { cairo_rectangle_list_destroy(list); }
    } clipList{clip};
    if (clip->status != CAIRO_STATUS_SUCCESS) return false;
    // The group's pixels: its clip's extent, in whole device pixels.
    double x0 = 0.0, y0 = 0.0, x1 = 0.0, y1 = 0.0;
    const Rect& b = layer.bounds();
    x0 = b.minX(), y0 = b.minY(), x1 = b.maxX(), y1 = b.maxY();
    cairo_user_to_device(cr, &x0, &y0);
    cairo_user_to_device(cr, &x1, &y1);
    const int left = static_cast<int>(std::floor(std::min(x0, x1)));
    const int top = static_cast<int>(std::floor(std::min(y0, y1)));
    const int width = static_cast<int>(std::ceil(std::max(x0, x1))) - left;
    const int height = static_cast<int>(std::ceil(std::max(y0, y1))) - top;
    if (width <= 0 || height <= 0 || width > Image::kMaxImageSide ||
        height > Image::kMaxImageSide) {
        return false;
    }
    // What decides the pixels: the layer's own look and where it falls within a pixel.
    Digest key;
    key.add(b.origin), key.add(b.size.width), key.add(b.size.height);
    key.add(layer.backgroundColor()), key.add(layer.borderWidth()), key.add(layer.borderColor());
    key.add(layer.cornerRadius());
    key.add(static_cast<std::uint64_t>(layer.cornerCurve()) * 2 + layer.masksToBounds());
    key.add(layer.contents().get());
    key.add(m.xx), key.add(m.yy), key.add(m.x0 - left), key.add(m.y0 - top);
    key.add(static_cast<std::uint64_t>(width) << 32 | static_cast<std::uint32_t>(height));

    Renderer::KeptLeaf& kept = renderer.keptLeaves_[&layer];
    kept.render = renderer.renders_;
    if (kept.own == nullptr || kept.key != key.h) {
        if (kept.own) cairo_surface_destroy(kept.own);
        kept.own = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
        kept.key = key.h;
        kept.alpha = -1.0;
        cairo_t* own = cairo_create(kept.own);
        cairo_matrix_t shifted = m;
        shifted.x0 -= left;
        shifted.y0 -= top;
        cairo_set_matrix(own, &shifted);
        cairo_rectangle(own, b.minX(), b.minY(), b.size.width, b.size.height);
        cairo_clip(own);
        RenderPass pass{renderer, own, now};
        if (layer.masksToBounds()) {
            roundedRect(own, b, layer.cornerRadius(), layer.cornerCurve());
            cairo_clip(own);
        }
        pass.drawOwn(layer, 1.0);
        pass.drawBorder(layer, 1.0);
        cairo_destroy(own);
        cairo_surface_flush(kept.own);
    }
    if (kept.alpha != alpha) {
        // The group is painted at its opacity under the clip too: done here once for as long as
        // the opacity stays, so each render copies whole pixels.
        if (kept.painted == nullptr) {
            kept.painted = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
        } else if (cairo_image_surface_get_width(kept.painted) != width ||
                   cairo_image_surface_get_height(kept.painted) != height) {
            cairo_surface_destroy(kept.painted);
            kept.painted = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
        }
        cairo_t* paint = cairo_create(kept.painted);
        cairo_set_operator(paint, CAIRO_OPERATOR_CLEAR);
        cairo_paint(paint);
        cairo_set_operator(paint, CAIRO_OPERATOR_OVER);
        cairo_translate(paint, -left, -top);
        cairo_transform(paint, &m);
        cairo_rectangle(paint, b.minX(), b.minY(), b.size.width, b.size.height);
        cairo_clip(paint);
        cairo_identity_matrix(paint);
        cairo_set_source_surface(paint, kept.own, 0, 0);
        cairo_paint_with_alpha(paint, alpha);
        cairo_destroy(paint);
        cairo_surface_flush(kept.painted);
        kept.alpha = alpha;
        // Its rows, each equal one given once: a box's inside is one row many times over.
        const auto* data =
            reinterpret_cast<const std::uint32_t*>(cairo_image_surface_get_data(kept.painted));
        const int stride = cairo_image_surface_get_stride(kept.painted) / 4;
        kept.rows.resize(static_cast<std::size_t>(height));
        for (int y = 0; y < height; ++y) {
            const std::uint32_t* row = data + static_cast<std::ptrdiff_t>(y) * stride;
            const bool repeats =
                y > 0 && std::equal(row, row + width, kept.rows[static_cast<std::size_t>(y) - 1]);
            kept.rows[static_cast<std::size_t>(y)] =
                repeats ? kept.rows[static_cast<std::size_t>(y) - 1] : row;
        }
    }
    cairo_identity_matrix(cr);
    if (!paintDirectly(kept, left, top, *clip)) {
        cairo_set_source_surface(cr, kept.painted, left, top);
        cairo_paint(cr);
    }
    return true;
}

// A kept picture put down straight into the target's pixels, clip rectangle by clip rectangle:
// for many boxes a frame, Cairo's set-up for each paint costs more than the pixels. False when
// the target is not plain ARGB32 pixels or this CPU has no faster way.
bool RenderPass::paintDirectly(const Renderer::KeptLeaf& kept, int left, int top,
                               const cairo_rectangle_list_t& clip) {
    cairo_surface_t* target = cairo_get_group_target(cr);
    if (!compositeOverIsFast() || cairo_surface_get_type(target) != CAIRO_SURFACE_TYPE_IMAGE ||
        cairo_image_surface_get_format(target) != CAIRO_FORMAT_ARGB32) {
        return false;
    }
    double dx = 0.0, dy = 0.0;
    cairo_surface_get_device_offset(target, &dx, &dy);
    if (dx != 0.0 || dy != 0.0) return false;  // a group smaller than the picture
    cairo_surface_flush(target);
    const int targetWidth = cairo_image_surface_get_width(target);
    const int targetHeight = cairo_image_surface_get_height(target);
    auto* pixels = reinterpret_cast<std::uint32_t*>(cairo_image_surface_get_data(target));
    const int stride = cairo_image_surface_get_stride(target) / 4;
    const int width = cairo_image_surface_get_width(kept.painted);
    const int height = cairo_image_surface_get_height(kept.painted);
    for (int i = 0; i < clip.num_rectangles; ++i) {
        // The picture within the clip rectangle and the target.
        const cairo_rectangle_t& r = clip.rectangles[i];
        const int x0 = std::max({left, static_cast<int>(r.x), 0});
        const int y0 = std::max({top, static_cast<int>(r.y), 0});
        const int x1 = std::min({left + width, static_cast<int>(r.x + r.width), targetWidth});
        const int y1 = std::min({top + height, static_cast<int>(r.y + r.height), targetHeight});
        if (x0 >= x1 || y0 >= y1) continue;
        compositeOver(kept.rows.data() + (y0 - top), x0 - left,
                      pixels + static_cast<std::ptrdiff_t>(y0) * stride + x0, stride, x1 - x0,
                      y1 - y0);
        cairo_surface_mark_dirty_rectangle(target, x0, y0, x1 - x0, y1 - y0);
    }
    return true;
}

// A stroked trace (the oscilloscope: lines only, x always growing, butt caps, not rotated or
// stretched) through TraceStroke, its coverage painted as a mask. False for any other stroke.
bool RenderPass::drawTrace(const ShapeLayer& shape, double alpha) {
    if (shape.lineCap() != LineCap::Butt || shape.lineJoin() == LineJoin::Round) return false;
    const auto& elements = shape.path().elements();
    if (elements.size() < 2 || elements[0].op != Path::Op::Move) return false;
    cairo_matrix_t m;
    cairo_get_matrix(cr, &m);
    if (m.xy != 0.0 || m.yx != 0.0 || !(m.xx > 0.0) || std::fabs(m.yy) != m.xx) return false;
    std::vector<Point>& points = renderer.tracePoints_;
    points.clear();
    for (const Path::Element& e : elements) {
        if (&e != &elements[0] && e.op != Path::Op::Line) return false;
        double x = e.points[0].x, y = e.points[0].y;
        cairo_user_to_device(cr, &x, &y);
        points.push_back({x, y});
    }
    double x0 = 0.0, y0 = 0.0, x1 = 0.0, y1 = 0.0;
    cairo_clip_extents(cr, &x0, &y0, &x1, &y1);
    cairo_user_to_device(cr, &x0, &y0);
    cairo_user_to_device(cr, &x1, &y1);
    const PixelBox clip{static_cast<int>(std::floor(std::min(x0, x1))),
                        static_cast<int>(std::floor(std::min(y0, y1))),
                        static_cast<int>(std::ceil(std::max(x0, x1))),
                        static_cast<int>(std::ceil(std::max(y0, y1)))};
    TraceStroke& trace = renderer.trace_;
    if (!trace.draw(points, shape.lineWidth() * m.xx * 0.5, shape.lineJoin() == LineJoin::Miter,
                    kMiterLimit, clip)) {
        return false;
    }
    const PixelBox& box = trace.box();
    if (box.isEmpty()) return true;
    cairo_surface_t* mask = cairo_image_surface_create_for_data(
        trace.data(), CAIRO_FORMAT_A8, box.width(), box.height(), trace.stride());
    cairo_save(cr);
    cairo_identity_matrix(cr);
    setSource(cr, shape.strokeColor(), alpha);
    cairo_mask_surface(cr, mask, box.x0, box.y0);
    cairo_restore(cr);
    cairo_surface_destroy(mask);
    return true;
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
    for (auto& entry : keptLeaves_) entry.second.release();
    if (cr_) cairo_destroy(cr_);
    if (prefixCr_) cairo_destroy(prefixCr_);
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

namespace {

cairo_t* createContext(const Image& image) {
    cairo_t* cr = cairo_create(image.surface());
    // Unhinted outlines and metrics: text looks the same at every zoom and on every machine.
    cairo_font_options_t* options = cairo_font_options_create();
    cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
    cairo_set_font_options(cr, options);
    cairo_font_options_destroy(options);
    return cr;
}

// A side in whole pixels for a side in points.
int pixelsFor(double points, double zoom) {
    // A size that is whole in pixels (a window's width over its zoom, times the zoom) may land a
    // rounding error below it: that is still the whole pixel.
    const double p = points * zoom + 1e-6;
    return p > 0.0 ? static_cast<int>(std::min(p, double{Image::kMaxImageSide} + 1.0)) : 0;
}

}  // namespace

void Renderer::prepare(int width, int height, bool clear) {
    if (cr_ && image_->width() == width && image_->height() == height) {
        if (clear) image_->clear();
        return;
    }
    if (cr_) cairo_destroy(cr_);
    image_ = Image::create(width, height);
    cr_ = createContext(*image_);
}

const Image& Renderer::render(const Layer& root, double zoom, double now) {
    const Rect& b = root.bounds();
    int width = 0, height = 0;
    if (!(zoom > 0.0) || !std::isfinite(zoom)) {
        logf("cannot render at a zoom of %g pixels per point; the picture is empty", zoom);
        zoom = 1.0;
    } else {
        width = pixelsFor(b.size.width, zoom);
        height = pixelsFor(b.size.height, zoom);
    }
    prepare(width, height, true);
    digest_ = 0;
    if (prefix_) prefix_->clear();  // this picture may be of another tree
    prefixUnits_ = 0;
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
    ++renders_;
    pass.drawLayer(root, 1.0);
    cairo_restore(cr);
    // Boxes not drawn this time are gone or have changed their look: their pictures go.
    std::erase_if(keptLeaves_, [this](auto& entry) {
        if (entry.second.render == renders_) return false;
        entry.second.release();
        return true;
    });
    cairo_surface_flush(image_->surface());
    return *image_;
}

namespace {

// Whether a layer's sublayers can be drawn straight into its parent's picture: it then draws its
// own paint and theirs after it, with nothing composited as a group.
bool drawsThrough(const Layer& layer, double now) {
    return !layer.sublayers().empty() && clamp01(layer.presentationOpacity(now)) == 1.0 &&
           !layer.mask() && !layer.masksToBounds() && !drawsBorder(layer);
}

}  // namespace

void Renderer::collectUnits(const Layer& layer, Point parentOffset, double now) {
    const Rect f = layer.frame();
    const Rect& b = layer.bounds();
    const Point offset{parentOffset.x + f.origin.x - b.origin.x,
                       parentOffset.y + f.origin.y - b.origin.y};
    Unit unit{&layer, drawsThrough(layer, now), parentOffset, 0};
    Digest digest;
    if (unit.own) {
        unit.offset = offset;
        digest.addOwn(layer, now);
    } else {
        digest.addTree(layer, now);
    }
    digest.add(unit.offset);
    unit.digest = digest.h;
    units_.push_back(unit);
    if (unit.own) {
        for (const LayerPtr& sublayer : layer.sublayers()) collectUnits(*sublayer, offset, now);
    }
}

void Renderer::drawUnits(cairo_t* cr, std::size_t first, std::size_t last, double now) {
    cairo_save(cr);
    const int height = cairo_image_surface_get_height(cairo_get_target(cr));
    cairo_matrix_t base;
    cairo_matrix_init_translate(&base, 0.0, height);
    cairo_matrix_scale(&base, zoom_, -zoom_);
    cairo_matrix_translate(&base, -origin_.x, -origin_.y);
    RenderPass pass{*this, cr, now};
    for (std::size_t i = first; i < last; ++i) {
        const Unit& unit = units_[i];
        cairo_set_matrix(cr, &base);
        cairo_translate(cr, unit.offset.x, unit.offset.y);
        if (unit.own) {
            pass.drawOwn(*unit.layer, 1.0);
        } else {
            pass.drawLayer(*unit.layer, 1.0);
        }
    }
    cairo_restore(cr);
}

bool Renderer::renderIfChanged(const Layer& root, double zoom, double now) {
    const Rect& b = root.bounds();
    if (!(zoom > 0.0) || !std::isfinite(zoom)) {  // render() logs it and draws nothing
        render(root, zoom, now);
        return true;
    }
    const int width = pixelsFor(b.size.width, zoom), height = pixelsFor(b.size.height, zoom);
    units_.clear();
    const Rect frame = root.frame();
    collectUnits(root, {b.origin.x - frame.origin.x, b.origin.y - frame.origin.y}, now);
    Digest all;
    all.add(zoom), all.add(static_cast<std::uint64_t>(width) << 32 | static_cast<unsigned>(height));
    for (const Unit& unit : units_) all.add(unit.digest);
    const std::uint64_t digest = all.h == 0 ? 1 : all.h;  // 0 stands for "nothing rendered"
    if (digest == digest_ && cr_ && zoom == zoom_ && image_->width() == width &&
        image_->height() == height) {
        return false;
    }
    // The units before the first that changed since the last frame are likely to stay: their
    // picture is kept, grown as more stay, and drawn again only when one of them changes.
    std::size_t same = 0;
    while (same < units_.size() && same < lastUnits_.size() &&
           units_[same].layer == lastUnits_[same].layer &&
           units_[same].own == lastUnits_[same].own &&
           units_[same].digest == lastUnits_[same].digest) {
        ++same;
    }
    const bool sameSize =
        prefix_ && prefix_->width() == width && prefix_->height() == height && zoom == zoom_;
    zoom_ = zoom;
    origin_ = b.origin;
    ++renders_;
    prepare(width, height, false);  // every pixel is drawn below
    if (width > 0 && height > 0) {
        if (!sameSize) {
            if (prefixCr_) cairo_destroy(prefixCr_);
            prefix_ = Image::create(width, height);
            prefixCr_ = createContext(*prefix_);
            prefixUnits_ = 0;
        }
        if (same < prefixUnits_) {
            prefix_->clear();
            prefixUnits_ = 0;
        }
        drawUnits(prefixCr_, prefixUnits_, same, now);
        prefixUnits_ = same;
        cairo_surface_flush(prefix_->surface());
        cairo_save(cr_);
        cairo_set_operator(cr_, CAIRO_OPERATOR_SOURCE);
        cairo_set_source_surface(cr_, prefix_->surface(), 0.0, 0.0);
        cairo_paint(cr_);
        cairo_restore(cr_);
        drawUnits(cr_, same, units_.size(), now);
        cairo_surface_flush(image_->surface());
    }
    markPresented(root);
    // Boxes in the kept part are not drawn each frame: their pictures stay a while.
    std::erase_if(keptLeaves_, [this](auto& entry) {
        if (entry.second.render + kKeptRenders > renders_) return false;
        entry.second.release();
        return true;
    });
    std::swap(units_, lastUnits_);
    digest_ = digest;
    return true;
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

void Renderer::KeptLeaf::release() const {
    if (own) cairo_surface_destroy(own);
    if (painted) cairo_surface_destroy(painted);
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
