#include "display/Composite.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace vornik {
namespace {

// pixman's x * y / 255 for bytes.
inline std::uint32_t mulUn8(std::uint32_t x, std::uint32_t y) {
    const std::uint32_t t = x * y + 0x80;
    return (t + (t >> 8)) >> 8;
}

inline std::uint32_t overPixel(std::uint32_t s, std::uint32_t d) {
    const std::uint32_t inverse = 255 - (s >> 24);
    std::uint32_t out = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        const std::uint32_t c = ((s >> shift) & 0xff) + mulUn8((d >> shift) & 0xff, inverse);
        out |= (c > 255 ? 255 : c) << shift;
    }
    return out;
}

void overRowScalar(const std::uint32_t* s, std::uint32_t* d, int n) {
    for (int i = 0; i < n; ++i) {
        if (s[i] != 0) d[i] = overPixel(s[i], d[i]);
    }
}

#if defined(__x86_64__)
// mulUn8 on sixteen 16-bit lanes.
__attribute__((target("avx2"))) inline __m256i mulUn8x16(__m256i x, __m256i y, __m256i half) {
    const __m256i t = _mm256_add_epi16(_mm256_mullo_epi16(x, y), half);
    return _mm256_srli_epi16(_mm256_add_epi16(t, _mm256_srli_epi16(t, 8)), 8);
}

// Eight pixels at a time: bytes widened to 16 bits, each pixel's alpha spread over its channels.
__attribute__((target("avx2"))) void overRowAvx2(const std::uint32_t* s, std::uint32_t* d, int n) {
    const __m256i alphaSpread =
        _mm256_setr_epi8(3, 3, 3, 3, 7, 7, 7, 7, 11, 11, 11, 11, 15, 15, 15, 15, 3, 3, 3, 3, 7, 7,
                         7, 7, 11, 11, 11, 11, 15, 15, 15, 15);
    const __m256i all = _mm256_set1_epi8(-1);
    const __m256i half = _mm256_set1_epi16(0x80);
    const __m256i zero = _mm256_setzero_si256();
    int i = 0;
    for (; i + 8 <= n; i += 8) {
        const __m256i src = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + i));
        if (_mm256_testz_si256(src, src)) continue;  // nothing to put down
        const __m256i dst = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(d + i));
        const __m256i inverse = _mm256_xor_si256(_mm256_shuffle_epi8(src, alphaSpread), all);
        const __m256i lo =
            mulUn8x16(_mm256_unpacklo_epi8(dst, zero), _mm256_unpacklo_epi8(inverse, zero), half);
        const __m256i hi =
            mulUn8x16(_mm256_unpackhi_epi8(dst, zero), _mm256_unpackhi_epi8(inverse, zero), half);
        const __m256i out = _mm256_adds_epu8(src, _mm256_packus_epi16(lo, hi));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + i), out);
    }
    overRowScalar(s + i, d + i, n - i);
}

bool hasAvx2() {
    static const bool avx2 = __builtin_cpu_supports("avx2");
    return avx2;
}
#endif

}  // namespace

bool compositeOverIsFast() {
#if defined(__x86_64__)
    return hasAvx2();
#else
    return false;
#endif
}

void compositeOver(const std::uint32_t* const* srcRows, int srcX, std::uint32_t* dst, int dstStride,
                   int width, int height) {
    if (width <= 0) return;
    for (int y = 0; y < height; ++y) {
        const std::uint32_t* s = srcRows[y] + srcX;
        std::uint32_t* d = dst + static_cast<std::ptrdiff_t>(y) * dstStride;
#if defined(__x86_64__)
        if (hasAvx2()) {
            overRowAvx2(s, d, width);
            continue;
        }
#endif
        overRowScalar(s, d, width);
    }
}

}  // namespace vornik
