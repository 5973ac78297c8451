#pragma once
// MIDI in the program: the MIDI layer wired to the window's controller. Notes play the instrument
// whatever bar the strip shows; controllers move the controls through the controller's own
// actions, so bars, icons and labels follow; MIDI learn arms a control with a right-click or a
// two-finger long press on it (drawn highlighted) and Escape cancels. The map is loaded at start
// and saved when learn binds. Thread: main, for every call here.

#include <SDL_events.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "app/Controls.h"
#include "base/RunLoop.h"
#include "midi/MidiInput.h"
#include "midi/MidiMap.h"
#include "midi/MidiPerformer.h"

namespace vornik {

class RtMidiSource;
class StripInput;
class WindowController;

namespace midilearn {
inline constexpr double kHoldSeconds = 0.8;  // two fingers held this long on a control arm it
inline constexpr double kSlop = 10.0;        // points a finger may wander meanwhile
inline constexpr double kBorderWidth = 2.0;  // the armed control's outline, points
inline constexpr Color kBorderColor = Color::rgba(1.0, 0.76, 0.0);
}  // namespace midilearn

class MidiHost final : private MidiControlTarget {
public:
    // `configPath`: the map's file, read now and written when learn binds; empty keeps the
    // default map and writes nothing (scripts). Builds every control the map can move.
    MidiHost(RunLoop& runLoop, WindowController& controller, std::filesystem::path configPath);
    ~MidiHost() override;
    MidiHost(const MidiHost&) = delete;
    MidiHost& operator=(const MidiHost&) = delete;

    // Opens the MIDI system: `choice` "none", "all" (every hardware source) or part of a
    // source's name; `channel` 1..16, or 0 for all. Without a MIDI system it logs once and
    // MIDI stays off. Sources wake the main loop with an SDL user event.
    void openInput(const std::string& choice, int channel);
    // Takes the SDL events MIDI needs: its wake-up (drains the queue), a right-click on the strip
    // (learn) and Escape while a control is armed. True when the event was MIDI's.
    bool handleEvent(const SDL_Event& event, const StripInput& strip);
    // Handles what the sources queued; the number of messages.
    std::size_t drain();
    // Bytes arriving on the main thread (a script's), at `time` seconds.
    void feed(const std::uint8_t* bytes, std::size_t size, double time);

    // --- Learn ---------------------------------------------------------------------------------
    // The learnable control under x points of the bar shown, or "".
    std::string controlAt(double x) const;
    // Arms a control (highlighted, the next controller binds to it); the armed one again, or "",
    // disarms.
    void arm(const std::string& control);
    // Escape: true when a control was armed.
    bool cancelLearn();
    // The strip's fingers, for the two-finger long press.
    void stripTouch(TouchPhase phase, const Touch& touch);

    MidiMap& map() { return map_; }
    MidiPerformer& performer() { return performer_; }
    MidiInput& input() { return input_; }
    bool inputOpen() const { return source_ != nullptr; }
    // The MIDI settings as opened: the sources chosen and the channel heard (0 all).
    const std::string& choice() const { return choice_; }
    int channel() const { return performer_.channel(); }

private:
    void controlChanged(const std::string& control, int value) override;
    void programChanged(int program) override;
    void learned(int cc, const std::string& control) override;
    BarItemPtr item(const std::string& control) const;
    void highlight(const std::string& control, bool on);
    void rescan();

    RunLoop& runLoop_;
    WindowController& controller_;
    std::filesystem::path configPath_;
    std::string choice_ = "none";
    MidiMap map_;
    MidiPerformer performer_{map_};
    MidiInput input_{performer_};
    std::unique_ptr<RtMidiSource> source_;  // last: its thread stops before the rest goes
    std::uint32_t wakeEvent_ = 0;
    std::shared_ptr<Timer> rescanTimer_;
    std::map<std::string, bool> buttonDown_;  // buttons press as their controller rises past 64
    struct Finger {
        TouchId id;
        double x;
        std::string control;
    };
    std::vector<Finger> fingers_;
    std::shared_ptr<Timer> holdTimer_;
};

}  // namespace vornik
