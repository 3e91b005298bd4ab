// Moving a picture onto the reference's grid: separable Lanczos taps in fixed point, the plain
// row loops, and the same loops with AVX2 and AVX-512 where the processor has them.
#include "stack/image_warp.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <vector>

#include "platform/cpu_features.h"
#include "stack/stack_detail.h"

#if TARNWICK_X86_VECTORS
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

using registration_detail::Avx2Loops;

namespace {

// Lobes of the Lanczos kernel that moves pictures onto the grid: 2 x this many taps a side.
constexpr int kLanczosLobes = 3;

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
[[gnu::always_inline]] inline void AcrossCopyBody(const std::uint8_t* __restrict src,
                                                  std::int16_t* __restrict out, int n) {
    for (int i = 0; i < n; ++i) out[i] = std::int16_t(src[i] * 16);
}

TARNWICK_TWO_BUILDS(AcrossCopy)

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
[[gnu::always_inline]] inline void DownCopyBody(const std::int16_t* __restrict r0,
                                                std::uint8_t* __restrict out, int n) {
    for (int i = 0; i < n; ++i)
        out[i] = std::uint8_t(std::clamp(((1 << 15) + r0[i] * 4096) >> 16, 0, 255));
}

TARNWICK_TWO_BUILDS(DownCopy)

#if TARNWICK_X86_VECTORS
// The same two passes 16 values at a time with AVX2: the taps go in pairs through the 16-bit
// multiply-add (the weights fit 16 bits, the sums of two products 32), which gives exactly the
// integer sums above. Packing back to 16 and 8 bits saturates where the plain loops clip.
#define TARNWICK_PAIRED_TAPS 1

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

}  // namespace

CGridRect ShiftOntoGrid(const CImageView& image, double dx, double dy, int width, int height,
                        std::uint8_t* grid, bool bVectors) {
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
    const bool bAvx2 = Avx2Loops(bVectors);
#ifdef TARNWICK_PAIRED_TAPS
    const bool bAvx512 = bVectors && CpuFeatures().m_bAvx512Bw;
#endif
    const auto across = [&](int r) {
        const std::uint8_t* src = image.Row(firstRow + r) + firstByte;
        std::int16_t* out = ring.data() + std::size_t(r % taps) * bytes;
        if (tx.m_nCount == 1) {
            bAvx2 ? AcrossCopyAvx2(src, out, bytes) : AcrossCopyPlain(src, out, bytes);
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
            const std::int16_t* row = ring.data();
            bAvx2 ? DownCopyAvx2(row, out, bytes) : DownCopyPlain(row, out, bytes);
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
