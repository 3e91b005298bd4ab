// The player pages' marks, the frame time, and what they make from the media file itself: the
// full-size frame, the frames of a span and the best still.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDropEvent>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <QUrl>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <optional>
#include <utility>

#include "app/capture/frame_jobs.h"
#include "app/capture/media_player2.h"
#include "app/capture/player_panel_widget.h"
#include "app/capture/rm_play_wnd.h"
#include "app/capture/rm_player_page.h"
#include "app/capture/video_view_widget.h"
#include "app/capture/win_media_player_page.h"
#include "app/widgets/image_viewer.h"
#include "capture/recording.h"
#include "common/media_clips.h"
#include "common/temp_dir.h"
#include "fake_media_player.h"
#include "gui_common/qt_test_app.h"
#include "image/dib_image.h"
#include "image/frame_image.h"
#include "platform/media_player.h"
#include "player_test_support.h"
#include "video/video_reader.h"

namespace fs = std::filesystem;

namespace {

enum class PageKind { RM, WinMedia };

CFakeMediaPlayer& MediaOf(CPlayerPage& page) {
    if (auto* rm = dynamic_cast<CRMPlayerPage*>(&page))
        return dynamic_cast<CFakeMediaPlayer&>(*rm->VideoPlayer()->Player());
    return dynamic_cast<CFakeMediaPlayer&>(
        dynamic_cast<CWinMediaPlayerPage&>(page).Player()->Player());
}

class FrameToolsTest : public ::testing::TestWithParam<PageKind> {
protected:
    void SetUp() override {
        TestApp();
        if (GetParam() == PageKind::RM)
            m_page = std::make_unique<CRMPlayerPage>(m_desktop, m_recording, m_players.Factory());
        else
            m_page =
                std::make_unique<CWinMediaPlayerPage>(m_desktop, m_recording, m_players.Factory());
        m_page->show();
    }
    void TearDown() override { m_page.reset(); }

    // A fake clip of `seconds` at 25 frames a second, open, with a target folder.
    fs::path ReadyFake(double seconds) {
        const std::string path = m_dir.File("clip.avi");
        CFakeMedia media;
        media.m_dSeconds = seconds;
        m_players.AddMedia(path, media);
        return Open(path);
    }
    // A real 320 x 240 clip of `seconds`, played by the fake player.
    fs::path ReadyReal(double seconds) {
        std::string why;
        m_strClip = MakeMediaClip(m_dir.Path(), ".avi", seconds, &why);
        EXPECT_FALSE(m_strClip.empty()) << why;
        CFakeMedia media;
        media.m_dSeconds = seconds;
        m_players.AddExisting(m_strClip, media);
        return Open(m_strClip);
    }
    fs::path Open(const std::string& path) {
        EXPECT_TRUE(m_page->OpenMedia(QString::fromStdString(path)));
        const fs::path target = m_dir.Path() / "out";
        m_page->SetFolder(QString::fromStdString(target.string()));
        return target;
    }
    bool WaitForJob() {
        return PumpUntil([&] { return !m_page->JobRunning(); }, 60000);
    }

    TempDir m_dir;
    CFakePlayers m_players;
    CTestDesktop m_desktop;
    CRecording m_recording;
    std::unique_ptr<CPlayerPage> m_page;
    std::string m_strClip;
};

// Columns of `image` holding a pixel of `color`.
std::vector<int> ColumnsOf(const QImage& image, QRgb color) {
    std::vector<int> columns;
    for (int x = 0; x < image.width(); ++x) {
        for (int y = 0; y < image.height(); ++y) {
            if ((image.pixel(x, y) & 0xffffff) == (color & 0xffffff)) {
                columns.push_back(x);
                break;
            }
        }
    }
    return columns;
}

}  // namespace

// Marks by keys and buttons, one step after another: a mark set on the wrong side of the other
// clears it, and the clear button takes both away.
TEST_P(FrameToolsTest, MarksFollowKeysAndButtons) {
    ReadyFake(6);
    CPlayerPanelWidget* panel = m_page->KeyPanel();
    enum Action { KeyI, KeyO, StartButton, EndButton, ClearButton };
    struct Step {
        double m_dAt;
        Action m_action;
        std::optional<double> m_start, m_end;
    };
    const Step kSteps[] = {
        {1.0, KeyI, 1.0, std::nullopt},
        {3.0, KeyO, 1.0, 3.0},
        {2.0, StartButton, 2.0, 3.0},
        {4.0, StartButton, 4.0, std::nullopt},  // past the end: the end goes
        {5.0, EndButton, 4.0, 5.0},
        {0.5, KeyO, std::nullopt, 0.5},  // before the start: the start goes
        {0.5, ClearButton, std::nullopt, std::nullopt},
    };
    for (size_t i = 0; i < std::size(kSteps); ++i) {
        SCOPED_TRACE(i);
        MediaOf(*m_page).Seek(kSteps[i].m_dAt);
        switch (kSteps[i].m_action) {
            case KeyI:
                QTest::keyClick(panel, Qt::Key_I);
                break;
            case KeyO:
                QTest::keyClick(panel, Qt::Key_O);
                break;
            case StartButton:
                m_page->StartMarkButton()->click();
                break;
            case EndButton:
                m_page->EndMarkButton()->click();
                break;
            case ClearButton:
                m_page->ClearMarksButton()->click();
                break;
        }
        EXPECT_EQ(panel->StartMark(), kSteps[i].m_start);
        EXPECT_EQ(panel->EndMark(), kSteps[i].m_end);
    }
    // Another file forgets the marks.
    QTest::keyClick(panel, Qt::Key_I);
    ASSERT_TRUE(panel->StartMark());
    ReadyFake(6);
    EXPECT_FALSE(panel->StartMark());
}

// The marks are drawn on the slider where the media's time puts them: the start in green at a
// sixth of a six-second clip, the end in red at half, and nothing of either before.
TEST_P(FrameToolsTest, MarksAreDrawnOnTheSlider) {
    ReadyFake(6);
    CPlayerPanelWidget* panel = m_page->KeyPanel();
    QSlider* slider = panel->PositionSlider();
    const QRgb green = qRgb(0, 160, 0);
    const QRgb red = qRgb(220, 0, 0);
    const QImage before = slider->grab().toImage();
    EXPECT_TRUE(ColumnsOf(before, green).empty());
    EXPECT_TRUE(ColumnsOf(before, red).empty());
    panel->SetMarks(1.0, 3.0);
    const QImage after = slider->grab().toImage();
    const std::vector<int> start = ColumnsOf(after, green);
    const std::vector<int> end = ColumnsOf(after, red);
    ASSERT_FALSE(start.empty());
    ASSERT_FALSE(end.empty());
    const double width = slider->width() * slider->devicePixelRatio();
    // Within the handle's half width of the straight proportion.
    EXPECT_NEAR(start.front() / width, 1.0 / 6, 0.08);
    EXPECT_NEAR(end.front() / width, 3.0 / 6, 0.08);
    EXPECT_LT(start.back(), end.front());
}

// The page's time follows the picture shown, to the millisecond, with the frame's number.
TEST_P(FrameToolsTest, FrameTimeFollowsThePicture) {
    ReadyFake(6);
    CFakeMediaPlayer& player = MediaOf(*m_page);
    for (int frame : {0, 1, 13, 149}) {
        SCOPED_TRACE(frame);
        player.ShowFrame(frame);
        ASSERT_TRUE(PumpUntil(
            [&] {
                return m_page->FrameTimeLabel()->text().endsWith(QStringLiteral(" %1").arg(frame));
            },
            5000))
            << m_page->FrameTimeLabel()->text().toStdString();
    }
    EXPECT_EQ(m_page->FrameTimeLabel()->text(), QStringLiteral("0:00:05.960 · 帧 149"));
}

INSTANTIATE_TEST_SUITE_P(Pages, FrameToolsTest, ::testing::Values(PageKind::RM, PageKind::WinMedia),
                         [](const auto& info) {
                             return info.param == PageKind::RM ? "RMPlayer" : "WinMediaPlayer";
                         });

// The time to the millisecond and the frame's number, worked out by hand.
TEST(FrameTime, FormatsPositionsAndFrames) {
    TestApp();
    struct Case {
        double m_dSeconds, m_dRate;
        const char* m_szText;
    };
    const Case kCases[] = {
        {0.0, 25, "0:00:00.000 · 帧 0"},
        {0.04, 25, "0:00:00.040 · 帧 1"},
        {0.0399999, 25, "0:00:00.040 · 帧 1"},  // a hair before the picture's time
        {0.079, 25, "0:00:00.079 · 帧 1"},
        {7 / 30.0, 30, "0:00:00.233 · 帧 7"},
        {3661.5, 25, "1:01:01.500 · 帧 91537"},
        {1001 / 30000.0 * 100, 30000 / 1001.0, "0:00:03.337 · 帧 100"},
        {-2.0, 25, "0:00:00.000 · 帧 0"},
        {2.0, 0, "0:00:02.000"},  // no frame rate known
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.m_szText);
        EXPECT_EQ(FormatFrameTime(c.m_dSeconds, c.m_dRate).toStdString(), c.m_szText);
    }
}

// The span the marks give, and a second either side of the position without them.
TEST(FrameTime, SpanOfMarks) {
    struct Case {
        std::optional<double> m_start, m_end;
        std::int64_t m_nPosition;
        double m_dRate;
        std::int64_t m_nFrom;
        std::optional<std::int64_t> m_to;
    };
    const Case kCases[] = {
        {1.0, 2.5, 0, 25, 1000, 2530},  // three quarters of a 40 ms picture past the end
        {1.0, 2.5, 0, 30000 / 1001.0, 1000, 2525},
        {1.0, 2.5, 0, 0, 1000, 2501},  // no rate known
        {std::nullopt, std::nullopt, 3000, 25, 2000, 4000},
        {std::nullopt, std::nullopt, 400, 25, 0, 1400},
        {1.5, std::nullopt, 0, 25, 1500, std::nullopt},
        {std::nullopt, 2.0, 5000, 25, 0, 2030},
    };
    for (size_t i = 0; i < std::size(kCases); ++i) {
        SCOPED_TRACE(i);
        const CMediaSpan span = SpanOfMarks(kCases[i].m_start, kCases[i].m_end,
                                            kCases[i].m_nPosition, kCases[i].m_dRate);
        EXPECT_EQ(span.m_nFromMs, kCases[i].m_nFrom);
        EXPECT_EQ(span.m_toMs, kCases[i].m_to);
    }
}

class FrameToolsFileTest : public FrameToolsTest {};

// "存原始帧" writes the frame at the position at its own size: the pixels the reader gives for
// that time, as PNG by default and as BMP when chosen, each under a name of its own.
TEST_P(FrameToolsFileTest, SavesTheFullSizeFrame) {
    const fs::path target = ReadyReal(2);
    MediaOf(*m_page).Seek(0.52);
    CVideoReadOptions options;
    options.m_nFromMs = 520;
    auto reader = CVideoReader::Open(m_strClip, options);
    ASSERT_TRUE(reader) << reader.Status().Reason();
    SFrame expected;
    const CResult<bool> next = (*reader)->Next(expected);
    ASSERT_TRUE(next && *next);
    ASSERT_EQ(expected.timeMs, 520);

    m_page->FullFrameButton()->click();
    const fs::path png = target / "clip_00000520.png";
    ASSERT_TRUE(fs::exists(png)) << m_desktop.m_texts.size();
    QImage loaded(QString::fromStdString(png.string()));
    ASSERT_EQ(loaded.size(), QSize(320, 240));
    loaded = loaded.convertToFormat(QImage::Format_BGR888);
    for (int y = 0; y < 240; ++y)
        ASSERT_EQ(0, std::memcmp(loaded.constScanLine(y), expected.bgr.data() + y * 960, 960)) << y;

    m_page->FrameTypeCombo()->setCurrentIndex(1);  // BMP
    m_page->FullFrameButton()->click();
    CDibImage bmp;
    ASSERT_TRUE(bmp.LoadBmp((target / "clip_00000520.bmp").string()));
    SFrame fromBmp;
    DibToFrame(bmp, fromBmp);
    EXPECT_EQ(fromBmp.bgr, expected.bgr);
    // Saved again: a new name, the first file kept.
    m_page->FullFrameButton()->click();
    EXPECT_TRUE(fs::exists(target / "clip_00000520_2.bmp"));
    EXPECT_TRUE(m_desktop.m_texts.empty());
}

// The best still of a generated clip at x2: a picture twice the clip's size in the target
// folder, named after the media and the position, opened once written; run again, under a new
// name. Stopped at once, it leaves no file.
TEST_P(FrameToolsFileTest, BestStillWritesAnEnlargedPictureUnderAFreeName) {
    const fs::path target = ReadyReal(2);
    MediaOf(*m_page).Seek(1.0);
    m_page->ScaleCombo()->setCurrentIndex(1);
    m_page->BestStillButton()->click();
    EXPECT_TRUE(m_page->JobRunning());
    EXPECT_FALSE(m_page->BestStillButton()->isEnabled());
    ASSERT_TRUE(WaitForJob());
    ASSERT_TRUE(m_desktop.m_texts.empty()) << m_desktop.m_texts.front();
    const fs::path first = target / "clip_00001000_x2.png";
    ASSERT_TRUE(fs::exists(first));
    EXPECT_EQ(QImage(QString::fromStdString(first.string())).size(), QSize(640, 480));
    // Opened in the program's viewer, beside the compare picture below.
    const QList<CImageViewer*> viewers = m_page->findChildren<CImageViewer*>();
    ASSERT_EQ(viewers.size(), 1);
    EXPECT_EQ(viewers.front()->Path().toStdString(), first.string());
    EXPECT_TRUE(viewers.front()->CompareAction()->isEnabled());
    const auto firstTime = fs::last_write_time(first);
    // Beside it, the frame at the position (the reference) enlarged: halved again, it is that
    // frame and not the first one of the clip.
    const QImage compare = m_page->LastCompare();
    ASSERT_EQ(compare.size(), QSize(640, 480));
    const QImage halved = compare.scaled(320, 240, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                              .convertToFormat(QImage::Format_BGR888);
    const auto distance = [&halved](const SFrame& frame) {
        double sum = 0;
        for (int y = 0; y < 240; ++y)
            for (int x = 0; x < 960; ++x)
                sum += std::abs(int(halved.constScanLine(y)[x]) - int(frame.bgr[y * 960 + x]));
        return sum / (240.0 * 960.0);
    };
    SFrame atReference;
    SFrame atStart;
    for (auto [ms, frame] : {std::pair{1000, &atReference}, std::pair{0, &atStart}}) {
        CVideoReadOptions options;
        options.m_nFromMs = ms;
        auto reader = CVideoReader::Open(m_strClip, options);
        ASSERT_TRUE(reader);
        const CResult<bool> next = (*reader)->Next(*frame);
        ASSERT_TRUE(next && *next);
    }
    EXPECT_LT(distance(atReference), 4.0);
    EXPECT_GT(distance(atStart), distance(atReference) + 4.0);

    m_page->BestStillButton()->click();
    ASSERT_TRUE(WaitForJob());
    EXPECT_TRUE(fs::exists(target / "clip_00001000_x2_2.png"));
    EXPECT_EQ(fs::last_write_time(first), firstTime);

    const auto countFiles = [&] {
        return std::distance(fs::directory_iterator(target), fs::directory_iterator());
    };
    const auto before = countFiles();
    m_page->BestStillButton()->click();
    m_page->JobStopButton()->click();
    ASSERT_TRUE(WaitForJob());
    EXPECT_EQ(countFiles(), before);
    EXPECT_TRUE(m_page->BestStillButton()->isEnabled());
}

// The scale and the file type are remembered for the next page.
TEST_P(FrameToolsFileTest, ChoicesAreRemembered) {
    m_page->ScaleCombo()->setCurrentIndex(2);
    m_page->FrameTypeCombo()->setCurrentIndex(2);
    m_page.reset();
    SetUp();
    EXPECT_EQ(m_page->ScaleCombo()->currentIndex(), 2);
    EXPECT_EQ(m_page->FrameTypeCombo()->currentIndex(), 2);
}

INSTANTIATE_TEST_SUITE_P(Pages, FrameToolsFileTest, ::testing::Values(PageKind::WinMedia),
                         [](const auto&) { return "WinMediaPlayer"; });

// A media file dropped on the page opens there; while a recording runs, a drop changes nothing.
TEST_P(FrameToolsTest, DroppedFileOpens) {
    const std::string other = m_dir.File("dropped.avi");
    m_players.AddMedia(other, CFakeMedia{});
    const auto drop = [&](const std::string& path) {
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(path))});
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(m_page.get(), &enter);
        QDropEvent dropped(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(m_page.get(), &dropped);
    };
    drop(other);
    EXPECT_EQ(m_page->DocumentPath().toStdString(), other);
    EXPECT_EQ(m_page->State(), CPlayerPage::kStateMediaChosen);

    ReadyFake(6);
    m_page->RecordButton()->click();
    ASSERT_EQ(m_page->State(), CPlayerPage::kStateRecording);
    drop(other);
    EXPECT_NE(m_page->DocumentPath().toStdString(), other);
    m_page->RecordButton()->click();
    EXPECT_TRUE(
        PumpUntil([&] { return m_page->State() == CPlayerPage::kStateMediaChosen; }, 10000));
}

// The picture's right-click menu: play and pause, the full-size frame, the best still, and
// Minimise as the sheet's own menu has it.
TEST_P(FrameToolsFileTest, VideoMenuActionsWork) {
    const fs::path target = ReadyReal(2);
    CFakeMediaPlayer& player = MediaOf(*m_page);
    const auto trigger = [&](const QString& text) {
        std::unique_ptr<QMenu> menu(m_page->MakeVideoMenu(m_page.get()));
        for (QAction* action : menu->actions()) {
            if (action->text() == text) {
                EXPECT_TRUE(action->isEnabled()) << text.toStdString();
                action->trigger();
                return true;
            }
        }
        return false;
    };
    ASSERT_TRUE(trigger(QStringLiteral("播放/暂停")));
    EXPECT_EQ(player.PlayState(), kPlayStatePlaying);
    ASSERT_TRUE(trigger(QStringLiteral("播放/暂停")));
    EXPECT_EQ(player.PlayState(), kPlayStatePaused);
    player.Seek(0.2);
    ASSERT_TRUE(trigger(QStringLiteral("存原始帧")));
    EXPECT_TRUE(fs::exists(target / "clip_00000200.png"));
    ASSERT_TRUE(trigger(QStringLiteral("取最佳画面")));
    EXPECT_TRUE(m_page->JobRunning());
    ASSERT_TRUE(WaitForJob());
    EXPECT_TRUE(fs::exists(target / "clip_00000200_x2.png"));
    std::unique_ptr<QMenu> menu(m_page->MakeVideoMenu(m_page.get()));
    QStringList texts;
    for (QAction* action : menu->actions())
        if (!action->isSeparator())
            texts << action->text();
    EXPECT_EQ(texts, (QStringList{QStringLiteral("播放/暂停"), QStringLiteral("存当前画面"),
                                  QStringLiteral("存原始帧"), QStringLiteral("取最佳画面"),
                                  QStringLiteral("最小化")}));
}

// "导出片段帧" writes every frame from the start mark to the end mark, both included, at full
// size and named after its time, in the background.
TEST_P(FrameToolsFileTest, ExportsTheMarkedSpan) {
    const fs::path target = ReadyReal(2);
    m_page->KeyPanel()->SetMarks(0.2, 0.6);
    m_page->FrameTypeCombo()->setCurrentIndex(1);  // BMP
    m_page->ExportSpanButton()->click();
    EXPECT_TRUE(m_page->JobRunning());
    ASSERT_TRUE(WaitForJob());
    ASSERT_TRUE(m_desktop.m_texts.empty()) << m_desktop.m_texts.front();
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(target))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    std::vector<std::string> expected;
    for (int ms = 200; ms <= 600; ms += 40) {
        char name[32];
        std::snprintf(name, sizeof name, "%08d.bmp", ms);
        expected.push_back(name);
    }
    EXPECT_EQ(names, expected);
    CDibImage frame;
    ASSERT_TRUE(frame.LoadBmp((target / expected.front()).string()));
    EXPECT_EQ(frame.m_nWidth, 320);
    EXPECT_EQ(frame.m_nHeight, 240);
}

// A failure is one message naming the path: a media file that cannot be decoded, a target
// folder that cannot be made. Nothing starts.
TEST_P(FrameToolsTest, FailuresNameThePath) {
    ReadyFake(6);  // "fake media": the player plays it, the decoder cannot
    const std::string clip = m_dir.File("clip.avi");
    const std::string blocked = m_dir.File("file") + "/sub";
    std::ofstream(m_dir.File("file")) << "x";
    struct Case {
        QPushButton* m_pButton;
        std::string m_strFolder;
        std::string m_strNamed;
    };
    const Case kCases[] = {
        {m_page->FullFrameButton(), (m_dir.Path() / "out").string(), clip},
        {m_page->BestStillButton(), blocked, blocked},
        {m_page->ExportSpanButton(), blocked, blocked},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.m_pButton->text().toStdString());
        m_desktop.StartRecording();
        m_page->SetFolder(QString::fromStdString(c.m_strFolder));
        c.m_pButton->click();
        EXPECT_FALSE(m_page->JobRunning());
        ASSERT_EQ(m_desktop.m_texts.size(), 1u);
        EXPECT_NE(m_desktop.m_texts[0].find(c.m_strNamed), std::string::npos)
            << m_desktop.m_texts[0];
    }
    EXPECT_FALSE(fs::exists(m_dir.Path() / "out" / "clip_00000000.png"));
}

// At the page's own size the picture is the 350 x 240 it always was; the page grown, the picture
// grows in its shape and the player renders it at that size, while a recording still writes
// 350 x 240 frames.
TEST_P(FrameToolsTest, ViewGrowsWithTheWindow) {
    const fs::path target = ReadyFake(6);
    CVideoViewWidget* video =
        GetParam() == PageKind::RM
            ? dynamic_cast<CRMPlayerPage&>(*m_page).VideoPlayer()->VideoWidget()
            : dynamic_cast<CWinMediaPlayerPage&>(*m_page).Player()->VideoWidget();
    const CPlayerView& view = MediaOf(*m_page).View();
    m_page->resize(m_page->sizeHint());
    QCoreApplication::processEvents();
    EXPECT_EQ(video->PictureRect().size(), QSize(350, 240));
    EXPECT_EQ(QSize(view.Width(), view.Height()), QSize(350, 240));

    m_page->resize(m_page->sizeHint() * 2);
    QCoreApplication::processEvents();
    const QSize grown = video->PictureRect().size();
    EXPECT_GT(grown.width(), 500);
    // Whole tenths of 350 x 240: the shape is exact.
    EXPECT_EQ(grown.width() % 35, 0);
    EXPECT_EQ(grown.width() / 35 * 24, grown.height());
    // A few pixels more than the page needs change nothing.
    m_page->resize(m_page->sizeHint() + QSize(20, 12));
    QCoreApplication::processEvents();
    EXPECT_EQ(video->PictureRect().size(), QSize(350, 240));
    m_page->resize(m_page->sizeHint() * 2);
    QCoreApplication::processEvents();
    EXPECT_EQ(QSize(view.Width(), view.Height()), grown);

    m_page->RecordButton()->click();
    ASSERT_EQ(m_page->State(), CPlayerPage::kStateRecording);
    ASSERT_TRUE(PumpUntil([&] { return m_recording.CaptureWorker().GrabbedFrames() >= 2; }, 10000));
    m_page->RecordButton()->click();
    ASSERT_TRUE(
        PumpUntil([&] { return m_page->State() == CPlayerPage::kStateMediaChosen; }, 10000));
    const auto files = ListFrameFiles(target);
    ASSERT_FALSE(files.empty());
    for (const CFrameFile& file : files)
        EXPECT_EQ(file.m_nSize, 54u + (350 * 3 + 2) * 240) << file.m_nNumber;
}

// F11 and a double click on the picture show the window on the whole screen; Esc and F11
// bring it back, and Esc does nothing more while the window is not on the whole screen.
TEST_P(FrameToolsTest, FullScreenByKeyAndDoubleClick) {
    ReadyFake(6);
    CVideoViewWidget* video =
        GetParam() == PageKind::RM
            ? dynamic_cast<CRMPlayerPage&>(*m_page).VideoPlayer()->VideoWidget()
            : dynamic_cast<CWinMediaPlayerPage&>(*m_page).Player()->VideoWidget();
    CPlayerPanelWidget* panel = m_page->KeyPanel();
    const auto full = [&] { return m_page->windowState().testFlag(Qt::WindowFullScreen); };
    // The keys are shortcuts of the page: its window is active, the focus on the controls.
    m_page->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(m_page.get()));
    panel->setFocus();
    ASSERT_FALSE(full());
    QTest::keyClick(panel, Qt::Key_F11);
    EXPECT_TRUE(full());
    QTest::keyClick(panel, Qt::Key_Escape);
    EXPECT_FALSE(full());
    QTest::mouseDClick(video, Qt::LeftButton, Qt::NoModifier, QPoint(20, 20));
    EXPECT_TRUE(full());
    QTest::keyClick(panel, Qt::Key_F11);
    EXPECT_FALSE(full());
}
