#include <gtest/gtest.h>

#include "capture/frame_queue.h"
#include "platform/window_grab.h"

namespace {

// A bitmap whose every pixel carries `tag`, so frames can be told apart.
void FillTagged(CGrabBitmap& bitmap, int tag) {
    for (int y = 0; y < bitmap.m_nHeight; ++y) {
        std::uint8_t* p = bitmap.Row(y);
        for (int x = 0; x < bitmap.m_nWidth; ++x, p += 4) {
            p[0] = std::uint8_t(tag);
            p[1] = std::uint8_t(tag * 2);
            p[2] = std::uint8_t(255 - tag);
            p[3] = 0xAB;
        }
    }
}

int TagOf(CDibImage& frame) {
    const std::uint8_t* p = frame.TopRow(0);
    return p[0];
}

}  // namespace

TEST(FrameQueue, SlotsAreMadeOnceAs350x240x24) {
    CFrameQueue queue;
    CGrabBitmap bitmap;
    ASSERT_TRUE(bitmap.Create(kFrameWidth, kFrameHeight));
    ASSERT_TRUE(queue.Push(bitmap));
    CDibImage* frame = nullptr;
    ASSERT_TRUE(queue.PeekFront(&frame));
    EXPECT_EQ(frame->m_nWidth, 350);
    EXPECT_EQ(frame->m_nHeight, 240);
    EXPECT_EQ(frame->m_nBitCount, 24);
    EXPECT_EQ(frame->m_nRowBytes, 1052);
}

TEST(FrameQueue, FullQueueRefusesTheNextFrameAndKeepsOrder) {
    CFrameQueue queue;
    CGrabBitmap bitmap;
    ASSERT_TRUE(bitmap.Create(kFrameWidth, kFrameHeight));
    for (int i = 0; i < kFrameQueueCapacity; ++i) {
        FillTagged(bitmap, i + 1);
        ASSERT_TRUE(queue.Push(bitmap)) << i;
    }
    EXPECT_TRUE(queue.IsFull());
    FillTagged(bitmap, 99);
    EXPECT_FALSE(queue.Push(bitmap));
    EXPECT_EQ(queue.Count(), 30);
    for (int i = 0; i < kFrameQueueCapacity; ++i) {
        CDibImage* frame = nullptr;
        ASSERT_TRUE(queue.PeekFront(&frame));
        EXPECT_EQ(TagOf(*frame), i + 1);
        ASSERT_TRUE(queue.DropFront());
    }
    EXPECT_TRUE(queue.IsEmpty());
}

TEST(FrameQueue, ThirtyPushesAndDropsWrapAroundToEmpty) {
    CFrameQueue queue;
    CGrabBitmap bitmap;
    ASSERT_TRUE(bitmap.Create(kFrameWidth, kFrameHeight));
    CDibImage* first = nullptr;
    for (int i = 0; i < kFrameQueueCapacity; ++i) ASSERT_TRUE(queue.Push(bitmap));
    for (int i = 0; i < kFrameQueueCapacity; ++i) {
        CDibImage* frame = nullptr;
        ASSERT_TRUE(queue.PeekFront(&frame));
        if (i == 0)
            first = frame;
        ASSERT_TRUE(queue.DropFront());
    }
    EXPECT_TRUE(queue.IsEmpty());
    EXPECT_FALSE(queue.IsFull());
    // Head is back where it started: the next frame goes to the first slot again.
    ASSERT_TRUE(queue.Push(bitmap));
    CDibImage* again = nullptr;
    ASSERT_TRUE(queue.PeekFront(&again));
    EXPECT_EQ(again, first);
}

TEST(FrameQueue, PeekTwiceGivesTheSameSlotAndEmptyQueueRefuses) {
    CFrameQueue queue;
    CDibImage* untouched = reinterpret_cast<CDibImage*>(&queue);
    CDibImage* frame = untouched;
    EXPECT_FALSE(queue.PeekFront(&frame));
    EXPECT_EQ(frame, untouched);
    EXPECT_FALSE(queue.DropFront());
    EXPECT_TRUE(queue.IsEmpty());

    CGrabBitmap bitmap;
    ASSERT_TRUE(bitmap.Create(kFrameWidth, kFrameHeight));
    FillTagged(bitmap, 7);
    ASSERT_TRUE(queue.Push(bitmap));
    FillTagged(bitmap, 8);
    ASSERT_TRUE(queue.Push(bitmap));
    EXPECT_FALSE(queue.PeekFront(nullptr));
    CDibImage* a = nullptr;
    CDibImage* b = nullptr;
    ASSERT_TRUE(queue.PeekFront(&a));
    ASSERT_TRUE(queue.PeekFront(&b));
    EXPECT_EQ(a, b);
    EXPECT_EQ(TagOf(*a), 7);
    EXPECT_EQ(queue.Count(), 2);
}

// Rows land bottom-up as blue, green, red; what a smaller picture does not cover is black.
TEST(FrameQueue, PushCopiesPixelsBottomUpAndBlackensTheRest) {
    struct Case {
        int width, height;
    };
    const Case cases[] = {{350, 240}, {400, 300}, {200, 100}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height);
        CGrabBitmap bitmap;
        ASSERT_TRUE(bitmap.Create(c.width, c.height));
        for (int y = 0; y < c.height; ++y) {
            for (int x = 0; x < c.width; ++x) {
                std::uint8_t* p = bitmap.Row(y) + x * 4;
                p[0] = std::uint8_t(x);
                p[1] = std::uint8_t(y);
                p[2] = std::uint8_t(x ^ y);
                p[3] = 0xFF;
            }
        }
        CFrameQueue queue;
        ASSERT_TRUE(queue.Push(bitmap));
        CDibImage* frame = nullptr;
        ASSERT_TRUE(queue.PeekFront(&frame));
        const std::uint8_t* bits = frame->Bits();
        for (int y = 0; y < 240; y += 7) {
            for (int x = 0; x < 350; x += 5) {
                // Memory row 0 is the bottom picture row.
                const std::uint8_t* p = bits + (239 - y) * 1052 + x * 3;
                const bool inside = x < c.width && y < c.height;
                ASSERT_EQ(p[0], inside ? std::uint8_t(x) : 0) << x << "," << y;
                ASSERT_EQ(p[1], inside ? std::uint8_t(y) : 0) << x << "," << y;
                ASSERT_EQ(p[2], inside ? std::uint8_t(x ^ y) : 0) << x << "," << y;
            }
        }
    }
}
