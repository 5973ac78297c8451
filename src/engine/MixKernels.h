#pragma once
// The mixer's inner loops: read the sample at planned positions and add it into the output.
// The mixer plans each voice's heads, crossfade weights and gains for a run of frames (the
// per-frame events happen there); these loops only read, interpolate and add, so that they can
// take several frames at once. Every path does the same single- and double-precision steps in
// the same order as the frame-by-frame read (readSample), so all give the same mix.

#include <cstdint>

#include "engine/SampleBuffer.h"

namespace vornik::mix {

// A head's positions, or a crossfade's weights, frame by frame over a run: the planned values,
// or, where `values` is null, start + k x step at frame k (planned so only where that is
// exactly the running sum the frame loop adds).
struct Track {
    const double* values;
    double start, step;
    double at(int n) const { return values ? values[n] : start + static_cast<double>(n) * step; }
};

// Where a voice reads and how loud, frame by frame, for one run.
struct Heads {
    Track pos;          // main head
    Track second;       // second head (two-head runs only)
    Track weight;       // the second head's weight, 0..1 (two-head runs only)
    const float* gain;  // amp x envelope, narrowed to float; 0 adds nothing
};

// Adds `frames` frames of one voice into both channels: one head read, or two heads
// crossfaded: (1 - w) x main in double narrowed, plus w x second in double, narrowed, in the
// scalar path; the same in single precision in the others (within 1e-6 for samples within
// +-1), so that eight frames cost little more than two one-head reads.
using MixFunction = void (*)(const SampleSnapshot& s, const Heads& h, float* left, float* right,
                             int frames);

struct Kernels {
    MixFunction oneHead;
    MixFunction twoHeads;
};

Kernels scalarKernels();
#if defined(__x86_64__) || defined(__i386__)
Kernels sse2Kernels();
Kernels avx2Kernels();             // only where the CPU has AVX2
Kernels avx512Kernels();           // only where the CPU has AVX-512F (and AVX2)
bool cpuHas(const char* feature);  // "avx2" or "avx512f"
#endif

}  // namespace vornik::mix
