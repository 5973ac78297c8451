#pragma once
// A scripted performance: one command a line, times in seconds, "#" starts a comment.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace vornik::render {

struct Command {
    enum class Kind { Load, Drop, Down, Move, Up, Cancel, Set, Press, Key, Snapshot, Dump, Midi };
    int line = 0;
    double time = 0.0;
    Kind kind = Kind::Load;
    std::filesystem::path path;  // load, drop, snapshot, dump: resolved against the script's folder
    std::string name;            // set: the control; press: the button; key: space, r, o or O
    long finger = 0;             // down, move, up, cancel
    double value = 0.0;          // down, move: x in points; set: the control's value
    bool keyDown = false;        // key: down or up
    std::vector<std::uint8_t> bytes;  // midi: the message's bytes
};

// The strip sizes a script may ask for, in points: a snapshot at zoom 2 of the widest still fits
// in one picture (Cairo's 32767 pixels).
constexpr double kStripWidthMin = 100.0, kStripWidthMax = 16000.0;
constexpr double kStripHeightMin = 10.0, kStripHeightMax = 200.0;

struct Script {
    double stripWidth = 1000.0;
    double stripHeight = 30.0;
    double length = 0.0;
    std::vector<Command> commands;  // in the order written; applied in order of time, then line
};

struct ScriptError {
    int line = 0;
    std::string message;
};

// Parses a whole script. Paths are relative to `folder`; files to be read must exist.
// On the first fault, returns nothing and fills `error`.
std::optional<Script> parseScript(const std::string& text, const std::filesystem::path& folder,
                                  ScriptError& error);

}  // namespace vornik::render
