// The averaging and enlarging pages on real temporary folders: their messages, Start turning
// into Stop, the controls during a job, stopping, closing the window during a job, the settings
// buttons, ViewFolder and the settings path.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCursor>
#include <QDesktopServices>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QUrl>

#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/jobs/merge_image_page.h"
#include "app/jobs/scale_image_page.h"
#include "app/main_sheet.h"
#include "app/startup.h"
#include "app/widgets/message_box.h"
#include "app/widgets/path_label.h"
#include "app/widgets/select_folder_dialog.h"
#include "app/widgets/view_folder.h"
#include "common/temp_dir.h"
#include "gui_common/qt_test_app.h"
#include "jobs/jobs_test_util.h"
#include "jobs/settings_file.h"

namespace {

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
class CFileCatcher : public QObject {
    Q_OBJECT
public:
    CFileCatcher() { QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "Open"); }
    ~CFileCatcher() override { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); }
    std::vector<std::string> m_paths;
public slots:
    void Open(const QUrl& url) { m_paths.push_back(url.toLocalFile().toStdString()); }
};

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
const std::string kMergeFailed = "图像融合失败。";
const std::string kMergeDone = "图像平均完毕。";
const std::string kScaleDone = "放大完毕。";
const std::string kNothingToView = "抱歉，在目标目录中找不到可查看的文件。";
const std::string kFailures = "以下文件处理失败：";

TEST(JobPages, StartsWithTheDefaultsOfTheirSettings) {
    TestApp();
    CMergeImagePage merge;
    CScaleImagePage scale;
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
        {true, empty.string(), target, kStart, kNoFiles},
        {true, jpegsOnly.string(), target, kStart, kNoFiles},  // "*.bmp" chosen
        {true, "", "", kViewSource, kNoSource},
        {true, "", "", kViewTarget, kNoTargetFile},
        {true, empty.string(), "", kViewSource, kNothingToView},
        {false, "", targetDir, kStart, kNoSource},
        {false, empty.string(), "", kStart, kNoTargetFolder},
        {false, empty.string(), targetDir, kStart, kNoFiles},
        {false, "", "", kViewSource, kNoSource},
        {false, "", "", kViewTarget, kNoTargetFolder},
        {false, "", empty.string(), kViewTarget, kNothingToView},
    };
    for (std::size_t i = 0; i < std::size(kCases); ++i) {
        SCOPED_TRACE(i);
        const Case& c = kCases[i];
        CMergeImagePage merge;
        CScaleImagePage scale;
        CJobPageWidget* page = &merge;
        if (c.bMerge) {
            SetMerge(merge, c.src, c.target);
        } else {
            SetScale(scale, c.src, c.target);
            page = &scale;
        }
        CMessageRecorder messages;
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
    TestApp();
    TempDir dir;
    const fs::path src = dir.Path() / "src";
    // 10 and 11 average to 11 (10.5 rounds up).
    WriteFlatBmp(src / "a.bmp", 40, 30, 10);
    WriteFlatBmp(src / "b.bmp", 40, 30, 11);
    const fs::path out = dir.Path() / "out";
    fs::create_directories(out);
    CMergeImagePage page;
    SetMerge(page, src.string(), (out / "avg.bmp").string(), 1, true);
    CMessageRecorder messages;
    std::vector<QString> shown;
    // The first free numbered name, shown in the target field from the first file on.
    const fs::path numbered = out / "avg000000.bmp";
    StartWith(page, [&](const QString& path, int, int) {
        shown.push_back(page.StatusPath()->text());
        EXPECT_EQ(path, page.StatusPath()->text());
        EXPECT_EQ(page.TargetPath()->text(), Q(numbered));
    });

    ASSERT_EQ(messages.m_texts, std::vector<std::string>{kMergeDone});
    EXPECT_EQ(page.TargetPath()->text(), Q(numbered));
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(page.Progress()->maximum(), 2);
    EXPECT_EQ(page.Progress()->value(), 2);
    EXPECT_EQ(page.StatusPath()->text(), QString::fromUtf8("放大至1024x768..."));

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

TEST(MergeImagePage, AutoNumberingFollowsTheDigitsOfTheName) {
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
        CMergeImagePage page;
        CMergeParams params;
        params.m_strSrcDir = src.string();
        params.m_strTargetFile = (out / c.target).string();
        params.m_bExtra800 = params.m_bExtra1024 = false;
        params.m_bDelSrc = false;
        params.m_bAutoNumber = c.bNumber;
        page.SetParams(params);
        page.RefreshControls();
        CMessageRecorder messages;
        StartWith(page);
        EXPECT_EQ(messages.m_texts, std::vector<std::string>{kMergeDone});
        EXPECT_EQ(page.TargetPath()->text(), Q(out / c.used));
        EXPECT_TRUE(fs::exists(out / c.used));
    }
}

TEST(MergeImagePage, NothingReadableIsAFailedMerge) {
    TestApp();
    TempDir dir;
    const fs::path src = dir.Path() / "src";
    jobs_test::WriteText(src / "broken.bmp", "BM but not an image");
    CMergeImagePage page;
    SetMerge(page, src.string(), (dir.Path() / "avg.bmp").string());
    CMessageRecorder messages;
    StartWith(page);
    EXPECT_EQ(messages.m_texts, std::vector<std::string>{kMergeFailed});
    EXPECT_TRUE(fs::exists(src / "broken.bmp"));
    EXPECT_EQ(CountFiles(dir.Path()), 1);  // only src: no result
}

// A write that fails reaches the user with its path, never as "finished", and nothing made
// from the sources is missing, so the sources stay.
TEST(JobPages, FailedWritesAreReportedAndSourcesKept) {
    TestApp();
    TempDir dir;
    const fs::path src = dir.Path() / "src";
    WriteBmps(src, 2, 6, 4);
    const fs::path notAFolder = dir.Path() / "file.txt";
    jobs_test::WriteText(notAFolder, "a file where a folder should be");

    for (const bool bMerge : {true, false}) {
        SCOPED_TRACE(bMerge);
        CMergeImagePage merge;
        CScaleImagePage scale;
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
        CMessageRecorder messages;
        StartWith(*page);
        ASSERT_EQ(messages.m_texts.size(), 1u);
        const std::string& text = messages.m_texts[0];
        EXPECT_EQ(text.rfind(kFailures, 0), 0u) << text;
        EXPECT_NE(text.find(failedPath), std::string::npos) << text;
        EXPECT_EQ(messages.m_icons[0], QMessageBox::Warning);
        EXPECT_TRUE(fs::exists(src / "f00.bmp"));
        EXPECT_TRUE(fs::exists(src / "f01.bmp"));
        EXPECT_FALSE(page->IsBusy());
        EXPECT_TRUE(page->SourceSelectButton()->isEnabled());
    }
}

TEST(ScaleImagePage, EnlargesEveryFileIntoTheTargetFolder) {
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
        CScaleImagePage page;
        SetScale(page, src.string(), out.string(), 1, c.nScale, false);
        CMessageRecorder messages;
        StartWith(page);
        EXPECT_EQ(messages.m_texts, std::vector<std::string>{kScaleDone});
        EXPECT_EQ(page.Progress()->value(), 3);
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
        { const CStatus saved = SaveImageFile((jpegs / name).string(), image, 90); ASSERT_TRUE(saved) << saved.Reason(); }
    }
    for (const bool bMerge : {true, false}) {
        for (const int nSrcFile : {0, 1}) {
            SCOPED_TRACE(std::to_string(bMerge) + " " + std::to_string(nSrcFile));
            const fs::path src = nSrcFile == 0 ? jpegs : bmps;
            const fs::path out =
                dir.Path() / ("out" + std::to_string(bMerge) + std::to_string(nSrcFile));
            fs::create_directories(out);
            CMergeImagePage merge;
            CScaleImagePage scale;
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
            CMessageRecorder messages;
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
            EXPECT_EQ(messages.m_texts.size(), 1u);
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
        CMergeImagePage merge;
        CScaleImagePage scale;
        CJobPageWidget* page = &merge;
        if (c.bMerge) {
            SetMerge(merge, src.string(), (out / "avg.bmp").string());
        } else {
            SetScale(scale, src.string(), out.string());
            page = &scale;
        }
        CMessageRecorder messages;
        int nStarted = 0;
        StartWith(*page, [&](const QString&, int nFile, int) {
            nStarted = nFile;
            if (nFile == c.nStopAt) {
                page->StartButton()->click();  // reads "停止"
                EXPECT_TRUE(page->IsStopRequested());
            }
        });
        EXPECT_EQ(nStarted, c.nStopAt);
        EXPECT_EQ(messages.m_texts, std::vector<std::string>{c.message});
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
    { const CStatus saved = SaveImageFile((src / "a.jpg").string(), pattern, 90); ASSERT_TRUE(saved) << saved.Reason(); }
    fs::copy_file(src / "a.jpg", src / "b.jpg");
    fs::copy_file(src / "a.jpg", src / "c.jpg");
    CDibImage decoded;
    LoadOrFail(src / "a.jpg", decoded);
    const std::string expected = (dir.Path() / "expected.jpg").string();
    { const CStatus saved = SaveImageFile(expected, decoded, 40); ASSERT_TRUE(saved) << saved.Reason(); }

    CMergeImagePage page;
    const fs::path target = dir.Path() / "avg.jpg";
    SetMerge(page, src.string(), target.string(), 0, false, false);
    page.AutoNumberCheck()->setChecked(false);
    CMessageRecorder messages;
    StartWith(page, [&](const QString&, int nFile, int) {
        if (nFile == 2) {
            page.QualitySpin()->setValue(40);
        }
    });
    EXPECT_EQ(messages.m_texts, std::vector<std::string>{kMergeDone});
    EXPECT_EQ(jobs_test::ReadText(target), jobs_test::ReadText(expected));
}

// The averaging page's target is a file: the save dialog starts in the target's folder with its
// name, and a name typed without extension takes the one of the chosen filter.
TEST(MergeImagePage, TargetDialogTakesTheChosenFile) {
    TestApp();
    TempDir dir;
    CMergeImagePage page;
    SetMerge(page, "", dir.File("avg.bmp"));
    struct Case {
        const char* filter;
        const char* typed;
        const char* chosen;
    } kCases[] = {
        {"Jpeg Files (*.jpg)", "night", "night.jpg"},
        {"Bmp Files (*.bmp)", "day", "day.bmp"},
        {"Bmp Files (*.bmp)", "dusk.jpg", "dusk.jpg"},
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
            const int index = types->findText(QString::fromLatin1(c.filter));
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
    TestApp();
    TempDir dir;
    const fs::path mergeSrc = dir.Path() / "merge";
    const fs::path scaleSrc = dir.Path() / "scale";
    WriteBmps(mergeSrc, 3, 8, 8);
    WriteBmps(scaleSrc, 2, 8, 8);
    const fs::path out = dir.Path() / "out";
    fs::create_directories(out);
    CMergeImagePage merge;
    CScaleImagePage scale;
    SetMerge(merge, mergeSrc.string(), (out / "avg.bmp").string(), 1, false, false);
    SetScale(scale, scaleSrc.string(), (out / "big").string(), 1, 0, false);
    std::vector<std::string> events;
    QObject::connect(&scale, &CJobPageWidget::JobFileStarted, [&](const QString&, int n, int) {
        events.push_back("scale " + std::to_string(n));
    });
    CMessageRecorder messages;
    StartWith(merge, [&](const QString&, int n, int) {
        events.push_back("merge " + std::to_string(n));
        if (n == 2) {
            QTimer::singleShot(0, [&] { scale.StartButton()->click(); });
        }
    });
    EXPECT_EQ(events,
              (std::vector<std::string>{"merge 1", "merge 2", "scale 1", "scale 2", "merge 3"}));
    EXPECT_EQ(messages.m_texts, (std::vector<std::string>{kScaleDone, kMergeDone}));
    EXPECT_EQ(CountFiles(out / "big"), 2);
    EXPECT_FALSE(merge.IsBusy());
    EXPECT_FALSE(scale.IsBusy());
}

// Closing the window during a job stops the job first; the sheet closes once it has ended,
// without a "finished" message over the closed window.
TEST(JobPages, ClosingTheWindowEndsTheJobFirst) {
    TestApp();
    TempDir dir;
    const fs::path src = dir.Path() / "src";
    WriteBmps(src, 6, 8, 8);
    const fs::path out = dir.Path() / "out";
    fs::create_directories(out);
    CMainSheet sheet;
    auto* page = new CMergeImagePage;
    sheet.ReplacePage(3, page);
    SetMerge(*page, src.string(), (out / "avg.bmp").string());
    CMessageRecorder messages;
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
    EXPECT_TRUE(messages.m_texts.empty());
    EXPECT_EQ(CountFiles(out), 0);
    EXPECT_EQ(CountFiles(src), 6);
}

// A page destroyed inside the message pump of its own job: the job ends and nothing of the
// page is touched afterwards (no message over it, no crash).
TEST(JobPages, PageDestroyedDuringItsJob) {
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
            auto* merge = new CMergeImagePage;
            SetMerge(*merge, src.string(), (out / "avg.bmp").string(), 1, false, false);
            page = merge;
        } else {
            auto* scale = new CScaleImagePage;
            SetScale(*scale, src.string(), out.string(), 1, 0, false);
            page = scale;
        }
        QPointer<CJobPageWidget> guard(page);
        CMessageRecorder messages;
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
        // Enlarging wrote the first file before the page went.
        EXPECT_EQ(CountFiles(out), bMerge ? 0 : 1);
        fs::remove_all(out);
        fs::create_directories(out);
    }
}

// Save, Reset, Load on both pages through the buttons, on a settings file of the test's own.
TEST(JobPages, SettingsButtonsRoundTrip) {
    TestApp();
    TempDir dir;
    g_szIniFile = dir.File("tarnwick.ini");
    CMessageRecorder messages;

    CMergeImagePage merge;
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

    CScaleImagePage scale;
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
    g_szIniFile = dir.File("missing.ini");
    merge.LoadButton()->click();
    merge.TakeControlValues();
    EXPECT_EQ(merge.Params(), CMergeParams{});
}

// Values beyond the lists leave them without a selection; Start then refuses before any file
// is touched.
TEST(JobPages, OutOfRangeListValuesRefuseToStart) {
    TestApp();
    TempDir dir;
    const fs::path src = dir.Path() / "src";
    WriteBmps(src, 2, 4, 4);
    g_szIniFile = dir.File("tarnwick.ini");
    jobs_test::WriteText(g_szIniFile, "[MergeImage]\nSrcDir=" + src.string() +
                                          "\nTgtDir=" + dir.File("avg.bmp") +
                                          "\nSrcFile=5\n[ScaleImage]\n" + "SrcDir=" + src.string() +
                                          "\nTgtDir=" + dir.File("out") + "\nScale=9\n");
    CMessageRecorder messages;
    CMergeImagePage merge;
    merge.LoadButton()->click();
    EXPECT_EQ(merge.SourceTypeList()->currentIndex(), -1);
    merge.StartButton()->click();
    CScaleImagePage scale;
    scale.LoadButton()->click();
    EXPECT_EQ(scale.SourceTypeList()->currentIndex(), 1);
    EXPECT_EQ(scale.SizeList()->currentIndex(), -1);
    scale.StartButton()->click();
    EXPECT_EQ(messages.m_texts, (std::vector<std::string>{kNoFiles, "请先选择放大倍率。"}));
    EXPECT_EQ(CountFiles(src), 2);
    EXPECT_FALSE(fs::exists(dir.Path() / "out"));
}

TEST(JobPages, AFailedSaveIsReported) {
    TestApp();
    TempDir dir;
    jobs_test::WriteText(dir.Path() / "file.txt", "not a folder");
    g_szIniFile = (dir.Path() / "file.txt" / "tarnwick.ini").string();
    CMessageRecorder messages;
    CScaleImagePage page;
    page.SaveButton()->click();
    ASSERT_EQ(messages.m_texts.size(), 1u);
    EXPECT_NE(messages.m_texts[0].find((dir.Path() / "file.txt").string()), std::string::npos)
        << messages.m_texts[0];
    EXPECT_EQ(messages.m_icons[0], QMessageBox::Warning);
}

TEST(JobPages, SelectButtonsTakeTheChosenFolder) {
    TestApp();
    TempDir dir;
    const fs::path chosen = dir.Path() / "chosen";
    fs::create_directories(chosen);
    CScaleImagePage page;
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

TEST(ViewFolder, OpensTheFirstJpegElseTheFirstBmp) {
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

    CFileCatcher catcher;
    CMessageRecorder messages;
    EXPECT_TRUE(ViewFolder(Q(bmps), nullptr));
    EXPECT_TRUE(ViewFolder(Q(mixed), nullptr));
    EXPECT_FALSE(ViewFolder(Q(none), nullptr));
    EXPECT_EQ(catcher.m_paths,
              (std::vector<std::string>{(bmps / "only.bmp").string(), (mixed / "z.jpg").string()}));
    EXPECT_EQ(messages.m_texts, std::vector<std::string>{kNothingToView});

    // The View buttons: source folders on both pages, the target folder of the enlarging page,
    // the target file itself on the averaging page.
    catcher.m_paths.clear();
    CMergeImagePage merge;
    SetMerge(merge, bmps.string(), (mixed / "avg.bmp").string());
    merge.SourceViewButton()->click();
    merge.TargetViewButton()->click();
    CScaleImagePage scale;
    SetScale(scale, mixed.string(), bmps.string());
    scale.SourceViewButton()->click();
    scale.TargetViewButton()->click();
    EXPECT_EQ(catcher.m_paths,
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

}  // namespace

#include "jobs_pages_test.moc"
