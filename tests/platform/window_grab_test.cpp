#include <gtest/gtest.h>

#include <cstring>

#include "common/painted_view.h"
#include "platform/media_player.h"
#include "platform/window_grab.h"

TEST(GrabBitmap, RowsAndStrideAre64ByteAligned) {
    for (int width : {1, 16, 17, 350, 1001}) {
        CGrabBitmap bitmap;
        ASSERT_TRUE(bitmap.Create(width, 3));
        EXPECT_EQ(bitmap.m_nStride % 64, 0);
        EXPECT_GE(bitmap.m_nStride, width * 4);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(bitmap.Row(0)) % 64, 0u);
    }
    CGrabBitmap none;
    EXPECT_FALSE(none.Create(0, 10));
    EXPECT_FALSE(none.Create(-5, 10));
    EXPECT_TRUE(none.IsEmpty());
}

// Pixels of the view land where they belong; whatever lies outside the view is black.
TEST(GrabViewArea, CopiesTheCoveredPartAndBlackensTheRest) {
    CPlayerView view;
    PaintView(view, 100, 80);
    struct Case {
        int left, top, width, height;
    };
    const Case cases[] = {{0, 0, 100, 80},  {10, 5, 50, 40},   {-20, -10, 60, 50}, {70, 60, 60, 40},
                          {200, 0, 10, 10}, {0, -100, 10, 10}, {-5, 0, 130, 90}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.left << "," << c.top << " " << c.width << "x" << c.height);
        CGrabBitmap bitmap;
        ASSERT_TRUE(bitmap.Create(c.width, c.height));
        std::memset(bitmap.Bits(), 0x55, std::size_t(bitmap.m_nStride) * c.height);
        EXPECT_TRUE(GrabViewArea(view, c.left, c.top, bitmap));
        for (int y = 0; y < c.height; ++y) {
            for (int x = 0; x < c.width; ++x) {
                const int vx = c.left + x;
                const int vy = c.top + y;
                const bool inside = vx >= 0 && vx < 100 && vy >= 0 && vy < 80;
                const std::uint8_t* p = bitmap.Row(y) + x * 4;
                ASSERT_EQ(p[0], inside ? Blue(vx, vy) : 0) << x << "," << y;
                ASSERT_EQ(p[1], inside ? Green(vx, vy) : 0) << x << "," << y;
                ASSERT_EQ(p[2], inside ? Red(vx, vy) : 0) << x << "," << y;
            }
        }
    }
}

TEST(GrabViewArea, ViewWithoutAPictureGivesBlack) {
    CPlayerView view;
    CGrabBitmap bitmap;
    ASSERT_TRUE(bitmap.Create(8, 8));
    std::memset(bitmap.Bits(), 0x77, std::size_t(bitmap.m_nStride) * 8);
    EXPECT_FALSE(GrabViewArea(view, 0, 0, bitmap));
    EXPECT_EQ(bitmap.Row(7)[31], 0);
}
