// Kernels of the fast cubic pass: plain C++ for any processor, AVX2 and AVX-512 compiled with
// target attributes (so that no other code of the program is built for those instruction sets)
// and chosen at run time.
//
// Lanes hold doubles: each lane does exactly the reference's operations in its order. Products and
// sums are separate instructions; nothing here may be contracted into a fused multiply-add (the
// build passes -ffp-contract=off). Conversions to float and to integer use the current rounding
// mode, nearest even, as the reference's casts and nearbyint do.
#include <algorithm>

#include "resample/cubic_fast.h"

#if defined(__x86_64__) || defined(__i386__)
// GCC 12's AVX-512 intrinsics start from deliberately undefined vectors, which its
// maybe-uninitialized check then reports in every caller (GCC bug 105593).
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>
#define TARNWICK_X86 1
#endif

namespace {

// ---- One element, as the reference computes it; the plain kernels and every vector tail. ----

// 1.5 x 2^52: adding it to a double under 2^51 in magnitude leaves no fraction bits, so the sum
// rounds to an integer, nearest even, without a library call. Values are held to -1..256 before
// they are rounded: rounding then clamping to 0..255 gives the same byte, and the conversion to
// an integer cannot overflow.
constexpr double kRoundShift = 6755399441055744.0;

inline float HorizontalElement(const std::uint8_t* row, int first, int s, double g, double h,
                               double l) {
    const int pm1 = row[first];
    const int p0 = row[first + s];
    const int p1 = row[first + 2 * s];
    const int p2 = row[first + 3 * s];
    const int d1 = p0 - pm1;
    const int d2 = p1 - 2 * p0 + pm1;
    const int d3 = p2 - 3 * p1 + 3 * p0 - pm1;
    return float(double(pm1) + (g * d1 + (h * d2 + l * d3)));
}

inline void DifferenceElement(float a, float b, float c, float d, float& f1, float& f2, float& f3) {
    const double e1 = double(b) - double(a);
    const double e2 = (double(c) - double(b)) - e1;
    const double e3 = ((double(d) - double(c)) - double(c) + double(b)) - e2;
    f1 = float(e1);
    f2 = float(e2);
    f3 = float(e3);
}

inline std::uint8_t VerticalElement(double a, double f1, double f2, double f3, double g, double h,
                                    double l) {
    const double v = g * f1 + (h * f2 + (a + l * f3));
    // Held to -1..256 first, which changes no result and keeps the shift exact.
    const double x = std::clamp((v + 0.00001) - 0.5, -1.0, 256.0);
    return std::uint8_t(std::clamp((x + kRoundShift) - kRoundShift, 0.0, 255.0));
}

void HorizontalTail(const std::uint8_t* row, const CubicPlan& plan, float* out, int k) {
    const int s = plan.pixelBytes;
    for (; k < plan.count; ++k)
        out[k] = HorizontalElement(row, plan.first[k], s, plan.g[k], plan.h[k], plan.l[k]);
}

void DifferencesTail(const float* a, const float* b, const float* c, const float* d, int count,
                     double* wideA, double* e1, double* e2, double* e3, int k) {
    for (; k < count; ++k) {
        float f1, f2, f3;
        DifferenceElement(a[k], b[k], c[k], d[k], f1, f2, f3);
        wideA[k] = a[k];
        e1[k] = f1;
        e2[k] = f2;
        e3[k] = f3;
    }
}

void FromDifferencesTail(const double* a, const double* e1, const double* e2, const double* e3,
                         int count, double g, double h, double l, std::uint8_t* dst, int k) {
    for (; k < count; ++k) dst[k] = VerticalElement(a[k], e1[k], e2[k], e3[k], g, h, l);
}

void VerticalTail(const float* a, const float* b, const float* c, const float* d, int count,
                  double g, double h, double l, std::uint8_t* dst, int k) {
    for (; k < count; ++k) {
        float f1, f2, f3;
        DifferenceElement(a[k], b[k], c[k], d[k], f1, f2, f3);
        dst[k] = VerticalElement(a[k], f1, f2, f3, g, h, l);
    }
}

// Elements a block of the vertical pass holds: four double buffers of 4 KB.
constexpr int kVerticalBlock = 512;

// The vertical pass of rows sharing a window, from one instruction set's steps. A single row
// goes in one sweep; more rows take the window's differences a block of elements at a time into
// buffers that stay in the first-level cache, then each row's bytes from them.
template <auto Differences, auto FromDifferences, auto Single>
void VerticalRows(const float* a, const float* b, const float* c, const float* d, int count,
                  int rows, const double* g, const double* h, const double* l,
                  std::uint8_t* const* dst) {
    if (rows == 1)
        return Single(a, b, c, d, count, g[0], h[0], l[0], dst[0]);
    alignas(64) double wide[4][kVerticalBlock];
    for (int k = 0; k < count; k += kVerticalBlock) {
        const int n = std::min(kVerticalBlock, count - k);
        Differences(a + k, b + k, c + k, d + k, n, wide[0], wide[1], wide[2], wide[3]);
        for (int r = 0; r < rows; ++r)
            FromDifferences(wide[0], wide[1], wide[2], wide[3], n, g[r], h[r], l[r], dst[r] + k);
    }
}

// ---- Plain kernels. ----

void HorizontalPlain(const std::uint8_t* row, const CubicPlan& plan, float* out) {
    HorizontalTail(row, plan, out, 0);
}

void DifferencesPlain(const float* a, const float* b, const float* c, const float* d, int count,
                      double* wideA, double* e1, double* e2, double* e3) {
    DifferencesTail(a, b, c, d, count, wideA, e1, e2, e3, 0);
}

void FromDifferencesPlain(const double* a, const double* e1, const double* e2, const double* e3,
                          int count, double g, double h, double l, std::uint8_t* dst) {
    FromDifferencesTail(a, e1, e2, e3, count, g, h, l, dst, 0);
}

void VerticalPlain(const float* a, const float* b, const float* c, const float* d, int count,
                   double g, double h, double l, std::uint8_t* dst) {
    VerticalTail(a, b, c, d, count, g, h, l, dst, 0);
}

constexpr CubicKernels kPlainKernels = {
    HorizontalPlain, VerticalRows<DifferencesPlain, FromDifferencesPlain, VerticalPlain>};

#ifdef TARNWICK_X86

// ---- AVX2: four doubles a vector. ----

#define TARNWICK_AVX2 __attribute__((target("avx2")))

// The horizontal value of four elements from their integer differences.
TARNWICK_AVX2 inline __m128 HorizontalQuad(__m128i pm1, __m128i d1, __m128i d2, __m128i d3,
                                           const double* g, const double* h, const double* l) {
    const __m256d t3 = _mm256_mul_pd(_mm256_loadu_pd(l), _mm256_cvtepi32_pd(d3));
    const __m256d t2 = _mm256_add_pd(_mm256_mul_pd(_mm256_loadu_pd(h), _mm256_cvtepi32_pd(d2)), t3);
    const __m256d t1 = _mm256_add_pd(_mm256_mul_pd(_mm256_loadu_pd(g), _mm256_cvtepi32_pd(d1)), t2);
    return _mm256_cvtpd_ps(_mm256_add_pd(_mm256_cvtepi32_pd(pm1), t1));
}

// The integer differences of eight elements.
struct Samples8 {
    __m256i pm1, d1, d2, d3;
};

// Elements k to k + 7 (k a multiple of 8) of a row of three-byte pixels. Where the plan has
// 16-byte windows, two loads and a byte shuffle bring each element's four samples into the bytes
// of its 32-bit lane; elsewhere two gathers, at first[k] and first[k] + 6, bring them into the
// low and high bytes of two lanes.
TARNWICK_AVX2 inline Samples8 LoadSamples8(const std::uint8_t* row, const CubicPlan& plan, int k) {
    const int group = k / 8;
    const std::int32_t w0 = plan.window[2 * group], w1 = plan.window[2 * group + 1];
    const __m256i lowByte = _mm256_set1_epi32(0xFF);
    __m256i pm1, p0, p1, p2;
    if (w0 >= 0 && w1 >= 0) {
        const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + w0));
        const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + w1));
        const __m256i control =
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(&plan.shuffle[group * 32]));
        const __m256i x = _mm256_shuffle_epi8(
            _mm256_inserti128_si256(_mm256_castsi128_si256(lo), hi, 1), control);
        pm1 = _mm256_and_si256(x, lowByte);
        p0 = _mm256_and_si256(_mm256_srli_epi32(x, 8), lowByte);
        p1 = _mm256_and_si256(_mm256_srli_epi32(x, 16), lowByte);
        p2 = _mm256_srli_epi32(x, 24);
    } else {
        const int* base = reinterpret_cast<const int*>(row);
        const __m256i at = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(&plan.first[k]));
        const __m256i lo = _mm256_i32gather_epi32(base, at, 1);
        const __m256i hi =
            _mm256_i32gather_epi32(base, _mm256_add_epi32(at, _mm256_set1_epi32(6)), 1);
        pm1 = _mm256_and_si256(lo, lowByte);
        p0 = _mm256_srli_epi32(lo, 24);
        p1 = _mm256_and_si256(hi, lowByte);
        p2 = _mm256_srli_epi32(hi, 24);
    }
    // Integer differences are exact in any order.
    const __m256i d1 = _mm256_sub_epi32(p0, pm1);
    const __m256i d2 = _mm256_sub_epi32(_mm256_add_epi32(p1, pm1), _mm256_add_epi32(p0, p0));
    const __m256i q = _mm256_sub_epi32(p0, p1);
    const __m256i d3 =
        _mm256_add_epi32(_mm256_sub_epi32(p2, pm1), _mm256_add_epi32(q, _mm256_add_epi32(q, q)));
    return {pm1, d1, d2, d3};
}

TARNWICK_AVX2 void HorizontalAvx2(const std::uint8_t* row, const CubicPlan& plan, float* out) {
    if (plan.pixelBytes != 3)
        return HorizontalPlain(row, plan, out);
    const int count = plan.count;
    int k = 0;
    for (; k + 8 <= count; k += 8) {
        const Samples8 x = LoadSamples8(row, plan, k);
        const __m128 low =
            HorizontalQuad(_mm256_castsi256_si128(x.pm1), _mm256_castsi256_si128(x.d1),
                           _mm256_castsi256_si128(x.d2), _mm256_castsi256_si128(x.d3), &plan.g[k],
                           &plan.h[k], &plan.l[k]);
        const __m128 high =
            HorizontalQuad(_mm256_extracti128_si256(x.pm1, 1), _mm256_extracti128_si256(x.d1, 1),
                           _mm256_extracti128_si256(x.d2, 1), _mm256_extracti128_si256(x.d3, 1),
                           &plan.g[k + 4], &plan.h[k + 4], &plan.l[k + 4]);
        _mm_storeu_ps(out + k, low);
        _mm_storeu_ps(out + k + 4, high);
    }
    HorizontalTail(row, plan, out, k);
}

TARNWICK_AVX2 inline __m256d Widen(const float* p) {
    return _mm256_cvtps_pd(_mm_loadu_ps(p));
}

// Rounds to float and back: the reference stores the differences as floats.
TARNWICK_AVX2 inline __m256d ThroughFloat(__m256d v) {
    return _mm256_cvtps_pd(_mm256_cvtpd_ps(v));
}

struct Diff4 {
    __m256d e1, e2, e3;
};

TARNWICK_AVX2 inline Diff4 DifferenceQuad(const float* a, const float* b, const float* c,
                                          const float* d) {
    const __m256d va = Widen(a), vb = Widen(b), vc = Widen(c), vd = Widen(d);
    const __m256d e1 = _mm256_sub_pd(vb, va);
    const __m256d e2 = _mm256_sub_pd(_mm256_sub_pd(vc, vb), e1);
    const __m256d e3 =
        _mm256_sub_pd(_mm256_add_pd(_mm256_sub_pd(_mm256_sub_pd(vd, vc), vc), vb), e2);
    return {e1, e2, e3};
}

// v = g e1 + (h e2 + (a + l e3)), then v + 0.00001 - 0.5, converted to int32 (nearest even).
// Bytes through coefficients of fractions in -1..2 keep |v| below 10^5 (rows within 3570,
// differences within 28560, coefficients within 3), so the conversion is exact, and the packs'
// saturation that follows gives the reference's clamp to 0..255 without holding v first.
TARNWICK_AVX2 inline __m128i RoundQuad(__m256d a, __m256d f1, __m256d f2, __m256d f3, __m256d g,
                                       __m256d h, __m256d l) {
    const __m256d inner = _mm256_add_pd(a, _mm256_mul_pd(l, f3));
    const __m256d v =
        _mm256_add_pd(_mm256_mul_pd(g, f1), _mm256_add_pd(_mm256_mul_pd(h, f2), inner));
    const __m256d q = _mm256_sub_pd(_mm256_add_pd(v, _mm256_set1_pd(0.00001)), _mm256_set1_pd(0.5));
    return _mm256_cvtpd_epi32(q);
}

// Sixteen int32 to bytes; the saturating packs are the clamp to 0..255.
TARNWICK_AVX2 inline void StoreBytes(std::uint8_t* dst, __m128i q0, __m128i q1, __m128i q2,
                                     __m128i q3) {
    const __m128i w0 = _mm_packs_epi32(q0, q1);
    const __m128i w1 = _mm_packs_epi32(q2, q3);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), _mm_packus_epi16(w0, w1));
}

TARNWICK_AVX2 void DifferencesAvx2(const float* a, const float* b, const float* c, const float* d,
                                   int count, double* wideA, double* e1, double* e2, double* e3) {
    int k = 0;
    for (; k + 4 <= count; k += 4) {
        const Diff4 e = DifferenceQuad(a + k, b + k, c + k, d + k);
        _mm256_storeu_pd(wideA + k, Widen(a + k));
        _mm256_storeu_pd(e1 + k, ThroughFloat(e.e1));
        _mm256_storeu_pd(e2 + k, ThroughFloat(e.e2));
        _mm256_storeu_pd(e3 + k, ThroughFloat(e.e3));
    }
    DifferencesTail(a, b, c, d, count, wideA, e1, e2, e3, k);
}

TARNWICK_AVX2 void FromDifferencesAvx2(const double* a, const double* e1, const double* e2,
                                       const double* e3, int count, double g, double h, double l,
                                       std::uint8_t* dst) {
    const __m256d vg = _mm256_set1_pd(g), vh = _mm256_set1_pd(h), vl = _mm256_set1_pd(l);
    int k = 0;
    for (; k + 16 <= count; k += 16) {
        __m128i q[4];
        for (int n = 0; n < 4; ++n) {
            const int i = k + 4 * n;
            q[n] = RoundQuad(_mm256_loadu_pd(a + i), _mm256_loadu_pd(e1 + i),
                             _mm256_loadu_pd(e2 + i), _mm256_loadu_pd(e3 + i), vg, vh, vl);
        }
        StoreBytes(dst + k, q[0], q[1], q[2], q[3]);
    }
    FromDifferencesTail(a, e1, e2, e3, count, g, h, l, dst, k);
}

TARNWICK_AVX2 inline __m128i VerticalQuad(const float* a, const float* b, const float* c,
                                          const float* d, __m256d g, __m256d h, __m256d l) {
    const Diff4 e = DifferenceQuad(a, b, c, d);
    return RoundQuad(Widen(a), ThroughFloat(e.e1), ThroughFloat(e.e2), ThroughFloat(e.e3), g, h, l);
}

TARNWICK_AVX2 void VerticalAvx2(const float* a, const float* b, const float* c, const float* d,
                                int count, double g, double h, double l, std::uint8_t* dst) {
    const __m256d vg = _mm256_set1_pd(g), vh = _mm256_set1_pd(h), vl = _mm256_set1_pd(l);
    int k = 0;
    for (; k + 16 <= count; k += 16) {
        __m128i q[4];
        for (int n = 0; n < 4; ++n) {
            const int i = k + 4 * n;
            q[n] = VerticalQuad(a + i, b + i, c + i, d + i, vg, vh, vl);
        }
        StoreBytes(dst + k, q[0], q[1], q[2], q[3]);
    }
    VerticalTail(a, b, c, d, count, g, h, l, dst, k);
}

constexpr CubicKernels kAvx2Kernels = {
    HorizontalAvx2, VerticalRows<DifferencesAvx2, FromDifferencesAvx2, VerticalAvx2>};

// ---- AVX-512: eight doubles a vector. ----

#define TARNWICK_AVX512 __attribute__((target("avx512f,avx512bw,avx512dq,avx512vl")))

TARNWICK_AVX512 inline __m256 HorizontalOctet(__m256i pm1, __m256i d1, __m256i d2, __m256i d3,
                                              const double* g, const double* h, const double* l) {
    const __m512d t3 = _mm512_mul_pd(_mm512_loadu_pd(l), _mm512_cvtepi32_pd(d3));
    const __m512d t2 = _mm512_add_pd(_mm512_mul_pd(_mm512_loadu_pd(h), _mm512_cvtepi32_pd(d2)), t3);
    const __m512d t1 = _mm512_add_pd(_mm512_mul_pd(_mm512_loadu_pd(g), _mm512_cvtepi32_pd(d1)), t2);
    return _mm512_cvtpd_ps(_mm512_add_pd(_mm512_cvtepi32_pd(pm1), t1));
}

// Eight elements a step, loaded as in the AVX2 kernel, computed in one vector.
TARNWICK_AVX512 void HorizontalAvx512(const std::uint8_t* row, const CubicPlan& plan, float* out) {
    if (plan.pixelBytes != 3)
        return HorizontalPlain(row, plan, out);
    const int count = plan.count;
    const double *g = plan.g.data(), *h = plan.h.data(), *l = plan.l.data();
    int k = 0;
    for (; k + 16 <= count; k += 16) {
        const int i = k + 8;
        const Samples8 x = LoadSamples8(row, plan, k);
        const Samples8 y = LoadSamples8(row, plan, i);
        const __m256 vx = HorizontalOctet(x.pm1, x.d1, x.d2, x.d3, g + k, h + k, l + k);
        const __m256 vy = HorizontalOctet(y.pm1, y.d1, y.d2, y.d3, g + i, h + i, l + i);
        _mm256_storeu_ps(out + k, vx);
        _mm256_storeu_ps(out + i, vy);
    }
    for (; k + 8 <= count; k += 8) {
        const Samples8 x = LoadSamples8(row, plan, k);
        _mm256_storeu_ps(out + k, HorizontalOctet(x.pm1, x.d1, x.d2, x.d3, g + k, h + k, l + k));
    }
    HorizontalTail(row, plan, out, k);
}

TARNWICK_AVX512 inline __m512d Widen8(const float* p) {
    return _mm512_cvtps_pd(_mm256_loadu_ps(p));
}

TARNWICK_AVX512 inline __m512d ThroughFloat8(__m512d v) {
    return _mm512_cvtps_pd(_mm512_cvtpd_ps(v));
}

struct Diff8 {
    __m512d e1, e2, e3;
};

TARNWICK_AVX512 inline Diff8 DifferenceOctet(const float* a, const float* b, const float* c,
                                             const float* d) {
    const __m512d va = Widen8(a), vb = Widen8(b), vc = Widen8(c), vd = Widen8(d);
    const __m512d e1 = _mm512_sub_pd(vb, va);
    const __m512d e2 = _mm512_sub_pd(_mm512_sub_pd(vc, vb), e1);
    const __m512d e3 =
        _mm512_sub_pd(_mm512_add_pd(_mm512_sub_pd(_mm512_sub_pd(vd, vc), vc), vb), e2);
    return {e1, e2, e3};
}

TARNWICK_AVX512 inline __m256i RoundOctet(__m512d a, __m512d f1, __m512d f2, __m512d f3, __m512d g,
                                          __m512d h, __m512d l) {
    const __m512d inner = _mm512_add_pd(a, _mm512_mul_pd(l, f3));
    const __m512d v =
        _mm512_add_pd(_mm512_mul_pd(g, f1), _mm512_add_pd(_mm512_mul_pd(h, f2), inner));
    const __m512d q = _mm512_sub_pd(_mm512_add_pd(v, _mm512_set1_pd(0.00001)), _mm512_set1_pd(0.5));
    return _mm512_cvtpd_epi32(q);
}

// Sixteen int32 to bytes: negatives to 0, then unsigned saturation to 255.
TARNWICK_AVX512 inline void StoreBytes16(std::uint8_t* dst, __m256i q0, __m256i q1) {
    const __m512i q = _mm512_inserti64x4(_mm512_castsi256_si512(q0), q1, 1);
    const __m128i bytes = _mm512_cvtusepi32_epi8(_mm512_max_epi32(q, _mm512_setzero_si512()));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), bytes);
}

TARNWICK_AVX512 void DifferencesAvx512(const float* a, const float* b, const float* c,
                                       const float* d, int count, double* wideA, double* e1,
                                       double* e2, double* e3) {
    int k = 0;
    for (; k + 8 <= count; k += 8) {
        const Diff8 e = DifferenceOctet(a + k, b + k, c + k, d + k);
        _mm512_storeu_pd(wideA + k, Widen8(a + k));
        _mm512_storeu_pd(e1 + k, ThroughFloat8(e.e1));
        _mm512_storeu_pd(e2 + k, ThroughFloat8(e.e2));
        _mm512_storeu_pd(e3 + k, ThroughFloat8(e.e3));
    }
    DifferencesTail(a, b, c, d, count, wideA, e1, e2, e3, k);
}

TARNWICK_AVX512 void FromDifferencesAvx512(const double* a, const double* e1, const double* e2,
                                           const double* e3, int count, double g, double h,
                                           double l, std::uint8_t* dst) {
    const __m512d vg = _mm512_set1_pd(g), vh = _mm512_set1_pd(h), vl = _mm512_set1_pd(l);
    int k = 0;
    for (; k + 16 <= count; k += 16) {
        const int i = k + 8;
        const __m256i q0 = RoundOctet(_mm512_loadu_pd(a + k), _mm512_loadu_pd(e1 + k),
                                      _mm512_loadu_pd(e2 + k), _mm512_loadu_pd(e3 + k), vg, vh, vl);
        const __m256i q1 = RoundOctet(_mm512_loadu_pd(a + i), _mm512_loadu_pd(e1 + i),
                                      _mm512_loadu_pd(e2 + i), _mm512_loadu_pd(e3 + i), vg, vh, vl);
        StoreBytes16(dst + k, q0, q1);
    }
    FromDifferencesTail(a, e1, e2, e3, count, g, h, l, dst, k);
}

TARNWICK_AVX512 inline __m256i VerticalOctet(const float* a, const float* b, const float* c,
                                             const float* d, __m512d g, __m512d h, __m512d l) {
    const Diff8 e = DifferenceOctet(a, b, c, d);
    return RoundOctet(Widen8(a), ThroughFloat8(e.e1), ThroughFloat8(e.e2), ThroughFloat8(e.e3), g,
                      h, l);
}

TARNWICK_AVX512 void VerticalAvx512(const float* a, const float* b, const float* c, const float* d,
                                    int count, double g, double h, double l, std::uint8_t* dst) {
    const __m512d vg = _mm512_set1_pd(g), vh = _mm512_set1_pd(h), vl = _mm512_set1_pd(l);
    int k = 0;
    for (; k + 16 <= count; k += 16) {
        const __m256i q0 = VerticalOctet(a + k, b + k, c + k, d + k, vg, vh, vl);
        const int i = k + 8;
        const __m256i q1 = VerticalOctet(a + i, b + i, c + i, d + i, vg, vh, vl);
        StoreBytes16(dst + k, q0, q1);
    }
    VerticalTail(a, b, c, d, count, g, h, l, dst, k);
}

constexpr CubicKernels kAvx512Kernels = {
    HorizontalAvx512, VerticalRows<DifferencesAvx512, FromDifferencesAvx512, VerticalAvx512>};

#endif  // TARNWICK_X86

}  // namespace

const CubicKernels& CubicKernelsFor(ResampleKernel kernel) {
#ifdef TARNWICK_X86
    if (kernel == ResampleKernel::kAvx512)
        return kAvx512Kernels;
    if (kernel == ResampleKernel::kAvx2)
        return kAvx2Kernels;
#else
    (void)kernel;
#endif
    return kPlainKernels;
}
