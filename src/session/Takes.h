#pragma once
// The path the state keeps for a sample. A microphone take is loaded from "recording.wav", which
// the next take replaces; the state must name the take itself, so that a later recording does not
// change what it means. Thread: main (reads files).

#include <cstdint>
#include <filesystem>
#include <string>

#include "sample/Takes.h"

namespace vornik {

// `sample` as the state keeps it: when it is `recordingFile`, the take's own copy in the takes
// folder beside it (the newest file there with the same bytes), if there is one; otherwise
// `sample` as it is.
std::filesystem::path permanentTakePath(const std::filesystem::path& sample,
                                        const std::filesystem::path& recordingFile);

// permanentTakePath, looked up again only when the sample, "recording.wav" or the takes folder
// changed (the state is captured once a second).
class TakePaths {
public:
    std::string keptPath(const std::string& sample, const std::filesystem::path& recordingFile);

private:
    std::string sample_, kept_;
    std::filesystem::file_time_type time_{}, folderTime_{};
    std::uintmax_t size_ = 0;
};

}  // namespace vornik
