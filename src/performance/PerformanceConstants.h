#pragma once
// The numbers of the touch performance: what a finger's place on the strip turns into.

#include <cstddef>

#include "engine/Mixer.h"

namespace vornik::performance {

// Looper hint: shown this long after looper mode is chosen, fading in over the second figure.
inline constexpr double kLooperHintDelay = 3.0;         // seconds
inline constexpr double kLooperHintFadeDuration = 0.5;  // seconds

// Looper, bow and tape voices play at this gain.
inline constexpr float kHeldAmp = 0.9f;

// Slicer: louder at a slice's left edge (0.95) than at its right (0.5).
inline constexpr double kSlicerAmpSpan = 0.45;
inline constexpr double kSlicerAmpFloor = 0.5;
// A finger sliding into a slice: softer when it came from the right.
inline constexpr float kSlideLeftAmp = 0.55f;
inline constexpr float kSlideRightAmp = 0.9f;
// With no slices a touch plays from its place to the end at this gain.
inline constexpr float kUnslicedAmp = 0.9f;

// Looper: below this finger spacing (points) the loop narrows faster than the fingers close.
inline constexpr float kLooperNarrowingSpacing = 150.0f;
inline constexpr double kLooperNarrowing = 0.32;  // each end moves in by this much per point

// Loop and grain boxes reach this far beyond the strip at the bottom and at the top (points).
inline constexpr double kRegionOverhang = 2.0;

// Bow: a grain is this long in the sample; a new second head starts half of it before the finger.
inline constexpr double kGrainSeconds = 0.16;
inline constexpr double kBowLeadSeconds = Mixer::kBowLeadSeconds;
static_assert(kBowLeadSeconds * 2.0 == kGrainSeconds);

// Tape: normal speed a quarter of the strip's width from the centre.
inline constexpr double kTapeNormalSpeedSpan = 0.25;
// Speed bars: 1.5 points high, the first 2 points below the top, then stacked 5 points apart,
// six deep before starting again at the top.
inline constexpr double kSpeedBarHeight = 1.5;
inline constexpr double kSpeedBarTopMargin = 2.0;
inline constexpr double kSpeedBarSpacing = 5.0;
inline constexpr int kSpeedBarRows = 6;

}  // namespace vornik::performance
