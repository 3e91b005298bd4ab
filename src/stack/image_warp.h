// Moving a picture onto the reference's grid by the shift registration found.
#pragma once

#include <cstdint>

#include "stack/image_view.h"

// Moves `image` by (-dx, -dy) onto a grid of width x height (top row first, width x 3 bytes a
// row), so that grid(x, y) = image(x + dx, y + dy). The fractions are taken in 1/256 pixel and
// interpolated with a separable Lanczos kernel of three lobes (six taps an axis, fixed-point
// weights, round half up, clipped to 0..255); an axis without a fraction is copied. Returns the
// grid pixels the image covers, whose taps all lie inside it; pixels outside are left as they
// are. With a zero shift this is the top-left-anchored overlap, copied unchanged. `bVectors`
// false keeps to the plain loops, which give the same bytes.
CGridRect ShiftOntoGrid(const CImageView& image, double dx, double dy, int width, int height,
                        std::uint8_t* grid, bool bVectors = true);
