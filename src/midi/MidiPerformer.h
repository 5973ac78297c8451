#pragma once
// What MIDI plays: notes are fingers on the instrument and controllers move the controls.
//
// Each held note is one finger with its own touch identity, landing where the note says and
// lifting at its note-off, delivered to the instrument exactly as the strip's fingers are (so
// the four modes behave as with fingers, whatever bar the strip shows). Slicer: note 36 + k lands
// in slice k + 1 at the point whose amplitude matches the velocity; the other modes (and a slicer
// without slices): note 36 + k lands at the centre of zone k of 16. The sustain pedal keeps
// lifted notes down until it is released; all notes off and all sound off lift every MIDI finger.
// Controllers go through the map to the host's controls; a learning control takes the next one.
//
// Plain C++ fed with messages: any source (RtMidi, JACK, a script) reaches it through a parser.
// Thread: main, for everything here.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/Touch.h"
#include "midi/MidiMap.h"
#include "midi/MidiMessage.h"

namespace vornik {

class MainView;
struct TouchEvent;

// The host's controls, as MIDI moves them.
class MidiControlTarget {
public:
    virtual ~MidiControlTarget() = default;
    // A controller bound to `control` moved to `value` (0..127).
    virtual void controlChanged(const std::string& control, int value) = 0;
    // A program change: 0..3 choose the play mode.
    virtual void programChanged(int program) = 0;
    // The learning control took controller `cc` (already bound in the map).
    virtual void learned(int cc, const std::string& control) = 0;
};

class MidiPerformer {
public:
    // MIDI fingers' identities start here, far from the strip's own.
    static constexpr TouchId kFirstTouchId = 0x4d49'4449'0000'0001;  // "MIDI"

    explicit MidiPerformer(MidiMap& map) : map_(map) {}

    // The instrument the notes play and the controls the controllers move; either may be null.
    void setInstrument(MainView* view) { view_ = view; }
    void setControls(MidiControlTarget* controls) { controls_ = controls; }
    // Only this channel (1..16) is heard; 0 hears all.
    void setChannel(int channel) { channel_ = channel; }
    int channel() const { return channel_; }

    void handle(const MidiMessage& message);
    // Lifts every MIDI finger, held by a key or by the pedal.
    void liftAll();

    bool sustain() const { return sustain_; }
    // The fingers down: held notes and notes the pedal keeps.
    std::size_t fingerCount() const { return fingers_.size(); }

private:
    struct Finger {
        int key;  // channel x 128 + note
        Touch touch;
        bool released;  // its key is up; the pedal keeps it down
    };
    void noteOn(int key, int note, int velocity);
    void noteOff(int key);
    void controlChange(int cc, int value);
    void lift(std::size_t finger);
    // To the instrument, at the frame of the message being handled.
    void deliver(const TouchEvent& event);
    // Where a note's finger lands on the strip, in points; false when the note plays nothing.
    bool landing(int note, int velocity, Point& at);

    MidiMap& map_;
    MainView* view_ = nullptr;
    MidiControlTarget* controls_ = nullptr;
    int channel_ = 0;
    bool sustain_ = false;
    std::vector<Finger> fingers_;
    TouchId nextId_ = kFirstTouchId;
    std::uint64_t frame_ = 0;  // the message being handled's
};

}  // namespace vornik
