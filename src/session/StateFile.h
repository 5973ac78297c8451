#pragma once
// The state file on disk: where it lives, reading it, and replacing it without ever leaving a
// half-written one. Thread: any but audio (files, logging).

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "session/SessionState.h"

namespace vornik {

// $XDG_STATE_HOME/vornik/state.conf, else $HOME/.local/state/vornik/state.conf; empty when
// neither names an absolute directory (then nothing is kept).
std::filesystem::path stateFilePath();
std::filesystem::path stateFilePathFrom(const char* xdgStateHome, const char* home);

struct StateFileContents {
    enum class Outcome { missing, ok, unusable };
    Outcome outcome = Outcome::missing;
    SessionState state;  // defaults unless ok
};

// Reads and parses the file. Anything but a missing file that cannot be used (unreadable,
// broken, half-written, from a newer Vornik) is logged and gives the defaults.
StateFileContents readStateFile(const std::filesystem::path& path);

// Replaces `path` with `text`: written to a temporary file beside it ("<name>.<pid>.part"),
// flushed to the disk, then renamed over it, so a crash leaves the old file or the new one.
// `beforeRename` runs between the two (tests crash there). False with `error` set when it failed;
// the old file is then as it was and the temporary is gone. Creates the folder when needed.
bool writeFileAtomically(const std::filesystem::path& path, std::string_view text,
                         std::string& error, const std::function<void()>& beforeRename = {});

// Removes the temporaries of `path` that processes which no longer run left behind (a crash
// between writing and renaming). Only files named as writeFileAtomically names them.
void removeStaleTemporaries(const std::filesystem::path& path);

}  // namespace vornik
