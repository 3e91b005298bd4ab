// Grabbing what a player view shows: a rectangle of the view's own rendered frame, read under
// the view's lock, so it is safe from any thread and needs no display at all.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>

#include "image/dib_image.h"

class CPlayerView;

// A top-down picture of 4 bytes a pixel (blue, green, red, unused), the layout the player
// renders: row pointer and row length are multiples of 64 bytes. Allocated by Create only.
class CGrabBitmap {
public:
    static constexpr int kAlign = 64;

    // Makes a black picture of width x height; false (and empty) when it cannot be made.
    bool Create(int width, int height);
    void Clear();
    bool IsEmpty() const { return !m_hBits; }
    std::uint8_t* Row(int y) { return m_hBits.get() + std::ptrdiff_t(y) * m_nStride; }
    const std::uint8_t* Row(int y) const { return m_hBits.get() + std::ptrdiff_t(y) * m_nStride; }
    std::uint8_t* Bits() { return m_hBits.get(); }
    void Swap(CGrabBitmap& other);

    int m_nWidth = 0;
    int m_nHeight = 0;
    int m_nStride = 0;

private:
    struct FreeBits {
        void operator()(std::uint8_t* p) const { std::free(p); }
    };
    std::unique_ptr<std::uint8_t, FreeBits> m_hBits;
};

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

// A 24-bit packed bitmap of the picture, or null when it cannot be made.
HDIB DibFromBitmap(const CGrabBitmap& bitmap);

// The rectangle `rect` of the view (relative to its top-left corner), or the whole view when
// `rect` is null, as a new 24-bit block. Null when there is no view (grabbing a screen
// rectangle is not offered here), the rectangle is empty or memory runs out.
HDIB DibFromWindowArea(const CPlayerView* view, const GrabRect* rect);

// DibFromWindowArea into `image`; on failure the image keeps what it held. True on success.
bool CaptureWindow(CDibImage& image, const CPlayerView* view, const GrabRect* rect);
