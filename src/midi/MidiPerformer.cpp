#include "midi/MidiPerformer.h"

#include "display/MainView.h"
#include "engine/Playhead.h"
#include "performance/TouchEvent.h"

namespace vornik {
namespace {

// The controller that resets all others: the pedal comes up with it.
constexpr int kResetAllControllers = 121;

}  // namespace

void MidiPerformer::handle(const MidiMessage& m) {
    if (channel_ != 0 && m.channel() != channel_) return;
    frame_ = m.frame;
    const int key = (m.channel() - 1) * 128 + m.data1;
    switch (m.kind()) {
        case midi::kNoteOn:
            if (m.data2 == 0) {
                noteOff(key);  // note-on at velocity 0 is a note-off
            } else {
                noteOn(key, m.data1, m.data2);
            }
            break;
        case midi::kNoteOff:
            noteOff(key);
            break;
        case midi::kControlChange:
            controlChange(m.data1, m.data2);
            break;
        case midi::kProgramChange:
            if (controls_) controls_->programChanged(m.data1);
            break;
        default:
            break;  // pressure, pitch bend: nothing here listens to them
    }
    frame_ = 0;
}

void MidiPerformer::noteOn(int key, int note, int velocity) {
    // The same key again (struck anew under the pedal, or doubled): its old finger lifts first.
    for (std::size_t i = 0; i < fingers_.size(); ++i) {
        if (fingers_[i].key == key) {
            lift(i);
            break;
        }
    }
    Point at;
    if (!landing(note, velocity, at)) return;
    const Touch touch{nextId_++, at, at};
    fingers_.push_back(Finger{key, touch, false});
    TouchEvent event;
    event.began.push_back(touch);
    deliver(event);
}

void MidiPerformer::noteOff(int key) {
    for (std::size_t i = 0; i < fingers_.size(); ++i) {
        if (fingers_[i].key != key || fingers_[i].released) continue;
        if (sustain_) {
            fingers_[i].released = true;
        } else {
            lift(i);
        }
        return;
    }
}

void MidiPerformer::controlChange(int cc, int value) {
    if (cc == midi::kSustainPedal || cc == kResetAllControllers) {
        sustain_ = cc == midi::kSustainPedal && value >= 64;
        for (std::size_t i = fingers_.size(); !sustain_ && i-- > 0;) {
            if (fingers_[i].released) lift(i);
        }
        return;
    }
    if (cc == midi::kAllNotesOff || cc == midi::kAllSoundOff) {
        liftAll();
        return;
    }
    if (MidiMap::isReserved(cc)) return;
    if (!map_.armed().empty()) {
        const std::string control = map_.armed();
        map_.disarm();
        map_.bind(cc, control);
        if (controls_) controls_->learned(cc, control);
    }
    const std::string& control = map_.control(cc);
    if (!control.empty() && controls_) controls_->controlChanged(control, value);
}

void MidiPerformer::liftAll() {
    while (!fingers_.empty()) lift(fingers_.size() - 1);
}

void MidiPerformer::lift(std::size_t i) {
    const Touch touch = fingers_[i].touch;
    fingers_.erase(fingers_.begin() + static_cast<std::ptrdiff_t>(i));
    if (!view_) return;
    TouchEvent event;
    event.ended.push_back(touch);
    deliver(event);
}

void MidiPerformer::deliver(const TouchEvent& event) {
    view_->setTouchFrame(frame_);
    view_->handleTouchEvent(event);
    view_->setTouchFrame(0);
}

bool MidiPerformer::landing(int note, int velocity, Point& at) {
    if (!view_) return false;
    double width = view_->touchBarSize().x;
    double height = view_->touchBarSize().y;
    if (!(width > 0.0)) {  // not measured yet: the layer the host laid out
        width = view_->layer()->bounds().size.width;
        height = view_->layer()->bounds().size.height;
    }
    const int k = note - midi::kFirstNote;
    if (!(width > 0.0) || k < 0) return false;
    at.y = height * 0.5;
    SliceList& slices = view_->slices();
    if (view_->playMode() == Playhead::kSlicer && !slices.empty()) {
        if (k >= static_cast<int>(slices.size())) return false;  // past the last slice
        const Slice* slice = &slices[static_cast<std::size_t>(k)];
        // The point of the slice whose amplitude is the velocity's: 0 at its left edge (the
        // loudest) to 1 at its right.
        const double r = 1.0 - velocity / 127.0;
        const double x = (slice->pos + r * (slice->end - slice->pos)) * width;
        // A point exactly on a slice's start belongs to the slice before: step inside, by the
        // least that does.
        double step = width * 0x1p-24;
        at.x = static_cast<float>(x);
        for (int i = 0; i < 24 && view_->getSliceAtPos(static_cast<float>(at.x)) != slice; ++i) {
            at.x = static_cast<float>(x + step);
            step *= 2.0;
        }
        return true;
    }
    if (k >= midi::kZoneCount) return false;
    at.x = (k + 0.5) * width / midi::kZoneCount;
    return true;
}

}  // namespace vornik
