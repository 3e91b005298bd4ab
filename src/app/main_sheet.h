// The program's one window: four pages on tabs, the painted banner, Help, About and Close.
#pragma once

#include <QDialog>
#include <QFont>
#include <QRect>
#include <QString>

#include "capture/recording.h"

class CFontablePage;
class QPushButton;
class QTabWidget;

class CMainSheet : public QDialog {
    Q_OBJECT
public:
    explicit CMainSheet(QWidget* parent = nullptr);
    // The pages go before the recording they use.
    ~CMainSheet() override;

    // Shows "Tarnwick-<file name>" for a media file, or "Tarnwick" for an empty path.
    void SetDocumentTitle(const QString& strPath = QString());

    // The help page beside the program (its path with the extension ".htm"), or else the
    // installed one in <prefix>/share/doc/tarnwick; the former when neither exists.
    static QString HelpPath();

    // Where the banner is drawn: the tab control's width, the button row's height.
    QRect BannerRect() const;
    static QFont BannerFont();
    static const char* BannerText() { return "Tarnwick 0.02 beta"; }

    QTabWidget* Tabs() const { return m_pTabs; }
    QPushButton* HelpButton() const { return m_pHelpButton; }
    QPushButton* AboutButton() const { return m_pAboutButton; }
    QPushButton* CloseButton() const { return m_pCloseButton; }
    CFontablePage* Page(int index) const;
    // Puts `page` on tab `index` in place of the page there (which is deleted); the tab keeps
    // its caption. The sheet takes ownership.
    void ReplacePage(int index, CFontablePage* page);
    // The one recording of both player pages: starting on one page ends the other's.
    CRecording& Recording() { return m_recording; }
    // Closing waits for busy pages: true between a close request and the end of their jobs.
    bool IsClosePending() const { return m_bClosePending; }

    // Every way of closing ends here (Close, Escape, the window's close box). Busy pages are
    // asked to stop first; the sheet closes once the last of them reports its job ended.
    void done(int result) override;

public slots:
    void OnHelp();
    void OnAbout();

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void AddPage(CFontablePage* page, const QString& strCaption);
    bool AnyPageBusy() const;
    void OnPageBusyChanged(bool bBusy);

    CRecording m_recording;
    // Pages in tab order; placeholders until their pages exist.
    CFontablePage* m_pRmPage = nullptr;
    CFontablePage* m_pWmpPage = nullptr;
    CFontablePage* m_pScalePage = nullptr;
    CFontablePage* m_pMergePage = nullptr;

    QTabWidget* m_pTabs = nullptr;
    QWidget* m_pBannerArea = nullptr;
    QPushButton* m_pHelpButton = nullptr;
    QPushButton* m_pAboutButton = nullptr;
    QPushButton* m_pCloseButton = nullptr;
    bool m_bCentred = false;
    bool m_bClosePending = false;
    int m_nPendingResult = QDialog::Rejected;
};
