#include "sample/Slices.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vornik {
namespace {

constexpr float kEnvelopeKeep = 0.6f;  // one-pole smoothing of the window peaks
constexpr float kEnvelopeTake = 0.4f;
constexpr double kOnsetRise = 0.03;      // rise of the smoothed peak that starts a slice
constexpr double kMaxAutoSlices = 24.0;  // slices are more than 1/24 of the windows apart

// Largest absolute value of one window, starting from `peak`. A NaN never raises the peak.
float windowPeak(const float* p, float peak) {
#if defined(__SSE2__)
    static_assert(kSliceWindowFrames % 16 == 0);
    const __m128 magnitude = _mm_castsi128_ps(_mm_set1_epi32(0x7fffffff));
    // max(a, m) yields m when a is NaN, which is exactly "a > m ? a : m".
    __m128 m0 = _mm_set1_ps(peak), m1 = m0, m2 = m0, m3 = m0;
    for (std::uint32_t k = 0; k < kSliceWindowFrames; k += 16) {
        m0 = _mm_max_ps(_mm_and_ps(_mm_loadu_ps(p + k), magnitude), m0);
        m1 = _mm_max_ps(_mm_and_ps(_mm_loadu_ps(p + k + 4), magnitude), m1);
        m2 = _mm_max_ps(_mm_and_ps(_mm_loadu_ps(p + k + 8), magnitude), m2);
        m3 = _mm_max_ps(_mm_and_ps(_mm_loadu_ps(p + k + 12), magnitude), m3);
    }
    m0 = _mm_max_ps(_mm_max_ps(m0, m1), _mm_max_ps(m2, m3));
    alignas(16) float lanes[4];
    _mm_store_ps(lanes, m0);
    return std::max(std::max(lanes[0], lanes[1]), std::max(lanes[2], lanes[3]));
#else
    for (std::uint32_t k = 0; k < kSliceWindowFrames; ++k) {
        const float a = std::fabs(p[k]);
        if (a > peak) peak = a;
    }
    return peak;
#endif
}

}  // namespace

void divideEqually(SliceList& slices, int count) {
    const float step = 1.0f / static_cast<float>(count);
    for (int k = 0; k < count; ++k) slices.push_back(Slice{step * static_cast<float>(k)});
}

void findSlices(SliceList& slices, const SampleSnapshot& sample, double touchBarWidth) {
    if (touchBarWidth == 0.0) return;  // the strip has not been measured yet
    if (!sample.loaded || sample.fileLength == 0 || sample.left == nullptr) return;

    slices.push_back(Slice{0.0f});
    // A file with marked hits (cue points) is cut at them instead.
    if (!sample.cues.empty()) {
        const auto length = static_cast<double>(sample.fileLength);
        for (const std::uint32_t cue : sample.cues) {
            const auto pos = static_cast<float>(cue / length);
            if (pos > slices.back().pos && pos < 1.0f) slices.push_back(Slice{pos});
        }
        return;
    }
    // A final partial window is not examined.
    const std::uint32_t frames = std::min(sample.fileBufferLength, sample.capacity);
    const std::uint32_t windows = frames >> 9;
    static_assert(kSliceWindowFrames == 1u << 9);
    if (windows == 0) return;

    // With three or more channels only the first is examined.
    const bool stereo = sample.channels == 2;
    const auto gap =
        static_cast<std::int64_t>(static_cast<double>(windows) * (1.0 / kMaxAutoSlices));
    std::int64_t last = 0;
    float previous = 0.0f;
    // Windows past the decoded frames hold silence, where no onset can rise: not read.
    const auto filledWindows = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(windows, (std::uint64_t{sample.filledFrames} + 511) >> 9));
    for (std::uint32_t i = 0; i < filledWindows; ++i) {
        const std::size_t start = std::size_t{i} * kSliceWindowFrames;
        float peak = windowPeak(sample.left + start, 0.0f);
        if (stereo) peak = windowPeak(sample.right + start, peak);
        const float e = i == 0 ? peak : kEnvelopeKeep * previous + kEnvelopeTake * peak;
        if (i >= 1 && i > last + gap &&
            static_cast<double>(e) > static_cast<double>(previous) + kOnsetRise) {
            slices.push_back(Slice{static_cast<float>(i) / static_cast<float>(windows)});
            last = i;
        }
        previous = e;
    }
}

void setSliceEnds(SliceList& slices) {
    for (std::size_t i = 0; i < slices.size(); ++i) {
        slices[i].end = i + 1 < slices.size() ? slices[i + 1].pos : 1.0f;
        slices[i].highlightOpacity = 0.0f;
    }
}

Slice* sliceAtPos(SliceList& slices, float x, double touchBarWidth) {
    if (slices.empty()) return nullptr;
    const auto f = static_cast<float>(static_cast<double>(x) / touchBarWidth);
    // A position exactly on a start belongs to the slice before it.
    Slice* found = nullptr;
    for (Slice& s : slices) {
        if (s.pos < f) found = &s;
    }
    return found;
}

}  // namespace vornik
