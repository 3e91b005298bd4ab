#include "platform/grab_bitmap.h"

#include <cstring>
#include <utility>

bool CGrabBitmap::Create(int width, int height) {
    Clear();
    if (width <= 0 || height <= 0 || std::int64_t(width) * height > kMaxGrabPixels)
        return false;
    const std::int64_t stride = (std::int64_t(width) * 4 + kAlign - 1) / kAlign * kAlign;
    void* bits = std::aligned_alloc(kAlign, std::size_t(stride * height));
    if (!bits)
        return false;
    m_hBits.reset(static_cast<std::uint8_t*>(bits));
    m_nWidth = width;
    m_nHeight = height;
    m_nStride = int(stride);
    std::memset(bits, 0, std::size_t(stride * height));
    return true;
}

void CGrabBitmap::Clear() {
    m_hBits.reset();
    m_nWidth = m_nHeight = m_nStride = 0;
}

void CGrabBitmap::Swap(CGrabBitmap& other) {
    std::swap(m_hBits, other.m_hBits);
    std::swap(m_nWidth, other.m_nWidth);
    std::swap(m_nHeight, other.m_nHeight);
    std::swap(m_nStride, other.m_nStride);
}
