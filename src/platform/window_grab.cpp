// Grabs from a player view's rendered picture.
#include "platform/window_grab.h"

#include <algorithm>
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
