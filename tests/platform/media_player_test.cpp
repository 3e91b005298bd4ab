#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QThread>

#include <vector>

#include "common/media_clips.h"
#include "common/temp_dir.h"
#include "platform/media_player.h"
#include "platform/window_grab.h"

namespace {

// Clips are made once for the whole program.
class Clips {
public:
    static Clips& Get() {
        static Clips clips;
        return clips;
    }
    std::string Path(const std::string& extension, double seconds = 2.0) {
        const std::string key = extension + std::to_string(seconds);
        auto found = m_paths.find(key);
        if (found != m_paths.end())
            return found->second;
        const auto dir = m_dir.Path() / key;
        std::filesystem::create_directories(dir);
        std::string why;
        std::string path = MakeMediaClip(dir, extension, seconds, &why);
        EXPECT_FALSE(path.empty()) << why;
        m_paths[key] = path;
        return path;
    }

private:
    TempDir m_dir;
    std::map<std::string, std::string> m_paths;
};

// Records every notification with the thread it came on.
struct Listener {
    explicit Listener(CMediaPlayer& player) {
        QObject::connect(&player, &CMediaPlayer::PlayStateChanged, &context, [this](int state) {
            states.push_back(state);
            bOnUiThread =
                bOnUiThread && QThread::currentThread() == QCoreApplication::instance()->thread();
        });
        QObject::connect(&player, &CMediaPlayer::PositionChanged, &context, [this](double seconds) {
            positions.push_back(seconds);
            bOnUiThread =
                bOnUiThread && QThread::currentThread() == QCoreApplication::instance()->thread();
        });
    }
    QObject context;
    std::vector<int> states;
    std::vector<double> positions;
    bool bOnUiThread = true;
};

bool IsBlack(const CGrabBitmap& bitmap, int x0, int x1) {
    for (int y = 0; y < bitmap.m_nHeight; ++y) {
        const std::uint8_t* p = bitmap.Row(y);
        for (int x = x0; x < x1; ++x) {
            if (p[x * 4] > 16 || p[x * 4 + 1] > 16 || p[x * 4 + 2] > 16)
                return false;
        }
    }
    return true;
}

}  // namespace

// Every video format of the player pages plays, and the view shows the picture scaled with
// its aspect kept: a 320 x 240 video in a 350 x 240 view gets bars of 15 pixels each side.
TEST(MediaPlayer, PlaysEveryVideoFormatIntoTheView) {
    EnsureApplication();
    for (const std::string& extension : VideoClipExtensions()) {
        SCOPED_TRACE(extension);
        const std::string path = Clips::Get().Path(extension);
        ASSERT_FALSE(path.empty());
        CMediaPlayer player(false);
        const CStatus started = player.Start();
        ASSERT_TRUE(started) << started.Reason();
        ASSERT_TRUE(player.SetViewSize(350, 240));
        const CStatus opened = player.Open(path);
        ASSERT_TRUE(opened) << opened.Reason();
        EXPECT_EQ(player.PlayState(), kPlayStateStopped);
        if (extension != ".swf") {  // swf files declare no length
            EXPECT_GT(player.Duration(), 1.5);
        }
        player.Play();
        EXPECT_TRUE(PumpUntil(
            [&] { return player.PositionSeconds() > 0.5 && player.View().FrameCount() > 3; },
            10000));
        EXPECT_EQ(player.PlayState(), kPlayStatePlaying);
        CGrabBitmap bitmap;
        ASSERT_TRUE(bitmap.Create(350, 240));
        ASSERT_TRUE(GrabViewArea(player.View(), 0, 0, bitmap));
        EXPECT_TRUE(IsBlack(bitmap, 0, 12));
        EXPECT_TRUE(IsBlack(bitmap, 338, 350));
        EXPECT_FALSE(IsBlack(bitmap, 20, 330));
    }
}

TEST(MediaPlayer, PlaysSoundOnlyFormats) {
    EnsureApplication();
    for (const std::string& extension : AudioClipExtensions()) {
        SCOPED_TRACE(extension);
        const std::string path = Clips::Get().Path(extension);
        ASSERT_FALSE(path.empty());
        CMediaPlayer player(false);
        const CStatus opened = player.Open(path);
        ASSERT_TRUE(opened) << opened.Reason();
        player.Play();
        EXPECT_TRUE(PumpUntil([&] { return player.PositionSeconds() > 0.3; }, 10000));
    }
}

TEST(MediaPlayer, RefusesWhatIsNotMedia) {
    EnsureApplication();
    TempDir dir;
    WriteAllBytes(dir.File("notes.avi"), {'h', 'e', 'l', 'l', 'o'});
    for (const std::string& path : {dir.File("notes.avi"), dir.File("missing.wmv")}) {
        SCOPED_TRACE(path);
        CMediaPlayer player(false);
        const CStatus opened = player.Open(path);
        EXPECT_FALSE(opened);
        EXPECT_NE(opened.Reason().find(path), std::string::npos) << opened.Reason();
        EXPECT_FALSE(player.HasMedia());
        player.Play();  // nothing to play: stays stopped
        EXPECT_EQ(player.PlayState(), kPlayStateStopped);
        EXPECT_EQ(player.PositionSeconds(), 0.0);
    }
}

// Notifications arrive on the UI thread and say how the player is at delivery: pausing and at
// once playing again must not deliver a late "paused".
TEST(MediaPlayer, StateNotificationsAreNeverStale) {
    EnsureApplication();
    CMediaPlayer player(false);
    ASSERT_TRUE(player.SetViewSize(160, 120));
    ASSERT_TRUE(player.Open(Clips::Get().Path(".mpg")));
    Listener listener(player);
    player.Play();
    ASSERT_TRUE(PumpUntil([&] { return !listener.states.empty() && listener.positions.size() > 3; },
                          10000));
    EXPECT_EQ(listener.states, std::vector<int>{kPlayStatePlaying});
    for (int i = 0; i < 5; ++i) {
        player.Pause();
        player.Play();
    }
    PumpUntil([] { return false; }, 300);
    EXPECT_EQ(listener.states, std::vector<int>{kPlayStatePlaying});

    player.Pause();
    ASSERT_TRUE(PumpUntil([&] { return listener.states.size() == 2; }, 5000));
    EXPECT_EQ(listener.states.back(), kPlayStatePaused);
    player.Stop();
    ASSERT_TRUE(PumpUntil([&] { return listener.states.size() == 3; }, 5000));
    EXPECT_EQ(listener.states.back(), kPlayStateStopped);
    EXPECT_TRUE(PumpUntil([&] { return player.PositionSeconds() < 0.1; }, 5000));
    EXPECT_TRUE(listener.bOnUiThread);
    for (std::size_t i = 1; i < 3 && i < listener.positions.size(); ++i) {
        EXPECT_GE(listener.positions[i], listener.positions[i - 1]);
    }
}

// The end of the media is reported as stopped; Play then starts again from the beginning.
TEST(MediaPlayer, EndOfMediaStopsAndPlayStartsOver) {
    EnsureApplication();
    CMediaPlayer player(false);
    ASSERT_TRUE(player.SetViewSize(160, 120));
    ASSERT_TRUE(player.Open(Clips::Get().Path(".avi", 0.6)));
    Listener listener(player);
    player.Play();
    ASSERT_TRUE(PumpUntil([&] { return listener.states.size() >= 2; }, 10000));
    EXPECT_EQ(listener.states, (std::vector<int>{kPlayStatePlaying, kPlayStateStopped}));
    EXPECT_GT(player.PositionSeconds(), 0.4);
    player.Play();
    ASSERT_TRUE(PumpUntil([&] { return listener.states.size() >= 3; }, 5000));
    EXPECT_EQ(listener.states.back(), kPlayStatePlaying);
    EXPECT_LT(player.PositionSeconds(), 0.4);
}

// A paused player draws its picture again at the new size, bars and all; the position reads
// the same in seconds and milliseconds.
TEST(MediaPlayer, ResizingAPausedViewRedrawsIt) {
    EnsureApplication();
    CMediaPlayer player(false);
    ASSERT_TRUE(player.SetViewSize(350, 240));
    ASSERT_TRUE(player.Open(Clips::Get().Path(".wmv")));
    player.Play();
    ASSERT_TRUE(PumpUntil([&] { return player.PositionSeconds() > 0.4; }, 10000));
    player.Pause();
    ASSERT_TRUE(PumpUntil([&] { return player.PlayState() == kPlayStatePaused; }, 5000));
    const double seconds = player.PositionSeconds();
    EXPECT_EQ(player.PositionMs(), std::int32_t(seconds * 1000.0));
    const std::uint64_t before = player.View().FrameCount();
    // 320 x 240 in 200 x 300: 200 x 150 with bars of 75 rows above and below.
    ASSERT_TRUE(player.SetViewSize(200, 300));
    ASSERT_TRUE(PumpUntil([&] { return player.View().FrameCount() > before; }, 5000));
    CGrabBitmap bitmap;
    ASSERT_TRUE(bitmap.Create(200, 300));
    ASSERT_TRUE(GrabViewArea(player.View(), 0, 0, bitmap));
    CGrabBitmap top, middle;
    ASSERT_TRUE(top.Create(200, 70));
    ASSERT_TRUE(middle.Create(200, 140));
    GrabViewArea(player.View(), 0, 0, top);
    GrabViewArea(player.View(), 0, 80, middle);
    EXPECT_TRUE(IsBlack(top, 0, 200));
    EXPECT_FALSE(IsBlack(middle, 0, 200));
    EXPECT_EQ(player.PositionSeconds(), seconds);
}

TEST(MediaPlayer, RateIsKeptWithinWhatThePlayerTakes) {
    EnsureApplication();
    CMediaPlayer player(false);
    struct Case {
        double rate;
        bool accepted;
    };
    const Case cases[] = {{2.0, true},  {0.02, true},  {1.0, true},
                          {0.0, false}, {-1.0, false}, {1000.0, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rate);
        const double before = player.Rate();
        EXPECT_EQ(player.SetRate(c.rate), c.accepted);
        EXPECT_DOUBLE_EQ(player.Rate(), c.accepted ? c.rate : before);
    }
}
