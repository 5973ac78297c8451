#pragma once
// The name extensions of the audio files our libsndfile decodes: one list, for file drop and the
// Open dialog alike.

#include <string>
#include <string_view>
#include <vector>

namespace vornik {

// Lower-case extensions without the dot, sorted, each once. Asked of libsndfile on first use,
// plus the usual other names of its formats. Thread: any but audio.
const std::vector<std::string>& audioFileExtensions();

// True when the file name at the end of `path` has one of those extensions, in any case.
// Thread: any but audio.
bool isAudioFileName(std::string_view path);

}  // namespace vornik
