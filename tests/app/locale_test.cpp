// The program in a Chinese locale says nothing in English: the sheet with its four pages, the
// folder dialog, a Yes/No question, a job's summary with every kind of problem and the message
// of a folder nothing can show are walked widget by widget, and every refusal of the engines is
// worded and every visible text is
// held against the program's English (the translations in tarnwick_en.ts) and Qt's own English
// button and dialog texts. The English locale keeps its English texts.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTextDocumentFragment>
#include <QTimer>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <QXmlStreamReader>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "app/jobs/job_page_widget.h"
#include "app/jobs/job_summary_dialog.h"
#include "app/jobs/result_compare.h"
#include "app/main_sheet.h"
#include "app/program_pages.h"
#include "app/widgets/image_viewer.h"
#include "app/widgets/message_box.h"
#include "app/widgets/select_folder_dialog.h"
#include "app/widgets/view_folder.h"
#include "gui_common/qt_test_app.h"
#include "jobs/job_engine.h"
#include "jobs/job_guard.h"
#include "jobs/job_result.h"
#include "jobs/merge_image_job.h"
#include "jobs/scale_image_job.h"
#include "stack/stack.h"

namespace {

// Every line of every English translation of the program (the parts between placeholders),
// where it differs from its Chinese source and says something.
QStringList ProgramEnglish() {
    QFile file(QStringLiteral(TARNWICK_SOURCE_DIR "/resources/tarnwick_en.ts"));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    QXmlStreamReader xml(&file);
    QStringList pieces;
    QString source;
    static const QRegularExpression kSplit(QStringLiteral("%\\d|\\n"));
    static const QRegularExpression kLetters(QStringLiteral("[A-Za-z]{2}"));
    while (!xml.atEnd()) {
        xml.readNext();
        if (!xml.isStartElement()) {
            continue;
        }
        if (xml.name() == u"source") {
            source = xml.readElementText();
        } else if (xml.name() == u"translation") {
            const QString english = xml.readElementText();
            if (english == source) {
                continue;
            }
            for (QString piece : english.split(kSplit, Qt::SkipEmptyParts)) {
                piece = piece.trimmed();
                if (piece.size() >= 3 && piece.contains(kLetters) && !source.contains(piece)) {
                    pieces << piece;
                }
            }
        }
    }
    return pieces;
}

// Qt's own English for the buttons and labels of its dialogs.
const QStringList kQtEnglish = {
    QStringLiteral("OK"),         QStringLiteral("Cancel"),         QStringLiteral("Yes"),
    QStringLiteral("No"),         QStringLiteral("Open"),           QStringLiteral("Save"),
    QStringLiteral("Choose"),     QStringLiteral("Close"),          QStringLiteral("Look in:"),
    QStringLiteral("File name:"), QStringLiteral("Files of type:"), QStringLiteral("Apply"),
};

// The texts a user sees in `root` and its visible children: labels, buttons, tabs, group
// titles, the items of drop-down lists and the window's title.
QStringList VisibleTexts(QWidget* root) {
    QStringList texts{root->windowTitle()};
    QList<QWidget*> widgets = root->findChildren<QWidget*>();
    widgets.prepend(root);
    for (QWidget* widget : widgets) {
        if (!widget->isVisible()) {
            continue;
        }
        if (auto* label = qobject_cast<QLabel*>(widget)) {
            texts << QTextDocumentFragment::fromHtml(label->text()).toPlainText();
        } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
            texts << QString(button->text()).remove(u'&');
        } else if (auto* tabs = qobject_cast<QTabBar*>(widget)) {
            for (int i = 0; i < tabs->count(); ++i) {
                texts << tabs->tabText(i);
            }
        } else if (auto* group = qobject_cast<QGroupBox*>(widget)) {
            texts << group->title();
        } else if (auto* combo = qobject_cast<QComboBox*>(widget)) {
            for (int i = 0; i < combo->count(); ++i) {
                texts << combo->itemText(i);
            }
        } else if (auto* tree = qobject_cast<QTreeWidget*>(widget)) {
            for (int c = 0; c < tree->columnCount(); ++c) {
                texts << tree->headerItem()->text(c);
            }
            for (QTreeWidgetItemIterator it(tree); *it; ++it) {
                for (int c = 0; c < tree->columnCount(); ++c) {
                    texts << (*it)->text(c);
                }
            }
        }
    }
    texts.removeAll(QString());
    return texts;
}

// The texts of `texts` that are English: one holding a line of the program's English, or one
// of Qt's English words (a mnemonic's "&" aside).
QStringList EnglishAmong(const QStringList& texts) {
    static const QStringList program = ProgramEnglish();
    QStringList english;
    for (const QString& text : texts) {
        bool bEnglish = kQtEnglish.contains(QString(text).remove(u'&').trimmed());
        for (const QString& piece : program) {
            bEnglish = bEnglish || text.contains(piece);
        }
        if (bEnglish) {
            english << text;
        }
    }
    return english;
}

std::string Joined(const QStringList& texts) {
    return texts.join(QStringLiteral(" | ")).toStdString();
}

TEST(Locale, TheEnglishListIsTheProgramsEnglish) {
    const QStringList english = ProgramEnglish();
    // The list this test stands on: large, and holding what the sheet says in English.
    EXPECT_GT(english.size(), 60);
    for (const char* text : {"Help", "About", "Close", "Select folder",
                             "Current Folder:", "Invalid Folder", "Unable to open hyperlink:"}) {
        EXPECT_TRUE(english.contains(QString::fromLatin1(text))) << text;
    }
}

// Runs `look` on the next modal widget to open, then closes it. Looks from the event loop
// until one is open: the modal's own loop runs it, whenever that starts.
void OnNextModal(std::function<void(QWidget*)> look) {
    auto* poll = new QTimer;
    poll->setInterval(0);
    QObject::connect(poll, &QTimer::timeout, [poll, look] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal)
            return;
        poll->stop();
        poll->deleteLater();
        look(modal);
        if (auto* dialog = qobject_cast<QDialog*>(modal)) {
            dialog->reject();
        }
    });
    poll->start();
}

struct LocaleCase {
    const char* m_szLocale;
    bool m_bChinese;
    const char* m_szButtons[3];  // Help, About, Close
    const char* m_szFolderTitle;
};

const LocaleCase kLocales[] = {
    {"zh_CN", true, {"帮助", "关于", "关闭"}, "选择目录"},
    {"en_US", false, {"Help", "About", "Close"}, "Select folder"},
};

// The sheet, every page, the folder dialog and a Yes/No question, in both languages.
TEST(Locale, ChineseShowsNoEnglishAndEnglishKeepsItsTexts) {
    CTestDesktop desktop;
    TestApp();
    for (const LocaleCase& c : kLocales) {
        SCOPED_TRACE(c.m_szLocale);
        CLanguageScope language(c.m_szLocale);
        if (c.m_bChinese) {
            ASSERT_TRUE(language.HasQtTranslation()) << "qt6-translations-l10n is missing";
        }
        CMainSheet sheet(desktop);
        InstallProgramPages(sheet, false, CRunContext{});
        sheet.show();
        QStringList texts;
        for (int i = 0; i < sheet.Tabs()->count(); ++i) {
            sheet.Tabs()->setCurrentIndex(i);
            QCoreApplication::processEvents();
            texts << VisibleTexts(&sheet);
        }
        EXPECT_EQ(sheet.HelpButton()->text(), QString::fromUtf8(c.m_szButtons[0]));
        EXPECT_EQ(sheet.AboutButton()->text(), QString::fromUtf8(c.m_szButtons[1]));
        EXPECT_EQ(sheet.CloseButton()->text(), QString::fromUtf8(c.m_szButtons[2]));

        QTemporaryDir dir;
        // The program's own message boxes, to be seen.
        CDesktop shown(dir.filePath(QStringLiteral("state.ini")));
        CSelectFolderDialog folders(shown, true, dir.path(), BmpFolderFilters(), &sheet);
        folders.show();
        QCoreApplication::processEvents();
        const QStringList folderTexts = VisibleTexts(&folders);
        EXPECT_EQ(folders.windowTitle(), QString::fromUtf8(c.m_szFolderTitle));
        // The question of the folder dialog, as the user gets it.
        QStringList questionTexts;
        int questionWidth = 0;
        OnNextModal([&](QWidget* box) {
            questionTexts = VisibleTexts(box);
            questionWidth = box->width();
            if (auto* message = qobject_cast<QMessageBox*>(box)) {
                message->done(QMessageBox::No);
            }
        });
        folders.PathEdit()->setText(dir.filePath(QStringLiteral("not/yet")));
        folders.accept();
        folders.reject();
        ASSERT_FALSE(questionTexts.isEmpty());
        // The caption is whole: the box is wide enough for it and the title bar's buttons.
        EXPECT_GE(questionWidth, kMessageBoxMinWidth);

        if (c.m_bChinese) {
            EXPECT_EQ(Joined(EnglishAmong(texts)), "");
            EXPECT_EQ(Joined(EnglishAmong(folderTexts)), "");
            EXPECT_EQ(Joined(EnglishAmong(questionTexts)), "");
        } else {
            // The same walk finds the English: the check above can see it.
            EXPECT_TRUE(EnglishAmong(texts).contains(QStringLiteral("Help")));
            EXPECT_TRUE(EnglishAmong(folderTexts).contains(QStringLiteral("Current Folder:")));
            EXPECT_TRUE(EnglishAmong(questionTexts).contains(QStringLiteral("Yes")))
                << Joined(questionTexts);
        }
    }
}

// A job's summary with a problem of every kind the engines name (each on its own file), and the
// message of a folder whose images nothing on the system opens: Chinese through and through in
// Chinese, and the engines' own English reasons, word for word, in English.
TEST(Locale, JobSummaryAndViewFolderSpeakTheLanguage) {
    TestApp();
    QTemporaryDir dir;
    // The program's own message boxes, on a desktop where nothing opens files.
    class CNothingOpens : public CDesktop {
    public:
        using CDesktop::CDesktop;
        bool OpenUrl(const QUrl&) override { return false; }
    } desktop(dir.filePath(QStringLiteral("state.ini")));
    const std::string folder = dir.path().toStdString();
    QFile image(dir.filePath(QStringLiteral("a.jpg")));
    ASSERT_TRUE(image.open(QIODevice::WriteOnly));
    image.close();

    // Every kind but Other (whose English is all there is); the details as the engines give them.
    CJobResult result;
    const int kLastKind = int(JobProblemKind::StackStoreFailed);
    for (int k = int(JobProblemKind::Other) + 1; k <= kLastKind; ++k) {
        const auto kind = JobProblemKind(k);
        const std::string path = folder + "/out" + std::to_string(k) + ".jpg";
        std::string detail = folder + "/source.jpg";
        std::string system;
        if (kind == JobProblemKind::Unreadable) {
            detail = "not a BMP file";
        } else if (kind == JobProblemKind::WriteFailed || kind == JobProblemKind::TrashFailed) {
            detail = "Permission denied";
        } else if (kind == JobProblemKind::NoImage || kind == JobProblemKind::NoMemoryForSums) {
            detail = "800x600";
        } else if (kind == JobProblemKind::FolderNotWritable ||
                   kind == JobProblemKind::StackStoreFailed) {
            detail = folder;
            system = "Permission denied";
        } else if (kind == JobProblemKind::StackNoMemory) {
            detail.clear();
        }
        if (kind == JobProblemKind::Unreadable) {
            result.m_skipped.push_back(MakeProblem(path, kind, detail));
        } else if (kind == JobProblemKind::FolderNotMade) {
            // The folder check's own problem: a folder below a file cannot be made.
            CJobProblem problem;
            EXPECT_FALSE(MakeWritableFolder(folder + "/a.jpg/sub", &problem).Ok());
            EXPECT_EQ(problem.m_kind, kind);
            EXPECT_FALSE(problem.m_strSystem.empty());
            problem.m_strPath = path;
            result.m_failures.push_back(problem);
        } else {
            result.m_failures.push_back(MakeProblem(path, kind, detail, system));
        }
    }
    result.m_unused.push_back(folder + "/late.jpg");
    result.m_bStopped = true;
    result.m_nOtherSize = 2;
    result.m_trashed.push_back(folder + "/gone.jpg");
    result.m_trashPlaces.push_back({folder + "/gone.jpg", {}, {}});
    // A restore with an answer of every kind.
    std::vector<CRestoredFile> answers;
    for (const RestoreOutcome outcome : {RestoreOutcome::Restored, RestoreOutcome::PathTaken,
                                         RestoreOutcome::NotInTrash, RestoreOutcome::Failed})
        answers.push_back({folder + "/gone.jpg", outcome, "Permission denied"});
    ASSERT_EQ(result.m_skipped.size() + result.m_failures.size(), std::size_t(kLastKind));

    for (const LocaleCase& c : kLocales) {
        SCOPED_TRACE(c.m_szLocale);
        CLanguageScope language(c.m_szLocale);
        const CJobSummary summary = CJobSummary::From(result, QString(), dir.path());
        CJobSummaryDialog dialog(summary, desktop);
        dialog.show();
        QCoreApplication::processEvents();
        const QStringList summaryTexts = VisibleTexts(&dialog);

        // The reason shown for each file against the engine's English.
        std::vector<CJobProblem> problems = result.m_skipped;
        problems.insert(problems.end(), result.m_failures.begin(), result.m_failures.end());
        int nChecked = 0;
        for (QTreeWidgetItemIterator it(dialog.Details()); *it; ++it) {
            for (const CJobProblem& problem : problems) {
                if ((*it)->text(0) != QString::fromStdString(problem.m_strPath)) {
                    continue;
                }
                SCOPED_TRACE(problem.m_strReason);
                ++nChecked;
                const std::string shown = (*it)->text(2).toStdString();
                if (c.m_bChinese) {
                    EXPECT_NE(shown, problem.m_strReason);
                } else {
                    EXPECT_EQ(shown, problem.m_strReason);
                }
            }
        }
        EXPECT_EQ(nChecked, kLastKind);

        // Nothing opens the folder's first image.
        QStringList viewTexts;
        OnNextModal([&](QWidget* box) {
            viewTexts = VisibleTexts(box);
            if (auto* message = qobject_cast<QMessageBox*>(box)) {
                message->done(QMessageBox::Ok);
            }
        });
        EXPECT_FALSE(ViewFolder(desktop, dir.path(), &dialog));
        EXPECT_TRUE(viewTexts.join(u'\n').contains(dir.path())) << Joined(viewTexts);

        // Every line but the one naming the file put back says something in the language.
        QStringList restoreTexts = RestoreText(answers).split(u'\n');
        EXPECT_EQ(restoreTexts.removeAll(QString::fromStdString(folder + "/gone.jpg")), 1);
        if (c.m_bChinese) {
            EXPECT_EQ(Joined(EnglishAmong(summaryTexts)), "");
            EXPECT_EQ(Joined(EnglishAmong(viewTexts)), "");
            EXPECT_EQ(Joined(EnglishAmong(restoreTexts)), "");
        } else {
            EXPECT_TRUE(EnglishAmong(summaryTexts).contains(QStringLiteral("Reason")));
            EXPECT_TRUE(EnglishAmong(summaryTexts).contains(QStringLiteral("Restore the sources")));
            EXPECT_EQ(EnglishAmong(restoreTexts).size(), restoreTexts.size())
                << Joined(restoreTexts);
            EXPECT_FALSE(EnglishAmong(viewTexts).isEmpty()) << Joined(viewTexts);
        }
    }
}

class CQuietObserver : public IJobObserver {
public:
    void OnEvent(const CJobEvent&) override {}
    bool StopRequested() override { return false; }
};

// Every refusal of the engines, made as they make it: the engine run on parameters it refuses,
// or, for stacking options no parameter reaches, the stacker's own check. In Chinese the page's
// message holds none of the program's English nor the engine's reason; in English the reason is
// the engine's word for word (the two kinds the page words itself aside).
TEST(Locale, RefusalsSpeakTheLanguage) {
    TestApp();
    QTemporaryDir dir;
    const std::string folder = dir.path().toStdString();
    const std::string source = folder + "/src";
    std::filesystem::create_directories(source);
    std::ofstream(source + "/a.bmp").put('x');
    const std::string busy = folder + "/busy";
    std::filesystem::create_directories(busy);
    CJobGuard other;
    ASSERT_TRUE(other.Lock(busy));

    CQuietObserver observer;
    const auto merge = [&](const std::function<void(CMergeParams&)>& change) {
        CMergeParams params;
        params.m_strSrcDir = source;
        params.m_strTargetFile = folder + "/out/average.bmp";
        params.m_bDelSrc = false;
        params.m_bAutoNumber = false;
        change(params);
        return CMergeImageJob(params, observer).Run();
    };
    const auto scale = [&](const std::function<void(CScaleParams&)>& change) {
        CScaleParams params;
        params.m_strSrcDir = source;
        params.m_strTargetFolder = folder + "/big";
        params.m_bDelSrc = false;
        change(params);
        return CScaleImageJob(params, observer).Run();
    };
    const auto options = [&](const std::function<void(CStackOptions&)>& change) {
        CStackOptions stack;
        change(stack);
        CJobResult result;
        result.m_end = JobEnd::Refused;
        CStackRefusal refused = StackOptionsRefusal(stack);
        result.m_refusal = refused.m_refusal;
        result.m_strRefusalDetail = std::move(refused.m_strDetail);
        EXPECT_NE(result.m_refusal, JobRefusal::None);
        result.m_strReason = RefusalReason(result.m_refusal, result.m_strRefusalDetail);
        return result;
    };
    const std::pair<JobRefusal, CJobResult> kCases[] = {
        {JobRefusal::NoSource, merge([](CMergeParams& p) { p.m_strSrcDir.clear(); })},
        {JobRefusal::NoTarget, merge([](CMergeParams& p) { p.m_strTargetFile.clear(); })},
        {JobRefusal::NoChoice, merge([](CMergeParams& p) { p.m_source.reset(); })},
        {JobRefusal::NegativeLimit, merge([](CMergeParams& p) { p.m_nLimit = -1; })},
        {JobRefusal::BadKappa, merge([](CMergeParams& p) { p.m_dKappa = 0; })},
        {JobRefusal::ReportIsResult,
         merge([](CMergeParams& p) { p.m_strReportFile = p.m_strTargetFile; })},
        {JobRefusal::ReportIsSource,
         merge([&](CMergeParams& p) { p.m_strReportFile = source + "/a.bmp"; })},
        {JobRefusal::ReportInSourceFolder,
         merge([&](CMergeParams& p) { p.m_strReportFile = source + "/report.csv"; })},
        {JobRefusal::TargetIsSource,
         merge([&](CMergeParams& p) { p.m_strTargetFile = source + "/a.bmp"; })},
        {JobRefusal::TargetBusy,
         merge([&](CMergeParams& p) { p.m_strTargetFile = busy + "/average.bmp"; })},
        {JobRefusal::NoTargetFolder, scale([](CScaleParams& p) { p.m_strTargetFolder.clear(); })},
        {JobRefusal::NoSize, scale([](CScaleParams& p) { p.m_scale.reset(); })},
        {JobRefusal::TargetIsSource, scale([&](CScaleParams& p) { p.m_strTargetFolder = source; })},
        {JobRefusal::TargetBusy, scale([&](CScaleParams& p) { p.m_strTargetFolder = busy; })},
        {JobRefusal::BadKappa, options([](CStackOptions& o) { o.m_dKappa = -0.5; })},
        {JobRefusal::BadReferenceCount,
         options([](CStackOptions& o) { o.m_nReferenceCandidates = 0; })},
        {JobRefusal::NegativeDivisor, options([](CStackOptions& o) { o.m_nMeanDivisor = -1; })},
        {JobRefusal::BadOverlap, options([](CStackOptions& o) { o.m_dMinOverlap = 1.5; })},
    };
    // Every kind but None is among them, each refused as the table says.
    std::set<JobRefusal> kinds;
    for (const auto& [kind, result] : kCases) {
        SCOPED_TRACE(result.m_strReason);
        EXPECT_EQ(result.m_end, JobEnd::Refused);
        EXPECT_EQ(result.m_refusal, kind);
        EXPECT_FALSE(result.m_strReason.empty());
        kinds.insert(result.m_refusal);
    }
    EXPECT_EQ(kinds.size(), std::size_t(JobRefusal::BadOverlap));
    EXPECT_EQ(kinds.count(JobRefusal::None), 0u);

    for (const LocaleCase& c : kLocales) {
        SCOPED_TRACE(c.m_szLocale);
        CLanguageScope language(c.m_szLocale);
        for (const auto& [kind, result] : kCases) {
            SCOPED_TRACE(result.m_strReason);
            const QString message = CJobPageWidget::RefusalText(result);
            const std::string reason = RefusalReasonText(result).toStdString();
            const bool bPageWords =
                kind == JobRefusal::TargetIsSource || kind == JobRefusal::TargetBusy;
            if (c.m_bChinese) {
                EXPECT_EQ(Joined(EnglishAmong({message})), "");
                EXPECT_FALSE(message.contains(QString::fromStdString(result.m_strReason)));
            } else if (!bPageWords) {
                EXPECT_EQ(reason, result.m_strReason);
                EXPECT_TRUE(message.contains(QString::fromStdString(reason)));
            }
        }
    }
}

// The result viewer with a compare picture, its tooltips and the message of a failed save: all
// Chinese in Chinese, and in English its English.
TEST(Locale, ViewerSpeaksTheLanguage) {
    TestApp();
    QTemporaryDir dir;
    CTestDesktop desktop;
    const QString path = dir.filePath(QStringLiteral("result.png"));
    QImage picture(40, 30, QImage::Format_RGB32);
    picture.fill(Qt::gray);
    ASSERT_TRUE(picture.save(path));
    CJobResult result;
    for (const LocaleCase& c : kLocales) {
        SCOPED_TRACE(c.m_szLocale);
        CLanguageScope language(c.m_szLocale);
        const CResultCompare how = AverageCompare(result, {path.toStdString()}, false);
        CImageViewer* viewer =
            OpenImageViewer(desktop, path, CViewerCompare{picture, how.m_strCaption}, nullptr);
        ASSERT_NE(viewer, nullptr);
        QStringList texts = VisibleTexts(viewer);
        for (QAction* action : viewer->findChildren<QAction*>()) {
            texts << action->toolTip();
        }
        desktop.StartRecording();
        EXPECT_FALSE(viewer->SaveAs(dir.filePath(QStringLiteral("out.gif"))));
        texts << QString::fromStdString(desktop.m_texts.at(0));
        viewer->close();
        if (c.m_bChinese) {
            EXPECT_EQ(Joined(EnglishAmong(texts)), "");
        } else {
            const QStringList english = EnglishAmong(texts);
            EXPECT_TRUE(english.contains(QStringLiteral("Fit to window"))) << Joined(texts);
            EXPECT_TRUE(english.join(u'|').contains(QStringLiteral("plain mean"))) << Joined(texts);
        }
    }
}

// Help opens the part of the page in the user's language; with nothing to open it, the user
// is told where the file is.
TEST(Locale, HelpOpensTheSectionOfTheLanguage) {
    CTestDesktop desktop;
    TestApp();
    const QString path = QStringLiteral("/opt/tarnwick/tarnwick.htm");
    const struct {
        const char* m_szLocale;
        const char* m_szFragment;
    } kCases[] = {{"zh_CN", ""}, {"zh_TW", ""}, {"en_US", "english"}, {"de_DE", "english"}};
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.m_szLocale);
        const QUrl url = CMainSheet::HelpUrl(path, QLocale(QString::fromLatin1(c.m_szLocale)));
        EXPECT_EQ(url.toLocalFile(), path);
        EXPECT_EQ(url.fragment(), QString::fromLatin1(c.m_szFragment));
    }
    // The sheet's Help button, with and without something that opens the page.
    const QString help = CMainSheet::HelpPath();
    QFile file(help);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    for (const bool bOpens : {true, false}) {
        SCOPED_TRACE(bOpens);
        CLanguageScope language("en_GB");
        CTestDesktop& messages = desktop.StartRecording();
        messages.m_bOpens = bOpens;
        CMainSheet sheet(desktop);
        sheet.HelpButton()->click();
        ASSERT_EQ(messages.m_urls.size(), 1);
        EXPECT_EQ(messages.m_urls[0], CMainSheet::HelpUrl(help, QLocale(QStringLiteral("en_GB"))));
        ASSERT_EQ(messages.m_messages.size(), bOpens ? 0u : 1u);
        if (!bOpens) {
            EXPECT_TRUE(messages.m_messages[0].m_strText.contains(help));
        }
    }
    QFile::remove(help);
}

}  // namespace
