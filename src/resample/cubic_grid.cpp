#include "resample/cubic_grid.h"

#include <algorithm>
#include <cmath>

double Rne(double v) {
    return std::nearbyint(v);
}

namespace {

// rne(v), held to [lo, hi] before conversion so that no size can overflow the integer.
int ClampedRne(double v, int lo, int hi) {
    const double r = Rne(v);
    if (!(r >= lo))
        return lo;
    if (r > hi)
        return hi;
    return int(r);
}

}  // namespace

ZoomAxis MakeZoomAxis(int srcSize, int dstSize, int dstScale, int srcScale) {
    ZoomAxis axis;
    axis.ratio = double(srcScale) / dstScale;
    axis.span = dstScale * (double(srcSize) / srcScale);
    axis.step = axis.span > 1.0 ? (srcSize - 1) / (axis.span - 1.0) : 0.0;
    axis.count = ClampedRne(srcSize / axis.ratio + 0.00001 - 0.5, 1, dstSize);
    return axis;
}

CubicAxis MakeCubicAxis(int srcSize, const ZoomAxis& axis) {
    return MakeCubicAxis(srcSize, axis, {0, axis.count});
}

CubicAxis MakeCubicAxis(int srcSize, const ZoomAxis& axis, AxisWindow window) {
    CubicAxis table;
    table.base.resize(window.count);
    table.fraction.resize(window.count);
    double x = 0.0;
    for (int j = 0; j < window.first; ++j) x += axis.step;
    for (int j = 0; j < window.count; ++j, x += axis.step) {
        // Integer part of x + 0.00001: a position a hair short of an integer counts as it.
        int base = ClampedRne((0.00001 + x) - 0.5, 0, srcSize - 1);
        if (base == srcSize - 1) {
            // The last pixel: the cubic through the last four samples, at its end.
            table.base[j] = srcSize - 3;
            table.fraction[j] = 2.0f;
            continue;
        }
        if (base == 0) {
            base = 1;
        } else if (base == srcSize - 2) {
            base = srcSize - 3;
        }
        table.base[j] = base;
        table.fraction[j] = float(x - base);
    }
    return table;
}

CubicGrid MakeCubicGrid(int srcWidth, int srcHeight, const ZoomAxis& x, const ZoomAxis& y,
                        int channels) {
    return MakeCubicGrid(srcWidth, srcHeight, x, y, channels, {0, x.count}, {0, y.count});
}

CubicGrid MakeCubicGrid(int srcWidth, int srcHeight, const ZoomAxis& x, const ZoomAxis& y,
                        int channels, AxisWindow columnWindow, AxisWindow rowWindow) {
    CubicGrid grid;
    grid.columns = columnWindow.count;
    grid.rows = rowWindow.count;
    CubicAxis columns = MakeCubicAxis(srcWidth, x, columnWindow);
    grid.colOffset.resize(grid.columns);
    for (int j = 0; j < grid.columns; ++j) grid.colOffset[j] = columns.base[j] * channels;
    grid.colFraction = std::move(columns.fraction);
    CubicAxis rows = MakeCubicAxis(srcHeight, y, rowWindow);
    grid.rowBase = std::move(rows.base);
    grid.rowFraction = std::move(rows.fraction);
    return grid;
}
