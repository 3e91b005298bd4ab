#include "app/widgets/view_folder.h"

#include <QCoreApplication>
#include <QFile>

#include "app/widgets/message_box.h"
#include "app/widgets/open_document.h"
#include "jobs/srch_dir.h"

bool ViewFolder(const QString& folder, QWidget* parent) {
    CFirstFileFinder finder;
    const std::string found = finder.Find(QFile::encodeName(folder).toStdString(), "*.jpg;*.bmp");
    if (found.empty()) {
        // The same text serves the source folders.
        ShowMessage(parent, QCoreApplication::translate("ViewFolder",
                                                        "抱歉，在目标目录中找不到可查看的文件。"));
        return false;
    }
    OpenDocument(QFile::decodeName(QByteArray::fromStdString(found)));
    return true;
}
