#include "app/widgets/open_document.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>

#include "app/widgets/message_box.h"

#include <utility>

namespace {

DocumentOpener& Opener() {
    static DocumentOpener s_opener;
    return s_opener;
}

}  // namespace

bool OpenDocument(const QString& path) {
    if (!path.contains(u'/')) {
        return false;
    }
    const QUrl url = QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath());
    return Opener() ? Opener()(url) : QDesktopServices::openUrl(url);
}

bool OpenOrReport(const QString& path, QWidget* parent) {
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

DocumentOpener SetDocumentOpener(DocumentOpener opener) {
    return std::exchange(Opener(), std::move(opener));
}
