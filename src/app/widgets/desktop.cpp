#include "app/widgets/desktop.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QSpacerItem>
#include <QUrl>
#include <QWidget>

CDesktop::CDesktop(const QString& stateFile) : m_folders(stateFile) {}

CDesktop::~CDesktop() = default;

QMessageBox::StandardButton CDesktop::ShowMessage(QWidget* parent, const QString& text,
                                                  QMessageBox::Icon icon,
                                                  QMessageBox::StandardButtons buttons) {
    return RunMessageBox(parent, CMessageRecord{text, icon, buttons, {}});
}

QMessageBox::StandardButton CDesktop::RunMessageBox(QWidget* parent,
                                                    const CMessageRecord& message) {
    QMessageBox box(message.m_icon, QString::fromLatin1(kAppTitle), message.m_strText,
                    message.m_buttons, parent);
    for (const auto& [which, text] : message.m_buttonTexts) {
        if (QAbstractButton* button = box.button(which)) {
            button->setText(text);
        }
    }
    // A short text makes a box so narrow that the window's title bar cuts the caption; a spacer
    // in the box's own grid keeps it wide enough.
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout())) {
        grid->addItem(
            new QSpacerItem(kMessageBoxMinWidth, 0, QSizePolicy::Minimum, QSizePolicy::Minimum),
            grid->rowCount(), 0, 1, grid->columnCount());
    }
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

void CDesktop::Beep() {
    QApplication::beep();
}

int CDesktop::Exec(QDialog& dialog) {
    return dialog.exec();
}

bool CDesktop::OpenUrl(const QUrl& url) {
    return QDesktopServices::openUrl(url);
}

bool CDesktop::OpenDocument(const QString& path) {
    if (!path.contains(u'/')) {
        return false;
    }
    return OpenUrl(QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()));
}

bool CDesktop::OpenOrReport(const QString& path, QWidget* parent) {
    if (OpenDocument(path))
        return true;
    const char* text =
        QFileInfo(path).isDir()
            ? QT_TRANSLATE_NOOP("OpenDocument",
                                "没有可以打开文件夹的程序（例如文件管理器）。\n文件夹：\n%1")
            : QT_TRANSLATE_NOOP("OpenDocument", "没有可以打开这个文件的程序。\n文件：\n%1");
    ShowMessage(
        parent,
        QCoreApplication::translate("OpenDocument", text).arg(QDir::toNativeSeparators(path)),
        QMessageBox::Warning);
    return false;
}
