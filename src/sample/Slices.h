#pragma once
// The slices of the sample: pads in slicer mode, kept as fractions 0..1 of the sample so the same
// list serves the mixer (times the frame count) and the strip (times its width).
// Thread: main, for everything here.

#include <cstdint>
#include <vector>

#include "engine/SampleBuffer.h"

namespace vornik {

struct Slice {
    float pos = 0.0f;               // start, fraction of the sample; fixed once the slice is made
    float end = 0.0f;               // set by the slice display when it lays the markers out
    float highlightOpacity = 0.0f;  // flash level: 1 when played, fading on each frame
};

// Ascending by pos, the first at 0, starts all different. Rebuilt from scratch, never edited.
using SliceList = std::vector<Slice>;

// Automatic detection works on windows of this many frames.
inline constexpr std::uint32_t kSliceWindowFrames = 512;

// `count` equal slices (count >= 2), appended.
void divideEqually(SliceList& slices, int count);

// Automatic onset detection ("auto slice"), appended to an emptied list: one slice at 0, then one
// wherever the smoothed window peak rises by more than 0.03, at most one per 1/24 of the sample.
// A sample whose file marks its hits (cue points) gets one slice at each mark instead.
// Nothing before the strip has been measured (width 0) or without a loaded sample.
void findSlices(SliceList& slices, const SampleSnapshot& sample, double touchBarWidth);

// Completes the slices for the strip: each ends where the next starts, the last exactly at 1, and
// no flash shows. The slice display runs this in slicer mode after every rebuild.
void setSliceEnds(SliceList& slices);

// The slice under `x` points on a strip `touchBarWidth` wide: the last one starting strictly
// left of it. Null for an empty list or a position at or left of the first start.
Slice* sliceAtPos(SliceList& slices, float x, double touchBarWidth);

}  // namespace vornik
