// Feeds arbitrary bytes to the decoder the instrument loads files with. Whatever the bytes, it
// must not crash, read out of bounds, take memory for frames the file does not hold, or hand out
// a sample with non-finite or unfilled frames.
//   vornik-fuzz-loader -max_len=65536 -rss_limit_mb=4096 CORPUS_DIR

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "sample/AudioFileReader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const vornik::DecodedAudio d = vornik::decodeAudioMemory(data, size);
    if (d.status != vornik::DecodedAudio::Status::Decoded) return 0;
    const vornik::SampleSnapshot& s = *d.snapshot;
    if (d.framesRead > s.capacity || s.capacity == 0 || s.channels <= 0) std::abort();
    // The frames read, and the first one after them, which must be silence.
    const std::size_t checked = std::min<std::size_t>(s.capacity, std::size_t{d.framesRead} + 1);
    for (int c = 0; c < s.channels; ++c) {
        const float* plane = s.storage.get() + static_cast<std::size_t>(c) * s.capacity;
        for (std::size_t i = 0; i < checked; ++i) {
            if (!std::isfinite(plane[i])) std::abort();
        }
        if (checked > d.framesRead && plane[d.framesRead] != 0.0f) std::abort();
    }
    return 0;
}
