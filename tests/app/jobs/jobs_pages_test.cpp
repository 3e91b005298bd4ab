// The averaging and enlarging pages on real temporary folders: their messages and end summaries,
// Start turning into Stop, the controls during a job, stopping, closing the window during a job,
// the settings buttons, ViewFolder and the settings path; the hints before a job, remembered
// folders and dropped folders and files.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCursor>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>

#include <sys/stat.h>

#include <cmath>
#include <cstdlib>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "app/capture/player_page.h"
#include "app/jobs/job_summary_dialog.h"
#include "app/jobs/merge_image_page.h"
#include "app/jobs/scale_image_page.h"
#include "app/main_sheet.h"
#include "app/program_pages.h"
#include "app/startup.h"
#include "app/widgets/image_viewer.h"
#include "app/widgets/message_box.h"
#include "app/widgets/path_label.h"
#include "app/widgets/remembered_folders.h"
#include "app/widgets/select_folder_dialog.h"
#include "app/widgets/view_folder.h"
#include "common/temp_dir.h"
#include "gui_common/qt_test_app.h"
#include "jobs/jobs_test_util.h"
#include "jobs/settings_file.h"

namespace {

// A run context whose settings file is `file`.
CRunContext SettingsIn(const std::string& file) {
    CRunContext context;
    context.m_strSettingsFile = file;
    return context;
}

namespace fs = std::filesystem;
using jobs_test::LoadOrFail;
using jobs_test::WriteFlatBmp;

// The trash goes to a private folder, set before GIO first reads it: the pages move sources to
// the trash by default, and no test may reach the real user's trash.
struct CPrivateHome {
    CPrivateHome() { setenv("XDG_DATA_HOME", (dir.Path() / "share").c_str(), 1); }
    TempDir dir;
};
CPrivateHome& Home() {
    static CPrivateHome home;
    return home;
}
const bool kHomeSet = (Home(), true);

fs::path TrashFiles() {
    return Home().dir.Path() / "share" / "Trash" / "files";
}

// Receives the files the desktop would open.
// The files `desktop` was asked to open, in order.
std::vector<std::string> OpenedFiles(const CTestDesktop& desktop) {
    std::vector<std::string> paths;
    for (const QUrl& url : desktop.m_urls) {
        paths.push_back(url.toLocalFile().toStdString());
    }
    return paths;
}

QString Q(const fs::path& path) {
    return QString::fromStdString(path.string());
}

// `n` flat BMP files "f00.bmp" ... of width x height with the values first, first + 1, ...
void WriteBmps(const fs::path& folder, int n, int width, int height, int first = 10) {
    for (int i = 0; i < n; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "f%02d.bmp", i);
        WriteFlatBmp(folder / name, width, height, std::uint8_t(first + i));
    }
}

int CountFiles(const fs::path& folder) {
    std::error_code ec;
    int n = 0;
    for (auto it = fs::directory_iterator(folder, ec); !ec && it != fs::directory_iterator();
         ++it) {
        ++n;
    }
    return n;
}

// Records every job summary `desktop` is to show while alive, instead of showing it.
class CSummaryRecorder {
public:
    explicit CSummaryRecorder(CTestDesktop& desktop) : m_desktop(desktop) {
        m_desktop.m_onDialog = [this](QDialog& dialog) {
            const auto* shown = qobject_cast<CJobSummaryDialog*>(&dialog);
            EXPECT_NE(shown, nullptr) << "a dialog other than the job summary";
            if (shown != nullptr) {
                m_summaries.push_back(shown->Summary());
                m_headlines.push_back(shown->Summary().m_strHeadline.toStdString());
            }
            return int(QDialog::Accepted);
        };
    }
    ~CSummaryRecorder() { m_desktop.m_onDialog = nullptr; }
    CSummaryRecorder(const CSummaryRecorder&) = delete;
    CSummaryRecorder& operator=(const CSummaryRecorder&) = delete;

    std::vector<CJobSummary> m_summaries;
    std::vector<std::string> m_headlines;

private:
    CTestDesktop& m_desktop;
};

// Sets the page's folders and source type through its fields, as the settings buttons do.
void SetMerge(CMergeImagePage& page, const std::string& src, const std::string& target,
              int nSrcFile = 1, bool bExtras = false, bool bDelSrc = true) {
    CMergeParams params;
    params.m_strSrcDir = src;
    params.m_strTargetFile = target;
    params.m_source = SourceKindAt(nSrcFile);
    params.m_bExtra800 = params.m_bExtra1024 = bExtras;
    params.m_bDelSrc = bDelSrc;
    page.SetParams(params);
    page.RefreshControls();
}

void SetScale(CScaleImagePage& page, const std::string& src, const std::string& target,
              int nSrcFile = 1, int nScale = 0, bool bDelSrc = true) {
    CScaleParams params;
    params.m_strSrcDir = src;
    params.m_strTargetFolder = target;
    params.m_source = SourceKindAt(nSrcFile);
    params.m_scale = ScaleChoiceAt(nScale);
    params.m_bDelSrc = bDelSrc;
    page.SetParams(params);
    page.RefreshControls();
}

// Presses Start with `onFile` called for every file the job starts.
void StartWith(CJobPageWidget& page,
               const std::function<void(const QString&, int, int)>& onFile = {}) {
    QMetaObject::Connection connection;
    if (onFile) {
        connection = QObject::connect(&page, &CJobPageWidget::JobFileStarted, onFile);
    }
    page.StartButton()->click();
    QObject::disconnect(connection);
}

const std::string kNoSource = "请先选择源目录。";
const std::string kNoTargetFile = "请先选择目标文件。";
const std::string kNoTargetFolder = "请先选择目标目录。";
const std::string kNoFiles = "抱歉，在指定的源目录下没有所需的文件。";
const std::string kNoBmpFiles = kNoFiles + "\n该目录中没有 BMP 文件。";
const std::string kMergeFailed = "图像融合失败。";
const std::string kMergeDone = "图像平均完毕。";
const std::string kScaleDone = "放大完毕。";
const std::string kNothingToView = "抱歉，在目标目录中找不到可查看的文件。";
const std::string kTargetRefused = "无法写入目标 ";

TEST(JobPages, StartsWithTheDefaultsOfTheirSettings) {
    CTestDesktop desktop;
    TestApp();
    CMergeImagePage merge(desktop);
    CScaleImagePage scale(desktop);
    merge.TakeControlValues();
    scale.TakeControlValues();
    EXPECT_EQ(merge.Params(), CMergeParams{});
    EXPECT_EQ(scale.Params(), CScaleParams{});
    EXPECT_EQ(merge.TemplateId(), 132);
    EXPECT_EQ(scale.TemplateId(), 133);
    for (CJobPageWidget* page : std::initializer_list<CJobPageWidget*>{&merge, &scale}) {
        EXPECT_EQ(page->StartButton()->text(), QString::fromUtf8("开始"));
        EXPECT_EQ(page->SourceTypeList()->itemText(0), QStringLiteral("*.jpg"));
        EXPECT_EQ(page->SourceTypeList()->itemText(1), QStringLiteral("*.bmp"));
        EXPECT_EQ(page->SourceTypeList()->currentIndex(), 1);
        EXPECT_EQ(page->QualitySpin()->value(), 95);
        EXPECT_EQ(page->QualitySpin()->minimum(), 1);
        EXPECT_EQ(page->QualitySpin()->maximum(), 100);
        // "*.bmp" sources: no JPEG is written, the quality controls are off.
        EXPECT_FALSE(page->QualitySpin()->isEnabled());
        EXPECT_FALSE(page->QualityLabel()->isEnabled());
        page->SourceTypeList()->setCurrentIndex(0);
        EXPECT_TRUE(page->QualitySpin()->isEnabled());
        EXPECT_TRUE(page->QualityLabel()->isEnabled());
        EXPECT_TRUE(page->SourcePath()->m_bPathEllipsis);
        EXPECT_TRUE(page->TargetPath()->m_bPathEllipsis);
        EXPECT_TRUE(page->StatusPath()->m_bPathEllipsis);
    }
    const QStringList sizes = {QStringLiteral("x2"), QStringLiteral("x3"),
                               QStringLiteral("640x480"), QStringLiteral("800x600"),
                               QStringLiteral("1024x768")};
    ASSERT_EQ(scale.SizeList()->count(), sizes.size());
    for (int i = 0; i < sizes.size(); ++i) {
        EXPECT_EQ(scale.SizeList()->itemText(i), sizes[i]);
    }
}

// What Start and the View buttons say when something is missing.
TEST(JobPages, MissingFoldersAndFilesAreNamed) {
    CTestDesktop desktop;
    TestApp();
    TempDir dir;
    const fs::path empty = dir.Path() / "empty";
    const fs::path jpegsOnly = dir.Path() / "jpegs";
    fs::create_directories(empty);
    WriteFlatBmp(jpegsOnly / "a.jpg.bak", 4, 4, 1);  // matches neither pattern
    jobs_test::WriteText(jpegsOnly / "b.jpg", "not read: only counted");
    const std::string target = (dir.Path() / "out" / "avg.bmp").string();
    const std::string targetDir = (dir.Path() / "out").string();

    enum Button { kStart, kViewSource, kViewTarget };
    struct Case {
        bool bMerge;
        std::string src;
        std::string target;
        Button button;
        std::string expected;
    };
    const Case kCases[] = {
        {true, "", target, kStart, kNoSource},
        {true, empty.string(), "", kStart, kNoTargetFile},
        {true, empty.string(), target, kStart, kNoBmpFiles},
        {true, jpegsOnly.string(), target, kStart, kNoBmpFiles},  // "*.bmp" chosen
        {true, "", "", kViewSource, kNoSource},
        {true, "", "", kViewTarget, kNoTargetFile},
        {true, empty.string(), "", kViewSource, kNothingToView},
        {false, "", targetDir, kStart, kNoSource},
        {false, empty.string(), "", kStart, kNoTargetFolder},
        {false, empty.string(), targetDir, kStart, kNoBmpFiles},
        {false, "", "", kViewSource, kNoSource},
        {false, "", "", kViewTarget, kNoTargetFolder},
        {false, "", empty.string(), kViewTarget, kNothingToView},
    };
    for (std::size_t i = 0; i < std::size(kCases); ++i) {
        SCOPED_TRACE(i);
        const Case& c = kCases[i];
        CMergeImagePage merge(desktop);
        CScaleImagePage scale(desktop);
        CJobPageWidget* page = &merge;
        if (c.bMerge) {
            SetMerge(merge, c.src, c.target);
        } else {
            SetScale(scale, c.src, c.target);
            page = &scale;
        }
        CTestDesktop& messages = desktop.StartRecording();
        QPushButton* buttons[] = {page->StartButton(), page->SourceViewButton(),
                                  page->TargetViewButton()};
        buttons[c.button]->click();
        ASSERT_EQ(messages.m_texts.size(), 1u);
        EXPECT_EQ(messages.m_texts[0], c.expected);
        // Nothing started, nothing renamed.
        EXPECT_FALSE(page->IsBusy());
        EXPECT_EQ(page->StartButton()->text(), QString::fromUtf8("开始"));
        EXPECT_EQ(page->TargetPath()->text(), QString::fromStdString(c.target));
    }
    EXPECT_FALSE(fs::exists(dir.Path() / "out"));
}

TEST(MergeImagePage, AveragesIntoANumberedTargetWithExtras) {
    CTestDesktop desktop;
    TestApp();
    TempDir dir;
    const fs::path src = dir.Path() / "src";
    // 10 and 11 average to 11 (10.5 rounds up).
    WriteFlatBmp(src / "a.bmp", 40, 30, 10);
    WriteFlatBmp(src / "b.bmp", 40, 30, 11);
    const fs::path out = dir.Path() / "out";
    fs::create_directories(out);
    CMergeImagePage page(desktop);
    SetMerge(page, src.string(), (out / "avg.bmp").string(), 1, true);
    CTestDesktop& messages = desktop.StartRecording();
    CSummaryRecorder summaries(desktop);
    std::vector<QString> shown;
    // The first free numbered name, shown in the target field from the first file on.
    const fs::path numbered = out / "avg000000.bmp";
    StartWith(page, [&](const QString& path, int, int) {
        shown.push_back(page.StatusPath()->text());
        EXPECT_EQ(path, page.StatusPath()->text());
        EXPECT_EQ(page.TargetPath()->text(), Q(numbered));
    });

    EXPECT_TRUE(messages.m_texts.empty());
    ASSERT_EQ(summaries.m_headlines, std::vector<std::string>{kMergeDone});
    EXPECT_EQ(summaries.m_summaries[0].m_strResult, Q(numbered));
    EXPECT_EQ(summaries.m_summaries[0].m_strFolder, Q(out));
    EXPECT_EQ(page.TargetPath()->text(), Q(numbered));
    ASSERT_EQ(shown.size(), 2u);

    CDibImage average;
    LoadOrFail(numbered, average);
    EXPECT_EQ(average.m_nWidth, 40);
    EXPECT_EQ(average.m_nHeight, 30);
    EXPECT_EQ(average.TopRow(0)[0], 11);
    EXPECT_EQ(average.TopRow(29)[3 * 39 + 2], 11);
    const struct {
        const char* name;
        int width, height;
    } kExtras[] = {{"avg000000_800x600.bmp", 800, 600}, {"avg000000_1024x768.bmp", 1024, 768}};
    for (const auto& extra : kExtras) {
        SCOPED_TRACE(extra.name);
        CDibImage copy;
        LoadOrFail(out / extra.name, copy);
        EXPECT_EQ(copy.m_nWidth, extra.width);
        EXPECT_EQ(copy.m_nHeight, extra.height);
    }
    // Both sources went to the trash once the result was written.
    EXPECT_FALSE(fs::exists(src / "a.bmp"));
    EXPECT_FALSE(fs::exists(src / "b.bmp"));
    EXPECT_TRUE(fs::exists(TrashFiles() / "a.bmp"));
    EXPECT_FALSE(page.IsBusy());
    EXPECT_EQ(page.StartButton()->text(), QString::fromUtf8("开始"));
}

// The summary of an average that trashed twelve sources names the first ten and says that one
// image of another size went in by its overlap; "恢复源文件" puts the sources back, never over a
// file that took a name meanwhile, names what it did and did not put back, and can be pressed
// again for those once the way is clear.
TEST(MergeImagePage, SummaryNamesTheTrashedSourcesAndPutsThemBack) {
    CTestDesktop desktop;
    TestApp();
    TempDir dir;
    const fs::path src = dir.Path() / "src";
    WriteBmps(src, 12, 6, 4);
    const std::vector<std::string> order = jobs_test::ScanOrder(src.string(), "*.bmp");
    ASSERT_EQ(order.size(), 12u);
    WriteFlatBmp(order[5], 7, 3, 99);
    std::vector<std::vector<unsigned char>> bytes;
    for (const std::string& path : order) bytes.push_back(ReadAllBytes(path));
    CMergeImagePage page(desktop);
    SetMerge(page, src.string(), dir.File("avg.bmp"));
    CSummaryRecorder summaries(desktop);
    StartWith(page);
    ASSERT_EQ(summaries.m_headlines, std::vector<std::string>{kMergeDone});
    const CJobSummary& summary = summaries.m_summaries[0];
    const QStringList lines = summary.Text().split(u'\n');
    EXPECT_TRUE(lines.contains(QString::fromUtf8("1 张图像尺寸与第一张不同，只合入了重叠部分")))
        << summary.Text().toStdString();
    for (std::size_t i = 0; i < order.size(); ++i) {
        EXPECT_FALSE(fs::exists(order[i]));
        EXPECT_EQ(lines.contains(QString::fromStdString(order[i])), i < 10) << order[i];
    }
    EXPECT_EQ(lines.back(), QString::fromUtf8("…"));

    const std::string blocker = "made after the job";
    jobs_test::WriteText(order[3], blocker);
    CJobSummaryDialog dialog(summary, desktop);
    ASSERT_TRUE(dialog.RestoreButton()->isVisibleTo(&dialog));
    CTestDesktop& messages = desktop.StartRecording();
    dialog.RestoreButton()->click();
    ASSERT_EQ(messages.m_texts.size(), 1u);
    const std::string& first = messages.m_texts[0];
    EXPECT_EQ(messages.m_icons[0], QMessageBox::Warning);
    EXPECT_NE(first.find("已将 11 个源文件恢复到原位置"), std::string::npos) << first;
    EXPECT_NE(first.find(order[3] + "：原位置已有同名文件，没有覆盖它"), std::string::npos)
        << first;
    for (std::size_t i = 0; i < order.size(); ++i) {
        if (i == 3) {
            EXPECT_EQ(jobs_test::ReadText(order[i]), blocker);
        } else {
            EXPECT_EQ(ReadAllBytes(order[i]), bytes[i]) << order[i];
        }
    }
    EXPECT_TRUE(dialog.RestoreButton()->isEnabled());

    fs::rename(order[3], dir.File("moved aside"));
    dialog.RestoreButton()->click();
    ASSERT_EQ(messages.m_texts.size(), 2u);
    EXPECT_EQ(messages.m_icons[1], QMessageBox::Information);
    EXPECT_EQ(messages.m_texts[1], "已将 1 个源文件恢复到原位置：\n" + order[3]);
    EXPECT_EQ(ReadAllBytes(order[3]), bytes[3]);
    EXPECT_FALSE(dialog.RestoreButton()->isEnabled());
}

TEST(MergeImagePage, AutoNumberingFollowsTheDigitsOfTheName) {
    CTestDesktop desktop;
    TestApp();
    TempDir dir;
    const fs::path src = dir.Path() / "src";
    WriteFlatBmp(src / "a.bmp", 8, 8, 50);
    const fs::path out = dir.Path() / "out";
    WriteFlatBmp(out / "a000012.bmp", 2, 2, 0);
    struct Case {
        const char* target;
        bool bNumber;
        const char* used;
    } kCases[] = {
        {"a12.bmp", true, "a000013.bmp"},  // a000012.bmp is taken
        {"a13.bmp", true, "a000014.bmp"},  // a000013.bmp now too
        {"plain.bmp", false, "plain.bmp"},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.target);
        CMergeImagePage page(desktop);
        CMergeParams params;
        params.m_strSrcDir = src.string();
        params.m_strTargetFile = (out / c.target).string();
        params.m_bExtra800 = params.m_bExtra1024 = false;
        params.m_bDelSrc = false;
        params.m_bAutoNumber = c.bNumber;
        page.SetParams(params);
        page.RefreshControls();
        CSummaryRecorder summaries(desktop);
        StartWith(page);
        EXPECT_EQ(summaries.m_headlines, std::vector<std::string>{kMergeDone});
        EXPECT_EQ(page.TargetPath()->text(), Q(out / c.used));
        EXPECT_TRUE(fs::exists(out / c.used));
    }
}

TEST(MergeImagePage, NothingReadableIsAFailedMerge) {
    CTestDesktop desktop;
    TestApp();
    TempDir dir;
    const fs::path src = dir.Path() / "src";
    jobs_test::WriteText(src / "broken.bmp", "BM but not an image");
    CMergeImagePage page(desktop);
    SetMerge(page, src.string(), (dir.Path() / "avg.bmp").string());
    CSummaryRecorder summaries(desktop);
    StartWith(page);
    EXPECT_EQ(summaries.m_headlines, std::vector<std::string>{kMergeFailed});
    EXPECT_EQ(summaries.m_summaries[0].m_nSkipped, 1);
    EXPECT_TRUE(fs::exists(src / "broken.bmp"));
    EXPECT_EQ(CountFiles(dir.Path()), 1);  // only src: no result
}

// A target that cannot be written is refused before any source is read: the user is told the
// path and the reason, no file is started, the sources stay.
TEST(JobPages, UnwritableTargetIsRefusedBeforeAnySourceIsRead) {
    CTestDesktop desktop;
    TestApp();
    TempDir dir;
    const fs::path src = dir.Path() / "src";
    WriteBmps(src, 2, 6, 4);
    const fs::path notAFolder = dir.Path() / "file.txt";
    jobs_test::WriteText(notAFolder, "a file where a folder should be");

    for (const bool bMerge : {true, false}) {
        SCOPED_TRACE(bMerge);
        CMergeImagePage merge(desktop);
        CScaleImagePage scale(desktop);
        CJobPageWidget* page = &merge;
        std::string failedPath;
        if (bMerge) {
            failedPath = (notAFolder / "avg.bmp").string();
            CMergeParams params;
            params.m_strSrcDir = src.string();
            params.m_strTargetFile = failedPath;
            params.m_bAutoNumber = false;
            merge.SetParams(params);
            merge.RefreshControls();
        } else {
            failedPath = (notAFolder / "out").string();
            SetScale(scale, src.string(), failedPath);
            page = &scale;
        }
        CTestDesktop& messages = desktop.StartRecording();
        CSummaryRecorder summaries(desktop);
        int nStarted = 0;
        StartWith(*page, [&](const QString&, int, int) { ++nStarted; });
        EXPECT_EQ(nStarted, 0);
        EXPECT_TRUE(summaries.m_summaries.empty());
        ASSERT_EQ(messages.m_texts.size(), 1u);
        const std::string& text = messages.m_texts[0];
        EXPECT_EQ(text.rfind(kTargetRefused, 0), 0u) << text;
        EXPECT_NE(text.find(failedPath), std::string::npos) << text;
        EXPECT_EQ(messages.m_icons[0], QMessageBox::Warning);
        EXPECT_TRUE(fs::exists(src / "f00.bmp"));
        EXPECT_TRUE(fs::exists(src / "f01.bmp"));
        EXPECT_FALSE(page->IsBusy());
        EXPECT_TRUE(page->SourceSelectButton()->isEnabled());
    }
}

TEST(ScaleImagePage, EnlargesEveryFileIntoTheTargetFolder) {
    CTestDesktop desktop;
    TestApp();
    TempDir dir;
    const fs::path src = dir.Path() / "src";
    WriteBmps(src, 3, 32, 24);
    const fs::path out = dir.Path() / "out";
    fs::create_directories(out);
    struct Case {
        int nScale;
        int width, height;
    } kCases[] = {{0, 64, 48}, {1, 96, 72}, {3, 800, 600}};
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.nScale);
        CScaleImagePage page(desktop);
        SetScale(page, src.string(), out.string(), 1, c.nScale, false);
        CSummaryRecorder summaries(desktop);
        StartWith(page);
        EXPECT_EQ(summaries.m_headlines, std::vector<std::string>{kScaleDone});
        for (const char* name : {"f00.bmp", "f01.bmp", "f02.bmp"}) {
            CDibImage image;
            LoadOrFail(out / name, image);
            EXPECT_EQ(image.m_nWidth, c.width);
            EXPECT_EQ(image.m_nHeight, c.height);
        }
        EXPECT_TRUE(fs::exists(src / "f00.bmp"));
    }
}

// During a job: Start reads "停止" and stays usable, the page's other controls are locked,
// texts and progress stay as they are, the quality follows the source type; the wait cursor
// shows. After it, everything is back.
TEST(JobPages, ControlsDuringAJob) {
    CTestDesktop desktop;
    TestApp();
    TempDir dir;
    const fs::path bmps = dir.Path() / "bmps";
    WriteBmps(bmps, 3, 8, 8);
    const fs::path jpegs = dir.Path() / "jpegs";
    for (const char* name : {"a.jpg", "b.jpg"}) {
        CDibImage image;
        ASSERT_TRUE(image.Create(8, 8, 24));
        std::string why;
        fs::create_directories(jpegs);
        {
            const CStatus saved = SaveImageFile((jpegs / name).string(), image, 90);
            ASSERT_TRUE(saved) << saved.Reason();
        }
    }
    for (const bool bMerge : {true, false}) {
        for (const int nSrcFile : {0, 1}) {
            SCOPED_TRACE(std::to_string(bMerge) + " " + std::to_string(nSrcFile));
            const fs::path src = nSrcFile == 0 ? jpegs : bmps;
            const fs::path out =
                dir.Path() / ("out" + std::to_string(bMerge) + std::to_string(nSrcFile));
            fs::create_directories(out);
            CMergeImagePage merge(desktop);
            CScaleImagePage scale(desktop);
            CJobPageWidget* page = &merge;
            if (bMerge) {
                SetMerge(merge, src.string(), (out / "avg.bmp").string(), nSrcFile, false, false);
            } else {
                SetScale(scale, src.string(), out.string(), nSrcFile, 0, false);
                page = &scale;
            }
            std::vector<QWidget*> locked = {
                page->SourceSelectButton(), page->SourceViewButton(),   page->SourceTypeList(),
                page->DeleteSourcesCheck(), page->TargetSelectButton(), page->TargetViewButton(),
                page->SaveButton(),         page->LoadButton(),         page->ResetButton()};
            if (bMerge) {
                locked.insert(locked.end(), {merge.AutoNumberCheck(), merge.Resize800Check(),
                                             merge.Resize1024Check()});
            } else {
                locked.push_back(scale.SizeList());
            }
            const std::vector<QWidget*> untouched = {page->SourcePath(), page->TargetPath(),
                                                     page->StatusPath(), page->Progress()};
            CTestDesktop& messages = desktop.StartRecording();
            CSummaryRecorder summaries(desktop);
            int nSeen = 0;
            StartWith(*page, [&](const QString&, int, int) {
                ++nSeen;
                EXPECT_TRUE(page->IsBusy());
                EXPECT_EQ(page->StartButton()->text(), QString::fromUtf8("停止"));
                EXPECT_TRUE(page->StartButton()->isEnabled());
                for (std::size_t i = 0; i < locked.size(); ++i) {
                    EXPECT_FALSE(locked[i]->isEnabled()) << "locked " << i;
                }
                for (QWidget* widget : untouched) {
                    EXPECT_TRUE(widget->isEnabled());
                }
                EXPECT_EQ(page->QualitySpin()->isEnabled(), nSrcFile == 0);
                EXPECT_EQ(page->QualityLabel()->isEnabled(), nSrcFile == 0);
                const QCursor* cursor = QGuiApplication::overrideCursor();
                EXPECT_TRUE(cursor != nullptr && cursor->shape() == Qt::WaitCursor);
            });
            EXPECT_EQ(nSeen, nSrcFile == 0 ? 2 : 3);
            EXPECT_TRUE(messages.m_texts.empty());
            EXPECT_EQ(summaries.m_summaries.size(), 1u);
            EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
            EXPECT_EQ(page->StartButton()->text(), QString::fromUtf8("开始"));
            for (QWidget* widget : locked) {
                EXPECT_TRUE(widget->isEnabled());
            }
            EXPECT_EQ(page->QualitySpin()->isEnabled(), nSrcFile == 0);
        }
    }
}

// Stop pressed while file k is handled: the files before it count, the next is not loaded.
TEST(JobPages, StopDuringAJob) {
    CTestDesktop desktop;
    TestApp();
    struct Case {
        bool bMerge;
        int nFiles;
        int nStopAt;  // Stop is pressed when this file starts
        std::string message;
        int nOutputs;  // files in the target folder afterwards
    } kCases[] = {
        {true, 10, 4, kMergeDone, 0},    // three added, nothing written on a stop
        {true, 10, 1, kMergeFailed, 0},  // stopped before any image was added
        {false, 8, 4, kScaleDone, 3},    // files written stay written
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(std::to_string(c.bMerge) + " " + std::to_string(c.nStopAt));
        TempDir dir;
        const fs::path src = dir.Path() / "src";
        const fs::path out = dir.Path() / "out";
        fs::create_directories(out);
        WriteBmps(src, c.nFiles, 8, 8);
        CMergeImagePage merge(desktop);
        CScaleImagePage scale(desktop);
        CJobPageWidget* page = &merge;
        if (c.bMerge) {
            SetMerge(merge, src.string(), (out / "avg.bmp").string());
        } else {
            SetScale(scale, src.string(), out.string());
            page = &scale;
        }
        CSummaryRecorder summaries(desktop);
        int nStarted = 0;
        StartWith(*page, [&](const QString&, int nFile, int) {
            nStarted = nFile;
            if (nFile == c.nStopAt) {
                page->StartButton()->click();  // reads "停止"
                EXPECT_TRUE(page->IsStopRequested());
            }
        });
        EXPECT_EQ(nStarted, c.nStopAt);
        EXPECT_EQ(summaries.m_headlines, std::vector<std::string>{c.message});
        EXPECT_EQ(CountFiles(out), c.nOutputs);
        // Sources of outputs went to the trash; the others stay.
        EXPECT_EQ(CountFiles(src), c.nFiles - c.nOutputs);
        EXPECT_FALSE(page->IsBusy());
        EXPECT_FALSE(page->IsStopRequested());
        EXPECT_EQ(page->StartButton()->text(), QString::fromUtf8("开始"));
    }
}

// The averaging result takes the quality shown when it is written, also one changed during the
// job: three copies of one image average to that image, so the output must be that image
// written at the changed quality.
TEST(MergeImagePage, QualityChangedDuringTheJobIsUsed) {
    CTestDesktop desktop;
    TestApp();
    TempDir dir;
    const fs::path src = dir.Path() / "src";
    fs::create_directories(src);
    CDibImage pattern;
    ASSERT_TRUE(pattern.Create(24, 16, 24));
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 24 * 3; ++x) {
            pattern.TopRow(y)[x] = std::uint8_t((x * 7 + y * 13) % 256);
        }
    }
    std::string why;
    {
        const CStatus saved = SaveImageFile((src / "a.jpg").string(), pattern, 90);
        ASSERT_TRUE(saved) << saved.Reason();
    }
    fs::copy_file(src / "a.jpg", src / "b.jpg");
    fs::copy_file(src / "a.jpg", src / "c.jpg");
    CDibImage decoded;
    LoadOrFail(src / "a.jpg", decoded);
    const std::string expected = (dir.Path() / "expected.jpg").string();
    {
        const CStatus saved = SaveImageFile(expected, decoded, 40);
        ASSERT_TRUE(saved) << saved.Reason();
    }

    CMergeImagePage page(desktop);
    const fs::path target = dir.Path() / "avg.jpg";
    SetMerge(page, src.string(), target.string(), 0, false, false);
    page.AutoNumberCheck()->setChecked(false);
    CSummaryRecorder summaries(desktop);
    StartWith(page, [&](const QString&, int nFile, int) {
        if (nFile == 2) {
            page.QualitySpin()->setValue(40);
        }
    });
    EXPECT_EQ(summaries.m_headlines, std::vector<std::string>{kMergeDone});
    EXPECT_EQ(jobs_test::ReadText(target), jobs_test::ReadText(expected));
}

// The averaging page's target is a file: the save dialog starts in the target's folder with its
// name, and a name typed without extension takes the one of the chosen filter.
TEST(MergeImagePage, TargetDialogTakesTheChosenFile) {
    CTestDesktop desktop;
    TestApp();
    TempDir dir;
    CMergeImagePage page(desktop);
    SetMerge(page, "", dir.File("avg.bmp"));
    struct Case {
        QString filter;  // in the page's language
        const char* typed;
        const char* chosen;
    } kCases[] = {
        {JpegFilesFilter(), "night", "night.jpg"},
        {BmpFilesFilter(), "day", "day.bmp"},
        {BmpFilesFilter(), "dusk.jpg", "dusk.jpg"},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.typed);
        QString startFolder;
        QString startName;
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            startFolder = dialog->directory().absolutePath();
            // The filter first, as the user picks it: choosing one in a save dialog changes the
            // typed extension.
            auto* types = dialog->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
            ASSERT_NE(types, nullptr);
            const int index = types->findText(c.filter);
            ASSERT_GE(index, 0);
            types->setCurrentIndex(index);
            emit types->activated(index);
            emit types->textActivated(types->itemText(index));
            if (auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))) {
                startName = QFileInfo(name->text()).completeBaseName();
                name->setText(QString::fromLatin1(c.typed));
            }
            QMetaObject::invokeMethod(dialog, "accept");
        });
        const QString before = page.TargetPath()->text();
        page.TargetSelectButton()->click();
        EXPECT_EQ(startFolder.toStdString(), dir.Path().string());
        EXPECT_EQ(startName.toStdString(), QFileInfo(before).completeBaseName().toStdString());
        EXPECT_EQ(page.TargetPath()->text().toStdString(), (dir.Path() / c.chosen).string());
    }
}

// A job started on the other page from inside the pump runs to its end before the first one
// goes on.
TEST(JobPages, AJobStartedDuringAnotherRunsToItsEndFirst) {
    CTestDesktop desktop;
    TestApp();
    TempDir dir;
    const fs::path mergeSrc = dir.Path() / "merge";
    const fs::path scaleSrc = dir.Path() / "scale";
    WriteBmps(mergeSrc, 3, 8, 8);
    WriteBmps(scaleSrc, 2, 8, 8);
    const fs::path out = dir.Path() / "out";
    fs::create_directories(out);
    CMergeImagePage merge(desktop);
    CScaleImagePage scale(desktop);
    SetMerge(merge, mergeSrc.string(), (out / "avg.bmp").string(), 1, false, false);
    SetScale(scale, scaleSrc.string(), (out / "big").string(), 1, 0, false);
    std::vector<std::string> events;
    QObject::connect(&scale, &CJobPageWidget::JobFileStarted, [&](const QString&, int n, int) {
        events.push_back("scale " + std::to_string(n));
    });
    CSummaryRecorder summaries(desktop);
    StartWith(merge, [&](const QString&, int n, int) {
        events.push_back("merge " + std::to_string(n));
        if (n == 2) {
            QTimer::singleShot(0, [&] { scale.StartButton()->click(); });
        }
    });
    EXPECT_EQ(events,
              (std::vector<std::string>{"merge 1", "merge 2", "scale 1", "scale 2", "merge 3"}));
    EXPECT_EQ(summaries.m_headlines, (std::vector<std::string>{kScaleDone, kMergeDone}));
    EXPECT_EQ(CountFiles(out / "big"), 2);
    EXPECT_FALSE(merge.IsBusy());
    EXPECT_FALSE(scale.IsBusy());
}

// Closing the window during a job asks first, then stops the job; the sheet closes once it has
// ended, without a "finished" message over the closed window.
TEST(JobPages, ClosingTheWindowEndsTheJobFirst) {
    CTestDesktop desktop;
    TestApp();
    TempDir dir;
    const fs::path src = dir.Path() / "src";
    WriteBmps(src, 6, 8, 8);
    const fs::path out = dir.Path() / "out";
    fs::create_directories(out);
    CMainSheet sheet(desktop);
    auto* page = new CMergeImagePage(desktop);
    sheet.ReplacePage(3, page);
    SetMerge(*page, src.string(), (out / "avg.bmp").string());
    CTestDesktop& messages = desktop.StartRecording();
    CSummaryRecorder summaries(desktop);
    int nStarted = 0;
    bool bBusyAtClose = false;
    QObject::connect(page, &CJobPageWidget::JobFileStarted, page, [&](const QString&, int n, int) {
        nStarted = n;
        if (n == 2) {
            sheet.CloseButton()->click();
            bBusyAtClose = sheet.isVisible() && page->IsBusy();
        }
    });
    QTimer::singleShot(0, page, [page] { page->StartButton()->click(); });
    QTimer::singleShot(10000, &sheet, [&] { sheet.QDialog::done(99); });  // never hang
    const int result = sheet.exec();
    EXPECT_EQ(result, QDialog::Rejected);
    EXPECT_TRUE(bBusyAtClose);
    EXPECT_EQ(nStarted, 2);
    EXPECT_FALSE(page->IsBusy());
    // The one message is the question before closing, answered Yes.
    ASSERT_EQ(messages.m_texts.size(), 1u);
    EXPECT_NE(messages.m_texts[0].find("确定要停止并退出吗"), std::string::npos);
    EXPECT_TRUE(summaries.m_summaries.empty());
    EXPECT_EQ(CountFiles(out), 0);
    EXPECT_EQ(CountFiles(src), 6);
}

// A page destroyed inside the message pump of its own job: the job ends and nothing of the
// page is touched afterwards (no message over it, no crash).
TEST(JobPages, PageDestroyedDuringItsJob) {
    CTestDesktop desktop;
    TestApp();
    TempDir dir;
    const fs::path src = dir.Path() / "src";
    WriteBmps(src, 5, 8, 8);
    const fs::path out = dir.Path() / "out";
    fs::create_directories(out);
    for (const bool bMerge : {true, false}) {
        SCOPED_TRACE(bMerge);
        CJobPageWidget* page = nullptr;
        if (bMerge) {
            auto* merge = new CMergeImagePage(desktop);
            SetMerge(*merge, src.string(), (out / "avg.bmp").string(), 1, false, false);
            page = merge;
        } else {
            auto* scale = new CScaleImagePage(desktop);
            SetScale(*scale, src.string(), out.string(), 1, 0, false);
            page = scale;
        }
        QPointer<CJobPageWidget> guard(page);
        CTestDesktop& messages = desktop.StartRecording();
        CSummaryRecorder summaries(desktop);
        int nStarted = 0;
        QObject::connect(page, &CJobPageWidget::JobFileStarted, [&](const QString&, int n, int) {
            nStarted = n;
            if (n == 2) {
                QTimer::singleShot(0, [page] { delete page; });
            }
        });
        page->StartButton()->click();
        EXPECT_TRUE(guard.isNull());
        EXPECT_EQ(nStarted, 2);
        EXPECT_TRUE(messages.m_texts.empty());
        EXPECT_TRUE(summaries.m_summaries.empty());
        // Enlarging wrote the first file before the page went.
        EXPECT_EQ(CountFiles(out), bMerge ? 0 : 1);
        fs::remove_all(out);
        fs::create_directories(out);
    }
}

// Save, Reset, Load on both pages through the buttons, on a settings file of the test's own.
TEST(JobPages, SettingsButtonsRoundTrip) {
    CTestDesktop desktop;
    TestApp();
    TempDir dir;
    const CRunContext context = SettingsIn(dir.File("tarnwick.ini"));
    CTestDesktop& messages = desktop.StartRecording();

    CMergeImagePage merge(desktop, context);
    merge.SourcePath()->setText(QStringLiteral("/grabs/still"));
    merge.TargetPath()->setText(QStringLiteral("/grabs/avg.jpg"));
    merge.SourceTypeList()->setCurrentIndex(0);
    merge.QualitySpin()->setValue(42);
    merge.DeleteSourcesCheck()->setChecked(false);
    merge.AutoNumberCheck()->setChecked(false);
    merge.Resize800Check()->setChecked(false);
    merge.SaveButton()->click();
    merge.TakeControlValues();
    const CMergeParams savedMerge = merge.Params();
    EXPECT_NE(savedMerge, CMergeParams{});

    CScaleImagePage scale(desktop, context);
    scale.SourcePath()->setText(QStringLiteral("/grabs/small"));
    scale.TargetPath()->setText(QStringLiteral("/grabs/big"));
    scale.SourceTypeList()->setCurrentIndex(0);
    scale.QualitySpin()->setValue(77);
    scale.SizeList()->setCurrentIndex(4);
    scale.DeleteSourcesCheck()->setChecked(false);
    scale.SaveButton()->click();
    scale.TakeControlValues();
    const CScaleParams savedScale = scale.Params();
    EXPECT_NE(savedScale, CScaleParams{});

    merge.ResetButton()->click();
    scale.ResetButton()->click();
    merge.TakeControlValues();
    scale.TakeControlValues();
    EXPECT_EQ(merge.Params(), CMergeParams{});
    EXPECT_EQ(scale.Params(), CScaleParams{});
    EXPECT_EQ(merge.QualitySpin()->value(), 95);
    EXPECT_TRUE(merge.TargetPath()->text().isEmpty());

    merge.LoadButton()->click();
    scale.LoadButton()->click();
    merge.TakeControlValues();
    scale.TakeControlValues();
    EXPECT_EQ(merge.Params(), savedMerge);
    EXPECT_EQ(scale.Params(), savedScale);
    EXPECT_EQ(merge.TargetPath()->text(), QStringLiteral("/grabs/avg.jpg"));
    EXPECT_EQ(scale.SizeList()->currentText(), QStringLiteral("1024x768"));
    EXPECT_TRUE(scale.QualitySpin()->isEnabled());  // "*.jpg" loaded
    EXPECT_TRUE(messages.m_texts.empty());

    // Without a settings file Load gives the defaults.
    merge.SetRunContext(SettingsIn(dir.File("missing.ini")));
    merge.LoadButton()->click();
    merge.TakeControlValues();
    EXPECT_EQ(merge.Params(), CMergeParams{});
}

// Values beyond the lists leave them without a selection; Start then refuses before any file
// is touched.
TEST(JobPages, OutOfRangeListValuesRefuseToStart) {
    CTestDesktop desktop;
    TestApp();
    TempDir dir;
    const fs::path src = dir.Path() / "src";
    WriteBmps(src, 2, 4, 4);
    const CRunContext context = SettingsIn(dir.File("tarnwick.ini"));
    jobs_test::WriteText(context.m_strSettingsFile,
                         "[MergeImage]\nSrcDir=" + src.string() +
                             "\nTgtDir=" + dir.File("avg.bmp") + "\nSrcFile=5\n[ScaleImage]\n" +
                             "SrcDir=" + src.string() + "\nTgtDir=" + dir.File("out") +
                             "\nScale=9\n");
    CTestDesktop& messages = desktop.StartRecording();
    CMergeImagePage merge(desktop, context);
    merge.LoadButton()->click();
    EXPECT_EQ(merge.SourceTypeList()->currentIndex(), -1);
    merge.StartButton()->click();
    CScaleImagePage scale(desktop, context);
    scale.LoadButton()->click();
    EXPECT_EQ(scale.SourceTypeList()->currentIndex(), 1);
    EXPECT_EQ(scale.SizeList()->currentIndex(), -1);
    scale.StartButton()->click();
    EXPECT_EQ(messages.m_texts, (std::vector<std::string>{kNoFiles, "请先选择放大倍率。"}));
    EXPECT_EQ(CountFiles(src), 2);
    EXPECT_FALSE(fs::exists(dir.Path() / "out"));
}

TEST(JobPages, AFailedSaveIsReported) {
    CTestDesktop desktop;
    TestApp();
    TempDir dir;
    jobs_test::WriteText(dir.Path() / "file.txt", "not a folder");
    const CRunContext context = SettingsIn((dir.Path() / "file.txt" / "tarnwick.ini").string());
    CTestDesktop& messages = desktop.StartRecording();
    CScaleImagePage page(desktop, context);
    page.SaveButton()->click();
    ASSERT_EQ(messages.m_texts.size(), 1u);
    EXPECT_NE(messages.m_texts[0].find((dir.Path() / "file.txt").string()), std::string::npos)
        << messages.m_texts[0];
    EXPECT_EQ(messages.m_icons[0], QMessageBox::Warning);
}

// A settings file that cannot be read is reported with its name in the page's language, the
// window goes on at once (a FIFO never blocks it; this test runs under a TIMEOUT) and the page
// keeps what it shows.
TEST(JobPages, AFailedLoadIsReportedAndKeepsThePage) {
    CTestDesktop desktop;
    TestApp();
    TempDir dir;
    const std::string fifo = dir.File("fifo.ini"), folder = dir.File("folder.ini");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    fs::create_directories(folder);
    const struct {
        const char* m_szLocale;
        std::string m_strStart;
    } kLanguages[] = {{"zh_CN", "无法调入设置：\n"}, {"en_US", "Could not load the settings:\n"}};
    for (const auto& language : kLanguages) {
        CLanguageScope scope(language.m_szLocale);
        for (const std::string& ini : {fifo, folder}) {
            SCOPED_TRACE(std::string(language.m_szLocale) + " " + ini);
            const CRunContext context = SettingsIn(ini);
            CTestDesktop& messages = desktop.StartRecording();
            CScaleImagePage page(desktop, context);
            page.SourcePath()->setText(QStringLiteral("/grabs/small"));
            page.QualitySpin()->setValue(77);
            page.LoadButton()->click();
            ASSERT_EQ(messages.m_texts.size(), 1u);
            const std::string& text = messages.m_texts[0];
            EXPECT_EQ(text.rfind(language.m_strStart + ini + ": ", 0), 0u) << text;
            EXPECT_EQ(messages.m_icons[0], QMessageBox::Warning);
            EXPECT_EQ(page.SourcePath()->text(), QStringLiteral("/grabs/small"));
            EXPECT_EQ(page.QualitySpin()->value(), 77);
        }
    }
}

TEST(JobPages, SelectButtonsTakeTheChosenFolder) {
    CTestDesktop desktop;
    TestApp();
    TempDir dir;
    const fs::path chosen = dir.Path() / "chosen";
    fs::create_directories(chosen);
    CScaleImagePage page(desktop);
    for (QPushButton* button : {page.SourceSelectButton(), page.TargetSelectButton()}) {
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<CSelectFolderDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            dialog->PathEdit()->setText(Q(chosen));
            dialog->accept();
        });
        button->click();
    }
    EXPECT_EQ(page.SourcePath()->text(), Q(chosen));
    EXPECT_EQ(page.TargetPath()->text(), Q(chosen));
}

// The end summary against the disk: what it counts as written, moved to the trash, skipped and
// failed is what the folders hold afterwards, and its details name every file left behind with
// its reason. During the job the progress reads "k/N"; afterwards it is empty again.
TEST(JobPages, SummaryCountsEqualTheFilesOnDisk) {
    CTestDesktop desktop;
    TestApp();
    struct Case {
        const char* name;
        bool bMerge;
        int nGood;          // readable sources
        int nBroken;        // unreadable sources (skipped, left in place)
        bool bBlockSecond;  // enlarging: a file takes the second output's name meanwhile
        bool bDelSrc;
        int nUnused;  // averaging: read past the 255th, not averaged
    } kCases[] = {
        {"average", true, 3, 1, false, true, 0},
        {"average past 255", true, 257, 0, false, false, 2},
        {"enlarge", false, 4, 2, false, true, 0},
        {"enlarge with a blocked output", false, 3, 1, true, true, 0},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const fs::path src = dir.Path() / "src";
        const fs::path out = dir.Path() / "out";
        WriteBmps(src, c.nGood, 4, 3);
        for (int i = 0; i < c.nBroken; ++i) {
            jobs_test::WriteText(src / ("z" + std::to_string(i) + ".bmp"), "no image");
        }
        fs::create_directories(out);
        const int nTrashBefore = CountFiles(TrashFiles());
        const int nSources = c.nGood + c.nBroken;

        CMergeImagePage merge(desktop);
        CScaleImagePage scale(desktop);
        CJobPageWidget* page = &merge;
        if (c.bMerge) {
            SetMerge(merge, src.string(), (out / "avg.bmp").string(), 1, false, c.bDelSrc);
        } else {
            SetScale(scale, src.string(), out.string(), 1, 0, c.bDelSrc);
            page = &scale;
        }
        CSummaryRecorder summaries(desktop);
        std::vector<std::string> progress;
        StartWith(*page, [&](const QString&, int, int) {
            progress.push_back(page->ProgressText()->text().toStdString());
            if (c.bBlockSecond && progress.size() == 2) {
                jobs_test::WriteText(out / "f01.bmp", "appeared");
            }
        });
        const int nTotal = c.bMerge ? std::min(nSources, 255) : nSources;
        ASSERT_EQ(int(progress.size()), nSources);
        for (int i = 0; i < 2; ++i) {
            const std::string expected = std::to_string(i + 1) + "/" + std::to_string(nTotal);
            EXPECT_EQ(progress[i].rfind(expected, 0), 0u) << progress[i];
        }
        // The time left shows once three files are done (these take well under 2 s a file).
        EXPECT_EQ(progress[1].find("剩余约"), std::string::npos) << progress[1];
        EXPECT_NE(progress[3].find("剩余约"), std::string::npos) << progress[3];
        EXPECT_TRUE(page->ProgressText()->text().isEmpty());
        EXPECT_TRUE(page->StatusPath()->text().isEmpty());
        EXPECT_EQ(page->Progress()->value(), 0);

        ASSERT_EQ(summaries.m_summaries.size(), 1u);
        const CJobSummary& summary = summaries.m_summaries[0];
        int nOutputs = 0;
        for (const auto& entry : fs::directory_iterator(out)) {
            nOutputs += entry.is_regular_file() ? 1 : 0;
        }
        nOutputs -= c.bBlockSecond ? 1 : 0;  // the file that took the name
        EXPECT_EQ(summary.m_nWritten, nOutputs);
        EXPECT_EQ(summary.m_nTrashed, CountFiles(TrashFiles()) - nTrashBefore);
        EXPECT_EQ(CountFiles(src), nSources - summary.m_nTrashed);
        EXPECT_EQ(summary.m_nSkipped, c.nBroken + c.nUnused);
        EXPECT_EQ(summary.m_nFailed, c.bBlockSecond ? 1 : 0);
        EXPECT_EQ(summary.m_bWarning, c.bBlockSecond);
        // Every skipped or failed file is listed with a reason; the skipped ones are still there.
        ASSERT_EQ(int(summary.m_problems.size()), summary.m_nSkipped + summary.m_nFailed);
        for (const CJobSummary::CProblem& problem : summary.m_problems) {
            EXPECT_FALSE(problem.m_strReason.isEmpty()) << problem.m_strPath.toStdString();
            if (!problem.m_bFailed) {
                EXPECT_TRUE(fs::exists(problem.m_strPath.toStdString()))
                    << problem.m_strPath.toStdString();
            }
        }
        const std::string text = summary.Text().toStdString();
        EXPECT_NE(text.find("写入 " + std::to_string(nOutputs) + " 个文件"), std::string::npos)
            << text;

        // The window: the details, the button that opens the result in the program's viewer
        // (and from there in the desktop's) and the one that opens its folder.
        CJobSummaryDialog dialog(summary, desktop);
        EXPECT_EQ(dialog.Details()->topLevelItemCount(), int(summary.m_problems.size()));
        EXPECT_EQ(dialog.Details()->isVisibleTo(&dialog), !summary.m_problems.empty());
        desktop.m_urls.clear();
        dialog.ResultButton()->click();
        const QList<CImageViewer*> viewers = dialog.findChildren<CImageViewer*>();
        ASSERT_EQ(viewers.size(), 1);
        viewers[0]->OpenExternalAction()->trigger();
        dialog.FolderButton()->click();
        const std::vector<std::string> opened = OpenedFiles(desktop);
        ASSERT_EQ(opened.size(), 2u);
        EXPECT_EQ(opened[0], viewers[0]->Path().toStdString());
        EXPECT_TRUE(fs::is_regular_file(opened[0])) << opened[0];
        EXPECT_EQ(fs::path(opened[0]).parent_path(), out);
        EXPECT_EQ(fs::path(opened[1]), out);

        // With nothing to open them, each says so and names what it could not open.
        CTestDesktop& messages = desktop.StartRecording();
        desktop.m_bOpens = false;
        viewers[0]->OpenExternalAction()->trigger();
        dialog.FolderButton()->click();
        desktop.m_bOpens = true;
        ASSERT_EQ(messages.m_texts.size(), 2u);
        EXPECT_NE(messages.m_texts[0].find(opened[0]), std::string::npos);
        EXPECT_NE(messages.m_texts[1].find(out.string()), std::string::npos);
        EXPECT_NE(messages.m_texts[0], messages.m_texts[1]);
        viewers[0]->close();
    }
}

// Choosing a source folder shows how many files of each type it holds; the message when none
// matches names the type looked for.
TEST(JobPages, SourceCountsShownWhenAFolderIsChosen) {
    CTestDesktop desktop;
    TestApp();
    TempDir dir;
    const fs::path mixed = dir.Path() / "mixed";
    WriteBmps(mixed, 2, 2, 2);
    for (const char* name : {"a.jpg", "b.jpg", "c.jpg"}) {
        jobs_test::WriteText(mixed / name, "only counted");
    }
    jobs_test::WriteText(mixed / "notes.txt", "neither");
    const fs::path jpegs = dir.Path() / "jpegs";
    jobs_test::WriteText(jpegs / "x.jpg", "only counted");
    const fs::path empty = dir.Path() / "empty";
    fs::create_directories(empty);
    struct Case {
        fs::path folder;
        std::string counts;
    } kCases[] = {
        {mixed, "3 个 JPG，2 个 BMP"},
        {jpegs, "1 个 JPG，0 个 BMP"},
        {empty, "0 个 JPG，0 个 BMP"},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.folder);
        CMergeImagePage merge(desktop);
        CScaleImagePage scale(desktop);
        for (CJobPageWidget* page : std::initializer_list<CJobPageWidget*>{&merge, &scale}) {
            QTimer::singleShot(0, [&] {
                auto* dialog =
                    qobject_cast<CSelectFolderDialog*>(QApplication::activeModalWidget());
                ASSERT_NE(dialog, nullptr);
                dialog->PathEdit()->setText(Q(c.folder));
                dialog->accept();
            });
            page->SourceSelectButton()->click();
            EXPECT_EQ(page->SourceCounts()->text().toStdString(), c.counts);
        }
    }
    // "*.bmp" chosen on a folder of JPEG files: the message says which type is missing.
    CScaleImagePage page(desktop);
    SetScale(page, jpegs.string(), (dir.Path() / "out").string());
    EXPECT_EQ(page.SourceCounts()->text().toStdString(), "1 个 JPG，0 个 BMP");
    CTestDesktop& messages = desktop.StartRecording();
    page.StartButton()->click();
    EXPECT_EQ(messages.m_texts, std::vector<std::string>{kNoBmpFiles});
}

// The quality field is usable whenever JPEG is written: on the averaging page for "*.jpg"
// sources or a target that is not BMP, on the enlarging page for "*.jpg" sources only. A
// disabled field says why.
TEST(JobPages, QualityFollowsTheOutputType) {
    CTestDesktop desktop;
    TestApp();
    struct Case {
        bool bMerge;
        int nSrcFile;
        const char* target;
        bool bEnabled;
    } kCases[] = {
        {true, 0, "", true},
        {true, 1, "", false},
        {true, 1, "/a/avg.jpg", true},
        {true, 1, "/a/avg.JPEG", true},
        {true, 1, "/a/avg.bmp", false},
        {true, 1, "/a/avg.DIB", false},
        {true, 0, "/a/avg.bmp", true},
        {false, 0, "/a/out", true},
        {false, 1, "/a/out.jpg", false},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(std::string(c.bMerge ? "average " : "enlarge ") + std::to_string(c.nSrcFile) +
                     " " + c.target);
        CMergeImagePage merge(desktop);
        CScaleImagePage scale(desktop);
        CJobPageWidget* page = &merge;
        if (c.bMerge) {
            SetMerge(merge, "", c.target, c.nSrcFile);
        } else {
            SetScale(scale, "", c.target, c.nSrcFile);
            page = &scale;
        }
        EXPECT_EQ(page->QualitySpin()->isEnabled(), c.bEnabled);
        EXPECT_EQ(page->QualityLabel()->isEnabled(), c.bEnabled);
        EXPECT_EQ(page->QualitySpin()->toolTip().isEmpty(), c.bEnabled);
    }
    // A target chosen later changes it at once.
    CMergeImagePage merge(desktop);
    SetMerge(merge, "", "", 1);
    EXPECT_FALSE(merge.QualitySpin()->isEnabled());
    EXPECT_FALSE(merge.StartButton()->toolTip().isEmpty());
    merge.SetTargetPath(QStringLiteral("/a/night.jpg"));
    EXPECT_TRUE(merge.QualitySpin()->isEnabled());
}

// Sends a drag of `urls` onto `field` and drops it there; true when the field took it.
bool DropOn(QWidget* field, const QList<QUrl>& urls) {
    QMimeData mime;
    mime.setUrls(urls);
    const QPoint centre = field->rect().center();
    QDragEnterEvent enter(centre, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(field, &enter);
    if (!enter.isAccepted()) {
        return false;
    }
    QDropEvent drop(QPointF(centre), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(field, &drop);
    return drop.isAccepted();
}

// Folders dropped on the source and target fields set them; a file dropped on the averaging
// target sets the target; anything else is refused and changes nothing.
TEST(JobPages, DroppedFoldersAndFilesSetTheFields) {
    CTestDesktop desktop;
    TestApp();
    TempDir dir;
    const fs::path folder = dir.Path() / "grabs";
    WriteBmps(folder, 2, 2, 2);
    const fs::path file = folder / "f00.bmp";
    const fs::path other = dir.Path() / "other";
    fs::create_directories(other);
    const QUrl folderUrl = QUrl::fromLocalFile(Q(folder) + u'/');  // as file managers send it
    const QUrl fileUrl = QUrl::fromLocalFile(Q(file));
    enum Field { kSource, kTarget };
    struct Case {
        const char* name;
        bool bMerge;
        Field field;
        QList<QUrl> urls;
        bool bTaken;
        QString expected;  // the field afterwards
    };
    const Case kCases[] = {
        {"folder on source", true, kSource, {folderUrl}, true, Q(folder)},
        {"folder on source", false, kSource, {folderUrl}, true, Q(folder)},
        {"folder on target", false, kTarget, {folderUrl}, true, Q(folder)},
        {"file on average target", true, kTarget, {fileUrl}, true, Q(file)},
        {"folder on average target", true, kTarget, {folderUrl}, true, Q(folder / "avg.bmp")},
        {"file on source", true, kSource, {fileUrl}, false, Q(other)},
        {"file on enlarge target", false, kTarget, {fileUrl}, false, Q(other)},
        {"two folders",
         false,
         kSource,
         {folderUrl, QUrl::fromLocalFile(Q(other))},
         false,
         Q(other)},
        {"a web address",
         true,
         kSource,
         {QUrl(QStringLiteral("https://example.org/x"))},
         false,
         Q(other)},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(std::string(c.name) + (c.bMerge ? " (average)" : " (enlarge)"));
        CMergeImagePage merge(desktop);
        CScaleImagePage scale(desktop);
        CJobPageWidget* page = &merge;
        if (c.bMerge) {
            SetMerge(merge, other.string(), (other / "avg.bmp").string());
        } else {
            SetScale(scale, other.string(), other.string());
            page = &scale;
        }
        CPathLabel* field = c.field == kSource ? page->SourcePath() : page->TargetPath();
        const QString before = field->text();
        EXPECT_EQ(DropOn(field, c.urls), c.bTaken);
        const QString expected = c.bTaken ? c.expected : before;
        EXPECT_EQ(field->text(), expected);
        page->TakeControlValues();
        if (c.bTaken && c.field == kSource) {
            EXPECT_EQ(page->SourceCounts()->text().toStdString(), "0 个 JPG，2 个 BMP");
        }
    }
}

// The last folders of each page, the capture folder and the media folder survive a restart:
// a second sheet on the same state file shows them. The two player pages share the capture
// folder; Reset and the settings file keep their meaning.
TEST(RememberedFolders, SurviveARestart) {
    CTestDesktop desktop;
    TestApp();
    TempDir dir;
    const CRunContext context = SettingsIn(dir.File("tarnwick.ini"));
    const fs::path grabs = dir.Path() / "grabs";
    const fs::path big = dir.Path() / "big";
    const fs::path frames = dir.Path() / "frames";
    for (const fs::path& folder : {grabs, big, frames}) {
        fs::create_directories(folder);
    }
    const QString averageTarget = Q(dir.Path() / "avg.jpg");
    {
        CMainSheet sheet(desktop);
        InstallProgramPages(sheet, false, context);
        auto* scale = qobject_cast<CScaleImagePage*>(sheet.Page(2));
        auto* merge = qobject_cast<CMergeImagePage*>(sheet.Page(3));
        auto* rm = qobject_cast<CPlayerPage*>(sheet.Page(0));
        auto* wmp = qobject_cast<CPlayerPage*>(sheet.Page(1));
        ASSERT_TRUE(scale && merge && rm && wmp);
        ASSERT_TRUE(DropOn(scale->SourcePath(), {QUrl::fromLocalFile(Q(grabs))}));
        ASSERT_TRUE(DropOn(scale->TargetPath(), {QUrl::fromLocalFile(Q(big))}));
        merge->SetSourceFolder(Q(grabs));
        merge->SetTargetPath(averageTarget);
        rm->SetFolder(Q(frames));
        EXPECT_EQ(wmp->Folder(), Q(frames));  // shared at once
        desktop.Folders().Set(CRememberedFolders::Media, Q(grabs));
        // Reset empties the fields but forgets nothing.
        merge->ResetButton()->click();
        EXPECT_TRUE(merge->SourcePath()->text().isEmpty());
    }
    EXPECT_TRUE(fs::is_regular_file(desktop.Folders().StateFile().toStdString()));
    EXPECT_FALSE(
        fs::exists(context.m_strSettingsFile));  // the settings file is only written by Save

    // The next run: a desktop of its own over the same state file.
    CTestDesktop nextRun(desktop.Folders().StateFile());
    CMainSheet sheet(nextRun);
    InstallProgramPages(sheet, false, context);
    auto* scale = qobject_cast<CScaleImagePage*>(sheet.Page(2));
    auto* merge = qobject_cast<CMergeImagePage*>(sheet.Page(3));
    EXPECT_EQ(scale->SourcePath()->text(), Q(grabs));
    EXPECT_EQ(scale->TargetPath()->text(), Q(big));
    EXPECT_EQ(merge->SourcePath()->text(), Q(grabs));
    EXPECT_EQ(merge->TargetPath()->text(), averageTarget);
    EXPECT_TRUE(merge->QualitySpin()->isEnabled());  // a ".jpg" target
    EXPECT_EQ(qobject_cast<CPlayerPage*>(sheet.Page(0))->Folder(), Q(frames));
    EXPECT_EQ(qobject_cast<CPlayerPage*>(sheet.Page(1))->Folder(), Q(frames));
    EXPECT_EQ(nextRun.Folders().Get(CRememberedFolders::Media), Q(grabs));

    // Every dialog opens in the folder its field holds.
    QString started;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<CSelectFolderDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        started = dialog->directory().absolutePath();
        dialog->reject();
    });
    scale->TargetSelectButton()->click();
    EXPECT_EQ(QDir::cleanPath(started), Q(big));
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        started = dialog->directory().absolutePath();
        dialog->reject();
    });
    merge->TargetSelectButton()->click();
    EXPECT_EQ(started, Q(dir.Path()));
}

TEST(ViewFolder, OpensTheFirstJpegElseTheFirstBmp) {
    CTestDesktop desktop;
    TestApp();
    TempDir dir;
    const fs::path bmps = dir.Path() / "bmps";
    WriteFlatBmp(bmps / "only.bmp", 2, 2, 0);
    jobs_test::WriteText(bmps / "notes.txt", "not an image");
    const fs::path mixed = dir.Path() / "mixed";
    WriteFlatBmp(mixed / "a.bmp", 2, 2, 0);
    WriteFlatBmp(mixed / "b.bmp", 2, 2, 0);
    jobs_test::WriteText(mixed / "z.jpg", "only opened, never read");
    const fs::path none = dir.Path() / "none";
    jobs_test::WriteText(none / "notes.txt", "not an image");

    CTestDesktop& messages = desktop.StartRecording();
    EXPECT_TRUE(ViewFolder(desktop, Q(bmps), nullptr));
    EXPECT_TRUE(ViewFolder(desktop, Q(mixed), nullptr));
    EXPECT_FALSE(ViewFolder(desktop, Q(none), nullptr));
    EXPECT_EQ(OpenedFiles(desktop),
              (std::vector<std::string>{(bmps / "only.bmp").string(), (mixed / "z.jpg").string()}));
    EXPECT_EQ(messages.m_texts, std::vector<std::string>{kNothingToView});

    // The View buttons: source folders on both pages, the target folder of the enlarging page,
    // the target file itself on the averaging page.
    desktop.m_urls.clear();
    CMergeImagePage merge(desktop);
    SetMerge(merge, bmps.string(), (mixed / "avg.bmp").string());
    merge.SourceViewButton()->click();
    merge.TargetViewButton()->click();
    CScaleImagePage scale(desktop);
    SetScale(scale, mixed.string(), bmps.string());
    scale.SourceViewButton()->click();
    scale.TargetViewButton()->click();
    EXPECT_EQ(OpenedFiles(desktop),
              (std::vector<std::string>{(bmps / "only.bmp").string(), (mixed / "avg.bmp").string(),
                                        (mixed / "z.jpg").string(), (bmps / "only.bmp").string()}));
}

// The settings file and the help page sit beside the program under its name: both paths follow
// one naming rule.
TEST(SettingsPath, BesideTheProgramWithItsExtensionReplaced) {
    TempDir dir;
    const fs::path dotted = dir.Path() / "tools.d";
    fs::create_directories(dotted);
    const struct {
        fs::path program;
        fs::path ini;
    } kCases[] = {
        {dir.Path() / "tarnwick", dir.Path() / "tarnwick.ini"},
        {dir.Path() / "Tarnwick.exe", dir.Path() / "Tarnwick.ini"},
        {dotted / "tarnwick", dotted / "tarnwick.ini"},  // a dot in a folder is no extension
        {dir.Path() / "tar.nwick.bin", dir.Path() / "tar.nwick.ini"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.program);
        EXPECT_EQ(IniPathFor(c.program.string()), c.ini.string());
        EXPECT_EQ(ProgramSiblingPath(Q(c.program), QStringLiteral(".ini")), Q(c.ini));
    }
}

// The method list and the align box: every choice goes into the parameters, is saved, reset and
// loaded with the other settings; a frame that alignment leaves out is named in the summary in
// the page's language and stays where it is.
TEST(MergeImagePage, MethodAndAlignRoundTripAndLeftOutFramesInTheSummary) {
    CTestDesktop desktop;
    TestApp();
    TempDir dir;
    const CRunContext context = SettingsIn(dir.File("tarnwick.ini"));
    CTestDesktop& messages = desktop.StartRecording();
    CMergeImagePage page(desktop, context);
    ASSERT_EQ(page.MethodList()->count(), int(std::size(kStackMethods)));
    for (int i = 0; i < page.MethodList()->count(); ++i) {
        SCOPED_TRACE(i);
        page.MethodList()->setCurrentIndex(i);
        page.AlignCheck()->setChecked(i % 2 == 1);
        page.SaveButton()->click();
        page.TakeControlValues();
        EXPECT_EQ(page.Params().m_method, kStackMethods[i]);
        EXPECT_EQ(page.Params().m_bAlign, i % 2 == 1);
        page.ResetButton()->click();
        EXPECT_EQ(page.MethodList()->currentIndex(), 0);
        EXPECT_FALSE(page.AlignCheck()->isChecked());
        page.LoadButton()->click();
        EXPECT_EQ(page.MethodList()->currentIndex(), i);
        EXPECT_EQ(page.AlignCheck()->isChecked(), i % 2 == 1);
    }
    EXPECT_TRUE(messages.m_texts.empty());

    const struct {
        const char* m_szLocale;
        const char* m_szReasonStart;
    } kLanguages[] = {{"zh_CN", "无法对齐"}, {"en_US", "Cannot align"}};
    for (const auto& language : kLanguages) {
        SCOPED_TRACE(language.m_szLocale);
        CLanguageScope scope(language.m_szLocale);
        TempDir run;
        const fs::path src = run.Path() / "src";
        for (int i = 0; i < 4; ++i) {
            jobs_test::WriteBmp(
                src / ("f" + std::to_string(i) + ".bmp"), 64, 48, [i](int x, int y, int k) {
                    return std::uint8_t(120 + 50 * std::sin(x * 0.3 + k) * std::cos(y * 0.2) + i);
                });
        }
        std::mt19937 noise(3);
        jobs_test::WriteBmp(src / "noise.bmp", 64, 48,
                            [&](int, int, int) { return std::uint8_t(noise()); });
        CMergeImagePage merge(desktop);
        SetMerge(merge, src.string(), (run.Path() / "avg.bmp").string());
        merge.MethodList()->setCurrentIndex(int(StackMethod::SigmaClip));
        merge.AlignCheck()->setChecked(true);
        CSummaryRecorder summaries(desktop);
        StartWith(merge);
        ASSERT_EQ(summaries.m_summaries.size(), 1u);
        const CJobSummary& summary = summaries.m_summaries[0];
        EXPECT_EQ(summary.m_nWritten, 1);
        EXPECT_EQ(summary.m_nTrashed, 4);
        ASSERT_EQ(summary.m_problems.size(), 1u);
        EXPECT_EQ(summary.m_problems[0].m_strPath, Q(src / "noise.bmp"));
        EXPECT_TRUE(summary.m_problems[0].m_strReason.startsWith(
            QString::fromUtf8(language.m_szReasonStart)))
            << summary.m_problems[0].m_strReason.toStdString();
        EXPECT_TRUE(fs::exists(src / "noise.bmp"));
    }
}

}  // namespace
