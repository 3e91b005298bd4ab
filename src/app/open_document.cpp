#include "app/open_document.h"

#include <QDesktopServices>
#include <QUrl>

bool OpenDocument(const QString& path) {
    if (!path.contains(u'/')) {
        return false;
    }
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}
