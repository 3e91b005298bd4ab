// Two-pass cubic interpolation: source rows through the horizontal pass into a four-row cache of
// float rows, then four cached rows at a time through the vertical pass into destination bytes.
//
// Both passes evaluate the cubic through samples at -1, 0, 1, 2 at fraction t in forward-difference
// form: p(-1) + G d1 + H d2 + L d3. Every float32 storage point and the double-precision operation
// order below are part of the result: the output is fixed to the byte.
#pragma once

#include <cstddef>
#include <cstdint>

#include "resample/cubic_grid.h"

// G = t + 1, H = (0.5 t)(t + 1), L = ((t - 1) P) K, in double, each stored as float; P is the
// unrounded H and K the float nearest 1/3.
struct CubicCoefficients {
    float g = 0.0f;
    float h = 0.0f;
    float l = 0.0f;
};
CubicCoefficients MakeCubicCoefficients(float t);

// Horizontal pass of one source row: grid.columns x channels floats in destination pixel order,
// neither rounded nor clamped. `pixelBytes` is the distance between source pixels.
void CubicHorizontalRow(const std::uint8_t* srcRow, int pixelBytes, const CubicGrid& grid,
                        int channels, float* out);

// Vertical pass: `count` bytes of one destination row from the rows a, b, c, d holding source rows
// base - 1 to base + 2, at fraction t. Values are truncated (v + 0.00001, rounded to even after
// subtracting 0.5) and clamped to 0..255.
void CubicVerticalRow(const float* a, const float* b, const float* c, const float* d, int count,
                      float t, std::uint8_t* dstRow);

// Whole pass over grid.rows x grid.columns destination pixels; the bytes after columns x channels
// in each destination row are left alone. False when the row buffers cannot be allocated (nothing
// written then).
bool RunCubicPass(const CubicGrid& grid, const std::uint8_t* srcData, std::ptrdiff_t srcStep,
                  int srcPixelBytes, std::uint8_t* dstData, std::ptrdiff_t dstStep, int channels);
