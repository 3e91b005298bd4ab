#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "common/still_scene.h"
#include "stack/frame_prefetch.h"

using still_scene::CMemorySource;

namespace {

std::vector<SFrame> Numbered(int count) {
    std::vector<SFrame> frames;
    for (int i = 0; i < count; ++i) {
        SFrame f;
        f.timeMs = 40 * i;
        f.width = 2 + i % 3;
        f.height = 2;
        f.bgr.assign(std::size_t(f.width) * f.height * 3, std::uint8_t(i));
        frames.push_back(f);
    }
    return frames;
}

// What one read gave, comparable across sources.
std::string Described(const CResult<bool>& got, const SFrame& frame) {
    if (!got)
        return "failed: " + got.Reason();
    if (!*got)
        return "end";
    return std::to_string(frame.timeMs) + " " + std::to_string(frame.width) + "x" +
           std::to_string(frame.height) + " " + std::string(frame.bgr.begin(), frame.bgr.end());
}

}  // namespace

// Random reads and rewinds give through the read-ahead exactly what the source gives directly:
// the frames, the end, a failure where the source fails, again after each rewind.
TEST(FramePrefetch, GivesWhatTheSourceGivesUnderRandomReadsAndRewinds) {
    std::mt19937 random(11);
    for (int round = 0; round < 200; ++round) {
        const int count = int(random() % 6);
        const int failAt = int(random() % 9) - 2;  // often none, sometimes past the end
        CMemorySource direct(Numbered(count), failAt);
        CMemorySource wrapped(Numbered(count), failAt);
        CPrefetchSource ahead(wrapped);
        SFrame a, b;
        for (int step = 0; step < 14; ++step) {
            SCOPED_TRACE("round " + std::to_string(round) + " step " + std::to_string(step));
            if (random() % 5 == 0) {
                ASSERT_TRUE(direct.Rewind().Ok());
                ASSERT_TRUE(ahead.Rewind().Ok());
                continue;
            }
            const CResult<bool> expected = direct.Next(a);
            const CResult<bool> got = ahead.Next(b);
            ASSERT_EQ(Described(got, b), Described(expected, a));
        }
        EXPECT_EQ(wrapped.Rewinds(), direct.Rewinds());
    }
}
