#include "jobs/image_registration.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <numbers>

#if defined(__x86_64__) && defined(__GNUC__)
// GCC 12 takes the AVX-512 headers' deliberately undefined vectors for uninitialised ones.
#ifndef __clang__
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>
#ifndef __clang__
#pragma GCC diagnostic pop
#endif
#endif

namespace {

constexpr int kMaxWindow = 256;
// Grid points of the refinement: ±1 pixel in 1/8 steps, then ±1/8 in 1/64 steps.
constexpr int kCoarseSteps = 8;
constexpr int kFineSteps = 8;
// Half-width of the square around the peak left out of the surface's statistics.
constexpr int kPeakRadius = 3;
// Lobes of the Lanczos kernel that moves pictures onto the grid: 2 x this many taps a side.
constexpr int kLanczosLobes = 3;
// Standard deviation, in cycles per pixel, of the Gaussian weight on the cross-power spectrum.
constexpr double kLowPass = 0.15;

// The spectra are single precision; sums over them are taken in double.
using Complex = std::complex<float>;

Complex* AsComplex(fftwf_complex* p) {
    return reinterpret_cast<Complex*>(p);
}

// Signed frequency of DFT index k out of n.
int Frequency(int k, int n) {
    return k < n / 2 ? k : k - n;
}

// Grey value with the usual luma weights, in 0..255 (B, G, R order).
double Grey(const std::uint8_t* p) {
    return 0.114 * p[0] + 0.587 * p[1] + 0.299 * p[2];
}

// Taps of the interpolating kernel for one axis: weights in 1/4096 summing to 4096, for the
// source pixels at offsets m_nFirst .. m_nFirst + m_nCount - 1 from the whole part of the shift.
struct CTaps {
    int m_nFirst = 0;
    int m_nCount = 1;
    int m_weights[2 * kLanczosLobes] = {4096};
};

double Lanczos(double t) {
    t = std::fabs(t);
    if (t < 1e-12)
        return 1;
    if (t >= kLanczosLobes)
        return 0;
    const double a = std::numbers::pi * t;
    return kLanczosLobes * std::sin(a) * std::sin(a / kLanczosLobes) / (a * a);
}

// Taps for a fraction of `frac` / 256 pixel; a zero fraction is a single tap (an exact copy).
CTaps MakeTaps(int frac) {
    CTaps taps;
    if (frac == 0)
        return taps;
    const double f = frac / 256.0;
    taps.m_nFirst = 1 - kLanczosLobes;
    taps.m_nCount = 2 * kLanczosLobes;
    double w[2 * kLanczosLobes], total = 0;
    for (int k = 0; k < taps.m_nCount; ++k) total += w[k] = Lanczos(taps.m_nFirst + k - f);
    int sum = 0, largest = 0;
    for (int k = 0; k < taps.m_nCount; ++k) {
        taps.m_weights[k] = int(std::lround(4096 * w[k] / total));
        sum += taps.m_weights[k];
        if (taps.m_weights[k] > taps.m_weights[largest])
            largest = k;
    }
    taps.m_weights[largest] += 4096 - sum;  // rounding must not change the sum
    return taps;
}

}  // namespace

CImageView ViewOf(const CDibImage& image) {
    CImageView view;
    if (!image.Bits() || image.m_nWidth <= 0 || image.m_nHeight <= 0)
        return view;
    view.m_nWidth = image.m_nWidth;
    view.m_nHeight = image.m_nHeight;
    view.m_nStride = -std::ptrdiff_t(image.m_nRowBytes);
    view.m_pTop = image.Bits() + std::ptrdiff_t(image.m_nHeight - 1) * image.m_nRowBytes;
    return view;
}

CImageView PackedView(const std::uint8_t* data, int width, int height) {
    CImageView view;
    view.m_pTop = data;
    view.m_nStride = std::ptrdiff_t(width) * 3;
    view.m_nWidth = width;
    view.m_nHeight = height;
    return view;
}

std::vector<std::uint8_t> PackedCopy(const CImageView& view) {
    std::vector<std::uint8_t> pixels;
    try {
        const std::size_t row = std::size_t(view.m_nWidth) * 3;
        pixels.resize(row * std::size_t(view.m_nHeight));
        for (int y = 0; y < view.m_nHeight; ++y)
            std::copy_n(view.Row(y), row, pixels.data() + std::size_t(y) * row);
    } catch (const std::bad_alloc&) {
        pixels.clear();
    }
    return pixels;
}

namespace {

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

// One row across, six taps: out[i] = (128 + sum over k of src[i + 3k] w[k]) >> 8, 1/16 units,
// from i = `start` on.
void AcrossRow(const std::uint8_t* __restrict src, const std::int32_t* __restrict w,
               std::int16_t* __restrict out, int start, int n) {
    const std::int32_t w0 = w[0], w1 = w[1], w2 = w[2], w3 = w[3], w4 = w[4], w5 = w[5];
    for (int i = start; i < n; ++i) {
        const std::int32_t s = 128 + src[i] * w0 + src[i + 3] * w1 + src[i + 6] * w2 +
                               src[i + 9] * w3 + src[i + 12] * w4 + src[i + 15] * w5;
        out[i] = std::int16_t(s >> 8);
    }
}

// One row across without a fraction: (128 + src[i] 4096) >> 8 is src[i] in 1/16 units.
TARNWICK_CLONES
void AcrossCopy(const std::uint8_t* __restrict src, std::int16_t* __restrict out, int n) {
    for (int i = 0; i < n; ++i) out[i] = std::int16_t(src[i] * 16);
}

// One grid row down, six taps of rows r0 .. r5, rounded and clipped to bytes, from i = `start`.
void DownRow(const std::int16_t* __restrict r0, const std::int16_t* __restrict r1,
             const std::int16_t* __restrict r2, const std::int16_t* __restrict r3,
             const std::int16_t* __restrict r4, const std::int16_t* __restrict r5,
             const std::int32_t* __restrict w, std::uint8_t* __restrict out, int start, int n) {
    const std::int32_t w0 = w[0], w1 = w[1], w2 = w[2], w3 = w[3], w4 = w[4], w5 = w[5];
    for (int i = start; i < n; ++i) {
        const std::int32_t s =
            (1 << 15) + r0[i] * w0 + r1[i] * w1 + r2[i] * w2 + r3[i] * w3 + r4[i] * w4 + r5[i] * w5;
        out[i] = std::uint8_t(std::clamp(s >> 16, 0, 255));
    }
}

// One grid row down without a fraction: (2^15 + v 4096) >> 16, clipped.
TARNWICK_CLONES
void DownCopy(const std::int16_t* __restrict r0, std::uint8_t* __restrict out, int n) {
    for (int i = 0; i < n; ++i)
        out[i] = std::uint8_t(std::clamp(((1 << 15) + r0[i] * 4096) >> 16, 0, 255));
}

#if defined(__x86_64__) && defined(__GNUC__)
// The same two passes 16 values at a time with AVX2: the taps go in pairs through the 16-bit
// multiply-add (the weights fit 16 bits, the sums of two products 32), which gives exactly the
// integer sums above. Packing back to 16 and 8 bits saturates where the plain loops clip.
#define TARNWICK_PAIRED_TAPS 1

bool HasAvx2() {
    static const bool s_bAvx2 = __builtin_cpu_supports("avx2");
    return s_bAvx2;
}

// Weights k and k + 1 in every 32-bit lane, k in the low half (the order of the unpacking).
__attribute__((target("avx2"))) __m256i WeightPair(const std::int32_t* w, int k) {
    return _mm256_set1_epi32(
        int(std::uint32_t(std::uint16_t(w[k + 1])) << 16 | std::uint16_t(w[k])));
}

// sum + taps a * w[k] + b * w[k + 1] for the low (lo) and high (hi) four values of each half.
__attribute__((target("avx2"))) void AddPair(__m256i a, __m256i b, __m256i pair, __m256i& lo,
                                             __m256i& hi) {
    lo = _mm256_add_epi32(lo, _mm256_madd_epi16(_mm256_unpacklo_epi16(a, b), pair));
    hi = _mm256_add_epi32(hi, _mm256_madd_epi16(_mm256_unpackhi_epi16(a, b), pair));
}

// AcrossRow for as many whole groups of 16 as fit; returns where the plain loop goes on.
__attribute__((target("avx2"))) int AcrossRowAvx2(const std::uint8_t* src, const std::int32_t* w,
                                                  std::int16_t* out, int n) {
    const __m256i w01 = WeightPair(w, 0), w23 = WeightPair(w, 2), w45 = WeightPair(w, 4);
    int i = 0;
    for (; i + 16 <= n; i += 16) {
        __m256i t[6];
        for (int k = 0; k < 6; ++k)
            t[k] = _mm256_cvtepu8_epi16(
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i + 3 * k)));
        __m256i lo = _mm256_set1_epi32(128), hi = lo;
        AddPair(t[0], t[1], w01, lo, hi);
        AddPair(t[2], t[3], w23, lo, hi);
        AddPair(t[4], t[5], w45, lo, hi);
        // The unpacking and the packing both keep to 128-bit halves: the order comes back.
        const __m256i packed =
            _mm256_packs_epi32(_mm256_srai_epi32(lo, 8), _mm256_srai_epi32(hi, 8));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), packed);
    }
    return i;
}

// DownRow for as many whole groups of 16 as fit; returns where the plain loop goes on.
__attribute__((target("avx2"))) int DownRowAvx2(const std::int16_t* const* rows,
                                                const std::int32_t* w, std::uint8_t* out, int n) {
    const __m256i w01 = WeightPair(w, 0), w23 = WeightPair(w, 2), w45 = WeightPair(w, 4);
    int i = 0;
    for (; i + 16 <= n; i += 16) {
        __m256i t[6];
        for (int k = 0; k < 6; ++k)
            t[k] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rows[k] + i));
        __m256i lo = _mm256_set1_epi32(1 << 15), hi = lo;
        AddPair(t[0], t[1], w01, lo, hi);
        AddPair(t[2], t[3], w23, lo, hi);
        AddPair(t[4], t[5], w45, lo, hi);
        const __m256i words =
            _mm256_packs_epi32(_mm256_srai_epi32(lo, 16), _mm256_srai_epi32(hi, 16));
        // Bytes 0-7 end up in the first quarter, 8-15 in the third.
        const __m256i bytes = _mm256_permute4x64_epi64(_mm256_packus_epi16(words, words), 0x08);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm256_castsi256_si128(bytes));
    }
    return i;
}

// The same with AVX-512, 32 values at a time.
bool HasAvx512() {
    static const bool s_bAvx512 = __builtin_cpu_supports("avx512bw");
    return s_bAvx512;
}

__attribute__((target("avx512bw"))) __m512i WeightPair512(const std::int32_t* w, int k) {
    return _mm512_set1_epi32(
        int(std::uint32_t(std::uint16_t(w[k + 1])) << 16 | std::uint16_t(w[k])));
}

__attribute__((target("avx512bw"))) void AddPair512(__m512i a, __m512i b, __m512i pair, __m512i& lo,
                                                    __m512i& hi) {
    lo = _mm512_add_epi32(lo, _mm512_madd_epi16(_mm512_unpacklo_epi16(a, b), pair));
    hi = _mm512_add_epi32(hi, _mm512_madd_epi16(_mm512_unpackhi_epi16(a, b), pair));
}

__attribute__((target("avx512bw"))) int AcrossRowAvx512(const std::uint8_t* src,
                                                        const std::int32_t* w, std::int16_t* out,
                                                        int n) {
    const __m512i w01 = WeightPair512(w, 0), w23 = WeightPair512(w, 2), w45 = WeightPair512(w, 4);
    int i = 0;
    for (; i + 32 <= n; i += 32) {
        __m512i t[6];
        for (int k = 0; k < 6; ++k)
            t[k] = _mm512_cvtepu8_epi16(
                _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i + 3 * k)));
        __m512i lo = _mm512_set1_epi32(128), hi = lo;
        AddPair512(t[0], t[1], w01, lo, hi);
        AddPair512(t[2], t[3], w23, lo, hi);
        AddPair512(t[4], t[5], w45, lo, hi);
        const __m512i packed =
            _mm512_packs_epi32(_mm512_srai_epi32(lo, 8), _mm512_srai_epi32(hi, 8));
        _mm512_storeu_si512(out + i, packed);
    }
    return i;
}

__attribute__((target("avx512bw"))) int DownRowAvx512(const std::int16_t* const* rows,
                                                      const std::int32_t* w, std::uint8_t* out,
                                                      int n) {
    const __m512i w01 = WeightPair512(w, 0), w23 = WeightPair512(w, 2), w45 = WeightPair512(w, 4);
    // Bytes of each 128-bit quarter come first in it: gather the first halves of the quarters.
    const __m512i order = _mm512_setr_epi64(0, 2, 4, 6, 0, 2, 4, 6);
    int i = 0;
    for (; i + 32 <= n; i += 32) {
        __m512i t[6];
        for (int k = 0; k < 6; ++k) t[k] = _mm512_loadu_si512(rows[k] + i);
        __m512i lo = _mm512_set1_epi32(1 << 15), hi = lo;
        AddPair512(t[0], t[1], w01, lo, hi);
        AddPair512(t[2], t[3], w23, lo, hi);
        AddPair512(t[4], t[5], w45, lo, hi);
        const __m512i words =
            _mm512_packs_epi32(_mm512_srai_epi32(lo, 16), _mm512_srai_epi32(hi, 16));
        const __m512i bytes = _mm512_permutexvar_epi64(order, _mm512_packus_epi16(words, words));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), _mm512_castsi512_si256(bytes));
    }
    return i;
}
#endif

// Grey values of n pixels (B, G, R) with the luma weights, in float.
TARNWICK_FLOAT_CLONES
void GreyRow(const std::uint8_t* __restrict bgr, float* __restrict out, int n) {
    for (int x = 0; x < n; ++x)
        out[x] = 0.114f * float(bgr[3 * x]) + 0.587f * float(bgr[3 * x + 1]) +
                 0.299f * float(bgr[3 * x + 2]);
}

// Four floats or two doubles, added lane by lane: sums split over lanes that meet in double at
// the end, written out so that they vectorise without reordering any one lane's sum.
using Float4 = float __attribute__((vector_size(16)));
using Double2 = double __attribute__((vector_size(16)));

Float4 Load4(const float* p) {
    Float4 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

Double2 Load2(const double* p) {
    Double2 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

double LaneSum(const Float4* lanes, int count) {
    double total = 0;
    for (int k = 0; k < count; ++k)
        for (int j = 0; j < 4; ++j) total += lanes[k][j];
    return total;
}

// Adds the sum of v[i] - pivot and of its squares over n values to `sum` and `squares`. Taken
// about a value of the window itself, a flat window sums to exactly nothing.
void AddDeviations(const float* v, int n, float pivot, double& sum, double& squares) {
    Float4 s[4] = {}, q[4] = {};
    int i = 0;
    for (; i + 16 <= n; i += 16)
        for (int k = 0; k < 4; ++k) {
            const Float4 d = Load4(v + i + 4 * k) - pivot;
            s[k] += d;
            q[k] += d * d;
        }
    for (; i < n; ++i) {
        const double d = double(v[i]) - pivot;
        sum += d;
        squares += d * d;
    }
    sum += LaneSum(s, 4);
    squares += LaneSum(q, 4);
}

// The largest of n values, their sum and the sum of their squares (added to `sum`, `squares`).
float AddSurfaceRow(const float* v, int n, double& sum, double& squares) {
    Float4 s[4] = {}, q[4] = {};
    Float4 m[4] = {Float4{} + v[0], Float4{} + v[0], Float4{} + v[0], Float4{} + v[0]};
    int i = 0;
    for (; i + 16 <= n; i += 16)
        for (int k = 0; k < 4; ++k) {
            const Float4 x = Load4(v + i + 4 * k);
            m[k] = m[k] < x ? x : m[k];
            s[k] += x;
            q[k] += x * x;
        }
    float highest = v[0];
    for (; i < n; ++i) {
        highest = std::max(highest, v[i]);
        sum += v[i];
        squares += double(v[i]) * v[i];
    }
    for (int k = 0; k < 4; ++k)
        for (int j = 0; j < 4; ++j) highest = std::max(highest, m[k][j]);
    sum += LaneSum(s, 4);
    squares += LaneSum(q, 4);
    return highest;
}

// The normalised cross-power spectrum of `work` and the conjugate reference `ref`, weighted by
// `lowPass`, into both `cross` and `work` (interleaved complex values, n of them). Bins of no
// power are left out.
TARNWICK_FLOAT_CLONES
void CrossPower(float* __restrict work, const float* __restrict ref,
                const float* __restrict lowPass, float* __restrict cross, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        const float a = work[2 * i], b = work[2 * i + 1];
        const float c = ref[2 * i], d = ref[2 * i + 1];
        const float re = a * c - b * d, im = a * d + b * c;
        const float power = re * re + im * im;
        const float scale =
            (power > 1e-18f ? 1.0f : 0.0f) * lowPass[i] / std::sqrt(std::max(power, 1e-18f));
        cross[2 * i] = work[2 * i] = re * scale;
        cross[2 * i + 1] = work[2 * i + 1] = im * scale;
    }
}

// line[u] += row[u] p for n complex values (planar `line`, interleaved `row`).
TARNWICK_FLOAT_CLONES
void AddTurnedRow(const float* __restrict row, float pr, float pi, float* __restrict lineRe,
                  float* __restrict lineIm, int n) {
    for (int u = 0; u < n; ++u) {
        const float re = row[2 * u], im = row[2 * u + 1];
        lineRe[u] += re * pr - im * pi;
        lineIm[u] += re * pi + im * pr;
    }
}

// Sum over u of row[u] p[u] for n complex values, both interleaved; `real` holds each p's real
// part twice, `imag` its imaginary part as (-im, im).
std::complex<double> TurnedSum(const float* row, const float* real, const float* imag, int n) {
    // Lanes hold (re, im) pairs: the row as it is times `real`, and swapped times `imag`.
    Float4 a[2] = {}, b[2] = {};
    int u = 0;
    for (; u + 4 <= n; u += 4)
        for (int k = 0; k < 2; ++k) {
            const int i = 2 * u + 4 * k;
            const Float4 z = Load4(row + i);
            a[k] += z * Load4(real + i);
            b[k] += __builtin_shufflevector(z, z, 1, 0, 3, 2) * Load4(imag + i);
        }
    double tr = 0, ti = 0;
    for (; u < n; ++u) {
        const double re = row[2 * u], im = row[2 * u + 1];
        tr += re * real[2 * u] - im * imag[2 * u + 1];
        ti += re * imag[2 * u + 1] + im * real[2 * u];
    }
    for (int k = 0; k < 2; ++k) {
        tr += double(a[k][0]) + a[k][2] + b[k][0] + b[k][2];
        ti += double(a[k][1]) + a[k][3] + b[k][1] + b[k][3];
    }
    return {tr, ti};
}

// values[s] = Re sum over k of c[k] w[k]^s for s = 0 .. count - 1; c is turned as it goes.
void PowerSums(double* cre, double* cim, const double* wre, const double* wim, int n, int count,
               double* values) {
    for (int s = 0; s < count; ++s) {
        Double2 lanes[2] = {};
        int k = 0;
        for (; k + 4 <= n; k += 4) {
            lanes[0] += Load2(cre + k);
            lanes[1] += Load2(cre + k + 2);
        }
        double total = 0;
        for (; k < n; ++k) total += cre[k];
        values[s] = total + (lanes[0][0] + lanes[0][1]) + (lanes[1][0] + lanes[1][1]);
        for (k = 0; k < n; ++k) {
            const double re = cre[k] * wre[k] - cim[k] * wim[k];
            cim[k] = cre[k] * wim[k] + cim[k] * wre[k];
            cre[k] = re;
        }
    }
}

// The spectrum X[0 .. m] of a real row x of 2m values, from the transform Z of its pairs
// z[j] = x[2j] + i x[2j + 1] (interleaved complex): with the even and odd parts
// E = (Z[k] + conj Z[m - k]) / 2 and O = (Z[k] - conj Z[m - k]) / 2i, X[k] = E + turn[k] O.
TARNWICK_FLOAT_CLONES
void SplitRow(const float* __restrict z, const float* __restrict turn, float* __restrict out,
              int m) {
    out[0] = z[0] + z[1];
    out[1] = 0;
    out[2 * m] = z[0] - z[1];
    out[2 * m + 1] = 0;
    for (int k = 1; k < m; ++k) {
        const float ar = z[2 * k], ai = z[2 * k + 1];
        const float br = z[2 * (m - k)], bi = -z[2 * (m - k) + 1];
        const float er = 0.5f * (ar + br), ei = 0.5f * (ai + bi);
        const float orr = 0.5f * (ai - bi), oi = -0.5f * (ar - br);
        const float tr = turn[2 * k], ti = turn[2 * k + 1];
        out[2 * k] = er + (tr * orr - ti * oi);
        out[2 * k + 1] = ei + (tr * oi + ti * orr);
    }
}

// The way back: from X[0 .. m] (the imaginary parts of X[0] and X[m] taken as nothing, as for
// a real row) the pairs' spectrum Z[k] = A + i B with A = X[k] + conj X[m - k] and
// B = (X[k] - conj X[m - k]) conj turn[k], whose inverse transform is the row's pairs.
TARNWICK_FLOAT_CLONES
void JoinRow(const float* __restrict x, const float* __restrict turn, float* __restrict z, int m) {
    z[0] = x[0] + x[2 * m];
    z[1] = x[0] - x[2 * m];
    for (int k = 1; k < m; ++k) {
        const float ar = x[2 * k], ai = x[2 * k + 1];
        const float br = x[2 * (m - k)], bi = -x[2 * (m - k) + 1];
        const float sr = ar + br, si = ai + bi;
        const float dr = ar - br, di = ai - bi;
        const float tr = turn[2 * k], ti = -turn[2 * k + 1];
        const float qr = dr * tr - di * ti, qi = dr * ti + di * tr;
        z[2 * k] = sr - qi;
        z[2 * k + 1] = si + qr;
    }
}

// FFTW's planner, plan destruction included, is not thread-safe, and each decoding worker has
// its own registration: they plan one at a time.
std::mutex& PlannerLock() {
    static std::mutex s_lock;
    return s_lock;
}

}  // namespace

CImageRegistration::CImageRegistration() = default;

CImageRegistration::~CImageRegistration() {
    Release();
}

void CImageRegistration::Release() {
    std::lock_guard lock(PlannerLock());
    for (fftwf_plan plan : {m_rowsForward, m_rowsBackward, m_columnsForward, m_columnsBackward})
        if (plan)
            fftwf_destroy_plan(plan);
    fftwf_free(m_pReal);
    fftwf_free(m_pWork);
    fftwf_free(m_pReference);
    fftwf_free(m_pCross);
    m_rowsForward = m_rowsBackward = m_columnsForward = m_columnsBackward = nullptr;
    m_pReal = nullptr;
    m_pWork = m_pReference = m_pCross = nullptr;
    m_nSize = 0;
}

bool CImageRegistration::SetReference(const CImageView& reference, std::string* why) {
    const int side = std::min(reference.m_nWidth, reference.m_nHeight);
    if (side < kMinWindow) {
        if (why)
            *why = "too small to register (under " + std::to_string(kMinWindow) + " pixels a side)";
        return false;
    }
    int size = kMinWindow;
    while (size * 2 <= std::min(side, kMaxWindow)) size *= 2;
    if (size != m_nSize) {
        Release();
        const std::size_t half = std::size_t(size) * (size / 2 + 1);
        m_pReal = fftwf_alloc_real(std::size_t(size) * size);
        m_pWork = fftwf_alloc_complex(half);
        m_pReference = fftwf_alloc_complex(half);
        m_pCross = fftwf_alloc_complex(half);
        // FFTW_ESTIMATE: planning must not overwrite the arrays and should take no time.
        std::lock_guard lock(PlannerLock());
        const int half1 = size / 2, halfWidth = size / 2 + 1;
        auto* pairs = reinterpret_cast<fftwf_complex*>(m_pReal);
        m_rowsForward = fftwf_plan_many_dft(1, &half1, size, pairs, nullptr, 1, half1, pairs,
                                            nullptr, 1, half1, FFTW_FORWARD, FFTW_ESTIMATE);
        m_rowsBackward = fftwf_plan_many_dft(1, &half1, size, pairs, nullptr, 1, half1, pairs,
                                             nullptr, 1, half1, FFTW_BACKWARD, FFTW_ESTIMATE);
        m_columnsForward =
            fftwf_plan_many_dft(1, &size, halfWidth, m_pWork, nullptr, halfWidth, 1, m_pWork,
                                nullptr, halfWidth, 1, FFTW_FORWARD, FFTW_ESTIMATE);
        m_columnsBackward =
            fftwf_plan_many_dft(1, &size, halfWidth, m_pWork, nullptr, halfWidth, 1, m_pWork,
                                nullptr, halfWidth, 1, FFTW_BACKWARD, FFTW_ESTIMATE);
        m_turns.resize(2 * std::size_t(halfWidth));
        for (int k = 0; k < halfWidth; ++k) {
            const std::complex<double> turn = std::polar(1.0, -2 * std::numbers::pi * k / size);
            m_turns[2 * std::size_t(k)] = float(turn.real());
            m_turns[2 * std::size_t(k) + 1] = float(turn.imag());
        }
        m_nSize = size;
        m_lowPass.resize(half);
        for (int v = 0; v < size; ++v) {
            const double fv = double(Frequency(v, size)) / size;
            for (int u = 0; u < size / 2 + 1; ++u) {
                const double fu = double(u) / size;
                // Nothing on the Nyquist row and column (see Register).
                const bool nyquist = v == size / 2 || u == size / 2;
                m_lowPass[std::size_t(v) * (size / 2 + 1) + u] =
                    nyquist ? 0.0f
                            : float(std::exp(-(fu * fu + fv * fv) / (2 * kLowPass * kLowPass)));
            }
        }
        m_taper.resize(std::size_t(size));
        for (int i = 0; i < size; ++i)
            m_taper[std::size_t(i)] = float(0.5 - 0.5 * std::cos(2 * std::numbers::pi * i / size));
    }
    m_nLeft = (reference.m_nWidth - size) / 2;
    m_nTop = (reference.m_nHeight - size) / 2;
    if (!LoadSpectrum(reference)) {
        if (why)
            *why = "the reference has no contrast to register on";
        Release();
        return false;
    }
    const std::size_t half = std::size_t(size) * (size / 2 + 1);
    const Complex* work = AsComplex(m_pWork);
    Complex* ref = AsComplex(m_pReference);
    for (std::size_t i = 0; i < half; ++i) ref[i] = std::conj(work[i]);
    return true;
}

bool CImageRegistration::LoadSpectrum(const CImageView& image) {
    const int size = m_nSize;
    float* real = m_pReal;
    // Mean of the window's pixels inside the picture; pixels outside it count as that mean.
    const int x0 = std::max(0, -m_nLeft), x1 = std::min(size, image.m_nWidth - m_nLeft);
    const int y0 = std::max(0, -m_nTop), y1 = std::min(size, image.m_nHeight - m_nTop);
    if (x1 - x0 < 2 || y1 - y0 < 2)
        return false;
    // The grey values are read once into the window, then made mean-free and tapered there.
    if (x0 > 0 || y0 > 0 || x1 < size || y1 < size)
        std::fill(real, real + std::size_t(size) * size, 0.0f);
    double sum = 0, squares = 0;
    float pivot = 0;
    const int rowBytes = 3 * (x1 - x0);
    for (int y = y0; y < y1; ++y) {
        // The picture was most likely not read lately: ask for a row a few rows ahead.
        if (y + 4 < y1) {
            const std::uint8_t* ahead = image.Row(m_nTop + y + 4) + 3 * (m_nLeft + x0);
            for (int i = 0; i < rowBytes; i += 64) __builtin_prefetch(ahead + i);
        }
        float* out = real + std::size_t(y) * size + x0;
        GreyRow(image.Row(m_nTop + y) + 3 * (m_nLeft + x0), out, x1 - x0);
        if (y == y0)
            pivot = out[0];
        AddDeviations(out, x1 - x0, pivot, sum, squares);
    }
    const double inside = double(x1 - x0) * double(y1 - y0);
    const double offset = sum / inside;
    if (squares / inside - offset * offset < 1e-6)
        return false;
    const float level = float(pivot + offset);
    const float* taper = m_taper.data();
    for (int y = y0; y < y1; ++y) {
        float* out = real + std::size_t(y) * size;
        const float ty = taper[y];
        for (int x = x0; x < x1; ++x) out[x] = (out[x] - level) * (taper[x] * ty);
    }
    Forward();
    return true;
}

void CImageRegistration::Forward() {
    const int half = m_nSize / 2;
    fftwf_execute(m_rowsForward);
    for (int y = 0; y < m_nSize; ++y)
        SplitRow(m_pReal + std::size_t(y) * m_nSize, m_turns.data(),
                 reinterpret_cast<float*>(m_pWork + std::size_t(y) * (half + 1)), half);
    fftwf_execute(m_columnsForward);
}

void CImageRegistration::Backward() {
    const int half = m_nSize / 2;
    fftwf_execute(m_columnsBackward);
    for (int y = 0; y < m_nSize; ++y)
        JoinRow(reinterpret_cast<const float*>(m_pWork + std::size_t(y) * (half + 1)),
                m_turns.data(), m_pReal + std::size_t(y) * m_nSize, half);
    fftwf_execute(m_rowsBackward);
}

CRegistration CImageRegistration::Register(const CImageView& image, double minPeakRatio) {
    CRegistration result;
    if (m_nSize == 0) {
        result.m_strReason = "no reference";
        return result;
    }
    if (!LoadSpectrum(image)) {
        result.m_strReason = "no contrast to register on";
        return result;
    }
    const int size = m_nSize;
    const int halfWidth = size / 2 + 1;
    const std::size_t half = std::size_t(size) * halfWidth;
    const std::size_t n = std::size_t(size) * size;
    // The weight on the frequencies is Gaussian (the highest ones carry mostly noise and JPEG
    // blocks; a symmetric weight leaves a true peak where it is) and nothing on the Nyquist row
    // and column, which have no sign: dropping them keeps the surface real between the pixels.
    CrossPower(reinterpret_cast<float*>(m_pWork), reinterpret_cast<const float*>(m_pReference),
               m_lowPass.data(), reinterpret_cast<float*>(m_pCross), half);
    Backward();

    // The highest point (the first of equals) and the surface's sums, a row at a time.
    const float* surface = m_pReal;
    double sum = 0, squares = 0;
    float highest = surface[0];
    int py = 0;
    for (int y = 0; y < size; ++y) {
        const float rowHighest = AddSurfaceRow(surface + std::size_t(y) * size, size, sum, squares);
        if (rowHighest > highest || y == 0) {
            highest = rowHighest;
            py = y;
        }
    }
    const float* peakRow = surface + std::size_t(py) * size;
    const int px = int(std::find(peakRow, peakRow + size, highest) - peakRow);
    const std::size_t peak = std::size_t(py) * size + px;
    std::size_t count = n;
    for (int dy = -kPeakRadius; dy <= kPeakRadius; ++dy)
        for (int dx = -kPeakRadius; dx <= kPeakRadius; ++dx) {
            const int x = (px + dx + size) % size, y = (py + dy + size) % size;
            const double v = surface[std::size_t(y) * size + x];
            sum -= v;
            squares -= v * v;
            --count;
        }
    const double mean = sum / double(count);
    const double spread = std::sqrt(std::max(squares / double(count) - mean * mean, 1e-300));
    result.m_dPeakRatio = (surface[peak] - mean) / spread;
    if (!(result.m_dPeakRatio >= minPeakRatio)) {
        char text[96];
        std::snprintf(text, sizeof text, "correlation peak too weak (%.1f, needs %.1f)",
                      result.m_dPeakRatio, minPeakRatio);
        result.m_strReason = text;
        return result;
    }

    // Whole-pixel shift, wrapped into [-size/2, size/2), then refined between the pixels.
    const double x0 = Frequency(px, size);
    const double y0 = Frequency(py, size);
    const double x1 = RefineAlong(false, y0, x0, 1.0);
    const double y1 = RefineAlong(true, x1, y0, 1.0);
    const double x2 = RefineAlong(false, y1, x1, 0.25);
    result.m_dx = x2;
    result.m_dy = y1;
    result.m_bOk = true;
    return result;
}

double CImageRegistration::RefineAlong(bool bAlongY, double fixed, double x0, double reach) {
    const int size = m_nSize;
    const int halfWidth = size / 2 + 1;
    const float* cross = reinterpret_cast<const float*>(m_pCross);
    const double step = 2 * std::numbers::pi / size;
    // The spectrum holds the x frequencies u = 0 .. size/2 only (the others are the conjugates
    // of these): every u above 0 counts twice, and only real parts are summed.
    // Along x: line(u) = w(u) sum over v of R(u, v) e^(i 2 pi v fixed / size); the surface at x
    // is Re sum over u of line(u) e^(i 2 pi u x / size). Along y: line(v) = sum over u of w(u)
    // R(u, v) e^(i 2 pi u fixed / size), the surface at y is Re sum over v of line(v)
    // e^(i 2 pi v y / size). `line` is kept in order of signed frequency from `lowest` up.
    // Turns e^(i step f fixed) for f = 0 .. size/2 by a recurrence (negative f: conjugates).
    const int length = bAlongY ? size : halfWidth;
    const int lowest = bAlongY ? -size / 2 : 0;
    m_scratch.assign(std::size_t(8) * size, 0.0);
    double* lineRe = m_scratch.data();
    double* lineIm = lineRe + size;
    double* turnRe = lineIm + size;
    double* turnIm = turnRe + size;
    {
        const std::complex<double> turn = std::polar(1.0, step * fixed);
        std::complex<double> z = 1.0;
        for (int f = 0; f < halfWidth; ++f, z *= turn) {
            turnRe[f] = z.real();
            turnIm[f] = z.imag();
        }
    }
    float lineF[2 * kMaxWindow], turnF[4 * kMaxWindow];
    if (bAlongY) {
        float* real = turnF;
        float* imag = turnF + 2 * kMaxWindow;
        for (int u = 0; u < halfWidth; ++u) {
            const double w = u == 0 ? 1 : 2;
            real[2 * u] = real[2 * u + 1] = float(w * turnRe[u]);
            imag[2 * u + 1] = float(w * turnIm[u]);
            imag[2 * u] = -imag[2 * u + 1];
        }
        for (int v = 0; v < size; ++v) {
            const std::complex<double> s =
                TurnedSum(cross + std::size_t(v) * 2 * halfWidth, real, imag, halfWidth);
            lineRe[Frequency(v, size) - lowest] = s.real();
            lineIm[Frequency(v, size) - lowest] = s.imag();
        }
    } else {
        std::fill(lineF, lineF + 2 * kMaxWindow, 0.0f);
        for (int v = 0; v < size; ++v) {
            const int f = Frequency(v, size);
            const float pr = float(turnRe[std::abs(f)]);
            const float pi = float(f < 0 ? -turnIm[-f] : turnIm[f]);
            AddTurnedRow(cross + std::size_t(v) * 2 * halfWidth, pr, pi, lineF, lineF + kMaxWindow,
                         halfWidth);
        }
        for (int u = 0; u < halfWidth; ++u) {
            lineRe[u] = (u == 0 ? 1 : 2) * double(lineF[u]);
            lineIm[u] = (u == 0 ? 1 : 2) * double(lineF[kMaxWindow + u]);
        }
    }
    // The surface at x = start + s h for s = 0 .. count - 1 into values: the line turned to
    // `start`, then turned on by one step h at a time.
    double* cRe = turnIm + size;
    double* cIm = cRe + size;
    double* wRe = cIm + size;
    double* wIm = wRe + size;
    const auto grid = [&](double start, double h, int count, double* values) {
        const std::complex<double> a = std::polar(1.0, step * start);
        const std::complex<double> b = std::polar(1.0, step * h);
        std::complex<double> za = std::polar(1.0, step * lowest * start);
        std::complex<double> zb = std::polar(1.0, step * lowest * h);
        for (int k = 0; k < length; ++k, za *= a, zb *= b) {
            cRe[k] = lineRe[k] * za.real() - lineIm[k] * za.imag();
            cIm[k] = lineRe[k] * za.imag() + lineIm[k] * za.real();
            wRe[k] = zb.real();
            wIm[k] = zb.imag();
        }
        PowerSums(cRe, cIm, wRe, wIm, length, count, values);
    };
    // Coarse then fine grid search, then a parabola through the best point and its neighbours.
    const int coarse = int(std::lround(reach * kCoarseSteps));
    double values[2 * (kCoarseSteps + kFineSteps) + 3] = {};
    grid(x0 - double(coarse) / kCoarseSteps, 1.0 / kCoarseSteps, 2 * coarse + 1, values);
    double best = x0;
    double bestValue = values[coarse];
    for (int s = -coarse; s <= coarse; ++s)
        if (values[s + coarse] > bestValue) {
            bestValue = values[s + coarse];
            best = x0 + double(s) / kCoarseSteps;
        }
    // The fine grid reaches one step further either way for the parabola's neighbours.
    const double h = 1.0 / (kCoarseSteps * kFineSteps);
    const double centre = best;
    const int fine = kFineSteps + 1;
    grid(centre - fine * h, h, 2 * fine + 1, values);
    int at = fine;
    for (int s = -kFineSteps; s <= kFineSteps; ++s)
        if (values[s + fine] > bestValue) {
            bestValue = values[s + fine];
            best = centre + s * h;
            at = s + fine;
        }
    const double left = values[at - 1];
    const double right = values[at + 1];
    const double curvature = left - 2 * values[at] + right;
    if (curvature < 0)
        best += 0.5 * h * (left - right) / curvature;
    return best;
}

double Sharpness(const CImageView& image) {
    if (image.m_nWidth < 2 || image.m_nHeight < 2)
        return 0;
    double sum = 0;
    for (int y = 0; y + 1 < image.m_nHeight; ++y) {
        const std::uint8_t* row = image.Row(y);
        const std::uint8_t* below = image.Row(y + 1);
        for (int x = 0; x + 1 < image.m_nWidth; ++x) {
            const double g = Grey(row + 3 * x);
            const double gx = Grey(row + 3 * x + 3) - g;
            const double gy = Grey(below + 3 * x) - g;
            sum += gx * gx + gy * gy;
        }
    }
    return sum / (double(image.m_nWidth - 1) * (image.m_nHeight - 1));
}

CGridRect ShiftOntoGrid(const CImageView& image, double dx, double dy, int width, int height,
                        std::uint8_t* grid) {
    // Whole part and fraction in 1/256 steps; a fraction that rounds to a whole pixel moves the
    // whole part.
    const auto split = [](double d, int& whole, int& frac) {
        whole = int(std::floor(d));
        frac = int(std::lround((d - whole) * 256));
        if (frac == 256) {
            ++whole;
            frac = 0;
        }
    };
    int ix, fx, iy, fy;
    split(dx, ix, fx);
    split(dy, iy, fy);
    const CTaps tx = MakeTaps(fx);
    const CTaps ty = MakeTaps(fy);
    // Grid pixels whose taps all lie inside the picture.
    CGridRect rect;
    rect.m_nLeft = std::max(0, -(ix + tx.m_nFirst));
    rect.m_nTop = std::max(0, -(iy + ty.m_nFirst));
    rect.m_nRight = std::min(width, image.m_nWidth - (ix + tx.m_nFirst + tx.m_nCount - 1));
    rect.m_nBottom = std::min(height, image.m_nHeight - (iy + ty.m_nFirst + ty.m_nCount - 1));
    if (rect.Empty())
        return CGridRect{};

    const int bytes = (rect.m_nRight - rect.m_nLeft) * 3;
    if (tx.m_nCount == 1 && ty.m_nCount == 1) {
        for (int y = rect.m_nTop; y < rect.m_nBottom; ++y) {
            const std::uint8_t* src = image.Row(y + iy) + 3 * (rect.m_nLeft + ix);
            std::copy(src, src + bytes, grid + (std::size_t(y) * width + rect.m_nLeft) * 3);
        }
        return rect;
    }
    // Rows first, kept in 1/16 units (16 bits hold them with the kernel's overshoot), then
    // columns. Each source row is taken across once, into a ring of as many rows as there are
    // taps down, just before the first grid row that needs it.
    const int firstRow = rect.m_nTop + iy + ty.m_nFirst;
    const int firstByte = 3 * (rect.m_nLeft + ix + tx.m_nFirst);
    const int taps = ty.m_nCount;
    std::vector<std::int16_t> ring(std::size_t(taps) * bytes);
#ifdef TARNWICK_PAIRED_TAPS
    const bool bAvx512 = HasAvx512();
    const bool bAvx2 = HasAvx2();
#endif
    const auto across = [&](int r) {
        const std::uint8_t* src = image.Row(firstRow + r) + firstByte;
        std::int16_t* out = ring.data() + std::size_t(r % taps) * bytes;
        if (tx.m_nCount == 1) {
            AcrossCopy(src, out, bytes);
            return;
        }
        int done = 0;
#ifdef TARNWICK_PAIRED_TAPS
        if (bAvx512)
            done = AcrossRowAvx512(src, tx.m_weights, out, bytes);
        if (bAvx2)
            done += AcrossRowAvx2(src + done, tx.m_weights, out + done, bytes - done);
#endif
        AcrossRow(src, tx.m_weights, out, done, bytes);
    };
    for (int r = 0; r + 1 < taps; ++r) across(r);
    for (int y = rect.m_nTop; y < rect.m_nBottom; ++y) {
        const int r = y - rect.m_nTop;
        across(r + taps - 1);
        std::uint8_t* out = grid + (std::size_t(y) * width + rect.m_nLeft) * 3;
        if (taps == 1) {
            DownCopy(ring.data(), out, bytes);
            continue;
        }
        const std::int16_t* rows[6];
        for (int k = 0; k < 6; ++k) rows[k] = ring.data() + std::size_t((r + k) % taps) * bytes;
        int done = 0;
#ifdef TARNWICK_PAIRED_TAPS
        if (bAvx512)
            done = DownRowAvx512(rows, ty.m_weights, out, bytes);
        if (bAvx2) {
            const std::int16_t* rest[6];
            for (int k = 0; k < 6; ++k) rest[k] = rows[k] + done;
            done += DownRowAvx2(rest, ty.m_weights, out + done, bytes - done);
        }
#endif
        DownRow(rows[0], rows[1], rows[2], rows[3], rows[4], rows[5], ty.m_weights, out, done,
                bytes);
    }
    return rect;
}
