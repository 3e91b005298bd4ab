#include "resample/ipl_resize.h"

#include <algorithm>
#include <cstdint>
#include <new>

#include "resample/cubic_fast.h"
#include "resample/cubic_grid.h"
#include "resample/cubic_pass.h"
#include "resample/fallback_pass.h"
#include "resample/layer_status.h"

namespace {

constexpr const char* kZoom = "iplZoom";
constexpr const char* kZoomFile = "iplzoom";

// Channels the pass works on: the alpha channel is not interpolated.
int ProcessedChannels(const ImageHeader& image) {
    return image.nChannels - (image.alphaChannel != 0 ? 1 : 0);
}

// Where the destination image lies in the whole resize: its first column and row there.
struct ZoomWindow {
    int x0 = 0;
    int y0 = 0;
};

// The samples of the axis that the destination holds: from `first`, as many as it has room for,
// but none past the last sample the whole resize writes.
AxisWindow SamplesInWindow(const ZoomAxis& axis, int first, int size) {
    const int end = int(std::min<std::int64_t>(std::int64_t(first) + size, axis.count));
    return {first, std::max(0, end - first)};
}

void Zoom(CLayerStatus& layer, ImageHeader* srcImage, ImageHeader* dstImage, int xDst, int xSrc,
          int yDst, int ySrc, int interpolate, const ZoomWindow* window,
          const CResampleOptions& options);

}  // namespace

void iplResize(CLayerStatus& layer, ImageHeader* srcImage, ImageHeader* dstImage, int xDst,
               int xSrc, int yDst, int ySrc, int interpolate, const CResampleOptions& options) {
    if (interpolate == IPL_INTER_SUPER) {
        if (xDst > xSrc || yDst > ySrc) {
            layer.Report(kStsBadArg, "iplResize", "(xDst > xSrc || yDst > ySrc)", "iplresiz",
                         __LINE__);
        } else {
            // Area reduction is not part of this layer: the program never asks for it.
            layer.Report(kStsBadArg, "iplResize", "interpolate == IPL_INTER_SUPER is not built",
                         "iplresiz", __LINE__);
        }
    } else {
        iplZoom(layer, srcImage, dstImage, xDst, xSrc, yDst, ySrc, interpolate, options);
    }
    if (layer.Status() < 0)
        layer.Report(kStsBackTrace, "iplResize", "", "iplresiz", __LINE__);
}

void iplZoom(CLayerStatus& layer, ImageHeader* srcImage, ImageHeader* dstImage, int xDst, int xSrc,
             int yDst, int ySrc, int interpolate, const CResampleOptions& options) {
    Zoom(layer, srcImage, dstImage, xDst, xSrc, yDst, ySrc, interpolate, nullptr, options);
}

void iplZoomWindow(CLayerStatus& layer, ImageHeader* srcImage, ImageHeader* dstImage, int xDst,
                   int xSrc, int yDst, int ySrc, int interpolate, int x0, int y0,
                   const CResampleOptions& options) {
    const ZoomWindow window{x0, y0};
    Zoom(layer, srcImage, dstImage, xDst, xSrc, yDst, ySrc, interpolate, &window, options);
}

namespace {

// iplZoom, over the whole destination (no window) or the window of a larger one.
void Zoom(CLayerStatus& layer, ImageHeader* srcImage, ImageHeader* dstImage, int xDst, int xSrc,
          int yDst, int ySrc, int interpolate, const ZoomWindow* window,
          const CResampleOptions& options) {
    // 1. Header consistency.
    for (const ImageHeader* image : {srcImage, dstImage}) {
        if (const int code = CheckImageHeader(image)) {
            layer.Report(code, kZoom, "Incorrect Image", kZoomFile, __LINE__);
            return;
        }
    }
    // 2 to 5 report every failing condition, then the routine gives up if any did.
    if (interpolate != IPL_INTER_NN && interpolate != IPL_INTER_LINEAR &&
        interpolate != IPL_INTER_CUBIC) {
        layer.Report(
            kStsBadArg, kZoom,
            "interpolate != IPL_INTER_NN && interpolate != IPL_INTER_LINEAR && interpolate "
            "!= IPL_INTER_CUBIC",
            kZoomFile, __LINE__);
    }
    if (srcImage->depth != dstImage->depth) {
        layer.Report(kStsBadArg, kZoom, "srcImage->depth != dstImage->depth", kZoomFile, __LINE__);
    }
    if (srcImage->depth != IPL_DEPTH_1U && srcImage->depth != IPL_DEPTH_8U &&
        srcImage->depth != IPL_DEPTH_16U && srcImage->depth != IPL_DEPTH_32F) {
        layer.Report(kStsBadArg, kZoom,
                     "srcImage->depth != IPL_DEPTH_1U && srcImage->depth != IPL_DEPTH_8U && "
                     "srcImage->depth != IPL_DEPTH_16U && srcImage->depth != IPL_DEPTH_32F",
                     kZoomFile, __LINE__);
    } else if (srcImage->depth != IPL_DEPTH_8U) {
        // Only 8-bit samples are resampled here; the other depths are refused, not guessed at.
        layer.Report(kStsBadArg, kZoom, "srcImage->depth != IPL_DEPTH_8U", kZoomFile, __LINE__);
    }
    if (srcImage->dataOrder != dstImage->dataOrder) {
        layer.Report(kStsBadArg, kZoom, "srcImage->dataOrder != dstImage->dataOrder", kZoomFile,
                     __LINE__);
    } else if (srcImage->dataOrder != kDataOrderPixel) {
        layer.Report(kStsBadArg, kZoom, "srcImage->dataOrder != 0", kZoomFile, __LINE__);
    }
    if (xDst <= 0 || xSrc <= 0)
        layer.Report(kStsBadArg, kZoom, "xDst <= 0 || xSrc <= 0", kZoomFile, __LINE__);
    if (yDst <= 0 || ySrc <= 0)
        layer.Report(kStsBadArg, kZoom, "yDst <= 0 || ySrc <= 0", kZoomFile, __LINE__);
    // Whole images only: no region of interest, mask or tiles.
    if (srcImage->roi || dstImage->roi || srcImage->maskRegion || dstImage->maskRegion ||
        srcImage->tileInfo || dstImage->tileInfo) {
        layer.Report(kStsBadArg, kZoom, "roi, maskRegion or tileInfo is set", kZoomFile, __LINE__);
    }
    if (window &&
        (window->x0 < 0 || window->y0 < 0 || std::int64_t(window->x0) + dstImage->width > xDst ||
         std::int64_t(window->y0) + dstImage->height > yDst)) {
        layer.Report(kStsBadArg, kZoom, "window outside xDst x yDst", kZoomFile, __LINE__);
    }
    if (layer.Status() < 0)
        return;

    // 6. Small sources fall back to a mode that needs fewer samples.
    const int width = srcImage->width;
    const int height = srcImage->height;
    int mode = interpolate;
    if (srcImage->depth == IPL_DEPTH_1U || width < 2 || height < 2) {
        mode = IPL_INTER_NN;
    } else if (mode == IPL_INTER_CUBIC && (width < 4 || height < 4)) {
        mode = IPL_INTER_LINEAR;
    }

    // 7. Geometry, of the whole resize; a window takes its part of it.
    const ZoomAxis x = MakeZoomAxis(width, window ? xDst : dstImage->width, xDst, xSrc);
    const ZoomAxis y = MakeZoomAxis(height, window ? yDst : dstImage->height, yDst, ySrc);
    const AxisWindow columnWindow = SamplesInWindow(x, window ? window->x0 : 0, dstImage->width);
    const AxisWindow rowWindow = SamplesInWindow(y, window ? window->y0 : 0, dstImage->height);

    // 8, 9.
    if (srcImage == dstImage) {
        layer.Report(kStsBadArg, kZoom, "This function isn`t in-plase function", kZoomFile,
                     __LINE__);
        return;
    }
    if ((srcImage->alphaChannel && srcImage->nChannels == 1) ||
        (dstImage->alphaChannel && dstImage->nChannels == 1)) {
        return;
    }
    const int channels = ProcessedChannels(*srcImage);
    if (channels != ProcessedChannels(*dstImage)) {
        layer.Report(kStsInternal, kZoom, "srcImage COI != dstImage COI", kZoomFile, __LINE__);
        return;
    }
    // A pixel would hold channels the pass does not write: refused rather than left half-filled.
    if (srcImage->alphaChannel || dstImage->alphaChannel) {
        layer.Report(kStsBadArg, kZoom, "srcImage->alphaChannel || dstImage->alphaChannel",
                     kZoomFile, __LINE__);
        return;
    }

    // 10. One pass over the destination image (the whole resize, or its window).
    if (columnWindow.count == 0 || rowWindow.count == 0)
        return;  // the window lies past every pixel the resize writes
    const std::uint8_t* src = srcImage->imageData;
    std::uint8_t* dst = dstImage->imageData;
    const std::ptrdiff_t srcStep = srcImage->widthStep;
    const std::ptrdiff_t dstStep = dstImage->widthStep;
    bool written = false;
    try {
        if (mode == IPL_INTER_CUBIC) {
            const CubicGrid grid =
                MakeCubicGrid(width, height, x, y, channels, columnWindow, rowWindow);
            const ResampleKernel kernel =
                ResampleKernelSupported(options.m_kernel) ? options.m_kernel : BestResampleKernel();
            if (kernel == ResampleKernel::kScalar) {
                written =
                    RunCubicPass(grid, src, srcStep, srcImage->nChannels, dst, dstStep, channels);
            } else {
                const int threads =
                    ResampleThreadsFor(options, grid.rows, std::int64_t(grid.columns) * channels);
                written = RunCubicPassFast(grid, width, src, srcStep, srcImage->nChannels, dst,
                                           dstStep, channels, kernel, threads);
            }
        } else if (mode == IPL_INTER_LINEAR) {
            const LinearAxis columns = MakeLinearAxis(width, x, columnWindow);
            const LinearAxis rows = MakeLinearAxis(height, y, rowWindow);
            written = RunLinearPass(columns, rows, src, srcStep, srcImage->nChannels, dst, dstStep,
                                    channels);
        } else {
            const std::vector<std::int32_t> columns =
                MakeNearestAxis(width, x, xDst, xSrc, columnWindow);
            const std::vector<std::int32_t> rows =
                MakeNearestAxis(height, y, yDst, ySrc, rowWindow);
            RunNearestPass(columns, rows, src, srcStep, srcImage->nChannels, dst, dstStep,
                           dstImage->nChannels, channels);
            written = true;
        }
    } catch (const std::bad_alloc&) {
        written = false;
    }
    // A destination left unwritten must not pass for a resized one.
    if (!written) {
        layer.Report(kStsNoMem, kZoom, "Not enough memory for the sampling tables or row buffers",
                     kZoomFile, __LINE__);
    }
}

}  // namespace
