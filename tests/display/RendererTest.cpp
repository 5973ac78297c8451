#include <gtest/gtest.h>

#include <cmath>

#include "display/Renderer.h"
#include "display/Transaction.h"
#include "support/DrawingEnvironment.h"
#include "support/Golden.h"
#include "support/LogLines.h"

using namespace vornik;

namespace {

constexpr Color kRed = Color::rgba(1, 0, 0);
constexpr Color kBlue = Color::rgba(0, 0, 1);
constexpr Rgba8 kRed8{255, 0, 0, 255};
constexpr Rgba8 kBlue8{0, 0, 255, 255};
constexpr Rgba8 kNone{0, 0, 0, 0};

// A root of the given size holding `layers`, bottom first.
LayerPtr canvas(double w, double h, std::vector<LayerPtr> layers = {}) {
    auto root = Layer::create();
    root->setBounds(Rect::make(0, 0, w, h));
    root->setSublayers(std::move(layers));
    return root;
}

// A layer placed by its bottom-left corner, as the instrument places its bars and markers.
LayerPtr box(double x, double y, double w, double h, const Color& color) {
    auto l = Layer::create();
    l->setAnchorPoint({0, 0});
    l->setBounds(Rect::make(0, 0, w, h));
    l->setPosition({x, y});
    l->setBackgroundColor(color);
    return l;
}

void setOpacityNow(Layer& layer, float opacity) {
    TransactionScope quiet(true);
    layer.setOpacity(opacity);
}

}  // namespace

TEST(Renderer, DrawsInOrderWithYUpwardAtThePresentationOpacity) {
    ManualClock clock;
    ScopedLayerClock useClock(clock);
    Renderer renderer;
    // Red in the upper half, blue over its right end, a translucent white over its left end.
    const Image& image = renderer.render(*canvas(30, 10,
                                                 {box(0, 5, 20, 5, kRed), box(10, 0, 20, 10, kBlue),
                                                  box(0, 5, 5, 5, Color::white(1.0, 0.5))}),
                                         2.0);
    ASSERT_EQ(image.height(), 20);
    EXPECT_EQ(image.pixel(11, 0), kRed8);  // the top row
    EXPECT_EQ(renderer.pixelAtPoint(5.5, 7.5), kRed8);
    EXPECT_EQ(renderer.pixelAtPoint(15, 7.5), kBlue8);
    EXPECT_NEAR(renderer.pixelAtPoint(2, 7.5).g, 128, 1);  // pink
    // A group at opacity 0.5: its overlapping sublayers do not show through each other.
    auto group = canvas(30, 10, {box(0, 0, 20, 10, kRed), box(10, 0, 20, 10, kBlue)});
    group->setAnchorPoint({0, 0});
    setOpacityNow(*group, 0.5f);
    auto top = canvas(30, 10, {group});
    renderer.render(*top, 2.0);
    EXPECT_EQ(renderer.pixelAtPoint(15, 5).r, 0);
    EXPECT_NEAR(renderer.pixelAtPoint(15, 5).a, 128, 1);
    // The picture shows the presentation value: midway through a fade from 0 to 1.
    setOpacityNow(*group, 0.0f);
    group->setOpacity(1.0f);
    clock.advance(kDefaultFadeDuration / 2);
    renderer.render(*top, 2.0);
    EXPECT_NEAR(renderer.pixelAtPoint(15, 5).a, 128, 1);
    clock.advance(kDefaultFadeDuration);
    // New layers set up hidden outside a transaction (the slice highlights) do not flash, and
    // once drawn, even while hidden, they fade.
    auto highlight = box(0, 0, 30, 10, Color::white(1.0));
    highlight->setOpacity(0.0f);
    top->addSublayer(highlight);
    renderer.render(*top, 2.0);
    EXPECT_EQ(renderer.pixelAtPoint(15, 5), kBlue8);
    highlight->setOpacity(1.0f);
    EXPECT_TRUE(highlight->isFading(clock.now()));
}

TEST(Renderer, MasksCornersAndContents) {
    // A mask shows only what it covers, of the layer and its sublayers; a translucent one half.
    Renderer renderer;
    auto masked = box(0, 0, 30, 30, kRed);
    auto mask = box(5, 0, 20, 30, Color::white(1.0));
    masked->setMask(mask);
    masked->addSublayer(box(0, 0, 30, 10, kBlue));
    auto root = canvas(30, 30, {masked});
    renderer.render(*root, 2.0, 0.0);
    const std::pair<Point, Rgba8> maskedPixels[] = {
        {{4, 20}, kNone}, {{6, 20}, kRed8}, {{26, 20}, kNone}, {{15, 5}, kBlue8}, {{2, 5}, kNone}};
    for (const auto& [p, colour] : maskedPixels) EXPECT_EQ(renderer.pixelAtPoint(p), colour);
    setOpacityNow(*mask, 0.5f);
    renderer.render(*root, 2.0, 0.0);
    EXPECT_NEAR(renderer.pixelAtPoint(15, 20).a, 128, 1);
    // The looper hint's continuous corner curve starts further from the corner than a circular
    // one of the same radius.
    auto alert = box(0, 0, 220, 22, Color::white(0.1, 0.8));
    alert->setCornerRadius(5);
    auto alertRoot = canvas(220, 22, {alert});
    auto cornerCoverage = [&] {  // summed alpha over the top-right 10 x 10 points
        renderer.render(*alertRoot, 2.0, 0.0);
        int sum = 0;
        for (double y = 12.25; y < 22; y += 0.5) {
            for (double x = 210.25; x < 220; x += 0.5) sum += renderer.pixelAtPoint(x, y).a;
        }
        return sum;
    };
    const int circular = cornerCoverage();
    EXPECT_EQ(renderer.pixelAtPoint(219.6, 21.6), kNone);
    alert->setCornerCurve(CornerCurve::Continuous);
    EXPECT_LT(cornerCoverage(), circular);
    EXPECT_EQ(renderer.pixelAtPoint(219.6, 11).a, 204);
    // Contents are stretched over the bounds, the image's first row at the top.
    auto picture = box(0, 0, 20, 20, Color::clear());
    picture->setContents(
        Renderer().render(*canvas(2, 2, {box(0, 1, 1, 1, kRed)}), 1.0, 0.0).copy());
    renderer.render(*canvas(20, 20, {picture}), 2.0, 0.0);
    EXPECT_EQ(renderer.pixelAtPoint(2, 18), kRed8);
    EXPECT_EQ(renderer.pixelAtPoint(2, 2), kNone);
}

TEST(Renderer, BadRequestsAreLoggedNotFatal) {
    test::LogLines log;
    auto root = canvas(10, 10, {box(0, 0, 5, 5, kRed)});
    Renderer renderer;
    EXPECT_EQ(renderer.render(*root, std::nan(""), 0.0).width(), 0);
    EXPECT_EQ(renderer.render(*canvas(0, 0, {box(0, 0, 5, 5, kRed)}), 2.0, 0.0).width(), 0);
    EXPECT_FALSE(renderer.writePng("/tmp/vornik-empty.png"));  // nothing to write
    renderer.render(*root, 2.0, 0.0);
    EXPECT_FALSE(renderer.writePng("/nonexistent-dir/x.png"));
    EXPECT_EQ(Image::loadPng("/nonexistent-dir/x.png"), nullptr);
    releaseDrawingCaches();  // while a renderer still uses them: refused
    EXPECT_EQ(log.lines.size(), 5u);
    // NaN opacity is transparent, out-of-range colours clamp.
    auto odd = box(0, 0, 10, 10, Color::rgba(2.0, -1.0, 0.0, 1.0));
    root->setSublayers({odd});
    renderer.render(*root, 2.0, 0.0);
    EXPECT_EQ(renderer.pixelAtPoint(5, 5), kRed8);
    setOpacityNow(*odd, std::nanf(""));
    renderer.render(*root, 2.0, 0.0);
    EXPECT_EQ(renderer.pixelAtPoint(5, 5), kNone);
}

TEST(Renderer, DrawsAgainOnlyWhenWhatItDrawsChanged) {
    ManualClock clock;
    ScopedLayerClock useClock(clock);
    auto plain = box(2, 2, 10, 6, kRed);
    auto shape = ShapeLayer::create();
    shape->editPath().moveTo(0, 0);
    shape->editPath().lineTo(20, 8);
    auto text = TextLayer::create();
    text->setString("a");
    auto root = canvas(30, 10, {plain, shape, text});
    Renderer renderer;
    ASSERT_TRUE(renderer.renderIfChanged(*root, 2.0, clock.now()));
    EXPECT_FALSE(renderer.renderIfChanged(*root, 2.0, clock.now()));
    EXPECT_TRUE(renderer.renderIfChanged(*root, 3.0, clock.now()));  // another zoom

    // Each change draws once; the same tree again draws nothing.
    const std::function<void()> changes[] = {
        [&] { plain->setPosition(Point(3, 2)); },
        [&] { plain->setBounds(Rect::make(0, 0, 10, 7)); },
        [&] { plain->setAnchorPoint(Point(0.5, 0)); },
        [&] { plain->setBackgroundColor(kBlue); },
        [&] { plain->setBorderWidth(1); },
        [&] { plain->setBorderColor(kRed); },
        [&] { plain->setCornerRadius(2); },
        [&] { plain->setCornerCurve(CornerCurve::Continuous); },
        [&] { plain->setMasksToBounds(true); },
        [&] { setOpacityNow(*plain, 0.5f); },
        [&] { plain->setContents(Image::create(1, 1)); },
        [&] { plain->setMask(box(0, 0, 5, 5, kRed)); },
        [&] { plain->mask()->setPosition(Point(1, 0)); },
        [&] { shape->editPath().lineTo(25, 2); },
        [&] { shape->setStrokeColor(kBlue); },
        [&] { shape->setFillColor(kBlue); },
        [&] { shape->setLineWidth(2); },
        [&] { shape->setLineJoin(LineJoin::Round); },
        [&] { shape->setLineCap(LineCap::Round); },
        [&] { shape->setFillRule(FillRule::EvenOdd); },
        [&] { text->setString("b"); },
        [&] { text->setFont("DejaVu Sans Bold"); },
        [&] { text->setFontSize(12); },
        [&] { text->setForegroundColor(kRed); },
        [&] { text->setAlignmentMode(TextAlignment::Right); },
        [&] {
            root->setSublayers({shape, plain, text});
        },
        [&] { text->addSublayer(box(0, 0, 1, 1, kRed)); },
    };
    for (std::size_t i = 0; i < std::size(changes); ++i) {
        changes[i]();
        EXPECT_TRUE(renderer.renderIfChanged(*root, 3.0, clock.now())) << i;
        EXPECT_FALSE(renderer.renderIfChanged(*root, 3.0, clock.now())) << i;
    }
    // A fade draws every frame until it ends.
    plain->setOpacity(1.0f);
    clock.advance(kDefaultFadeDuration / 2);
    EXPECT_TRUE(renderer.renderIfChanged(*root, 3.0, clock.now()));
    clock.advance(kDefaultFadeDuration);
    EXPECT_TRUE(renderer.renderIfChanged(*root, 3.0, clock.now()));
    clock.advance(kDefaultFadeDuration);
    EXPECT_FALSE(renderer.renderIfChanged(*root, 3.0, clock.now()));
}

TEST(Renderer, AKeptTranslucentBoxLooksAsItsGroupDoes) {
    // A bordered box at 0.6 at fractions of a pixel is drawn once and kept; inside a clip with
    // edges within pixels it is drawn as a group every time. The same, drawn again, moved and
    // recoloured.
    auto boxes = [] {
        auto b = box(3.3, 1.2, 9.45, 7.4, Color::white(1.0, 0.5));
        b->setBorderWidth(1.0);
        b->setBorderColor(Color::white(1.0));
        setOpacityNow(*b, 0.6f);
        return b;
    };
    auto kept = boxes(), grouped = boxes();
    auto clip = box(0.25, 0.25, 29.5, 9.5, Color::clear());
    clip->setMasksToBounds(true);
    clip->addSublayer(grouped);
    auto shifted = canvas(30, 10, {box(0, 0, 30, 10, kBlue), kept});
    auto reference = canvas(30, 10, {box(0, 0, 30, 10, kBlue), clip});
    grouped->setPosition({3.05, 0.95});  // the clip's origin moves it by (0.25, 0.25)
    kept->setPosition({3.3, 1.2});
    Renderer a, b;
    for (int pass = 0; pass < 4; ++pass) {
        if (pass == 2) kept->setPosition({5.3, 1.2}), grouped->setPosition({5.05, 0.95});
        if (pass == 3) kept->setBorderColor(kRed), grouped->setBorderColor(kRed);
        // Rounding alone.
        EXPECT_EQ(test::compareImages(a.render(*shifted, 2.0, 0.0), b.render(*reference, 2.0, 0.0),
                                      {1, 0.0}),
                  "")
            << pass;
    }
}

TEST(Renderer, FramesDrawnOverAKeptPartEqualWholeRenders) {
    // A waveform that stays, translucent bordered boxes and cursors above it, a trace on top. Each
    // step changes one thing at another depth; the frame drawn over the kept part must be the whole
    // render, to the bit.
    ManualClock clock;
    ScopedLayerClock useClock(clock);
    auto view = canvas(60, 12);
    auto waveform = Layer::create();
    waveform->setFrame(Rect::make(0, 0, 60, 12));
    std::vector<LayerPtr> bars;
    for (int i = 0; i < 40; ++i)
        bars.push_back(box(i * 1.5 + 0.3, 6 - i % 5, 1.1, 2 * (i % 5) + 0.5, kBlue));
    waveform->setSublayers(bars);
    std::vector<LayerPtr> layers{waveform};
    std::vector<LayerPtr> cursors, boxes;
    for (int i = 0; i < 4; ++i) {
        cursors.push_back(box(7.3 * i + 2.2, 0, 0.5, 12, Color::white(1.0)));
        auto b = box(7.3 * i + 1.1, 1.3, 9.4, 8.8, Color::white(1.0, 0.5));
        b->setBorderWidth(1.0);
        b->setBorderColor(Color::white(1.0));
        setOpacityNow(*b, 0.45f);
        boxes.push_back(b);
        layers.push_back(cursors.back());
        layers.push_back(b);
    }
    auto trace = ShapeLayer::create();
    trace->setFillColor(Color::clear());
    trace->setStrokeColor(Color::white(1.0, 0.5));
    trace->setLineWidth(1.5);
    layers.push_back(trace);
    view->setSublayers(layers);
    auto root = canvas(60, 12, {view});

    Renderer framed, whole;
    const std::function<void()> steps[] = {
        [] {},
        [&] {
            cursors[3]->setPosition({40.7, 0});
        },  // above the kept part: it grows
        [&] {
            cursors[3]->setPosition({41.9, 0});
        },
        [&] { setOpacityNow(*boxes[2], 0.3f); },
        [&] { bars[7]->setBackgroundColor(kRed); },  // deep in the kept part
        [&] {
            cursors[0]->setPosition({3.1, 0});
        },
        [&] { setOpacityNow(*waveform, 0.5f); },  // a group now, not drawn through
        [&] { setOpacityNow(*waveform, 1.0f); },
        [&] {  // every box inside a group, under a clip
            view->setMasksToBounds(true);
            view->setFrame(Rect::make(4.5, 1, 28, 7));  // cutting boxes
            setOpacityNow(*view, 0.8f);
        },
        [&] { setOpacityNow(*view, 1.0f); },
        [&] {
            view->setSublayers({layers[0], layers[2], layers[1], trace});
        },
        [&] { bars[3]->removeFromSuperlayer(); },
    };
    for (std::size_t i = 0; i < std::size(steps); ++i) {
        steps[i]();
        Path& path = trace->editPath();
        path.clear();
        path.moveTo(0, 6);
        for (int x = 1; x <= 60; ++x) path.lineTo(x, 6 + 4 * std::sin(x * 0.7 + i));
        // Two frames each: the second grows the kept part over what stayed.
        for (int frame = 0; frame < 2; ++frame) {
            if (frame == 1) trace->editPath().lineTo(60.5, 6);
            if (i == 5 && frame == 1) {  // another tree drawn between two frames
                framed.render(*canvas(60, 12, {box(0, 0, 60, 12, kRed)}), 2.0, clock.now());
            }
            ASSERT_TRUE(framed.renderIfChanged(*root, 2.0, clock.now()));
            EXPECT_EQ(test::compareImages(framed.image(), whole.render(*root, 2.0, clock.now()),
                                          {0, 0.0}),
                      "")
                << "step " << i << " frame " << frame;
        }
    }
}
