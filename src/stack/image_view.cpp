#include "stack/image_view.h"

#include <new>

CImageView ViewOf(const CDibImage& image) {
    CImageView view;
    if (!image.Bits() || image.m_nWidth <= 0 || image.m_nHeight <= 0)
        return view;
    view.m_nWidth = image.m_nWidth;
    view.m_nHeight = image.m_nHeight;
    view.m_nStride = -std::ptrdiff_t(image.m_nRowBytes);
    view.m_pTop = image.Bits() + std::ptrdiff_t(image.m_nHeight - 1) * image.m_nRowBytes;
    return view;
}

CImageView PackedView(const std::uint8_t* data, int width, int height) {
    CImageView view;
    view.m_pTop = data;
    view.m_nStride = std::ptrdiff_t(width) * 3;
    view.m_nWidth = width;
    view.m_nHeight = height;
    return view;
}

std::vector<std::uint8_t> PackedCopy(const CImageView& view) {
    std::vector<std::uint8_t> pixels;
    try {
        const std::size_t row = std::size_t(view.m_nWidth) * 3;
        pixels.resize(row * std::size_t(view.m_nHeight));
        for (int y = 0; y < view.m_nHeight; ++y)
            std::copy_n(view.Row(y), row, pixels.data() + std::size_t(y) * row);
    } catch (const std::bad_alloc&) {
        pixels.clear();
    }
    return pixels;
}
