#include "app/MidiHost.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "app/StripInput.h"
#include "app/WindowController.h"
#include "base/Log.h"
#include "base/Status.h"
#include "midi/RtMidiSource.h"

namespace vornik {
namespace {

// The controls by the names the map knows them by.
const char* identifierOf(const std::string& control) {
    static const std::map<std::string, const char*> identifiers = {
        {"effects", items::kEffectsButton},
        {"mode", items::kPlayModeSelector},
        {"attack", items::kAttack},
        {"decay", items::kDecay},
        {"transpose", items::kTransposeStepper},
        {"slices", items::kSlicesStepper},
        {"controls", items::kControlsButton},
        {"filter", items::kFilter},
        {"delay", items::kDelay},
        {"feedback", items::kFeedback},
        {"reverb", items::kReverb}};
    const auto it = identifiers.find(control);
    return it == identifiers.end() ? nullptr : it->second;
}

}  // namespace

MidiHost::MidiHost(RunLoop& runLoop, WindowController& controller, std::filesystem::path configPath)
    : runLoop_(runLoop), controller_(controller), configPath_(std::move(configPath)) {
    if (!configPath_.empty()) map_.load(configPath_);
    // Every control exists from now on, so the first controller moved finds it listening.
    for (const std::string& control : MidiMap::controlNames()) item(control);
    performer_.setControls(this);
}

MidiHost::~MidiHost() {
    source_.reset();
    if (rescanTimer_) rescanTimer_->invalidate();
    if (holdTimer_) holdTimer_->invalidate();
}

void MidiHost::openInput(const std::string& choice, int channel) {
    performer_.setChannel(channel);
    if (choice == "none" || source_) return;
    choice_ = choice;
    if (wakeEvent_ == 0) wakeEvent_ = SDL_RegisterEvents(1);
    const std::uint32_t type = wakeEvent_;
    MidiQueue& queue = input_.addSource([type] {
        SDL_Event event{};
        event.type = type;
        return SDL_PushEvent(&event) == 1;
    });
    source_ = RtMidiSource::open(queue, choice);
    if (source_) {
        rescanTimer_ = runLoop_.scheduleTimer(RtMidiSource::kRescanSeconds, [this] { rescan(); });
    }
}

void MidiHost::rescan() {
    for (const std::string& name : source_->connectNewSources()) {
        logf("MIDI: connected \"%s\"", name.c_str());
        showStatus("MIDI: " + name + " connected", StatusKind::info);
    }
    rescanTimer_ = runLoop_.scheduleTimer(RtMidiSource::kRescanSeconds, [this] { rescan(); });
}

bool MidiHost::handleEvent(const SDL_Event& event, const StripInput& strip) {
    if (wakeEvent_ != 0 && event.type == wakeEvent_) {
        drain();
        return true;
    }
    if (event.type == SDL_KEYDOWN && event.key.keysym.sym == SDLK_ESCAPE && !event.key.repeat) {
        return cancelLearn();
    }
    if (event.type == SDL_MOUSEBUTTONDOWN && event.button.button == SDL_BUTTON_RIGHT &&
        event.button.which != SDL_TOUCH_MOUSEID && strip.onStrip(event.button.x, event.button.y)) {
        const std::string control = controlAt(strip.toStrip(event.button.x, event.button.y).x);
        if (control.empty()) return false;
        arm(control);
        return true;
    }
    return false;
}

std::size_t MidiHost::drain() {
    performer_.setInstrument(controller_.mainView());  // none until the bar first asks for it
    return input_.drain();
}

void MidiHost::feed(const std::uint8_t* bytes, std::size_t size, double time) {
    performer_.setInstrument(controller_.mainView());
    input_.feed(bytes, size, time);
}

// --- Learn ------------------------------------------------------------------------------------

std::string MidiHost::controlAt(double x) const {
    const Bar* bar = controller_.mainBar();
    if (bar == nullptr) return {};
    for (const BarItemPtr& shown : bar->items()) {
        if (x < shown->frame().minX() || x >= shown->frame().maxX()) continue;
        for (const std::string& control : MidiMap::controlNames()) {
            if (shown->identifier() == identifierOf(control)) return control;
        }
    }
    return {};
}

void MidiHost::arm(const std::string& control) {
    const std::string previous = map_.armed();
    highlight(previous, false);
    map_.disarm();
    if (control.empty() || control == previous) return;
    map_.arm(control);
    highlight(control, true);
    showStatus("MIDI learn: move a knob or fader to make it move " + control + " (Escape cancels)",
               StatusKind::info);
}

bool MidiHost::cancelLearn() {
    if (map_.armed().empty()) return false;
    arm({});
    return true;
}

void MidiHost::highlight(const std::string& control, bool on) {
    if (control.empty()) return;
    if (const BarItemPtr shown = item(control)) {
        shown->layer()->setBorderWidth(on ? midilearn::kBorderWidth : 0.0);
        shown->layer()->setBorderColor(midilearn::kBorderColor);
    }
}

void MidiHost::stripTouch(TouchPhase phase, const Touch& touch) {
    const auto it = std::find_if(fingers_.begin(), fingers_.end(),
                                 [&](const Finger& f) { return f.id == touch.identity; });
    if (phase == TouchPhase::Began) {
        fingers_.push_back({touch.identity, touch.location.x, controlAt(touch.location.x)});
        const std::string& control = fingers_.front().control;
        if (fingers_.size() == 2 && !control.empty() && fingers_.back().control == control) {
            holdTimer_ =
                runLoop_.scheduleTimer(midilearn::kHoldSeconds, [this, control] { arm(control); });
        }
        return;
    }
    if (it == fingers_.end()) return;
    if (phase == TouchPhase::Moved && std::fabs(touch.location.x - it->x) <= midilearn::kSlop) {
        return;
    }
    if (holdTimer_) holdTimer_->invalidate();
    if (phase != TouchPhase::Moved) fingers_.erase(it);
}

void MidiHost::learned(int cc, const std::string& control) {
    highlight(control, false);
    logf("MIDI controller %d now moves %s", cc, control.c_str());
    if (!configPath_.empty()) {
        const std::string error = map_.save(configPath_);
        if (!error.empty()) {
            logf("cannot save the MIDI map \"%s\": %s", configPath_.c_str(), error.c_str());
            showStatus("The MIDI map could not be saved: " + error);
            return;
        }
    }
    showStatus("MIDI controller " + std::to_string(cc) + " now moves " + control, StatusKind::info);
}

// --- Controls moved by MIDI -------------------------------------------------------------------

BarItemPtr MidiHost::item(const std::string& control) const {
    const char* identifier = identifierOf(control);
    return identifier ? controller_.makeItemForIdentifier(identifier) : nullptr;
}

void MidiHost::controlChanged(const std::string& control, int value) {
    const BarItemPtr target = item(control);
    // As a finger would: the control's value, then its action, only when the value changes.
    if (auto* slider = dynamic_cast<Slider*>(target.get())) {
        // The filter's 64 lands in the slider's snap to "no filter".
        const double v = ccToRange(value, slider->minValue(), slider->maxValue());
        if (v == slider->doubleValue()) return;
        slider->setDoubleValue(v);
        slider->sendAction();
    } else if (auto* stepper = dynamic_cast<Stepper*>(target.get())) {
        const double v = std::round(ccToRange(value, stepper->minValue(), stepper->maxValue()));
        if (v == stepper->value()) return;
        stepper->setValue(v);
        stepper->sendAction();
    } else if (auto* segments = dynamic_cast<SegmentedControl*>(target.get())) {
        const auto mode =
            static_cast<int>(std::lround(ccToRange(value, 0.0, segments->segmentCount() - 1.0)));
        if (mode != segments->selectedSegment()) controller_.selectPlayMode(mode);
    } else if (auto* button = dynamic_cast<Button*>(target.get())) {
        const bool down = value >= 64;
        const bool wasDown = std::exchange(buttonDown_[control], down);
        if (down && !wasDown) button->sendAction();
    }
}

void MidiHost::programChanged(int program) {
    if (program >= 0 && program < 4) controller_.selectPlayMode(program);
}

}  // namespace vornik
