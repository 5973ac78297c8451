#pragma once
// Numbers the whole instrument shares.

#include <cstddef>

namespace vornik {

inline constexpr double kOutputSampleRate = 48000.0;  // Hz, every connection of the graph
inline constexpr int kOutputChannels = 2;
inline constexpr int kRequestedBlockFrames = 64;      // device buffer asked for, about 1.3 ms
inline constexpr std::size_t kVoiceCount = 64;        // the voice pool
inline constexpr int kOscilloscopeFrames = 1024;      // one capture of the final mix

inline constexpr double kDefaultAttack = 0.005;  // seconds
inline constexpr double kDefaultDecay = 0.72;    // seconds

// Recording: what "recording.wav" holds, and what every capture source delivers.
inline constexpr int kRecordingSampleRate = 44100;  // Hz
inline constexpr int kRecordingChannels = 2;        // interleaved left, right

}  // namespace vornik
