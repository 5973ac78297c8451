#include "engine/MixKernels.h"

#include <string_view>

#include "engine/Mixer.h"

#if defined(__x86_64__)
#if !defined(__clang__)
// GCC 12 takes the undefined upper halves inside its own AVX-512 conversion intrinsics for
// uninitialised values.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>
// Functions of the AVX2 path only; chosen at run time where the CPU has it. No FMA: every
// product is rounded before its sum, as in the scalar code.
#define VORNIK_AVX2 __attribute__((target("avx2")))
#define VORNIK_AVX512 __attribute__((target("avx2,avx512f")))
#endif

namespace vornik {
namespace {

// The sample's index and fraction at a position. Truncation is toward zero: a position in
// (-1, 0) reads frame 0. One of -1 or below, one past any 32-bit index, and NaN land beyond the
// buffer and read its last frame. `edge` is set where no interpolation happens.
struct ReadPoint {
    std::uint32_t index;
    float t;
    bool edge;
};

inline ReadPoint locate(double position, std::uint32_t capacity) {
    std::uint32_t i = UINT32_MAX;
    if (position > -1.0 && position < 4294967296.0) i = static_cast<std::uint32_t>(position);
    if (i < 2 || std::uint64_t{i} + 2 >= capacity) {
        return {i > capacity - 1 ? capacity - 1 : i, 0.0f, true};
    }
    return {i, static_cast<float>(position - static_cast<double>(i)), false};
}

// 4-point, third-order Hermite (Catmull-Rom) around y[0], single precision.
inline float hermite(const float* y, float t) {
    const float ym1 = y[-1], y0 = y[0], y1 = y[1], y2 = y[2];
    const float c1 = 0.5f * (y1 - ym1);
    const float w = (y0 - y1) + c1;
    const float a = w + (y0 - y1) + 0.5f * (y2 - y0);
    const float b = w + a;
    return ((a * t - b) * t + c1) * t + y0;
}

inline float readAt(const float* plane, const ReadPoint& p) {
    return p.edge ? plane[p.index] : hermite(plane + p.index, p.t);
}

// (1 - w) x main in double, narrowed; plus w x second in double, narrowed.
inline float crossfade(float main, float second, double weight) {
    const float first = static_cast<float>((1.0 - weight) * static_cast<double>(main));
    return static_cast<float>(static_cast<double>(first) + weight * static_cast<double>(second));
}

// One frame of one voice, frame by frame: the scalar path, and every other path's fallback
// near the buffer's edges.
inline void mixOneFrame(const SampleSnapshot& s, const mix::Heads& h, float* left, float* right,
                        int n) {
    const float g = h.gain[n];
    if (g == 0.0f) return;
    const ReadPoint p = locate(h.pos.at(n), s.capacity);
    left[n] += readAt(s.left, p) * g;
    right[n] += readAt(s.right, p) * g;
}

inline void mixTwoFrame(const SampleSnapshot& s, const mix::Heads& h, float* left, float* right,
                        int n) {
    const float g = h.gain[n];
    if (g == 0.0f) return;
    const ReadPoint p = locate(h.pos.at(n), s.capacity);
    const ReadPoint q = locate(h.second.at(n), s.capacity);
    const double w = h.weight.at(n);
    left[n] += crossfade(readAt(s.left, p), readAt(s.left, q), w) * g;
    right[n] += crossfade(readAt(s.right, p), readAt(s.right, q), w) * g;
}

void scalarOne(const SampleSnapshot& s, const mix::Heads& h, float* left, float* right,
               int frames) {
    for (int n = 0; n < frames; ++n) mixOneFrame(s, h, left, right, n);
}

void scalarTwo(const SampleSnapshot& s, const mix::Heads& h, float* left, float* right,
               int frames) {
    for (int n = 0; n < frames; ++n) mixTwoFrame(s, h, left, right, n);
}

#if defined(__x86_64__)

// Positions whose read interpolates and whose index fits 32 signed bits: 2 <= p < min(cap - 2,
// 2^31). NaN fails both tests.
inline double upperInterior(const SampleSnapshot& s) {
    const double top = static_cast<double>(s.capacity) - 2.0;
    return top < 2147483648.0 ? top : 2147483648.0;
}

// ---- SSE2: four frames of one voice in the lanes.

inline __m128 hermite4(__m128 ym1, __m128 y0, __m128 y1, __m128 y2, __m128 t) {
    const __m128 half = _mm_set1_ps(0.5f);
    const __m128 c1 = _mm_mul_ps(half, _mm_sub_ps(y1, ym1));
    const __m128 d = _mm_sub_ps(y0, y1);
    const __m128 w = _mm_add_ps(d, c1);
    const __m128 a = _mm_add_ps(_mm_add_ps(w, d), _mm_mul_ps(half, _mm_sub_ps(y2, y0)));
    const __m128 b = _mm_add_ps(w, a);
    __m128 r = _mm_sub_ps(_mm_mul_ps(a, t), b);
    r = _mm_add_ps(_mm_mul_ps(r, t), c1);
    return _mm_add_ps(_mm_mul_ps(r, t), y0);
}

struct Frames4 {
    alignas(16) std::int32_t index[4];
    __m128 t;
};

// Frames n to n + 3 of a track, two in each register.
inline void load4(const mix::Track& t, int n, __m128d& a, __m128d& b) {
    if (t.values) {
        a = _mm_loadu_pd(t.values + n);
        b = _mm_loadu_pd(t.values + n + 2);
        return;
    }
    const __m128d k = _mm_add_pd(_mm_set1_pd(n), _mm_setr_pd(0.0, 1.0));
    const __m128d step = _mm_set1_pd(t.step), start = _mm_set1_pd(t.start);
    a = _mm_add_pd(start, _mm_mul_pd(k, step));
    b = _mm_add_pd(start, _mm_mul_pd(_mm_add_pd(k, _mm_set1_pd(2.0)), step));
}

// False when any of the four frames is not interior (the caller reads those frame by frame).
inline bool locate4(const mix::Track& pos, int n, __m128d lo, __m128d hi, Frames4& f) {
    __m128d p0, p1;
    load4(pos, n, p0, p1);
    const __m128d in0 = _mm_and_pd(_mm_cmpge_pd(p0, lo), _mm_cmplt_pd(p0, hi));
    const __m128d in1 = _mm_and_pd(_mm_cmpge_pd(p1, lo), _mm_cmplt_pd(p1, hi));
    if (_mm_movemask_pd(_mm_and_pd(in0, in1)) != 3) return false;
    const __m128i i0 = _mm_cvttpd_epi32(p0), i1 = _mm_cvttpd_epi32(p1);
    _mm_store_si128(reinterpret_cast<__m128i*>(f.index), _mm_unpacklo_epi64(i0, i1));
    const __m128 t0 = _mm_cvtpd_ps(_mm_sub_pd(p0, _mm_cvtepi32_pd(i0)));
    const __m128 t1 = _mm_cvtpd_ps(_mm_sub_pd(p1, _mm_cvtepi32_pd(i1)));
    f.t = _mm_movelh_ps(t0, t1);
    return true;
}

inline __m128 read4(const float* plane, const Frames4& f) {
    __m128 r0 = _mm_loadu_ps(plane + f.index[0] - 1);
    __m128 r1 = _mm_loadu_ps(plane + f.index[1] - 1);
    __m128 r2 = _mm_loadu_ps(plane + f.index[2] - 1);
    __m128 r3 = _mm_loadu_ps(plane + f.index[3] - 1);
    _MM_TRANSPOSE4_PS(r0, r1, r2, r3);  // r0 = y[-1] of the four frames, r1 = y[0], ...
    return hermite4(r0, r1, r2, r3, f.t);
}

// (1 - w) x main + w x second in single precision, as crossfade8 below.
inline __m128 crossfade4(__m128 main, __m128 second, const mix::Track& w, int n) {
    __m128d w0, w1;
    load4(w, n, w0, w1);
    const __m128 ws = _mm_movelh_ps(_mm_cvtpd_ps(w0), _mm_cvtpd_ps(w1));
    const __m128 wm = _mm_sub_ps(_mm_set1_ps(1.0f), ws);
    return _mm_add_ps(_mm_mul_ps(wm, main), _mm_mul_ps(ws, second));
}

inline void add4(float* out, __m128 x, __m128 g, __m128 live) {
    _mm_storeu_ps(out, _mm_add_ps(_mm_loadu_ps(out), _mm_and_ps(_mm_mul_ps(x, g), live)));
}

void sse2One(const SampleSnapshot& s, const mix::Heads& h, float* left, float* right, int frames) {
    const __m128d lo = _mm_set1_pd(2.0), hi = _mm_set1_pd(upperInterior(s));
    const bool mono = s.left == s.right;
    int n = 0;
    for (; n + 4 <= frames; n += 4) {
        const __m128 g = _mm_loadu_ps(h.gain + n);
        const __m128 live = _mm_cmpneq_ps(g, _mm_setzero_ps());
        if (_mm_movemask_ps(live) == 0) continue;
        Frames4 f;
        if (!locate4(h.pos, n, lo, hi, f)) {
            for (int k = n; k < n + 4; ++k) mixOneFrame(s, h, left, right, k);
            continue;
        }
        const __m128 l = read4(s.left, f);
        add4(left + n, l, g, live);
        add4(right + n, mono ? l : read4(s.right, f), g, live);
    }
    for (; n < frames; ++n) mixOneFrame(s, h, left, right, n);
}

void sse2Two(const SampleSnapshot& s, const mix::Heads& h, float* left, float* right, int frames) {
    const __m128d lo = _mm_set1_pd(2.0), hi = _mm_set1_pd(upperInterior(s));
    const bool mono = s.left == s.right;
    int n = 0;
    for (; n + 4 <= frames; n += 4) {
        const __m128 g = _mm_loadu_ps(h.gain + n);
        const __m128 live = _mm_cmpneq_ps(g, _mm_setzero_ps());
        if (_mm_movemask_ps(live) == 0) continue;
        Frames4 f, b;
        if (!locate4(h.pos, n, lo, hi, f) || !locate4(h.second, n, lo, hi, b)) {
            for (int k = n; k < n + 4; ++k) mixTwoFrame(s, h, left, right, k);
            continue;
        }
        const __m128 l = crossfade4(read4(s.left, f), read4(s.left, b), h.weight, n);
        add4(left + n, l, g, live);
        const __m128 r = mono ? l : crossfade4(read4(s.right, f), read4(s.right, b), h.weight, n);
        add4(right + n, r, g, live);
    }
    for (; n < frames; ++n) mixTwoFrame(s, h, left, right, n);
}

// ---- AVX2: eight frames of one voice in the lanes (frames 0-3 low, 4-7 high).

VORNIK_AVX2 inline __m256 hermite8(__m256 ym1, __m256 y0, __m256 y1, __m256 y2, __m256 t) {
    const __m256 half = _mm256_set1_ps(0.5f);
    const __m256 c1 = _mm256_mul_ps(half, _mm256_sub_ps(y1, ym1));
    const __m256 d = _mm256_sub_ps(y0, y1);
    const __m256 w = _mm256_add_ps(d, c1);
    const __m256 a = _mm256_add_ps(_mm256_add_ps(w, d), _mm256_mul_ps(half, _mm256_sub_ps(y2, y0)));
    const __m256 b = _mm256_add_ps(w, a);
    __m256 r = _mm256_sub_ps(_mm256_mul_ps(a, t), b);
    r = _mm256_add_ps(_mm256_mul_ps(r, t), c1);
    return _mm256_add_ps(_mm256_mul_ps(r, t), y0);
}

struct Frames8 {
    alignas(32) std::int32_t index[8];
    __m256 t;
    // The indexes are read back from memory one by one: cheaper than extracting each lane.
    std::int32_t at(int k) const { return static_cast<const volatile std::int32_t*>(index)[k]; }
};

// Index and fraction of eight positions, or false when any of them is not interior: its index
// is below 2 or above cap - 3 (NaN and positions past 32-bit indexes convert to INT32_MIN).
// A track read eight frames at a time from frame n on: the planned values, or start + k x step
// moved on by 8 x step (exact as the formula: every value is a multiple of the binade's ulp).
struct Cursor8 {
    const double* values;
    __m256d a, b, step8;
};

VORNIK_AVX2 inline Cursor8 cursor8(const mix::Track& t, int n) {
    if (t.values)
        return {t.values + n, _mm256_setzero_pd(), _mm256_setzero_pd(), _mm256_setzero_pd()};
    const __m256d k = _mm256_add_pd(_mm256_set1_pd(n), _mm256_setr_pd(0.0, 1.0, 2.0, 3.0));
    const __m256d step = _mm256_set1_pd(t.step), start = _mm256_set1_pd(t.start);
    return {nullptr, _mm256_add_pd(start, _mm256_mul_pd(k, step)),
            _mm256_add_pd(start, _mm256_mul_pd(_mm256_add_pd(k, _mm256_set1_pd(4.0)), step)),
            _mm256_mul_pd(_mm256_set1_pd(8.0), step)};
}

VORNIK_AVX2 inline void next8(Cursor8& c, __m256d& a, __m256d& b) {
    if (c.values) {
        a = _mm256_loadu_pd(c.values);
        b = _mm256_loadu_pd(c.values + 4);
        c.values += 8;
        return;
    }
    a = c.a;
    b = c.b;
    c.a = _mm256_add_pd(c.a, c.step8);
    c.b = _mm256_add_pd(c.b, c.step8);
}

VORNIK_AVX2 inline bool locate8(Cursor8& pos, __m256i lastIndex, Frames8& f) {
    __m256d p0, p1;
    next8(pos, p0, p1);
    const __m128i i0 = _mm256_cvttpd_epi32(p0), i1 = _mm256_cvttpd_epi32(p1);
    const __m256i i = _mm256_set_m128i(i1, i0);
    const __m256i outside = _mm256_or_si256(_mm256_cmpgt_epi32(_mm256_set1_epi32(2), i),
                                            _mm256_cmpgt_epi32(i, lastIndex));
    if (!_mm256_testz_si256(outside, outside)) return false;
    _mm256_store_si256(reinterpret_cast<__m256i*>(f.index), i);
    const __m128 t0 = _mm256_cvtpd_ps(_mm256_sub_pd(p0, _mm256_cvtepi32_pd(i0)));
    const __m128 t1 = _mm256_cvtpd_ps(_mm256_sub_pd(p1, _mm256_cvtepi32_pd(i1)));
    f.t = _mm256_set_m128(t1, t0);
    return true;
}

// Asks for the cache lines the eight frames read on both planes (their first and last rows),
// so that every group's reads are on their way before the first is mixed.
inline void prefetchRows(const SampleSnapshot& s, std::int32_t first, std::int32_t last) {
    for (const float* plane : {s.left, s.right}) {
        _mm_prefetch(reinterpret_cast<const char*>(plane + first - 1), _MM_HINT_T0);
        _mm_prefetch(reinterpret_cast<const char*>(plane + last + 2), _MM_HINT_T0);
    }
}

VORNIK_AVX2 inline __m256 rows(const float* plane, std::int32_t a, std::int32_t b) {
    return _mm256_insertf128_ps(_mm256_castps128_ps256(_mm_loadu_ps(plane + a - 1)),
                                _mm_loadu_ps(plane + b - 1), 1);
}

VORNIK_AVX2 inline __m256 read8(const float* plane, const Frames8& f) {
    const __m256 r0 = rows(plane, f.at(0), f.at(4));
    const __m256 r1 = rows(plane, f.at(1), f.at(5));
    const __m256 r2 = rows(plane, f.at(2), f.at(6));
    const __m256 r3 = rows(plane, f.at(3), f.at(7));
    const __m256 t0 = _mm256_unpacklo_ps(r0, r1), t1 = _mm256_unpackhi_ps(r0, r1);
    const __m256 t2 = _mm256_unpacklo_ps(r2, r3), t3 = _mm256_unpackhi_ps(r2, r3);
    return hermite8(_mm256_shuffle_ps(t0, t2, 0x44), _mm256_shuffle_ps(t0, t2, 0xEE),
                    _mm256_shuffle_ps(t1, t3, 0x44), _mm256_shuffle_ps(t1, t3, 0xEE), f.t);
}

// The two heads' weights of eight frames in single precision: 1 - w and w.
struct Weights8 {
    __m256 main, second;
};

VORNIK_AVX2 inline Weights8 weights8(Cursor8& w) {
    __m256d w0, w1;
    next8(w, w0, w1);
    const __m256 second = _mm256_set_m128(_mm256_cvtpd_ps(w1), _mm256_cvtpd_ps(w0));
    return {_mm256_sub_ps(_mm256_set1_ps(1.0f), second), second};
}

// (1 - w) x main + w x second in single precision: within a few units in the last place of the
// double-precision crossfade, and exactly either head at the ends.
VORNIK_AVX2 inline __m256 crossfade8(__m256 main, __m256 second, const Weights8& w) {
    return _mm256_add_ps(_mm256_mul_ps(w.main, main), _mm256_mul_ps(w.second, second));
}

// out += x * g where g is not 0 (x may be NaN or infinite there; nothing is added).
VORNIK_AVX2 inline void add8(float* out, __m256 x, __m256 g, __m256 live, bool allLive) {
    __m256 y = _mm256_mul_ps(x, g);
    if (!allLive) y = _mm256_and_ps(y, live);
    _mm256_storeu_ps(out, _mm256_add_ps(_mm256_loadu_ps(out), y));
}

// The largest interior index: cap - 3, at most INT32_MAX.
inline std::int32_t lastInterior(const SampleSnapshot& s) {
    const std::int64_t last = std::int64_t{s.capacity} - 3;
    return static_cast<std::int32_t>(last < INT32_MAX ? last : INT32_MAX);
}

VORNIK_AVX2 void avx2One(const SampleSnapshot& s, const mix::Heads& h, float* left, float* right,
                         int frames) {
    const __m256i last = _mm256_set1_epi32(lastInterior(s));
    const float *planeL = s.left, *planeR = s.right, *gain = h.gain;
    // First every group's indexes and fractions, then the reads: the conversions' latency is
    // then out of the way of the reads.
    Frames8 f[Mixer::kRunFrames / 8];
    bool inside[Mixer::kRunFrames / 8];
    int groups = 0;
    Cursor8 pos = cursor8(h.pos, 0);
    for (int n = 0; n + 8 <= frames; n += 8, ++groups) {
        inside[groups] = locate8(pos, last, f[groups]);
        if (inside[groups]) prefetchRows(s, f[groups].index[0], f[groups].index[7]);
    }
    int n = 0;
    for (int k = 0; k < groups; ++k, n += 8) {
        const __m256 g = _mm256_loadu_ps(gain + n);
        const __m256 live = _mm256_cmp_ps(g, _mm256_setzero_ps(), _CMP_NEQ_UQ);
        const int lanes = _mm256_movemask_ps(live);
        if (lanes == 0) continue;
        if (!inside[k]) {
            for (int j = n; j < n + 8; ++j) mixOneFrame(s, h, left, right, j);
            continue;
        }
        const __m256 l = read8(planeL, f[k]);
        add8(left + n, l, g, live, lanes == 0xFF);
        add8(right + n, planeR == planeL ? l : read8(planeR, f[k]), g, live, lanes == 0xFF);
    }
    for (; n < frames; ++n) mixOneFrame(s, h, left, right, n);
}

VORNIK_AVX2 void avx2Two(const SampleSnapshot& s, const mix::Heads& h, float* left, float* right,
                         int frames) {
    const __m256i last = _mm256_set1_epi32(lastInterior(s));
    const float *planeL = s.left, *planeR = s.right, *gain = h.gain;
    Frames8 f[Mixer::kRunFrames / 8], b[Mixer::kRunFrames / 8];
    bool inside[Mixer::kRunFrames / 8];
    int groups = 0;
    Cursor8 pos = cursor8(h.pos, 0), second = cursor8(h.second, 0);
    for (int n = 0; n + 8 <= frames; n += 8, ++groups) {
        const bool main = locate8(pos, last, f[groups]);
        inside[groups] = locate8(second, last, b[groups]) && main;
        if (inside[groups]) {
            prefetchRows(s, f[groups].index[0], f[groups].index[7]);
            prefetchRows(s, b[groups].index[0], b[groups].index[7]);
        }
    }
    Cursor8 weight = cursor8(h.weight, 0);
    int n = 0;
    for (int k = 0; k < groups; ++k, n += 8) {
        const __m256 g = _mm256_loadu_ps(gain + n);
        const __m256 live = _mm256_cmp_ps(g, _mm256_setzero_ps(), _CMP_NEQ_UQ);
        const int lanes = _mm256_movemask_ps(live);
        const Weights8 w = weights8(weight);
        if (lanes == 0) continue;
        if (!inside[k]) {
            for (int j = n; j < n + 8; ++j) mixTwoFrame(s, h, left, right, j);
            continue;
        }
        const __m256 l = crossfade8(read8(planeL, f[k]), read8(planeL, b[k]), w);
        add8(left + n, l, g, live, lanes == 0xFF);
        const __m256 r =
            planeR == planeL ? l : crossfade8(read8(planeR, f[k]), read8(planeR, b[k]), w);
        add8(right + n, r, g, live, lanes == 0xFF);
    }
    for (; n < frames; ++n) mixTwoFrame(s, h, left, right, n);
}

// ---- AVX-512: sixteen frames of one voice in the lanes. Their taps come out of a window of 32
// frames of the plane by two-register permutes, where the sixteen frames' indexes lie within
// 28 of each other (rates up to about 1.8); other groups go through the AVX2 code.

// A track from frame n on: the same values (exact for the formula too).
inline mix::Track shifted(const mix::Track& t, int n) {
    return t.values ? mix::Track{t.values + n, 0.0, 0.0}
                    : mix::Track{nullptr, t.start + static_cast<double>(n) * t.step, t.step};
}

inline mix::Heads shifted(const mix::Heads& h, int n) {
    return {shifted(h.pos, n), shifted(h.second, n), shifted(h.weight, n), h.gain + n};
}

struct Cursor16 {
    const double* values;
    __m512d a, b, step16;
};

VORNIK_AVX512 inline Cursor16 cursor16(const mix::Track& t) {
    if (t.values) return {t.values, _mm512_setzero_pd(), _mm512_setzero_pd(), _mm512_setzero_pd()};
    const __m512d k = _mm512_setr_pd(0.0, 1.0, 2.0, 3.0, 4.0, 5.0, 6.0, 7.0);
    const __m512d step = _mm512_set1_pd(t.step), start = _mm512_set1_pd(t.start);
    return {nullptr, _mm512_add_pd(start, _mm512_mul_pd(k, step)),
            _mm512_add_pd(start, _mm512_mul_pd(_mm512_add_pd(k, _mm512_set1_pd(8.0)), step)),
            _mm512_mul_pd(_mm512_set1_pd(16.0), step)};
}

VORNIK_AVX512 inline void next16(Cursor16& c, __m512d& a, __m512d& b) {
    if (c.values) {
        a = _mm512_loadu_pd(c.values);
        b = _mm512_loadu_pd(c.values + 8);
        c.values += 16;
        return;
    }
    a = c.a;
    b = c.b;
    c.a = _mm512_add_pd(c.a, c.step16);
    c.b = _mm512_add_pd(c.b, c.step16);
}

VORNIK_AVX512 inline __m512 join(__m256 lo, __m256 hi) {
    return _mm512_castpd_ps(
        _mm512_insertf64x4(_mm512_castps_pd(_mm512_castps256_ps512(lo)), _mm256_castps_pd(hi), 1));
}

struct Window16 {
    __m512i offset;  // each frame's index less `base`, 0..28
    __m512 t;
    std::int32_t base;  // the lowest index; the window starts one frame before it
};

// False when the sixteen frames do not all interpolate from one window inside the buffer.
VORNIK_AVX512 inline bool locate16(Cursor16& pos, std::int32_t lastBase, Window16& w) {
    __m512d p0, p1;
    next16(pos, p0, p1);
    const __m256i i0 = _mm512_cvttpd_epi32(p0), i1 = _mm512_cvttpd_epi32(p1);
    const __m512i i = _mm512_inserti64x4(_mm512_castsi256_si512(i0), i1, 1);
    const std::int32_t first = _mm256_extract_epi32(i0, 0), last = _mm256_extract_epi32(i1, 7);
    w.base = first < last ? first : last;
    // Interior, and the window [base - 1, base + 30] inside the buffer: 2 <= base <= cap - 31.
    if (w.base < 2 || w.base > lastBase) return false;
    w.offset = _mm512_sub_epi32(i, _mm512_set1_epi32(w.base));
    if (_mm512_cmpgt_epu32_mask(w.offset, _mm512_set1_epi32(28)) != 0) return false;
    w.t = join(_mm512_cvtpd_ps(_mm512_sub_pd(p0, _mm512_cvtepi32_pd(i0))),
               _mm512_cvtpd_ps(_mm512_sub_pd(p1, _mm512_cvtepi32_pd(i1))));
    return true;
}

VORNIK_AVX512 inline __m512 read16(const float* plane, const Window16& w) {
    const float* from = plane + w.base - 1;
    const __m512 lo = _mm512_loadu_ps(from), hi = _mm512_loadu_ps(from + 16);
    const __m512i one = _mm512_set1_epi32(1);
    const __m512i o1 = _mm512_add_epi32(w.offset, one), o2 = _mm512_add_epi32(o1, one);
    const __m512 ym1 = _mm512_permutex2var_ps(lo, w.offset, hi);
    const __m512 y0 = _mm512_permutex2var_ps(lo, o1, hi);
    const __m512 y1 = _mm512_permutex2var_ps(lo, o2, hi);
    const __m512 y2 = _mm512_permutex2var_ps(lo, _mm512_add_epi32(o2, one), hi);
    const __m512 half = _mm512_set1_ps(0.5f);
    const __m512 c1 = _mm512_mul_ps(half, _mm512_sub_ps(y1, ym1));
    const __m512 d = _mm512_sub_ps(y0, y1);
    const __m512 wv = _mm512_add_ps(d, c1);
    const __m512 a =
        _mm512_add_ps(_mm512_add_ps(wv, d), _mm512_mul_ps(half, _mm512_sub_ps(y2, y0)));
    const __m512 b = _mm512_add_ps(wv, a);
    __m512 r = _mm512_sub_ps(_mm512_mul_ps(a, w.t), b);
    r = _mm512_add_ps(_mm512_mul_ps(r, w.t), c1);
    return _mm512_add_ps(_mm512_mul_ps(r, w.t), y0);
}

// out += x * g where g is not 0.
VORNIK_AVX512 inline void add16(float* out, __m512 x, __m512 g, __mmask16 live) {
    const __m512 y = _mm512_maskz_mul_ps(live, x, g);
    _mm512_storeu_ps(out, _mm512_add_ps(_mm512_loadu_ps(out), y));
}

// Asks for the window's cache lines on both planes, so that every group's reads are on their way
// before the first is mixed.
inline void prefetchWindow(const SampleSnapshot& s, const Window16& w) {
    for (const float* plane : {s.left, s.right}) {
        const float* from = plane + w.base - 1;
        _mm_prefetch(reinterpret_cast<const char*>(from), _MM_HINT_T0);
        _mm_prefetch(reinterpret_cast<const char*>(from + 16), _MM_HINT_T0);
        _mm_prefetch(reinterpret_cast<const char*>(from + 31), _MM_HINT_T0);
    }
}

// The highest window base whose 32 frames end inside the buffer: cap - 31, at most INT32_MAX.
inline std::int32_t lastWindowBase(const SampleSnapshot& s) {
    const std::int64_t last = std::int64_t{s.capacity} - 31;
    return static_cast<std::int32_t>(last < INT32_MAX ? last : INT32_MAX);
}

VORNIK_AVX512 void avx512One(const SampleSnapshot& s, const mix::Heads& h, float* left,
                             float* right, int frames) {
    const std::int32_t lastBase = lastWindowBase(s);
    Window16 w[Mixer::kRunFrames / 16];
    bool inside[Mixer::kRunFrames / 16];
    int groups = 0;
    Cursor16 pos = cursor16(h.pos);
    for (int n = 0; n + 16 <= frames; n += 16, ++groups) {
        inside[groups] = locate16(pos, lastBase, w[groups]);
        if (inside[groups]) prefetchWindow(s, w[groups]);
    }
    int n = 0;
    for (int k = 0; k < groups; ++k, n += 16) {
        const __m512 g = _mm512_loadu_ps(h.gain + n);
        const __mmask16 live = _mm512_cmp_ps_mask(g, _mm512_setzero_ps(), _CMP_NEQ_UQ);
        if (live == 0) continue;
        if (!inside[k]) {
            avx2One(s, shifted(h, n), left + n, right + n, 16);
            continue;
        }
        const __m512 l = read16(s.left, w[k]);
        add16(left + n, l, g, live);
        add16(right + n, s.right == s.left ? l : read16(s.right, w[k]), g, live);
    }
    if (n < frames) avx2One(s, shifted(h, n), left + n, right + n, frames - n);
}

VORNIK_AVX512 void avx512Two(const SampleSnapshot& s, const mix::Heads& h, float* left,
                             float* right, int frames) {
    const std::int32_t lastBase = lastWindowBase(s);
    Window16 w[Mixer::kRunFrames / 16], v[Mixer::kRunFrames / 16];
    bool inside[Mixer::kRunFrames / 16];
    int groups = 0;
    Cursor16 pos = cursor16(h.pos), second = cursor16(h.second);
    for (int n = 0; n + 16 <= frames; n += 16, ++groups) {
        const bool main = locate16(pos, lastBase, w[groups]);
        inside[groups] = locate16(second, lastBase, v[groups]) && main;
        if (inside[groups]) prefetchWindow(s, w[groups]), prefetchWindow(s, v[groups]);
    }
    Cursor16 weight = cursor16(h.weight);
    int n = 0;
    for (int k = 0; k < groups; ++k, n += 16) {
        __m512d w0, w1;
        next16(weight, w0, w1);
        const __m512 g = _mm512_loadu_ps(h.gain + n);
        const __mmask16 live = _mm512_cmp_ps_mask(g, _mm512_setzero_ps(), _CMP_NEQ_UQ);
        if (live == 0) continue;
        if (!inside[k]) {
            avx2Two(s, shifted(h, n), left + n, right + n, 16);
            continue;
        }
        // (1 - w) x main + w x second in single precision, as crossfade8.
        const __m512 ws = join(_mm512_cvtpd_ps(w0), _mm512_cvtpd_ps(w1));
        const __m512 wm = _mm512_sub_ps(_mm512_set1_ps(1.0f), ws);
        const __m512 l = _mm512_add_ps(_mm512_mul_ps(wm, read16(s.left, w[k])),
                                       _mm512_mul_ps(ws, read16(s.left, v[k])));
        add16(left + n, l, g, live);
        if (s.right != s.left) {
            add16(right + n,
                  _mm512_add_ps(_mm512_mul_ps(wm, read16(s.right, w[k])),
                                _mm512_mul_ps(ws, read16(s.right, v[k]))),
                  g, live);
        } else {
            add16(right + n, l, g, live);
        }
    }
    if (n < frames) avx2Two(s, shifted(h, n), left + n, right + n, frames - n);
}

#endif

}  // namespace

float readSample(const float* plane, double position, std::uint32_t capacity) {
    return readAt(plane, locate(position, capacity));
}

namespace mix {

Kernels scalarKernels() { return {scalarOne, scalarTwo}; }

#if defined(__x86_64__)
Kernels sse2Kernels() { return {sse2One, sse2Two}; }
Kernels avx2Kernels() { return {avx2One, avx2Two}; }
Kernels avx512Kernels() { return {avx512One, avx512Two}; }
bool cpuHas(const char* feature) {
    __builtin_cpu_init();
    if (std::string_view(feature) == "avx512f") return __builtin_cpu_supports("avx512f");
    return __builtin_cpu_supports("avx2");
}
#endif

}  // namespace mix
}  // namespace vornik
