// Inside src/stack: what the registration's two files and the warp share: the clone
// attributes of their loops and the registration's window constants.
#pragma once

#include <cstring>

// Thread sanitizer builds cannot take the indirect functions of target_clones. Integer loops
// give the same bytes in every clone. Float loops are left without AVX-512, whose clones GCC
// fuses complex multiply-adds in even with contraction off: every clone then rounds alike.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__SANITIZE_THREAD__)
#define TARNWICK_CLONES __attribute__((target_clones("arch=x86-64-v4", "avx2", "default")))
#define TARNWICK_FLOAT_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define TARNWICK_CLONES
#define TARNWICK_FLOAT_CLONES
#endif

namespace registration_detail {

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
