#include "gui_common/qt_test_app.h"

#include <QDesktopServices>
#include <QTemporaryDir>
#include <QTranslator>

#include <gtest/gtest.h>

#include <clocale>

#include "app/startup.h"

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

CLanguageScope::CLanguageScope(const char* locale) {
    QApplication& app = TestApp();
    const QLocale wanted(QString::fromLatin1(locale));
    QLocale::setDefault(wanted);
    m_pQt = InstallQtTranslation(app, wanted);
    // Installed by hand so that both translators are known and can be taken out again.
    if (const QString name = TranslationFor(wanted); !name.isEmpty()) {
        m_pProgram = new QTranslator;
        if (!m_pProgram->load(name, QStringLiteral(":/i18n")) ||
            !QCoreApplication::installTranslator(m_pProgram)) {
            delete m_pProgram;
            m_pProgram = nullptr;
        }
    }
}

CLanguageScope::~CLanguageScope() {
    for (QTranslator* translator : {m_pProgram, m_pQt}) {
        if (translator != nullptr) {
            QCoreApplication::removeTranslator(translator);
            delete translator;
        }
    }
    QLocale::setDefault(m_previous);
}
