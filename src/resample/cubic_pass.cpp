// Two-pass cubic interpolation: rows through a four-row cache, then columns.
#include "resample/cubic_pass.h"

#include <algorithm>
#include <utility>

#include "resample/layer_memory.h"

namespace {

// The float nearest to 1/3 (0x3EAAAAAB), used in double.
constexpr double kOneThird = 0.3333333432674408;

std::uint8_t ClampToByte(double q) {
    if (q < 0.0)
        return 0;
    if (q > 255.0)
        return 255;
    return std::uint8_t(q);
}

// The four row buffers of one pass, from the layer's aligned allocation.
class CRowCache {
public:
    CRowCache(int columns, int channels) {
        // Each buffer is (4 x columns + 16) x channels bytes: the floats plus some slack.
        const std::int64_t bytes = (4 * std::int64_t(columns) + 16) * channels;
        for (float*& row : m_rows) row = static_cast<float*>(LayerAlignedAlloc(bytes));
    }
    ~CRowCache() {
        for (float* row : m_rows) LayerAlignedFree(row);
    }
    CRowCache(const CRowCache&) = delete;
    CRowCache& operator=(const CRowCache&) = delete;

    bool Ok() const {
        return std::all_of(std::begin(m_rows), std::end(m_rows), [](float* r) { return r; });
    }
    // m_rows[0..3] hold source rows base - 1 to base + 2 of the current base.
    float* m_rows[4] = {};
};

}  // namespace

CubicCoefficients MakeCubicCoefficients(float t) {
    const double td = t;
    const double p = (0.5 * td) * (td + 1.0);
    CubicCoefficients k;
    k.g = float(td + 1.0);
    k.h = float(p);
    k.l = float(((td - 1.0) * p) * kOneThird);
    return k;
}

// xx: destination column, c: channel; p0 is the base sample, pm1 the one before it.
void CubicHorizontalRow(const std::uint8_t* srcRow, int pixelBytes, const CubicGrid& grid,
                        int channels, float* out) {
    const int s = pixelBytes;
    for (int xx = 0; xx < grid.columns; ++xx) {
        const int b = grid.colOffset[xx];
        const CubicCoefficients k = MakeCubicCoefficients(grid.colFraction[xx]);
        for (int c = 0; c < channels; ++c) {
            const int pm1 = srcRow[b + c - s];
            const int p0 = srcRow[b + c];
            const int p1 = srcRow[b + c + s];
            const int p2 = srcRow[b + c + 2 * s];
            const int d1 = p0 - pm1;
            const int d2 = p1 - 2 * p0 + pm1;
            const int d3 = p2 - 3 * p1 + 3 * p0 - pm1;
            const double value =
                double(pm1) + (double(k.g) * d1 + (double(k.h) * d2 + double(k.l) * d3));
            out[xx * channels + c] = float(value);
        }
    }
}

void CubicVerticalRow(const float* a, const float* b, const float* c, const float* d, int count,
                      float t, std::uint8_t* dstRow) {
    const CubicCoefficients k = MakeCubicCoefficients(t);
    for (int i = 0; i < count; ++i) {
        // Each difference uses the unrounded one before it; only the three results are stored.
        const double e1 = double(b[i]) - double(a[i]);
        const double e2 = (double(c[i]) - double(b[i])) - e1;
        const double e3 = ((double(d[i]) - double(c[i])) - double(c[i]) + double(b[i])) - e2;
        const float f1 = float(e1);
        const float f2 = float(e2);
        const float f3 = float(e3);
        const double v = double(k.g) * f1 + (double(k.h) * f2 + (double(a[i]) + double(k.l) * f3));
        // Truncates, not rounds, for v >= 0: 127.5 gives 127.
        dstRow[i] = ClampToByte(Rne((v + 0.00001) - 0.5));
    }
}

bool RunCubicPass(const CubicGrid& grid, const std::uint8_t* srcData, std::ptrdiff_t srcStep,
                  int srcPixelBytes, std::uint8_t* dstData, std::ptrdiff_t dstStep, int channels) {
    CRowCache cache(grid.columns, channels);
    if (!cache.Ok())
        return false;
    float** rows = cache.m_rows;
    auto horizontal = [&](int srcRow, float* out) {
        CubicHorizontalRow(srcData + srcRow * srcStep, srcPixelBytes, grid, channels, out);
    };

    // Rows b0 - 1 to b0 + 1 go in first, so that row 0 is an advance of one row like any other.
    const int b0 = grid.rowBase[0];
    int lastBase = b0 - 1;
    horizontal(b0 - 1, rows[1]);
    horizontal(b0, rows[2]);
    horizontal(b0 + 1, rows[3]);

    const int count = grid.columns * channels;
    for (int yy = 0; yy < grid.rows; ++yy) {
        const int base = grid.rowBase[yy];
        const int advance = base - lastBase;  // never negative: positions only grow
        if (advance > 0) {
            // Keep the buffers still in the window, reuse the freed ones for the missing rows.
            const int keep = std::max(0, 4 - advance);
            std::rotate(rows, rows + (4 - keep), rows + 4);
            for (int n = keep; n < 4; ++n) horizontal(base - 1 + n, rows[n]);
            lastBase = base;
        }
        CubicVerticalRow(rows[0], rows[1], rows[2], rows[3], count, grid.rowFraction[yy],
                         dstData + yy * dstStep);
    }
    return true;
}
