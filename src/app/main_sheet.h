// The program's one window: four pages on tabs, the painted banner, Help, About and Close.
#pragma once

#include <QDialog>
#include <QFont>
#include <QLocale>
#include <QRect>
#include <QString>
#include <QUrl>

#include "app/widgets/page_host.h"
#include "capture/recording.h"

class CDesktop;
class CFontablePage;
class QPushButton;
class QTabWidget;

// Hands itself to every page it holds as the page's host.
class CMainSheet : public QDialog, public IPageHost {
    Q_OBJECT
public:
    // `desktop` answers the sheet's and its pages' message boxes; it outlives the sheet.
    explicit CMainSheet(CDesktop& desktop, QWidget* parent = nullptr);
    // The pages go before the recording they use.
    ~CMainSheet() override;

    // Shows "Tarnwick-<file name>" for a media file, or "Tarnwick" for an empty path.
    void SetDocumentTitle(const QString& strPath = QString());

    // The help page beside the program (its path with the extension ".htm"), or else the
    // installed one in <prefix>/share/doc/tarnwick; the former when neither exists.
    static QString HelpPath();
    // The address Help opens for the page at `strPath`: its English part in a locale that
    // reads the program in English.
    static QUrl HelpUrl(const QString& strPath, const QLocale& locale);

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
    CDesktop& Desktop() const { return m_desktop; }
    // Closing waits for busy pages: true between a close request and the end of their jobs.
    bool IsClosePending() const override { return m_bClosePending; }

    // Every way of closing ends here (Close, Escape, the window's close box). While a page is
    // busy the user is asked first; on Yes the busy pages are asked to stop and the sheet
    // closes once the last of them reports its job ended, on No nothing changes.
    void done(int result) override;

public slots:
    void OnHelp();
    void OnAbout();

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void AddPage(CFontablePage* page, const QString& strCaption);
    void ConnectPage(CFontablePage* page);
    void UpdateTitle();
    void UpdateMinimumSize();
    CFontablePage* FirstBusyPage() const;
    bool AnyPageBusy() const;
    void OnPageBusyChanged(bool bBusy);

    CDesktop& m_desktop;
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
