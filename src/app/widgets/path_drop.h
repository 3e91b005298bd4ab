// Lets a path field take a folder or a file dragged onto it from a file manager.
#pragma once

#include <QObject>
#include <QString>

#include <functional>

class QMimeData;
class QWidget;

class CPathDrop : public QObject {
    Q_OBJECT
public:
    enum Accept { Folders = 1, Files = 2 };

    // `field` accepts one local path of the kinds in `accept` (a combination of Accept); a drop
    // hands it to `onDrop`. The filter belongs to `field`.
    CPathDrop(QWidget* field, int accept, std::function<void(const QString&)> onDrop);

    // The one local path `mime` carries that `accept` takes, or empty.
    static QString AcceptedPath(const QMimeData* mime, int accept);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    int m_accept;
    std::function<void(const QString&)> m_onDrop;
};
