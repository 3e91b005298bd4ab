#include "gui_common/qt_test_app.h"

#include <QDesktopServices>
#include <QTemporaryDir>

#include <clocale>

QApplication& TestApp() {
    if (auto* app = qobject_cast<QApplication*>(QCoreApplication::instance())) {
        return *app;
    }
    // The remembered folders of the program go to a state file of the test program's own.
    static QTemporaryDir stateHome;
    qputenv("XDG_STATE_HOME", stateHome.path().toLocal8Bit());
    static int argc = 1;
    static char name[] = "tarnwick-test";
    static char* argv[] = {name, nullptr};
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    static QApplication* app = new QApplication(argc, argv);
    // libmpv parses numbers with the C locale; Qt has just set the user's.
    std::setlocale(LC_NUMERIC, "C");
    return *app;
}

CMessageRecorder::CMessageRecorder() {
    m_previous = SetMessageHook([this](const CMessageRecord& record) {
        m_messages.push_back(record);
        m_texts.push_back(record.m_strText.toStdString());
        m_icons.push_back(record.m_icon);
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
