#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/WindowController.h"
#include "support/DrawingEnvironment.h"
#include "support/LogLines.h"

using namespace vornik;

namespace {

[[maybe_unused]] auto* const kDrawing =
    ::testing::AddGlobalTestEnvironment(new test::DrawingEnvironment);

namespace fs = std::filesystem;
using Ids = std::vector<std::string>;

constexpr Size kStrip{1085, 30};
constexpr TouchId kFinger = 21;
constexpr TouchId kMouse = 0x7fff'0000'0000'0001;

Touch at(TouchId id, double x) { return Touch{id, {x, 15}, {x, 15}}; }

struct Call {
    std::string name;
    double value;
    friend bool operator==(const Call&, const Call&) = default;
};

void PrintTo(const Call& c, std::ostream* os) { *os << c.name << "(" << c.value << ")"; }

class WindowControllerTest : public ::testing::Test {
protected:
    WindowControllerTest() {
        assets = fs::temp_directory_path() /
                 ("vornik-controller-" +
                  std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(assets);
        controller = std::make_unique<WindowController>(loop, assets);
        controller->setInstrumentCallObserver([this](std::string_view name, double value) {
            calls.push_back(Call{std::string(name), value});
        });
    }
    ~WindowControllerTest() override {
        controller.reset();
        std::error_code ignored;
        fs::remove_all(assets, ignored);
    }

    Ids shown() const {
        Ids ids;
        for (const BarItemPtr& item : controller->mainBar()->items())
            ids.push_back(item->identifier());
        return ids;
    }
    // Calls named `name` since the last clear.
    std::vector<double> sent(const std::string& name) const {
        std::vector<double> values;
        for (const Call& c : calls) {
            if (c.name == name) values.push_back(c.value);
        }
        return values;
    }
    // A tap on the middle of an item of the shown bar, or at an offset into it.
    void tap(const BarItem& item, double dx) {
        const double x = item.frame().minX() + dx;
        controller->stripTouch(TouchPhase::Began, at(kFinger, x));
        controller->stripTouch(TouchPhase::Ended, at(kFinger, x));
    }
    void selectMode(int mode) {
        const auto& segments = controller->modeSegments();
        tap(*segments, controls::kSegmentWidth * (mode + 0.5));
    }

    ManualClock clock;
    RunLoop loop{clock};
    fs::path assets;
    std::unique_ptr<WindowController> controller;
    std::vector<Call> calls;
};

const Ids kSlicerBar = {"com.vornik.effectsButton",    "com.vornik.playModeSelector",
                        "com.vornik.attack",           "com.vornik.decay",
                        "com.vornik.transposeStepper", "com.vornik.slicesStepper"};
const Ids kLooperBar = {"com.vornik.effectsButton",    "com.vornik.playModeSelector",
                        "com.vornik.attack",           "com.vornik.decay",
                        "com.vornik.transposeStepper", "com.vornik.disabledStepper2"};
const Ids kTapeBar = {"com.vornik.effectsButton",   "com.vornik.playModeSelector",
                      "com.vornik.attack",          "com.vornik.decay",
                      "com.vornik.disabledStepper", "com.vornik.disabledStepper2"};
const Ids kEffectsBar = {"com.vornik.controlsButton", "com.vornik.filter", "com.vornik.delay",
                         "com.vornik.feedback", "com.vornik.reverb"};

}  // namespace

TEST_F(WindowControllerTest, BarsAndTheirItemsByPlayMode) {
    // Nothing exists until the strip asks for its bar; then the instrument alone.
    EXPECT_FALSE(controller->deviceHasTouchbar());
    EXPECT_EQ(controller->mainView(), nullptr);
    EXPECT_EQ(controller->currentBar(), 0);
    EXPECT_EQ(controller->secondaryBar(), 1);
    const LayerPtr& root = controller->stripLayer(kStrip);
    EXPECT_TRUE(controller->deviceHasTouchbar());
    ASSERT_NE(controller->mainView(), nullptr);
    EXPECT_EQ(shown(), Ids{"com.vornik.main"});
    // The instrument's layer spans the strip.
    ASSERT_EQ(root->sublayers().size(), 1u);
    EXPECT_EQ(root->sublayers()[0], controller->mainView()->layer());
    EXPECT_EQ(controller->mainView()->layer()->frame(), Rect::make(0, 0, 1085, 30));
    EXPECT_EQ(root->bounds(), Rect::make(0, 0, 1085, 30));
    // Nothing was sent to the instrument by building anything.
    EXPECT_TRUE(calls.empty());

    // The lists by play mode, including a mode the instrument does not know.
    EXPECT_EQ(WindowController::controlsBarItems(0), kSlicerBar);
    EXPECT_EQ(WindowController::controlsBarItems(1), kLooperBar);
    EXPECT_EQ(WindowController::controlsBarItems(2), kLooperBar);
    EXPECT_EQ(WindowController::controlsBarItems(3), kTapeBar);
    EXPECT_EQ(WindowController::controlsBarItems(-1), kLooperBar);
    EXPECT_EQ(WindowController::controlsBarItems(4), kLooperBar);
    EXPECT_EQ(WindowController::effectsBarItems(), kEffectsBar);

    controller->showBar(1);
    EXPECT_EQ(shown(), kSlicerBar);
    controller->showBar(2);
    EXPECT_EQ(shown(), kEffectsBar);
    controller->showBar(0);
    EXPECT_EQ(shown(), Ids{"com.vornik.main"});

    // Items are built once and kept: the same objects each time they are asked for.
    EXPECT_EQ(controller->makeItemForIdentifier("com.vornik.attack"), controller->attackSlider());
    MainView* view = controller->mainView();
    EXPECT_EQ(controller->makeItemForIdentifier("com.vornik.main"), controller->mainTouchBarItem());
    EXPECT_EQ(controller->mainView(), view);
    EXPECT_EQ(controller->makeItemForIdentifier("com.vornik.nothing"), nullptr);
    EXPECT_EQ(controller->makeItemForIdentifier("com.vornik.Attack"), nullptr);
    EXPECT_EQ(controller->feedbackSlider()->minimumValueAccessory(), nullptr);  // no icon

    // The starting values and ranges of the controls.
    EXPECT_EQ(controller->attackSlider()->doubleValue(), 0.0);
    EXPECT_EQ(controller->decaySlider()->doubleValue(), 0.5);
    EXPECT_EQ(controller->filterSlider()->doubleValue(), 1.0);
    EXPECT_EQ(controller->filterSlider()->maxValue(), 2.0);
    EXPECT_EQ(controller->reverbSlider()->trackFillColor(), kAccentRed);
    EXPECT_EQ(controller->transposeStepper()->label(), "original");
    EXPECT_EQ(controller->slicesStepper()->label(), "auto slice");
    EXPECT_EQ(controller->modeSegments()->selectedSegment(), 0);
    EXPECT_EQ(controller->modeSegments()->selectedSegmentBezelColor(), Color::white(0.35));
    EXPECT_TRUE(calls.empty());
}

TEST_F(WindowControllerTest, PlayModeSelectionLaysOutTheControlsBar) {
    controller->makeTouchBar();
    controller->stripLayer(kStrip);
    controller->showBar(1);
    BarImages& images = controller->barImages();
    const auto& segments = controller->modeSegments();

    // Tape: two placeholder steppers reading "disabled", no slices.
    selectMode(3);
    EXPECT_EQ(controller->mainView()->playMode(), 3);
    EXPECT_EQ(shown(), kTapeBar);
    EXPECT_EQ(calls, (std::vector<Call>{{"setPlayMode", 3}, {"setNumSlices", 0}}));
    EXPECT_EQ(controller->mainView()->numSlices(), 0);
    EXPECT_EQ(controller->disabledStepper()->label(), "disabled");
    EXPECT_EQ(controller->disabledStepper2()->label(), "disabled");
    EXPECT_EQ(segments->imageForSegment(3), images.image("tape@2x"));
    EXPECT_EQ(segments->imageForSegment(0), images.image("slicer.disabled@2x"));
    EXPECT_EQ(segments->imageForSegment(1), images.image("looper.disabled@2x"));

    // Looper and bow share a layout.
    calls.clear();
    selectMode(1);
    EXPECT_EQ(shown(), kLooperBar);
    EXPECT_EQ(segments->imageForSegment(1), images.image("looper@2x"));
    EXPECT_EQ(segments->imageForSegment(3), images.image("tape.disabled@2x"));
    selectMode(2);
    EXPECT_EQ(shown(), kLooperBar);
    EXPECT_EQ(sent("setNumSlices"), (std::vector<double>{0, 0}));

    // Back to slicer with the slices stepper at 3 ("8 slices"): mode 0, then 8 slices.
    controller->slicesStepper()->setValue(3);
    calls.clear();
    selectMode(0);
    EXPECT_EQ(calls, (std::vector<Call>{{"setPlayMode", 0}, {"setNumSlices", 8}}));
    EXPECT_EQ(controller->mainView()->playMode(), 0);
    EXPECT_EQ(controller->mainView()->numSlices(), 8);
    EXPECT_EQ(shown(), kSlicerBar);
    EXPECT_EQ(controller->currentBar(), 1);
}

TEST_F(WindowControllerTest, SlicesStepperSendsItsCount) {
    controller->makeTouchBar();
    controller->stripLayer(kStrip);
    controller->showBar(1);
    const auto& stepper = controller->slicesStepper();
    ASSERT_TRUE(stepper);
    const double minus = controls::kStepperArrowWidth / 2;
    const double plus = stepper->frame().size.width - controls::kStepperArrowWidth / 2;

    tap(*stepper, minus);  // 1 -> 0: no slices
    EXPECT_EQ(stepper->label(), "0 slices");
    tap(*stepper, plus);  // automatic
    EXPECT_EQ(stepper->label(), "auto slice");
    for (int i = 0; i < 4; ++i) tap(*stepper, plus);  // 4, 8, 16, then held at 16
    EXPECT_EQ(stepper->label(), "16 slices");
    EXPECT_EQ(sent("setNumSlices"), (std::vector<double>{0, 1, 4, 8, 16}));
}

TEST_F(WindowControllerTest, ValueMappings) {
    controller->makeTouchBar();
    controller->showBar(1);
    controller->showBar(2);
    MainView& view = *controller->mainView();

    controller->attackSlider()->setDoubleValue(1.0);
    controller->attackChanged();
    EXPECT_DOUBLE_EQ(sent("setAttack").back(), 1.005);
    EXPECT_DOUBLE_EQ(view.attack(), 1.005);
    controller->attackSlider()->setDoubleValue(0.0);
    controller->attackChanged();
    EXPECT_DOUBLE_EQ(sent("setAttack").back(), 0.005);

    controller->decaySlider()->setDoubleValue(0.5);
    controller->decayChanged();
    EXPECT_DOUBLE_EQ(sent("setDecay").back(), 0.63);
    EXPECT_DOUBLE_EQ(view.decay(), 0.63);
    controller->decaySlider()->setDoubleValue(1.0);
    controller->decayChanged();
    EXPECT_DOUBLE_EQ(sent("setDecay").back(), 5.005);

    controller->feedbackSlider()->setDoubleValue(0.5);
    controller->feedbackChanged();
    EXPECT_EQ(sent("delayFeedbackSet"), std::vector<double>{0.125});
    EXPECT_FLOAT_EQ(view.delayFeedback(), 12.5f);  // the delay unit's percent

    controller->reverbSlider()->setDoubleValue(0.3);
    controller->reverbChanged();
    EXPECT_EQ(sent("reverbSet"), std::vector<double>{0.3f});  // as a 32-bit float

    // The transpose stepper's value, truncated.
    loop.advance(clock, 0.5);
    controller->transposeStepper()->setValue(-7.9);
    controller->transposeChanged();
    EXPECT_EQ(sent("setTranspose"), std::vector<double>{-7});
    EXPECT_EQ(view.transpose(), -7);
}

TEST_F(WindowControllerTest, FilterSnapsToOffAroundTheMiddle) {
    controller->makeTouchBar();
    controller->showBar(2);
    const auto& filter = controller->filterSlider();
    // Strictly between the single-precision 0.9 and 1.1: 0.9 and 1.1 as doubles lie inside.
    for (double v :
         {1.05, 0.9, 1.1, std::nextafter(double(0.9f), 2.0), std::nextafter(double(1.1f), 0.0)}) {
        calls.clear();
        filter->setDoubleValue(v);
        controller->filterChanged();
        EXPECT_EQ(filter->doubleValue(), 1.0) << v;
        EXPECT_EQ(calls, (std::vector<Call>{{"filterSet", 1.0}})) << v;
        EXPECT_TRUE(controller->mainView()->lowpassBypass()) << v;  // no filter at all
        EXPECT_TRUE(controller->mainView()->highpassBypass()) << v;
    }
    for (double v : {0.89, 1.11, double(0.9f), double(1.1f), 0.0, 2.0}) {
        calls.clear();
        filter->setDoubleValue(v);
        controller->filterChanged();
        EXPECT_EQ(filter->doubleValue(), v) << v;
        EXPECT_EQ(calls, (std::vector<Call>{{"filterSet", static_cast<float>(v)}})) << v;
        EXPECT_EQ(controller->mainView()->lowpassBypass(), v >= 1.0) << v;
        EXPECT_EQ(controller->mainView()->highpassBypass(), v <= 1.0) << v;
    }
    // The icon follows: a flat line when snapped.
    auto before = filter->minimumValueAccessory();
    filter->setDoubleValue(1.02);
    controller->filterChanged();
    EXPECT_NE(filter->minimumValueAccessory(), before);
    EXPECT_EQ(filter->minimumValueAccessory()->width(), 60);
}

TEST_F(WindowControllerTest, DelayTimeFollowsTheSliderOnceItRests) {
    controller->stripLayer(kStrip);
    controller->showBar(2);
    const auto& delay = controller->delaySlider();
    const Rect f = delay->frame();
    const double x0 = f.minX() + controls::kAccessorySize + 20;

    const double startTime = controller->mainView()->delayTime();

    // A second of movement, a step every 10 ms: the icon follows every step, nothing is sent.
    controller->stripTouch(TouchPhase::Began, at(kMouse, x0));
    int iconChanges = 0;
    auto icon = delay->minimumValueAccessory();
    for (int i = 1; i <= 100; ++i) {
        loop.advance(clock, 0.01);
        controller->stripTouch(TouchPhase::Moved, at(kMouse, x0 + i));
        if (delay->minimumValueAccessory() != icon) ++iconChanges;
        icon = delay->minimumValueAccessory();
    }
    controller->stripTouch(TouchPhase::Ended, at(kMouse, x0 + 100));
    EXPECT_EQ(iconChanges, 100);
    EXPECT_TRUE(sent("delayTimeSet").empty());
    EXPECT_EQ(controller->mainView()->delayTime(), startTime);

    // One send, 0.1 s after the last movement, with the value the slider has then.
    loop.advance(clock, 0.099);
    EXPECT_TRUE(sent("delayTimeSet").empty());
    loop.advance(clock, 0.002);
    ASSERT_EQ(sent("delayTimeSet").size(), 1u);
    EXPECT_EQ(sent("delayTimeSet")[0], static_cast<float>(delay->doubleValue()));
    EXPECT_GT(delay->doubleValue(), 0.0);
    EXPECT_GT(controller->mainView()->delayTime(), startTime);
    loop.advance(clock, 5.0);
    EXPECT_EQ(sent("delayTimeSet").size(), 1u);

    // The feedback slider redraws the delay icon too (the echoes' heights).
    icon = delay->minimumValueAccessory();
    controller->feedbackSlider()->setDoubleValue(1.0);
    controller->feedbackChanged();
    EXPECT_NE(delay->minimumValueAccessory(), icon);
}

TEST_F(WindowControllerTest, TransposeStepperListensOnlyAfterHalfASecond) {
    controller->stripLayer(kStrip);
    controller->showBar(1);  // the stepper is built now, at 0 s
    const auto& stepper = controller->transposeStepper();
    const double plus = stepper->frame().size.width - controls::kStepperArrowWidth / 2;

    loop.advance(clock, 0.2);
    tap(*stepper, plus);
    EXPECT_EQ(stepper->label(), "+1");  // the stepper moves, the instrument hears nothing
    loop.advance(clock, 0.28);
    tap(*stepper, plus);
    EXPECT_TRUE(sent("setTranspose").empty());
    EXPECT_FALSE(stepper->hasAction());
    EXPECT_EQ(controller->mainView()->transpose(), 0);

    loop.advance(clock, 0.03);  // past 0.5 s after it was built
    EXPECT_TRUE(stepper->hasAction());
    tap(*stepper, plus);
    EXPECT_EQ(sent("setTranspose"), std::vector<double>{3});
    EXPECT_EQ(controller->mainView()->transpose(), 3);

    // A dropped file resets the transposition: the stepper reads "original", the instrument 0.
    calls.clear();
    controller->resetTransposition();
    EXPECT_EQ(stepper->label(), "original");
    EXPECT_EQ(calls, (std::vector<Call>{{"setTranspose", 0}}));
    EXPECT_EQ(controller->mainView()->transpose(), 0);

    // Showing the bar again builds nothing new and schedules nothing more.
    controller->showBar(0);
    controller->showBar(1);
    EXPECT_EQ(controller->transposeStepper(), stepper);
    EXPECT_EQ(loop.pendingCount(), 0u);
}

TEST_F(WindowControllerTest, ButtonsAndTheSecondaryBar) {
    controller->stripLayer(kStrip);
    controller->showBar(1);
    tap(*controller->effectsButton(), 10);
    EXPECT_EQ(controller->currentBar(), 2);
    EXPECT_EQ(controller->secondaryBar(), 2);
    EXPECT_EQ(shown(), kEffectsBar);
    tap(*controller->controlsButton(), 10);
    EXPECT_EQ(controller->currentBar(), 1);
    EXPECT_EQ(controller->secondaryBar(), 1);
    EXPECT_EQ(shown(), kSlicerBar);

    controller->effectsPressed();
    controller->showBar(0);  // the instrument: the control bar last shown is remembered
    EXPECT_EQ(controller->currentBar(), 0);
    EXPECT_EQ(controller->secondaryBar(), 2);
    controller->showBar(controller->secondaryBar());
    EXPECT_EQ(shown(), kEffectsBar);

    // Any other number is only recorded; the items stay.
    controller->showBar(7);
    EXPECT_EQ(controller->currentBar(), 7);
    EXPECT_EQ(controller->secondaryBar(), 7);
    EXPECT_EQ(shown(), kEffectsBar);
}

TEST_F(WindowControllerTest, WithoutAnInstrumentNothingIsSent) {
    // The bar was never asked for: the actions run, their calls on the instrument are skipped.
    ASSERT_EQ(controller->mainView(), nullptr);
    controller->makeItemForIdentifier("com.vornik.attack");
    controller->makeItemForIdentifier("com.vornik.delay");
    controller->makeItemForIdentifier("com.vornik.slicesStepper");
    controller->attackChanged();
    controller->slicesChanged();
    controller->delayChanged();
    controller->filterChanged();  // no filter slider: nothing
    controller->resetTransposition();
    controller->showBar(1);  // no bar: only recorded
    loop.advance(clock, 1.0);
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(controller->currentBar(), 1);
    EXPECT_EQ(controller->mainView(), nullptr);
    // Touches before the bar exists go nowhere.
    controller->stripTouch(TouchPhase::Began, at(kFinger, 100));
    controller->stripTouch(TouchPhase::Ended, at(kFinger, 100));
}

TEST_F(WindowControllerTest, InstrumentTouchesAndBarSwitches) {
    std::vector<std::pair<TouchPhase, Touch>> got;
    controller->setInstrumentTouchHandler(
        [&](MainView& view, TouchPhase phase, const Touch& touch) {
            EXPECT_EQ(&view, controller->mainView());
            got.emplace_back(phase, touch);
        });
    controller->makeTouchBar();
    controller->stripLayer(kStrip);

    controller->stripTouch(TouchPhase::Began, at(kFinger, 100));
    controller->stripTouch(TouchPhase::Moved, Touch{kFinger, {140, 15}, {100, 15}});
    controller->stripTouch(TouchPhase::Began, at(kMouse, 700));
    controller->stripTouch(TouchPhase::Ended, at(kMouse, 700));
    ASSERT_EQ(got.size(), 4u);
    EXPECT_EQ(got[1].first, TouchPhase::Moved);
    EXPECT_EQ(got[1].second.location, (Point{140, 15}));  // the instrument's points: the strip's
    EXPECT_EQ(got[1].second.previousLocation, (Point{100, 15}));
    EXPECT_EQ(got[2].second.identity, kMouse);

    // Switching to a control bar with a finger still down cancels it on the instrument, so no
    // voice is left hanging; its later events reach nothing.
    controller->showBar(1);
    ASSERT_EQ(got.size(), 5u);
    EXPECT_EQ(got[4].first, TouchPhase::Cancelled);
    EXPECT_EQ(got[4].second.identity, kFinger);
    controller->stripTouch(TouchPhase::Ended, at(kFinger, 140));
    EXPECT_EQ(got.size(), 5u);

    // Focus lost: the fingers held are cancelled.
    controller->showBar(0);
    controller->stripLayer(kStrip);
    controller->stripTouch(TouchPhase::Began, at(kFinger, 300));
    controller->cancelStripTouches();
    ASSERT_EQ(got.size(), 7u);
    EXPECT_EQ(got[6].first, TouchPhase::Cancelled);
}

TEST_F(WindowControllerTest, BarPicturesFromFilesOrDrawn) {
    // A picture file present is used as it is; a broken one is logged and drawn instead; a
    // missing one is drawn without a word.
    {
        auto picture = Image::create(40, 32);
        ASSERT_TRUE(picture->writePng((assets / "effects@2x.png").string()));
        std::ofstream((assets / "controls@2x.png").string()) << "not a picture";
    }
    test::LogLines logged;
    controller->makeTouchBar();
    controller->showBar(1);
    controller->showBar(2);
    BarImages& images = controller->barImages();
    EXPECT_TRUE(images.fromFile("effects@2x"));
    EXPECT_EQ(controller->effectsButton()->image()->width(), 40);
    EXPECT_FALSE(images.fromFile("controls@2x"));
    EXPECT_EQ(controller->controlsButton()->image()->width(), barimages::kStandInPixels);
    EXPECT_FALSE(images.fromFile("slicer@2x"));
    EXPECT_EQ(logged.lines.size(), 1u);  // the broken file only
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(controller->modeSegments()->imageForSegment(i));
    // A drawn stand-in has ink; a dimmed one is fainter than its selected twin.
    auto brightest = [](const Image& image) {
        int a = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) a = std::max(a, int{image.pixel(x, y).a});
        }
        return a;
    };
    EXPECT_EQ(brightest(*images.image("looper@2x")), 255);
    EXPECT_LT(brightest(*images.image("looper.disabled@2x")), 128);
    EXPECT_GT(brightest(*images.image("no such picture")), 0);
}

TEST_F(WindowControllerTest, PendingWorkOutlivesTheController) {
    controller->makeTouchBar();
    controller->showBar(1);  // the transpose stepper's action is pending
    controller->showBar(2);
    controller->delaySlider()->setDoubleValue(0.5);
    controller->delayChanged();  // the delay timer is pending
    controller.reset();
    loop.advance(clock, 1.0);  // runs nothing that reaches the controller
    EXPECT_EQ(loop.pendingCount(), 0u);
}
