#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/ControlsTestSupport.h"
#include "app/WindowController.h"
#include "support/Files.h"
#include "support/LogLines.h"

using namespace vornik;
using test::at;
using test::kFinger;
using test::kMouse;

namespace {

namespace fs = std::filesystem;
using Ids = std::vector<std::string>;

// Item lists, without the "com.vornik." that every identifier starts with.
std::string names(const Ids& ids) {
    std::string s;
    for (const std::string& id : ids)
        s.append(" ").append(id.rfind("com.vornik.", 0) ? id : id.substr(11));
    return s.substr(1);
}
const std::string kSlicerBar =
    "effectsButton playModeSelector attack decay transposeStepper slicesStepper";
const std::string kLooperBar =
    "effectsButton playModeSelector attack decay transposeStepper disabledStepper2";
const std::string kTapeBar =
    "effectsButton playModeSelector attack decay disabledStepper disabledStepper2";
const std::string kEffectsBar = "controlsButton filter delay feedback reverb";

// A call on the instrument as text: its name and argument, to nine digits.
std::string call(std::string_view name, double value) {
    char s[80];
    std::snprintf(s, sizeof s, "%.*s %.9g", int(name.size()), name.data(), value);
    return s;
}

// A controller on a manual clock with its own assets folder, recording its calls.
class WindowControllerTest : public ::testing::Test {
protected:
    WindowControllerTest() {
        controller->setInstrumentCallObserver(
            [this](std::string_view name, double value) { calls.push_back(call(name, value)); });
    }

    std::string shown() const {
        Ids ids;
        for (const BarItemPtr& item : controller->mainBar()->items())
            ids.push_back(item->identifier());
        return names(ids);
    }
    // The calls since the last look, and none of them again.
    Ids taken() { return std::exchange(calls, {}); }
    // A tap at `dx` points into an item of the bar shown.
    void tap(const BarItem& item, double dx) {
        controller->stripTouch(TouchPhase::Began, at(kFinger, item.frame().minX() + dx));
        controller->stripTouch(TouchPhase::Ended, at(kFinger, item.frame().minX() + dx));
    }
    void selectMode(int mode) {
        tap(*controller->modeSegments(), controls::kSegmentWidth * (mode + 0.5));
    }
    // The controller with its controls bar shown on a strip of 1085 x 30 points.
    void showControls() {
        controller->stripLayer(Size{1085, 30});
        controller->showBar(1);
    }

    ManualClock clock;
    RunLoop loop{clock};
    test::TempDir assets;
    std::unique_ptr<WindowController> controller =
        std::make_unique<WindowController>(loop, assets.path());
    Ids calls;
};

}  // namespace

TEST_F(WindowControllerTest, BarsAndTheirItemsByPlayMode) {
    // Nothing exists until the strip asks for its bar; then the instrument alone, across it.
    EXPECT_EQ(controller->mainView(), nullptr);
    const LayerPtr& root = controller->stripLayer(Size{1085, 30});
    ASSERT_NE(controller->mainView(), nullptr);
    EXPECT_EQ(shown(), "main");
    EXPECT_EQ(root->sublayers(), std::vector<LayerPtr>{controller->mainView()->layer()});
    EXPECT_EQ(controller->mainView()->layer()->frame(), Rect::make(0, 0, 1085, 30));

    // A mode the instrument does not know gets the looper's list.
    for (int mode : {-1, 4}) EXPECT_EQ(names(WindowController::controlsBarItems(mode)), kLooperBar);
    controller->showBar(1);
    EXPECT_EQ(shown(), kSlicerBar);
    controller->showBar(2);
    EXPECT_EQ(shown(), kEffectsBar);
    controller->showBar(0);
    EXPECT_EQ(shown(), "main");

    // Items are built once and kept; unknown identifiers give none; building sends nothing.
    EXPECT_EQ(controller->makeItemForIdentifier("com.vornik.attack"), controller->attackSlider());
    MainView* view = controller->mainView();
    EXPECT_EQ(controller->makeItemForIdentifier("com.vornik.main"), controller->mainTouchBarItem());
    EXPECT_EQ(controller->mainView(), view);
    EXPECT_EQ(controller->makeItemForIdentifier("com.vornik.Attack"), nullptr);
    EXPECT_EQ(controller->feedbackSlider()->minimumValueAccessory(), nullptr);  // no icon
    EXPECT_TRUE(calls.empty());
}

TEST_F(WindowControllerTest, PlayModeSelectionLaysOutTheControlsBar) {
    showControls();
    BarImages& images = controller->barImages();
    const auto& segments = controller->modeSegments();

    selectMode(3);  // tape: two placeholder steppers reading "disabled", no slices
    EXPECT_EQ(taken(), (Ids{"setPlayMode 3", "setNumSlices 0"}));
    EXPECT_EQ(controller->mainView()->playMode(), 3);
    EXPECT_EQ(shown(), kTapeBar);
    EXPECT_EQ(controller->disabledStepper()->label(), "disabled");
    EXPECT_EQ(controller->disabledStepper2()->label(), "disabled");
    EXPECT_EQ(segments->imageForSegment(3), images.image("tape@2x"));
    EXPECT_EQ(segments->imageForSegment(0), images.image("slicer.disabled@2x"));

    selectMode(1);  // looper and bow share a layout
    EXPECT_EQ(shown(), kLooperBar);
    EXPECT_EQ(segments->imageForSegment(1), images.image("looper@2x"));
    EXPECT_EQ(segments->imageForSegment(3), images.image("tape.disabled@2x"));
    selectMode(2);
    EXPECT_EQ(shown(), kLooperBar);
    EXPECT_EQ(taken(), (Ids{"setPlayMode 1", "setNumSlices 0", "setPlayMode 2", "setNumSlices 0"}));

    // Back to slicer with the slices stepper at 3 ("8 slices"): mode 0, then 8 slices.
    controller->slicesStepper()->setValue(3);
    selectMode(0);
    EXPECT_EQ(taken(), (Ids{"setPlayMode 0", "setNumSlices 8"}));
    EXPECT_EQ(controller->mainView()->numSlices(), 8);
    EXPECT_EQ(shown(), kSlicerBar);
    // The slices stepper sends its count on each step: down to none, up to 16 and held there.
    const auto& stepper = controller->slicesStepper();
    const double minus = controls::kStepperArrowWidth / 2,
                 plus = stepper->frame().size.width - minus;
    for (double dx : {minus, minus, minus, plus, plus, plus, plus, plus}) tap(*stepper, dx);
    EXPECT_EQ(stepper->label(), "16 slices");
    EXPECT_EQ(taken(), (Ids{"setNumSlices 4", "setNumSlices 1", "setNumSlices 0", "setNumSlices 1",
                            "setNumSlices 4", "setNumSlices 8", "setNumSlices 16"}));
}

TEST_F(WindowControllerTest, ValueMappings) {
    controller->makeTouchBar();
    controller->showBar(1);
    controller->showBar(2);
    loop.advance(clock, 0.5);  // the transpose stepper listens from now on
    using Action = void (WindowController::*)();
    const std::tuple<const std::shared_ptr<Slider>&, double, Action, const char*> cases[] = {
        {controller->attackSlider(), 0.0, &WindowController::attackChanged, "setAttack 0.005"},
        {controller->attackSlider(), 0.5, &WindowController::attackChanged, "setAttack 0.255"},
        {controller->decaySlider(), 0.5, &WindowController::decayChanged, "setDecay 0.63"},
        {controller->feedbackSlider(), 0.5, &WindowController::feedbackChanged,
         "delayFeedbackSet 0.125"},
        {controller->reverbSlider(), 0.3, &WindowController::reverbChanged,
         "reverbSet 0.300000012"},  // as a 32-bit float
    };
    for (const auto& [slider, value, action, sent] : cases) {
        slider->setDoubleValue(value);
        (*controller.*action)();
        EXPECT_EQ(taken(), Ids{sent});
    }
    controller->transposeStepper()->setValue(-7.9);  // truncated
    controller->transposeChanged();
    EXPECT_EQ(taken(), Ids{"setTranspose -7"});
    EXPECT_DOUBLE_EQ(controller->mainView()->decay(), 0.63);  // sent on, not only observed
}

TEST_F(WindowControllerTest, FilterSnapsToOffAroundTheMiddle) {
    controller->makeTouchBar();
    controller->showBar(2);
    const auto& filter = controller->filterSlider();
    // Strictly between the single-precision 0.9 and 1.1 (0.9 and 1.1 as doubles lie inside) the
    // slider is set back to 1 and the filter is off.
    for (double v : {1.05, 0.9, 1.1, 0.89, 1.11, double(0.9f), double(1.1f), 0.0, 2.0}) {
        const bool snaps = v > double(0.9f) && v < double(1.1f);
        const double sent = snaps ? 1.0 : v;
        filter->setDoubleValue(v);
        controller->filterChanged();
        EXPECT_EQ(filter->doubleValue(), sent) << v;
        EXPECT_EQ(taken(), Ids{call("filterSet", static_cast<float>(sent))}) << v;
    }
    auto before = filter->minimumValueAccessory();  // the icon follows
    filter->setDoubleValue(0.5);
    controller->filterChanged();
    EXPECT_NE(filter->minimumValueAccessory(), before);
}

TEST_F(WindowControllerTest, DelayTimeFollowsTheSliderOnceItRests) {
    controller->stripLayer(Size{1085, 30});
    controller->showBar(2);
    const auto& delay = controller->delaySlider();
    const double x0 = delay->frame().minX() + controls::kAccessorySize + 20;
    const double startTime = controller->mainView()->delayTime();

    // A second of movement, a step every 10 ms: the icon follows every step, nothing is sent.
    controller->stripTouch(TouchPhase::Began, at(kMouse, x0));
    int iconChanges = 0;
    for (int i = 1; i <= 100; ++i) {
        auto icon = delay->minimumValueAccessory();
        loop.advance(clock, 0.01);
        controller->stripTouch(TouchPhase::Moved, at(kMouse, x0 + i));
        iconChanges += delay->minimumValueAccessory() != icon;
    }
    controller->stripTouch(TouchPhase::Ended, at(kMouse, x0 + 100));
    EXPECT_EQ(iconChanges, 100);
    loop.advance(clock, 0.099);
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(controller->mainView()->delayTime(), startTime);

    // One send, 0.1 s after the last movement, with the value the slider has then.
    loop.advance(clock, 0.002);
    EXPECT_EQ(calls.size(), 1u);
    loop.advance(clock, 5.0);
    EXPECT_EQ(taken(), Ids{call("delayTimeSet", static_cast<float>(delay->doubleValue()))});
    EXPECT_GT(controller->mainView()->delayTime(), startTime);

    auto icon = delay->minimumValueAccessory();  // the feedback slider redraws it too
    controller->feedbackSlider()->setDoubleValue(1.0);
    controller->feedbackChanged();
    EXPECT_NE(delay->minimumValueAccessory(), icon);
}

TEST_F(WindowControllerTest, TransposeStepperListensAfterHalfASecondAndButtonsSwitchBars) {
    showControls();  // the stepper is built now, at 0 s
    const auto& stepper = controller->transposeStepper();
    const double plus = stepper->frame().size.width - controls::kStepperArrowWidth / 2;
    loop.advance(clock, 0.2);
    tap(*stepper, plus);
    loop.advance(clock, 0.28);
    tap(*stepper, plus);
    EXPECT_EQ(stepper->label(), "+2");  // the stepper moves, the instrument hears nothing
    EXPECT_TRUE(calls.empty());
    loop.advance(clock, 0.03);  // past 0.5 s after it was built
    tap(*stepper, plus);
    EXPECT_EQ(taken(), Ids{"setTranspose 3"});
    EXPECT_EQ(controller->mainView()->transpose(), 3);

    // A dropped file resets the transposition: the stepper reads "original", the instrument 0.
    controller->resetTransposition();
    EXPECT_EQ(stepper->label(), "original");
    EXPECT_EQ(taken(), Ids{"setTranspose 0"});

    controller->showBar(0);  // showing the bar again builds and schedules nothing more
    controller->showBar(1);
    EXPECT_EQ(controller->transposeStepper(), stepper);
    EXPECT_EQ(loop.pendingCount(), 0u);
    // The buttons switch bars; the last control bar shown is remembered.
    showControls();
    tap(*controller->effectsButton(), 10);
    EXPECT_EQ(controller->currentBar(), 2);
    EXPECT_EQ(controller->secondaryBar(), 2);
    tap(*controller->controlsButton(), 10);
    EXPECT_EQ(controller->currentBar(), 1);
    EXPECT_EQ(controller->secondaryBar(), 1);
    EXPECT_EQ(shown(), kSlicerBar);

    controller->effectsPressed();
    controller->showBar(0);  // the instrument: the control bar last shown is remembered
    EXPECT_EQ(controller->currentBar(), 0);
    EXPECT_EQ(controller->secondaryBar(), 2);
    controller->showBar(7);  // any other number is only recorded; the items stay
    EXPECT_EQ(controller->secondaryBar(), 7);
    EXPECT_EQ(shown(), "main");
}

TEST_F(WindowControllerTest, WithoutAnInstrumentNothingIsSent) {
    // The bar was never asked for: the actions run, their calls on the instrument are skipped.
    for (const char* id : {"com.vornik.attack", "com.vornik.delay", "com.vornik.slicesStepper"})
        controller->makeItemForIdentifier(id);
    controller->attackChanged();
    controller->slicesChanged();
    controller->delayChanged();
    controller->filterChanged();  // no filter slider: nothing
    controller->resetTransposition();
    controller->showBar(1);  // no bar: only recorded
    controller->stripTouch(TouchPhase::Began, at(kFinger, 100));
    controller->stripTouch(TouchPhase::Ended, at(kFinger, 100));
    loop.advance(clock, 1.0);
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(controller->currentBar(), 1);
    EXPECT_EQ(controller->mainView(), nullptr);
}

TEST_F(WindowControllerTest, InstrumentTouchesAndBarSwitches) {
    std::vector<std::pair<TouchPhase, Touch>> got;
    controller->setInstrumentTouchHandler([&](MainView& view, TouchPhase phase, const Touch& t) {
        EXPECT_EQ(&view, controller->mainView());
        got.emplace_back(phase, t);
    });
    controller->stripLayer(Size{1085, 30});
    const Touch moved{kFinger, {140, 15}, {100, 15}};  // the instrument's points: the strip's
    controller->stripTouch(TouchPhase::Began, at(kFinger, 100));
    controller->stripTouch(TouchPhase::Moved, moved);
    controller->stripTouch(TouchPhase::Began, at(kMouse, 700));
    controller->stripTouch(TouchPhase::Ended, at(kMouse, 700));
    ASSERT_EQ(got.size(), 4u);
    EXPECT_EQ(got[1], std::pair(TouchPhase::Moved, moved));
    EXPECT_EQ(got[3], std::pair(TouchPhase::Ended, at(kMouse, 700)));

    // Switching bars with a finger down cancels it on the instrument, so no voice is left
    // hanging; its later events reach nothing. Losing focus cancels the fingers held.
    controller->showBar(1);
    controller->stripTouch(TouchPhase::Ended, at(kFinger, 140));
    ASSERT_EQ(got.size(), 5u);
    EXPECT_EQ(got[4].first, TouchPhase::Cancelled);
    EXPECT_EQ(got[4].second.identity, kFinger);
    controller->showBar(0);
    controller->stripLayer(Size{1085, 30});
    controller->stripTouch(TouchPhase::Began, at(kFinger, 300));
    controller->cancelStripTouches();
    ASSERT_EQ(got.size(), 7u);
    EXPECT_EQ(got[6].first, TouchPhase::Cancelled);
}

TEST_F(WindowControllerTest, BarPicturesFromFilesOrDrawnAndPendingWorkOutlivesTheController) {
    // A picture file present is used as it is; a broken one is logged and drawn instead; a
    // missing one is drawn without a word.
    ASSERT_TRUE(Image::create(40, 32)->writePng((assets / "effects@2x.png").string()));
    std::ofstream((assets / "controls@2x.png").string()) << "not a picture";
    test::LogLines logged;
    controller->makeTouchBar();
    controller->showBar(1);
    controller->showBar(2);
    BarImages& images = controller->barImages();
    EXPECT_EQ(controller->effectsButton()->image()->width(), 40);
    EXPECT_FALSE(images.fromFile("controls@2x"));
    EXPECT_EQ(controller->controlsButton()->image()->width(), barimages::kStandInPixels);
    EXPECT_FALSE(images.fromFile("slicer@2x"));
    EXPECT_EQ(logged.lines.size(), 1u);  // the broken file only
    // A drawn stand-in has ink; a dimmed one is fainter than its selected twin.
    const auto brightest = [](const Image& image) {
        int a = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) a = std::max(a, int{image.pixel(x, y).a});
        }
        return a;
    };
    EXPECT_EQ(brightest(*images.image("looper@2x")), 255);
    EXPECT_LT(brightest(*images.image("looper.disabled@2x")), 128);
    EXPECT_GT(brightest(*images.image("no such picture")), 0);
    // Pending work outlives the controller.
    controller->makeTouchBar();
    controller->showBar(1);  // the transpose stepper's action is pending
    controller->showBar(2);
    controller->delaySlider()->setDoubleValue(0.5);
    controller->delayChanged();  // the delay timer is pending
    controller.reset();
    loop.advance(clock, 1.0);  // runs nothing that reaches the controller
    EXPECT_EQ(loop.pendingCount(), 0u);
}
