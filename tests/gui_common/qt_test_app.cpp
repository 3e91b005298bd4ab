#include "gui_common/qt_test_app.h"

#include <QDesktopServices>
#include <QTranslator>

#include <gtest/gtest.h>

#include <clocale>

#include "app/startup.h"

QApplication& TestApp() {
    if (auto* app = qobject_cast<QApplication*>(QCoreApplication::instance())) {
        return *app;
    }
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

CTestDesktop::CTestDesktop()
    : CDesktop(m_stateDir.filePath(QStringLiteral("tarnwick/state.ini"))) {}

CTestDesktop::CTestDesktop(const QString& stateFile) : CDesktop(stateFile) {}

CTestDesktop& CTestDesktop::StartRecording() {
    m_messages.clear();
    m_texts.clear();
    m_icons.clear();
    m_nBeeps = 0;
    m_reply = QMessageBox::Yes;
    m_urls.clear();
    m_bOpens = true;
    return *this;
}

QMessageBox::StandardButton CTestDesktop::RunMessageBox(QWidget*, const CMessageRecord& message) {
    m_messages.push_back(message);
    m_texts.push_back(message.m_strText.toStdString());
    m_icons.push_back(message.m_icon);
    if (message.m_buttons.testFlag(QMessageBox::Yes)) {
        return m_reply;
    }
    return QMessageBox::Ok;
}

int CTestDesktop::Exec(QDialog& dialog) {
    return m_onDialog ? m_onDialog(dialog) : int(QDialog::Rejected);
}

bool CTestDesktop::OpenUrl(const QUrl& url) {
    m_urls.append(url);
    return m_bOpens;
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
