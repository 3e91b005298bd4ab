#include "capture/frame_grab.h"

#include <utility>

#include "platform/media_player.h"

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
    return image.Attach(std::move(block)).Ok();
}
