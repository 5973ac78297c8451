#include <cmath>
#include <limits>

#include "app/ControlsTestSupport.h"
#include "app/Icons.h"
#include "display/Renderer.h"
#include "support/LogLines.h"

using namespace vornik;
using namespace vornik::controls;
using test::at;
using test::kFinger;
using test::kFinger2;
using test::kMouse;

namespace {

// An item that records what reaches it (in its own points).
class Probe final : public BarItem {
public:
    Probe(std::string id, bool takes = true) : BarItem(std::move(id)), takes_(takes) {}
    double preferredWidth() const override { return 100; }
    bool touchBegan(const Touch& t) override {
        note("began", t);
        return takes_;
    }
    void touchMoved(const Touch& t) override { note("moved", t); }
    void touchEnded(const Touch& t) override { note("ended", t); }
    void touchCancelled(const Touch&) override { log += ", cancelled"; }
    void note(const char* what, const Touch& t) {
        log += std::string(log.empty() ? "" : ", ") + what + " " +
               std::to_string(static_cast<int>(t.location.x));
    }
    std::string log;

private:
    bool takes_;
};

// A bar on a strip of `width` x 30 points.
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
    void tap(TouchId id, double x) { drag(id, x, x, 0); }
};

}  // namespace

TEST(ControlsFormatters, LabelsOfTheThreeFormatters) {
    const auto labels = [](const Formatter& f, std::initializer_list<std::optional<double>> vs) {
        std::string s;
        for (auto v : vs) s.append("|").append(f.stringForObjectValue(v).value_or("none"));
        return s.substr(1);
    };
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(labels(SlicesFormatter(), {0, 1.9, 2, 4, 5, -1, {}, NAN}),
              "0 slices|auto slice|4 slices|16 slices|0 slices|0 slices|none|none");
    // Truncated towards zero; far outside int's range the range's end stands in.
    EXPECT_EQ(labels(TransposeFormatter(), {-24, 24, -0.7, {}, 1e300, -inf}),
              "-24|+24|original|none|+2147483647|-2147483648");
    EXPECT_EQ(labels(DisabledFormatter(), {1, {}}), "disabled|disabled");
}

TEST(ControlsBar, LaysItemsOutLeftToRight) {
    auto segments = std::make_shared<SegmentedControl>("s");
    segments->setSegmentCount(4);
    auto slider1 = std::make_shared<Slider>("s1");
    auto slider2 = std::make_shared<Slider>("s2");
    Bar bar;
    bar.setItems({std::make_shared<Button>("b"), segments, slider1, slider2,
                  std::make_shared<Stepper>("t", std::make_unique<TransposeFormatter>()),
                  std::make_shared<Stepper>("u", std::make_unique<SlicesFormatter>())});
    const LayerPtr& root = bar.layout(Size{1085, 30});
    // 8 points at each end and between items; the sliders share what the others leave.
    double x = 8.0;
    for (std::size_t i = 0; i < bar.items().size(); ++i) {
        const BarItemPtr& item = bar.items()[i];
        EXPECT_EQ(item->frame().minX(), x) << i;
        EXPECT_EQ(item->frame().size.height, 30.0) << i;
        EXPECT_EQ(root->sublayers()[i], item->layer()) << i;  // drawn in the order added
        x = item->frame().maxX() + 8.0;
    }
    EXPECT_EQ(x, 1085.0);
    EXPECT_EQ(slider1->frame().size.width, slider2->frame().size.width);
    bar.layout(Size{3000, 30});
    EXPECT_EQ(slider1->frame().size.width, kSliderMaximumWidth);
    bar.layout(Size{700, 30});  // too narrow: the sliders give way first, then the steppers
    EXPECT_EQ(slider1->frame().size.width, kSliderSmallestWidth);
    EXPECT_EQ(bar.items()[4]->frame().size.width, 130.0);
    // A view that fills the bar covers the whole strip when it is alone on it.
    auto view = Layer::create();
    bar.setItems({std::make_shared<CustomItem>("v", view)});
    bar.layout(Size{900, 30});
    EXPECT_EQ(view->frame(), Rect::make(0, 0, 900, 30));
    EXPECT_EQ(root->sublayers(), std::vector<LayerPtr>{view});
}

TEST(ControlsBar, TouchesGoTopMostFirstAndStayWithTheirItem) {
    auto below = std::make_shared<Probe>("below");
    auto above = std::make_shared<Probe>("above", /*takes=*/false);
    Strip s({below, above});
    above->setFrame(below->frame());  // on top of each other: the later one is asked first
    s.bar.touchBegan(at(kFinger, 58));
    s.bar.touchMoved(at(kFinger, 500));  // the finger stays with the item that took it
    s.bar.touchEnded(at(kFinger, 590));
    EXPECT_EQ(above->log, "began 50");
    EXPECT_EQ(below->log, "began 50, moved 492, ended 582");
    s.bar.touchBegan(at(kFinger2, 590));  // on no item: goes nowhere
    EXPECT_EQ(s.bar.trackedTouchCount(), 0u);
    // A finger on an item that leaves the bar is cancelled there; its later events are dropped.
    s.bar.touchBegan(at(kFinger, 58));
    auto other = std::make_shared<Probe>("other");
    s.bar.setItems({other});
    EXPECT_EQ(below->log.substr(below->log.rfind(',')), ", cancelled");
    s.bar.touchEnded(at(kFinger, 58));
    EXPECT_EQ(other->log, "");
    // A finger that begins again without ending is logged and its first touch cancelled; losing
    // every finger cancels each held touch once.
    test::LogLines logged;
    s.bar.touchBegan(at(kFinger, 20));
    s.bar.touchBegan(at(kFinger, 30));
    ASSERT_EQ(logged.lines.size(), 1u);
    EXPECT_NE(logged.lines[0].find("began again"), std::string::npos);
    s.bar.cancelAllTouches();
    EXPECT_EQ(other->log, "began 12, cancelled, began 22, cancelled");
    EXPECT_EQ(s.bar.trackedTouchCount(), 0u);
}

TEST(ControlsSlider, DragsByTouchAndByMouseAndDrawsItsFill) {
    auto slider = std::make_shared<Slider>("slider");
    slider->setMaxValue(2);
    slider->setDoubleValue(1.0);
    slider->setTrackFillColor(kAccentRed);
    int actions = 0;
    slider->setAction([&] { ++actions; });
    Strip s({slider}, 216.0);  // 200 points wide at x = 8; the knob runs from 9 to 191 in it
    const double span = 182.0, knob = 8.0 + 9.0 + span / 2;
    // Grabbing the knob off-centre drags it from where it is: no jump on touch-down. Beyond the
    // end the value stays at the maximum, and nothing is sent for no change.
    s.bar.touchBegan(at(kFinger, knob + 4));
    EXPECT_EQ(actions, 0);
    s.bar.touchMoved(at(kFinger, knob + 4 + span / 4));
    EXPECT_DOUBLE_EQ(slider->doubleValue(), 1.5);
    s.bar.touchBegan(at(kFinger2, knob));  // a second finger on a held slider is not taken
    EXPECT_EQ(s.bar.trackedTouchCount(), 1u);
    s.bar.touchMoved(at(kFinger, 1000));
    s.bar.touchMoved(at(kFinger, 1200));
    s.bar.touchEnded(at(kFinger, 1200));
    EXPECT_DOUBLE_EQ(slider->doubleValue(), 2.0);
    EXPECT_EQ(actions, 2);
    // The mouse: a press on the track away from the knob puts the knob there; every step sends.
    s.drag(kMouse, 8.0 + 9.0, knob, 4);
    EXPECT_DOUBLE_EQ(slider->doubleValue(), 1.0);
    EXPECT_EQ(actions, 7);
    // Set from code: nothing sent, the range holds, not-a-number is ignored.
    slider->setDoubleValue(5.0);
    slider->setDoubleValue(NAN);
    EXPECT_DOUBLE_EQ(slider->doubleValue(), 2.0);
    EXPECT_EQ(actions, 7);
    // The icon sits at the minimum end and takes no touches; the track moves right of it.
    slider->setMinimumValueAccessory(Image::create(60, 60));
    s.tap(kFinger, 8.0 + 30.0 + 9.0);
    EXPECT_DOUBLE_EQ(slider->doubleValue(), 0.0);
    // Drawn: the track in accent red up to the knob, grey beyond it, on black.
    slider->setDoubleValue(1.0);
    Renderer renderer;
    renderer.render(*s.bar.layer(), 2.0, 0.0);
    const double knobAt = 8.0 + slider->knobCenterX();
    EXPECT_EQ(renderer.pixelAtPoint(knobAt - 30, 15), (Rgba8{210, 19, 48, 255}));
    EXPECT_NE(renderer.pixelAtPoint(knobAt + 30, 15), (Rgba8{210, 19, 48, 255}));
}

TEST(ControlsButtonsAndSegments, ActOnReleaseInside) {
    auto button = std::make_shared<Button>("button");
    int pressed = 0, changed = 0;
    button->setAction([&] { ++pressed; });
    auto segments = std::make_shared<SegmentedControl>("segments");
    segments->setSegmentCount(4);
    segments->setAction([&] { ++changed; });
    Strip s({button, segments});
    const double b = button->frame().midX(), seg = segments->frame().minX();
    s.bar.touchBegan(at(kFinger, b));
    EXPECT_TRUE(button->isHighlighted());
    s.bar.touchMoved(at(kFinger, 400));  // dragged off: no longer lit, and no press
    EXPECT_FALSE(button->isHighlighted());
    s.bar.touchEnded(at(kFinger, 400));
    EXPECT_EQ(pressed, 0);
    s.tap(kMouse, b);
    EXPECT_EQ(pressed, 1);
    // A tap selects and sends (again on the selected one); a drag from 3 to 1 changes nothing.
    s.tap(kFinger, seg + kSegmentWidth * 2.5);
    EXPECT_EQ(segments->selectedSegment(), 2);
    s.drag(kFinger, seg + kSegmentWidth * 3.5, seg + kSegmentWidth * 1.5);
    EXPECT_EQ(segments->selectedSegment(), 2);
    EXPECT_EQ(changed, 1);
    s.tap(kMouse, seg + kSegmentWidth * 2.2);
    EXPECT_EQ(changed, 2);
}

TEST(ControlsStepper, StepsWithinItsRange) {
    auto transpose = std::make_shared<Stepper>("t", std::make_unique<TransposeFormatter>());
    transpose->setMinValue(-24);
    transpose->setMaxValue(24);
    auto disabled = std::make_shared<Stepper>("d", std::make_unique<DisabledFormatter>());
    disabled->setValue(1);
    disabled->setMaxValue(0);
    disabled->setMinValue(1);
    int sent = 0;
    transpose->setAction([&] { ++sent; });
    auto button = std::make_shared<Button>("b");
    button->setImage(reverbIcon(0.0));  // a white dot in the middle
    Strip s({transpose, disabled, button}, 800.0);
    const double minus = transpose->frame().minX() + kStepperArrowWidth / 2;
    const double plus = transpose->frame().maxX() - kStepperArrowWidth / 2;
    s.tap(kFinger, plus);
    s.tap(kMouse, minus);
    s.tap(kMouse, minus);
    EXPECT_EQ(transpose->label(), "-1");
    EXPECT_EQ(sent, 3);
    s.drag(kFinger, plus, minus);  // released on the other arrow: nothing
    EXPECT_EQ(sent, 3);
    transpose->setValue(-24);  // no wrapping at the ends
    s.tap(kFinger, minus);
    EXPECT_EQ(transpose->value(), -24.0);
    EXPECT_EQ(sent, 3);
    // The placeholder: maximum below minimum, so neither arrow steps it.
    s.tap(kFinger, disabled->frame().minX() + 5);
    s.tap(kFinger, disabled->frame().maxX() - 5);
    EXPECT_EQ(disabled->value(), 1.0);
    // Drawn: the button's image on its bezel (white 0.21).
    Renderer renderer;
    renderer.render(*s.bar.layer(), 2.0, 0.0);
    EXPECT_EQ(renderer.pixelAtPoint(button->frame().midX(), 15), (Rgba8{255, 255, 255, 255}));
    EXPECT_EQ(renderer.pixelAtPoint(button->frame().midX() - 10, 15).r, 53);
}
