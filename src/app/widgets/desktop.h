// What the desktop program's controls ask of the user's desktop: message boxes, the alert
// sound, modal dialogs, opening files, and the folders remembered between runs.
#pragma once

#include <QMessageBox>
#include <QString>

#include "app/widgets/message_box.h"
#include "app/widgets/remembered_folders.h"

class QDialog;
class QUrl;
class QWidget;

// The program's main makes one and hands it to the sheet, which hands it to its pages and they
// to their controls; nothing reaches it any other way. A test hands in one of its own that
// answers instead of the user. It outlives every widget it is handed to.
class CDesktop {
public:
    // Remembers folders in `stateFile` (CRememberedFolders::StateFilePath() for the program).
    explicit CDesktop(const QString& stateFile);
    virtual ~CDesktop();
    CDesktop(const CDesktop&) = delete;
    CDesktop& operator=(const CDesktop&) = delete;

    // Shows `text` modally with the program title as caption and returns the button pressed
    // (QMessageBox::Ok or Yes/No).
    QMessageBox::StandardButton ShowMessage(QWidget* parent, const QString& text,
                                            QMessageBox::Icon icon = QMessageBox::NoIcon,
                                            QMessageBox::StandardButtons buttons = QMessageBox::Ok);
    // The same for a message whose buttons carry texts of their own.
    QMessageBox::StandardButton ShowMessage(QWidget* parent, const CMessageRecord& message) {
        return RunMessageBox(parent, message);
    }

    // Opens the file at `path` with its associated program. `path` must name a file in a folder
    // (hold a "/"); a bare name is refused, since it would be opened relative to whatever the
    // current folder happens to be. Returns true when the desktop accepted the request; false
    // when nothing on the system opens it (the caller tells the user).
    bool OpenDocument(const QString& path);
    // Opens the file or folder at `path` as OpenDocument does; when nothing on the system opens
    // it, tells the user in a message box that names the path.
    bool OpenOrReport(const QString& path, QWidget* parent);

    // The system's alert sound.
    virtual void Beep();
    // Runs `dialog` modally and returns its result.
    virtual int Exec(QDialog& dialog);
    // Hands `url` to the program the desktop associates with it; false when none takes it.
    virtual bool OpenUrl(const QUrl& url);

    CRememberedFolders& Folders() { return m_folders; }

protected:
    // The modal box of ShowMessage.
    virtual QMessageBox::StandardButton RunMessageBox(QWidget* parent,
                                                      const CMessageRecord& message);

private:
    CRememberedFolders m_folders;
};
