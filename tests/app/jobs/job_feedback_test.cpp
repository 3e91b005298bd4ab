// What the job pages tell about a job besides its files: the time left on a clock the test
// moves, the bar and count where the job ended while its summary shows, the averaging summary's
// method, counts and size, and the picture the viewer compares each result with.
#include <gtest/gtest.h>

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <filesystem>
#include <string>
#include <vector>

#include "app/jobs/job_summary_dialog.h"
#include "app/jobs/merge_image_page.h"
#include "app/jobs/result_compare.h"
#include "app/jobs/scale_image_page.h"
#include "app/widgets/image_canvas.h"
#include "app/widgets/image_viewer.h"
#include "app/widgets/time_left.h"
#include "common/temp_dir.h"
#include "gui_common/qt_test_app.h"
#include "jobs/jobs_test_util.h"

namespace {

namespace fs = std::filesystem;
using jobs_test::WriteFlatBmp;

TEST(TimeLeft, FromTheRateOfTheFilesDone) {
    // Each row: the clock (ms since the start) and the files done, then what is shown.
    const struct {
        std::int64_t ms;
        int done;
        int total;
        std::optional<std::int64_t> seconds;
    } kSteps[] = {
        {0, 0, 10, std::nullopt},       // nothing done yet
        {400, 1, 10, std::nullopt},     // one file in 0.4 s: too few to say
        {900, 2, 10, std::nullopt},     // two files, under 2 s
        {1500, 3, 10, 4},               // 3 files in 1.5 s: 7 more take 3.5 s, shown as 4
        {6000, 4, 10, 9},               // the rate slowed: 6 more at 1.5 s each
        {12000, 9, 10, 2},              // 1 more at 1.333 s: 2
        {13000, 10, 10, std::nullopt},  // all done
    };
    std::int64_t now = 0;
    CTimeLeft left([&now] { return now; });
    left.Start();
    for (std::size_t i = 0; i < std::size(kSteps); ++i) {
        SCOPED_TRACE(i);
        now = kSteps[i].ms;
        EXPECT_EQ(left.SecondsLeft(kSteps[i].done, kSteps[i].total), kSteps[i].seconds);
    }
    // Slow files: one done after 2.5 s is enough, 20 more take 50 s.
    now = 100000;
    left.Start();
    now += 1999;
    EXPECT_EQ(left.SecondsLeft(1, 21), std::nullopt);
    now += 501;
    EXPECT_EQ(left.SecondsLeft(1, 21), 50);
}

TEST(TimeLeft, FormatsMinutesAndHours) {
    const struct {
        std::int64_t seconds;
        const char* text;
    } kCases[] = {{0, "0:00"},       {7, "0:07"},       {59, "0:59"},
                  {60, "1:00"},      {754, "12:34"},    {3599, "59:59"},
                  {3600, "1:00:00"}, {3725, "1:02:05"}, {36000, "10:00:00"}};
    for (const auto& c : kCases) {
        EXPECT_EQ(CTimeLeft::Format(c.seconds).toStdString(), c.text) << c.seconds;
    }
}

// Records the summaries `desktop` is to show, with the page's bar and count at that moment.
struct CSummarySeen {
    explicit CSummarySeen(CTestDesktop& desktop, CJobPageWidget& page) {
        desktop.m_onDialog = [this, &page](QDialog& dialog) {
            if (const auto* shown = qobject_cast<CJobSummaryDialog*>(&dialog)) {
                m_summaries.push_back(shown->Summary());
                m_nBar = page.Progress()->value();
                m_nBarMax = page.Progress()->maximum();
                m_strCount = page.ProgressText()->text().toStdString();
            }
            return int(QDialog::Accepted);
        };
    }
    std::vector<CJobSummary> m_summaries;
    int m_nBar = -1;
    int m_nBarMax = -1;
    std::string m_strCount;
};

void SetMerge(CMergeImagePage& page, const fs::path& src, const fs::path& target,
              StackMethod method) {
    CMergeParams params;
    params.m_strSrcDir = src.string();
    params.m_strTargetFile = target.string();
    params.m_bExtra800 = params.m_bExtra1024 = false;
    params.m_bAutoNumber = false;
    params.m_bDelSrc = false;
    params.m_method = method;
    page.SetParams(params);
    page.RefreshControls();
}

// The averaging page on a clock that moves a second a file: no time left for the first two,
// then from the rate; the bar full and the count whole while the summary shows, which names
// the method, the pictures used and left out, and the result's size.
TEST(JobFeedback, AveragingShowsTimeLeftEndAndSummary) {
    TestApp();
    CTestDesktop desktop;
    TempDir dir;
    const fs::path src = dir.Path() / "src";
    for (int i = 0; i < 5; ++i) {
        WriteFlatBmp(src / ("f" + std::to_string(i) + ".bmp"), 40, 30, std::uint8_t(10 + i));
    }
    jobs_test::WriteText(src / "z.bmp", "no picture");
    CMergeImagePage page(desktop);
    SetMerge(page, src, dir.Path() / "avg.bmp", StackMethod::Mean);
    std::int64_t now = 0;
    page.SetClock([&now] { return now; });
    std::vector<std::string> shown;
    QObject::connect(&page, &CJobPageWidget::JobFileStarted, [&](const QString&, int, int) {
        shown.push_back(page.ProgressText()->text().toStdString());
        now += 1000;
    });
    CSummarySeen seen(desktop, page);
    page.StartButton()->click();

    // Files done after 0, 1, 2, ... s: from 2 s on, (6 - done) files at the rate so far.
    const std::vector<std::string> kShown = {"1/6",
                                             "2/6",
                                             "3/6，剩余约 0:04",
                                             "4/6，剩余约 0:03",
                                             "5/6，剩余约 0:02",
                                             "6/6，剩余约 0:01"};
    EXPECT_EQ(shown, kShown);
    ASSERT_EQ(seen.m_summaries.size(), 1u);
    EXPECT_EQ(seen.m_nBar, 6);
    EXPECT_EQ(seen.m_nBarMax, 6);
    EXPECT_EQ(seen.m_strCount, "6/6");
    // Back to empty once the summary is closed.
    EXPECT_EQ(page.Progress()->value(), 0);
    EXPECT_TRUE(page.ProgressText()->text().isEmpty());
    const std::string text = seen.m_summaries[0].Text().toStdString();
    EXPECT_NE(text.find("方法：平均；用了 5 张图像，未用 1 张。"), std::string::npos) << text;
    EXPECT_NE(text.find("结果大小：40 x 30 像素。"), std::string::npos) << text;
    // The plain mean is compared with its first picture.
    const CResultCompare& compare = seen.m_summaries[0].m_compare;
    EXPECT_EQ(compare.m_kind, CResultCompare::Kind::Picture);
    EXPECT_EQ(compare.m_paths, std::vector<std::string>{(src / "f0.bmp").string()});
}

// A median is compared with the plain mean of the same pictures, made off the UI thread and
// handed to the viewer that "打开结果" opens; the picture the viewer shows is the result.
TEST(JobFeedback, MedianResultOpensInTheViewerBesideThePlainMean) {
    TestApp();
    CTestDesktop desktop;
    TempDir dir;
    const fs::path src = dir.Path() / "src";
    // Median 11, mean (10 + 11 + 30) / 3 = 17.
    const int kValues[] = {10, 11, 30};
    for (int i = 0; i < 3; ++i) {
        WriteFlatBmp(src / ("f" + std::to_string(i) + ".bmp"), 24, 16, std::uint8_t(kValues[i]));
    }
    CMergeImagePage page(desktop);
    SetMerge(page, src, dir.Path() / "median.bmp", StackMethod::Median);
    CSummarySeen seen(desktop, page);
    page.StartButton()->click();
    ASSERT_EQ(seen.m_summaries.size(), 1u);
    const CJobSummary& summary = seen.m_summaries[0];
    EXPECT_NE(summary.Text().toStdString().find("方法：中值；用了 3 张图像，未用 0 张。"),
              std::string::npos);
    ASSERT_EQ(summary.m_compare.m_kind, CResultCompare::Kind::PlainMean);
    EXPECT_EQ(summary.m_compare.m_paths.size(), 3u);

    CJobSummaryDialog dialog(summary, desktop, &page);
    dialog.ResultButton()->click();
    const QList<CImageViewer*> viewers = dialog.findChildren<CImageViewer*>();
    ASSERT_EQ(viewers.size(), 1);
    CImageViewer* viewer = viewers[0];
    EXPECT_EQ(viewer->Path(), summary.m_strResult);
    EXPECT_EQ(viewer->Canvas()->Image().pixelColor(5, 5), QColor(11, 11, 11));
    ASSERT_TRUE(QTest::qWaitFor([viewer] { return viewer->Canvas()->HasCompare(); }, 60000));
    EXPECT_EQ(viewer->Canvas()->Compare().pixelColor(5, 5), QColor(17, 17, 17));
    EXPECT_TRUE(viewer->Canvas()->CompareShown());
    // The temporary folder of the mean is gone again: nothing new beside the sources.
    EXPECT_EQ(std::distance(fs::directory_iterator(src), fs::directory_iterator()), 3);
}

// The summary is modal, so the viewer it opens is its own; once the summary is closed the viewer
// stays open as a window of the page.
TEST(JobFeedback, AViewerOutlivesTheSummaryItWasOpenedFrom) {
    TestApp();
    CTestDesktop desktop;
    TempDir dir;
    WriteFlatBmp(dir.Path() / "result.bmp", 12, 8, 40);
    CJobSummary summary;
    summary.m_strResult = QString::fromStdString((dir.Path() / "result.bmp").string());
    QWidget page;
    desktop.m_onDialog = [](QDialog& dialog) {
        static_cast<CJobSummaryDialog&>(dialog).ResultButton()->click();
        EXPECT_EQ(dialog.findChildren<CImageViewer*>().size(), 1);
        return int(QDialog::Accepted);
    };
    ShowJobSummary(desktop, &page, summary);
    const QList<CImageViewer*> viewers = page.findChildren<CImageViewer*>();
    ASSERT_EQ(viewers.size(), 1);
    EXPECT_TRUE(viewers[0]->isVisible());
    EXPECT_TRUE(viewers[0]->isWindow());
    EXPECT_EQ(viewers[0]->Path(), summary.m_strResult);
}

// An enlarged picture is compared with the source of the result shown; a source the job moved
// to the trash is found there.
TEST(JobFeedback, EnlargedResultComparesWithItsSource) {
    TestApp();
    CTestDesktop desktop;
    TempDir dir;
    const fs::path src = dir.Path() / "src";
    WriteFlatBmp(src / "a.bmp", 8, 6, 50);
    WriteFlatBmp(src / "b.bmp", 8, 6, 60);
    CScaleImagePage page(desktop);
    CScaleParams params;
    params.m_strSrcDir = src.string();
    params.m_strTargetFolder = (dir.Path() / "out").string();
    params.m_bDelSrc = false;
    page.SetParams(params);
    page.RefreshControls();
    CSummarySeen seen(desktop, page);
    page.StartButton()->click();
    ASSERT_EQ(seen.m_summaries.size(), 1u);
    const CJobSummary& summary = seen.m_summaries[0];
    EXPECT_EQ(summary.m_strResult.toStdString(), (dir.Path() / "out" / "a.bmp").string());
    ASSERT_EQ(summary.m_compare.m_kind, CResultCompare::Kind::Picture);
    EXPECT_EQ(summary.m_compare.m_paths, std::vector<std::string>{(src / "a.bmp").string()});
    const CViewerCompare compare = MakeCompare(summary.m_compare);
    EXPECT_EQ(compare.m_image.size(), QSize(8, 6));
    EXPECT_FALSE(compare.m_strCaption.isEmpty());

    CJobResult trashed;
    trashed.m_trashPlaces.push_back({(src / "a.bmp").string(), "/trash/files/a.bmp", {}});
    trashed.m_trashPlaces.push_back({(src / "b.bmp").string(), {}, {}});
    EXPECT_EQ(SourceNow(trashed, (src / "a.bmp").string()), "/trash/files/a.bmp");
    // Where the trash could not tell, and for a source not trashed, the path stays.
    EXPECT_EQ(SourceNow(trashed, (src / "b.bmp").string()), (src / "b.bmp").string());
    EXPECT_EQ(SourceNow(trashed, (src / "c.bmp").string()), (src / "c.bmp").string());
}

}  // namespace
