#pragma once
// The retained layer tree the strip and the icons are drawn with. Thread: main, for every call
// here (the tree is not shared with other threads).
//
// Geometry: a layer's own coordinate space is its `bounds`; `position` is where its `anchorPoint`
// (a fraction of the bounds, (0.5, 0.5) by default) lies in the superlayer's space. `frame` is
// derived: origin = position - anchorPoint x bounds size, size = bounds size. Setting the frame
// sets the bounds size and the position; setting the anchor point keeps the position (and so moves
// the frame). All in points, origin bottom-left, y upward.
//
// Stacking: sublayers draw in list order, each on top of those before it. A layer draws its
// background, then its contents (image, path or text), then its sublayers, then its border.
//
// Only opacity animates (see Transaction.h); every other change takes effect at once.

#include <memory>
#include <string>
#include <vector>

#include "display/Color.h"
#include "display/Geometry.h"
#include "display/Image.h"
#include "display/Path.h"

namespace vornik {

class Layer;
using LayerPtr = std::shared_ptr<Layer>;

enum class CornerCurve { Circular, Continuous };

class Layer {
public:
    enum class Kind { Plain, Shape, Text };

    static LayerPtr create() { return std::make_shared<Layer>(); }

    Layer() : Layer(Kind::Plain) {}
    virtual ~Layer();
    Layer(const Layer&) = delete;
    Layer& operator=(const Layer&) = delete;

    Kind kind() const { return kind_; }

    // Geometry.
    const Rect& bounds() const { return bounds_; }
    void setBounds(const Rect& bounds) { bounds_ = bounds; }
    Point anchorPoint() const { return anchorPoint_; }
    void setAnchorPoint(Point anchor) { anchorPoint_ = anchor; }
    Point position() const { return position_; }
    void setPosition(Point position) { position_ = position; }
    Rect frame() const;
    void setFrame(const Rect& frame);

    // Look.
    const Color& backgroundColor() const { return backgroundColor_; }
    void setBackgroundColor(const Color& color) { backgroundColor_ = color; }
    double borderWidth() const { return borderWidth_; }
    void setBorderWidth(double width) { borderWidth_ = width; }
    const Color& borderColor() const { return borderColor_; }
    void setBorderColor(const Color& color) { borderColor_ = color; }
    double cornerRadius() const { return cornerRadius_; }
    void setCornerRadius(double radius) { cornerRadius_ = radius; }
    CornerCurve cornerCurve() const { return cornerCurve_; }
    void setCornerCurve(CornerCurve curve) { cornerCurve_ = curve; }
    // Clips contents and sublayers to the (rounded) bounds.
    bool masksToBounds() const { return masksToBounds_; }
    void setMasksToBounds(bool masks) { masksToBounds_ = masks; }

    // Opacity, 0 to 1 (drawn clamped). The model value reads back at once; a change outside a
    // transaction with actions disabled fades the presentation value towards it, once the layer
    // has been on screen. Before its first render a layer has nothing shown to fade from, so
    // every change takes effect at once (new layers set up hidden do not flash).
    float opacity() const { return opacity_; }
    void setOpacity(float opacity);
    // What is shown at `now` (layer clock seconds), or at the layer clock's present time.
    float presentationOpacity(double now) const;
    float presentationOpacity() const;
    bool isFading(double now) const { return fade_.active && now < fade_.start + fade_.duration; }
    // Whether the layer has been drawn (or skipped as transparent) by a render. The renderer
    // marks every layer it visits; whatever else puts a layer on screen marks it too.
    bool hasBeenPresented() const { return presented_; }
    void markPresented() const { presented_ = true; }

    // A layer whose rendered alpha masks this one: where the mask is transparent, this layer
    // (with its sublayers) is not shown. The mask is placed in this layer's own coordinate space.
    // Null for none. A layer cannot mask itself (refused and logged).
    const LayerPtr& mask() const { return mask_; }
    void setMask(LayerPtr mask);

    // An image stretched over the bounds; null for none.
    const std::shared_ptr<const Image>& contents() const { return contents_; }
    void setContents(std::shared_ptr<const Image> image) { contents_ = std::move(image); }
    // Pixels per point of the contents. The renderer draws vector content (paths, text) at its
    // own zoom, so this only records what the caller asked for.
    double contentsScale() const { return contentsScale_; }
    void setContentsScale(double scale) { contentsScale_ = scale; }

    // The tree.
    Layer* superlayer() const { return superlayer_; }
    const std::vector<LayerPtr>& sublayers() const { return sublayers_; }
    // Puts `layer` on top of this layer's sublayers, taking it from its former superlayer. A null
    // layer, this layer itself or one of its ancestors is refused (logged): no cycles.
    void addSublayer(LayerPtr layer);
    // As addSublayer, at `index` in the stacking order (clamped to the end).
    void insertSublayer(LayerPtr layer, std::size_t index);
    void removeFromSuperlayer();
    // Replaces every sublayer; an empty list empties the container.
    void setSublayers(std::vector<LayerPtr> layers);
    void removeAllSublayers() { setSublayers({}); }

protected:
    explicit Layer(Kind kind) : kind_(kind) {}

private:
    struct Fade {
        bool active = false;
        float from = 0.0f;
        double start = 0.0;
        double duration = 0.0;
    };

    bool canAdopt(const Layer* layer) const;
    void detach(std::size_t index);

    Kind kind_;
    Rect bounds_;
    Point anchorPoint_{0.5, 0.5};
    Point position_;
    Color backgroundColor_ = Color::clear();
    double borderWidth_ = 0.0;
    Color borderColor_ = Color::black();
    double cornerRadius_ = 0.0;
    CornerCurve cornerCurve_ = CornerCurve::Circular;
    bool masksToBounds_ = false;
    float opacity_ = 1.0f;
    Fade fade_;
    mutable bool presented_ = false;  // set while rendering, which sees the tree as const
    LayerPtr mask_;
    std::shared_ptr<const Image> contents_;
    double contentsScale_ = 1.0;
    Layer* superlayer_ = nullptr;
    std::vector<LayerPtr> sublayers_;
};

enum class LineJoin { Miter, Round, Bevel };
enum class LineCap { Butt, Round, Square };
enum class FillRule { NonZero, EvenOdd };

// Draws a path: fill first, then stroke. Defaults: opaque black fill, no stroke, width 1, miter
// joins, butt caps. A clear colour means none.
class ShapeLayer : public Layer {
public:
    static std::shared_ptr<ShapeLayer> create() { return std::make_shared<ShapeLayer>(); }
    ShapeLayer() : Layer(Kind::Shape) {}

    const Path& path() const { return path_; }
    // Copies into the layer's own path, reusing its storage.
    void setPath(const Path& path) { path_ = path; }
    void setPath(Path&& path) { path_ = std::move(path); }
    // The layer's own path, to rebuild in place (clear() keeps its storage).
    Path& editPath() { return path_; }

    const Color& strokeColor() const { return strokeColor_; }
    void setStrokeColor(const Color& color) { strokeColor_ = color; }
    const Color& fillColor() const { return fillColor_; }
    void setFillColor(const Color& color) { fillColor_ = color; }
    double lineWidth() const { return lineWidth_; }
    void setLineWidth(double width) { lineWidth_ = width; }
    LineJoin lineJoin() const { return lineJoin_; }
    void setLineJoin(LineJoin join) { lineJoin_ = join; }
    LineCap lineCap() const { return lineCap_; }
    void setLineCap(LineCap cap) { lineCap_ = cap; }
    FillRule fillRule() const { return fillRule_; }
    void setFillRule(FillRule rule) { fillRule_ = rule; }

private:
    Path path_;
    Color strokeColor_ = Color::clear();
    Color fillColor_ = Color::black();
    double lineWidth_ = 1.0;
    LineJoin lineJoin_ = LineJoin::Miter;
    LineCap lineCap_ = LineCap::Butt;
    FillRule fillRule_ = FillRule::NonZero;
};

enum class TextAlignment { Left, Center, Right };

// The face every text of the instrument is drawn in (the system font of the first design).
inline constexpr const char* kSystemFontName = "DejaVu Sans";
inline constexpr double kDefaultFontSize = 36.0;

// A string drawn from the top of the bounds down, one line per '\n', unwrapped. The font is a
// family name, with " Bold" and/or " Oblique" at its end to choose those styles.
class TextLayer : public Layer {
public:
    static std::shared_ptr<TextLayer> create() { return std::make_shared<TextLayer>(); }
    TextLayer() : Layer(Kind::Text) {}

    const std::string& string() const { return string_; }
    void setString(std::string text) { string_ = std::move(text); }
    const std::string& fontName() const { return fontName_; }
    void setFont(std::string name) { fontName_ = std::move(name); }
    double fontSize() const { return fontSize_; }
    void setFontSize(double size) { fontSize_ = size; }
    const Color& foregroundColor() const { return foregroundColor_; }
    void setForegroundColor(const Color& color) { foregroundColor_ = color; }
    TextAlignment alignmentMode() const { return alignment_; }
    void setAlignmentMode(TextAlignment alignment) { alignment_ = alignment; }

private:
    std::string string_;
    std::string fontName_ = kSystemFontName;
    double fontSize_ = kDefaultFontSize;
    Color foregroundColor_ = Color::white(1.0);
    TextAlignment alignment_ = TextAlignment::Left;
};

}  // namespace vornik
