#pragma once
// Turns a decoded file into the published sample, with the log lines and status messages a user
// can act on.
// Thread: main (it decodes on the calling thread and publishes to the mixer).

#include <string>

#include "engine/SampleBuffer.h"
#include "sample/AudioFileReader.h"

namespace vornik {

// How long a load waits after fading the voices out, so they are silent when the sample changes.
inline constexpr double kLoadDelaySeconds = 0.010;

class SampleLoader {
public:
    enum class Outcome {
        Loaded,      // the file is the sample now
        ReadFailed,  // the file is the sample now, but part of it could not be read (silence)
        OpenFailed,  // not a readable audio file: nothing changed, as for Refused
        Refused,     // nothing changed: the previous sample stays loaded and playable
    };

    explicit SampleLoader(SampleStore& store) : store_(store) {}

    // Decodes `path` and publishes the result.
    Outcome load(const std::string& path);

    // Publishes what a decode gave; `name` names the file in log lines.
    Outcome publish(DecodedAudio decoded, const std::string& name);

private:
    SampleStore& store_;
};

}  // namespace vornik
