// The program's one way to resize an image: cubic interpolation of a 24-bit DIB into another
// that the caller has already created at the target size.
#pragma once

#include <string>

#include "image/dib_image.h"

// Fills the pixels of `dst` (24 bits, any size) with a cubic-interpolated copy of `src` (24 bits)
// at `dst`'s size: each axis on its own, so one may grow while the other shrinks. Sources under 4
// pixels on a side are resampled linearly, under 2 by nearest neighbour. The padding bytes at the
// end of each destination row are left as they are; the size of `dst` is never changed.
//
// True when every pixel was written. False, with `dst` unchanged as far as anything could be
// checked before writing and the reason in *why, when either image is empty, is not a 24-bit
// uncompressed DIB, its block is shorter than its header says, both are the same image, or
// memory ran out. Layer errors are caught here: they never end the process on this path. See
// resample/ipl_resize.h for the layer underneath. Threads may resize different images at once.
[[nodiscard]] bool ResizeDib(const CDibImage& src, CDibImage& dst, std::string* why = nullptr);
