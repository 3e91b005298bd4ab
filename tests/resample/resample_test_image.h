// Small helpers for the resampler tests: 24-bit images filled and read by memory row (row 0 is the
// first row in memory), as the resizer counts them.
#pragma once

#include <cstdint>
#include <functional>
#include <random>
#include <vector>

#include "image/dib_image.h"

// Sample of memory row y, column x, channel c.
using PixelFn = std::function<std::uint8_t(int x, int y, int c)>;

inline void FillImage(CDibImage& image, int width, int height, const PixelFn& pixel) {
    ASSERT_TRUE(image.Create(width, height, 24));
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = image.Bits() + std::ptrdiff_t(y) * image.m_nRowBytes;
        for (int x = 0; x < width; ++x) {
            for (int c = 0; c < 3; ++c) row[x * 3 + c] = pixel(x, y, c);
        }
    }
}

inline std::uint8_t Sample(const CDibImage& image, int x, int y, int c) {
    return image.Bits()[std::ptrdiff_t(y) * image.m_nRowBytes + x * 3 + c];
}

// Pixel bytes of every row, without the padding.
inline std::vector<std::uint8_t> PixelBytes(const CDibImage& image) {
    std::vector<std::uint8_t> bytes;
    for (int y = 0; y < image.m_nHeight; ++y) {
        const std::uint8_t* row = image.Bits() + std::ptrdiff_t(y) * image.m_nRowBytes;
        bytes.insert(bytes.end(), row, row + image.m_nWidth * 3);
    }
    return bytes;
}

// Random samples from `seed`, in fill order.
inline PixelFn RandomPixels(unsigned seed) {
    return [rng = std::mt19937(seed)](int, int, int) mutable { return std::uint8_t(rng() & 0xFF); };
}
