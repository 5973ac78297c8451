#include "display/WaveformScan.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vornik {
namespace {

// The scalar rules; the vector loop below computes exactly the same (a NaN compares false
// everywhere, and the vector max/min keep the running value when the new one is NaN).
inline void extremes(float x, float& hi, float& lo) {
    if (x > hi) hi = x;
    if (x < lo) lo = x;
}

inline bool crosses(float previous, float x) {
    return (x >= 0.0f && previous < 0.0f) || (x <= 0.0f && previous > 0.0f);
}

template <bool kTwoChannels>
ColumnScan scan(const float* first, const float* second, std::size_t begin, std::size_t end) {
    float hi = 0.0f, lo = 0.0f;
    std::uint32_t crossings = 0;
    std::size_t i = begin;
    if (i == 0 && i < end) {  // the sample's first frame has nothing before it to cross from
        extremes(first[0], hi, lo);
        if constexpr (kTwoChannels) extremes(second[0], hi, lo);
        i = 1;
    }

#if defined(__SSE2__)
    if (i + 8 <= end) {
        const __m128 zero = _mm_setzero_ps();
        __m128 hiA = zero, hiB = zero, loA = zero, loB = zero;
        __m128i countA = _mm_setzero_si128(), countB = _mm_setzero_si128();
        auto crossMask = [zero](__m128 x, __m128 p) {
            const __m128 up = _mm_and_ps(_mm_cmpge_ps(x, zero), _mm_cmplt_ps(p, zero));
            const __m128 down = _mm_and_ps(_mm_cmple_ps(x, zero), _mm_cmpgt_ps(p, zero));
            return _mm_castps_si128(_mm_or_ps(up, down));  // -1 per crossing lane
        };
        for (; i + 8 <= end; i += 8) {
            const __m128 xa = _mm_loadu_ps(first + i);
            const __m128 xb = _mm_loadu_ps(first + i + 4);
            const __m128 pa = _mm_loadu_ps(first + i - 1);
            const __m128 pb = _mm_loadu_ps(first + i + 3);
            hiA = _mm_max_ps(xa, hiA);
            hiB = _mm_max_ps(xb, hiB);
            loA = _mm_min_ps(xa, loA);
            loB = _mm_min_ps(xb, loB);
            countA = _mm_sub_epi32(countA, crossMask(xa, pa));
            countB = _mm_sub_epi32(countB, crossMask(xb, pb));
            if constexpr (kTwoChannels) {
                const __m128 ya = _mm_loadu_ps(second + i);
                const __m128 yb = _mm_loadu_ps(second + i + 4);
                hiA = _mm_max_ps(ya, hiA);
                hiB = _mm_max_ps(yb, hiB);
                loA = _mm_min_ps(ya, loA);
                loB = _mm_min_ps(yb, loB);
            }
        }
        alignas(16) float his[8], los[8];
        alignas(16) std::uint32_t counts[8];
        _mm_store_ps(his, hiA);
        _mm_store_ps(his + 4, hiB);
        _mm_store_ps(los, loA);
        _mm_store_ps(los + 4, loB);
        _mm_store_si128(reinterpret_cast<__m128i*>(counts), countA);
        _mm_store_si128(reinterpret_cast<__m128i*>(counts + 4), countB);
        for (int k = 0; k < 8; ++k) {
            extremes(his[k], hi, lo);
            extremes(los[k], hi, lo);
            crossings += counts[k];
        }
    }
#endif

    for (; i < end; ++i) {
        extremes(first[i], hi, lo);
        if constexpr (kTwoChannels) extremes(second[i], hi, lo);
        if (crosses(first[i - 1], first[i])) ++crossings;
    }
    return ColumnScan{hi, lo, crossings};
}

}  // namespace

ColumnScan scanWaveformColumn(const float* first, const float* second, std::size_t begin,
                              std::size_t end) {
    if (begin >= end) return {};
    return second ? scan<true>(first, second, begin, end) : scan<false>(first, nullptr, begin, end);
}

}  // namespace vornik
