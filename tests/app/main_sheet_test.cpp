// The main sheet: tabs, buttons, banner, caption, Help and About, closing during a job; and
// OpenDocument.
#include <gtest/gtest.h>

#include <QAction>
#include <QDesktopServices>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QThread>
#include <QTimer>
#include <QUrl>

#include <iterator>
#include <string>
#include <vector>

#include "app/about_box.h"
#include "app/main_sheet.h"
#include "app/widgets/fontable_page.h"
#include "app/widgets/link_label.h"
#include "gui_common/qt_test_app.h"

namespace {

TEST(MainSheet, FourTabsInOrderWithTheirPages) {
    CTestDesktop desktop;
    TestApp();
    CMainSheet sheet(desktop);
    QTabWidget* tabs = sheet.Tabs();
    ASSERT_EQ(tabs->count(), 4);
    const char* kCaptions[] = {"RMPlayer", "WinMediaPlayer", "批量放大", "图像平均"};
    const int kTemplates[] = {129, 130, 133, 132};
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(tabs->tabText(i), QString::fromUtf8(kCaptions[i]));
        ASSERT_NE(sheet.Page(i), nullptr);
        EXPECT_EQ(sheet.Page(i)->TemplateId(), kTemplates[i]);
        EXPECT_EQ(sheet.Page(i)->Host(), static_cast<IPageHost*>(&sheet));
    }
    EXPECT_EQ(tabs->currentIndex(), 0);
    EXPECT_EQ(sheet.windowTitle(), QStringLiteral("Tarnwick"));
}

TEST(MainSheet, ButtonsHelpAboutCloseWithTheBannerToTheirLeft) {
    CTestDesktop desktop;
    TestApp();
    CMainSheet sheet(desktop);
    sheet.show();
    QCoreApplication::processEvents();
    QPushButton* buttons[] = {sheet.HelpButton(), sheet.AboutButton(), sheet.CloseButton()};
    // The sources' texts (the Chinese locale's); the English ones are checked by locale_test.
    const char* kTexts[] = {"帮助", "关于", "关闭"};
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(buttons[i]->text(), QString::fromUtf8(kTexts[i]));
        EXPECT_TRUE(buttons[i]->isVisible());
        EXPECT_TRUE(buttons[i]->isEnabled());
        if (i > 0) {
            EXPECT_GT(buttons[i]->x(), buttons[i - 1]->geometry().right());
        }
    }
    const QRect banner = sheet.BannerRect();
    EXPECT_EQ(banner.left(), sheet.Tabs()->geometry().left());
    EXPECT_GT(banner.top(), sheet.Tabs()->geometry().bottom());
    // The whole text fits left of the first button.
    const int textWidth =
        QFontMetrics(CMainSheet::BannerFont()).horizontalAdvance(CMainSheet::BannerText());
    EXPECT_LE(banner.left() + textWidth, sheet.HelpButton()->x());

    const QFont font = CMainSheet::BannerFont();
    EXPECT_TRUE(font.bold());
    EXPECT_TRUE(font.italic());
    EXPECT_FALSE(font.underline());
    EXPECT_EQ(font.pixelSize(), 24);

    // Minimize: the window's minimize box, and an item of the sheet's own menu.
    EXPECT_TRUE(sheet.windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
    bool bMinimize = false;
    for (QAction* action : sheet.actions()) {
        bMinimize = bMinimize || action->text() == QString::fromUtf8("最小化");
    }
    EXPECT_TRUE(bMinimize);
    EXPECT_EQ(sheet.contextMenuPolicy(), Qt::ActionsContextMenu);
}

TEST(MainSheet, BannerIsPaintedYellowWithANearBlackShadowLeftOfTheButtons) {
    CTestDesktop desktop;
    TestApp();
    CMainSheet sheet(desktop);
    sheet.show();
    QCoreApplication::processEvents();
    const QImage image = sheet.grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QRect banner = sheet.BannerRect().adjusted(0, 0, 1, 1) & image.rect();
    const int right = sheet.HelpButton()->x();
    int yellow = 0;
    int shadow = 0;
    for (int y = banner.top(); y <= banner.bottom(); ++y) {
        for (int x = banner.left(); x < right; ++x) {
            const QRgb p = image.pixel(x, y);
            yellow += p == qRgb(255, 255, 0);
            shadow += p == qRgb(16, 0, 0);
        }
    }
    EXPECT_GT(yellow, 100);
    EXPECT_GT(shadow, 20);
    // Nothing of the banner above the button row.
    int yellowAbove = 0;
    for (int y = 0; y < banner.top(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            yellowAbove += image.pixel(x, y) == qRgb(255, 255, 0);
        }
    }
    EXPECT_EQ(yellowAbove, 0);
}

TEST(MainSheet, SetDocumentTitleShowsTheFileNameOfTheMedia) {
    CTestDesktop desktop;
    TestApp();
    CMainSheet sheet(desktop);
    const struct {
        const char* m_szPath;
        const char* m_szTitle;
    } kCases[] = {
        {"/video/movie.rm", "Tarnwick-movie.rm"},
        {"/home/a/my.clips/two words.x.avi", "Tarnwick-two words.x.avi"},
        {"movie.rm", "Tarnwick-movie.rm"},
        {"", "Tarnwick"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.m_szPath);
        sheet.SetDocumentTitle(QString::fromUtf8(c.m_szPath));
        EXPECT_EQ(sheet.windowTitle(), QString::fromUtf8(c.m_szTitle));
    }
    sheet.SetDocumentTitle(QStringLiteral("/video/movie.rm"));
    sheet.SetDocumentTitle();
    EXPECT_EQ(sheet.windowTitle(), QStringLiteral("Tarnwick"));
}

TEST(MainSheet, HelpOpensThePageBesideTheProgramOrSaysItIsMissing) {
    CTestDesktop desktop;
    TestApp();
    CMainSheet sheet(desktop);
    const QString help = CMainSheet::HelpPath();
    EXPECT_EQ(help, QCoreApplication::applicationDirPath() + QStringLiteral("/test_app.htm"));
    QFile::remove(help);
    {
        CTestDesktop& recorder = desktop.StartRecording();
        sheet.HelpButton()->click();
        ASSERT_EQ(recorder.m_messages.size(), 1u);
        EXPECT_EQ(recorder.m_messages[0].m_strText,
                  QString::fromUtf8("抱歉，找不到帮助文件Tarnwick.htm。\n请下载完整的ZIP文件。"));
        EXPECT_TRUE(recorder.m_urls.isEmpty());
    }
    QFile file(help);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("<html></html>");
    file.close();
    {
        CTestDesktop& recorder = desktop.StartRecording();
        sheet.HelpButton()->click();
        EXPECT_TRUE(recorder.m_messages.empty());
        ASSERT_EQ(recorder.m_urls.size(), 1);
        EXPECT_EQ(recorder.m_urls[0].toLocalFile(), help);
    }
    QFile::remove(help);
}

TEST(MainSheet, AboutShowsTheAboutBoxWithItsLinks) {
    CTestDesktop desktop;
    TestApp();
    CMainSheet sheet(desktop);
    sheet.show();
    QString title;
    QString mail;
    QString home;
    bool bVersion = false;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<CAboutBox*>(QApplication::activeModalWidget());
        if (box == nullptr) {
            return;
        }
        title = box->windowTitle();
        mail = box->EmailLink()->GetURL();
        home = box->HomepageLink()->GetURL();
        for (const QLabel* label : box->findChildren<QLabel*>()) {
            bVersion =
                bVersion || label->text().contains(QStringLiteral("Tarnwick Version 0.02 Beta"));
        }
        box->accept();
    });
    sheet.AboutButton()->click();
    EXPECT_EQ(title, QString::fromUtf8("Tarnwick版本信息"));
    EXPECT_EQ(mail, QStringLiteral("mailto:") + QString::fromLatin1(CAboutBox::AuthorEmail()));
    EXPECT_TRUE(home.startsWith(QStringLiteral("https://")));
    EXPECT_TRUE(bVersion);
}

// A page whose job runs on the UI thread and keeps events flowing, as the job pages do.
class CFakeJobPage : public CFontablePage {
public:
    explicit CFakeJobPage(CDesktop& desktop) : CFontablePage(132, desktop) {}
    bool IsBusy() const override { return m_bRunning; }
    void RequestStop() override { m_bStop = true; }

    void RunJob(const CMainSheet& sheet) {
        m_bRunning = true;
        emit BusyChanged(true);
        QElapsedTimer clock;
        clock.start();
        while (!m_bStop && clock.elapsed() < 5000) {
            QCoreApplication::processEvents();
            QThread::msleep(2);
            ++m_nSteps;
        }
        m_bSheetVisibleAtEnd = sheet.isVisible();
        m_bRunning = false;
        emit BusyChanged(false);
    }

    bool m_bRunning = false;
    bool m_bStop = false;
    bool m_bSheetVisibleAtEnd = false;
    int m_nSteps = 0;
};

// Every way of closing during a job asks first: No leaves the job running and the sheet open,
// Yes stops the job and closes the sheet once the job has ended.
TEST(MainSheet, ClosingDuringAJobAsksThenStopsTheJobFirst) {
    CTestDesktop desktop;
    TestApp();
    const struct {
        const char* m_szName;
        void (*m_pfnClose)(CMainSheet&);
    } kWays[] = {
        {"Close", [](CMainSheet& sheet) { sheet.CloseButton()->click(); }},
        {"Escape",
         [](CMainSheet& sheet) {
             QKeyEvent key(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
             QCoreApplication::sendEvent(&sheet, &key);
         }},
        {"close box", [](CMainSheet& sheet) { sheet.close(); }},
    };
    for (const auto& way : kWays) {
        SCOPED_TRACE(way.m_szName);
        CMainSheet sheet(desktop);
        auto* page = new CFakeJobPage(desktop);
        sheet.ReplacePage(3, page);
        EXPECT_EQ(sheet.Tabs()->tabText(3), QString::fromUtf8("图像平均"));
        EXPECT_EQ(sheet.Page(3), page);
        EXPECT_EQ(page->Host(), static_cast<IPageHost*>(&sheet));
        CTestDesktop& messages = desktop.StartRecording();

        bool bUntouchedAfterNo = false;
        bool bPendingAfterYes = false;
        bool bVisibleAfterYes = false;
        QTimer::singleShot(0, &sheet, [&] { page->RunJob(sheet); });
        QTimer::singleShot(50, &sheet, [&] {
            messages.m_reply = QMessageBox::No;
            way.m_pfnClose(sheet);
            bUntouchedAfterNo =
                !page->m_bStop && page->m_bRunning && sheet.isVisible() && !sheet.IsClosePending();
            messages.m_reply = QMessageBox::Yes;
            way.m_pfnClose(sheet);
            bPendingAfterYes = sheet.IsClosePending();
            bVisibleAfterYes = sheet.isVisible();
        });
        // Never hang the test: end the loop whatever happens.
        QTimer::singleShot(10000, &sheet, [&] { sheet.QDialog::done(99); });
        const int result = sheet.exec();

        const std::string question = "正在处理…，确定要停止并退出吗？";
        EXPECT_EQ(messages.m_texts, (std::vector<std::string>{question, question}));
        EXPECT_EQ(messages.m_messages[0].m_buttons, QMessageBox::Yes | QMessageBox::No);
        EXPECT_EQ(result, QDialog::Rejected);
        EXPECT_TRUE(bUntouchedAfterNo);
        EXPECT_TRUE(bPendingAfterYes);
        EXPECT_TRUE(bVisibleAfterYes);
        EXPECT_TRUE(page->m_bStop);
        EXPECT_FALSE(page->m_bRunning);
        EXPECT_TRUE(page->m_bSheetVisibleAtEnd);
        EXPECT_FALSE(sheet.isVisible());
        EXPECT_FALSE(sheet.IsClosePending());
    }
}

TEST(MainSheet, ClosingWhileIdleClosesAtOnce) {
    CTestDesktop desktop;
    TestApp();
    CTestDesktop& messages = desktop.StartRecording();
    CMainSheet sheet(desktop);
    sheet.ReplacePage(2, new CFakeJobPage(desktop));
    QTimer::singleShot(0, &sheet, [&] { sheet.CloseButton()->click(); });
    QTimer::singleShot(10000, &sheet, [&] { sheet.QDialog::done(99); });
    EXPECT_EQ(sheet.exec(), QDialog::Rejected);
    EXPECT_FALSE(sheet.IsClosePending());
    EXPECT_TRUE(messages.m_texts.empty());
}

TEST(OpenDocument, OpensFullPathsAndRefusesBareNames) {
    CTestDesktop desktop;
    TestApp();
    EXPECT_TRUE(desktop.OpenDocument(QStringLiteral("/grabs/a.jpg")));
    ASSERT_EQ(desktop.m_urls.size(), 1);
    EXPECT_EQ(desktop.m_urls[0], QUrl::fromLocalFile(QStringLiteral("/grabs/a.jpg")));
    EXPECT_FALSE(desktop.OpenDocument(QStringLiteral("a.jpg")));
    EXPECT_FALSE(desktop.OpenDocument(QString()));
    EXPECT_EQ(desktop.m_urls.size(), 1);
}

}  // namespace
