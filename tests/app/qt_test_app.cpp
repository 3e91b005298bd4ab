#include "qt_test_app.h"

#include <QDesktopServices>

QApplication& TestApp() {
    static int argc = 1;
    static char name[] = "test_app";
    static char* argv[] = {name, nullptr};
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

CMessageRecorder::CMessageRecorder() {
    m_previous = SetMessageHook([this](const CMessageRecord& record) {
        m_messages.push_back(record);
        if (record.m_buttons.testFlag(QMessageBox::Yes)) {
            return m_reply;
        }
        return QMessageBox::Ok;
    });
    m_previousBeep = SetBeepHook([this] { ++m_nBeeps; });
}

CMessageRecorder::~CMessageRecorder() {
    SetMessageHook(m_previous);
    SetBeepHook(m_previousBeep);
}

CUrlCatcher::CUrlCatcher(const QString& scheme) : m_strScheme(scheme) {
    QDesktopServices::setUrlHandler(m_strScheme, this, "Open");
}

CUrlCatcher::~CUrlCatcher() {
    QDesktopServices::unsetUrlHandler(m_strScheme);
}
