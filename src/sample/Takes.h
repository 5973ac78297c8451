#pragma once
// Where recordings go. The user's documents folder holds "recording.wav", the newest take; the
// folder "Vornik takes" beside it keeps every take under a name of its own that no later
// recording changes ("recording-YYYYMMDD-HHMMSS.wav"), so no take is ever lost.

#include <ctime>
#include <filesystem>
#include <string>
#include <string_view>

namespace vornik {

// The user's documents directory: `xdg-user-dir DOCUMENTS` if that tool answers, else
// XDG_DOCUMENTS_DIR from user-dirs.dirs, else $HOME/Documents. A desktop that names no documents
// folder answers $HOME itself; then $HOME/Documents is used too (made by the first recording).
// Runs a program. Thread: main.
std::filesystem::path documentsDirectory();

// The same choice from given answers: the tool's output (empty if it is missing), the contents of
// user-dirs.dirs (empty if there is none) and $HOME. Thread: any.
std::filesystem::path documentsDirectoryFrom(std::string_view xdgUserDirOutput,
                                             std::string_view userDirsFile,
                                             const std::filesystem::path& home);

// The takes folder beside the recordings in `documents`: the one place takes are kept.
// Thread: any.
std::filesystem::path takesDirectory(const std::filesystem::path& documents);

// Puts `file` into the folder `takes` (made if missing) as "<kind>-YYYYMMDD-HHMMSS.wav", `when`
// in local time, with "-2", "-3", ... when that name is taken: a hard link, or a copy with the
// same modification time where the file system has no links. Returns the take's path, or an
// empty path with `why` in plain words. Thread: main.
std::filesystem::path keepTake(const std::filesystem::path& file,
                               const std::filesystem::path& takes, std::string_view kind,
                               std::time_t when, std::string& why);

// Whether `takes` already holds `file`: a link to it, or a copy of the same size and time.
bool isKeptIn(const std::filesystem::path& file, const std::filesystem::path& takes);

// The temporary file a recording is written to before it is finished, and the removal of those
// that a killed program left: only names of exactly this form whose process is gone. Returns
// how many went. Thread: main.
std::string partFileName(long pid, unsigned counter);
int removeStaleParts(const std::filesystem::path& directory);

}  // namespace vornik
