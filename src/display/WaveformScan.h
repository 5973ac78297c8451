#pragma once
// The one pass over the sample the waveform needs: per stretch of frames, the highest and lowest
// value and the zero crossings. It reads every frame of the sample on each redraw (a 10-minute
// stereo file is over 200 MB), so it is vectorised. Thread: any (pure).

#include <cstddef>
#include <cstdint>

namespace vornik {

struct ColumnScan {
    float hi = 0.0f;  // largest value, at least 0
    float lo = 0.0f;  // smallest value, at most 0
    std::uint32_t crossings = 0;
};

// Frames [begin, end) of `first`, and of `second` too for hi and lo when it is not null.
// Crossings count in `first` only: frame i (i >= 1) crosses when it is >= 0 after a frame < 0,
// or <= 0 after a frame > 0; for i = begin the previous frame is first[begin - 1]. A value that is
// not a number takes part in nothing.
ColumnScan scanWaveformColumn(const float* first, const float* second, std::size_t begin,
                              std::size_t end);

}  // namespace vornik
