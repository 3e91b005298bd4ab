// Brings an image to exactly width x height without distortion: scales it (keeping its aspect
// ratio) just far enough to cover the rectangle, then cuts the centred part out.
#pragma once

#include "image/dib_image.h"
#include "resample/resample_options.h"

// `src` holds a 24-bit image and is not changed; `dst` receives a new 24-bit image of exactly
// width x height. Fails when `src` is empty or the destination could not be made (then `dst` is
// empty, so nothing empty gets written). `options` as for ResizeDib.
CStatus ResizeToFill(const CDibImage& src, CDibImage& dst, int width, int height,
                     const CResampleOptions& options = {});
