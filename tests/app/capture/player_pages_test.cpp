// The two player pages driven as the user would: choosing media and folders, recording until
// the stop button or the end of the media, snapshots, and the page going away mid-recording.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QFileDialog>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>

#include "app/capture/media_player2.h"
#include "app/capture/player_panel_widget.h"
#include "app/capture/recording_line.h"
#include "app/capture/rm_play_wnd.h"
#include "app/capture/rm_player_page.h"
#include "app/capture/video_view_widget.h"
#include "app/capture/win_media_player_page.h"
#include "app/main_sheet.h"
#include "app/program_pages.h"
#include "app/widgets/path_label.h"
#include "app/widgets/select_folder_dialog.h"
#include "capture/capture_engine.h"
#include "capture/recording.h"
#include "common/media_clips.h"
#include "common/temp_dir.h"
#include "fake_media_player.h"
#include "gui_common/qt_test_app.h"
#include "image/dib_image.h"
#include "platform/media_player.h"
#include "platform/mpv_library.h"
#include "player_test_support.h"

namespace fs = std::filesystem;

namespace {

// 350 x 240 at 24 bits: a 54-byte header and rows of 1050 bytes padded to 1052.
constexpr std::uintmax_t kFrameFileSize = 54 + (350 * 3 + 2) * 240;
// A frame of the fake player's 25 a second, in milliseconds.
constexpr long long kFrameMs = 40;

// Mean brightness (0 to 255) of the area a 320 x 240 video covers in a recorded frame file.
double MeanOfPicture(const fs::path& file) {
    const auto bytes = ReadAllBytes(file.string());
    if (bytes.size() != kFrameFileSize)
        return -1;
    double sum = 0;
    int n = 0;
    for (int row = 10; row < 230; row += 4) {
        for (int x = 20; x < 330; x += 4) {
            const unsigned char* p = bytes.data() + 54 + row * 1052 + x * 3;
            sum += p[0] + p[1] + p[2];
            ++n;
        }
    }
    return sum / (3.0 * n);
}

fs::path FramePath(const fs::path& dir, long long number) {
    char name[32];
    std::snprintf(name, sizeof name, "%08lld.bmp", number);
    return dir / name;
}

// Every frame file shows a picture of frames `first` to `last` of the fake player, and is
// named at or after that frame's position; along the names the pictures never go back.
void ExpectNamedAfterTheirPictures(const fs::path& dir, int first, int last) {
    int previous = first;
    for (const CFrameFile& file : ListFrameFiles(dir)) {
        const double mean = MeanOfPicture(FramePath(dir, file.m_nNumber));
        int shown = -1;
        for (int frame = first; frame <= last; ++frame) {
            if (mean == CFakeMediaPlayer::FrameLevel(frame))
                shown = frame;
        }
        ASSERT_GE(shown, 0) << file.m_nNumber << ": " << mean;
        EXPECT_GE(file.m_nNumber, shown * kFrameMs) << file.m_nNumber;
        EXPECT_GE(shown, previous) << file.m_nNumber;
        previous = shown;
    }
}

struct PageCase {
    const char* m_szName;
    const char* m_szExtension;  // a clip type the page's source filter offers
    // A page recording through `recording`, its players made by `makePlayer`.
    std::unique_ptr<CPlayerPage> (*m_pfnMake)(CDesktop& desktop, CRecording& recording,
                                              const MediaPlayerFactory& makePlayer);
};

void PrintTo(const PageCase& page, std::ostream* os) {
    *os << page.m_szName;
}

const PageCase kPages[] = {
    {"RMPlayer", ".avi",
     [](CDesktop& desktop, CRecording& recording, const MediaPlayerFactory& makePlayer) {
         return std::unique_ptr<CPlayerPage>(new CRMPlayerPage(desktop, recording, makePlayer));
     }},
    {"WinMediaPlayer", ".wmv",
     [](CDesktop& desktop, CRecording& recording, const MediaPlayerFactory& makePlayer) {
         return std::unique_ptr<CPlayerPage>(
             new CWinMediaPlayerPage(desktop, recording, makePlayer));
     }},
};

CFakeMediaPlayer& MediaOf(CPlayerPage& page) {
    if (auto* rm = dynamic_cast<CRMPlayerPage*>(&page))
        return dynamic_cast<CFakeMediaPlayer&>(*rm->VideoPlayer()->Player());
    return dynamic_cast<CFakeMediaPlayer&>(
        dynamic_cast<CWinMediaPlayerPage&>(page).Player()->Player());
}

// The player controls a page turns off while recording, as they stand now.
std::vector<bool> PlayerControls(CPlayerPage& page) {
    if (auto* rm = dynamic_cast<CRMPlayerPage*>(&page))
        return {rm->VideoPlayer()->ClickToPause(), rm->PanelPlayer()->PanelEnabled()};
    CMediaPlayer2* player = dynamic_cast<CWinMediaPlayerPage&>(page).Player();
    return {player->ControlsEnabled(), player->ClickToPause()};
}

bool RecordingMark(CPlayerPage& page) {
    if (auto* rm = dynamic_cast<CRMPlayerPage*>(&page))
        return rm->VideoPlayer()->RecordingMark();
    return dynamic_cast<CWinMediaPlayerPage&>(page).Player()->RecordingMark();
}

// Types a path into a file dialog's name field, as a user would.
void TypeFileName(QFileDialog* dialog, const std::string& path) {
    auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    ASSERT_NE(edit, nullptr);
    edit->setText(QString::fromStdString(path));
}

class PlayerPageTest : public ::testing::TestWithParam<PageCase> {
protected:
    void SetUp() override {
        TestApp();
        m_page = GetParam().m_pfnMake(m_desktop, m_recording, m_players.Factory());
        m_page->show();
    }
    void TearDown() override {
        m_page.reset();
        // Nothing of a page may outlive it.
        EXPECT_FALSE(m_recording.CaptureWorker().IsRunning());
        EXPECT_FALSE(m_recording.Writer().IsRunning());
    }

    // A clip of `seconds` the page's players can open, under a name its filter offers.
    std::string Clip(double seconds, const std::string& name = "clip") {
        const std::string path = m_dir.File(name + GetParam().m_szExtension);
        CFakeMedia media;
        media.m_dSeconds = seconds;
        m_players.AddMedia(path, media);
        return path;
    }
    // A page with a clip open and a target folder chosen.
    fs::path Ready(double seconds, const std::string& folder = "frames") {
        EXPECT_TRUE(m_page->OpenMedia(QString::fromStdString(Clip(seconds))));
        const fs::path target = m_dir.Path() / folder;
        m_page->SetFolder(QString::fromStdString(target.string()));
        return target;
    }
    bool WaitForState(int state, int ms) {
        return PumpUntil([&] { return m_page->State() == state; }, ms);
    }
    // Shows frames `first` to `last` one after the other, each until the recording has
    // grabbed it (two grabs: the first may have begun before the picture changed), then
    // waits until a frame file is named at or after the last one's position.
    void PlayFrames(int first, int last, const fs::path& target) {
        CFakeMediaPlayer& player = MediaOf(*m_page);
        for (int frame = first; frame <= last; ++frame) {
            const int grabbed = m_recording.CaptureWorker().GrabbedFrames();
            player.ShowFrame(frame);
            ASSERT_TRUE(PumpUntil(
                [&] { return m_recording.CaptureWorker().GrabbedFrames() >= grabbed + 2; }, 10000))
                << frame;
        }
        ASSERT_TRUE(PumpUntil(
            [&] {
                const auto files = ListFrameFiles(target);
                return !files.empty() && files.back().m_nNumber >= last * kFrameMs;
            },
            10000));
    }
    // The first grab of a recording just started, before the test moves the player on.
    void WaitForFirstGrab() {
        ASSERT_TRUE(
            PumpUntil([&] { return m_recording.CaptureWorker().GrabbedFrames() > 0; }, 10000));
    }

    TempDir m_dir;
    CFakePlayers m_players;  // outlive the page
    CTestDesktop m_desktop;
    CRecording m_recording;
    std::unique_ptr<CPlayerPage> m_page;
};

// Buttons, caption and player controls in each state, and the fields that stay editable.
TEST_P(PlayerPageTest, ControlsFollowTheState) {
    struct Expected {
        int m_nState;
        bool m_bOtherButtons;  // source, folder, snapshot
        const char* m_szRecordText;
        bool m_bRecordEnabled;
        bool m_bPlayerControls;
    };
    const Expected kNoMedia{0, true, "开始录像", false, true};
    const Expected kNoFolder{1, true, "开始录像", false, true};
    const Expected kIdle{1, true, "开始录像", true, true};
    const Expected kRecording{3, false, "停止录像", true, false};
    auto check = [&](const Expected& want, const char* step) {
        SCOPED_TRACE(step);
        EXPECT_EQ(m_page->State(), want.m_nState);
        for (QPushButton* button :
             {m_page->MediaButton(), m_page->FolderButton(), m_page->SaveFrameButton()}) {
            EXPECT_EQ(button->isEnabled(), want.m_bOtherButtons) << button->text().toStdString();
        }
        EXPECT_EQ(m_page->RecordButton()->text(), QString::fromUtf8(want.m_szRecordText));
        EXPECT_EQ(m_page->RecordButton()->isEnabled(), want.m_bRecordEnabled);
        for (bool control : PlayerControls(*m_page)) EXPECT_EQ(control, want.m_bPlayerControls);
        EXPECT_EQ(RecordingMark(*m_page), want.m_nState == 3);
        EXPECT_TRUE(m_page->IntervalSpin()->isEnabled());
    };
    check(kNoMedia, "no media");
    EXPECT_EQ(m_page->IntervalSpin()->minimum(), 20);
    EXPECT_EQ(m_page->IntervalSpin()->maximum(), 1000);
    EXPECT_EQ(m_page->IntervalSpin()->value(), 20);
    ASSERT_TRUE(m_page->OpenMedia(QString::fromStdString(Clip(4))));
    check(kNoFolder, "media, no folder");
    m_page->SetFolder(QString::fromStdString((m_dir.Path() / "out").string()));
    check(kIdle, "media and folder");
    m_page->RecordButton()->click();
    check(kRecording, "recording");
    EXPECT_TRUE(m_page->IsBusy());
    m_page->RecordButton()->click();
    check(kIdle, "stopped");
    EXPECT_FALSE(m_page->IsBusy());
}

TEST_P(PlayerPageTest, RecordWithoutMediaAsksForAFile) {
    CTestDesktop& desktop = m_desktop;
    CTestDesktop& messages = desktop.StartRecording();
    m_page->SetFolder(QString::fromStdString(m_dir.Path().string()));
    m_page->OnRecord();
    ASSERT_EQ(messages.m_texts.size(), 1u);
    EXPECT_EQ(messages.m_messages[0].m_strText, QString::fromUtf8("请先选择欲播放的媒体文件。"));
    EXPECT_EQ(m_page->State(), 0);
    EXPECT_FALSE(m_recording.CaptureWorker().IsRunning());
}

// A file the player cannot play is refused with its path and the player's reason; the page
// is then without media, even if it had some before.
TEST_P(PlayerPageTest, UnplayableFileIsRefusedAndThePictureCleared) {
    CTestDesktop& desktop = m_desktop;
    CTestDesktop& messages = desktop.StartRecording();
    Ready(2);
    CDibImage image;
    auto bright = [&] {
        int count = 0;
        if (m_page->GrabCurrentFrame(image)) {
            for (int y = 0; y < image.m_nHeight; y += 8) {
                const std::uint8_t* row = image.TopRow(y);
                count += int(std::count_if(row, row + image.m_nWidth * 3,
                                           [](std::uint8_t v) { return v > 32; }));
            }
        }
        return count;
    };
    ASSERT_TRUE(PumpUntil([&] { return bright() > 1000; }, 5000));
    EXPECT_FALSE(m_page->DocumentPath().isEmpty());
    const std::string bogus = m_dir.File(std::string("notes") + GetParam().m_szExtension);
    std::ofstream(bogus) << "not a media file";
    EXPECT_FALSE(m_page->OpenMedia(QString::fromStdString(bogus)));
    ASSERT_EQ(messages.m_texts.size(), 1u);
    EXPECT_TRUE(messages.m_messages[0].m_strText.contains(QString::fromStdString(bogus)));
    EXPECT_EQ(m_page->State(), 0);
    EXPECT_FALSE(m_page->RecordButton()->isEnabled());
    // Nothing of the clip before stays on screen, now or once the player has settled.
    EXPECT_EQ(bright(), 0);
    QCoreApplication::processEvents();  // the player's notifications
    EXPECT_EQ(bright(), 0);
    EXPECT_TRUE(m_page->DocumentPath().isEmpty());
}

// A folder that cannot be made is refused, and a playing player is left paused.
TEST_P(PlayerPageTest, UnusableFolderIsRefusedAndThePlayerPaused) {
    CTestDesktop& desktop = m_desktop;
    CTestDesktop& messages = desktop.StartRecording();
    Ready(4);
    const fs::path blocker = m_dir.Path() / "file";
    std::ofstream(blocker) << "x";
    m_page->SetFolder(QString::fromStdString((blocker / "sub").string()));
    MediaOf(*m_page).Play();
    ASSERT_TRUE(PumpUntil([&] { return MediaOf(*m_page).PlayState() == kPlayStatePlaying; }, 5000));
    m_page->RecordButton()->click();
    ASSERT_EQ(messages.m_texts.size(), 1u);
    EXPECT_EQ(messages.m_messages[0].m_strText,
              QString::fromUtf8("抱歉，指定的目标目录不存在且无法创建，请重新选择。"));
    EXPECT_EQ(m_page->State(), 1);
    EXPECT_EQ(MediaOf(*m_page).PlayState(), kPlayStatePaused);
    EXPECT_FALSE(m_recording.CaptureWorker().IsRunning());
}

// Recording until the stop button: the folder is made with its parents, every frame file is
// a 350 x 240 BMP, and the numbers follow the playback position from where it started.
TEST_P(PlayerPageTest, RecordsUntilTheStopButton) {
    const fs::path target = Ready(6, "new/deeper/frames");
    CFakeMediaPlayer& player = MediaOf(*m_page);
    // A paused player records from where it stands.
    player.Seek(1.0);
    const std::int32_t startMs = 1000;
    m_page->RecordButton()->click();
    ASSERT_EQ(m_page->State(), 3);
    EXPECT_TRUE(fs::is_directory(target));
    EXPECT_TRUE(m_recording.CaptureWorker().IsRunning());
    // The second page writes from the writer thread, the first on position notifications.
    EXPECT_EQ(m_recording.Writer().IsRunning(),
              dynamic_cast<CWinMediaPlayerPage*>(m_page.get()) != nullptr);
    EXPECT_EQ(player.PlayState(), kPlayStatePlaying);
    WaitForFirstGrab();
    const int first = int(startMs / kFrameMs);
    PlayFrames(first + 1, first + 10, target);
    m_page->RecordButton()->click();
    EXPECT_EQ(m_page->State(), 1);
    EXPECT_FALSE(m_recording.CaptureWorker().IsRunning());
    EXPECT_EQ(player.PlayState(), kPlayStatePaused);
    const std::int32_t stopMs = PositionToMs(player.PositionSeconds());
    EXPECT_EQ(stopMs, (first + 10) * kFrameMs);

    const auto files = ListFrameFiles(target);
    const CRecordingResult result = m_recording.Result();
    // Two grabs or more of each of the ten frames: each is a file or was dropped.
    EXPECT_GE(int(files.size()) + result.m_nDropped, 20);
    EXPECT_EQ(result.m_nGrabbed, result.m_nWritten + result.m_nDropped);
    for (const CFrameFile& file : files) EXPECT_EQ(file.m_nSize, kFrameFileSize) << file.m_nNumber;
    // One file for every frame written: none replaced another.
    EXPECT_EQ(int(files.size()), result.m_nWritten);
    // Each named after the position it was grabbed at: the first at the start position (the
    // picture shown at the start), the last at the stop; grabs of one position take
    // consecutive numbers, so the names from the stop on follow each other.
    ASSERT_FALSE(files.empty());
    EXPECT_EQ(files.front().m_nNumber, startMs);
    ExpectNamedAfterTheirPictures(target, first, first + 10);
    long long next = stopMs;
    for (const CFrameFile& file : files) {
        if (file.m_nNumber >= stopMs) {
            EXPECT_EQ(file.m_nNumber, next++);
        }
    }
    EXPECT_GT(next, stopMs);
    EXPECT_EQ(MeanOfPicture(FramePath(target, startMs)), CFakeMediaPlayer::FrameLevel(first));
    // Nothing is left behind in the queue, and nothing more is written: the workers ended.
    EXPECT_TRUE(m_recording.Queue().IsEmpty());
    EXPECT_FALSE(m_recording.Writer().IsRunning());
    QCoreApplication::processEvents();
    EXPECT_EQ(ListFrameFiles(target).size(), files.size());
}

// The interval field is read when a recording starts: 1000 ms grabs a frame a second
// instead of one every 20 ms.
TEST_P(PlayerPageTest, IntervalAppliesToTheNextRecording) {
    const fs::path target = Ready(6);
    int written = 0;
    for (const int interval : {1000, 20, 250}) {
        SCOPED_TRACE(interval);
        m_page->IntervalSpin()->setValue(interval);
        m_page->RecordButton()->click();
        ASSERT_EQ(m_page->State(), 3);
        EXPECT_EQ(m_recording.CaptureWorker().IntervalMs(), interval);
        // Changed while recording, it waits for the next recording.
        m_page->IntervalSpin()->setValue(interval == 20 ? 1000 : 20);
        EXPECT_EQ(m_recording.CaptureWorker().IntervalMs(), interval);
        WaitForFirstGrab();
        m_page->RecordButton()->click();
        ASSERT_EQ(m_page->State(), 1);
        written += m_recording.Result().m_nWritten;
    }
    EXPECT_EQ(int(ListFrameFiles(target).size()), written);
}

// The player reaching the end of the media ends the recording, final flush included.
TEST_P(PlayerPageTest, RecordingEndsWithTheMedia) {
    const fs::path target = Ready(1.5);
    m_page->RecordButton()->click();
    ASSERT_EQ(m_page->State(), 3);
    WaitForFirstGrab();
    PlayFrames(1, 30, target);
    MediaOf(*m_page).PlayToEnd();
    ASSERT_TRUE(WaitForState(1, 10000));
    EXPECT_FALSE(m_recording.CaptureWorker().IsRunning());
    EXPECT_FALSE(m_recording.Writer().IsRunning());
    EXPECT_EQ(m_page->RecordButton()->text(), QString::fromUtf8("开始录像"));
    const auto files = ListFrameFiles(target);
    ASSERT_GE(files.size(), 1u);
    EXPECT_EQ(int(files.size()), m_recording.Result().m_nWritten);
    for (const CFrameFile& file : files) EXPECT_EQ(file.m_nSize, kFrameFileSize);
    EXPECT_EQ(files.front().m_nNumber, 0);
    // Frames from the last part of the clip were written under their positions.
    EXPECT_GE(files.back().m_nNumber, 30 * kFrameMs);
    EXPECT_TRUE(m_recording.Queue().IsEmpty());
}

// Recording again after the media ended starts from the beginning, numbered from 0.
TEST_P(PlayerPageTest, RecordingAgainAfterTheEndStartsAtTheBeginning) {
    const fs::path first = Ready(1.5, "first");
    CFakeMediaPlayer& player = MediaOf(*m_page);
    m_page->RecordButton()->click();
    WaitForFirstGrab();
    PlayFrames(1, 5, first);
    player.PlayToEnd();
    ASSERT_TRUE(WaitForState(1, 10000));
    const auto firstFiles = ListFrameFiles(first);
    ASSERT_FALSE(firstFiles.empty());
    // The player stands stopped at its end.
    EXPECT_EQ(player.PlayState(), kPlayStateStopped);
    EXPECT_DOUBLE_EQ(player.PositionSeconds(), 1.5);
    const fs::path again = m_dir.Path() / "again";
    m_page->SetFolder(QString::fromStdString(again.string()));
    m_page->RecordButton()->click();
    ASSERT_EQ(m_page->State(), 3);
    EXPECT_EQ(player.PlayState(), kPlayStatePlaying);
    WaitForFirstGrab();
    PlayFrames(1, 12, again);
    m_page->RecordButton()->click();
    const auto files = ListFrameFiles(again);
    ASSERT_FALSE(files.empty());
    EXPECT_EQ(files.front().m_nNumber, 0);
    ExpectNamedAfterTheirPictures(again, 0, 12);
    // The first frame is a picture of the new start, not the last one of the run before.
    EXPECT_EQ(MeanOfPicture(FramePath(again, 0)), CFakeMediaPlayer::FrameLevel(0));
    EXPECT_NE(ReadAllBytes(FramePath(again, files.front().m_nNumber).string()),
              ReadAllBytes(FramePath(first, firstFiles.back().m_nNumber).string()));
}

// Media whose picture never moves, and media without a picture. A still image: its position
// stands at 0, so the frames are named 0, 1, 2, ... one file for each frame written, passing
// over a file already in the folder (kept as it was, counted, and said in the summary).
// Sound alone: refused with a message before anything is made, the player left alone.
TEST_P(PlayerPageTest, StillImagesRecordEveryFrameAndSoundAloneIsRefused) {
    CTestDesktop& desktop = m_desktop;
    const struct {
        const char* m_szName;
        bool m_bSoundOnly;
    } kCases[] = {{"still image", false}, {"sound only", true}};
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.m_szName);
        CFakeMedia still;
        still.m_dSeconds = 0;
        CFakeMedia sound;
        sound.m_dSeconds = 2.0;
        sound.m_bVideo = false;
        const std::string media = m_dir.File(c.m_bSoundOnly ? "sound.wma" : "still.png");
        m_players.AddMedia(media, c.m_bSoundOnly ? sound : still);
        ASSERT_TRUE(m_page->OpenMedia(QString::fromStdString(media)));
        const fs::path target = m_dir.Path() / c.m_szName;
        m_page->SetFolder(QString::fromStdString(target.string()));
        CTestDesktop& messages = desktop.StartRecording();
        if (c.m_bSoundOnly) {
            const int playState = MediaOf(*m_page).PlayState();
            m_page->RecordButton()->click();
            ASSERT_EQ(messages.m_texts.size(), 1u);
            EXPECT_EQ(messages.m_texts[0], "这个媒体文件只有声音，没有可录的图像。");
            EXPECT_EQ(m_page->State(), 1);
            EXPECT_FALSE(m_recording.CaptureWorker().IsRunning());
            EXPECT_FALSE(fs::exists(target));
            EXPECT_EQ(MediaOf(*m_page).PlayState(), playState);
            continue;
        }
        fs::create_directories(target);
        const fs::path kept = FramePath(target, 2);
        std::ofstream(kept) << "kept";
        m_page->RecordButton()->click();
        ASSERT_EQ(m_page->State(), 3);
        // The image is shown for a while, then the player stops and so does the recording.
        ASSERT_TRUE(PumpUntil([&] { return m_recording.Result().m_nWritten >= 5; }, 10000));
        MediaOf(*m_page).PlayToEnd();
        ASSERT_TRUE(WaitForState(1, 10000));
        EXPECT_TRUE(messages.m_texts.empty());
        const CRecordingResult result = m_recording.Result();
        ASSERT_GE(result.m_nWritten, 5);
        EXPECT_EQ(result.m_nRenumbered, 1);
        std::vector<long long> expected;
        for (long long n = 0; n <= result.m_nWritten; ++n) {
            if (n != 2)
                expected.push_back(n);
        }
        std::vector<long long> numbers;
        for (const CFrameFile& file : ListFrameFiles(target)) {
            if (file.m_nNumber != 2) {
                numbers.push_back(file.m_nNumber);
                EXPECT_EQ(file.m_nSize, kFrameFileSize) << file.m_nNumber;
            }
        }
        EXPECT_EQ(numbers, expected);
        const auto keptBytes = ReadAllBytes(kept.string());
        EXPECT_EQ(std::string(keptBytes.begin(), keptBytes.end()), "kept");
        EXPECT_GT(MeanOfPicture(FramePath(target, 0)), 20.0);
        const QString summary = m_page->RecordingLine()->PlainText();
        EXPECT_TRUE(summary.contains(QString::fromUtf8("其中 1 幅因同名文件已存在")))
            << summary.toStdString();
    }
}

// The player reporting a pause while recording ends the recording as the button would.
TEST_P(PlayerPageTest, PausingThePlayerEndsTheRecording) {
    const fs::path target = Ready(6);
    m_page->RecordButton()->click();
    WaitForFirstGrab();
    PlayFrames(1, 13, target);
    MediaOf(*m_page).Pause();
    ASSERT_TRUE(WaitForState(1, 5000));
    EXPECT_FALSE(m_recording.CaptureWorker().IsRunning());
    EXPECT_FALSE(ListFrameFiles(target).empty());
    EXPECT_TRUE(m_recording.Queue().IsEmpty());
}

// A stop request still queued when the user stops by the button must not start a new one.
TEST_P(PlayerPageTest, StopRequestAfterTheStopStartsNothing) {
    Ready(6);
    m_page->RecordButton()->click();
    ASSERT_EQ(m_page->State(), 3);
    m_page->PostStopIfRecording();
    m_page->RecordButton()->click();
    ASSERT_EQ(m_page->State(), 1);
    QCoreApplication::processEvents();  // the request still queued
    EXPECT_EQ(m_page->State(), 1);
    EXPECT_FALSE(m_recording.CaptureWorker().IsRunning());
}

// Destroying the page while it records stops the workers and writes nothing more.
TEST_P(PlayerPageTest, DestroyedWhileRecordingWritesNothingMore) {
    const fs::path target = Ready(6);
    m_page->RecordButton()->click();
    WaitForFirstGrab();
    PlayFrames(1, 13, target);
    m_page.reset();
    EXPECT_FALSE(m_recording.CaptureWorker().IsRunning());
    EXPECT_FALSE(m_recording.Writer().IsRunning());
    EXPECT_TRUE(m_recording.Queue().IsEmpty());
    const auto before = ListFrameFiles(target).size();
    QCoreApplication::processEvents();  // whatever the page had posted
    EXPECT_EQ(ListFrameFiles(target).size(), before);
}

// The first frame that cannot be written ends the recording by itself and the user is told
// at once, with the path and the reason; the line under the player sums up what is on disk.
TEST_P(PlayerPageTest, FirstFailedWriteStopsTheRecordingAndIsReported) {
    CTestDesktop& desktop = m_desktop;
    CTestDesktop& messages = desktop.StartRecording();
    const fs::path target = Ready(8);
    m_page->RecordButton()->click();
    WaitForFirstGrab();
    PlayFrames(1, 13, target);
    // Writing works so far, and the line says so while recording.
    ASSERT_TRUE(PumpUntil([&] { return m_recording.Result().m_nWritten > 0; }, 5000));
    EXPECT_TRUE(PumpUntil(
        [&] { return m_page->RecordingLine()->PlainText().contains(QString::fromUtf8("录像中")); },
        5000));
    EXPECT_EQ(m_page->RecordingLine()->Folder(), m_page->Folder());
    // The folder disappears under the recording; a file takes its name.
    const fs::path moved = m_dir.Path() / "moved";
    fs::rename(target, moved);
    std::ofstream(target) << "in the way";
    // The clip plays on until the recording ends.
    CFakeMediaPlayer& player = MediaOf(*m_page);
    ASSERT_TRUE(PumpUntil(
        [&] {
            if (player.Frame() < 100)
                player.ShowFrame(player.Frame() + 1);
            return m_page->State() == 1;
        },
        10000));
    // Ended by the failure, long before the clip's end.
    EXPECT_LT(MediaOf(*m_page).PositionSeconds(), 6.0);
    EXPECT_FALSE(m_recording.CaptureWorker().IsRunning());
    ASSERT_EQ(messages.m_texts.size(), 1u);
    const CRecordingResult stats = m_recording.Result();
    EXPECT_EQ(stats.m_nFailed, 1);
    const QString& text = messages.m_messages[0].m_strText;
    EXPECT_TRUE(text.contains(QString::fromStdString(stats.m_strFailedPath))) << text.toStdString();
    EXPECT_TRUE(text.contains(QString::fromStdString(target.string()))) << text.toStdString();
    EXPECT_TRUE(text.contains(QString::fromLocal8Bit(std::strerror(ENOTDIR))))
        << text.toStdString();
    // The summary's count of written frames is what the first folder holds.
    const int onDisk = int(ListFrameFiles(moved).size());
    EXPECT_EQ(onDisk, stats.m_nWritten);
    const QString summary = m_page->RecordingLine()->PlainText();
    EXPECT_TRUE(summary.contains(QString::fromUtf8("已写入 %1 幅").arg(onDisk)))
        << summary.toStdString();
    EXPECT_TRUE(m_page->RecordingLine()->OpenFolderButton()->isVisible());
}

// The line under the player: live figures while recording, then a summary whose figures are
// the files on disk, and the folder opened from the line's link and its button.
TEST_P(PlayerPageTest, RecordingLineFollowsAndSumsUpTheRecording) {
    const fs::path target = Ready(6);
    EXPECT_TRUE(m_page->RecordingLine()->PlainText().isEmpty());
    m_page->RecordButton()->click();
    WaitForFirstGrab();
    PlayFrames(1, 31, target);
    // Brought up to date on the line's own timer.
    ASSERT_TRUE(PumpUntil(
        [&] {
            const QString text = m_page->RecordingLine()->PlainText();
            return text.contains(QString::fromUtf8("录像中")) &&
                   text.contains(QString::fromUtf8("丢弃"));
        },
        5000));
    const QString running = m_page->RecordingLine()->PlainText();
    const CRecordingResult sofar = m_recording.Result();
    EXPECT_TRUE(running.contains(QString::fromUtf8("录像中"))) << running.toStdString();
    EXPECT_TRUE(running.contains(QString::fromUtf8("丢弃"))) << running.toStdString();
    EXPECT_FALSE(m_page->RecordingLine()->OpenFolderButton()->isVisible());
    EXPECT_GT(sofar.m_nGrabbed, 0);
    m_page->RecordButton()->click();
    const CRecordingResult result = m_recording.Result();
    const QString summary = m_page->RecordingLine()->PlainText();
    EXPECT_TRUE(summary.contains(QString::fromUtf8("已写入 %1 幅，丢弃 %2 幅")
                                     .arg(ListFrameFiles(target).size())
                                     .arg(result.m_nDropped)))
        << summary.toStdString();
    // Media time from the clip's start, where this recording began.
    EXPECT_TRUE(summary.contains(FormatPlayTime(result.m_dStopSeconds))) << summary.toStdString();
    m_desktop.m_urls.clear();
    m_page->RecordingLine()->OpenFolderButton()->click();
    emit m_page->RecordingLine()->TextLabel()->linkActivated(QStringLiteral("folder"));
    ASSERT_EQ(m_desktop.m_urls.size(), 2);
    for (const QUrl& url : m_desktop.m_urls)
        EXPECT_EQ(url.toLocalFile().toStdString(), target.string());
}

// A snapshot is the player's picture: 350 x 240, here the clip's first (never black) picture.
TEST_P(PlayerPageTest, SavesTheCurrentFrame) {
    Ready(2);
    CDibImage image;
    auto bright = [&image] {
        int count = 0;
        for (int x = 0; x < image.m_nWidth; ++x) {
            const std::uint8_t* p = image.TopRow(120) + x * 3;
            count += p[0] > 64 || p[1] > 64 || p[2] > 64;
        }
        return count;
    };
    // The first picture arrives shortly after the file is opened.
    EXPECT_TRUE(PumpUntil([&] { return m_page->GrabCurrentFrame(image) && bright() > 100; }, 5000));
    EXPECT_EQ(image.m_nWidth, 350);
    EXPECT_EQ(image.m_nHeight, 240);
    const std::string path = m_dir.File("snap.bmp");
    ASSERT_TRUE(m_page->SaveFrame(image, QString::fromStdString(path)));
    EXPECT_EQ(fs::file_size(path), kFrameFileSize);
    CDibImage loaded;
    ASSERT_TRUE(loaded.LoadBmp(path));
    EXPECT_EQ(0, std::memcmp(loaded.TopRow(120), image.TopRow(120), 350 * 3));
}

// "存当前画面" with no media: the (black) picture is saved through the save dialog, which adds
// the ".bmp" the user left out.
TEST_P(PlayerPageTest, SaveCurrentFrameWithoutMedia) {
    const std::string base = m_dir.File("shot");
    QStringList filters;
    WhenDialogOpens([&](QWidget* widget) {
        auto* dialog = qobject_cast<QFileDialog*>(widget);
        ASSERT_NE(dialog, nullptr);
        filters = dialog->nameFilters();
        TypeFileName(dialog, base);
        static_cast<QDialog*>(dialog)->accept();
    });
    m_page->SaveFrameButton()->click();
    EXPECT_EQ(filters, CPlayerPage::SnapshotFilters());
    const std::string path = base + ".bmp";
    ASSERT_TRUE(fs::exists(path));
    EXPECT_EQ(fs::file_size(path), kFrameFileSize);
    CDibImage loaded;
    ASSERT_TRUE(loaded.LoadBmp(path));
    for (int y = 0; y < loaded.m_nHeight; y += 60) {
        const std::uint8_t* row = loaded.TopRow(y);
        EXPECT_EQ(std::count(row, row + 350 * 3, 0), 350 * 3) << y;
    }
}

// With media, the save dialog proposes the media's name and the position in milliseconds.
TEST_P(PlayerPageTest, SaveCurrentFrameProposesTheMediasNameAndPosition) {
    Ready(4);
    MediaOf(*m_page).Seek(1.234);
    QCoreApplication::processEvents();
    char expected[32];
    std::snprintf(expected, sizeof expected, "clip_%08d.bmp",
                  int(PositionToMs(MediaOf(*m_page).PositionSeconds())));
    QString proposed;
    WhenDialogOpens([&](QWidget* widget) {
        auto* dialog = qobject_cast<QFileDialog*>(widget);
        ASSERT_NE(dialog, nullptr);
        auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        ASSERT_NE(edit, nullptr);
        proposed = edit->text();
        TypeFileName(dialog, m_dir.File(proposed.toStdString()));
        static_cast<QDialog*>(dialog)->accept();
    });
    m_page->SaveFrameButton()->click();
    EXPECT_EQ(proposed.toStdString(), expected);
    EXPECT_EQ(fs::file_size(m_dir.File(expected)), kFrameFileSize);
}

TEST_P(PlayerPageTest, SnapshotThatCannotBeWrittenIsReported) {
    CTestDesktop& desktop = m_desktop;
    CTestDesktop& messages = desktop.StartRecording();
    CDibImage image;
    ASSERT_TRUE(m_page->GrabCurrentFrame(image));
    const std::string path = (m_dir.Path() / "missing" / "snap.bmp").string();
    EXPECT_FALSE(m_page->SaveFrame(image, QString::fromStdString(path)));
    ASSERT_EQ(messages.m_texts.size(), 1u);
    EXPECT_TRUE(messages.m_messages[0].m_strText.contains(QString::fromStdString(path)));
}

// The source button's dialog: the page's filters, and the chosen file opened (not played).
TEST_P(PlayerPageTest, SourceButtonOpensTheChosenFile) {
    CTestDesktop& desktop = m_desktop;
    const std::string clip = Clip(2);
    QStringList shown;
    WhenDialogOpens([&](QWidget* widget) {
        auto* dialog = qobject_cast<QFileDialog*>(widget);
        ASSERT_NE(dialog, nullptr);
        if (auto* types = dialog->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"))) {
            for (int i = 0; i < types->count(); ++i) shown << types->itemText(i);
        }
        TypeFileName(dialog, clip);
        static_cast<QDialog*>(dialog)->accept();
    });
    const bool bRm = dynamic_cast<CRMPlayerPage*>(m_page.get()) != nullptr;
    const int tab = bRm ? 0 : 1;
    CMainSheet sheet(desktop);
    CPlayerPage* page = m_page.release();
    sheet.ReplacePage(tab, page);
    sheet.Tabs()->setCurrentIndex(tab);
    page->MediaButton()->click();
    // Each page's own types first, today's common video files beside them.
    const QString common = QString::fromUtf8("视频文件(*.mp4;*.mkv;*.webm;*.mov;*.m4v)");
    const QStringList expected =
        bRm ? QStringList{QString::fromUtf8("RM 文件(*.rm,*.ram,*.ra,*.swf,*.avi)"), common,
                          QString::fromUtf8("所有文件 (*.*)")}
            : QStringList{QString::fromUtf8(
                              "媒体文件(*.avi;*.asf;*.wmv;*.mpeg;*.mpg;*.mp2;*.dat;*.wm;*.wma)"),
                          common, QString::fromUtf8("所有文件 (*.*)")};
    EXPECT_EQ(shown, expected);
    EXPECT_EQ(page->State(), 1);
    EXPECT_EQ(sheet.windowTitle(),
              QStringLiteral("Tarnwick-clip") + QString::fromLatin1(GetParam().m_szExtension));
    EXPECT_EQ(MediaOf(*page).PlayState(), kPlayStateStopped);
}

TEST_P(PlayerPageTest, FolderButtonTakesTheChosenFolder) {
    const fs::path folder = m_dir.Path() / "picked";
    fs::create_directories(folder);
    WhenDialogOpens([&](QWidget* widget) {
        auto* dialog = qobject_cast<CSelectFolderDialog*>(widget);
        ASSERT_NE(dialog, nullptr);
        dialog->PathEdit()->setText(QString::fromStdString(folder.string()));
        static_cast<QDialog*>(dialog)->accept();
    });
    m_page->FolderButton()->click();
    EXPECT_EQ(m_page->Folder(), QString::fromStdString(folder.string()));
    EXPECT_EQ(m_page->FolderLabel()->text(), m_page->Folder());
    EXPECT_TRUE(m_page->FolderLabel()->m_bPathEllipsis);
}

void SendMouse(QWidget* widget, QEvent::Type type, const QPoint& at) {
    const Qt::MouseButtons held =
        type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, QPointF(at), QPointF(widget->mapToGlobal(at)), Qt::LeftButton, held,
                      Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &event);
}

void SendKey(QWidget* widget, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QKeyEvent press(QEvent::KeyPress, key, modifiers);
    QCoreApplication::sendEvent(widget, &press);
    QKeyEvent release(QEvent::KeyRelease, key, modifiers);
    QCoreApplication::sendEvent(widget, &release);
}

// The point `fraction` of the way along a slider's groove, on its middle line.
QPoint AlongSlider(QSlider* slider, double fraction) {
    return QPoint(int(slider->width() * fraction), slider->height() / 2);
}

// The position slider moves the player where it is clicked or dragged to, stopped, paused or
// playing; a playing player plays on, the others are paused there.
TEST_P(PlayerPageTest, SliderSeeksOnClickAndDrag) {
    Ready(12);
    CFakeMediaPlayer& player = MediaOf(*m_page);
    QSlider* slider = m_page->KeyPanel()->PositionSlider();
    ASSERT_TRUE(slider->isVisible());
    ASSERT_TRUE(slider->isEnabled());
    const double duration = player.Duration();
    ASSERT_GT(duration, 11.0);
    const struct {
        const char* m_szState;
        int m_nState;
        double m_dFrom;  // press here
        double m_dTo;    // release here (a drag when it differs)
    } kCases[] = {
        {"stopped", kPlayStateStopped, 0.5, 0.5},
        {"paused", kPlayStatePaused, 0.25, 0.25},
        {"paused, dragged", kPlayStatePaused, 0.2, 0.7},
        {"playing", kPlayStatePlaying, 0.75, 0.75},
        {"playing, dragged", kPlayStatePlaying, 0.6, 0.3},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.m_szState);
        if (c.m_nState == kPlayStateStopped) {
            player.Stop();
        } else {
            player.Play();
            ASSERT_TRUE(PumpUntil([&] { return player.PlayState() == kPlayStatePlaying; }, 5000));
            if (c.m_nState == kPlayStatePaused)
                player.Pause();
        }
        ASSERT_TRUE(PumpUntil([&] { return player.PlayState() == c.m_nState; }, 5000));
        SendMouse(slider, QEvent::MouseButtonPress, AlongSlider(slider, c.m_dFrom));
        if (c.m_dTo != c.m_dFrom) {
            for (int step = 1; step <= 5; ++step) {
                const double at = c.m_dFrom + (c.m_dTo - c.m_dFrom) * step / 5;
                SendMouse(slider, QEvent::MouseMove, AlongSlider(slider, at));
            }
        }
        SendMouse(slider, QEvent::MouseButtonRelease, AlongSlider(slider, c.m_dTo));
        // The slider went where the mouse let go, not a page step towards it.
        const double wanted = duration * slider->value() / slider->maximum();
        EXPECT_NEAR(wanted / duration, c.m_dTo, 0.06);
        const bool bPlaying = c.m_nState == kPlayStatePlaying;
        EXPECT_TRUE(PumpUntil(
            [&] {
                const double at = player.PositionSeconds();
                return at >= wanted - 0.15 && at <= wanted + (bPlaying ? 1.0 : 0.15);
            },
            5000))
            << player.PositionSeconds() << " for " << wanted;
        EXPECT_EQ(player.PlayState(), bPlaying ? kPlayStatePlaying : kPlayStatePaused);
    }
    player.Pause();
    // While recording, the slider does nothing.
    m_page->RecordButton()->click();
    ASSERT_EQ(m_page->State(), 3);
    EXPECT_FALSE(slider->isEnabled());
    const double before = player.PositionSeconds();
    SendMouse(slider, QEvent::MouseButtonPress, AlongSlider(slider, 0.9));
    SendMouse(slider, QEvent::MouseButtonRelease, AlongSlider(slider, 0.9));
    QCoreApplication::processEvents();
    EXPECT_EQ(player.PositionSeconds(), before);
    m_page->RecordButton()->click();
}

// The player's keys: Space plays and pauses, Left and Right move 5 s, with Shift one picture
// (25 a second in the clips), S asks for the snapshot.
TEST_P(PlayerPageTest, KeysPlayPauseSeekStepAndSave) {
    Ready(12);
    CFakeMediaPlayer& player = MediaOf(*m_page);
    CPlayerPanelWidget* keys = m_page->KeyPanel();
    // Shown the first time, the page gives the player's controls the focus.
    EXPECT_EQ(m_page->focusWidget(), keys);
    SendKey(keys, Qt::Key_Space);
    EXPECT_TRUE(PumpUntil([&] { return player.PlayState() == kPlayStatePlaying; }, 5000));
    SendKey(keys, Qt::Key_Space);
    EXPECT_TRUE(PumpUntil([&] { return player.PlayState() == kPlayStatePaused; }, 5000));
    player.Seek(4.0);
    ASSERT_TRUE(PumpUntil([&] { return std::abs(player.PositionSeconds() - 4.0) < 0.02; }, 5000));
    const struct {
        const char* m_szKey;
        int m_nKey;
        Qt::KeyboardModifiers m_modifiers;
        double m_dMove;
    } kCases[] = {
        {"Right", Qt::Key_Right, Qt::NoModifier, 5.0},
        {"Left", Qt::Key_Left, Qt::NoModifier, -5.0},
        {"Shift+Right", Qt::Key_Right, Qt::ShiftModifier, 0.04},
        {"Shift+Left", Qt::Key_Left, Qt::ShiftModifier, -0.04},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.m_szKey);
        const double before = player.PositionSeconds();
        SendKey(keys, c.m_nKey, c.m_modifiers);
        EXPECT_TRUE(PumpUntil(
            [&] { return std::abs(player.PositionSeconds() - (before + c.m_dMove)) < 0.02; }, 5000))
            << before << " -> " << player.PositionSeconds();
        EXPECT_EQ(player.PlayState(), kPlayStatePaused);
    }
    int asked = 0;
    QObject::connect(keys, &CPlayerPanelWidget::SaveFrameRequested, [&asked] { ++asked; });
    WhenDialogOpens([](QWidget* dialog) { static_cast<QDialog*>(dialog)->reject(); });
    SendKey(keys, Qt::Key_S);
    EXPECT_EQ(asked, 1);
}

// The focus mark: a click on the picture gives the controls the focus, drawn as a frame in
// the highlight colour around them (never over the picture).
TEST_P(PlayerPageTest, FocusIsMarkedAroundTheControls) {
    m_page->activateWindow();
    CPlayerPanelWidget* keys = m_page->KeyPanel();
    QWidget* picture = nullptr;
    if (auto* rm = dynamic_cast<CRMPlayerPage*>(m_page.get()))
        picture = rm->VideoPlayer()->VideoWidget();
    else
        picture = dynamic_cast<CWinMediaPlayerPage&>(*m_page).Player()->VideoWidget();
    m_page->MediaButton()->setFocus();
    ASSERT_TRUE(QTest::qWaitForWindowActive(m_page.get()));
    const QColor mark = keys->palette().color(QPalette::Highlight);
    auto marked = [&] {
        const QImage image = keys->grab().toImage();
        return image.pixelColor(0, image.height() / 2) == mark &&
               image.pixelColor(image.width() - 1, 1) == mark;
    };
    EXPECT_FALSE(marked());
    QTest::mouseClick(picture, Qt::LeftButton, Qt::NoModifier, QPoint(10, 10));
    QCoreApplication::processEvents();
    EXPECT_EQ(m_page->focusWidget(), keys);
    EXPECT_TRUE(keys->hasFocus());
    EXPECT_TRUE(marked());
}

// Closing the sheet while recording asks; No records on, Yes stops the recording with every
// queued frame written and then closes.
TEST_P(PlayerPageTest, ClosingWhileRecordingAsksAndFlushesEverythingOnYes) {
    CTestDesktop& desktop = m_desktop;
    CTestDesktop& messages = desktop.StartRecording();
    const bool bRm = dynamic_cast<CRMPlayerPage*>(m_page.get()) != nullptr;
    CMainSheet sheet(desktop);
    CPlayerPage* page = m_page.release();
    sheet.ReplacePage(bRm ? 0 : 1, page);
    sheet.Tabs()->setCurrentWidget(page);
    const std::string clip = Clip(8);
    ASSERT_TRUE(page->OpenMedia(QString::fromStdString(clip)));
    const fs::path target = m_dir.Path() / "frames";
    page->SetFolder(QString::fromStdString(target.string()));

    bool bRecordingAfterNo = false;
    QTimer::singleShot(0, &sheet, [&] {
        page->RecordButton()->click();
        ASSERT_TRUE(PumpUntil([&] { return m_recording.Result().m_nGrabbed >= 20; }, 10000));
        messages.m_reply = QMessageBox::No;
        sheet.CloseButton()->click();
        QCoreApplication::processEvents();
        bRecordingAfterNo = page->State() == 3 && m_recording.CaptureWorker().IsRunning();
        messages.m_reply = QMessageBox::Yes;
        sheet.CloseButton()->click();
    });
    QTimer::singleShot(20000, &sheet, [&] { sheet.QDialog::done(99); });
    EXPECT_EQ(sheet.exec(), QDialog::Rejected);

    const std::string question = "正在录制…，确定要停止并退出吗？";
    EXPECT_EQ(messages.m_texts, (std::vector<std::string>{question, question}));
    EXPECT_TRUE(bRecordingAfterNo);
    EXPECT_EQ(page->State(), 1);
    EXPECT_FALSE(m_recording.CaptureWorker().IsRunning());
    EXPECT_FALSE(m_recording.Writer().IsRunning());
    EXPECT_TRUE(m_recording.Queue().IsEmpty());
    // Every grab is a file on disk or was dropped by a full queue; nothing is half-written.
    const CRecordingResult result = m_recording.Result();
    const auto files = ListFrameFiles(target);
    EXPECT_EQ(int(files.size()), result.m_nWritten);
    EXPECT_EQ(result.m_nGrabbed, result.m_nWritten + result.m_nDropped);
    for (const CFrameFile& file : files) EXPECT_EQ(file.m_nSize, kFrameFileSize);
    std::size_t others = 0;
    for (const auto& entry : fs::directory_iterator(target))
        others += entry.path().extension() != ".bmp";
    EXPECT_EQ(others, 0u);
}

// Without the player library a page says so with the loader's own reason when a file is
// opened, and stays without media. A process of its own, as the library is loaded (or not)
// once per process.
TEST(PlayerPagesDeathTest, AMissingPlayerLibraryIsReportedWithItsReason) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const auto run = [] {
        TestApp();
        std::string problems;
        const CResult<const MpvApi*> loaded = LoadMpv("libmpv-does-not-exist.so");
        if (loaded)
            problems += "the library loaded\n";
        const QString expected = QString::fromUtf8("无法载入播放器程序库：%1")
                                     .arg(QString::fromStdString(loaded.Reason()));
        for (const PageCase& kind : kPages) {
            CTestDesktop messages;
            CRecording recording;
            std::unique_ptr<CPlayerPage> page =
                kind.m_pfnMake(messages, recording, MediaPlayerMaker(false));
            if (page->OpenMedia(QStringLiteral("/nonexistent/clip") +
                                QString::fromLatin1(kind.m_szExtension)))
                problems += std::string(kind.m_szName) + ": opened\n";
            if (messages.m_messages.size() != 1 || messages.m_messages[0].m_strText != expected)
                problems += std::string(kind.m_szName) + ": message " +
                            (messages.m_texts.empty() ? "none" : messages.m_texts[0]) + "\n";
            if (page->State() != 0 || page->RecordButton()->isEnabled())
                problems += std::string(kind.m_szName) + ": state\n";
        }
        std::cerr << problems;
        std::exit(problems.empty() ? 0 : 1);
    };
    EXPECT_EXIT(run(), testing::ExitedWithCode(0), "");
}

INSTANTIATE_TEST_SUITE_P(Pages, PlayerPageTest, ::testing::ValuesIn(kPages),
                         [](const auto& info) { return std::string(info.param.m_szName); });

// The caption names the media of the page being shown; a page without media (a job page, or a
// player page whose file failed to open) shows the program's name alone.
TEST(PlayerPages, TitleFollowsThePageShown) {
    CTestDesktop desktop;
    TestApp();
    TempDir dir;
    CMainSheet sheet(desktop);
    InstallProgramPages(sheet, false, CRunContext{});
    auto* rm = dynamic_cast<CPlayerPage*>(sheet.Page(0));
    auto* wmp = dynamic_cast<CPlayerPage*>(sheet.Page(1));
    ASSERT_NE(rm, nullptr);
    ASSERT_NE(wmp, nullptr);
    std::string why;
    const fs::path first = dir.Path() / "first";
    const fs::path second = dir.Path() / "second";
    fs::create_directories(first);
    fs::create_directories(second);
    ASSERT_TRUE(rm->OpenMedia(QString::fromStdString(MakeMediaClip(first, ".avi", 1, &why))));
    ASSERT_TRUE(wmp->OpenMedia(QString::fromStdString(MakeMediaClip(second, ".wmv", 1, &why))));
    const struct {
        int m_nTab;
        const char* m_szTitle;
    } kSteps[] = {{0, "Tarnwick-clip.avi"},
                  {1, "Tarnwick-clip.wmv"},
                  {2, "Tarnwick"},
                  {3, "Tarnwick"},
                  {0, "Tarnwick-clip.avi"}};
    for (const auto& step : kSteps) {
        SCOPED_TRACE(step.m_nTab);
        sheet.Tabs()->setCurrentIndex(step.m_nTab);
        EXPECT_EQ(sheet.windowTitle().toStdString(), step.m_szTitle);
    }
    const fs::path bogus = dir.Path() / "bogus.wmv";
    std::ofstream(bogus) << "not a media file";
    sheet.Tabs()->setCurrentIndex(1);
    EXPECT_FALSE(wmp->OpenMedia(QString::fromStdString(bogus.string())));
    EXPECT_EQ(sheet.windowTitle().toStdString(), "Tarnwick");
    sheet.Tabs()->setCurrentIndex(0);
    EXPECT_EQ(sheet.windowTitle().toStdString(), "Tarnwick-clip.avi");
}

}  // namespace
