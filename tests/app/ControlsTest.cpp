#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "app/Controls.h"
#include "display/Renderer.h"
#include "support/DrawingEnvironment.h"
#include "support/LogLines.h"

using namespace vornik;
using namespace vornik::controls;

namespace {

[[maybe_unused]] auto* const kDrawing =
    ::testing::AddGlobalTestEnvironment(new test::DrawingEnvironment);

constexpr TouchId kFinger = 11;
constexpr TouchId kFinger2 = 12;
constexpr TouchId kMouse = 0x7fff'0000'0000'0001;  // any identity serves; the mouse has its own

Touch at(TouchId id, double x, double y = 15.0) { return Touch{id, {x, y}, {x, y}}; }

// An item that records what reaches it, and takes touches only when told to.
class Probe final : public BarItem {
public:
    Probe(std::string id, double width, bool takes = true)
        : BarItem(std::move(id)), width_(width), takes_(takes) {}
    double preferredWidth() const override { return width_; }
    bool touchBegan(const Touch& t) override {
        log.push_back("began " + std::to_string(t.location.x));
        return takes_;
    }
    void touchMoved(const Touch& t) override {
        log.push_back("moved " + std::to_string(t.location.x));
    }
    void touchEnded(const Touch& t) override {
        log.push_back("ended " + std::to_string(t.location.x));
    }
    void touchCancelled(const Touch&) override { log.push_back("cancelled"); }
    std::vector<std::string> log;

private:
    double width_;
    bool takes_;
};

// A bar at a strip of 600 x 30 points.
struct Strip {
    Bar bar;
    explicit Strip(std::vector<BarItemPtr> items, double width = 600.0) {
        bar.setItems(std::move(items));
        bar.layout(Size{width, kStripHeight});
    }
    void drag(TouchId id, double x0, double x1, int steps = 10) {
        bar.touchBegan(at(id, x0));
        for (int i = 1; i <= steps; ++i) bar.touchMoved(at(id, x0 + (x1 - x0) * i / steps));
        bar.touchEnded(at(id, x1));
    }
    void tap(TouchId id, double x) {
        bar.touchBegan(at(id, x));
        bar.touchEnded(at(id, x));
    }
};

}  // namespace

TEST(ControlsFormatters, LabelsOfTheThreeFormatters) {
    SlicesFormatter slices;
    EXPECT_EQ(slices.stringForObjectValue(0.0), "0 slices");
    EXPECT_EQ(slices.stringForObjectValue(1.0), "auto slice");
    EXPECT_EQ(slices.stringForObjectValue(2.0), "4 slices");
    EXPECT_EQ(slices.stringForObjectValue(3.0), "8 slices");
    EXPECT_EQ(slices.stringForObjectValue(4.0), "16 slices");
    EXPECT_EQ(slices.stringForObjectValue(5.0), "0 slices");
    EXPECT_EQ(slices.stringForObjectValue(-1.0), "0 slices");
    EXPECT_EQ(slices.stringForObjectValue(1.9), "auto slice");  // the integer part counts
    EXPECT_EQ(slices.stringForObjectValue(std::nullopt), std::nullopt);
    EXPECT_EQ(slices.stringForObjectValue(std::nan("")), std::nullopt);

    TransposeFormatter transpose;
    EXPECT_EQ(transpose.stringForObjectValue(-24.0), "-24");
    EXPECT_EQ(transpose.stringForObjectValue(0.0), "original");
    EXPECT_EQ(transpose.stringForObjectValue(24.0), "+24");
    EXPECT_EQ(transpose.stringForObjectValue(7.0), "+7");
    EXPECT_EQ(transpose.stringForObjectValue(-0.7), "original");  // truncated towards zero
    EXPECT_EQ(transpose.stringForObjectValue(-1.5), "-1");
    EXPECT_EQ(transpose.stringForObjectValue(std::nullopt), std::nullopt);
    // Far outside int's range: no undefined conversion, the range's end stands in.
    EXPECT_EQ(transpose.stringForObjectValue(1e300), "+2147483647");  // INT_MAX
    EXPECT_EQ(transpose.stringForObjectValue(-std::numeric_limits<double>::infinity()),
              "-2147483648");  // INT_MIN

    DisabledFormatter disabled;
    EXPECT_EQ(disabled.stringForObjectValue(1.0), "disabled");
    EXPECT_EQ(disabled.stringForObjectValue(-3.0), "disabled");
    EXPECT_EQ(disabled.stringForObjectValue(std::nullopt), "disabled");
}

TEST(ControlsBar, LaysItemsOutLeftToRight) {
    auto button = std::make_shared<Button>("b");
    auto segments = std::make_shared<SegmentedControl>("s");
    segments->setSegmentCount(4);
    auto slider1 = std::make_shared<Slider>("s1");
    auto slider2 = std::make_shared<Slider>("s2");
    auto stepper1 = std::make_shared<Stepper>("t1", std::make_unique<TransposeFormatter>());
    auto stepper2 = std::make_shared<Stepper>("t2", std::make_unique<SlicesFormatter>());
    Bar bar;
    bar.setItems({button, segments, slider1, slider2, stepper1, stepper2});
    const LayerPtr& root = bar.layout(Size{1085, 30});

    // Fixed widths 64 + 176 + 150 + 150, five gaps of 8, 8 at each end: the two sliders share
    // the rest, 1085 - 596 = 489.
    const double slider = (1085.0 - 16.0 - 40.0 - 64.0 - 176.0 - 300.0) / 2.0;
    EXPECT_DOUBLE_EQ(button->frame().minX(), 8.0);
    EXPECT_DOUBLE_EQ(button->frame().size.width, 64.0);
    EXPECT_DOUBLE_EQ(segments->frame().minX(), 80.0);
    EXPECT_DOUBLE_EQ(segments->frame().size.width, 176.0);
    EXPECT_DOUBLE_EQ(slider1->frame().minX(), 264.0);
    EXPECT_DOUBLE_EQ(slider1->frame().size.width, slider);
    EXPECT_DOUBLE_EQ(slider2->frame().minX(), 272.0 + slider);
    EXPECT_DOUBLE_EQ(stepper2->frame().maxX(), 1085.0 - 8.0);
    for (const BarItemPtr& item : bar.items()) {
        EXPECT_DOUBLE_EQ(item->frame().minY(), 0.0);
        EXPECT_DOUBLE_EQ(item->frame().size.height, 30.0);
        EXPECT_EQ(item->layer()->frame(), item->frame());
    }
    // Drawn in the order added: the items' layers are the root's sublayers in that order.
    ASSERT_EQ(root->sublayers().size(), 6u);
    for (std::size_t i = 0; i < 6; ++i) EXPECT_EQ(root->sublayers()[i], bar.items()[i]->layer());
    EXPECT_EQ(root->bounds(), Rect::make(0, 0, 1085, 30));

    // A wide strip holds the sliders at their largest; a narrow one at their smallest.
    bar.layout(Size{3000, 30});
    EXPECT_DOUBLE_EQ(slider1->frame().size.width, kSliderMaximumWidth);
    bar.layout(Size{500, 30});
    EXPECT_DOUBLE_EQ(slider1->frame().size.width, kSliderMinimumWidth);

    // A view that fills the bar covers the whole strip when it is alone on it.
    auto view = Layer::create();
    auto custom = std::make_shared<CustomItem>("v", view);
    bar.setItems({custom});
    bar.layout(Size{900, 30});
    EXPECT_EQ(custom->frame(), Rect::make(0, 0, 900, 30));
    EXPECT_EQ(view->frame(), Rect::make(0, 0, 900, 30));
    EXPECT_EQ(view->bounds().size, (Size{900, 30}));
    ASSERT_EQ(root->sublayers().size(), 1u);
    EXPECT_EQ(root->sublayers()[0], view);
}

TEST(ControlsBar, TouchesGoTopMostFirstAndStayWithTheirItem) {
    // Two probes over the same place (the second wider): the later one is asked first.
    auto below = std::make_shared<Probe>("below", 100);
    auto above = std::make_shared<Probe>("above", 100, /*takes=*/false);
    Strip s({below, above});
    // The bar lays items side by side; put them on top of each other by hand.
    above->setFrame(below->frame());
    const double x = below->frame().minX() + 50;

    s.bar.touchBegan(at(kFinger, x));
    ASSERT_EQ(above->log.size(), 1u);             // asked first, refused
    ASSERT_EQ(below->log.size(), 1u);             // then the one below took it
    EXPECT_EQ(below->log[0], "began 50.000000");  // in the item's own points

    // The finger stays with the item that took it, wherever it goes.
    s.bar.touchMoved(at(kFinger, 500));
    s.bar.touchEnded(at(kFinger, 590));
    EXPECT_EQ(below->log, (std::vector<std::string>{"began 50.000000", "moved 492.000000",
                                                    "ended 582.000000"}));
    EXPECT_EQ(above->log.size(), 1u);
    EXPECT_EQ(s.bar.trackedTouchCount(), 0u);

    // Events of a finger no item holds, and fingers landing on no item, go nowhere.
    s.bar.touchMoved(at(kFinger2, x));
    s.bar.touchEnded(at(kFinger2, x));
    s.bar.touchBegan(at(kFinger2, 590));
    EXPECT_EQ(s.bar.trackedTouchCount(), 0u);

    // A finger on an item that leaves the bar is cancelled there; its later events are dropped.
    s.bar.touchBegan(at(kFinger, x));
    auto other = std::make_shared<Probe>("other", 100);
    s.bar.setItems({other});
    EXPECT_EQ(below->log.back(), "cancelled");
    s.bar.touchMoved(at(kFinger, x));
    s.bar.touchEnded(at(kFinger, x));
    EXPECT_TRUE(other->log.empty());

    // A finger that begins again without ending is a strange event: logged, the first cancelled.
    test::LogLines logged;
    s.bar.touchBegan(at(kFinger, 20));
    s.bar.touchBegan(at(kFinger, 30));
    EXPECT_EQ(other->log,
              (std::vector<std::string>{"began 12.000000", "cancelled", "began 22.000000"}));
    ASSERT_EQ(logged.lines.size(), 1u);
    EXPECT_NE(logged.lines[0].find("began again"), std::string::npos);

    // Losing every finger cancels each held touch once.
    s.bar.cancelAllTouches();
    EXPECT_EQ(other->log.back(), "cancelled");
    EXPECT_EQ(s.bar.trackedTouchCount(), 0u);
}

TEST(ControlsSlider, DragsByTouchAndByMouseAsTouch) {
    auto slider = std::make_shared<Slider>("slider");
    slider->setMinValue(0);
    slider->setMaxValue(2);
    slider->setDoubleValue(1.0);
    slider->setTrackFillColor(kAccentRed);
    int actions = 0;
    slider->setAction([&] { ++actions; });
    Strip s({slider}, 216.0);  // one flexible item: 200 points wide at x 8
    ASSERT_DOUBLE_EQ(slider->frame().size.width, 200.0);

    // Without an icon the knob runs from 9 to 191 in the item: 182 points for the range 0..2.
    const double span = 182.0;
    const double knob = 8.0 + slider->knobCenterX();
    EXPECT_DOUBLE_EQ(slider->knobCenterX(), 9.0 + span / 2);

    // Grabbing the knob off-centre drags it from where it is: no jump on touch-down.
    s.bar.touchBegan(at(kFinger, knob + 4));
    EXPECT_EQ(actions, 0);
    EXPECT_TRUE(slider->isTracking());
    s.bar.touchMoved(at(kFinger, knob + 4 + span / 4));
    EXPECT_DOUBLE_EQ(slider->doubleValue(), 1.5);
    EXPECT_EQ(actions, 1);
    // Beyond the end the value stays at the maximum, and nothing is sent for no change.
    s.bar.touchMoved(at(kFinger, 1000));
    s.bar.touchMoved(at(kFinger, 1200));
    EXPECT_DOUBLE_EQ(slider->doubleValue(), 2.0);
    EXPECT_EQ(actions, 2);
    s.bar.touchEnded(at(kFinger, 1200));
    EXPECT_FALSE(slider->isTracking());

    // The mouse is a finger too: a press on the track away from the knob puts the knob there,
    // a drag moves it, every step sends.
    const int before = actions;
    s.drag(kMouse, 8.0 + 9.0, 8.0 + 9.0 + span / 2, 4);
    EXPECT_DOUBLE_EQ(slider->doubleValue(), 1.0);
    EXPECT_EQ(actions, before + 5);

    // A second finger on a slider already held is not taken.
    s.bar.touchBegan(at(kFinger, knob));
    s.bar.touchBegan(at(kFinger2, knob + 50));
    EXPECT_EQ(s.bar.trackedTouchCount(), 1u);
    s.bar.touchCancelled(at(kFinger, knob));

    // Setting the value from code sends nothing; the range holds it.
    slider->setDoubleValue(5.0);
    EXPECT_DOUBLE_EQ(slider->doubleValue(), 2.0);
    slider->setDoubleValue(std::nan(""));
    EXPECT_DOUBLE_EQ(slider->doubleValue(), 2.0);

    // The icon sits at the minimum end; touches on it do nothing, the track moves right of it.
    auto icon = Image::create(60, 60);
    slider->setMinimumValueAccessory(icon);
    EXPECT_DOUBLE_EQ(slider->knobCenterX(), 200.0 - 9.0);
    const int held = actions;
    s.tap(kFinger, 8.0 + 10.0);
    EXPECT_DOUBLE_EQ(slider->doubleValue(), 2.0);
    EXPECT_EQ(actions, held);
    s.tap(kFinger, 8.0 + 30.0 + 9.0);
    EXPECT_DOUBLE_EQ(slider->doubleValue(), 0.0);

    // Drawn: the track filled in accent red up to the knob, grey beyond it.
    slider->setDoubleValue(1.0);
    Renderer renderer;
    renderer.render(*s.bar.layer(), 2.0, 0.0);
    const double knobAt = 8.0 + slider->knobCenterX();
    const Rgba8 red = renderer.pixelAtPoint(knobAt - 30, 15);
    EXPECT_EQ(red, (Rgba8{210, 19, 48, 255}));  // 211/256, 19/256, 48/256 of 255
    const Rgba8 grey = renderer.pixelAtPoint(knobAt + 30, 15);
    EXPECT_EQ(grey.r, grey.g);
    EXPECT_GT(grey.r, 60);
    EXPECT_EQ(renderer.pixelAtPoint(knobAt, 15).r, 235);                       // the knob
    EXPECT_EQ(renderer.pixelAtPoint(knobAt + 30, 25), (Rgba8{0, 0, 0, 255}));  // background
}

TEST(ControlsButtonsAndSegments, ActOnReleaseInside) {
    auto button = std::make_shared<Button>("button");
    button->setTitle("fx");
    int pressed = 0;
    button->setAction([&] { ++pressed; });
    auto segments = std::make_shared<SegmentedControl>("segments");
    segments->setSegmentCount(4);
    segments->setSelectedSegment(0);
    int changed = 0;
    segments->setAction([&] { ++changed; });
    Strip s({button, segments});
    const double b = button->frame().midX();
    const double seg0 = segments->frame().minX();

    s.bar.touchBegan(at(kFinger, b));
    EXPECT_TRUE(button->isHighlighted());
    s.bar.touchMoved(at(kFinger, 400));  // dragged off: no longer lit
    EXPECT_FALSE(button->isHighlighted());
    s.bar.touchEnded(at(kFinger, 400));
    EXPECT_EQ(pressed, 0);
    s.bar.touchBegan(at(kMouse, b));
    s.bar.touchCancelled(at(kMouse, b));
    EXPECT_EQ(pressed, 0);
    s.tap(kMouse, b);
    EXPECT_EQ(pressed, 1);
    EXPECT_FALSE(button->isHighlighted());

    // A tap on segment 2 selects it and sends; a drag from 3 to 1 changes nothing; tapping the
    // selected segment again sends again.
    s.tap(kFinger, seg0 + kSegmentWidth * 2.5);
    EXPECT_EQ(segments->selectedSegment(), 2);
    EXPECT_EQ(changed, 1);
    s.drag(kFinger, seg0 + kSegmentWidth * 3.5, seg0 + kSegmentWidth * 1.5);
    EXPECT_EQ(segments->selectedSegment(), 2);
    EXPECT_EQ(changed, 1);
    s.tap(kFinger, seg0 + kSegmentWidth * 2.2);
    EXPECT_EQ(changed, 2);
    EXPECT_EQ(segments->segmentAt(-1), -1);
    EXPECT_EQ(segments->segmentAt(kSegmentWidth * 4), -1);

    // Images by segment; a segment out of range is ignored.
    auto picture = Image::create(36, 36);
    segments->setImage(picture, 3);
    segments->setImage(picture, 4);
    EXPECT_EQ(segments->imageForSegment(3), picture);
    EXPECT_EQ(segments->imageForSegment(4), nullptr);
    segments->setSelectedSegment(9);
    EXPECT_EQ(segments->selectedSegment(), -1);
}

TEST(ControlsStepper, StepsWithinItsRangeAndShowsItsFormatter) {
    auto transpose = std::make_shared<Stepper>("t", std::make_unique<TransposeFormatter>());
    transpose->setValue(0);
    transpose->setIncrement(1);
    transpose->setMinValue(-24);
    transpose->setMaxValue(24);
    auto disabled = std::make_shared<Stepper>("d", std::make_unique<DisabledFormatter>());
    disabled->setValue(1);
    disabled->setMaxValue(0);
    disabled->setMinValue(1);
    int sent = 0;
    transpose->setAction([&] { ++sent; });
    Strip s({transpose, disabled});
    const double minus = transpose->frame().minX() + kStepperArrowWidth / 2;
    const double plus = transpose->frame().maxX() - kStepperArrowWidth / 2;
    const double label = transpose->frame().midX();

    EXPECT_EQ(transpose->label(), "original");
    s.tap(kFinger, plus);
    EXPECT_EQ(transpose->label(), "+1");
    EXPECT_EQ(sent, 1);
    s.tap(kMouse, minus);
    s.tap(kMouse, minus);
    EXPECT_EQ(transpose->label(), "-1");
    EXPECT_EQ(sent, 3);
    s.tap(kFinger, label);         // the label itself does nothing
    s.drag(kFinger, plus, minus);  // released on the other arrow: nothing
    EXPECT_EQ(transpose->value(), -1.0);
    EXPECT_EQ(sent, 3);

    // No wrapping at the ends: at -24 the minus arrow does nothing and sends nothing.
    transpose->setValue(-24);
    EXPECT_EQ(transpose->label(), "-24");
    EXPECT_FALSE(transpose->canStep(-1));
    s.tap(kFinger, minus);
    EXPECT_EQ(transpose->value(), -24.0);
    EXPECT_EQ(sent, 3);
    transpose->setValue(24);
    EXPECT_EQ(transpose->label(), "+24");
    EXPECT_FALSE(transpose->step(1));

    // The placeholder: maximum below minimum, so neither arrow steps it.
    EXPECT_EQ(disabled->label(), "disabled");
    EXPECT_FALSE(disabled->canStep(1));
    EXPECT_FALSE(disabled->canStep(-1));
    s.tap(kFinger, disabled->frame().minX() + 5);
    s.tap(kFinger, disabled->frame().maxX() - 5);
    EXPECT_EQ(disabled->value(), 1.0);
}

TEST(ControlsDrawing, ButtonImageAndStepperLabel) {
    auto button = std::make_shared<Button>("b");
    auto picture = Image::create(36, 36);  // 18 x 18 points at 2 pixels per point
    {
        Renderer painter;  // a white square to show
        auto square = Layer::create();
        square->setBounds(Rect::make(0, 0, 18, 18));
        square->setBackgroundColor(Color::white(1.0));
        picture = painter.render(*square, 2.0, 0.0).copy();
    }
    button->setImage(picture);
    auto stepper = std::make_shared<Stepper>("s", std::make_unique<SlicesFormatter>());
    stepper->setValue(1);
    stepper->setMinValue(0);
    stepper->setMaxValue(4);
    Strip s({button, stepper});
    Renderer renderer;
    renderer.render(*s.bar.layer(), 2.0, 0.0);
    const Rect b = button->frame();
    EXPECT_EQ(renderer.pixelAtPoint(b.midX(), 15), (Rgba8{255, 255, 255, 255}));
    EXPECT_EQ(renderer.pixelAtPoint(b.midX() - 10, 15).r, 53);  // the bezel, white 0.21
    EXPECT_EQ(renderer.pixelAtPoint(b.midX(), 15 + 10).r, 53);

    // The label "auto slice" is drawn between the arrows, within the strip's middle band.
    const Rect st = stepper->frame();
    int inked = 0;
    for (double x = st.minX() + kStepperArrowWidth; x < st.maxX() - kStepperArrowWidth; x += 0.5) {
        for (double y = 0.25; y < 30; y += 0.5) {
            if (renderer.pixelAtPoint(x, y).r > 200) {
                ++inked;
                EXPECT_GT(y, 7.0);
                EXPECT_LT(y, 23.0);
            }
        }
    }
    EXPECT_GT(inked, 50);
}
