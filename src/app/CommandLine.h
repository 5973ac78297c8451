#pragma once
// The program's command line: vornik [FILE] [--zoom N] [--fresh] [--midi none|all|NAME]
// [--midi-channel N] [--help] [--version], and two options for tests and measurements
// (--frames N, --screenshot PNG). Plain C++. Thread: any.

#include <optional>
#include <string>
#include <vector>

namespace vornik {

struct ApplicationOptions {
    std::string file;        // an audio file to load at start; empty for none
    double zoom = 2.0;       // pixels per point of the strip
    bool zoomGiven = false;  // --zoom was given: it wins over the zoom kept from the last run
    bool fresh = false;      // start blank, and keep the saved state until something changes
    int frames = 0;          // quit after this many display frames; 0 runs until closed
    std::string screenshot;  // write the window's picture here when quitting
    std::string midi = "all";  // MIDI sources: "none", "all" hardware, or part of a name
    int midiChannel = 0;       // the one MIDI channel heard, 1..16; 0 all
    bool midiGiven = false;    // --midi or --midi-channel was given: it wins over the kept one
};

struct CommandLine {
    enum class Action { Run, Help, Version, Error };
    Action action = Action::Run;
    ApplicationOptions options;
    std::string error;  // for Error: what was wrong
};

CommandLine parseCommandLine(const std::vector<std::string>& arguments);

// The --help text.
std::string usageText();

// Exit statuses.
inline constexpr int kExitUsage = 2;      // the command line was wrong
inline constexpr int kExitNoDisplay = 3;  // no display to open a window on

}  // namespace vornik
