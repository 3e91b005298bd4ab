#include "app/widgets/view_folder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include "app/widgets/desktop.h"
#include "jobs/srch_dir.h"

bool ViewFolder(CDesktop& desktop, const QString& folder, QWidget* parent) {
    CFirstFileFinder finder;
    const std::string found = finder.Find(QFile::encodeName(folder).toStdString(), "*.jpg;*.bmp");
    if (found.empty()) {
        // The same text serves the source folders.
        desktop.ShowMessage(parent, QCoreApplication::translate(
                                        "ViewFolder", "抱歉，在目标目录中找不到可查看的文件。"));
        return false;
    }
    if (!desktop.OpenDocument(QFile::decodeName(QByteArray::fromStdString(found)))) {
        desktop.ShowMessage(
            parent,
            QCoreApplication::translate(
                "ViewFolder", "没有可以打开图像文件的程序（例如看图软件）。\n图像在文件夹：\n%1")
                .arg(QDir::toNativeSeparators(folder)),
            QMessageBox::Warning);
        return false;
    }
    return true;
}
