// The controls kept between runs: set by a user, saved, and restored in a new controller through
// its own actions.

#include <cstring>
#include <filesystem>

#include "app/ControlsTestSupport.h"
#include "app/StateControls.h"
#include "base/Constants.h"

namespace vornik {
void PrintTo(const SessionState& s, std::ostream* os) { *os << formatState(s); }
namespace {

bool sameImage(const std::shared_ptr<const Image>& a, const std::shared_ptr<const Image>& b) {
    if (!a || !b || a->width() != b->width() || a->height() != b->height()) return false;
    for (int y = 0; y < a->height(); ++y) {
        if (std::memcmp(a->data() + y * a->stride(), b->data() + y * b->stride(),
                        static_cast<std::size_t>(a->width()) * 4) != 0) {
            return false;
        }
    }
    return true;
}

struct Instrument {
    ManualClock clock;
    RunLoop loop{clock};
    WindowController controller{loop, std::filesystem::path()};
    MainView& view() { return *controller.mainView(); }
    Instrument() {
        controller.makeTouchBar();
        controller.makeItemForIdentifier(items::kMain);
    }
    // Saved and read back, as the next run does.
    SessionState kept() {
        SessionState s;
        captureControls(controller, s);
        return parseState(formatState(s)).state;
    }
};

TEST(StateControlsTest, EveryControlComesBackWithItsLabelIconAndSound) {
    Instrument a;
    WindowController& c = a.controller;
    restoreControls(c, SessionState{});  // builds every control and moves none
    EXPECT_EQ(a.kept(), SessionState{});
    c.slicesStepper()->setValue(3);
    c.slicesChanged();
    c.modeSegments()->setSelectedSegment(2);
    c.playModeChanged();
    const std::pair<Slider*, void (WindowController::*)()> moves[] = {
        {c.attackSlider().get(), &WindowController::attackChanged},
        {c.decaySlider().get(), &WindowController::decayChanged},
        {c.filterSlider().get(), &WindowController::filterChanged},
        {c.delaySlider().get(), &WindowController::delayChanged},
        {c.feedbackSlider().get(), &WindowController::feedbackChanged},
        {c.reverbSlider().get(), &WindowController::reverbChanged},
    };
    double v = 0.3;
    for (const auto& [slider, action] : moves) {
        slider->setDoubleValue(v += 0.1);
        (c.*action)();
    }
    c.transposeStepper()->setValue(-7);
    c.transposeChanged();
    c.effectsPressed();
    c.showBar(bars::kInstrument);
    a.loop.advance(a.clock, 0.2);

    Instrument b;
    restoreControls(b.controller, a.kept());
    b.loop.advance(b.clock, 0.2);  // the delay time follows its timer
    const WindowController& d = b.controller;
    EXPECT_EQ(b.kept(), a.kept());
    EXPECT_EQ(d.currentBar(), bars::kInstrument);
    EXPECT_EQ(d.secondaryBar(), bars::kEffects);
    EXPECT_EQ(d.modeSegments()->selectedSegment(), 2);
    EXPECT_EQ(d.slicesStepper()->label(), "8 slices");
    EXPECT_EQ(d.transposeStepper()->label(), "-7");
    for (const auto& [mine, theirs] :
         {std::pair{c.attackSlider(), d.attackSlider()}, {c.decaySlider(), d.decaySlider()},
          {c.filterSlider(), d.filterSlider()}, {c.delaySlider(), d.delaySlider()},
          {c.feedbackSlider(), d.feedbackSlider()}, {c.reverbSlider(), d.reverbSlider()}}) {
        SCOPED_TRACE(mine->identifier());
        EXPECT_EQ(theirs->doubleValue(), mine->doubleValue());
        if (mine != c.feedbackSlider()) {
            EXPECT_TRUE(sameImage(theirs->minimumValueAccessory(), mine->minimumValueAccessory()));
        }
    }
    MainView &x = a.view(), &y = b.view();
    EXPECT_EQ(y.playMode(), 2);
    EXPECT_EQ(y.numSlices(), 0);  // bow mode has none
    EXPECT_EQ(y.attack(), x.attack());
    EXPECT_EQ(y.decay(), x.decay());
    EXPECT_EQ(y.transpose(), -7);
    EXPECT_FALSE(y.lowpassBypass());
    EXPECT_EQ(y.lowpassFrequency(), x.lowpassFrequency());
    EXPECT_EQ(y.delayTime(), x.delayTime());
    EXPECT_EQ(y.delayFeedback(), x.delayFeedback());
    EXPECT_EQ(y.reverbWetDryMix(), x.reverbWetDryMix());

    // Controls never moved are not kept: the instrument keeps its own decay and delay time.
    Instrument fresh;
    SessionState onlyMode;
    onlyMode.playMode = 1;
    restoreControls(fresh.controller, onlyMode);
    fresh.loop.advance(fresh.clock, 1.0);
    EXPECT_EQ(fresh.kept().decay, std::nullopt);
    EXPECT_EQ(fresh.kept().delay, std::nullopt);
    EXPECT_EQ(fresh.view().playMode(), 1);
    EXPECT_EQ(fresh.view().decay(), kDefaultDecay);
    EXPECT_EQ(fresh.view().delayTime(), Instrument().view().delayTime());
}

}  // namespace
}  // namespace vornik
