// The controls kept between runs: moved by a user, saved, and restored in a new controller
// through its own actions.

#include "app/ControlsTestSupport.h"
#include "app/StateControls.h"
#include "base/Constants.h"

namespace vornik {
void PrintTo(const SessionState& s, std::ostream* os) { *os << formatState(s); }
namespace {

std::string pixels(const std::shared_ptr<const Image>& image) {
    if (!image) return "none";
    return std::string(reinterpret_cast<const char*>(image->data()),
                       static_cast<std::size_t>(image->stride()) * image->height());
}

struct Instrument {
    ManualClock clock;
    RunLoop loop{clock};
    WindowController c{loop, ""};
    MainView& view() { return *c.mainView(); }
    Instrument(const SessionState& restored = {}) {
        c.makeTouchBar();
        restoreControls(c, restored);  // builds every control
        loop.advance(clock, 0.2);      // the delay time follows its timer
    }
    SessionState kept() const {  // saved and read back, as the next run does
        SessionState s;
        captureControls(c, s);
        return parseState(formatState(s)).state;
    }
    std::vector<std::shared_ptr<Slider>> sliders() const {
        return {c.attackSlider(), c.decaySlider(),    c.filterSlider(),
                c.delaySlider(),  c.feedbackSlider(), c.reverbSlider()};
    }
};

TEST(StateControlsTest, EveryControlComesBackWithItsLabelIconAndSound) {
    Instrument a;
    WindowController& c = a.c;
    EXPECT_EQ(a.kept(), SessionState{});  // nothing moved, nothing kept
    c.slicesStepper()->setValue(3);
    c.slicesChanged();
    c.modeSegments()->setSelectedSegment(2);
    c.playModeChanged();
    std::size_t i = 0;
    for (auto action : {&WindowController::attackChanged, &WindowController::decayChanged,
                        &WindowController::filterChanged, &WindowController::delayChanged,
                        &WindowController::feedbackChanged, &WindowController::reverbChanged}) {
        a.sliders()[i]->setDoubleValue(0.4 + 0.1 * double(i));
        (c.*action)();
        ++i;
    }
    c.transposeStepper()->setValue(-7);
    c.transposeChanged();
    c.effectsPressed();
    c.showBar(bars::kInstrument);
    a.loop.advance(a.clock, 0.2);

    Instrument b(a.kept());
    const WindowController& d = b.c;
    EXPECT_EQ(b.kept(), a.kept());
    EXPECT_EQ(std::pair(d.currentBar(), d.secondaryBar()), std::pair(0, 2));
    EXPECT_EQ(d.modeSegments()->selectedSegment(), 2);
    EXPECT_EQ(d.slicesStepper()->label(), "8 slices");
    EXPECT_EQ(d.transposeStepper()->label(), "-7");
    for (i = 0; i < 6; ++i) {
        EXPECT_EQ(b.sliders()[i]->doubleValue(), a.sliders()[i]->doubleValue()) << i;
        EXPECT_EQ(pixels(b.sliders()[i]->minimumValueAccessory()),
                  pixels(a.sliders()[i]->minimumValueAccessory()))
            << i;
    }
    MainView &x = a.view(), &y = b.view();
    EXPECT_EQ(y.playMode(), 2);
    EXPECT_EQ(y.numSlices(), 0);  // bow mode has none
    EXPECT_EQ(std::tuple(y.attack(), y.decay(), y.transpose()),
              std::tuple(x.attack(), x.decay(), -7));
    EXPECT_FALSE(y.lowpassBypass());
    EXPECT_EQ(y.lowpassFrequency(), x.lowpassFrequency());
    EXPECT_EQ(std::tuple(y.delayTime(), y.delayFeedback(), y.reverbWetDryMix()),
              std::tuple(x.delayTime(), x.delayFeedback(), x.reverbWetDryMix()));

    // Controls never moved are not kept: the instrument keeps its own decay and delay time.
    SessionState onlyMode;
    onlyMode.playMode = 1;
    Instrument fresh(onlyMode);
    EXPECT_EQ(fresh.view().playMode(), 1);
    EXPECT_EQ(std::pair(fresh.kept().decay, fresh.kept().delay),
              std::pair(std::optional<double>(), std::optional<double>()));
    EXPECT_EQ(fresh.view().decay(), kDefaultDecay);
    EXPECT_EQ(fresh.view().delayTime(), Instrument().view().delayTime());
}

}  // namespace
}  // namespace vornik
