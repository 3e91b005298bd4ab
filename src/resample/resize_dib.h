// The program's one way to resize an image: cubic interpolation of a 24-bit DIB into another
// that the caller has already created at the target size.
#pragma once

#include <string>

#include "image/dib_image.h"
#include "resample/resample_options.h"

// Fills the pixels of `dst` (24 bits, any size) with a cubic-interpolated copy of `src` (24 bits)
// at `dst`'s size: each axis on its own, so one may grow while the other shrinks. Sources under 4
// pixels on a side are resampled linearly, under 2 by nearest neighbour. The padding bytes at the
// end of each destination row are left as they are; the size of `dst` is never changed.
//
// Succeeds when every pixel was written. Fails, with `dst` unchanged as far as anything could be
// checked before writing, when either image is empty, is not a 24-bit
// uncompressed DIB, its block is shorter than its header says, both are the same image, or
// memory ran out. Layer errors are caught here: they never end the process on this path. See
// resample/ipl_resize.h for the layer underneath. Threads may resize different images at once.
CStatus ResizeDib(const CDibImage& src, CDibImage& dst);
// The same with the kernel and row threads of `options`; the one above takes the defaults.
CStatus ResizeDib(const CResampleOptions& options, const CDibImage& src, CDibImage& dst);

// The part of the resize of `src` to fullWidth x fullHeight that lies at columns x0 to
// x0 + dst.m_nWidth - 1 and picture rows y0 to y0 + dst.m_nHeight - 1 (rows counted from the top),
// written into `dst`: byte for byte what ResizeDib into a fullWidth x fullHeight image followed by
// cutting out that rectangle gives, without the full-size image ever existing. Time and memory
// follow `dst`; only stepping to the window's first column and row costs a loop over them.
//
// Fails as ResizeDib, and when the window does not lie within fullWidth x fullHeight.
CStatus ResizeDibWindow(const CDibImage& src, int fullWidth, int fullHeight, int x0, int y0,
                        CDibImage& dst);
CStatus ResizeDibWindow(const CResampleOptions& options, const CDibImage& src, int fullWidth,
                        int fullHeight, int x0, int y0, CDibImage& dst);
