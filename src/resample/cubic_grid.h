// Sampling grid of a resize: where each destination column and row samples the source, and how
// many of them are written. Built once before any pixel is touched; the passes only read it.
#pragma once

#include <cstdint>
#include <vector>

// rne: the integer nearest to v, ties to even (the default rounding mode).
double Rne(double v);

// One axis of a resize, from the source size, the destination size and the scale arguments
// (dstScale / srcScale; the program passes the two sizes).
struct ZoomAxis {
    double ratio = 0.0;  // srcScale / dstScale
    double span = 0.0;   // destination extent the source covers: dstScale x (size / srcScale)
    double step = 0.0;   // source pixels between neighbouring samples; 0 for a span of 1 or less
    int count = 0;       // columns (rows) written, 1 to the destination size
};
ZoomAxis MakeZoomAxis(int srcSize, int dstSize, int dstScale, int srcScale);

// Cubic table of one axis. Sample i uses source pixels base - 1 to base + 2 at `fraction`
// (-1 to 2) from base; positions start at 0.0 and advance by repeated addition of the step.
struct CubicAxis {
    std::vector<std::int32_t> base;
    std::vector<float> fraction;
};
// `srcSize` is at least 4. Keep in step with the border rule of the linear grid.
CubicAxis MakeCubicAxis(int srcSize, const ZoomAxis& axis);

// Samples first to first + count - 1 of an axis (0 <= first, first + count <= axis.count): the
// same values as those elements of the whole table, which is never built. Positions still advance
// by repeated addition from 0, so the cost is first + count steps but the memory only count.
struct AxisWindow {
    int first = 0;
    int count = 0;
};
CubicAxis MakeCubicAxis(int srcSize, const ZoomAxis& axis, AxisWindow window);

struct CubicGrid {
    int columns = 0;
    int rows = 0;
    std::vector<std::int32_t> colOffset;  // base column x channels: bytes from a source row's start
    std::vector<float> colFraction;
    std::vector<std::int32_t> rowBase;  // base row, in memory order
    std::vector<float> rowFraction;
};
// Throws std::bad_alloc when the tables cannot be allocated.
CubicGrid MakeCubicGrid(int srcWidth, int srcHeight, const ZoomAxis& x, const ZoomAxis& y,
                        int channels);
// The part of that grid in the given columns and rows (memory order): a pass over it writes
// exactly those pixels of the whole resize, its first column and row at the destination's start.
CubicGrid MakeCubicGrid(int srcWidth, int srcHeight, const ZoomAxis& x, const ZoomAxis& y,
                        int channels, AxisWindow columns, AxisWindow rows);
