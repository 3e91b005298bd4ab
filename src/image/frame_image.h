// A frame of a sequence (packed top-down BGR) to and from a 24-bit picture (bottom-up, padded
// rows): what the frame writers and the folder's frame source both need.
#pragma once

#include "image/dib_image.h"
#include "image/frame_source.h"

// `frame` into `image`, made again only when its size or depth differs. Fails when the
// picture cannot be allocated.
CStatus FrameToDib(const SFrame& frame, CDibImage& image);
// The 24-bit `image` into `frame` (its buffer reused); the time is left as it is.
void DibToFrame(const CDibImage& image, SFrame& frame);
