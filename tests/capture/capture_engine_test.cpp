#include <gtest/gtest.h>

#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <thread>

#include "capture/capture_engine.h"
#include "common/temp_dir.h"
#include "common/wait_for.h"
#include "platform/media_player.h"
#include "platform/window_grab.h"

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kFrameFileBytes = 14 + 40 + 1052 * 240;  // 252534

void Paint(CGrabBitmap& bitmap, int tag) {
    for (int y = 0; y < bitmap.m_nHeight; ++y) {
        std::uint8_t* p = bitmap.Row(y);
        for (int x = 0; x < bitmap.m_nWidth; ++x, p += 4) {
            p[0] = std::uint8_t(tag);
            p[1] = std::uint8_t(tag + 1);
            p[2] = std::uint8_t(tag + 2);
        }
    }
}

void PushTagged(CFrameQueue& queue, int tag, std::optional<std::int32_t> stampMs = std::nullopt) {
    CGrabBitmap bitmap;
    ASSERT_TRUE(bitmap.Create(kGrabWidth, kGrabHeight));
    Paint(bitmap, tag);
    ASSERT_TRUE(queue.Push(bitmap, stampMs));
}

// Presents a 350 x 240 picture painted with `tag` in `view`, as the player's renderer would.
void PresentTagged(CPlayerView& view, int tag) {
    CGrabBitmap back;
    ASSERT_TRUE(back.Create(kGrabWidth, kGrabHeight));
    Paint(back, tag);
    ASSERT_TRUE(view.Present(back));
}

std::string Name(long long number) {
    char name[32];
    std::snprintf(name, sizeof name, "%08lld.bmp", number);
    return name;
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
    // Frames flushed without a target of the test's own land in its folder, never in the
    // current one.
    CaptureEngine() { m_target.SetCaptureTarget(m_dir.Path().string(), 0); }

    TempDir m_dir;
    CFrameQueue m_queue;
    CCaptureTarget m_target{m_queue};
};

class FixedPosition : public IPositionSource {
public:
    explicit FixedPosition(double seconds) : m_dSeconds(seconds) {}
    double PositionSeconds() const override { return m_dSeconds; }
    std::atomic<double> m_dSeconds;
};

// A worker whose timer is the test's: each Tick is one expiry.
class TickedWorker : public CCaptureWorker {
public:
    explicit TickedWorker(CFrameQueue& queue)
        : CCaptureWorker(queue), m_nTicks(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
    ~TickedWorker() override {
        Stop();
        close(m_nTicks);
    }
    void Tick() {
        const std::uint64_t one = 1;
        ASSERT_EQ(write(m_nTicks, &one, sizeof one), ssize_t(sizeof one));
    }

protected:
    // The routine closes what it is given.
    int CreateTickTimer(int) override { return dup(m_nTicks); }

private:
    const int m_nTicks;
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

// The worker grabs the view's whole picture into 350 x 240 frames; the flushed file shows it.
// A view grown to twice that size (each 2 x 2 block of one value) gives the same frame.
TEST_F(CaptureEngine, WorkerGrabsTheViewIntoTheQueue) {
    CPlayerView view;
    ASSERT_TRUE(view.Resize(700, 480));
    {
        auto locked = view.LockFrame();
        CGrabBitmap& frame = locked.MutableFrame();
        for (int y = 0; y < frame.m_nHeight; ++y) {
            for (int x = 0; x < frame.m_nWidth; ++x)
                frame.Row(y)[x * 4] = std::uint8_t((x / 2 + 3 * (y / 2)) & 0xFF);
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

// A stop wakes a run that waits for its next tick at once, however long the interval: with
// a day between ticks and no tick, only the stop can end the wait.
TEST_F(CaptureEngine, StopWakesARunWaitingForItsNextTick) {
    CPlayerView view;
    ASSERT_TRUE(view.Resize(350, 240));
    TickedWorker worker(m_queue);
    worker.Start(&view, 24 * 3600 * 1000);
    ASSERT_TRUE(WaitFor([&] { return worker.GrabbedFrames() == 1; }));
    worker.Stop();
    EXPECT_FALSE(worker.IsRunning());
    EXPECT_EQ(worker.GrabbedFrames(), 1);  // the first grab comes at once, the next on a tick
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

// Frames are named after their stamps, but a name never repeats or goes back within one
// recording (the name before + 1), and a file in the way is never replaced: the next free
// number is taken and counted. Frames without a stamp count on from the first number, and the
// counter is never re-based below the last name.
TEST_F(CaptureEngine, FramesTakeTheirStampsNeverGoBackAndNeverReplaceAFile) {
    using Stamp = std::optional<std::int32_t>;
    constexpr Stamp kNone = std::nullopt;
    struct Case {
        const char* name;
        std::vector<long long> existing;          // files (or, negative, folders) already there
        std::vector<std::vector<Stamp>> flushes;  // stamps of the frames of each flush
        std::int32_t nextNumber;                  // given to every flush
        std::vector<long long> names;             // expected, frame by frame
        int renumbered;
    };
    const Case cases[] = {
        {"advancing", {}, {{100, 140}, {180}}, 0, {100, 140, 180}, 0},
        {"still picture", {}, {{500, 500, 500}, {500}}, 0, {500, 501, 502, 503}, 0},
        {"position went back", {}, {{300, 200}, {250, 301, 900}}, 0, {300, 301, 302, 303, 900}, 0},
        {"files in the way", {700, 701, 741}, {{700, 720}, {740, 740}}, 0, {702, 720, 740, 742}, 2},
        {"a folder of that name", {-60}, {{60, 60}}, 0, {61, 62}, 1},
        {"no stamps", {}, {{kNone, kNone}, {kNone}}, 10, {5000, 5001, 5002}, 0},
        {"no stamps, file there", {5001}, {{kNone, kNone}}, 0, {5000, 5002}, 1},
        {"stamp after unstamped", {}, {{kNone}, {4000, 6000}}, 0, {5000, 5001, 6000}, 0},
    };
    int folder = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path dir = m_dir.Path() / std::to_string(folder++);
        fs::create_directories(dir);
        std::map<std::string, std::string> before;
        for (long long number : c.existing) {
            if (number < 0) {
                fs::create_directory(dir / Name(-number));
                before[Name(-number)] = "folder";
            } else {
                std::ofstream(dir / Name(number)) << "kept " << number;
                before[Name(number)] = "kept " + std::to_string(number);
            }
        }
        m_target.SetCaptureTarget(dir.string(), 5000);
        int tag = 1;
        for (const auto& flush : c.flushes) {
            for (const Stamp& stamp : flush) PushTagged(m_queue, 10 * tag++, stamp);
            m_target.FlushFrames(c.nextNumber);
        }
        // Each frame under its name, oldest first; the files that were there are untouched.
        std::vector<std::string> expected;
        for (std::size_t i = 0; i < c.names.size(); ++i) {
            const std::string name = Name(c.names[i]);
            expected.push_back(name);
            const auto bytes = ReadAllBytes((dir / name).string());
            ASSERT_EQ(bytes.size(), kFrameFileBytes) << name;
            EXPECT_EQ(BlueAt(bytes, 10, 10), int(10 * (i + 1))) << name;
        }
        for (const auto& [name, text] : before) {
            expected.push_back(name);
            if (text == "folder") {
                EXPECT_TRUE(fs::is_directory(dir / name));
            } else {
                const auto bytes = ReadAllBytes((dir / name).string());
                EXPECT_EQ(std::string(bytes.begin(), bytes.end()), text);
            }
        }
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(FilesIn(dir), expected);
        const CFlushStats stats = m_target.Stats();
        EXPECT_EQ(stats.m_nWritten, int(c.names.size()));
        EXPECT_EQ(stats.m_nRenumbered, c.renumbered);
        EXPECT_EQ(stats.m_nFailed, 0);
        // The next unstamped frame would follow the last name at the earliest.
        EXPECT_EQ(m_target.NextPath(),
                  (dir / Name(std::max<long long>(c.nextNumber, c.names.back() + 1))).string());
    }
}

// A run told how many pictures the view had shown grabs nothing until a new one is presented,
// then takes that one first; each frame carries the position read as it was grabbed. The
// ticks are the test's, so the position changes between two known grabs.
TEST_F(CaptureEngine, WorkerWaitsForANewPictureAndStampsThePosition) {
    CPlayerView view;
    ASSERT_TRUE(view.Resize(kGrabWidth, kGrabHeight));
    PresentTagged(view, 30);  // what the view showed before: an earlier run's last picture
    FixedPosition position(2.5);
    TickedWorker worker(m_queue);
    CGrabOptions options;
    options.m_pPosition = &position;
    options.m_nPicturesBefore = view.FrameCount();
    // A day between ticks: every grab after the first is one of the test's ticks.
    worker.Start(&view, 24 * 3600 * 1000, options);
    ASSERT_TRUE(WaitFor([&] { return worker.IsWaitingForPicture(); }));
    EXPECT_EQ(worker.GrabbedFrames(), 0);
    EXPECT_TRUE(m_queue.IsEmpty());
    position.m_dSeconds = 0.125;
    PresentTagged(view, 60);
    // The picture's own grab, then one a tick.
    constexpr int kStill = 3;
    for (int n = 1; n <= kStill; ++n) {
        if (n > 1)
            worker.Tick();
        ASSERT_TRUE(WaitFor([&] { return m_queue.Count() == n; })) << n;
    }
    position.m_dSeconds = 0.75;
    constexpr int kMoved = 3;
    for (int n = 1; n <= kMoved; ++n) {
        worker.Tick();
        ASSERT_TRUE(WaitFor([&] { return m_queue.Count() == kStill + n; })) << n;
    }
    worker.Stop();
    const int queued = m_queue.Count();
    ASSERT_EQ(queued, kStill + kMoved);
    CDibImage* frame = nullptr;
    std::optional<std::int32_t> stamp;
    ASSERT_TRUE(m_queue.PeekFront(&frame, &stamp));
    EXPECT_EQ(frame->TopRow(0)[0], 60);
    EXPECT_EQ(stamp, std::optional<std::int32_t>(125));
    m_target.SetCaptureTarget(m_dir.Path().string(), 0);
    m_target.FlushFrames(0);
    // 125, 126, 127 while the position stood at 0.125 s (a name never repeats), then 750 on.
    const std::vector<std::string> files = FilesIn(m_dir.Path());
    EXPECT_EQ(files, (std::vector<std::string>{"00000125.bmp", "00000126.bmp", "00000127.bmp",
                                               "00000750.bmp", "00000751.bmp", "00000752.bmp"}));
    ASSERT_FALSE(files.empty());
    EXPECT_EQ(BlueAt(ReadAllBytes(m_dir.File(files.front())), 0, 0), 60);
}
