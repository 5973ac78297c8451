#include "app/Icons.h"

#include <cmath>

#include "display/Renderer.h"

namespace vornik {

using namespace icons;

namespace {

// The curves' numbers are narrowed to float exactly where the pictures were first drawn in
// single precision; the casts below keep those roundings.

// The bend of the envelope ramps: 17 at v = 0, 0.85 at v = 1.
float rampBend(float v) { return static_cast<float>(17.0 * (1.0 - 0.95 * static_cast<double>(v))); }

constexpr double kRampReach = 11.7;
constexpr float kFilterLevel = 6.3f;  // the pass band's height

// The container every icon is drawn in: 30 x 30 points, its bounds origin at the bottom-left.
LayerPtr container() {
    auto c = Layer::create();
    c->setBounds(Rect::make(0.0, 0.0, kIconSize, kIconSize));
    c->setAnchorPoint({0.0, 0.0});
    c->setPosition({0.0, 0.0});
    return c;
}

// A white stroked path layer whose origin lies at the container's centre.
std::shared_ptr<ShapeLayer> pathLayer() {
    auto s = ShapeLayer::create();
    s->setAnchorPoint({0.0, 0.0});
    s->setBounds(Rect::make(0.0, 0.0, kIconSize, kIconSize));
    s->setPosition({kIconSize * 0.5, kIconSize * 0.5});
    s->setStrokeColor(Color::white(1.0));
    s->setFillColor(Color::clear());
    s->setLineWidth(kLineWidth);
    s->setLineJoin(LineJoin::Round);
    s->setLineCap(LineCap::Round);
    return s;
}

LayerPtr pathIcon(Path path) {
    LayerPtr c = container();
    auto s = pathLayer();
    s->setPath(std::move(path));
    c->addSublayer(s);
    return c;
}

}  // namespace

Path attackPath(float v) {
    const double k = rampBend(v);
    Path p;
    p.moveTo(-kRampReach, -9.0);
    p.curveTo(k - kRampReach, -9.0, 9.0, 9.0 - k, 9.0, 9.0);
    p.lineTo(9.0, -9.0);
    return p;
}

Path decayPath(float v) {
    const double k = rampBend(v);
    Path p;
    p.moveTo(-9.0, -9.0);
    p.lineTo(-9.0, 9.0);
    p.curveTo(-9.0, 9.0 - k, kRampReach - k, -9.0, kRampReach, -9.0);
    return p;
}

Path lowpassPath(float v, bool flip) {
    const float b = static_cast<float>((static_cast<double>(v) - 0.5) * 13.5);  // the peak
    const float s = v <= 0.6 ? 0.0f : static_cast<float>((v - 0.6) * 15.0);     // upper-range shift
    Path p;
    p.moveTo(-9.0, kFilterLevel);
    p.curveTo(16.0f * v - 9.0f + s, kFilterLevel, b - 1.0f + s, 9.0f, s + b, 9.0f);
    p.curveTo(b + 1.0f + s, 9.0f, (1.0f - v) * -17.0f + 9.0f + s, -9.0f, s + 9.0f, -9.0f);
    if (flip) p.transform(AffineTransform::scale(-1.0, 1.0));
    return p;
}

LayerPtr attackIconLayer(double a) { return pathIcon(attackPath(static_cast<float>(a))); }

LayerPtr decayIconLayer(double d) { return pathIcon(decayPath(static_cast<float>(d))); }

LayerPtr filterIconLayer(double f) {
    Path path;
    if (f < 1.0) {
        path = lowpassPath(static_cast<float>(f * 1.1111111111111112), false);
    } else if (f > 1.0) {
        path = lowpassPath(static_cast<float>((2.0 - f) * 1.1111111111111112), true);
    } else {
        path.moveTo(-9.0, 6.3);  // the filter off: a flat pass band
        path.lineTo(9.0, 6.3);
    }
    LayerPtr c = pathIcon(std::move(path));
    // Only the middle shows: the curves' far ends run out past the sides.
    auto mask = Layer::create();
    mask->setBackgroundColor(Color::white(1.0));
    mask->setBounds(Rect::make(0.0, 0.0, kFilterMaskWidth, kIconSize));
    mask->setPosition({kIconSize * 0.5, kIconSize * 0.5});
    c->setMask(mask);
    return c;
}

LayerPtr delayIconLayer(double t, double b) {
    LayerPtr c = container();
    auto s = pathLayer();
    c->addSublayer(s);
    Path& p = s->editPath();
    const float spacing = static_cast<float>(t * 5.0 + 3.5);
    for (float x = -9.0f; x <= 9.0f; x += spacing) {
        const float loss = static_cast<float>(1.0 - b);
        const float e = loss <= 0.5 ? 1.0f : static_cast<float>((loss - 0.5) * 10.0 + 1.0);
        const float u = (x + 9.0f) / -18.0f + 1.0f;
        const float power = static_cast<float>(std::pow(static_cast<double>(u), e));
        const float h = 9.0f - loss * (1.0f - power) * 9.0f;
        p.moveTo(x, -h);
        p.lineTo(x, h);
    }
    return c;
}

LayerPtr reverbIconLayer(double r) {
    const float rf = static_cast<float>(r);
    const float diameter = 19.0f * rf + 3.0f;
    LayerPtr c = container();
    auto dot = Layer::create();
    dot->setBackgroundColor(Color::white(1.0, 1.0 - 0.7 * rf));
    dot->setBounds(Rect::make(0.0, 0.0, diameter, diameter));
    dot->setAnchorPoint({0.5, 0.5});
    dot->setCornerRadius(diameter * 0.5);
    dot->setPosition({kIconSize * 0.5, kIconSize * 0.5});
    c->addSublayer(dot);
    return c;
}

std::shared_ptr<Image> imageFromLayer(const Layer& layer) {
    // The renderer draws the root's bounds at the zoom: width x 2 by height x 2 pixels.
    return renderLayerToImage(layer, kIconScale);
}

std::shared_ptr<Image> attackIcon(double a) { return imageFromLayer(*attackIconLayer(a)); }
std::shared_ptr<Image> decayIcon(double d) { return imageFromLayer(*decayIconLayer(d)); }
std::shared_ptr<Image> filterIcon(double f) { return imageFromLayer(*filterIconLayer(f)); }
std::shared_ptr<Image> delayIcon(double t, double b) {
    return imageFromLayer(*delayIconLayer(t, b));
}
std::shared_ptr<Image> reverbIcon(double r) { return imageFromLayer(*reverbIconLayer(r)); }

}  // namespace vornik
