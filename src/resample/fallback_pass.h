// Passes for sources too small for the cubic: linear interpolation (fixed point, 16384 = 1) for a
// source under 4 pixels on a side, nearest neighbour for one under 2.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "resample/cubic_grid.h"

// Linear table of one axis: sample i mixes pixel base (weight 16384 - weight) with base + 1
// (weight). Positions start at 0.0 and advance by repeated addition of the step.
struct LinearAxis {
    std::vector<std::int32_t> base;
    std::vector<std::int32_t> weight;
};
// `srcSize` is at least 2. Keep in step with the border rule of the cubic grid.
LinearAxis MakeLinearAxis(int srcSize, const ZoomAxis& axis);
// Samples window.first to window.first + window.count - 1 of that table (see MakeCubicAxis).
LinearAxis MakeLinearAxis(int srcSize, const ZoomAxis& axis, AxisWindow window);

// Nearest-neighbour table of one axis: the source pixel each sample copies. `dstScale` and
// `srcScale` are the scale arguments of the axis (they choose the step and where positions start).
std::vector<std::int32_t> MakeNearestAxis(int srcSize, const ZoomAxis& axis, int dstScale,
                                          int srcScale);
// Samples window.first to window.first + window.count - 1 of that table.
std::vector<std::int32_t> MakeNearestAxis(int srcSize, const ZoomAxis& axis, int dstScale,
                                          int srcScale, AxisWindow window);

// Whole linear pass over columns.base.size() x rows.base.size() destination pixels, leaving the
// row padding alone. False when the row buffers cannot be allocated (nothing written then).
bool RunLinearPass(const LinearAxis& columns, const LinearAxis& rows, const std::uint8_t* srcData,
                   std::ptrdiff_t srcStep, int srcPixelBytes, std::uint8_t* dstData,
                   std::ptrdiff_t dstStep, int channels);

// Whole nearest-neighbour pass: copies `channels` bytes per destination pixel.
void RunNearestPass(const std::vector<std::int32_t>& columns, const std::vector<std::int32_t>& rows,
                    const std::uint8_t* srcData, std::ptrdiff_t srcStep, int srcPixelBytes,
                    std::uint8_t* dstData, std::ptrdiff_t dstStep, int dstPixelBytes, int channels);
