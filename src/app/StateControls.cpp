#include "app/StateControls.h"

#include <cmath>

#include "app/AppConstants.h"

namespace vornik {
namespace {

static_assert(state::kZoomMin == app::kMinZoom && state::kZoomMax == app::kMaxZoom,
              "a kept zoom is clamped to the command line's range");

template <typename T>
void keep(std::optional<T>& field, const WindowController& controller, const char* call,
          const std::shared_ptr<Slider>& slider) {
    if (slider && controller.hasSent(call)) field = static_cast<T>(slider->doubleValue());
}

template <typename T>
void keep(std::optional<T>& field, const WindowController& controller, const char* call,
          const std::shared_ptr<Stepper>& stepper) {
    if (stepper && controller.hasSent(call)) field = static_cast<T>(std::trunc(stepper->value()));
}

void set(const std::optional<double>& value, const std::shared_ptr<Slider>& slider,
         WindowController& controller, void (WindowController::*action)()) {
    if (!value || !slider) return;
    slider->setDoubleValue(*value);
    (controller.*action)();
}

}  // namespace

void captureControls(const WindowController& c, SessionState& state) {
    if (c.mainView() && c.hasSent("setPlayMode")) state.playMode = c.mainView()->playMode();
    keep(state.slicesStep, c, "setNumSlices", c.slicesStepper());
    keep(state.attack, c, "setAttack", c.attackSlider());
    keep(state.decay, c, "setDecay", c.decaySlider());
    keep(state.transpose, c, "setTranspose", c.transposeStepper());
    keep(state.filter, c, "filterSet", c.filterSlider());
    keep(state.delay, c, "delayTimeSet", c.delaySlider());
    keep(state.feedback, c, "delayFeedbackSet", c.feedbackSlider());
    keep(state.reverb, c, "reverbSet", c.reverbSlider());
    state.controlBar =
        c.secondaryBar() == state::kEffectsBar ? state::kEffectsBar : state::kControlsBar;
}

void restoreControls(WindowController& c, const SessionState& state) {
    using namespace items;
    for (const char* id : {kMain, kPlayModeSelector, kAttack, kDecay, kTransposeStepper,
                           kSlicesStepper, kFilter, kDelay, kFeedback, kReverb}) {
        c.makeItemForIdentifier(id);
    }
    const int shownBar = c.currentBar();
    // The slice count first: a change of mode sends it again for the new mode.
    if (state.slicesStep) c.slicesStepper()->setValue(*state.slicesStep);
    if (state.playMode) {
        c.modeSegments()->setSelectedSegment(*state.playMode);
        c.playModeChanged();
    } else if (state.slicesStep) {
        c.slicesChanged();
    }
    set(state.attack, c.attackSlider(), c, &WindowController::attackChanged);
    set(state.decay, c.decaySlider(), c, &WindowController::decayChanged);
    if (state.transpose) {
        c.transposeStepper()->setValue(*state.transpose);
        c.transposeChanged();
    }
    set(state.filter, c.filterSlider(), c, &WindowController::filterChanged);
    set(state.delay, c.delaySlider(), c, &WindowController::delayChanged);
    set(state.feedback, c.feedbackSlider(), c, &WindowController::feedbackChanged);
    set(state.reverb, c.reverbSlider(), c, &WindowController::reverbChanged);
    if (c.secondaryBar() != state.controlBar || c.currentBar() != shownBar) {
        c.showBar(state.controlBar);
        c.showBar(shownBar);
    }
}

}  // namespace vornik
