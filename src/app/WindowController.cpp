#include "app/WindowController.h"

#include <algorithm>
#include <cmath>

#include "app/Icons.h"
#include "base/Log.h"
#include "performance/TouchEvent.h"

namespace vornik {

namespace {

constexpr int kPlayModeCount = 4;

// The slice counts the slices stepper's positions stand for: 0 none, 1 automatic, then 4, 8, 16.
int sliceCountForStepper(double value) {
    if (value == 1.0) return 1;
    if (value == 2.0) return 4;
    if (value == 3.0) return 8;
    if (value == 4.0) return 16;
    return 0;
}

// The slices stepper's starting position, for a slicer-mode count asked before it exists.
constexpr double kSlicesStepperStart = 1.0;

}  // namespace

WindowController::WindowController(RunLoop& runLoop, std::filesystem::path assetsDirectory,
                                   MainViewFactory makeMainView)
    : runLoop_(runLoop),
      images_(std::move(assetsDirectory)),
      makeMainView_(std::move(makeMainView)) {
    emptyStrip_->setBackgroundColor(controls::kBarBackground);
    emptyStrip_->setAnchorPoint({0.0, 0.0});
}

WindowController::~WindowController() {
    if (delayTimer_) delayTimer_->invalidate();
}

// --- The bars ------------------------------------------------------------------------------

std::vector<std::string> WindowController::instrumentBarItems() { return {items::kMain}; }

std::vector<std::string> WindowController::controlsBarItems(int playMode) {
    using namespace items;
    switch (playMode) {
        case 0:  // slicer: the slice count has a stepper of its own
            return {kEffectsButton, kPlayModeSelector, kAttack,
                    kDecay,         kTransposeStepper, kSlicesStepper};
        case 3:  // tape: no transposition either; placeholders keep the others in place
            return {kEffectsButton, kPlayModeSelector, kAttack,
                    kDecay,         kDisabledStepper,  kDisabledStepper2};
        default:  // looper, bow, and any mode the instrument does not know
            return {kEffectsButton, kPlayModeSelector, kAttack,
                    kDecay,         kTransposeStepper, kDisabledStepper2};
    }
}

std::vector<std::string> WindowController::effectsBarItems() {
    using namespace items;
    return {kControlsButton, kFilter, kDelay, kFeedback, kReverb};
}

void WindowController::makeTouchBar() {
    deviceHasTouchbar_ = true;
    if (mainBar_) mainBar_->cancelAllTouches();
    mainBar_ = std::make_unique<Bar>();
    mainBar_->setDelegate(
        [this](const std::string& identifier) { return makeItemForIdentifier(identifier); });
    mainBar_->setDefaultItemIdentifiers(instrumentBarItems());
}

std::function<void()> WindowController::action(void (WindowController::*method)()) {
    return [this, method] { (this->*method)(); };
}

BarItemPtr WindowController::makeItemForIdentifier(const std::string& identifier) {
    using namespace items;
    if (identifier == kMain) {
        if (!mainTouchBarItem_) {
            mainView_ = makeMainView_ ? makeMainView_(runLoop_) : nullptr;
            if (!mainView_) {
                // The instrument complete, its graph pulled by whoever renders: no device.
                mainView_ = std::make_unique<MainView>(runLoop_);
                mainView_->initAudioEngine(MainView::AudioOutput::kNone);
            }
            // A resampled take comes in as a dropped file does: at its own pitch.
            mainView_->setTakeLoader([this](const std::string& path) {
                mainView_->loadFile(path);
                resetTransposition();
            });
            mainTouchBarItem_ = std::make_shared<CustomItem>(
                kMain, mainView_->layer(), [this](TouchPhase phase, const Touch& touch) {
                    if (instrumentTouchHandler_ && mainView_) {
                        instrumentTouchHandler_(*mainView_, phase, touch);
                    }
                });
        }
        return mainTouchBarItem_;
    }
    if (identifier == kEffectsButton) {
        if (!effectsButton_) {
            effectsButton_ =
                makeButton(kEffectsButton, barimages::kEffects, &WindowController::effectsPressed);
        }
        return effectsButton_;
    }
    if (identifier == kPlayModeSelector) {
        if (!playModeSelector_) {
            auto segments = std::make_shared<SegmentedControl>(kPlayModeSelector);
            segments->setSelectedSegmentBezelColor(kSelectedSegmentBezel);
            segments->setSegmentCount(kPlayModeCount);
            segments->setSelectedSegment(0);
            segments->setAction(action(&WindowController::playModeChanged));
            for (int i = 0; i < kPlayModeCount; ++i) {
                const char* name =
                    i == 0 ? barimages::kModeSelected[0] : barimages::kModeUnselected[i];
                segments->setImage(images_.image(name), i);
            }
            // The selector is the segmented control itself on this strip.
            modeSegments_ = segments;
            playModeSelector_ = segments;
        }
        return playModeSelector_;
    }
    if (identifier == kAttack) {
        if (!attackSlider_) {
            attackSlider_ = makeSlider(kAttack, 0.0, 0.0, 1.0, &WindowController::attackChanged);
            updateAttackIcon();
        }
        return attackSlider_;
    }
    if (identifier == kDecay) {
        if (!decaySlider_) {
            decaySlider_ = makeSlider(kDecay, 0.5, 0.0, 1.0, &WindowController::decayChanged);
            updateDecayIcon();
        }
        return decaySlider_;
    }
    if (identifier == kTransposeStepper) {
        if (!transposeStepper_) {
            transposeStepper_ =
                makeStepper(kTransposeStepper, std::make_unique<TransposeFormatter>());
            transposeStepper_->setValue(0);
            transposeStepper_->setIncrement(1);
            transposeStepper_->setMinValue(-24);
            transposeStepper_->setMaxValue(24);
            // The stepper listens only after a moment, so that nothing it does while the bar
            // appears reaches the instrument.
            std::weak_ptr<int> alive = alive_;
            runLoop_.after(kTransposeActionDelay, [this, alive] {
                if (alive.expired()) return;
                transposeStepper_->setAction(action(&WindowController::transposeChanged));
            });
        }
        return transposeStepper_;
    }
    if (identifier == kSlicesStepper) {
        if (!slicesStepper_) {
            slicesStepper_ = makeStepper(kSlicesStepper, std::make_unique<SlicesFormatter>());
            slicesStepper_->setValue(1);
            slicesStepper_->setMinValue(0);
            slicesStepper_->setMaxValue(4);
            slicesStepper_->setAction(action(&WindowController::slicesChanged));
        }
        return slicesStepper_;
    }
    if (identifier == kDisabledStepper || identifier == kDisabledStepper2) {
        std::shared_ptr<Stepper>& field =
            identifier == kDisabledStepper ? disabledStepper_ : disabledStepper2_;
        if (!field) {
            field =
                makeStepper(identifier == kDisabledStepper ? kDisabledStepper : kDisabledStepper2,
                            std::make_unique<DisabledFormatter>());
            // A maximum below the minimum: it cannot be stepped.
            field->setValue(1);
            field->setMaxValue(0);
            field->setMinValue(1);
        }
        return field;
    }
    if (identifier == kControlsButton) {
        if (!controlsButton_) {
            controlsButton_ = makeButton(kControlsButton, barimages::kControls,
                                         &WindowController::controlsPressed);
        }
        return controlsButton_;
    }
    if (identifier == kFilter) {
        if (!filterSlider_) {
            filterSlider_ = makeSlider(kFilter, 1.0, 0.0, 2.0, &WindowController::filterChanged);
            updateFilterIcon();
        }
        return filterSlider_;
    }
    if (identifier == kDelay) {
        if (!delaySlider_) {
            delaySlider_ = makeSlider(kDelay, 0.0, 0.0, 1.0, &WindowController::delayChanged);
            updateDelayIcon();
        }
        return delaySlider_;
    }
    if (identifier == kFeedback) {
        if (!feedbackSlider_) {
            feedbackSlider_ =
                makeSlider(kFeedback, 0.0, 0.0, 1.0, &WindowController::feedbackChanged);
        }
        return feedbackSlider_;
    }
    if (identifier == kReverb) {
        if (!reverbSlider_) {
            reverbSlider_ = makeSlider(kReverb, 0.0, 0.0, 1.0, &WindowController::reverbChanged);
            updateReverbIcon();
        }
        return reverbSlider_;
    }
    return nullptr;
}

std::shared_ptr<Slider> WindowController::makeSlider(const char* identifier, double value,
                                                     double minimum, double maximum,
                                                     void (WindowController::*method)()) {
    auto slider = std::make_shared<Slider>(identifier);
    slider->setDoubleValue(value);
    slider->setMinValue(minimum);
    slider->setMaxValue(maximum);
    slider->setTrackFillColor(kAccentRed);
    slider->setAction(action(method));
    return slider;
}

std::shared_ptr<Stepper> WindowController::makeStepper(const char* identifier,
                                                       std::unique_ptr<Formatter> formatter) {
    return std::make_shared<Stepper>(identifier, std::move(formatter));
}

std::shared_ptr<Button> WindowController::makeButton(const char* identifier, const char* image,
                                                     void (WindowController::*method)()) {
    auto button = std::make_shared<Button>(identifier);
    button->setAction(action(method));
    button->setImage(images_.image(image));
    return button;
}

void WindowController::showBar(int n) {
    currentBar_ = n;
    if (n != bars::kInstrument) secondaryBar_ = n;
    if (!mainBar_) return;
    switch (n) {
        case bars::kInstrument:
            mainBar_->setDefaultItemIdentifiers(instrumentBarItems());
            break;
        case bars::kControls:
            mainBar_->setDefaultItemIdentifiers(controlsBarItems(playMode()));
            break;
        case bars::kEffects:
            mainBar_->setDefaultItemIdentifiers(effectsBarItems());
            break;
        default:
            break;  // only recorded
    }
}

// --- The host ------------------------------------------------------------------------------

const LayerPtr& WindowController::stripLayer(Size size) {
    if (!mainBar_) makeTouchBar();
    if (!mainBar_) {
        emptyStrip_->setBounds(Rect::make(0.0, 0.0, size.width, size.height));
        return emptyStrip_;
    }
    return mainBar_->layout(size);
}

double WindowController::minimumStripWidth() {
    double widest = 0.0;
    for (int mode = 0; mode <= kPlayModeCount; ++mode) {
        const auto identifiers = mode < kPlayModeCount ? controlsBarItems(mode) : effectsBarItems();
        std::vector<BarItemPtr> built;
        for (const std::string& identifier : identifiers) {
            if (BarItemPtr item = makeItemForIdentifier(identifier)) built.push_back(item);
        }
        widest = std::max(widest, Bar::minimumWidth(built));
    }
    return widest;
}

void WindowController::stripTouch(TouchPhase phase, const Touch& touch) {
    if (mainBar_) mainBar_->touch(phase, touch);
}

void WindowController::cancelStripTouches() {
    if (mainBar_) mainBar_->cancelAllTouches();
}

void WindowController::deliverToInstrument(MainView& view, TouchPhase phase, const Touch& touch) {
    TouchEvent event;
    switch (phase) {
        case TouchPhase::Began:
            event.began.push_back(touch);
            break;
        case TouchPhase::Moved:
            event.moved.push_back(touch);
            break;
        case TouchPhase::Ended:
            event.ended.push_back(touch);
            break;
        case TouchPhase::Cancelled:
            event.cancelled.push_back(touch);
            break;
    }
    view.handleTouchEvent(event);
}

void WindowController::setInstrumentTouchHandler(InstrumentTouchHandler handler) {
    instrumentTouchHandler_ = std::move(handler);
}

// --- Control actions -----------------------------------------------------------------------

int WindowController::playMode() const { return mainView_ ? mainView_->playMode() : 0; }

void WindowController::playModeChanged() {
    if (!modeSegments_) return;
    applyPlayMode();
    showBar(bars::kControls);
}

void WindowController::selectPlayMode(int mode) {
    makeItemForIdentifier(items::kPlayModeSelector);
    modeSegments_->setSelectedSegment(mode);
    // The strip stays on its bar; a controls bar shown is laid out again for the new mode.
    if (currentBar_ == bars::kControls) {
        playModeChanged();
    } else {
        applyPlayMode();
    }
}

void WindowController::applyPlayMode() {
    sendPlayMode(modeSegments_->selectedSegment());
    slicesChanged();
    for (int i = 0; i < kPlayModeCount; ++i) {
        modeSegments_->setImage(images_.image(barimages::kModeUnselected[i]), i);
    }
    const int mode = playMode();
    if (mode >= 0 && mode < kPlayModeCount) {
        modeSegments_->setImage(images_.image(barimages::kModeSelected[mode]), mode);
    }
}

void WindowController::effectsPressed() { showBar(bars::kEffects); }

void WindowController::controlsPressed() { showBar(bars::kControls); }

void WindowController::slicesChanged() {
    if (playMode() != 0) {
        sendNumSlices(0);
        return;
    }
    sendNumSlices(
        sliceCountForStepper(slicesStepper_ ? slicesStepper_->value() : kSlicesStepperStart));
}

void WindowController::attackChanged() {
    const double v = attackSlider_ ? attackSlider_->doubleValue() : 0.0;
    sendAttack(v * v + 0.005);
    updateAttackIcon();
}

void WindowController::decayChanged() {
    const double v = decaySlider_ ? decaySlider_->doubleValue() : 0.0;
    sendDecay(5.0 * v * v * v + 0.005);
    updateDecayIcon();
}

void WindowController::transposeChanged() {
    if (!transposeStepper_) return;
    const std::optional<int> semitones = truncatedIntegerValue(transposeStepper_->value());
    if (semitones) sendTranspose(*semitones);
}

void WindowController::resetTransposition() {
    if (transposeStepper_) transposeStepper_->setValue(0);
    const double v = transposeStepper_ ? transposeStepper_->value() : 0.0;
    sendTranspose(truncatedIntegerValue(v).value_or(0));
}

void WindowController::filterChanged() {
    if (!filterSlider_) return;
    const double v = filterSlider_->doubleValue();
    // Around the middle the filter is off: the slider snaps there, so "no filter" is easy to hit.
    if (v > kFilterSnapLow && v < kFilterSnapHigh) filterSlider_->setDoubleValue(1.0);
    sendFilter(static_cast<float>(filterSlider_->doubleValue()));
    updateFilterIcon();
}

void WindowController::delayChanged() {
    // The delay line is re-sized on every change of time; it follows only once the slider rests.
    if (delayTimer_) delayTimer_->invalidate();
    std::weak_ptr<int> alive = alive_;
    delayTimer_ = runLoop_.scheduleTimer(kDelayTimeSettle, [this, alive] {
        if (!alive.expired()) changeDelayTime();
    });
    updateDelayIcon();
}

void WindowController::changeDelayTime() {
    sendDelayTime(static_cast<float>(delaySlider_ ? delaySlider_->doubleValue() : 0.0));
}

void WindowController::feedbackChanged() {
    const double v = feedbackSlider_ ? feedbackSlider_->doubleValue() : 0.0;
    sendDelayFeedback(static_cast<float>(v * v * v));
    updateDelayIcon();
}

void WindowController::reverbChanged() {
    sendReverb(static_cast<float>(reverbSlider_ ? reverbSlider_->doubleValue() : 0.0));
    updateReverbIcon();
}

// --- Icons ---------------------------------------------------------------------------------

void WindowController::updateAttackIcon() {
    if (attackSlider_)
        attackSlider_->setMinimumValueAccessory(attackIcon(attackSlider_->doubleValue()));
}

void WindowController::updateDecayIcon() {
    if (decaySlider_)
        decaySlider_->setMinimumValueAccessory(decayIcon(decaySlider_->doubleValue()));
}

void WindowController::updateFilterIcon() {
    if (filterSlider_) {
        filterSlider_->setMinimumValueAccessory(filterIcon(filterSlider_->doubleValue()));
    }
}

void WindowController::updateDelayIcon() {
    if (!delaySlider_) return;
    // A feedback slider not built yet counts as 0, its starting value.
    const double feedback = feedbackSlider_ ? feedbackSlider_->doubleValue() : 0.0;
    delaySlider_->setMinimumValueAccessory(delayIcon(delaySlider_->doubleValue(), feedback));
}

void WindowController::updateReverbIcon() {
    if (reverbSlider_) {
        reverbSlider_->setMinimumValueAccessory(reverbIcon(reverbSlider_->doubleValue()));
    }
}

// --- Calls on the instrument ---------------------------------------------------------------

void WindowController::note(std::string_view call, double value) {
    if (!hasSent(call)) sent_.push_back(call);  // names are literals: they stay
    if (callObserver_) callObserver_(call, value);
}

bool WindowController::hasSent(std::string_view call) const {
    return std::find(sent_.begin(), sent_.end(), call) != sent_.end();
}

void WindowController::sendPlayMode(int mode) {
    if (!mainView_) return;
    note("setPlayMode", mode);
    mainView_->setPlayMode(mode);
}

void WindowController::sendNumSlices(int n) {
    if (!mainView_) return;
    note("setNumSlices", n);
    mainView_->setNumSlices(n);
}

void WindowController::sendAttack(double seconds) {
    if (!mainView_) return;
    note("setAttack", seconds);
    mainView_->setAttack(seconds);
}

void WindowController::sendDecay(double seconds) {
    if (!mainView_) return;
    note("setDecay", seconds);
    mainView_->setDecay(seconds);
}

void WindowController::sendTranspose(int semitones) {
    if (!mainView_) return;
    note("setTranspose", semitones);
    mainView_->setTranspose(semitones);
}

void WindowController::sendFilter(float v) {
    if (!mainView_) return;
    note("filterSet", v);
    mainView_->filterSet(v);
}

void WindowController::sendDelayTime(float v) {
    if (!mainView_) return;
    note("delayTimeSet", v);
    mainView_->delayTimeSet(v);
}

void WindowController::sendDelayFeedback(float v) {
    if (!mainView_) return;
    note("delayFeedbackSet", v);
    mainView_->delayFeedbackSet(v);
}

void WindowController::sendReverb(float v) {
    if (!mainView_) return;
    note("reverbSet", v);
    mainView_->reverbSet(v);
}

}  // namespace vornik
