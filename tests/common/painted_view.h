// A player view painted with a known pattern, for the grabbing tests.
#pragma once

#include <cstdint>

class CPlayerView;

// The view's pixel (x, y) carries these bytes.
inline std::uint8_t Blue(int x, int y) {
    return std::uint8_t(x * 7 + y);
}
inline std::uint8_t Green(int x, int y) {
    return std::uint8_t(x + y * 5);
}
inline std::uint8_t Red(int x, int y) {
    return std::uint8_t(x ^ y);
}

// Sizes the view to width x height and paints every pixel with the pattern above.
void PaintView(CPlayerView& view, int width, int height);
