#include "stack/still_gather.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "stack/stack_detail.h"

namespace {

// Where each grid pixel of a row falls in the frame: the frame pixel at or left of / above it
// and its offset from there in 1/256 pixel, for the lookups that follow.
[[gnu::always_inline]] inline void PlaceFineBody(const double* qx, const double* qy, int count,
                                                 std::int32_t* place) {
    std::int32_t* ixs = place;
    std::int32_t* iys = place + count;
    std::int32_t* kxs = place + 2 * count;
    std::int32_t* kys = place + 3 * count;
    for (int xx = 0; xx < count; ++xx) {
        // The floor by truncation, one down below zero: the same values, in a form the
        // vectoriser takes (grid places lie well within 32 bits).
        const double x = qx[xx], y = qy[xx];
        const std::int32_t tx = std::int32_t(x), ty = std::int32_t(y);
        const std::int32_t ix = tx - (double(tx) > x ? 1 : 0), iy = ty - (double(ty) > y ? 1 : 0);
        ixs[xx] = ix;
        iys[xx] = iy;
        kxs[xx] = std::int32_t((x - double(ix)) * 256 + 0.5);
        kys[xx] = std::int32_t((y - double(iy)) * 256 + 0.5);
    }
}

[[gnu::always_inline]] inline void GatherBody(const SGatherFrame& g, const std::int32_t* place,
                                              int count, float* sb, float* sg, float* sr, float* sw,
                                              float* sq) {
    const int w = g.m_nFrameWidth, h = g.m_nFrameHeight;
    const std::int32_t* ixs = place;
    const std::int32_t* iys = place + count;
    const std::int32_t* kxs = place + 2 * count;
    const std::int32_t* kys = place + 3 * count;
    for (int xx = 0; xx < count; ++xx) {
        const int ix = ixs[xx], iy = iys[xx], kx = kxs[xx], ky = kys[xx];
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
        const float* taps[4] = {g.m_pSamples + 4 * (std::size_t(y0) * w + x0),
                                g.m_pSamples + 4 * (std::size_t(y0) * w + x1),
                                g.m_pSamples + 4 * (std::size_t(y1) * w + x0),
                                g.m_pSamples + 4 * (std::size_t(y1) * w + x1)};
        const float weights[4] = {wx[0] * wy[0], wx[1] * wy[0], wx[0] * wy[1], wx[1] * wy[1]};
        // B, G, R and the weight itself (a tap's agreement lane read as 1) summed together.
        F4 sums = {0, 0, 0, 0};
        float wq = 0;
        for (int t = 0; t < 4; ++t) {
            const float weight = weights[t] * taps[t][3];
            F4 tap = LoadF4(taps[t]);
            tap[3] = 1.0f;
            sums += weight * tap;
            wq += weight * weight;
        }
        sb[xx] += sums[0];
        sg[xx] += sums[1];
        sr[xx] += sums[2];
        sw[xx] += sums[3];
        sq[xx] += wq;
    }
}

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

TARNWICK_AVX2_TARGET void GatherVector(const SGatherFrame& g, const double* qx, const double* qy,
                                       int count, std::int32_t* place, float* sb, float* sg,
                                       float* sr, float* sw, float* sq) {
    PlaceFineBody(qx, qy, count, place);
    GatherBody(g, place, count, sb, sg, sr, sw, sq);
}

void GatherPlain(const SGatherFrame& g, const double* qx, const double* qy, int count,
                 std::int32_t* place, float* sb, float* sg, float* sr, float* sw, float* sq) {
    PlaceFineBody(qx, qy, count, place);
    GatherBody(g, place, count, sb, sg, sr, sw, sq);
}

}  // namespace

void GatherRow(bool bAvx2, const SGatherFrame& g, const double* qx, const double* qy, int count,
               std::int32_t* place, float* sb, float* sg, float* sr, float* sw, float* sq) {
    (bAvx2 ? GatherVector : GatherPlain)(g, qx, qy, count, place, sb, sg, sr, sw, sq);
}

void PlaceOnReference(bool bAvx2, const double* dx, const double* dy, int y, int count, int width,
                      int height, std::int32_t* at, float* fx, float* fy) {
    bAvx2 ? PlaceOnReferenceAvx2(dx, dy, y, count, width, height, at, fx, fy)
          : PlaceOnReferencePlain(dx, dy, y, count, width, height, at, fx, fy);
}
