// Inside src/stack: what the registration's two files and the warp share: the two builds of
// their loops and the registration's window constants.
#pragma once

#include <cstring>

// A loop written once as name##Body (always inlined) is built twice: name##Plain for any
// processor, the reference, and name##Avx2, the same code vectorised for AVX2. The caller
// chooses per call (Avx2Loops), so the plain loops can be forced at run time. Integer loops give
// the same bytes in both. Float loops stay without AVX-512, in which GCC fuses complex
// multiply-adds even with contraction off: both builds then round alike.
// TARNWICK_X86_VECTORS: 1 where the x86 intrinsics may be used (loops written with them).
#if defined(__x86_64__) && defined(__GNUC__)
#define TARNWICK_X86_VECTORS 1
#define TARNWICK_AVX2_TARGET __attribute__((target("avx2")))
#else
#define TARNWICK_X86_VECTORS 0
#define TARNWICK_AVX2_TARGET
#endif
#define TARNWICK_TWO_BUILDS(name)                        \
    template <class... Args>                             \
    void name##Plain(Args... args) {                     \
        name##Body(args...);                             \
    }                                                    \
    template <class... Args>                             \
    TARNWICK_AVX2_TARGET void name##Avx2(Args... args) { \
        name##Body(args...);                             \
    }

namespace registration_detail {

// True when the AVX2 builds may run: `bVectors` and the processor has AVX2.
bool Avx2Loops(bool bVectors);

// The largest window side.
inline constexpr int kMaxWindow = 256;
// Grid points of the refinement: ±1 pixel in 1/8 steps, then ±1/8 in 1/64 steps.
inline constexpr int kCoarseSteps = 8;
inline constexpr int kFineSteps = 8;

// Signed frequency of DFT index k out of n.
inline int Frequency(int k, int n) {
    return k < n / 2 ? k : k - n;
}

// Four floats or two doubles, added lane by lane: sums split over lanes that meet in double at
// the end, written out so that they vectorise without reordering any one lane's sum.
using Float4 = float __attribute__((vector_size(16)));
using Double2 = double __attribute__((vector_size(16)));

inline Float4 Load4(const float* p) {
    Float4 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline Double2 Load2(const double* p) {
    Double2 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline double LaneSum(const Float4* lanes, int count) {
    double total = 0;
    for (int k = 0; k < count; ++k)
        for (int j = 0; j < 4; ++j) total += lanes[k][j];
    return total;
}

}  // namespace registration_detail
