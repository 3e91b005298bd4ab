// Grabbing what a player view shows: a rectangle of the view's own rendered frame, read under
// the view's lock, so it is safe from any thread and needs no display at all.
#pragma once

#include "platform/grab_bitmap.h"

class CPlayerView;

// A rectangle, right and bottom exclusive.
struct GrabRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
};

// Copies the view's pixels at (left, top) into `bitmap`, filling all of it; parts that lie
// outside the view's picture become black. Takes the view's lock only for the copy and
// allocates nothing. False when the view has no picture yet (the bitmap is then black).
bool GrabViewArea(const CPlayerView& view, int left, int top, CGrabBitmap& bitmap);

// Copies the view's whole picture into `bitmap`, filling all of it. A picture of the bitmap's
// size is copied byte for byte, as GrabViewArea at (0, 0) does; any other size is scaled to
// the bitmap's, each pixel the mean of the picture's pixels it covers, so that a view grown on
// the screen still gives the same frame of the same scene. Takes the view's lock only for the
// copy and allocates nothing. False when the view has no picture yet (the bitmap is then black).
bool GrabViewScaled(const CPlayerView& view, CGrabBitmap& bitmap);
