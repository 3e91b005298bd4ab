#include "common/painted_view.h"

#include <gtest/gtest.h>

#include "platform/media_player.h"

void PaintView(CPlayerView& view, int width, int height) {
    ASSERT_TRUE(view.Resize(width, height));
    auto locked = view.LockFrame();
    CGrabBitmap& frame = locked.MutableFrame();
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = frame.Row(y) + x * 4;
            p[0] = Blue(x, y);
            p[1] = Green(x, y);
            p[2] = Red(x, y);
        }
    }
}
