// Inside src/stack: the still merge's loops over a row, each in a plain and an AVX2 build that
// give the same bits (where a frame row falls on the reference's grid, its weighing against the
// estimate, the gathering of one grid row), in a file of their own so that they are built with
// -O3 while the rest of the merge is not, where -O3 made the per-pixel lookups slower.
#pragma once

#include <cstddef>
#include <cstdint>

// A frame's samples as the gathering reads them: planes of B, G, R (less the estimate, on a
// finer grid) and of the weight by agreement; and the weight by distance (in 1/256 frame
// pixel), 257 values followed by room for 8 more (read, never used).
struct SGatherFrame {
    const float* m_pPlanes[4];
    int m_nFrameWidth;
    int m_nFrameHeight;
    const float* m_pLut;
};

// Gathers one grid row: grid pixel xx takes the 2 x 2 frame pixels around where it falls in
// the frame (xs[xx] + dx[xx], y + dy[xx]), weighted by distance and by agreement, into the
// row's sums of B, G, R, weights and squared weights. `place` is room for 4 x count values.
// The AVX2 build (bAvx2) gives the same bits as the plain one.
void GatherRow(bool bAvx2, const SGatherFrame& g, const double* xs, double y, const double* dx,
               const double* dy, int count, std::int32_t* place, float* sb, float* sg, float* sr,
               float* sw, float* sq);

// Where frame pixels x = 0 .. count - 1 of row y fall on the reference's width x height grid,
// moved back by (dx, dy) and clamped to it: the top left of the 2 x 2 pixels around each (a
// pixel index) and the offsets from there. The AVX2 build gives the same bits as the plain one.
void PlaceOnReference(bool bAvx2, const double* dx, const double* dy, int y, int count, int width,
                      int height, std::int32_t* at, float* fx, float* fy);

// What weighing a frame row against the estimate reads: the estimate's planes of B, G, R and
// tolerance on the reference's grid, the step to a pixel's right and lower neighbours there (0
// on a grid one pixel wide or high), whether samples are residuals and whether disagreeing ones
// are rejected.
struct SWeighRow {
    const float* m_pPlanes[4];
    std::size_t m_nRight;
    std::size_t m_nBelow;
    bool m_bResidual;
    bool m_bReject;
};

// Weighs `count` frame pixels (bgr, 3 bytes each) against the estimate where they fall on the
// reference's grid (at, fx, fy from PlaceOnReference): each sample's B, G, R (less the
// estimate when residuals) into the rows samples[0..2], and how well it agrees, 0..1, into
// agreement. The AVX2 build gives the same bits as the plain one.
void WeighRow(bool bAvx2, const SWeighRow& r, const std::uint8_t* bgr, const std::int32_t* at,
              const float* fx, const float* fy, int count, float* const* samples, float* agreement);

// out[x], the least of v[x - 1], v[x] and v[x + 1] (those inside the row).
void LeastAcross(bool bAvx2, const float* v, int count, float* out);
// out[x], the least of 1, up[x], row[x] and down[x].
void LeastDown(bool bAvx2, const float* up, const float* row, const float* down, int count,
               float* out);
