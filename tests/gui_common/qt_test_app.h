// Shared set-up of the GUI tests: one QApplication on the offscreen platform, and a desktop that
// answers instead of the user.
#pragma once

#include <QApplication>
#include <QList>
#include <QLocale>
#include <QMessageBox>
#include <QObject>
#include <QTemporaryDir>
#include <QUrl>

#include <functional>
#include <string>
#include <vector>

#include "app/widgets/desktop.h"

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

namespace detail {
// The state folder of a test desktop, made before the desktop that remembers folders in it.
struct CTestStateFolder {
    QTemporaryDir m_stateDir;
};
}  // namespace detail

// The desktop a GUI test hands to the widgets it makes: answers every message box with m_reply
// (Ok when the box has no Yes/No) and records it, counts beeps, records the files it is asked to
// open (accepting them while m_bOpens), hands modal dialogs to m_onDialog (rejecting them
// without one), and remembers folders in a state file of its own, so no two tests share any of
// it.
class CTestDesktop : private detail::CTestStateFolder, public CDesktop {
public:
    CTestDesktop();
    // One that remembers folders in `stateFile`, as another run of the program would.
    explicit CTestDesktop(const QString& stateFile);

    // Forgets what was recorded and answers Yes and opens again, for a test that looks only at
    // what follows; returns this desktop.
    CTestDesktop& StartRecording();

    void Beep() override { ++m_nBeeps; }
    int Exec(QDialog& dialog) override;
    bool OpenUrl(const QUrl& url) override;

    std::vector<CMessageRecord> m_messages;
    std::vector<std::string> m_texts;  // the texts of m_messages, as UTF-8
    std::vector<QMessageBox::Icon> m_icons;
    int m_nBeeps = 0;
    QMessageBox::StandardButton m_reply = QMessageBox::Yes;
    QList<QUrl> m_urls;
    bool m_bOpens = true;
    std::function<int(QDialog&)> m_onDialog;

protected:
    QMessageBox::StandardButton RunMessageBox(QWidget* parent,
                                              const CMessageRecord& message) override;
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
