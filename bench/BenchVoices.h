#pragma once
// A full voice pool for the benchmarks: 64 held voices over 20 s of a 44.1 kHz stereo sample.

#include <cmath>
#include <cstdint>
#include <memory>

#include "engine/Mixer.h"

namespace vornik::bench {

inline constexpr std::uint32_t kSampleFrames = 44100 * 20;

inline std::unique_ptr<SampleSnapshot> benchSample() {
    std::shared_ptr<float[]> storage(new float[kSampleFrames * 2]);
    for (std::uint32_t i = 0; i < kSampleFrames; ++i) {
        storage[i] = 0.5f * std::sin(0.01f * static_cast<float>(i));
        storage[kSampleFrames + i] = 0.5f * std::cos(0.013f * static_cast<float>(i));
    }
    return makeLoadedSnapshot(storage, kSampleFrames, 2, 44100.0);
}

// A held voice at full level in `mode`, spread over the sample by its index.
inline void armVoice(Playhead& v, int mode, std::size_t index) {
    const double rate = 44100.0 / 48000.0 * std::pow(2.0, (index % 7) / 12.0);
    const double start = 10000.0 + 12000.0 * index;
    v.setMode(mode);
    v.setFadeOut(false);
    v.setTouchid(index + 1);
    v.setAmp(0.9f);
    v.setEnvelope(1.0);
    v.setRate(mode == Playhead::kTape ? -rate : rate);
    v.setPos(start);
    v.setFrameStart(start);
    v.setFrameEnd(mode == Playhead::kLooper ? start + 2000.0 : kSampleFrames - 1.0);
    v.setLooperPos(0.0);
    v.setLooperCrossfade(Mixer::kLooperIdle);
    v.setBowAmp(0.0);
    v.setBowPos(start - 0.08 * 44100.0);
    v.setActive(true);
}

}  // namespace vornik::bench
