#include "stack/still_gather.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "stack/stack_detail.h"

#if TARNWICK_X86_VECTORS
#include <immintrin.h>
#endif

namespace {

// Four floats handled at once: a pixel's B, G, R and a fourth value side by side.
using F4 = float __attribute__((vector_size(16)));

// Where grid pixel xx falls in the frame: the frame pixel at or left of / above it and its
// offset from there in 1/256 pixel, into place's four arrays of `count`.
[[gnu::always_inline]] inline void PlaceOne(const double* xs, double y0, const double* dx,
                                            const double* dy, int count, int xx,
                                            std::int32_t* place) {
    // The floor by truncation, one down below zero: the same values, in a form the vectoriser
    // takes (grid places lie well within 32 bits).
    const double x = xs[xx] + dx[xx], y = y0 + dy[xx];
    const std::int32_t tx = std::int32_t(x), ty = std::int32_t(y);
    const std::int32_t ix = tx - (double(tx) > x ? 1 : 0), iy = ty - (double(ty) > y ? 1 : 0);
    place[xx] = ix;
    place[count + xx] = iy;
    place[2 * count + xx] = std::int32_t((x - double(ix)) * 256 + 0.5);
    place[3 * count + xx] = std::int32_t((y - double(iy)) * 256 + 0.5);
}

// Grid pixel xx's sums from the 2 x 2 frame pixels around where it falls.
[[gnu::always_inline]] inline void GatherOne(const SGatherFrame& g, const std::int32_t* place,
                                             int count, int xx, float* sb, float* sg, float* sr,
                                             float* sw, float* sq) {
    const int w = g.m_nFrameWidth, h = g.m_nFrameHeight;
    const int ix = place[xx], iy = place[count + xx];
    const int kx = place[2 * count + xx], ky = place[3 * count + xx];
    float wx[2] = {g.m_pLut[kx], g.m_pLut[256 - kx]};
    float wy[2] = {g.m_pLut[ky], g.m_pLut[256 - ky]};
    // Taps outside the frame weigh nothing (and are read at the edge instead).
    int x0 = ix, x1 = ix + 1, y0 = iy, y1 = iy + 1;
    if (x0 < 0 || x0 >= w)
        wx[0] = 0, x0 = std::clamp(x0, 0, w - 1);
    if (x1 < 0 || x1 >= w)
        wx[1] = 0, x1 = std::clamp(x1, 0, w - 1);
    if (y0 < 0 || y0 >= h)
        wy[0] = 0, y0 = std::clamp(y0, 0, h - 1);
    if (y1 < 0 || y1 >= h)
        wy[1] = 0, y1 = std::clamp(y1, 0, h - 1);
    const std::size_t at[4] = {std::size_t(y0) * w + x0, std::size_t(y0) * w + x1,
                               std::size_t(y1) * w + x0, std::size_t(y1) * w + x1};
    const float weights[4] = {wx[0] * wy[0], wx[1] * wy[0], wx[0] * wy[1], wx[1] * wy[1]};
    // B, G, R and the weight itself (a tap's agreement read as 1) summed together.
    F4 sums = {0, 0, 0, 0};
    float wq = 0;
    for (int t = 0; t < 4; ++t) {
        const float weight = weights[t] * g.m_pPlanes[3][at[t]];
        const F4 tap = {g.m_pPlanes[0][at[t]], g.m_pPlanes[1][at[t]], g.m_pPlanes[2][at[t]], 1.0f};
        sums += weight * tap;
        wq += weight * weight;
    }
    sb[xx] += sums[0];
    sg[xx] += sums[1];
    sr[xx] += sums[2];
    sw[xx] += sums[3];
    sq[xx] += wq;
}

#if TARNWICK_X86_VECTORS
// One tap of eight pixels (its B, G, R and agreement planes in c) by weight into the sums of
// B, G, R, weights and squared weights.
TARNWICK_AVX2_TARGET inline void AddTap(__m256 weight, const __m256* c, __m256* sums) {
    const __m256 wt = _mm256_mul_ps(weight, c[3]);
    for (int k = 0; k < 3; ++k) sums[k] = _mm256_add_ps(sums[k], _mm256_mul_ps(wt, c[k]));
    sums[3] = _mm256_add_ps(sums[3], wt);  // wt times the lane read as 1
    sums[4] = _mm256_add_ps(sums[4], _mm256_mul_ps(wt, wt));
}

// lut[k] for eight offsets k (0..256): where they lie within eight of each other, as along a
// row they mostly do, one load of the table and a permutation, else a gather. The table has
// room for 8 floats past its end (SGatherFrame).
TARNWICK_AVX2_TARGET inline __m256 LookUpEight(const float* lut, __m256i k) {
    const int base = std::max(0, _mm256_cvtsi256_si32(k) - 3);
    const __m256i rel = _mm256_sub_epi32(k, _mm256_set1_epi32(base));
    const __m256i off = _mm256_or_si256(_mm256_cmpgt_epi32(_mm256_setzero_si256(), rel),
                                        _mm256_cmpgt_epi32(rel, _mm256_set1_epi32(7)));
    if (_mm256_testz_si256(off, off))
        return _mm256_permutevar8x32_ps(_mm256_loadu_ps(lut + base), rel);
    return _mm256_i32gather_ps(lut, k, 4);
}

// PlaceOne for eight grid pixels, in registers: the same values.
TARNWICK_AVX2_TARGET inline void PlaceEight(const double* xs, double y0, const double* dx,
                                            const double* dy, __m256i* out) {
    const __m256d scale = _mm256_set1_pd(256), half = _mm256_set1_pd(0.5);
    const __m256d y = _mm256_set1_pd(y0);
    __m128i parts[4][2];
    for (int h = 0; h < 2; ++h) {
        const __m256d x = _mm256_add_pd(_mm256_loadu_pd(xs + 4 * h), _mm256_loadu_pd(dx + 4 * h));
        const __m256d v = _mm256_add_pd(y, _mm256_loadu_pd(dy + 4 * h));
        const __m256d fx = _mm256_floor_pd(x), fy = _mm256_floor_pd(v);
        parts[0][h] = _mm256_cvttpd_epi32(fx);
        parts[1][h] = _mm256_cvttpd_epi32(fy);
        parts[2][h] =
            _mm256_cvttpd_epi32(_mm256_add_pd(_mm256_mul_pd(_mm256_sub_pd(x, fx), scale), half));
        parts[3][h] =
            _mm256_cvttpd_epi32(_mm256_add_pd(_mm256_mul_pd(_mm256_sub_pd(v, fy), scale), half));
    }
    for (int k = 0; k < 4; ++k)
        out[k] = _mm256_inserti128_si256(_mm256_castsi128_si256(parts[k][0]), parts[k][1], 1);
}

// Eight grid pixels at once where all their taps lie inside the frame. On a finer grid eight
// neighbouring grid pixels mostly fall in one frame row and a few columns: each plane's two
// rows are then read as eight floats from the leftmost column and each pixel's taps picked
// out of them (sixteen, two loads, where they reach farther, as on the frames' own grid);
// otherwise they are gathered. Each pixel's operations are the plain build's, in its order:
// the same bits. Pixels at the frame's edges go one at a time.
TARNWICK_AVX2_TARGET void GatherAvx2(const SGatherFrame& g, const double* xs, double y0,
                                     const double* dx, const double* dy, int count,
                                     std::int32_t* place, float* sb, float* sg, float* sr,
                                     float* sw, float* sq) {
    const int w = g.m_nFrameWidth;
    const __m256i zero = _mm256_setzero_si256(), full = _mm256_set1_epi32(256);
    const __m256i one = _mm256_set1_epi32(1), seven = _mm256_set1_epi32(7);
    const __m256i six = _mm256_set1_epi32(6), fourteen = _mm256_set1_epi32(14);
    const __m256i iota = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    const __m256i lastX = _mm256_set1_epi32(w - 2), lastY = _mm256_set1_epi32(g.m_nFrameHeight - 2),
                  width = _mm256_set1_epi32(w);
    int xx = 0;
    for (; xx + 8 <= count; xx += 8) {
        __m256i where[4];
        PlaceEight(xs + xx, y0, dx + xx, dy + xx, where);
        const __m256i ix = where[0], iy = where[1], kx = where[2], ky = where[3];
        const __m256i outside = _mm256_or_si256(
            _mm256_or_si256(_mm256_cmpgt_epi32(zero, ix), _mm256_cmpgt_epi32(ix, lastX)),
            _mm256_or_si256(_mm256_cmpgt_epi32(zero, iy), _mm256_cmpgt_epi32(iy, lastY)));
        if (!_mm256_testz_si256(outside, outside)) {
            for (int k = 0; k < 4; ++k)
                _mm256_storeu_si256(reinterpret_cast<__m256i*>(place + k * count + xx), where[k]);
            for (int i = 0; i < 8; ++i) GatherOne(g, place, count, xx + i, sb, sg, sr, sw, sq);
            continue;
        }
        const __m256 wx0 = LookUpEight(g.m_pLut, kx);
        const __m256 wx1 = LookUpEight(g.m_pLut, _mm256_sub_epi32(full, kx));
        const __m256 wy0 = LookUpEight(g.m_pLut, ky);
        const __m256 wy1 = LookUpEight(g.m_pLut, _mm256_sub_epi32(full, ky));
        const int ix0 = _mm256_cvtsi256_si32(ix), iy0 = _mm256_cvtsi256_si32(iy);
        const __m256i rel = _mm256_sub_epi32(ix, _mm256_set1_epi32(ix0));
        const __m256i rel1 = _mm256_add_epi32(rel, one);
        const __m256i otherRow = _mm256_xor_si256(iy, _mm256_set1_epi32(iy0));
        const bool bOneRow = _mm256_testz_si256(otherRow, otherRow);
        const __m256i behind = _mm256_cmpgt_epi32(zero, rel);
        const __m256i past8 = _mm256_or_si256(behind, _mm256_cmpgt_epi32(rel, six));
        const __m256i past16 = _mm256_or_si256(behind, _mm256_cmpgt_epi32(rel, fourteen));
        // Pixel i's left tap in column ix0 + i (on the frames' own grid, mostly): two plain
        // loads a row, nothing to pick.
        const __m256i apart = _mm256_xor_si256(rel, iota);
        const int reach = !bOneRow                                              ? 0
                          : _mm256_testz_si256(apart, apart)                    ? 1
                          : _mm256_testz_si256(past8, past8) && ix0 + 8 <= w    ? 8
                          : _mm256_testz_si256(past16, past16) && ix0 + 16 <= w ? 16
                                                                                : 0;
        const __m256i at = _mm256_add_epi32(_mm256_mullo_epi32(iy, width), ix);
        __m256 sums[5] = {};
        // Tap row r: the left and right taps' planes, then their share of the sums.
        for (int r = 0; r < 2; ++r) {
            __m256 left[4], right[4];
            if (reach == 1) {
                for (int c = 0; c < 4; ++c) {
                    const float* p = g.m_pPlanes[c] + std::size_t(iy0 + r) * w + ix0;
                    left[c] = _mm256_loadu_ps(p);
                    right[c] = _mm256_loadu_ps(p + 1);
                }
            } else if (reach == 8) {
                for (int c = 0; c < 4; ++c) {
                    const __m256 v =
                        _mm256_loadu_ps(g.m_pPlanes[c] + std::size_t(iy0 + r) * w + ix0);
                    left[c] = _mm256_permutevar8x32_ps(v, rel);
                    right[c] = _mm256_permutevar8x32_ps(v, rel1);
                }
            } else if (reach == 16) {
                const __m256 high = _mm256_castsi256_ps(_mm256_cmpgt_epi32(rel, seven));
                const __m256 high1 = _mm256_castsi256_ps(_mm256_cmpgt_epi32(rel1, seven));
                for (int c = 0; c < 4; ++c) {
                    const float* p = g.m_pPlanes[c] + std::size_t(iy0 + r) * w + ix0;
                    const __m256 lo = _mm256_loadu_ps(p), hi = _mm256_loadu_ps(p + 8);
                    left[c] = _mm256_blendv_ps(_mm256_permutevar8x32_ps(lo, rel),
                                               _mm256_permutevar8x32_ps(hi, rel), high);
                    right[c] = _mm256_blendv_ps(_mm256_permutevar8x32_ps(lo, rel1),
                                                _mm256_permutevar8x32_ps(hi, rel1), high1);
                }
            } else {
                const __m256i row = r ? _mm256_add_epi32(at, width) : at;
                const __m256i next = _mm256_add_epi32(row, one);
                for (int c = 0; c < 4; ++c) {
                    left[c] = _mm256_i32gather_ps(g.m_pPlanes[c], row, 4);
                    right[c] = _mm256_i32gather_ps(g.m_pPlanes[c], next, 4);
                }
            }
            const __m256 wy = r ? wy1 : wy0;
            AddTap(_mm256_mul_ps(wx0, wy), left, sums);
            AddTap(_mm256_mul_ps(wx1, wy), right, sums);
        }
        float* planes[5] = {sb, sg, sr, sw, sq};
        for (int k = 0; k < 5; ++k)
            _mm256_storeu_ps(planes[k] + xx,
                             _mm256_add_ps(_mm256_loadu_ps(planes[k] + xx), sums[k]));
    }
    for (; xx < count; ++xx) {
        PlaceOne(xs, y0, dx, dy, count, xx, place);
        GatherOne(g, place, count, xx, sb, sg, sr, sw, sq);
    }
}
#endif

[[gnu::always_inline]] inline void PlaceOnReferenceBody(const double* dx, const double* dy, int y,
                                                        int count, int width, int height,
                                                        std::int32_t* at, float* fx, float* fy) {
    const double right = width - 1, bottom = height - 1;
    const int lastX = std::max(0, width - 2), lastY = std::max(0, height - 2);
    for (int x = 0; x < count; ++x) {
        const double rx = std::min(std::max(x - dx[x], 0.0), right);
        const double ry = std::min(std::max(y - dy[x], 0.0), bottom);
        const int ix = std::min(int(rx), lastX), iy = std::min(int(ry), lastY);
        at[x] = iy * width + ix;
        fx[x] = float(rx - ix);
        fy[x] = float(ry - iy);
    }
}
TARNWICK_TWO_BUILDS(PlaceOnReference)

[[gnu::always_inline]] inline void LeastAcrossBody(const float* v, int count, float* out) {
    if (count == 1) {
        out[0] = v[0];
        return;
    }
    out[0] = std::min(v[0], v[1]);
    for (int x = 1; x + 1 < count; ++x) out[x] = std::min(std::min(v[x - 1], v[x]), v[x + 1]);
    out[count - 1] = std::min(v[count - 2], v[count - 1]);
}
TARNWICK_TWO_BUILDS(LeastAcross)

[[gnu::always_inline]] inline void LeastDownBody(const float* up, const float* row,
                                                 const float* down, int count, float* out) {
    for (int x = 0; x < count; ++x)
        out[x] = std::min(std::min(std::min(1.0f, up[x]), row[x]), down[x]);
}
TARNWICK_TWO_BUILDS(LeastDown)

// Frame pixel x of a row weighed against the estimate.
[[gnu::always_inline]] inline void WeighOne(const SWeighRow& r, const std::uint8_t* bgr,
                                            const std::int32_t* at, const float* fxs,
                                            const float* fys, int x, float* const* samples,
                                            float* agreement) {
    const float fx = fxs[x], fy = fys[x];
    const std::size_t i00 = std::size_t(at[x]);
    const std::size_t i01 = i00 + r.m_nRight, i10 = i00 + r.m_nBelow, i11 = i10 + r.m_nRight;
    const float w00 = (1 - fx) * (1 - fy), w01 = fx * (1 - fy), w10 = (1 - fx) * fy, w11 = fx * fy;
    float est[4];
    for (int c = 0; c < 4; ++c) {
        const float* plane = r.m_pPlanes[c];
        est[c] = w00 * plane[i00] + w01 * plane[i01] + w10 * plane[i10] + w11 * plane[i11];
    }
    const std::uint8_t* p = bgr + 3 * std::size_t(x);
    float worst = 0;
    for (int c = 0; c < 3; ++c) {
        const float miss = p[c] - est[c];
        samples[c][x] = r.m_bResidual ? miss : float(p[c]);
        worst = std::max(worst, std::fabs(miss));
    }
    // Each colour against the estimate's: an object of the scene's mean grey but of another
    // hue is as foreign as a dark one.
    agreement[x] = r.m_bReject ? std::clamp(2.0f - worst / est[3], 0.0f, 1.0f) : 1.0f;
}

#if TARNWICK_X86_VECTORS
// Eight frame pixels at once. Where they fall on eight neighbouring pixels of the reference's
// grid, as they mostly do, each estimate plane's four taps are plain loads; elsewhere they are
// gathered. Each pixel's operations are the plain build's, in its order.
TARNWICK_AVX2_TARGET void WeighAvx2(const SWeighRow& r, const std::uint8_t* bgr,
                                    const std::int32_t* at, const float* fxs, const float* fys,
                                    int count, float* const* samples, float* agreement) {
    const __m256 one = _mm256_set1_ps(1.0f), two = _mm256_set1_ps(2.0f);
    const __m256 zero = _mm256_setzero_ps();
    const __m256 magnitude = _mm256_castsi256_ps(_mm256_set1_epi32(0x7fffffff));
    const __m256i iota = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    const __m256i right = _mm256_set1_epi32(int(r.m_nRight));
    const __m256i below = _mm256_set1_epi32(int(r.m_nBelow));
    // Eight pixels' 24 bytes (B, G, R each) into the low eight bytes of three registers.
    const __m128i pickLow[3] = {
        _mm_setr_epi8(0, 3, 6, 9, 12, 15, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1),
        _mm_setr_epi8(1, 4, 7, 10, 13, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1),
        _mm_setr_epi8(2, 5, 8, 11, 14, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1)};
    const __m128i pickHigh[3] = {
        _mm_setr_epi8(-1, -1, -1, -1, -1, -1, 2, 5, -1, -1, -1, -1, -1, -1, -1, -1),
        _mm_setr_epi8(-1, -1, -1, -1, -1, 0, 3, 6, -1, -1, -1, -1, -1, -1, -1, -1),
        _mm_setr_epi8(-1, -1, -1, -1, -1, 1, 4, 7, -1, -1, -1, -1, -1, -1, -1, -1)};
    int x = 0;
    for (; x + 8 <= count; x += 8) {
        const __m256 fx = _mm256_loadu_ps(fxs + x), fy = _mm256_loadu_ps(fys + x);
        const __m256 gx = _mm256_sub_ps(one, fx), gy = _mm256_sub_ps(one, fy);
        const __m256 w00 = _mm256_mul_ps(gx, gy), w01 = _mm256_mul_ps(fx, gy);
        const __m256 w10 = _mm256_mul_ps(gx, fy), w11 = _mm256_mul_ps(fx, fy);
        const __m256i i00 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + x));
        const int first = at[x];
        const __m256i apart =
            _mm256_xor_si256(i00, _mm256_add_epi32(_mm256_set1_epi32(first), iota));
        const bool bRun = _mm256_testz_si256(apart, apart);
        const __m256i i01 = _mm256_add_epi32(i00, right), i10 = _mm256_add_epi32(i00, below);
        const __m256i i11 = _mm256_add_epi32(i10, right);
        __m256 est[4];
        for (int c = 0; c < 4; ++c) {
            const float* plane = r.m_pPlanes[c];
            __m256 t[4];
            if (bRun) {
                const float* q = plane + first;
                t[0] = _mm256_loadu_ps(q);
                t[1] = _mm256_loadu_ps(q + r.m_nRight);
                t[2] = _mm256_loadu_ps(q + r.m_nBelow);
                t[3] = _mm256_loadu_ps(q + r.m_nBelow + r.m_nRight);
            } else {
                t[0] = _mm256_i32gather_ps(plane, i00, 4);
                t[1] = _mm256_i32gather_ps(plane, i01, 4);
                t[2] = _mm256_i32gather_ps(plane, i10, 4);
                t[3] = _mm256_i32gather_ps(plane, i11, 4);
            }
            est[c] = _mm256_add_ps(
                _mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(w00, t[0]), _mm256_mul_ps(w01, t[1])),
                              _mm256_mul_ps(w10, t[2])),
                _mm256_mul_ps(w11, t[3]));
        }
        const std::uint8_t* b = bgr + 3 * std::size_t(x);
        const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b));
        const __m128i high = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(b + 16));
        __m256 worst = zero;
        for (int c = 0; c < 3; ++c) {
            const __m128i bytes = _mm_or_si128(_mm_shuffle_epi8(low, pickLow[c]),
                                               _mm_shuffle_epi8(high, pickHigh[c]));
            const __m256 p = _mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(bytes));
            const __m256 miss = _mm256_sub_ps(p, est[c]);
            _mm256_storeu_ps(samples[c] + x, r.m_bResidual ? miss : p);
            worst = _mm256_max_ps(worst, _mm256_and_ps(miss, magnitude));
        }
        const __m256 agree =
            r.m_bReject
                ? _mm256_max_ps(
                      _mm256_min_ps(_mm256_sub_ps(two, _mm256_div_ps(worst, est[3])), one), zero)
                : one;
        _mm256_storeu_ps(agreement + x, agree);
    }
    for (; x < count; ++x) WeighOne(r, bgr, at, fxs, fys, x, samples, agreement);
}
#endif

void GatherPlain(const SGatherFrame& g, const double* xs, double y, const double* dx,
                 const double* dy, int count, std::int32_t* place, float* sb, float* sg, float* sr,
                 float* sw, float* sq) {
    // The places first, in a loop the vectoriser takes.
    for (int xx = 0; xx < count; ++xx) PlaceOne(xs, y, dx, dy, count, xx, place);
    for (int xx = 0; xx < count; ++xx) GatherOne(g, place, count, xx, sb, sg, sr, sw, sq);
}

}  // namespace

void GatherRow(bool bAvx2, const SGatherFrame& g, const double* xs, double y, const double* dx,
               const double* dy, int count, std::int32_t* place, float* sb, float* sg, float* sr,
               float* sw, float* sq) {
#if TARNWICK_X86_VECTORS
    if (bAvx2) {
        GatherAvx2(g, xs, y, dx, dy, count, place, sb, sg, sr, sw, sq);
        return;
    }
#else
    (void)bAvx2;
#endif
    GatherPlain(g, xs, y, dx, dy, count, place, sb, sg, sr, sw, sq);
}

void PlaceOnReference(bool bAvx2, const double* dx, const double* dy, int y, int count, int width,
                      int height, std::int32_t* at, float* fx, float* fy) {
    bAvx2 ? PlaceOnReferenceAvx2(dx, dy, y, count, width, height, at, fx, fy)
          : PlaceOnReferencePlain(dx, dy, y, count, width, height, at, fx, fy);
}

void WeighRow(bool bAvx2, const SWeighRow& r, const std::uint8_t* bgr, const std::int32_t* at,
              const float* fx, const float* fy, int count, float* const* sample, float* agreement) {
#if TARNWICK_X86_VECTORS
    if (bAvx2) {
        WeighAvx2(r, bgr, at, fx, fy, count, sample, agreement);
        return;
    }
#else
    (void)bAvx2;
#endif
    for (int x = 0; x < count; ++x) WeighOne(r, bgr, at, fx, fy, x, sample, agreement);
}

void LeastAcross(bool bAvx2, const float* v, int count, float* out) {
    bAvx2 ? LeastAcrossAvx2(v, count, out) : LeastAcrossPlain(v, count, out);
}

void LeastDown(bool bAvx2, const float* up, const float* row, const float* down, int count,
               float* out) {
    bAvx2 ? LeastDownAvx2(up, row, down, count, out) : LeastDownPlain(up, row, down, count, out);
}
