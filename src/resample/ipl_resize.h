// The layer's resize entry: iplResize checks its arguments and hands modes 0 to 2 to iplZoom,
// which plans the pass (grid, mode fallback for small sources) and runs it.
//
// Outcomes are reported through the caller's layer status record (layer_status.h), never
// returned; each call has its own, so resizes on different threads do not see each other's.
#pragma once

#include "resample/image_header.h"
#include "resample/layer_status.h"
#include "resample/resample_options.h"

inline constexpr int IPL_INTER_NN = 0;
inline constexpr int IPL_INTER_LINEAR = 1;
inline constexpr int IPL_INTER_CUBIC = 2;
inline constexpr int IPL_INTER_SUPER = 3;

// Scales srcImage by xDst/xSrc horizontally and yDst/ySrc vertically into dstImage. Enlarging,
// reducing, or one on each axis are all one pass. Area reduction (IPL_INTER_SUPER) is refused.
// `options` choose the cubic kernel and its row threads (resample_options.h).
void iplResize(CLayerStatus& layer, ImageHeader* srcImage, ImageHeader* dstImage, int xDst,
               int xSrc, int yDst, int ySrc, int interpolate, const CResampleOptions& options = {});

// The worker for modes 0, 1 and 2. Only 8-bit interleaved images without region of interest,
// mask, tiles or alpha channel are resampled; the checks refuse the rest. A source under 4 pixels
// on a side is resampled linearly, one under 2 by nearest neighbour, whatever mode was asked for.
// The bytes after the written pixels of each destination row are left alone.
void iplZoom(CLayerStatus& layer, ImageHeader* srcImage, ImageHeader* dstImage, int xDst, int xSrc,
             int yDst, int ySrc, int interpolate, const CResampleOptions& options = {});

// iplZoom for a window of the destination: the resize of srcImage to xDst x yDst pixels (the scale
// arguments), of which only columns x0 to x0 + dstImage->width - 1 and rows y0 to
// y0 + dstImage->height - 1 (memory order) are computed, into dstImage. The bytes equal those of
// that window of the whole resize; time and memory follow the window, not xDst x yDst (apart from
// stepping the positions of the columns and rows before it). A window not within xDst x yDst is
// refused with status -5.
void iplZoomWindow(CLayerStatus& layer, ImageHeader* srcImage, ImageHeader* dstImage, int xDst,
                   int xSrc, int yDst, int ySrc, int interpolate, int x0, int y0,
                   const CResampleOptions& options = {});
