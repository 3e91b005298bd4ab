// The player wrappers of the two pages, and what one page's recording means for the other.
#include <gtest/gtest.h>

#include <QLayout>

#include <QApplication>
#include <QPushButton>
#include <QSpinBox>
#include <QToolButton>

#include <memory>

#include "app/capture/media_player2.h"
#include "app/capture/player_panel_widget.h"
#include "app/capture/rm_play_wnd.h"
#include "app/capture/rm_player_page.h"
#include "app/capture/screen_grab_widget.h"
#include "app/capture/video_view_widget.h"
#include "app/capture/win_media_player_page.h"
#include "app/main_sheet.h"
#include "app/program_pages.h"
#include "capture/capture_engine.h"
#include "capture/recording.h"
#include "common/media_clips.h"
#include "common/temp_dir.h"
#include "fake_media_player.h"
#include "gui_common/qt_test_app.h"
#include "image/dib_image.h"
#include "platform/media_player.h"
#include "platform/window_grab.h"
#include "player_test_support.h"

namespace fs = std::filesystem;

namespace {

std::string MakeClip(const TempDir& dir, const std::string& extension, double seconds) {
    std::string why;
    const std::string path = MakeMediaClip(dir.Path(), extension, seconds, &why);
    EXPECT_FALSE(path.empty()) << why;
    return path;
}

// The picture view and the panel of the first page share one player once a file is chosen,
// so the panel's buttons drive what the picture shows.
TEST(RMPlayWnd, BothViewsDriveOneClip) {
    CTestDesktop desktop;
    TestApp();
    TempDir dir;
    CFakePlayers players;
    CRecording recording;
    CRMPlayerPage page(desktop, recording, players.Factory());
    CRMPlayWnd* video = page.VideoPlayer();
    CRMPlayWnd* panel = page.PanelPlayer();
    EXPECT_EQ(video->VideoWidget()->size(), QSize(350, 240));
    EXPECT_EQ(video->size(), QSize(354, 244));  // the picture inside a 2-pixel sunken frame
    EXPECT_EQ(video->PanelWidget(), nullptr);
    EXPECT_EQ(panel->VideoWidget(), nullptr);
    ASSERT_NE(panel->PanelWidget(), nullptr);
    EXPECT_TRUE(panel->PanelWidget()->ShowStatusLine());
    EXPECT_FALSE(video->AcceptsKeyboard());
    EXPECT_TRUE(panel->AcceptsKeyboard());
    EXPECT_TRUE(video->SunkenFrame() && panel->SunkenFrame());

    const std::string clip = dir.File("clip.rm");
    players.AddMedia(clip, CFakeMedia{});
    ASSERT_TRUE(page.OpenMedia(QString::fromStdString(clip)));
    EXPECT_EQ(video->Console(), QStringLiteral("Clip1"));
    EXPECT_EQ(panel->Console(), QStringLiteral("Clip1"));
    ASSERT_EQ(panel->Player(), video->Player());
    panel->PanelWidget()->PlayButton()->click();
    EXPECT_TRUE(PumpUntil([&] { return video->GetPlayState() == kRmStatePlaying; }, 5000));
    dynamic_cast<CFakeMediaPlayer&>(*video->Player()).ShowFrame(30);
    panel->PanelWidget()->PauseButton()->click();
    EXPECT_TRUE(PumpUntil([&] { return video->GetPlayState() == kRmStatePaused; }, 5000));
    EXPECT_EQ(video->GetPosition(), 1200);
    panel->PanelWidget()->StopButton()->click();
    EXPECT_TRUE(PumpUntil([&] { return video->GetPlayState() == kRmStateStopped; }, 5000));
    EXPECT_EQ(video->GetPosition(), 0);
}

// Notifications of the clip act only while the page records.
TEST(RMPlayWnd, NotificationsActOnlyWhileRecording) {
    CTestDesktop desktop;
    TestApp();
    TempDir dir;
    CRecording recording;
    CRMPlayerPage page(desktop, recording, false);
    ASSERT_TRUE(page.OpenMedia(QString::fromStdString(MakeClip(dir, ".avi", 4))));
    page.SetFolder(QString::fromStdString(dir.File("frames")));
    IMediaPlayer* player = page.VideoPlayer()->Player();

    // Idle: a position report leaves a queued frame alone; a stop report changes nothing.
    const std::string idlePath = recording.NextFramePath();
    CGrabBitmap bitmap;
    ASSERT_TRUE(bitmap.Create(350, 240));
    ASSERT_TRUE(recording.Queue().Push(bitmap));
    emit player->PositionChanged(2.5);
    emit player->PlayStateChanged(kPlayStateStopped);
    PumpFor(50);
    EXPECT_EQ(recording.Queue().Count(), 1);
    EXPECT_EQ(recording.NextFramePath(), idlePath);
    EXPECT_EQ(page.State(), 1);
    ASSERT_TRUE(recording.Queue().DropFront());  // leaves the queue empty for the recording

    // Recording: a position report writes the queue and re-bases the counter on it.
    page.RecordButton()->click();
    ASSERT_EQ(page.State(), 3);
    emit player->PositionChanged(12.3456);
    EXPECT_EQ(recording.NextFramePath(), dir.File("frames/00012345.bmp"));
    // A paused report ends the recording from the event loop, like the stop button.
    emit player->PlayStateChanged(kPlayStatePaused);
    EXPECT_EQ(page.State(), 3);
    EXPECT_TRUE(PumpUntil([&] { return page.State() == 1; }, 5000));
    EXPECT_FALSE(recording.CaptureWorker().IsRunning());
}

TEST(RMPlayWnd, PlayStatesAsTheControlNamesThem) {
    const std::pair<int, int> kStates[] = {
        {kPlayStateStopped, 0}, {kPlayStatePaused, 4}, {kPlayStatePlaying, 3}};
    for (const auto& [player, control] : kStates) EXPECT_EQ(RmPlayState(player), control);
}

TEST(PlayerPanel, TimeIsMinutesSecondsAndTenths) {
    const std::pair<double, const char*> kTimes[] = {{0.0, "0:00.0"},     {1.26, "0:01.2"},
                                                     {59.99, "0:59.9"},   {61.5, "1:01.5"},
                                                     {3600.0, "60:00.0"}, {-1.0, "0:00.0"}};
    for (const auto& [seconds, text] : kTimes)
        EXPECT_EQ(FormatPlayTime(seconds), QString::fromLatin1(text)) << seconds;
}

// The second page's player: 350 x 312 with the picture in its top 350 x 240.
TEST(MediaPlayer2, PictureOnTopOfTheControls) {
    TestApp();
    CMediaPlayer2 player(false);
    EXPECT_EQ(player.minimumSize(), QSize(350, 312));
    // At its smallest and grown: the picture keeps its shape, the controls stay under it, and
    // the player renders at the picture's size.
    struct Size {
        QSize m_player;
        QRect m_picture;
    };
    const Size kSizes[] = {
        {{350, 312}, {0, 0, 350, 240}},
        {{700, 552}, {0, 0, 700, 480}},
    };
    player.show();
    for (const Size& size : kSizes) {
        player.resize(size.m_player);
        QCoreApplication::processEvents();
        EXPECT_EQ(player.VideoWidget()->geometry(), size.m_picture);
        EXPECT_EQ(player.PanelWidget()->geometry().top(), size.m_picture.bottom() + 1);
        EXPECT_EQ(player.View().Width(), size.m_picture.width());
        EXPECT_EQ(player.View().Height(), size.m_picture.height());
    }
}

// The state notification gives the old and the new state.
TEST(MediaPlayer2, ReportsOldAndNewState) {
    TestApp();
    TempDir dir;
    CMediaPlayer2 player(false);
    std::vector<std::pair<int, int>> changes;
    QObject::connect(&player, &CMediaPlayer2::PlayStateChange,
                     [&](int old, int now) { changes.emplace_back(old, now); });
    ASSERT_TRUE(player.Open(QString::fromStdString(MakeClip(dir, ".wmv", 4))));
    player.Play();
    ASSERT_TRUE(PumpUntil([&] { return !changes.empty(); }, 5000));
    player.Pause();
    ASSERT_TRUE(PumpUntil([&] { return changes.size() >= 2; }, 5000));
    const std::vector<std::pair<int, int>> expected = {{kPlayStateStopped, kPlayStatePlaying},
                                                       {kPlayStatePlaying, kPlayStatePaused}};
    EXPECT_EQ(changes, expected);
}

// The playback rate while recording: 100 % leaves the player's rate alone, any other value v
// sets v / 100, and stopping always puts back 1.0.
TEST(WinMediaPlayerPage, PlaybackRateDuringARecording) {
    CTestDesktop desktop;
    TestApp();
    TempDir dir;
    CRecording recording;
    CWinMediaPlayerPage page(desktop, recording, false);
    ASSERT_TRUE(page.OpenMedia(QString::fromStdString(MakeClip(dir, ".wmv", 10))));
    page.SetFolder(QString::fromStdString(dir.File("frames")));
    EXPECT_EQ(page.RateSpin()->minimum(), 1);
    EXPECT_EQ(page.RateSpin()->maximum(), 200);
    EXPECT_EQ(page.RateSpin()->value(), 100);
    struct RateCase {
        int m_nPercent;
        double m_dBefore;
        double m_dWhileRecording;
    };
    const RateCase kRates[] = {{100, 1.5, 1.5}, {25, 1.0, 0.25}, {200, 1.0, 2.0}, {1, 1.0, 0.01}};
    for (const RateCase& rate : kRates) {
        SCOPED_TRACE(rate.m_nPercent);
        page.Player()->SetRate(rate.m_dBefore);
        page.RateSpin()->setValue(rate.m_nPercent);
        page.RecordButton()->click();
        ASSERT_EQ(page.State(), 3);
        EXPECT_DOUBLE_EQ(page.Player()->GetRate(), rate.m_dWhileRecording);
        page.RecordButton()->click();
        ASSERT_EQ(page.State(), 1);
        EXPECT_DOUBLE_EQ(page.Player()->GetRate(), 1.0);
    }
}

// One recording, the sheet's: starting on one page ends the other page's recording first,
// whose frames stay in its own folder.
TEST(PlayerPages, StartingOnOnePageEndsTheOthersRecording) {
    CTestDesktop desktop;
    TestApp();
    TempDir dir;
    CTestDesktop& messages = desktop.StartRecording();
    CMainSheet sheet(desktop);
    InstallProgramPages(sheet, false, CRunContext{});
    auto& first = dynamic_cast<CRMPlayerPage&>(*sheet.Page(0));
    auto& second = dynamic_cast<CWinMediaPlayerPage&>(*sheet.Page(1));
    EXPECT_EQ(&first.Recording(), &sheet.Recording());
    EXPECT_EQ(&second.Recording(), &sheet.Recording());
    ASSERT_TRUE(first.OpenMedia(QString::fromStdString(MakeClip(dir, ".avi", 6))));
    first.SetFolder(QString::fromStdString(dir.File("first")));
    first.RecordButton()->click();
    ASSERT_TRUE(PumpUntil([&] { return first.VideoPlayer()->GetPosition() > 500; }, 10000));
    // The pages share the capture folder; the recording page keeps its own while it records.
    ASSERT_TRUE(second.OpenMedia(QString::fromStdString(MakeClip(dir, ".avi", 6))));
    second.SetFolder(QString::fromStdString(dir.File("second")));
    EXPECT_EQ(first.Folder(), QString::fromStdString(dir.File("first")));
    second.RecordButton()->click();
    EXPECT_EQ(first.State(), 1);
    EXPECT_EQ(second.State(), 3);
    const auto firstFiles = ListFrameFiles(dir.File("first"));
    EXPECT_FALSE(firstFiles.empty());
    ASSERT_TRUE(PumpUntil([&] { return second.PositionSeconds() > 0.5; }, 10000));
    second.RecordButton()->click();
    EXPECT_EQ(ListFrameFiles(dir.File("first")).size(), firstFiles.size());
    EXPECT_FALSE(ListFrameFiles(dir.File("second")).empty());
    EXPECT_TRUE(messages.m_texts.empty());
}

// On X11 the second page's snapshot is the screen at the player's corner, so a window lying
// over the player is in it; the first page's snapshot is the picture alone.
TEST(PlayerPagesX11, SnapshotOfTheScreenIncludesWindowsOverThePlayer) {
    CTestDesktop desktop;
    TestApp();
    if (!CanReadScreen())
        GTEST_SKIP() << "the screen cannot be read on "
                     << qPrintable(QGuiApplication::platformName());
    CRecording recording;
    CWinMediaPlayerPage wmp(desktop, recording, false);
    CRMPlayerPage rm(desktop, recording, false);
    for (QWidget* page : std::initializer_list<QWidget*>{&wmp, &rm}) {
        page->move(20, 20);
        page->show();
    }
    QWidget cover(nullptr, Qt::ToolTip | Qt::FramelessWindowHint);
    cover.setAutoFillBackground(true);
    QPalette red;
    red.setColor(QPalette::Window, QColor(255, 0, 0));
    cover.setPalette(red);
    cover.resize(60, 40);
    auto coverAt = [&](QWidget* player) {
        cover.move(player->mapToGlobal(QPoint(100, 80)));
        cover.show();
        cover.raise();
        PumpFor(500);
    };
    auto redAt = [](CDibImage& image, int x, int y) {
        const std::uint8_t* p = image.TopRow(y) + x * 3;
        return p[2] > 200 && p[1] < 60 && p[0] < 60;
    };
    wmp.raise();
    coverAt(wmp.Player());
    CDibImage screen;
    ASSERT_TRUE(wmp.GrabCurrentFrame(screen));
    EXPECT_EQ(screen.m_nWidth, 350);
    EXPECT_EQ(screen.m_nHeight, 240);
    EXPECT_TRUE(redAt(screen, 130, 100));
    EXPECT_FALSE(redAt(screen, 20, 20));

    rm.raise();
    coverAt(rm.VideoPlayer()->VideoWidget());
    CDibImage picture;
    ASSERT_TRUE(rm.GrabCurrentFrame(picture));
    EXPECT_FALSE(redAt(picture, 130, 100));
}

}  // namespace
