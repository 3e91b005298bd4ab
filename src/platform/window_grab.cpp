// Grabs from a player view's rendered picture and turns such pictures into 24-bit images.
#include "platform/window_grab.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "platform/media_player.h"

bool CGrabBitmap::Create(int width, int height) {
    Clear();
    if (width <= 0 || height <= 0 || std::int64_t(width) * height > kMaxDibPixels)
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

bool GrabViewArea(const CPlayerView& view, int left, int top, CGrabBitmap& bitmap) {
    if (bitmap.IsEmpty())
        return false;
    auto locked = view.LockFrame();
    const CGrabBitmap& src = locked.Frame();
    // The part of the bitmap that the view's picture covers.
    const int x0 = std::clamp(-left, 0, bitmap.m_nWidth);
    const int x1 = std::clamp(src.m_nWidth - left, x0, bitmap.m_nWidth);
    for (int y = 0; y < bitmap.m_nHeight; ++y) {
        std::uint8_t* dst = bitmap.Row(y);
        const int sy = top + y;
        if (src.IsEmpty() || sy < 0 || sy >= src.m_nHeight || x0 == x1) {
            std::memset(dst, 0, std::size_t(bitmap.m_nWidth) * 4);
            continue;
        }
        std::memset(dst, 0, std::size_t(x0) * 4);
        std::memcpy(dst + std::size_t(x0) * 4, src.Row(sy) + std::ptrdiff_t(left + x0) * 4,
                    std::size_t(x1 - x0) * 4);
        std::memset(dst + std::size_t(x1) * 4, 0, std::size_t(bitmap.m_nWidth - x1) * 4);
    }
    return !src.IsEmpty();
}

HDIB DibFromBitmap(const CGrabBitmap& bitmap) {
    if (bitmap.IsEmpty())
        return nullptr;
    CDibImage image;
    if (!image.Create(bitmap.m_nWidth, bitmap.m_nHeight, 24))
        return nullptr;
    for (int y = 0; y < bitmap.m_nHeight; ++y) {
        const std::uint8_t* src = bitmap.Row(y);
        std::uint8_t* dst = image.TopRow(y);
        for (int x = 0; x < bitmap.m_nWidth; ++x, src += 4, dst += 3) {
            dst[0] = src[0];
            dst[1] = src[1];
            dst[2] = src[2];
        }
    }
    return std::move(image.m_hDib);
}

HDIB DibFromWindowArea(const CPlayerView* view, const GrabRect* rect) {
    if (!view)
        return nullptr;
    const GrabRect area = rect ? *rect : GrabRect{0, 0, view->Width(), view->Height()};
    CGrabBitmap bitmap;
    if (area.right <= area.left || area.bottom <= area.top ||
        !bitmap.Create(area.right - area.left, area.bottom - area.top)) {
        return nullptr;
    }
    GrabViewArea(*view, area.left, area.top, bitmap);
    return DibFromBitmap(bitmap);
}

bool CaptureWindow(CDibImage& image, const CPlayerView* view, const GrabRect* rect) {
    HDIB block = DibFromWindowArea(view, rect);
    if (!block)
        return false;
    image.Attach(std::move(block));
    return true;
}
