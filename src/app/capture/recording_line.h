// The line under a player that follows a recording: frames written and dropped, the media time
// recorded and the target folder while it runs, then its summary with a button that opens the
// folder.
#pragma once

#include <QString>
#include <QWidget>

class CDesktop;
struct CRecordingResult;
class QLabel;
class QPushButton;

class CRecordingLine : public QWidget {
    Q_OBJECT
public:
    // `desktop` opens the folder; it outlives the line.
    explicit CRecordingLine(CDesktop& desktop, QWidget* parent = nullptr);

    // While recording: the figures so far; `seconds` of media recorded, into `strFolder`.
    void ShowProgress(const CRecordingResult& result, double seconds, const QString& strFolder);
    // After the recording: what it left in `strFolder`, and the "打开文件夹" button.
    void ShowSummary(const CRecordingResult& result, double seconds, const QString& strFolder);
    // Nothing shown (the line keeps its height, so the page does not jump).
    void Clear();

    // The text as shown, without markup.
    QString PlainText() const;
    QString Folder() const { return m_strFolder; }
    QLabel* TextLabel() const { return m_pText; }
    QPushButton* OpenFolderButton() const { return m_pOpenFolder; }
    // Opens the folder with the desktop; tells the user when nothing could open it.
    void OpenFolder();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // What the figures add when frames took a higher number because a file had their name;
    // empty when none did.
    static QString RenumberedText(const CRecordingResult& result);
    void Show(const QString& strFigures, const QString& strFolderText, bool bSummary);
    void Relayout();

    CDesktop& m_desktop;
    QLabel* m_pText = nullptr;
    QPushButton* m_pOpenFolder = nullptr;
    QString m_strFigures;     // plain text before the folder
    QString m_strFolderText;  // the text around the folder, "%1" where it goes
    QString m_strFolder;
    bool m_bSummary = false;
};
