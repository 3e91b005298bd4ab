// The two player pages driven as the user would: choosing media and folders, recording until
// the stop button or the end of the media, snapshots, and the page going away mid-recording.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <memory>

#include "app/capture/media_player2.h"
#include "app/capture/rm_play_wnd.h"
#include "app/capture/rm_player_page.h"
#include "app/capture/win_media_player_page.h"
#include "app/main_sheet.h"
#include "app/widgets/path_label.h"
#include "app/widgets/select_folder_dialog.h"
#include "capture/capture_engine.h"
#include "capture/recording.h"
#include "common/media_clips.h"
#include "common/temp_dir.h"
#include "gui_common/qt_test_app.h"
#include "image/dib_image.h"
#include "platform/media_player.h"
#include "player_test_support.h"

namespace fs = std::filesystem;

namespace {

// 350 x 240 at 24 bits: a 54-byte header and rows of 1050 bytes padded to 1052.
constexpr std::uintmax_t kFrameFileSize = 54 + (350 * 3 + 2) * 240;
// How far into the media the first frames may be numbered: a flush that comes before the
// first grab (on a busy machine) re-bases the numbers on its position.
constexpr long long kFirstFlushSlackMs = 500;

struct PageCase {
    const char* m_szName;
    const char* m_szExtension;  // a clip type the page's source filter offers
    // A page recording through `recording`, its players without audio.
    std::unique_ptr<CPlayerPage> (*m_pfnMake)(CRecording& recording);
};

void PrintTo(const PageCase& page, std::ostream* os) {
    *os << page.m_szName;
}

const PageCase kPages[] = {
    {"RMPlayer", ".avi",
     [](CRecording& recording) {
         return std::unique_ptr<CPlayerPage>(new CRMPlayerPage(recording, false));
     }},
    {"WinMediaPlayer", ".wmv",
     [](CRecording& recording) {
         return std::unique_ptr<CPlayerPage>(new CWinMediaPlayerPage(recording, false));
     }},
};

CMediaPlayer& MediaOf(CPlayerPage& page) {
    if (auto* rm = dynamic_cast<CRMPlayerPage*>(&page))
        return *rm->VideoPlayer()->Player();
    return dynamic_cast<CWinMediaPlayerPage&>(page).Player()->Player();
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
        m_page = GetParam().m_pfnMake(m_recording);
        m_page->show();
    }
    void TearDown() override {
        m_page.reset();
        // Nothing of a page may outlive it.
        EXPECT_FALSE(m_recording.CaptureWorker().IsRunning());
        EXPECT_FALSE(m_recording.Writer().IsRunning());
    }

    std::string Clip(double seconds) {
        std::string why;
        const std::string path =
            MakeMediaClip(m_dir.Path(), GetParam().m_szExtension, seconds, &why);
        EXPECT_FALSE(path.empty()) << why;
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

    TempDir m_dir;
    CRecording m_recording;  // outlives the page
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
    CMessageRecorder messages;
    m_page->SetFolder(QString::fromStdString(m_dir.Path().string()));
    m_page->OnRecord();
    ASSERT_EQ(messages.m_texts.size(), 1u);
    EXPECT_EQ(messages.m_messages[0].m_strText, QString::fromUtf8("请先选择欲播放的媒体文件。"));
    EXPECT_EQ(m_page->State(), 0);
    EXPECT_FALSE(m_recording.CaptureWorker().IsRunning());
}

// A file the player cannot play is refused with its path and the player's reason; the page
// is then without media, even if it had some before.
TEST_P(PlayerPageTest, UnplayableFileIsRefused) {
    CMessageRecorder messages;
    Ready(2);
    const std::string bogus = m_dir.File(std::string("notes") + GetParam().m_szExtension);
    std::ofstream(bogus) << "not a media file";
    EXPECT_FALSE(m_page->OpenMedia(QString::fromStdString(bogus)));
    ASSERT_EQ(messages.m_texts.size(), 1u);
    EXPECT_TRUE(messages.m_messages[0].m_strText.contains(QString::fromStdString(bogus)));
    EXPECT_EQ(m_page->State(), 0);
    EXPECT_FALSE(m_page->RecordButton()->isEnabled());
}

// A folder that cannot be made is refused, and a playing player is left paused.
TEST_P(PlayerPageTest, UnusableFolderIsRefusedAndThePlayerPaused) {
    CMessageRecorder messages;
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
    const std::int32_t startMs = PositionToMs(MediaOf(*m_page).PositionSeconds());
    m_page->RecordButton()->click();
    ASSERT_EQ(m_page->State(), 3);
    EXPECT_TRUE(fs::is_directory(target));
    EXPECT_TRUE(m_recording.CaptureWorker().IsRunning());
    // The second page writes from the writer thread, the first on position notifications.
    EXPECT_EQ(m_recording.Writer().IsRunning(),
              dynamic_cast<CWinMediaPlayerPage*>(m_page.get()) != nullptr);
    ASSERT_TRUE(PumpUntil([&] { return MediaOf(*m_page).PositionSeconds() > 1.2; }, 10000));
    m_page->RecordButton()->click();
    EXPECT_EQ(m_page->State(), 1);
    EXPECT_FALSE(m_recording.CaptureWorker().IsRunning());
    EXPECT_EQ(MediaOf(*m_page).PlayState(), kPlayStatePaused);
    const std::int32_t stopMs = PositionToMs(MediaOf(*m_page).PositionSeconds());

    const auto files = ListFrameFiles(target);
    ASSERT_GE(files.size(), 10u);
    for (const CFrameFile& file : files) EXPECT_EQ(file.m_nSize, kFrameFileSize) << file.m_nNumber;
    // Numbered from the start position, or, when the first flush found no frame yet, from
    // the position of that flush.
    EXPECT_GE(files.front().m_nNumber, startMs);
    EXPECT_LT(files.front().m_nNumber, startMs + kFirstFlushSlackMs);
    // The last flush numbers at most a queue's worth of frames from a position before the stop.
    EXPECT_LT(files.back().m_nNumber, stopMs + kFrameQueueCapacity);
    EXPECT_GT(files.back().m_nNumber, startMs + (stopMs - startMs) / 2);
    // Nothing is left behind in the queue, and nothing more is written.
    EXPECT_TRUE(m_recording.Queue().IsEmpty());
    PumpFor(300);
    EXPECT_EQ(ListFrameFiles(target).size(), files.size());
}

// The interval field is read when a recording starts: 1000 ms grabs a frame a second
// instead of one every 20 ms.
TEST_P(PlayerPageTest, IntervalAppliesToTheNextRecording) {
    const fs::path target = Ready(6);
    m_page->IntervalSpin()->setValue(1000);
    QElapsedTimer clock;
    clock.start();
    m_page->RecordButton()->click();
    ASSERT_EQ(m_page->State(), 3);
    PumpFor(1500);
    m_page->RecordButton()->click();
    const qint64 elapsed = clock.elapsed();
    // The first grab comes at once, then one a second.
    EXPECT_GE(m_recording.CaptureWorker().GrabbedFrames(), 1);
    EXPECT_LE(m_recording.CaptureWorker().GrabbedFrames(), 1 + int(elapsed / 1000) + 1);
    EXPECT_EQ(ListFrameFiles(target).size(),
              std::size_t(m_recording.CaptureWorker().GrabbedFrames()));
}

// The player reaching the end of the media ends the recording, final flush included.
TEST_P(PlayerPageTest, RecordingEndsWithTheMedia) {
    const fs::path target = Ready(1.5);
    m_page->RecordButton()->click();
    ASSERT_EQ(m_page->State(), 3);
    ASSERT_TRUE(WaitForState(1, 15000));
    EXPECT_FALSE(m_recording.CaptureWorker().IsRunning());
    EXPECT_FALSE(m_recording.Writer().IsRunning());
    EXPECT_EQ(m_page->RecordButton()->text(), QString::fromUtf8("开始录像"));
    const auto files = ListFrameFiles(target);
    ASSERT_GE(files.size(), 10u);
    for (const CFrameFile& file : files) EXPECT_EQ(file.m_nSize, kFrameFileSize);
    EXPECT_LT(files.front().m_nNumber, kFirstFlushSlackMs);
    // Frames from the last part of the clip were written under their positions.
    EXPECT_GT(files.back().m_nNumber, 1000);
    EXPECT_TRUE(m_recording.Queue().IsEmpty());
}

// Recording again after the media ended starts from the beginning, numbered from 0.
TEST_P(PlayerPageTest, RecordingAgainAfterTheEndStartsAtTheBeginning) {
    Ready(1.5, "first");
    m_page->RecordButton()->click();
    ASSERT_TRUE(WaitForState(1, 15000));
    const fs::path again = m_dir.Path() / "again";
    m_page->SetFolder(QString::fromStdString(again.string()));
    m_page->RecordButton()->click();
    ASSERT_EQ(m_page->State(), 3);
    // The player reads as stopped at its end until the rewind has been carried out.
    ASSERT_TRUE(PumpUntil(
        [&] {
            CMediaPlayer& player = MediaOf(*m_page);
            return player.PlayState() == kPlayStatePlaying && player.PositionSeconds() > 0.5;
        },
        10000));
    m_page->RecordButton()->click();
    const auto files = ListFrameFiles(again);
    ASSERT_FALSE(files.empty());
    EXPECT_LT(files.front().m_nNumber, kFirstFlushSlackMs);
    const std::int32_t stopMs = PositionToMs(MediaOf(*m_page).PositionSeconds());
    EXPECT_LT(files.back().m_nNumber, stopMs + kFrameQueueCapacity);
}

// The player reporting a pause while recording ends the recording as the button would.
TEST_P(PlayerPageTest, PausingThePlayerEndsTheRecording) {
    const fs::path target = Ready(6);
    m_page->RecordButton()->click();
    ASSERT_TRUE(PumpUntil([&] { return MediaOf(*m_page).PositionSeconds() > 0.5; }, 10000));
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
    PumpFor(200);
    EXPECT_EQ(m_page->State(), 1);
    EXPECT_FALSE(m_recording.CaptureWorker().IsRunning());
}

// Destroying the page while it records stops the workers and writes nothing more.
TEST_P(PlayerPageTest, DestroyedWhileRecordingWritesNothingMore) {
    const fs::path target = Ready(6);
    m_page->RecordButton()->click();
    ASSERT_TRUE(PumpUntil([&] { return MediaOf(*m_page).PositionSeconds() > 0.5; }, 10000));
    m_page.reset();
    EXPECT_FALSE(m_recording.CaptureWorker().IsRunning());
    EXPECT_FALSE(m_recording.Writer().IsRunning());
    EXPECT_TRUE(m_recording.Queue().IsEmpty());
    const auto before = ListFrameFiles(target).size();
    PumpFor(400);
    EXPECT_EQ(ListFrameFiles(target).size(), before);
}

// Frames that cannot be written are counted and the user is told how many and why.
TEST_P(PlayerPageTest, FailedFramesAreReportedWhenTheRecordingStops) {
    CMessageRecorder messages;
    const fs::path target = Ready(6);
    m_page->RecordButton()->click();
    ASSERT_TRUE(PumpUntil([&] { return MediaOf(*m_page).PositionSeconds() > 0.3; }, 10000));
    // The folder disappears under the recording; a file takes its name.
    fs::rename(target, m_dir.Path() / "moved");
    std::ofstream(target) << "in the way";
    ASSERT_TRUE(PumpUntil([&] { return MediaOf(*m_page).PositionSeconds() > 0.8; }, 10000));
    m_page->RecordButton()->click();
    ASSERT_EQ(m_page->State(), 1);
    ASSERT_EQ(messages.m_texts.size(), 1u);
    const CRecordingResult stats = m_recording.Result();
    ASSERT_GT(stats.m_nFailed, 0);
    const QString& text = messages.m_messages[0].m_strText;
    EXPECT_TRUE(text.contains(QString::number(stats.m_nFailed))) << text.toStdString();
    EXPECT_TRUE(text.contains(QString::fromStdString(target.string()))) << text.toStdString();
    EXPECT_TRUE(text.contains(QString::fromLocal8Bit(std::strerror(ENOTDIR))))
        << text.toStdString();
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

TEST_P(PlayerPageTest, SnapshotThatCannotBeWrittenIsReported) {
    CMessageRecorder messages;
    CDibImage image;
    ASSERT_TRUE(m_page->GrabCurrentFrame(image));
    const std::string path = (m_dir.Path() / "missing" / "snap.bmp").string();
    EXPECT_FALSE(m_page->SaveFrame(image, QString::fromStdString(path)));
    ASSERT_EQ(messages.m_texts.size(), 1u);
    EXPECT_TRUE(messages.m_messages[0].m_strText.contains(QString::fromStdString(path)));
}

// The source button's dialog: the page's filters, and the chosen file opened (not played).
TEST_P(PlayerPageTest, SourceButtonOpensTheChosenFile) {
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
    CMainSheet sheet;
    CPlayerPage* page = m_page.release();
    sheet.ReplacePage(tab, page);
    page->MediaButton()->click();
    const QStringList expected =
        bRm ? QStringList{QStringLiteral("RM Files(*.rm,*.ram,*.ra,*.swf,*.avi)"),
                          QStringLiteral("All Files (*.*)")}
            : QStringList{QStringLiteral(
                              "Media Files(*.avi;*.asf;*.wmv;*.mpeg;*.mpg;*.mp2;*.dat;*.wm;*.wma)"),
                          QStringLiteral("All Files (*.*)")};
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

INSTANTIATE_TEST_SUITE_P(Pages, PlayerPageTest, ::testing::ValuesIn(kPages),
                         [](const auto& info) { return std::string(info.param.m_szName); });

}  // namespace
