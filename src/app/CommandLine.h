#pragma once
// The program's command line: vornik [FILE] [--zoom N] [--fresh] [--midi none|all|NAME]
// [--midi-channel N] [--audio auto|jack|sdl] [--client-name NAME] [--no-connect] [--buffer N]
// [--help]
// [--version], and options for tests and measurements (--frames N, --screenshot PNG,
// --hold-voices N). Plain C++. Thread: any.

#include <optional>
#include <string>
#include <vector>

namespace vornik {

// Which sound output: JACK when a server is running (none is started), else SDL audio.
enum class AudioChoice { Auto, Jack, Sdl };

struct ApplicationOptions {
    std::string file;          // an audio file to load at start; empty for none
    double zoom = 2.0;         // pixels per point of the strip
    bool zoomGiven = false;    // --zoom was given: it wins over the zoom kept from the last run
    bool fresh = false;        // start blank, and keep the saved state until something changes
    int frames = 0;            // quit after this many display frames; 0 runs until closed
    std::string screenshot;    // write the window's picture here when quitting
    std::string midi = "all";  // MIDI sources: "none", "all" hardware, or part of a name
    int midiChannel = 0;       // the one MIDI channel heard, 1..16; 0 all
    bool midiGiven = false;    // --midi or --midi-channel was given: it wins over the kept one
    AudioChoice audio = AudioChoice::Auto;
    std::string clientName = "vornik";  // the JACK client's name
    bool connect = true;                // JACK: connect to the physical ports at start
    int bufferFrames = 64;              // SDL audio: the buffer asked for, in frames
    // Bow voices held across the strip once the sample is in; -1: not asked (a measurement run
    // reports its frame counts at the end).
    int holdVoices = -1;
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
