#include <gtest/gtest.h>

#include <cstring>

#include "capture/frame_grab.h"
#include "common/painted_view.h"
#include "platform/media_player.h"

TEST(DibFromWindowArea, MakesA24BitImageOfTheRectangle) {
    CPlayerView view;
    PaintView(view, 64, 48);
    const GrabRect rect{3, 4, 33, 24};
    CDibImage image;
    ASSERT_TRUE(CaptureWindow(image, &view, &rect));
    ASSERT_EQ(image.m_nWidth, 30);
    ASSERT_EQ(image.m_nHeight, 20);
    ASSERT_EQ(image.m_nBitCount, 24);
    for (int y = 0; y < 20; ++y) {
        const std::uint8_t* p = image.TopRow(y);
        for (int x = 0; x < 30; ++x, p += 3) {
            ASSERT_EQ(p[0], Blue(x + 3, y + 4));
            ASSERT_EQ(p[1], Green(x + 3, y + 4));
            ASSERT_EQ(p[2], Red(x + 3, y + 4));
        }
    }
    // Without a rectangle the whole view is taken.
    HDIB whole = DibFromWindowArea(&view, nullptr);
    ASSERT_TRUE(whole);
    EXPECT_EQ(DibHeaderWidth(whole->data()), 64);
    EXPECT_EQ(DibHeaderHeight(whole->data()), 48);
}

TEST(DibFromWindowArea, FailureLeavesTheImageAsItWas) {
    CPlayerView view;
    PaintView(view, 16, 16);
    CDibImage image;
    ASSERT_TRUE(image.Create(5, 5, 24));
    const GrabRect empty{4, 4, 4, 10};
    EXPECT_FALSE(CaptureWindow(image, &view, &empty));
    EXPECT_FALSE(CaptureWindow(image, nullptr, nullptr));
    EXPECT_EQ(image.m_nWidth, 5);
    EXPECT_EQ(DibFromWindowArea(nullptr, &empty), nullptr);
}
