// What a player view shows, as 24-bit images: the snapshot path of the player pages.
#pragma once

#include "image/dib_image.h"
#include "platform/window_grab.h"

// A 24-bit packed bitmap of the picture, or null when it cannot be made.
HDIB DibFromBitmap(const CGrabBitmap& bitmap);

// The rectangle `rect` of the view (relative to its top-left corner), or the whole view when
// `rect` is null, as a new 24-bit block. Null when there is no view (grabbing a screen
// rectangle is not offered here), the rectangle is empty or memory runs out.
HDIB DibFromWindowArea(const CPlayerView* view, const GrabRect* rect);

// DibFromWindowArea into `image`; on failure the image keeps what it held. True on success.
bool CaptureWindow(CDibImage& image, const CPlayerView* view, const GrabRect* rect);
