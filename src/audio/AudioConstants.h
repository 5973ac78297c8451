#pragma once
// The output graph's settings at start and the mappings' constants, in one place.

namespace vornik::audio {

// Initial settings: every effect inaudible (filters bypassed, delay and reverb fully dry).
inline constexpr float kLowpassInitialFrequency = 22000.0f;    // Hz
inline constexpr float kHighpassInitialFrequency = 0.0f;       // Hz
inline constexpr double kDelayInitialTime = 0.45;              // seconds
inline constexpr float kDelayInitialFeedback = 70.0f;          // percent
inline constexpr float kDelayInitialWetDryMix = 0.0f;          // percent
inline constexpr float kDelayInitialLowPassCutoff = 22000.0f;  // Hz
inline constexpr int kReverbCathedralPreset = 8;
inline constexpr float kReverbInitialWetDryMix = 0.0f;  // percent

// Control value to parameter: filter 0..1 low-pass, 1..2 high-pass, delay time 0.05..2.05 s.
inline constexpr float kLowpassSpan = 22000.0f;   // Hz added at the top of the low-pass range
inline constexpr float kLowpassFloor = 100.0f;    // Hz at control 0
inline constexpr double kHighpassSpan = 11000.0;  // Hz at control 2
inline constexpr double kDelayShortest = 0.05;    // seconds at control 0
inline constexpr float kPercent = 100.0f;

}  // namespace vornik::audio
