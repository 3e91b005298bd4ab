// The hyperlink label: command cutting, error texts, fitting, colours, clicks; the About box.
#include <gtest/gtest.h>

#include <QDesktopServices>
#include <QDir>
#include <QElapsedTimer>
#include <QEnterEvent>
#include <QFile>
#include <QFileInfo>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QThread>
#include <QUrl>

#include <iterator>

#include "app/about_box.h"
#include "app/widgets/link_label.h"
#include "gui_common/qt_test_app.h"

namespace {

TEST(CutBrowserCommand, CutsAtTheQuotedPlaceholderFirstThenTheBareOne) {
    const struct {
        const char* m_szCommand;
        const char* m_szCut;
    } kCases[] = {
        {"\"/opt/web browser/run\" -nohome \"%1\"", "\"/opt/web browser/run\" -nohome "},
        {"\"/opt/web/run\" --new-window \"%u\"", "\"/opt/web/run\" --new-window "},
        {"firefox-esr %u", "firefox-esr "},
        {"chromium %U", "chromium "},
        {"viewer --open %F", "viewer --open "},
        {"browser", "browser"},
        {"browser --x %f \"%u\"", "browser --x %f "},
        {"browser 100%% %u", "browser 100%% "},
        {"browser --flag%", "browser --flag%"},
        {"", ""},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.m_szCommand);
        EXPECT_EQ(CutBrowserCommand(QString::fromUtf8(c.m_szCommand)),
                  QString::fromUtf8(c.m_szCut));
    }
}

TEST(BrowserCommandArgs, ProgramAndOptionsThenTheTarget) {
    const QString target = QStringLiteral("https://tarnwick.example.org/a b");
    const struct {
        const char* m_szCommand;
        QStringList m_expected;
    } kCases[] = {
        {"\"/opt/web browser/run\" -nohome \"%1\"",
         {QStringLiteral("/opt/web browser/run"), QStringLiteral("-nohome"), target}},
        {"browser", {QStringLiteral("browser"), target}},
        {"browser %i %u", {QStringLiteral("browser"), target}},
        {"browser 100%% %u", {QStringLiteral("browser"), QStringLiteral("100%"), target}},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.m_szCommand);
        EXPECT_EQ(BrowserCommandArgs(QString::fromUtf8(c.m_szCommand), target), c.m_expected);
    }
}

// In English the texts are the system's own, byte for byte; in Chinese they are the program's.
TEST(HyperlinkErrorMessage, NamesTheFailure) {
    CLanguageScope english("en_US");
    const struct {
        int m_nCode;
        const char* m_szText;
    } kCases[] = {
        {26, "Unable to open hyperlink:\n\nA sharing violation occurred. "},
        {99, "Unable to open hyperlink:\n\nUnknown Error (99) occurred."},
        {-1, "Unable to open hyperlink:\n\nUnknown Error (-1) occurred."},
        {0, "Unable to open hyperlink:\n\nThe operating system is out\nof memory or resources."},
        {2, "Unable to open hyperlink:\n\nThe specified file was not found."},
        {31,
         "Unable to open hyperlink:\n\nThere is no application associated\nwith the given "
         "filename extension."},
        {30,
         "Unable to open hyperlink:\n\nThe DDE transaction could not\nbe completed because other "
         "DDE transactions\nwere being processed."},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.m_nCode);
        EXPECT_EQ(HyperlinkErrorMessage(c.m_nCode), QString::fromUtf8(c.m_szText));
    }
}

TEST(HyperlinkErrorMessage, IsChineseInAChineseLocale) {
    CLanguageScope chinese("zh_CN");
    const struct {
        int m_nCode;
        const char* m_szText;
    } kCases[] = {
        {26, "无法打开超链接：\n\n发生共享冲突。"},
        {99, "无法打开超链接：\n\n发生未知错误 (99)。"},
        {2, "无法打开超链接：\n\n找不到指定的文件。"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.m_nCode);
        EXPECT_EQ(HyperlinkErrorMessage(c.m_nCode), QString::fromUtf8(c.m_szText));
    }
}

TEST(ReadDesktopExec, TakesTheExecOfTheDesktopEntryGroup) {
    CTestDesktop desktop;
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("web.desktop"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(
        "# comment\n[Desktop Action new-window]\nExec=web --window %u\n\n[Desktop Entry]\n"
        "Name=Web\nTryExec=web\nExec = \"/opt/web/web\" %U\n[Other]\nExec=other\n");
    file.close();
    EXPECT_EQ(ReadDesktopExec(path), QStringLiteral("\"/opt/web/web\" %U"));
    EXPECT_EQ(ReadDesktopExec(dir.filePath(QStringLiteral("missing.desktop"))), QString());
}

TEST(FitRectToText, KeepsTheEdgeOrCentreTheAlignmentNames) {
    const QSize text(40, 14);
    const struct {
        QRect m_rect;
        Qt::Alignment m_alignment;
        QRect m_expected;
    } kCases[] = {
        // Left and top kept.
        {QRect(10, 20, 100, 30), Qt::AlignLeft | Qt::AlignTop, QRect(10, 20, 40, 14)},
        // Right edge 109 kept.
        {QRect(10, 20, 100, 30), Qt::AlignRight | Qt::AlignTop, QRect(70, 20, 40, 14)},
        // 60 spare pixels: 30 off each side; 16 spare rows: 8 off top and bottom.
        {QRect(10, 20, 100, 30), Qt::AlignHCenter | Qt::AlignVCenter, QRect(40, 28, 40, 14)},
        // 61 spare pixels: 30 off each side (rounded toward zero), centre kept.
        {QRect(10, 20, 101, 31), Qt::AlignCenter, QRect(40, 28, 41, 15)},
        {QRect(10, 20, 100, 30), Qt::AlignLeft | Qt::AlignVCenter, QRect(10, 28, 40, 14)},
    };
    for (size_t i = 0; i < std::size(kCases); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(FitRectToText(kCases[i].m_rect, text, kCases[i].m_alignment),
                  kCases[i].m_expected);
    }
    // Centred: the centre does not move.
    const QRect wide(0, 0, 300, 20);
    const QRect fitted = FitRectToText(wide, text, Qt::AlignCenter);
    EXPECT_EQ(fitted.center().x(), wide.center().x());
}

TEST(LinkLabel, LooksLikeALinkAndKnowsItsTarget) {
    CTestDesktop desktop;
    TestApp();
    CLinkLabel link(desktop, QStringLiteral("https://tarnwick.example.org/"));
    EXPECT_EQ(link.GetURL(), QStringLiteral("https://tarnwick.example.org/"));
    EXPECT_EQ(link.toolTip(), link.GetURL());
    EXPECT_TRUE(link.font().underline());
    EXPECT_EQ(link.cursor().shape(), Qt::PointingHandCursor);
    EXPECT_EQ(link.CurrentColour(), QColor(0, 0, 238));
    EXPECT_EQ(link.palette().color(QPalette::WindowText), QColor(0, 0, 238));

    CLinkLabel empty(desktop, QString(), QStringLiteral("mailto:tarnwick@example.invalid"));
    EXPECT_EQ(empty.text(), QStringLiteral("mailto:tarnwick@example.invalid"));
    empty.SetURL(QStringLiteral("https://other.example.org/"));
    EXPECT_EQ(empty.toolTip(), QStringLiteral("https://other.example.org/"));

    // Fitted to its text when placed by hand.
    QWidget parent;
    auto* placed = new CLinkLabel(desktop, QStringLiteral("mail"), QString(), &parent);
    placed->setAlignment(Qt::AlignRight | Qt::AlignTop);
    placed->setGeometry(10, 10, 300, 40);
    placed->FitToText();
    const QSize textSize = QFontMetrics(placed->font()).size(Qt::TextSingleLine, placed->text());
    EXPECT_EQ(placed->geometry(),
              QRect(310 - textSize.width(), 10, textSize.width(), textSize.height()));
}

TEST(LinkLabel, HoverChangesTheColourAndLeavingRestoresIt) {
    CTestDesktop desktop;
    TestApp();
    CLinkLabel link(desktop, QStringLiteral("https://tarnwick.example.org/"));
    link.m_crHoverColour = QColor(1, 2, 3);
    QEnterEvent enter(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
    QCoreApplication::sendEvent(&link, &enter);
    EXPECT_TRUE(link.IsHovering());
    EXPECT_EQ(link.palette().color(QPalette::WindowText), QColor(1, 2, 3));
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(&link, &leave);
    EXPECT_FALSE(link.IsHovering());
    EXPECT_EQ(link.palette().color(QPalette::WindowText), QColor(0, 0, 238));
}

void Click(QWidget& widget, QPoint at) {
    QMouseEvent press(QEvent::MouseButtonPress, at, widget.mapToGlobal(at), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, at, widget.mapToGlobal(at), Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&widget, &press);
    QCoreApplication::sendEvent(&widget, &release);
}

TEST(LinkLabel, ClickOpensTheTargetAndShowsTheVisitedColour) {
    CTestDesktop desktop;
    TestApp();
    CTestDesktop& recorder = desktop.StartRecording();
    CLinkLabel link(desktop, QStringLiteral("home"),
                    QStringLiteral("https://tarnwick.example.org/"));
    QStringList opened;
    link.SetOpener([&](const QString& target) -> OpenFailure {
        opened << target;
        return std::nullopt;
    });
    Click(link, QPoint(1, 1));
    EXPECT_EQ(opened, QStringList{QStringLiteral("https://tarnwick.example.org/")});
    EXPECT_TRUE(link.IsVisited());
    EXPECT_EQ(link.palette().color(QPalette::WindowText), QColor(85, 26, 139));
    EXPECT_TRUE(recorder.m_messages.empty());
    EXPECT_EQ(recorder.m_nBeeps, 0);
    // A release outside the label is no click.
    Click(link, QPoint(-5, -5));
    EXPECT_EQ(opened.size(), 1);
}

TEST(LinkLabel, FailedOpenBeepsAndExplainsAndStaysUnvisited) {
    CTestDesktop desktop;
    TestApp();
    for (const int code : {26, 0, -1, kOpenNoAssociation}) {
        SCOPED_TRACE(code);
        CTestDesktop& recorder = desktop.StartRecording();
        CLinkLabel link(desktop, QStringLiteral("home"),
                        QStringLiteral("https://tarnwick.example.org/"));
        link.SetOpener([code](const QString&) { return OpenFailure(code); });
        link.Follow();
        EXPECT_FALSE(link.IsVisited());
        EXPECT_EQ(recorder.m_nBeeps, 1);
        ASSERT_EQ(recorder.m_messages.size(), 1u);
        EXPECT_EQ(recorder.m_messages[0].m_strText, HyperlinkErrorMessage(code));
        EXPECT_EQ(recorder.m_messages[0].m_icon, QMessageBox::Warning);
        EXPECT_EQ(link.palette().color(QPalette::WindowText), QColor(0, 0, 238));
    }
}

TEST(OpenLinkTarget, HandsWebAndMailTargetsToTheDesktop) {
    TestApp();
    CUrlCatcher web(QStringLiteral("https"));
    CUrlCatcher mail(QStringLiteral("mailto"));
    EXPECT_EQ(OpenLinkTarget(QStringLiteral("https://tarnwick.example.org/x")), std::nullopt);
    EXPECT_EQ(OpenLinkTarget(QStringLiteral("mailto:tarnwick@example.invalid")), std::nullopt);
    ASSERT_EQ(web.m_urls.size(), 1);
    EXPECT_EQ(web.m_urls[0].toString(), QStringLiteral("https://tarnwick.example.org/x"));
    ASSERT_EQ(mail.m_urls.size(), 1);
    EXPECT_EQ(mail.m_urls[0].toString(), QStringLiteral("mailto:tarnwick@example.invalid"));
}

TEST(AboutBox, LinksToMailAndHomepage) {
    CTestDesktop desktop;
    TestApp();
    CAboutBox box(desktop);
    EXPECT_EQ(box.windowTitle(), QString::fromUtf8("Tarnwick版本信息"));
    const QString email = QString::fromLatin1(CAboutBox::AuthorEmail());
    EXPECT_EQ(box.EmailLink()->text(), email);
    EXPECT_EQ(box.EmailLink()->GetURL(), QStringLiteral("mailto:") + email);
    EXPECT_EQ(box.HomepageLink()->GetURL(), QString::fromLatin1(CAboutBox::Homepage()));
    EXPECT_EQ(box.HomepageLink()->toolTip(), box.HomepageLink()->GetURL());
    // Placeholder addresses only.
    EXPECT_TRUE(email.endsWith(QStringLiteral(".invalid")));
    EXPECT_TRUE(QUrl(box.HomepageLink()->GetURL()).host().endsWith(QStringLiteral("example.org")));
}

}  // namespace

namespace {

// Points the freedesktop folders at a sandbox for the life of the object.
class CXdgSandbox {
public:
    explicit CXdgSandbox(const QString& root) {
        for (const char* var : kVars) {
            m_saved.append(qgetenv(var));
        }
        qputenv("XDG_CONFIG_HOME", (root + QStringLiteral("/config")).toLocal8Bit());
        qputenv("XDG_CONFIG_DIRS", (root + QStringLiteral("/none")).toLocal8Bit());
        qputenv("XDG_DATA_HOME", (root + QStringLiteral("/data")).toLocal8Bit());
        qputenv("XDG_DATA_DIRS", (root + QStringLiteral("/none")).toLocal8Bit());
    }
    ~CXdgSandbox() {
        for (int i = 0; i < 4; ++i) {
            if (m_saved[i].isEmpty()) {
                qunsetenv(kVars[i]);
            } else {
                qputenv(kVars[i], m_saved[i]);
            }
        }
    }

private:
    static constexpr const char* kVars[4] = {"XDG_CONFIG_HOME", "XDG_CONFIG_DIRS", "XDG_DATA_HOME",
                                             "XDG_DATA_DIRS"};
    QList<QByteArray> m_saved;
};

void WriteFile(const QString& path, const QByteArray& data) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    file.write(data);
}

// Where the desktop cannot open a target (as on the offscreen platform), the default browser's
// command line is started with the target in place of its placeholder.
TEST(OpenLinkTarget, FallsBackToTheDefaultBrowsersCommand) {
    CTestDesktop desktop;
    TestApp();
    if (QDesktopServices::openUrl(QUrl(QStringLiteral("tarnwick-test:x")))) {
        GTEST_SKIP() << "this platform opens every address itself";
    }
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    CXdgSandbox sandbox(dir.path());
    const QString out = dir.filePath(QStringLiteral("args.txt"));
    const QString script = dir.filePath(QStringLiteral("fake web"));
    WriteFile(script, ("#!/bin/sh\nprintf '%s\\n' \"$@\" > '" + out + ".part'\nmv '" + out +
                       ".part' '" + out + "'\n")
                          .toLocal8Bit());
    QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    WriteFile(dir.filePath(QStringLiteral("data/applications/fakeweb.desktop")),
              ("[Desktop Entry]\nType=Application\nName=Fake\nExec=\"" + script +
               "\" --new-window \"%u\"\n")
                  .toLocal8Bit());
    WriteFile(dir.filePath(QStringLiteral("data/applications/gone.desktop")),
              "[Desktop Entry]\nType=Application\nName=Gone\nExec=/nonexistent/browser %u\n");

    // Nothing associated yet.
    EXPECT_EQ(OpenLinkTarget(QStringLiteral("https://tarnwick.example.org/")), kOpenNoAssociation);

    // A browser whose program is missing.
    WriteFile(dir.filePath(QStringLiteral("config/mimeapps.list")),
              "[Default Applications]\ntext/html=gone.desktop\n");
    EXPECT_EQ(OpenLinkTarget(QStringLiteral("https://tarnwick.example.org/")), kOpenFileNotFound);

    // The first listed entry that exists wins.
    WriteFile(dir.filePath(QStringLiteral("config/mimeapps.list")),
              "[Added Associations]\ntext/html=gone.desktop\n[Default Applications]\n"
              "text/html=missing.desktop;fakeweb.desktop;gone.desktop;\n");
    const QString target = QStringLiteral("https://tarnwick.example.org/a b?x=1&y='2'");
    ASSERT_EQ(OpenLinkTarget(target), std::nullopt);
    QElapsedTimer clock;
    clock.start();
    while (!QFileInfo::exists(out) && clock.elapsed() < 10000) {
        QThread::msleep(20);
    }
    QFile args(out);
    ASSERT_TRUE(args.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromLocal8Bit(args.readAll()),
              QStringLiteral("--new-window\n") + target + u'\n');
}

}  // namespace
