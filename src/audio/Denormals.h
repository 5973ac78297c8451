#pragma once
// Flush-to-zero for the span of one audio callback: a fading feedback tail otherwise walks into
// subnormal numbers, which cost many times more per operation than normal ones.

#if defined(__SSE__) || defined(__x86_64__)
#include <xmmintrin.h>
#define VORNIK_HAS_MXCSR 1
#endif

namespace vornik {

// Sets flush-to-zero and denormals-are-zero on this thread while alive, and restores the
// caller's mode afterwards. Thread: any (it changes only the calling thread's mode).
class ScopedDenormalFlush {
public:
#ifdef VORNIK_HAS_MXCSR
    static constexpr unsigned kFlushToZero = 0x8000;       // FTZ
    static constexpr unsigned kDenormalsAreZero = 0x0040;  // DAZ

    ScopedDenormalFlush() : saved_(_mm_getcsr()) {
        _mm_setcsr(saved_ | kFlushToZero | kDenormalsAreZero);
    }
    ~ScopedDenormalFlush() { _mm_setcsr(saved_); }

private:
    unsigned saved_;
#elif defined(__aarch64__)
    ScopedDenormalFlush() {
        __asm__ volatile("mrs %0, fpcr" : "=r"(saved_));
        const unsigned long flushed = saved_ | (1ul << 24);  // FZ
        __asm__ volatile("msr fpcr, %0" : : "r"(flushed));
    }
    ~ScopedDenormalFlush() { __asm__ volatile("msr fpcr, %0" : : "r"(saved_)); }

private:
    unsigned long saved_;
#else
    ScopedDenormalFlush() = default;
#endif

public:
    ScopedDenormalFlush(const ScopedDenormalFlush&) = delete;
    ScopedDenormalFlush& operator=(const ScopedDenormalFlush&) = delete;
};

}  // namespace vornik
