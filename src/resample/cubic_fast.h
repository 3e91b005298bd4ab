// The fast cubic pass: the same bytes as RunCubicPass (cubic_pass.h), from coefficient tables
// planned once per resize, vector kernels chosen at run time, and destination rows split across
// threads.
//
// Every kernel keeps the reference's arithmetic lane by lane: the same double operations in the
// same order, the same float storage points, no fused multiply-add, and the final conversion
// rounding to nearest even before the clamp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "resample/cubic_grid.h"
#include "resample/resample_options.h"

// Tables of one resize. Element k of a row (destination column k / channels, channel k % channels)
// reads source bytes first[k] + {0, 1, 2, 3} x pixelBytes of a source row.
struct CubicPlan {
    int count = 0;  // columns x channels
    int pixelBytes = 0;
    std::vector<std::int32_t> first;
    // The column's coefficients (floats, widened), repeated for each channel.
    std::vector<double> g, h, l;
    // For vector loads: per group of 8 elements, the row offsets of two 16-byte windows holding
    // the samples of elements 0-3 and 4-7 (-1: not within 16 bytes, or past the row's end), and
    // 32 shuffle indices picking each element's four samples into one 32-bit lane.
    std::vector<std::int32_t> window;
    std::vector<std::uint8_t> shuffle;
    // Per destination row: base source row and the coefficients of its fraction, widened.
    std::vector<std::int32_t> rowBase;
    std::vector<double> rowG, rowH, rowL;
};
// `srcRowBytes`: the bytes of a source row that may be read. Throws std::bad_alloc when the
// tables cannot be allocated.
CubicPlan MakeCubicPlan(const CubicGrid& grid, int channels, int pixelBytes, int srcRowBytes);
// Fills window and shuffle from count, pixelBytes and first.
void PlanVectorWindows(CubicPlan& plan, int srcRowBytes);

// Most destination rows one vertical kernel call writes; longer runs sharing a window take
// several calls.
inline constexpr int kWindowRows = 8;

// The kernels of one instruction set. Counts are elements (floats in, bytes out).
struct CubicKernels {
    // One source row through the horizontal pass: plan.count floats.
    void (*horizontal)(const std::uint8_t* srcRow, const CubicPlan& plan, float* out);
    // Destination rows 0..rows-1 (1 to kWindowRows) that share the window of horizontal rows a,
    // b, c, d: the window's differences, each rounded to float, are formed once per element and
    // give every row's bytes at that row's coefficients g[r], h[r], l[r] into dst[r].
    void (*vertical)(const float* a, const float* b, const float* c, const float* d, int count,
                     int rows, const double* g, const double* h, const double* l,
                     std::uint8_t* const* dst);
};
// Kernels for kBaseline, kAvx2 or kAvx512 (the caller checks that the processor has them).
const CubicKernels& CubicKernelsFor(ResampleKernel kernel);

// Whole pass, as RunCubicPass, over a source `srcWidth` pixels wide, with `kernel` (not kScalar) on
// `threads` threads (at most one per destination row), each band of rows with its own row cache.
// False when a row buffer cannot be allocated; throws std::bad_alloc when the tables cannot.
bool RunCubicPassFast(const CubicGrid& grid, int srcWidth, const std::uint8_t* srcData,
                      std::ptrdiff_t srcStep, int srcPixelBytes, std::uint8_t* dstData,
                      std::ptrdiff_t dstStep, int channels, ResampleKernel kernel, int threads);
