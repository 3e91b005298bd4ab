// Shared set-up of the GUI tests: one QApplication on the offscreen platform, and recorders for
// message boxes and beeps that answer instead of the user.
#pragma once

#include <QApplication>
#include <QList>
#include <QLocale>
#include <QMessageBox>
#include <QObject>
#include <QUrl>

#include <string>
#include <vector>

#include "app/widgets/message_box.h"

// The one application object of the test program (created on first use, on the offscreen
// platform unless QT_QPA_PLATFORM says otherwise).
QApplication& TestApp();

class QTranslator;

// While alive, the program speaks the language of `locale` as it would started there: Qt's
// translation and the program's are installed and `locale` is the default locale. Widgets made
// inside the scope take its texts.
class CLanguageScope {
public:
    explicit CLanguageScope(const char* locale);
    ~CLanguageScope();
    CLanguageScope(const CLanguageScope&) = delete;
    CLanguageScope& operator=(const CLanguageScope&) = delete;

    // Whether Qt's own translation was found (it is for zh_CN once qt6-translations-l10n is in).
    bool HasQtTranslation() const { return m_pQt != nullptr; }

private:
    QLocale m_previous;
    QTranslator* m_pQt = nullptr;
    QTranslator* m_pProgram = nullptr;
};

// Records every message box while alive and answers each with `m_reply` (Ok when the box has
// no Yes/No). Also counts beeps.
class CMessageRecorder {
public:
    CMessageRecorder();
    ~CMessageRecorder();
    CMessageRecorder(const CMessageRecorder&) = delete;
    CMessageRecorder& operator=(const CMessageRecorder&) = delete;

    std::vector<CMessageRecord> m_messages;
    std::vector<std::string> m_texts;  // the texts of m_messages, as UTF-8
    std::vector<QMessageBox::Icon> m_icons;
    int m_nBeeps = 0;
    QMessageBox::StandardButton m_reply = QMessageBox::Yes;

private:
    MessageHook m_previous;
    BeepHook m_previousBeep;
};

// While alive, receives the URLs of `scheme` that the desktop would open.
class CUrlCatcher : public QObject {
    Q_OBJECT
public:
    explicit CUrlCatcher(const QString& scheme);
    ~CUrlCatcher() override;
    QList<QUrl> m_urls;
public slots:
    void Open(const QUrl& url) { m_urls.append(url); }

private:
    QString m_strScheme;
};
