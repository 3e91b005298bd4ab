// The desktop handed down to the widgets: what one is asked stays with it, and the remembered
// folders live in the state file it was given and nowhere else.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QTemporaryDir>

#include <vector>

#include "app/widgets/link_label.h"
#include "app/widgets/remembered_folders.h"
#include "app/widgets/select_folder_dialog.h"
#include "gui_common/qt_test_app.h"

namespace {

// Two desktops side by side: a control answers to the one it was given, never to the other.
TEST(Desktop, EachControlAsksOnlyItsOwnDesktop) {
    TestApp();
    QTemporaryDir dir;
    const struct {
        const char* m_szName;
        void (*m_pfnAsk)(CDesktop& desktop, const QString& folder);
        int m_nBeeps;
    } kAsks[] = {
        {"a link nothing opens",
         [](CDesktop& desktop, const QString&) {
             CLinkLabel link(desktop, QStringLiteral("home"),
                             QStringLiteral("https://tarnwick.example.org/"));
             link.SetOpener([](const QString&) { return OpenFailure(kOpenNoAssociation); });
             link.Follow();
         },
         1},
        {"a folder that is not there",
         [](CDesktop& desktop, const QString& folder) {
             CSelectFolderDialog dialog(desktop, true, folder, BmpFolderFilters());
             dialog.PathEdit()->setText(folder + QStringLiteral("/missing/deeper"));
             dialog.accept();
         },
         0},
    };
    for (const auto& ask : kAsks) {
        SCOPED_TRACE(ask.m_szName);
        CTestDesktop asked;
        CTestDesktop other;
        asked.m_reply = QMessageBox::No;
        ask.m_pfnAsk(asked, dir.path());
        EXPECT_EQ(asked.m_messages.size(), 1u);
        EXPECT_EQ(asked.m_nBeeps, ask.m_nBeeps);
        EXPECT_TRUE(other.m_messages.empty());
        EXPECT_EQ(other.m_nBeeps, 0);
    }
}

// Stores over one state file share their folders; stores over different files share nothing.
// An empty path is never remembered and announces nothing.
TEST(RememberedFolders, AFolderLivesInItsStateFileOnly) {
    TestApp();
    const struct {
        const char* m_szName;
        bool m_bSameFile;
        QString m_strSet;
        bool m_bReaderSees;
        int m_nAnnounced;
    } kCases[] = {
        {"same file", true, QStringLiteral("/grabs/a"), true, 1},
        {"another file", false, QStringLiteral("/grabs/b"), false, 1},
        {"empty path", true, QString(), false, 0},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.m_szName);
        QTemporaryDir dir;
        const QString writerFile = dir.filePath(QStringLiteral("one/state.ini"));
        const QString readerFile =
            c.m_bSameFile ? writerFile : dir.filePath(QStringLiteral("two/state.ini"));
        CRememberedFolders writer(writerFile);
        CRememberedFolders reader(readerFile);
        int nAnnounced = 0;
        QObject::connect(&writer, &CRememberedFolders::Changed,
                         [&](CRememberedFolders::Folder which, const QString& path) {
                             EXPECT_EQ(which, CRememberedFolders::Capture);
                             EXPECT_EQ(path, c.m_strSet);
                             ++nAnnounced;
                         });
        writer.Set(CRememberedFolders::Capture, c.m_strSet);
        EXPECT_EQ(nAnnounced, c.m_nAnnounced);
        EXPECT_EQ(writer.Get(CRememberedFolders::Capture), c.m_nAnnounced ? c.m_strSet : QString());
        EXPECT_EQ(reader.Get(CRememberedFolders::Capture),
                  c.m_bReaderSees ? c.m_strSet : QString());
        // The other folders stay empty.
        EXPECT_TRUE(reader.Get(CRememberedFolders::Media).isEmpty());
        EXPECT_TRUE(writer.Get(CRememberedFolders::Media).isEmpty());
    }
}

}  // namespace
