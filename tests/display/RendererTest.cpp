#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "display/Renderer.h"
#include "display/Transaction.h"
#include "support/DrawingEnvironment.h"
#include "support/Golden.h"
#include "support/LogLines.h"

using namespace vornik;

namespace {

[[maybe_unused]] auto* const kDrawing =
    ::testing::AddGlobalTestEnvironment(new test::DrawingEnvironment);

constexpr Color kRed = Color::rgba(1, 0, 0);
constexpr Color kBlue = Color::rgba(0, 0, 1);
constexpr Rgba8 kRed8{255, 0, 0, 255};
constexpr Rgba8 kBlue8{0, 0, 255, 255};
constexpr Rgba8 kWhite8{255, 255, 255, 255};
constexpr Rgba8 kNone{0, 0, 0, 0};

LayerPtr canvas(double w, double h) {
    auto root = Layer::create();
    root->setBounds(Rect::make(0, 0, w, h));
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

TEST(Renderer, DrawsWithYUpwardAtTheZoom) {
    auto root = canvas(40, 20);
    root->addSublayer(box(4, 12, 10, 5, kRed));  // x 4..14, y 12..17: near the top
    Renderer renderer;
    const Image& image = renderer.render(*root, 2.0, 0.0);
    ASSERT_EQ(image.width(), 80);
    ASSERT_EQ(image.height(), 40);

    EXPECT_EQ(renderer.pixelAtPoint(9, 14.5), kRed8);
    EXPECT_EQ(renderer.pixelAtPoint(9, 5), kNone);
    EXPECT_EQ(renderer.pixelAtPoint(3.9, 14.5), kNone);
    EXPECT_EQ(renderer.pixelAtPoint(14.1, 14.5), kNone);
    // In image rows (top first) the box lies in the upper half: rows 6 to 15.
    EXPECT_EQ(image.pixel(18, 6), kRed8);
    EXPECT_EQ(image.pixel(18, 15), kRed8);
    EXPECT_EQ(image.pixel(18, 5), kNone);
    EXPECT_EQ(image.pixel(18, 16), kNone);
    EXPECT_EQ(image.pixel(18, 30), kNone);

    // The root is drawn in its own space: where it sits in a parent does not matter, its bounds
    // origin does.
    root->setPosition({500, -300});
    renderer.render(*root, 2.0, 0.0);
    EXPECT_EQ(renderer.pixelAtPoint(9, 14.5), kRed8);
    root->setBounds(Rect::make(4, 12, 10, 5));
    renderer.render(*root, 1.0, 0.0);
    ASSERT_EQ(renderer.image().width(), 10);
    EXPECT_EQ(renderer.image().pixel(0, 0), kRed8);
    EXPECT_EQ(renderer.image().pixel(9, 4), kRed8);
}

TEST(Renderer, StackingOrderOpacityAndFades) {
    ManualClock clock;
    ScopedLayerClock useClock(clock);
    auto root = canvas(30, 10);
    root->addSublayer(box(0, 0, 20, 10, kRed));
    root->addSublayer(box(10, 0, 20, 10, kBlue));  // added later: on top
    auto translucent = box(0, 0, 5, 10, Color::white(1.0, 0.5));
    root->addSublayer(translucent);
    Renderer renderer;
    renderer.render(*root, 2.0);
    EXPECT_EQ(renderer.pixelAtPoint(15, 5), kBlue8);
    EXPECT_EQ(renderer.pixelAtPoint(5.5, 5), kRed8);
    const Rgba8 pink = renderer.pixelAtPoint(2, 5);
    EXPECT_EQ(pink.r, 255);
    EXPECT_NEAR(pink.g, 128, 1);
    EXPECT_EQ(pink.a, 255);

    // A group at opacity 0.5: its overlapping sublayers do not show through each other.
    auto group = canvas(30, 10);
    group->setAnchorPoint({0, 0});
    group->addSublayer(box(0, 0, 20, 10, kRed));
    group->addSublayer(box(10, 0, 20, 10, kBlue));
    setOpacityNow(*group, 0.5f);
    auto top = canvas(30, 10);
    top->addSublayer(group);
    renderer.render(*top, 2.0);
    const Rgba8 overlap = renderer.pixelAtPoint(15, 5);
    EXPECT_EQ(overlap.b, 255);
    EXPECT_EQ(overlap.r, 0);
    EXPECT_NEAR(overlap.a, 128, 1);

    // The picture shows the presentation value: midway through a fade from 0 to 1.
    setOpacityNow(*group, 0.0f);
    renderer.render(*top, 2.0);
    EXPECT_EQ(renderer.pixelAtPoint(15, 5), kNone);
    group->setOpacity(1.0f);
    clock.advance(kDefaultFadeDuration / 2);
    renderer.render(*top, 2.0);
    EXPECT_NEAR(renderer.pixelAtPoint(15, 5).a, 128, 1);
    clock.advance(kDefaultFadeDuration);
    renderer.render(*top, 2.0);
    EXPECT_EQ(renderer.pixelAtPoint(15, 5), kBlue8);

    // New layers set up hidden outside a transaction (the slice highlights) do not flash, and
    // once drawn, even while hidden, they fade.
    auto highlight = box(0, 0, 30, 10, Color::white(1.0));
    highlight->setOpacity(0.0f);
    top->addSublayer(highlight);
    renderer.render(*top, 2.0);
    EXPECT_EQ(renderer.pixelAtPoint(15, 5), kBlue8);
    EXPECT_TRUE(highlight->hasBeenPresented());
    highlight->setOpacity(1.0f);
    EXPECT_TRUE(highlight->isFading(clock.now()));
}

TEST(Renderer, ShapeStrokesWithRoundCapsAndJoins) {
    auto root = canvas(40, 20);
    auto shape = ShapeLayer::create();
    shape->setFrame(root->bounds());
    Path path;
    path.moveTo(10, 10);
    path.lineTo(30, 10);
    shape->setPath(path);
    shape->setFillColor(Color::clear());
    shape->setStrokeColor(Color::white(1.0));
    shape->setLineWidth(6);
    shape->setLineCap(LineCap::Round);
    shape->setLineJoin(LineJoin::Round);
    root->addSublayer(shape);
    Renderer renderer;
    renderer.render(*root, 2.0, 0.0);
    EXPECT_EQ(renderer.pixelAtPoint(20, 10), kWhite8);
    EXPECT_EQ(renderer.pixelAtPoint(20, 12.6), kWhite8);
    EXPECT_EQ(renderer.pixelAtPoint(20, 13.6), kNone);
    EXPECT_EQ(renderer.pixelAtPoint(8, 10), kWhite8);    // inside the round cap
    EXPECT_EQ(renderer.pixelAtPoint(7.4, 12.6), kNone);  // a square cap would cover this
    EXPECT_EQ(renderer.pixelAtPoint(32.6, 7.4), kNone);

    shape->setLineCap(LineCap::Butt);
    renderer.render(*root, 2.0, 0.0);
    EXPECT_EQ(renderer.pixelAtPoint(8, 10), kNone);

    // A closed triangle with the default fill (opaque black) and a transformed copy.
    auto tri = ShapeLayer::create();
    tri->setFrame(root->bounds());
    Path& t = tri->editPath();
    t.moveTo(0, 0);
    t.lineTo(10, 0);
    t.curveTo(10, 5, 10, 5, 0, 10);
    t.closePath();
    t.transform(AffineTransform::translation(25, 5));
    root->setSublayers({tri});
    renderer.render(*root, 2.0, 0.0);
    EXPECT_EQ(renderer.pixelAtPoint(27, 7), (Rgba8{0, 0, 0, 255}));
    EXPECT_EQ(renderer.pixelAtPoint(2, 2), kNone);

    // The icons' arrangement: a path layer framed like its anchored container has its origin at
    // the container's centre, and the container renders at twice its size.
    auto container = Layer::create();
    container->setFrame(Rect::make(0, 0, 30, 30));
    container->setAnchorPoint({0, 0});
    auto dot = ShapeLayer::create();
    dot->setFrame(container->frame());
    dot->editPath().moveTo(0, 0);
    dot->editPath().lineTo(0, 0);
    dot->setFillColor(Color::clear());
    dot->setStrokeColor(Color::white(1.0));
    dot->setLineWidth(1.5);
    dot->setLineCap(LineCap::Round);
    container->addSublayer(dot);
    const auto icon = renderLayerToImage(*container, 2.0);
    ASSERT_EQ(icon->width(), 60);
    ASSERT_EQ(icon->height(), 60);
    EXPECT_EQ(icon->pixel(30, 30), kWhite8);
    EXPECT_EQ(icon->pixel(29, 29), kWhite8);
    EXPECT_EQ(icon->pixel(33, 30), kNone);
}

TEST(Renderer, MasksCornersBordersAndContents) {
    Renderer renderer;

    // The filter icon's mask: only the middle 20 of 30 points show.
    auto root = canvas(30, 30);
    auto masked = box(0, 0, 30, 30, kRed);
    auto mask = Layer::create();
    mask->setBounds(Rect::make(0, 0, 20, 30));
    mask->setPosition({15, 15});
    mask->setBackgroundColor(Color::white(1.0));
    masked->setMask(mask);
    masked->addSublayer(box(0, 0, 30, 10, kBlue));  // sublayers are masked too
    root->addSublayer(masked);
    renderer.render(*root, 2.0, 0.0);
    EXPECT_EQ(renderer.pixelAtPoint(4, 20), kNone);
    EXPECT_EQ(renderer.pixelAtPoint(6, 20), kRed8);
    EXPECT_EQ(renderer.pixelAtPoint(24, 20), kRed8);
    EXPECT_EQ(renderer.pixelAtPoint(26, 20), kNone);
    EXPECT_EQ(renderer.pixelAtPoint(15, 5), kBlue8);
    EXPECT_EQ(renderer.pixelAtPoint(2, 5), kNone);
    setOpacityNow(*mask, 0.5f);  // a translucent mask lets half through
    renderer.render(*root, 2.0, 0.0);
    EXPECT_NEAR(renderer.pixelAtPoint(15, 20).a, 128, 1);

    // A disc: corner radius half the size; the box under it shows in its corners.
    auto disc = box(0, 0, 20, 20, kBlue);
    disc->setCornerRadius(10);
    auto discRoot = canvas(20, 20);
    discRoot->setSublayers({box(0, 0, 20, 20, kRed), disc});
    renderer.render(*discRoot, 2.0, 0.0);
    EXPECT_EQ(renderer.pixelAtPoint(10, 10), kBlue8);
    EXPECT_EQ(renderer.pixelAtPoint(1, 1), kRed8);
    EXPECT_EQ(renderer.pixelAtPoint(10, 1), kBlue8);

    // The continuous corner curve starts further from the corner than a circular one.
    auto alert = box(0, 0, 220, 22, Color::white(0.1, 0.8));
    alert->setCornerRadius(5);
    auto alertRoot = canvas(220, 22);
    alertRoot->addSublayer(alert);
    auto cornerCoverage = [&] {  // summed alpha over the top-right 10 x 10 points
        renderer.render(*alertRoot, 2.0, 0.0);
        int sum = 0;
        for (double y = 12.25; y < 22; y += 0.5) {
            for (double x = 210.25; x < 220; x += 0.5) sum += renderer.pixelAtPoint(x, y).a;
        }
        return sum;
    };
    const int circular = cornerCoverage();
    alert->setCornerCurve(CornerCurve::Continuous);
    EXPECT_LT(cornerCoverage(), circular);
    EXPECT_EQ(renderer.pixelAtPoint(219.6, 21.6), kNone);
    const Rgba8 grey = renderer.pixelAtPoint(219.6, 11);
    EXPECT_NEAR(grey.r, 26, 1);
    EXPECT_EQ(grey.a, 204);

    // A border lies inside the bounds and over the sublayers.
    auto bordered = box(0, 0, 20, 20, kBlue);
    bordered->setBorderWidth(2);
    bordered->setBorderColor(Color::white(1.0));
    bordered->addSublayer(box(0, 0, 20, 20, kRed));
    auto borderRoot = canvas(20, 20);
    borderRoot->addSublayer(bordered);
    renderer.render(*borderRoot, 2.0, 0.0);
    EXPECT_EQ(renderer.pixelAtPoint(1, 10), kWhite8);
    EXPECT_EQ(renderer.pixelAtPoint(19, 19), kWhite8);
    EXPECT_EQ(renderer.pixelAtPoint(10, 10), kRed8);

    // Contents are stretched over the bounds, the image's first row at the top.
    auto image = Image::create(2, 2);
    {
        auto painter = canvas(2, 2);
        painter->addSublayer(box(0, 1, 1, 1, kRed));   // top-left
        painter->addSublayer(box(1, 0, 1, 1, kBlue));  // bottom-right
        Renderer r;
        image = r.render(*painter, 1.0, 0.0).copy();
    }
    EXPECT_EQ(image->pixel(0, 0), kRed8);
    EXPECT_EQ(image->pixel(1, 1), kBlue8);
    auto picture = Layer::create();
    picture->setBounds(Rect::make(0, 0, 20, 20));
    picture->setAnchorPoint({0, 0});
    picture->setContents(image);
    auto pictureRoot = canvas(20, 20);
    pictureRoot->addSublayer(picture);
    renderer.render(*pictureRoot, 2.0, 0.0);
    EXPECT_EQ(renderer.pixelAtPoint(2, 18), kRed8);
    EXPECT_EQ(renderer.pixelAtPoint(18, 2), kBlue8);
    EXPECT_EQ(renderer.pixelAtPoint(2, 2), kNone);
}

TEST(Renderer, TextIsDrawnCentredInItsBox) {
    // The looper hint: the text centred in its box, the box centred on a 685-point strip.
    auto root = canvas(685, 30);
    auto alert = Layer::create();
    alert->setBounds(Rect::make(0, 0, 220, 22));
    alert->setPosition({342.5, 15});
    alert->setBackgroundColor(Color::white(0.1, 0.8));
    alert->setCornerRadius(5);
    alert->setCornerCurve(CornerCurve::Continuous);
    auto text = TextLayer::create();
    text->setBounds(Rect::make(0, 0, 220, 17));
    text->setPosition({110, 11});
    text->setFontSize(13);
    text->setFont(kSystemFontName);
    text->setForegroundColor(Color::white(1.0));
    text->setAlignmentMode(TextAlignment::Center);
    text->setString("Use two fingers to create a loop");
    text->setContentsScale(2.0);
    alert->addSublayer(text);
    root->addSublayer(alert);
    Renderer renderer;
    const Image& image = renderer.render(*root, 2.0, 0.0);

    // Light pixels (the text) all lie inside the box, spread about its centre.
    int minX = image.width(), maxX = -1, minY = image.height(), maxY = -1, count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixel(x, y).r > 128) {
                ++count;
                minX = std::min(minX, x);
                maxX = std::max(maxX, x);
                minY = std::min(minY, y);
                maxY = std::max(maxY, y);
            }
        }
    }
    ASSERT_GT(count, 500);
    EXPECT_GE(minX, (342.5 - 110) * 2);
    EXPECT_LE(maxX, (342.5 + 110) * 2);
    EXPECT_NEAR((minX + maxX) / 2.0, 342.5 * 2, 4.0);
    EXPECT_GE(minY, (30 - 26) * 2);  // the box spans y 4..26
    EXPECT_LE(maxY, (30 - 4) * 2);
    EXPECT_NEAR((minY + maxY) / 2.0, 30.0, 8.0);

    // Lines go from the top of the bounds down.
    text->setString("Use\nloop");
    text->setAlignmentMode(TextAlignment::Left);
    text->setBounds(Rect::make(0, 0, 220, 40));
    text->setPosition({110, 20});
    alert->setBounds(Rect::make(0, 0, 220, 40));
    alert->setPosition({110, 20});
    root->setBounds(Rect::make(0, 0, 220, 40));
    renderer.render(*root, 2.0, 0.0);
    auto lightIn = [&](double y0, double y1) {
        int n = 0;
        for (double y = y0; y < y1; y += 0.5) {
            for (double x = 0; x < 40; x += 0.5) n += renderer.pixelAtPoint(x, y).r > 128;
        }
        return n;
    };
    EXPECT_GT(lightIn(28, 40), 20);  // first line at the top
    EXPECT_GT(lightIn(13, 27), 20);  // second line below it
    EXPECT_EQ(lightIn(0, 8), 0);     // nothing further down
}

TEST(Renderer, BadRequestsAreLoggedNotFatal) {
    test::LogLines log;
    auto root = canvas(10, 10);
    root->addSublayer(box(0, 0, 5, 5, kRed));
    Renderer renderer;
    EXPECT_EQ(renderer.render(*root, 0.0, 0.0).width(), 0);
    EXPECT_EQ(renderer.render(*root, std::nan(""), 0.0).width(), 0);
    EXPECT_EQ(log.lines.size(), 2u);
    EXPECT_EQ(renderer.pixelAtPoint(1, 1), kNone);
    EXPECT_FALSE(renderer.writePng("/tmp/vornik-empty.png"));  // nothing to write
    EXPECT_EQ(log.lines.size(), 3u);

    auto empty = canvas(0, 0);
    empty->addSublayer(box(0, 0, 5, 5, kRed));
    EXPECT_EQ(renderer.render(*empty, 2.0, 0.0).width(), 0);

    renderer.render(*root, 2.0, 0.0);
    EXPECT_FALSE(renderer.writePng("/nonexistent-dir/x.png"));
    EXPECT_EQ(log.lines.size(), 4u);
    EXPECT_EQ(Image::loadPng("/nonexistent-dir/x.png"), nullptr);
    EXPECT_EQ(log.lines.size(), 5u);

    // Dropping the drawing caches while a renderer still uses them would abort: refused.
    releaseDrawingCaches();
    EXPECT_EQ(log.lines.size(), 6u);

    // Strange values draw nothing strange: NaN opacity is transparent, out-of-range colours clamp.
    auto odd = box(0, 0, 10, 10, Color::rgba(2.0, -1.0, 0.0, 1.0));
    root->setSublayers({odd});
    renderer.render(*root, 2.0, 0.0);
    EXPECT_EQ(renderer.pixelAtPoint(5, 5), kRed8);
    setOpacityNow(*odd, std::nanf(""));
    renderer.render(*root, 2.0, 0.0);
    EXPECT_EQ(renderer.pixelAtPoint(5, 5), kNone);
}

TEST(Renderer, PngRoundTripAndGolden) {
    // A small strip with every kind of layer: bars, a translucent highlight, a bordered region
    // box, a stroked trace, a masked layer and the hint text.
    auto root = canvas(120, 30);
    root->setBackgroundColor(Color::black());
    for (int i = 0; i < 40; ++i) {
        const double h = 2 + (i * 7) % 26;
        auto bar = Layer::create();
        bar->setAnchorPoint({0, 0.5});
        bar->setBounds(Rect::make(0, 0, 2, h));
        bar->setPosition({3.0 * i + 2, 15});
        bar->setBackgroundColor(interpolateLabColor(Color::rgba(0.06640625, 0.50390625, 0.9921875),
                                                    Color::rgba(0.34765625, 0.95703125, 0.99609375),
                                                    i / 40.0f));
        root->addSublayer(bar);
    }
    auto highlight = box(30, 0, 30, 30, Color::white(1.0));
    setOpacityNow(*highlight, 0.45f);
    root->addSublayer(highlight);
    auto region = box(70, -2, 20, 34, Color::white(1.0, 0.5));
    region->setBorderWidth(1);
    region->setBorderColor(Color::white(1.0));
    setOpacityNow(*region, 0.6f);
    root->addSublayer(region);
    auto trace = ShapeLayer::create();
    trace->setFrame(root->bounds());
    trace->setFillColor(Color::clear());
    trace->setStrokeColor(Color::white(1.0, 0.5));
    trace->setLineWidth(1.5);
    for (int i = 0; i < 120; ++i) {
        const double y = 15 + 10 * ((i * 13) % 21 - 10) / 10.0;
        if (i == 0) {
            trace->editPath().moveTo(0, y);
        } else {
            trace->editPath().lineTo(i, y);
        }
    }
    root->addSublayer(trace);
    auto hint = TextLayer::create();
    hint->setBounds(Rect::make(0, 0, 60, 17));
    hint->setPosition({90, 15});
    hint->setFontSize(13);
    hint->setAlignmentMode(TextAlignment::Center);
    hint->setString("loop");
    auto hintMask = box(0, 0, 30, 17, Color::white(1.0));
    hint->setMask(hintMask);
    root->addSublayer(hint);

    Renderer renderer;
    const Image& image = renderer.render(*root, 2.0, 0.0);
    const auto path = std::filesystem::temp_directory_path() / "vornik-layers-roundtrip.png";
    ASSERT_TRUE(renderer.writePng(path.string()));
    const auto back = Image::loadPng(path.string());
    ASSERT_NE(back, nullptr);
    ASSERT_EQ(back->width(), image.width());
    ASSERT_EQ(back->height(), image.height());
    for (int y = 0; y < image.height(); y += 3) {
        for (int x = 0; x < image.width(); x += 3) {
            ASSERT_EQ(back->pixel(x, y), image.pixel(x, y)) << x << "," << y;
        }
    }
    std::filesystem::remove(path);

    EXPECT_EQ(test::compareWithGolden(image, "display/layers"), "");
}
