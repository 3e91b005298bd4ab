// The folder dialog: its field, the files it lists, and the OK checks on real folders.
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>

#include <iterator>

#include "app/widgets/select_folder_dialog.h"
#include "gui_common/qt_test_app.h"

namespace {

const QString kQuestion = QStringLiteral("\n\nThis path does not exist. Do you want to create it?");

void Touch(const QString& path) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
}

TEST(SelectFolderDialog, TitleFieldAndFilters) {
    CTestDesktop desktop;
    TestApp();
    // The English texts stay the system dialog's, byte for byte.
    CLanguageScope english("en_US");
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    CSelectFolderDialog dialog(desktop, true, dir.path(), BmpFolderFilters());
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Select folder"));
    EXPECT_TRUE(dialog.testOption(QFileDialog::DontUseNativeDialog));
    EXPECT_EQ(dialog.PathEdit()->text(), dir.path());
    EXPECT_EQ(dialog.CurrentFolder(), dir.path());
    EXPECT_EQ(dialog.nameFilters(), BmpFolderFilters());
    EXPECT_EQ(QDir(dialog.directory()).absolutePath(), dir.path());
    bool bLabel = false;
    for (const QLabel* label : dialog.findChildren<QLabel*>()) {
        if (label->text() == QStringLiteral("Current Folder:")) {
            bLabel = true;
            EXPECT_EQ(label->buddy(), dialog.PathEdit());
        }
    }
    EXPECT_TRUE(bLabel);
    dialog.show();
    EXPECT_TRUE(dialog.PathEdit()->isVisible());
    EXPECT_TRUE(dialog.OkButton()->isVisible());
    EXPECT_TRUE(dialog.OkButton()->isEnabled());
    dialog.reject();
}

TEST(SelectFolderDialog, FieldFollowsTheBrowsing) {
    CTestDesktop desktop;
    TestApp();
    QTemporaryDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("inner")));
    CSelectFolderDialog dialog(desktop, true, dir.path(), JpegFolderFilters());
    const QString inner = dir.filePath(QStringLiteral("inner"));
    dialog.setDirectory(inner);
    EXPECT_EQ(dialog.PathEdit()->text(), inner);
    EXPECT_EQ(dialog.CurrentFolder(), inner);
}

// Names the dialog's list shows in its folder, once the model has read it.
QStringList ListedNames(CSelectFolderDialog& dialog, int expected) {
    auto* list = dialog.findChild<QAbstractItemView*>(QStringLiteral("listView"));
    if (list == nullptr || list->model() == nullptr) {
        return {};
    }
    QStringList names;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 5000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        names.clear();
        const QModelIndex root = list->rootIndex();
        for (int row = 0; row < list->model()->rowCount(root); ++row) {
            const QModelIndex index = list->model()->index(row, 0, root);
            names << index.data().toString();
        }
        if (names.size() >= expected) {
            break;
        }
    }
    names.sort();
    return names;
}

TEST(SelectFolderDialog, ListsTheFilesOfTheFilterAndTheFolders) {
    CTestDesktop desktop;
    TestApp();
    QTemporaryDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("sub")));
    for (const char* name : {"a.bmp", "B.BMP", "c.jpg", "d.txt"}) {
        Touch(dir.filePath(QString::fromLatin1(name)));
    }
    CSelectFolderDialog bmp(desktop, true, dir.path(), BmpFolderFilters());
    bmp.show();
    EXPECT_EQ(ListedNames(bmp, 3), (QStringList{QStringLiteral("B.BMP"), QStringLiteral("a.bmp"),
                                                QStringLiteral("sub")}));
    bmp.reject();
    CSelectFolderDialog jpeg(desktop, true, dir.path(), JpegFolderFilters());
    jpeg.show();
    EXPECT_EQ(ListedNames(jpeg, 2), (QStringList{QStringLiteral("c.jpg"), QStringLiteral("sub")}));
    jpeg.reject();
}

struct OkCase {
    const char* m_szTyped;  // "%1" stands for the temporary folder
    QMessageBox::StandardButton m_reply;
    bool m_bAccepted;
    const char* m_szSelected;      // "%1" as above; empty when not accepted
    const char* m_szFirstMessage;  // exact text, "%1" as above; empty for none
    bool m_bCreated;               // the selected folder exists afterwards
};

TEST(SelectFolderDialog, OkChecksTheFolder) {
    CTestDesktop desktop;
    TestApp();
    // The English texts stay the system dialog's, byte for byte.
    CLanguageScope english("en_US");
    const OkCase kCases[] = {
        // Nothing typed: the folder the browser shows.
        {"", QMessageBox::Yes, true, "%1", "", true},
        {"%1", QMessageBox::Yes, true, "%1", "", true},
        // A trailing separator is dropped.
        {"%1/have/", QMessageBox::Yes, true, "%1/have", "", true},
        // Doubled separators anywhere are refused.
        {"%1//have", QMessageBox::Yes, false, "", "Invalid Folder", false},
        {"//server/share", QMessageBox::Yes, false, "", "Invalid Folder", false},
        {"%1/have//", QMessageBox::Yes, false, "", "Invalid Folder", false},
        // Missing folders are created with their parents on Yes...
        {"%1/new/deeper/deepest", QMessageBox::Yes, true, "%1/new/deeper/deepest",
         "%1/new/deeper/deepest\n\nThis path does not exist. Do you want to create it?", true},
        {"%1/made/", QMessageBox::Yes, true, "%1/made",
         "%1/made\n\nThis path does not exist. Do you want to create it?", true},
        // ...and taken as they are on No.
        {"%1/absent", QMessageBox::No, true, "%1/absent",
         "%1/absent\n\nThis path does not exist. Do you want to create it?", false},
        // Relative text is taken in the browsed folder.
        {"relative/sub", QMessageBox::Yes, true, "%1/relative/sub",
         "%1/relative/sub\n\nThis path does not exist. Do you want to create it?", true},
        // A file is no folder, and none can be made inside it.
        {"%1/file.bmp", QMessageBox::Yes, false, "",
         "%1/file.bmp\n\nThis path does not exist. Do you want to create it?", false},
        {"%1/file.bmp/sub", QMessageBox::Yes, false, "",
         "%1/file.bmp/sub\n\nThis path does not exist. Do you want to create it?", false},
    };
    for (size_t i = 0; i < std::size(kCases); ++i) {
        const OkCase& c = kCases[i];
        SCOPED_TRACE(std::to_string(i) + ": " + c.m_szTyped);
        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("have")));
        Touch(dir.filePath(QStringLiteral("file.bmp")));
        auto expand = [&](const char* text) { return QString::fromUtf8(text).arg(dir.path()); };

        CTestDesktop& recorder = desktop.StartRecording();
        recorder.m_reply = c.m_reply;
        CSelectFolderDialog dialog(desktop, true, dir.path(), BmpFolderFilters());
        dialog.PathEdit()->setText(expand(c.m_szTyped));
        dialog.show();
        dialog.OkButton()->click();

        EXPECT_EQ(dialog.result() == QDialog::Accepted, c.m_bAccepted);
        EXPECT_EQ(dialog.isVisible(), !c.m_bAccepted);
        if (c.m_bAccepted) {
            EXPECT_EQ(dialog.GetSelectedFolder(), expand(c.m_szSelected));
            EXPECT_EQ(QFileInfo(dialog.GetSelectedFolder()).isDir(), c.m_bCreated);
        } else {
            EXPECT_TRUE(dialog.GetSelectedFolder().isEmpty());
        }
        if (*c.m_szFirstMessage == '\0') {
            EXPECT_TRUE(recorder.m_messages.empty());
        } else {
            ASSERT_FALSE(recorder.m_messages.empty());
            EXPECT_EQ(recorder.m_messages[0].m_strText, expand(c.m_szFirstMessage));
            if (recorder.m_messages[0].m_strText.endsWith(kQuestion)) {
                EXPECT_EQ(recorder.m_messages[0].m_buttons, QMessageBox::Yes | QMessageBox::No);
                EXPECT_EQ(recorder.m_messages[0].m_icon, QMessageBox::Question);
            } else {
                EXPECT_EQ(recorder.m_messages[0].m_icon, QMessageBox::Critical);
            }
        }
        // A refused creation says so, naming the folder.
        if (!c.m_bAccepted && recorder.m_messages.size() > 1) {
            EXPECT_TRUE(recorder.m_messages[1].m_strText.startsWith(
                QStringLiteral("Could not create folder:\n") + expand(c.m_szTyped)));
        }
        dialog.reject();
    }
}

TEST(SelectFolderDialog, FailedCreationIsReportedAndTheDialogStays) {
    CTestDesktop desktop;
    TestApp();
    // The English texts stay the system dialog's, byte for byte.
    CLanguageScope english("en_US");
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    Touch(dir.filePath(QStringLiteral("file.bmp")));
    CTestDesktop& recorder = desktop.StartRecording();
    CSelectFolderDialog dialog(desktop, true, dir.path(), BmpFolderFilters());
    const QString target = dir.filePath(QStringLiteral("file.bmp/sub"));
    dialog.PathEdit()->setText(target);
    dialog.show();
    dialog.OkButton()->click();
    ASSERT_EQ(recorder.m_messages.size(), 2u);
    EXPECT_TRUE(recorder.m_messages[1].m_strText.startsWith(
        QStringLiteral("Could not create folder:\n") + target));
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_NE(dialog.result(), QDialog::Accepted);
    // Fixing the text and pressing OK again succeeds.
    dialog.PathEdit()->setText(dir.filePath(QStringLiteral("sub")));
    dialog.OkButton()->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.GetSelectedFolder(), dir.filePath(QStringLiteral("sub")));
    EXPECT_TRUE(QFileInfo(dir.filePath(QStringLiteral("sub"))).isDir());
}

TEST(SelectFolderDialog, HomeFolderShorthand) {
    CTestDesktop desktop;
    TestApp();
    CSelectFolderDialog dialog(desktop, true, QDir::tempPath(), BmpFolderFilters());
    dialog.PathEdit()->setText(QStringLiteral("~"));
    dialog.OkButton()->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.GetSelectedFolder(), QDir::homePath());
}

}  // namespace
