#include "app/widgets/open_document.h"

#include <QDesktopServices>
#include <QFileInfo>

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

DocumentOpener SetDocumentOpener(DocumentOpener opener) {
    return std::exchange(Opener(), std::move(opener));
}
