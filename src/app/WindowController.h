#pragma once
// The controller of the strip's bars: the one bar `mainBar` whose item list switches between the
// instrument (bar 0), the controls bar (1) and the effects bar (2); every control, built the first
// time a bar asks for it; and the actions that turn control changes into calls on the instrument.
// It also creates the instrument (`MainView`) the first time the bar asks for "com.vornik.main".
// Plain C++: the host (window, strip input, keys) drives it. Thread: main, for every call here.
//
// Host wiring, in short:
//   WindowController controller(runLoop, assetsDirectory, makeInstrumentWithDevice);
//   controller.setInstrumentTouchHandler(...);  // optional: strip touches go to the instrument
//   controller.makeTouchBar();                  // the instrument exists from here on
//   each frame:  renderer.render(*controller.stripLayer(stripSizeInPoints), zoom);
//   each finger: controller.stripTouch(phase, touch);  // strip points
//   all fingers gone at once: controller.cancelStripTouches();
//   keys:        currentBar(), secondaryBar(), showBar(n), mainView()->recording...
//   a drop:      mainView()->loadFile(path), then resetTransposition() (a resampled take too,
//                unless the host gives the instrument its own take loader)

#include <array>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "app/BarImages.h"
#include "app/Controls.h"
#include "app/Keys.h"
#include "base/RunLoop.h"
#include "display/MainView.h"

namespace vornik {

// The item identifiers.
namespace items {
inline constexpr const char* kMain = "com.vornik.main";
inline constexpr const char* kEffectsButton = "com.vornik.effectsButton";
inline constexpr const char* kPlayModeSelector = "com.vornik.playModeSelector";
inline constexpr const char* kAttack = "com.vornik.attack";
inline constexpr const char* kDecay = "com.vornik.decay";
inline constexpr const char* kTransposeStepper = "com.vornik.transposeStepper";
inline constexpr const char* kSlicesStepper = "com.vornik.slicesStepper";
inline constexpr const char* kDisabledStepper = "com.vornik.disabledStepper";
inline constexpr const char* kDisabledStepper2 = "com.vornik.disabledStepper2";
inline constexpr const char* kControlsButton = "com.vornik.controlsButton";
inline constexpr const char* kFilter = "com.vornik.filter";
inline constexpr const char* kDelay = "com.vornik.delay";
inline constexpr const char* kFeedback = "com.vornik.feedback";
inline constexpr const char* kReverb = "com.vornik.reverb";
}  // namespace items

namespace bars {
inline constexpr int kInstrument = 0;
inline constexpr int kControls = 1;
inline constexpr int kEffects = 2;
}  // namespace bars

// Timing of the controls, in seconds.
inline constexpr double kDelayTimeSettle = 0.1;          // the delay time follows its slider's rest
inline constexpr double kTransposeActionDelay = 0.5;     // the transpose stepper listens after this
inline constexpr double kFilterSnapLow = double(0.9f);   // filter values strictly between these
inline constexpr double kFilterSnapHigh = double(1.1f);  // two snap to 1 (no filter)
inline constexpr Color kSelectedSegmentBezel = Color::white(0.35, 1.0);

class WindowController final : public KeyTarget {
public:
    // Builds the instrument when the bar first asks for it. By default a MainView on the run
    // loop with its audio engine ready and no sound device (tests, headless rendering); the
    // program's factory puts a sound device under it (JACK or SDL audio, see AudioBackend).
    using MainViewFactory = std::function<std::unique_ptr<MainView>(RunLoop&)>;
    // Strip touches on the instrument, in its own points (the strip's, as it spans the strip).
    using InstrumentTouchHandler = std::function<void(MainView&, TouchPhase, const Touch&)>;
    // Every call the controller makes on the instrument, with its argument (tests, state dumps).
    using InstrumentCallObserver = std::function<void(std::string_view call, double value)>;

    // `assetsDirectory` holds the bar pictures ("effects@2x.png", ...); missing ones are drawn.
    WindowController(RunLoop& runLoop, std::filesystem::path assetsDirectory,
                     MainViewFactory makeMainView = {});
    ~WindowController();
    WindowController(const WindowController&) = delete;
    WindowController& operator=(const WindowController&) = delete;

    // --- The bars ----------------------------------------------------------------------------
    // Called when the strip first needs its bar (stripLayer does it itself): makes a new
    // `mainBar` showing the instrument alone, which creates the instrument.
    void makeTouchBar();
    bool deviceHasTouchbar() const { return deviceHasTouchbar_; }
    Bar* mainBar() const { return mainBar_.get(); }
    // The bar's delegate: the item for an identifier, built and kept the first time it is asked
    // for; null for an identifier it does not know.
    BarItemPtr makeItemForIdentifier(const std::string& identifier);

    // Switches `mainBar` to bar n (0 instrument, 1 controls, 2 effects); any other n is only
    // recorded. A non-zero n is remembered as the secondary bar.
    void showBar(int n) override;
    int currentBar() const override { return currentBar_; }
    int secondaryBar() const override { return secondaryBar_; }
    // The keys' view of the instrument's recording (nothing without an instrument).
    bool recording() const override { return mainView_ && mainView_->recording(); }
    void recordingStart() override {
        if (mainView_) mainView_->recordingStart();
    }
    void recordingEnd() override {
        if (mainView_) mainView_->recordingEnd();
    }
    bool outputRecording() const override { return mainView_ && mainView_->outputRecording(); }
    void outputRecordingStart() override {
        if (mainView_) mainView_->outputRecordingStart();
    }
    void outputRecordingEnd(bool resample) override {
        if (mainView_) mainView_->outputRecordingEnd(resample);
    }

    // The instrument, or null until the bar first asks for "com.vornik.main".
    MainView* mainView() const { return mainView_.get(); }

    // --- The host ------------------------------------------------------------------------------
    // The narrowest strip, in points, on which every bar fits (its items at their smallest).
    // Builds the controls of every bar the first time.
    double minimumStripWidth();
    // Lays the shown bar out across a strip of `size` points and returns the root of its layer
    // tree (black background, items on it) for the host to render. Makes the bar if needed.
    const LayerPtr& stripLayer(Size size);
    // One finger on the strip, in strip points. Goes to the item under it when it begins, and
    // stays with that item; a bar switch cancels the fingers on items that leave.
    void stripTouch(TouchPhase phase, const Touch& touch);
    // The strip lost every finger at once: each one an item holds is cancelled.
    void cancelStripTouches();
    void setInstrumentTouchHandler(InstrumentTouchHandler handler);
    // The default handler: one finger's change, as a touch event of the instrument.
    static void deliverToInstrument(MainView& view, TouchPhase phase, const Touch& touch);
    void setInstrumentCallObserver(InstrumentCallObserver observer) {
        callObserver_ = std::move(observer);
    }
    // Whether the controller has made this call on the instrument ("setDecay", as the observer
    // names it): a control never moved has not, and the instrument keeps its own start value.
    bool hasSent(std::string_view call) const;

    // --- Control actions (each sent by its control) ------------------------------------------
    void playModeChanged();
    // The mode chosen from elsewhere (a MIDI program change): the selector and the instrument
    // follow as if its segment was touched, but the strip stays on the bar it shows.
    void selectPlayMode(int mode);
    void effectsPressed();
    void controlsPressed();
    void attackChanged();
    void decayChanged();
    void slicesChanged();
    void transposeChanged();
    void filterChanged();
    void delayChanged();
    void feedbackChanged();
    void reverbChanged();
    // The delay timer: sends the delay slider's value as it is now.
    void changeDelayTime();
    // A dropped file plays at its own pitch: the transpose stepper back to 0 ("original"), its
    // value read back and sent to the instrument.
    void resetTransposition();

    // --- Icons: each draws its slider's picture from the sliders' values ---------------------
    void updateAttackIcon();
    void updateDecayIcon();
    void updateFilterIcon();
    void updateDelayIcon();
    void updateReverbIcon();

    // --- The items (null until built) --------------------------------------------------------
    const std::shared_ptr<CustomItem>& mainTouchBarItem() const { return mainTouchBarItem_; }
    const std::shared_ptr<Button>& effectsButton() const { return effectsButton_; }
    const std::shared_ptr<SegmentedControl>& modeSegments() const { return modeSegments_; }
    const std::shared_ptr<Slider>& attackSlider() const { return attackSlider_; }
    const std::shared_ptr<Slider>& decaySlider() const { return decaySlider_; }
    const std::shared_ptr<Stepper>& slicesStepper() const { return slicesStepper_; }
    const std::shared_ptr<Stepper>& transposeStepper() const { return transposeStepper_; }
    const std::shared_ptr<Stepper>& disabledStepper() const { return disabledStepper_; }
    const std::shared_ptr<Stepper>& disabledStepper2() const { return disabledStepper2_; }
    const std::shared_ptr<Button>& controlsButton() const { return controlsButton_; }
    const std::shared_ptr<Slider>& filterSlider() const { return filterSlider_; }
    const std::shared_ptr<Slider>& delaySlider() const { return delaySlider_; }
    const std::shared_ptr<Slider>& feedbackSlider() const { return feedbackSlider_; }
    const std::shared_ptr<Slider>& reverbSlider() const { return reverbSlider_; }
    BarImages& barImages() { return images_; }

    // The item lists of the bars: the controls bar's depends on the play mode.
    static std::vector<std::string> instrumentBarItems();
    static std::vector<std::string> controlsBarItems(int playMode);
    static std::vector<std::string> effectsBarItems();

private:
    int playMode() const;  // the instrument's, 0 without one
    // The selector's segment to the instrument, the slice count and the segment images.
    void applyPlayMode();
    std::shared_ptr<Slider> makeSlider(const char* identifier, double value, double minimum,
                                       double maximum, void (WindowController::*action)());
    std::shared_ptr<Stepper> makeStepper(const char* identifier,
                                         std::unique_ptr<Formatter> formatter);
    std::shared_ptr<Button> makeButton(const char* identifier, const char* image,
                                       void (WindowController::*action)());
    std::function<void()> action(void (WindowController::*method)());
    void note(std::string_view call, double value);

    // Calls on the instrument; each does nothing without one.
    void sendPlayMode(int mode);
    void sendNumSlices(int n);
    void sendAttack(double seconds);
    void sendDecay(double seconds);
    void sendTranspose(int semitones);
    void sendFilter(float v);
    void sendDelayTime(float v);
    void sendDelayFeedback(float v);
    void sendReverb(float v);

    RunLoop& runLoop_;
    BarImages images_;
    MainViewFactory makeMainView_;
    InstrumentTouchHandler instrumentTouchHandler_ = deliverToInstrument;
    InstrumentCallObserver callObserver_;
    std::vector<std::string_view> sent_;  // the names note() has seen, each once
    // Work queued on the run loop holds this weakly and does nothing once the controller is gone.
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);

    bool deviceHasTouchbar_ = false;
    std::shared_ptr<Timer> delayTimer_;
    std::unique_ptr<Bar> mainBar_;
    int currentBar_ = bars::kInstrument;
    int secondaryBar_ = bars::kControls;
    std::shared_ptr<CustomItem> mainTouchBarItem_;
    std::unique_ptr<MainView> mainView_;
    std::shared_ptr<Button> effectsButton_;
    std::shared_ptr<SegmentedControl> playModeSelector_;
    std::shared_ptr<SegmentedControl> modeSegments_;
    std::shared_ptr<Slider> attackSlider_;
    std::shared_ptr<Slider> decaySlider_;
    std::shared_ptr<Stepper> slicesStepper_;
    std::shared_ptr<Stepper> transposeStepper_;
    std::shared_ptr<Stepper> disabledStepper_;
    std::shared_ptr<Stepper> disabledStepper2_;
    std::shared_ptr<Button> controlsButton_;
    std::shared_ptr<Slider> filterSlider_;
    std::shared_ptr<Slider> delaySlider_;
    std::shared_ptr<Slider> feedbackSlider_;
    std::shared_ptr<Slider> reverbSlider_;
    LayerPtr emptyStrip_ = Layer::create();
};

}  // namespace vornik
