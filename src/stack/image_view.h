// How the stacking engine sees a picture: its rows top row first whatever the storage, and
// rectangles of grid pixels.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "image/dib_image.h"

// A 24-bit picture's rows, top row first, whatever its storage: `m_pTop` is the top row and
// `m_nStride` the step to the next row down (negative for a bottom-up DIB).
struct CImageView {
    const std::uint8_t* m_pTop = nullptr;
    std::ptrdiff_t m_nStride = 0;
    int m_nWidth = 0;
    int m_nHeight = 0;

    const std::uint8_t* Row(int y) const { return m_pTop + y * m_nStride; }
};
CImageView ViewOf(const CDibImage& image);
// A packed picture: rows of width x 3 bytes, top row first.
CImageView PackedView(const std::uint8_t* data, int width, int height);
// A packed copy of the picture's rows, top row first; empty when there is no memory for it.
std::vector<std::uint8_t> PackedCopy(const CImageView& view);

// Half-open rectangle of grid pixels [m_nLeft, m_nRight) x [m_nTop, m_nBottom).
struct CGridRect {
    int m_nLeft = 0;
    int m_nTop = 0;
    int m_nRight = 0;
    int m_nBottom = 0;

    bool Empty() const { return m_nRight <= m_nLeft || m_nBottom <= m_nTop; }
    std::int64_t Area() const {
        return Empty() ? 0 : std::int64_t(m_nRight - m_nLeft) * (m_nBottom - m_nTop);
    }
};
