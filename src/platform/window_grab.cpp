// Grabs from a player view's rendered picture.
#include "platform/window_grab.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>

#include "platform/media_player.h"

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

bool GrabViewScaled(const CPlayerView& view, CGrabBitmap& bitmap) {
    if (bitmap.IsEmpty())
        return false;
    auto locked = view.LockFrame();
    const CGrabBitmap& src = locked.Frame();
    const std::size_t rowBytes = std::size_t(bitmap.m_nWidth) * 4;
    if (src.IsEmpty()) {
        for (int y = 0; y < bitmap.m_nHeight; ++y) std::memset(bitmap.Row(y), 0, rowBytes);
        return false;
    }
    if (src.m_nWidth == bitmap.m_nWidth && src.m_nHeight == bitmap.m_nHeight) {
        for (int y = 0; y < bitmap.m_nHeight; ++y) std::memcpy(bitmap.Row(y), src.Row(y), rowBytes);
        return true;
    }
    // Box filter: destination pixel (xx, yy) is the mean of source columns [x0, x1) and rows
    // [y0, y1), each range at least one wide.
    for (int yy = 0; yy < bitmap.m_nHeight; ++yy) {
        const int y0 = int(std::int64_t(yy) * src.m_nHeight / bitmap.m_nHeight);
        const int y1 =
            std::max(y0 + 1, int(std::int64_t(yy + 1) * src.m_nHeight / bitmap.m_nHeight));
        std::uint8_t* dst = bitmap.Row(yy);
        for (int xx = 0; xx < bitmap.m_nWidth; ++xx, dst += 4) {
            const int x0 = int(std::int64_t(xx) * src.m_nWidth / bitmap.m_nWidth);
            const int x1 =
                std::max(x0 + 1, int(std::int64_t(xx + 1) * src.m_nWidth / bitmap.m_nWidth));
            std::uint32_t sums[3] = {0, 0, 0};
            for (int y = y0; y < y1; ++y) {
                const std::uint8_t* p = src.Row(y) + std::ptrdiff_t(x0) * 4;
                for (int x = x0; x < x1; ++x, p += 4) {
                    sums[0] += p[0];
                    sums[1] += p[1];
                    sums[2] += p[2];
                }
            }
            const std::uint32_t count = std::uint32_t(x1 - x0) * std::uint32_t(y1 - y0);
            for (int c = 0; c < 3; ++c) dst[c] = std::uint8_t((sums[c] + count / 2) / count);
            dst[3] = 0;
        }
    }
    return true;
}
