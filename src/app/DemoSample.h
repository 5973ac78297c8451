#pragma once
// The demo sample the README's run command opens: a few drum hits and a chord, synthesised by
// our own code so that nothing in assets/ comes from elsewhere. Thread: any.

#include <string>
#include <vector>

namespace vornik {

inline constexpr int kDemoSampleRate = 44100;  // Hz
inline constexpr int kDemoChannels = 2;
inline constexpr double kDemoSeconds = 3.0;

// Interleaved stereo frames at kDemoSampleRate, peak at -1 dBFS. The same on every run.
std::vector<float> synthesizeDemoSample();

// Writes it as a 16-bit PCM WAV file; logs a line and returns false on failure.
bool writeDemoSample(const std::string& path);

}  // namespace vornik
