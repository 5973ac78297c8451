// Feeds arbitrary bytes to the decoder the instrument loads files with. Whatever the bytes, it
// must not crash, read out of bounds or hand out a sample with unfilled or non-finite frames.
//   vornik-fuzz-loader -max_len=65536 -rss_limit_mb=4096 CORPUS_DIR

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
    const std::size_t samples = std::size_t{s.capacity} * static_cast<std::size_t>(s.channels);
    for (std::size_t i = 0; i < samples; ++i) {
        if (!std::isfinite(s.storage[i])) std::abort();
    }
    return 0;
}
