#include "gui_common/qt_test_app.h"

#include <QDesktopServices>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <clocale>

namespace {

// Points the program's state file (the remembered folders) at a new empty folder.
void FreshStateFolder() {
    static QTemporaryDir root;
    static int s_nTest = 0;
    qputenv("XDG_STATE_HOME", (root.path() + QStringLiteral("/%1").arg(++s_nTest)).toLocal8Bit());
}

class CFreshStateEachTest : public testing::EmptyTestEventListener {
    void OnTestStart(const testing::TestInfo&) override { FreshStateFolder(); }
};

}  // namespace

QApplication& TestApp() {
    if (auto* app = qobject_cast<QApplication*>(QCoreApplication::instance())) {
        return *app;
    }
    // Every test starts without remembered folders, in a state folder of its own.
    testing::UnitTest::GetInstance()->listeners().Append(new CFreshStateEachTest);
    FreshStateFolder();
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
