// Linear and nearest-neighbour passes for small sources.
#include "resample/fallback_pass.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "resample/layer_memory.h"

namespace {

constexpr int kOne = 16384;  // fixed-point 1.0 of the linear weights

// Integer part of x + 0.00001 for x >= 0, held inside [0, srcSize - 1].
int SamplePixel(double x, int srcSize) {
    const double r = Rne((0.00001 + x) - 0.5);
    if (!(r >= 0.0))
        return 0;
    return r > srcSize - 1 ? srcSize - 1 : int(r);
}

// xx: destination column, c: channel; values are (16384 - w) p0 + w p1, shifted right by 8.
void LinearHorizontalRow(const std::uint8_t* srcRow, int pixelBytes, const LinearAxis& columns,
                         int channels, std::int16_t* out) {
    const int count = int(columns.base.size());
    for (int xx = 0; xx < count; ++xx) {
        const std::uint8_t* p = srcRow + columns.base[xx] * pixelBytes;
        const int w = columns.weight[xx];
        for (int c = 0; c < channels; ++c) {
            out[xx * channels + c] = std::int16_t(((kOne - w) * p[c] + w * p[c + pixelBytes]) >> 8);
        }
    }
}

// One destination row from the base row a and the next row b at weight w, shifted right by 20.
void LinearVerticalRow(const std::int16_t* a, const std::int16_t* b, int count, int w,
                       std::uint8_t* dstRow) {
    for (int k = 0; k < count; ++k) {
        // Within 0..255 except when a position a hair below an integer gave a weight of -1 and the
        // mixed samples are 0 on one side: the shift then yields -1, which must not wrap to 255.
        const int v = ((kOne - w) * a[k] + w * b[k]) >> 20;
        dstRow[k] = std::uint8_t(std::clamp(v, 0, 255));
    }
}

}  // namespace

LinearAxis MakeLinearAxis(int srcSize, const ZoomAxis& axis) {
    return MakeLinearAxis(srcSize, axis, {0, axis.count});
}

LinearAxis MakeLinearAxis(int srcSize, const ZoomAxis& axis, AxisWindow window) {
    LinearAxis table;
    table.base.resize(window.count);
    table.weight.resize(window.count);
    double x = 0.0;
    for (int j = 0; j < window.first; ++j) x += axis.step;
    for (int j = 0; j < window.count; ++j, x += axis.step) {
        const int base = SamplePixel(x, srcSize);
        if (base == srcSize - 1) {
            // The last pixel: the pair ending there, all weight on its second pixel.
            table.base[j] = srcSize - 2;
            table.weight[j] = kOne;
            continue;
        }
        table.base[j] = base;
        table.weight[j] = int(Rne(((x - base) * 16384.0 + 0.00001) - 0.5));
    }
    return table;
}

std::vector<std::int32_t> MakeNearestAxis(int srcSize, const ZoomAxis& axis, int dstScale,
                                          int srcScale) {
    return MakeNearestAxis(srcSize, axis, dstScale, srcScale, {0, axis.count});
}

std::vector<std::int32_t> MakeNearestAxis(int srcSize, const ZoomAxis& axis, int dstScale,
                                          int srcScale, AxisWindow window) {
    const int larger = std::max(dstScale, srcScale);
    const int smaller = std::min(dstScale, srcScale);
    double step;
    double x;
    if (larger % smaller == 0) {
        step = srcSize / axis.span;
        x = 0.0;
    } else {
        step = axis.span > 1.0 ? (srcSize - 1) / (axis.span - 1.0) : 0.0;
        x = 0.5;
    }
    for (int j = 0; j < window.first; ++j) x += step;
    std::vector<std::int32_t> base(window.count);
    for (int j = 0; j < window.count; ++j, x += step) base[j] = SamplePixel(x, srcSize);
    return base;
}

bool RunLinearPass(const LinearAxis& columns, const LinearAxis& rows, const std::uint8_t* srcData,
                   std::ptrdiff_t srcStep, int srcPixelBytes, std::uint8_t* dstData,
                   std::ptrdiff_t dstStep, int channels) {
    const int columnCount = int(columns.base.size());
    // Each buffer is (2 x columns + 8) x channels bytes: the 16-bit values plus some slack.
    const std::int64_t bytes = (2 * std::int64_t(columnCount) + 8) * channels;
    std::int16_t* buffers[2] = {static_cast<std::int16_t*>(LayerAlignedAlloc(bytes)),
                                static_cast<std::int16_t*>(LayerAlignedAlloc(bytes))};
    if (!buffers[0] || !buffers[1]) {
        LayerAlignedFree(buffers[0]);
        LayerAlignedFree(buffers[1]);
        return false;
    }
    auto horizontal = [&](int srcRow, std::int16_t* out) {
        LinearHorizontalRow(srcData + srcRow * srcStep, srcPixelBytes, columns, channels, out);
    };
    // buffers[0] holds the base row, buffers[1] the row after it. Row 0 counts as an advance of
    // one.
    int lastBase = rows.base[0] - 1;
    horizontal(rows.base[0], buffers[1]);
    const int count = columnCount * channels;
    const int rowCount = int(rows.base.size());
    for (int yy = 0; yy < rowCount; ++yy) {
        const int base = rows.base[yy];
        const int advance = base - lastBase;
        if (advance > 0) {
            std::swap(buffers[0], buffers[1]);
            if (advance >= 2)
                horizontal(base, buffers[0]);
            horizontal(base + 1, buffers[1]);
            lastBase = base;
        }
        LinearVerticalRow(buffers[0], buffers[1], count, rows.weight[yy], dstData + yy * dstStep);
    }
    LayerAlignedFree(buffers[0]);
    LayerAlignedFree(buffers[1]);
    return true;
}

void RunNearestPass(const std::vector<std::int32_t>& columns, const std::vector<std::int32_t>& rows,
                    const std::uint8_t* srcData, std::ptrdiff_t srcStep, int srcPixelBytes,
                    std::uint8_t* dstData, std::ptrdiff_t dstStep, int dstPixelBytes,
                    int channels) {
    const int columnCount = int(columns.size());
    const int rowCount = int(rows.size());
    for (int yy = 0; yy < rowCount; ++yy) {
        const std::uint8_t* srcRow = srcData + rows[yy] * srcStep;
        std::uint8_t* dstRow = dstData + yy * dstStep;
        for (int xx = 0; xx < columnCount; ++xx) {
            std::memcpy(dstRow + xx * dstPixelBytes, srcRow + columns[xx] * srcPixelBytes,
                        std::size_t(channels));
        }
    }
}
