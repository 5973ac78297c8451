#pragma once
// Samples made in the test: planes of known values, published as the mixer reads them.

#include <algorithm>
#include <memory>
#include <vector>

#include "engine/Mixer.h"
#include "engine/SampleBuffer.h"

namespace vornik::test {

// A loaded sample from one or two planes of equal length.
inline std::unique_ptr<SampleSnapshot> snapshotOf(const std::vector<float>& left,
                                                  const std::vector<float>& right = {},
                                                  double sampleRate = 48000.0) {
    const auto frames = static_cast<std::uint32_t>(left.size());
    const int channels = right.empty() ? 1 : 2;
    std::shared_ptr<float[]> storage(new float[frames * channels]);
    std::copy(left.begin(), left.end(), storage.get());
    if (channels == 2) std::copy(right.begin(), right.end(), storage.get() + frames);
    return makeLoadedSnapshot(storage, frames, channels, sampleRate);
}

// value(i) = i * scale: a ramp whose values tell which frame was read.
inline std::vector<float> ramp(std::size_t frames, float scale = 1.0f) {
    std::vector<float> v(frames);
    for (std::size_t i = 0; i < frames; ++i) v[i] = static_cast<float>(i) * scale;
    return v;
}

// How a voice starts: at `pos` (its loop or slice from there to `end`), its second head idle.
struct VoiceStart {
    int mode = Playhead::kTape;
    double pos = 0.0, end = 0.0, rate = 1.0, envelope = 1.0;
    float amp = 0.9f;
    TouchId touch = 1;
};

// Starts `v` as a touch handler does: every field first, `active` last.
inline Playhead& startVoice(Playhead& v, const VoiceStart& s) {
    v.setMode(s.mode);
    v.setFadeOut(false);
    v.setTouchid(s.touch);
    v.setAmp(s.amp);
    v.setEnvelope(s.envelope);
    v.setRate(s.rate);
    v.setPos(s.pos);
    v.setFrameStart(s.pos);
    v.setFrameEnd(s.end);
    v.setLooperCrossfade(Mixer::kLooperIdle);
    v.setBowAmp(0.0);
    v.setBowPos(s.pos - 0.08 * 48000);
    v.setActive(true);
    return v;
}

}  // namespace vornik::test
