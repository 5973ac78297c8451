#pragma once
// What Vornik keeps between runs: the sample, the controls as the user left them, the control bar
// last shown, the zoom and the window. The text form is a small key = value file with a version
// line, closed by a line "end". Plain C++. Thread: any.
//
// A control the user never moved has no value here: the instrument then keeps its own starting
// parameter (the decay and the delay time start elsewhere than their sliders do).

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vornik {

namespace state {
inline constexpr int kVersion = 1;

// The controls' ranges, as the strip's controls hold them.
inline constexpr int kPlayModeMin = 0, kPlayModeMax = 3;
inline constexpr double kSliderMin = 0.0, kSliderMax = 1.0;  // attack, decay, delay, ...
inline constexpr double kFilterMin = 0.0, kFilterMax = 2.0;
inline constexpr int kTransposeMin = -24, kTransposeMax = 24;
inline constexpr int kSlicesStepMin = 0, kSlicesStepMax = 4;  // none, auto, 4, 8, 16
inline constexpr int kControlsBar = 1, kEffectsBar = 2;
inline constexpr double kZoomMin = 0.5, kZoomMax = 8.0;
inline constexpr int kWindowMinSize = 100, kWindowMaxSize = 16384;
inline constexpr int kWindowMaxOffset = 32768;  // from the desktop's origin, either way
}  // namespace state

struct WindowFrame {
    std::optional<int> x, y;  // none where the desktop does not tell (Wayland)
    int width = 0;
    int height = 0;
    bool operator==(const WindowFrame&) const = default;
};

struct SessionState {
    std::string sample;                    // the loaded sample's absolute path; empty for none
    std::optional<int> playMode;           // 0 slicer .. 3 tape
    std::optional<int> slicesStep;         // the slices stepper: 0 none, 1 auto, 2..4 -> 4, 8, 16
    std::optional<double> attack;          // slider positions, 0..1
    std::optional<double> decay;           //
    std::optional<int> transpose;          // semitones, -24..24
    std::optional<double> filter;          // 0..2, 1 is no filter
    std::optional<double> delay;           // 0..1
    std::optional<double> feedback;        // 0..1
    std::optional<double> reverb;          // 0..1
    int controlBar = state::kControlsBar;  // the control bar last shown
    std::optional<double> zoom;
    std::optional<WindowFrame> window;
    // Keys of other subsystems, named "subsystem.key" ("midi.input"): kept as text and written
    // back, so that each subsystem reads and sets its own without this file knowing them.
    std::map<std::string, std::string> others;

    bool operator==(const SessionState&) const = default;
};

// The file's text. A sample path that cannot sit on one line is left out (logged).
std::string formatState(const SessionState& state);

struct ParsedState {
    enum class Outcome { ok, broken, newer };
    Outcome outcome = Outcome::broken;
    SessionState state;   // defaults unless ok
    std::string problem;  // for broken and newer: what was wrong, for the log
    // Keys whose values could not be read (kept at their defaults), for the log.
    std::vector<std::string> refused;
};

// Reads the text: values outside a control's range are clamped to it; a value that is no number
// (or no name the key knows) is refused and left at its default; unknown keys without a
// "subsystem." prefix are ignored. No version line, a version this program does not know, or no
// closing "end" (a half-written file) gives defaults.
ParsedState parseState(std::string_view text);

}  // namespace vornik
