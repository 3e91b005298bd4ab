#include "app/widgets/path_drop.h"

#include <QDir>
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QUrl>
#include <QWidget>

#include <utility>

CPathDrop::CPathDrop(QWidget* field, int accept, std::function<void(const QString&)> onDrop)
    : QObject(field), m_accept(accept), m_onDrop(std::move(onDrop)) {
    field->setAcceptDrops(true);
    field->installEventFilter(this);
}

QString CPathDrop::AcceptedPath(const QMimeData* mime, int accept) {
    if (mime == nullptr || !mime->hasUrls() || mime->urls().size() != 1)
        return {};
    const QUrl url = mime->urls().constFirst();
    if (!url.isLocalFile())
        return {};
    const QFileInfo info(url.toLocalFile());
    const bool bTaken = ((accept & Folders) && info.isDir()) || ((accept & Files) && info.isFile());
    // Without the trailing "/" a folder URL may carry.
    return bTaken ? QDir::cleanPath(info.absoluteFilePath()) : QString();
}

bool CPathDrop::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::DragEnter:
        case QEvent::DragMove: {
            auto* drag = static_cast<QDropEvent*>(event);
            if (AcceptedPath(drag->mimeData(), m_accept).isEmpty()) {
                drag->ignore();
            } else {
                drag->acceptProposedAction();
            }
            return true;
        }
        case QEvent::Drop: {
            auto* drop = static_cast<QDropEvent*>(event);
            const QString path = AcceptedPath(drop->mimeData(), m_accept);
            if (path.isEmpty()) {
                drop->ignore();
                return true;
            }
            drop->acceptProposedAction();
            m_onDrop(path);
            return true;
        }
        default:
            return QObject::eventFilter(watched, event);
    }
}
