#include "app/widgets/open_document.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QUrl>

bool OpenDocument(const QString& path) {
    if (!path.contains(u'/')) {
        return false;
    }
    return QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()));
}
