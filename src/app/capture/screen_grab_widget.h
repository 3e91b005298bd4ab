// Grabbing a rectangle of the screen, with whatever windows lie over it.
#pragma once

#include <QRect>

#include "image/dib_image.h"

class QImage;

// A 24-bit packed bitmap of `image` (any format), or null when it cannot be made.
HDIB DibFromQImage(const QImage& image);

// True when the platform lets a program read the screen's pixels (X11 only: Wayland and the
// offscreen platform do not).
bool CanReadScreen();

// Copies the screen rectangle `rect` (global coordinates) into `image` as a new 24-bit picture
// of exactly that size; parts that lie off every screen are black. False, with the image left
// as it was, when the screen cannot be read.
bool CaptureScreenRect(CDibImage& image, const QRect& rect);
