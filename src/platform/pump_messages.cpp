// The message pump over Qt's event dispatching.
#include "platform/pump_messages.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QThread>

namespace {

// Takes the quit request out of the stream while pumping, so that the work that called the
// pump can go on; the request is passed on to the program's own event loop afterwards.
class CQuitCatcher : public QObject {
public:
    bool m_bQuit = false;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Quit && watched == QCoreApplication::instance()) {
            m_bQuit = true;
            // Stop dispatching: the pump returns as soon as the dispatcher lets it.
            if (auto* dispatcher = QAbstractEventDispatcher::instance())
                dispatcher->interrupt();
            return true;
        }
        return false;
    }
};

}  // namespace

void PumpMessages() {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        return;
    if (QThread::currentThread() != app->thread()) {
        // Another thread's events: no quit request can arrive there.
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        return;
    }
    CQuitCatcher catcher;
    app->installEventFilter(&catcher);
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    app->removeEventFilter(&catcher);
    if (catcher.m_bQuit) {
        // The quit stays pending for the program's event loop, which then ends with -1.
        QCoreApplication::exit(-1);
    }
}
