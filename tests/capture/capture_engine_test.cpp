#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "capture/capture_engine.h"
#include "common/temp_dir.h"
#include "platform/media_player.h"
#include "platform/window_grab.h"

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kFrameFileBytes = 14 + 40 + 1052 * 240;  // 252534

void PushTagged(CFrameQueue& queue, int tag) {
    CGrabBitmap bitmap;
    ASSERT_TRUE(bitmap.Create(kGrabWidth, kGrabHeight));
    for (int y = 0; y < kGrabHeight; ++y) {
        std::uint8_t* p = bitmap.Row(y);
        for (int x = 0; x < kGrabWidth; ++x, p += 4) {
            p[0] = std::uint8_t(tag);
            p[1] = std::uint8_t(tag + 1);
            p[2] = std::uint8_t(tag + 2);
        }
    }
    ASSERT_TRUE(queue.Push(bitmap));
}

// Blue of the picture's pixel (x, y) in a 350 x 240 24-bit BMP file's bytes.
int BlueAt(const std::vector<unsigned char>& file, int x, int y) {
    return file[54 + std::size_t(239 - y) * 1052 + std::size_t(x) * 3];
}

std::vector<std::string> FilesIn(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class CaptureEngine : public testing::Test {
protected:
    TempDir m_dir;
    CFrameQueue m_queue;
    CCaptureTarget m_target{m_queue};
};

class FixedPosition : public IPositionSource {
public:
    explicit FixedPosition(double seconds) : m_dSeconds(seconds) {}
    double PositionSeconds() const override { return m_dSeconds; }
    double m_dSeconds;
};

class NoTimerWorker : public CCaptureWorker {
public:
    using CCaptureWorker::CCaptureWorker;

protected:
    int CreateTickTimer(int) override { return -1; }
};

}  // namespace

TEST_F(CaptureEngine, TargetGetsExactlyOneSeparator) {
    const std::string folder = m_dir.Path().string();
    for (const std::string& given : {folder, folder + "/"}) {
        SCOPED_TRACE(given);
        m_target.SetCaptureTarget(given, 5000);
        EXPECT_EQ(m_target.NextPath(), folder + "/00005000.bmp");
        PushTagged(m_queue, 1);
        m_target.FlushFrames(6000);
        EXPECT_EQ(FilesIn(m_dir.Path()), std::vector<std::string>{"00005000.bmp"});
        fs::remove(m_dir.Path() / "00005000.bmp");
    }
}

TEST_F(CaptureEngine, FlushWritesOldestFirstUnderConsecutiveNumbersThenRebases) {
    m_target.SetCaptureTarget(m_dir.Path().string(), 5000);
    for (int tag : {10, 20, 30}) PushTagged(m_queue, tag);
    m_target.FlushFrames(7777);
    EXPECT_TRUE(m_queue.IsEmpty());
    ASSERT_EQ(FilesIn(m_dir.Path()),
              (std::vector<std::string>{"00005000.bmp", "00005001.bmp", "00005002.bmp"}));
    const int tags[] = {10, 20, 30};
    for (int i = 0; i < 3; ++i) {
        const auto bytes = ReadAllBytes(m_dir.File("0000500" + std::to_string(i) + ".bmp"));
        ASSERT_EQ(bytes.size(), kFrameFileBytes);
        EXPECT_EQ(bytes[0], 'B');
        EXPECT_EQ(BlueAt(bytes, 0, 0), tags[i]);
        EXPECT_EQ(BlueAt(bytes, 349, 239), tags[i]);
    }
    EXPECT_EQ(m_target.NextPath(), m_dir.File("00007777.bmp"));
    const CFlushStats stats = m_target.Stats();
    EXPECT_EQ(stats.m_nWritten, 3);
    EXPECT_EQ(stats.m_nFailed, 0);
}

TEST_F(CaptureEngine, EmptyFlushOnlySetsTheCounter) {
    m_target.SetCaptureTarget(m_dir.Path().string(), 5000);
    m_target.FlushFrames(123);
    EXPECT_TRUE(FilesIn(m_dir.Path()).empty());
    EXPECT_EQ(m_target.NextPath(), m_dir.File("00000123.bmp"));
}

TEST_F(CaptureEngine, NamesArePaddedToEightDigitsOnly) {
    struct Case {
        std::int32_t number;
        const char* name;
    };
    const Case cases[] = {{0, "00000000.bmp"},
                          {42, "00000042.bmp"},
                          {12345678, "12345678.bmp"},
                          {123456789, "123456789.bmp"},
                          {2147483647, "2147483647.bmp"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m_target.SetCaptureTarget(m_dir.Path().string(), c.number);
        PushTagged(m_queue, 5);
        m_target.FlushFrames(0);
        EXPECT_TRUE(fs::exists(m_dir.Path() / c.name));
    }
}

TEST(PositionToMs, TruncatesTowardZero) {
    struct Case {
        double seconds;
        std::int32_t ms;
    };
    const Case cases[] = {{12.3456, 12345},   {0.0, 0},         {0.0009, 0},
                          {1.9999, 1999},     {-0.0015, -1},    {1e12, INT32_MAX},
                          {-1e12, INT32_MIN}, {std::nan(""), 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.seconds);
        EXPECT_EQ(PositionToMs(c.seconds), c.ms);
    }
}

// A folder that cannot take files: every frame is dropped, counted with the first reason,
// and the recording goes on into a good folder afterwards.
TEST_F(CaptureEngine, FlushIntoAnUnwritableFolderKeepsGoingAndReports) {
    const std::string missing = (m_dir.Path() / "not-there" / "deeper").string();
    m_target.SetCaptureTarget(missing, 100);
    for (int tag : {1, 2, 3}) PushTagged(m_queue, tag);
    m_target.FlushFrames(200);
    EXPECT_TRUE(m_queue.IsEmpty());
    CFlushStats stats = m_target.Stats();
    EXPECT_EQ(stats.m_nWritten, 0);
    EXPECT_EQ(stats.m_nFailed, 3);
    EXPECT_EQ(stats.m_strFailedPath, missing + "/00000100.bmp");
    EXPECT_FALSE(stats.m_strFailReason.empty());
    EXPECT_EQ(stats.FirstError(), stats.m_strFailedPath + ": " + stats.m_strFailReason);
    EXPECT_EQ(m_target.NextPath(), missing + "/00000200.bmp");

    // Still recording: the next frame goes in as soon as the folder exists.
    fs::create_directories(missing);
    PushTagged(m_queue, 4);
    m_target.FlushFrames(300);
    stats = m_target.Stats();
    EXPECT_EQ(stats.m_nWritten, 1);
    EXPECT_EQ(stats.m_nFailed, 3);
    EXPECT_TRUE(fs::exists(fs::path(missing) / "00000200.bmp"));
}

// The worker grabs the view's top-left 350 x 240 pixels; the flushed file shows them.
TEST_F(CaptureEngine, WorkerGrabsTheViewIntoTheQueue) {
    CPlayerView view;
    ASSERT_TRUE(view.Resize(400, 300));
    {
        auto locked = view.LockFrame();
        CGrabBitmap& frame = locked.MutableFrame();
        for (int y = 0; y < frame.m_nHeight; ++y) {
            for (int x = 0; x < frame.m_nWidth; ++x)
                frame.Row(y)[x * 4] = std::uint8_t((x + 3 * y) & 0xFF);
        }
    }
    m_target.SetCaptureTarget(m_dir.Path().string(), 0);
    CCaptureWorker worker(m_queue);
    worker.Start(&view, 20);
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (m_queue.Count() < 2 && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    worker.Stop();
    const int queued = m_queue.Count();
    ASSERT_GE(queued, 2);
    EXPECT_EQ(worker.GrabbedFrames(), queued + worker.DroppedFrames());
    m_target.FlushFrames(0);
    const auto bytes = ReadAllBytes(m_dir.File("00000001.bmp"));
    ASSERT_EQ(bytes.size(), kFrameFileBytes);
    for (int y = 0; y < 240; y += 11) {
        for (int x = 0; x < 350; x += 13)
            ASSERT_EQ(BlueAt(bytes, x, y), (x + 3 * y) & 0xFF) << x << "," << y;
    }
}

TEST_F(CaptureEngine, SlowRunStopsWithinAboutTwoSeconds) {
    CPlayerView view;
    ASSERT_TRUE(view.Resize(350, 240));
    CCaptureWorker worker(m_queue);
    worker.Start(&view, 1000);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const auto before = std::chrono::steady_clock::now();
    worker.Stop();
    const auto took = std::chrono::steady_clock::now() - before;
    EXPECT_LT(took, std::chrono::milliseconds(2100));
    EXPECT_EQ(worker.GrabbedFrames(), 1);  // the first grab comes at once, the next after 1 s
    m_target.FlushFrames(0);
}

// Without a timer the worker grabs as fast as it can (the full queue refuses most frames)
// and still stops.
TEST_F(CaptureEngine, WithoutATimerGrabbingNeverPausesAndStopStillWorks) {
    CPlayerView view;
    ASSERT_TRUE(view.Resize(350, 240));
    NoTimerWorker worker(m_queue);
    worker.Start(&view, 1000);
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (worker.DroppedFrames() < 50 && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    worker.Stop();
    EXPECT_FALSE(worker.IsRunning());
    EXPECT_TRUE(m_queue.IsFull());
    EXPECT_GE(worker.DroppedFrames(), 50);  // 1000 ms apart this would take nearly a minute
    m_target.FlushFrames(0);
}

TEST_F(CaptureEngine, NoViewEndsTheRunAtOnce) {
    CCaptureWorker worker(m_queue);
    worker.Start(nullptr, 20);
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (worker.IsRunning() && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_FALSE(worker.IsRunning());
    worker.Stop();
    EXPECT_EQ(worker.GrabbedFrames(), 0);
    EXPECT_TRUE(m_queue.IsEmpty());
}

// The writer flushes every 100 ms and re-bases the number on the position: 12.3456 s gives
// 12345.
TEST_F(CaptureEngine, WriterFlushesWithThePositionInMilliseconds) {
    m_target.SetCaptureTarget(m_dir.Path().string(), 5000);
    PushTagged(m_queue, 9);
    FixedPosition position(12.3456);
    CFrameWriter writer(m_target);
    writer.Start(&position);
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!m_queue.IsEmpty() && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    writer.Stop();
    EXPECT_EQ(FilesIn(m_dir.Path()), std::vector<std::string>{"00005000.bmp"});
    EXPECT_EQ(m_target.NextPath(), m_dir.File("00012345.bmp"));
}
