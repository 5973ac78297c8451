#pragma once
// Decodes a whole audio file with libsndfile into planar 32-bit float, at the file's own rate and
// channel count. Pure decoding: nothing is logged or published here (SampleLoader does that).
// Thread: any but audio (it allocates and does I/O).

#include <sndfile.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "engine/SampleBuffer.h"

namespace vornik {

// libsndfile reads at most this many cue points from a WAV file; a file with more reads as one
// with none.
inline constexpr std::size_t kMaxCuePoints = 2500;

// The largest magnitude a decoded sample keeps: far above full scale (1), yet 64 voices of it
// still sum to a finite mix that the effects can take.
constexpr float kLoudestSample = 64.0f;

struct DecodedAudio {
    enum class Status {
        Decoded,     // `snapshot` holds the file; frames the decoder did not deliver are silence
        OpenFailed,  // not a file libsndfile can open (missing, a directory, not audio, ...)
        Refused,     // opened, but it cannot become a sample (no frames, too long, no memory)
    };

    Status status = Status::OpenFailed;
    std::unique_ptr<SampleSnapshot> snapshot;  // set when Decoded, as the mixer will read it
    std::uint32_t framesRead = 0;              // frames the decoder delivered
    int readError = 0;          // libsndfile's error number if the read stopped early
    std::size_t nonFinite = 0;  // NaN and infinite samples replaced by 0
    std::size_t clamped = 0;    // finite samples beyond kLoudestSample, clamped to it
    std::string reason;         // why it failed to open or was refused, in plain words

    bool readComplete() const { return snapshot && framesRead == snapshot->capacity; }
};

// Why the file at `path` cannot be read, in plain words ("no such file", "not a regular file",
// "the file is empty", "no permission to read it"); empty when it is a readable, non-empty file.
std::string unreadableFileReason(const std::string& path);

// Opens and decodes the file at `path` (UTF-8).
DecodedAudio decodeAudioFile(const std::string& path);

// The same decode from a file held in memory: the entry point for fuzzing.
DecodedAudio decodeAudioMemory(const void* data, std::size_t size);

// The same decode through libsndfile's virtual I/O; `io` and `user` must outlive the call.
DecodedAudio decodeAudioVirtual(SF_VIRTUAL_IO& io, void* user);

}  // namespace vornik
