// Base class of the four pages of the main sheet.
#pragma once

#include <QString>
#include <QWidget>

class CDesktop;
class IPageHost;

// A page knows its dialog number (129, 130, 132, 133) and takes part in closing the sheet:
// a page running a job reports itself busy, is asked to stop when the user closes the window,
// and announces the end of its job with BusyChanged(false); the sheet closes only then, so no
// page state is used after the page is gone.
class CFontablePage : public QWidget {
    Q_OBJECT
public:
    // `desktop` answers the page's and its controls' message boxes and keeps the remembered
    // folders; it outlives the page.
    CFontablePage(int nIDTemplate, CDesktop& desktop, QWidget* parent = nullptr);

    int TemplateId() const { return m_nIDTemplate; }
    CDesktop& Desktop() const { return m_desktop; }

    // True while a job of this page runs.
    virtual bool IsBusy() const { return false; }
    // Asks a running job to end at its next step; returns at once.
    virtual void RequestStop() {}
    // What closing the window asks while this page is busy.
    virtual QString BusyQuestion() const;
    // The file this page shows, for the window's caption while the page is shown (none: empty).
    virtual QString DocumentPath() const { return QString(); }

    // The window holding this page, or null while the page stands alone. The host outlives
    // the page: it owns the page from SetHost on.
    IPageHost* Host() const { return m_pHost; }
    void SetHost(IPageHost* host) { m_pHost = host; }

signals:
    // Emitted by a page when its job starts (true) and once it has fully ended (false).
    void BusyChanged(bool bBusy);
    // Emitted when DocumentPath changes.
    void DocumentChanged();

private:
    int m_nIDTemplate;
    CDesktop& m_desktop;
    IPageHost* m_pHost = nullptr;
};
