// The program's own window for a result picture: fitted to the window, 1:1, zoom and pan, a
// before/after split against a compare picture, save as BMP, JPEG or PNG, copy, and the
// desktop's own viewer one click away.
#pragma once

#include <QImage>
#include <QString>
#include <QWidget>

#include <string>

#include "platform/status.h"

class CDesktop;
class CImageCanvas;
class QAction;
class QLabel;

// The picture to compare the result with, and what it is ("参考帧按常规放大" etc.).
struct CViewerCompare {
    QImage m_image;
    QString m_strCaption;
};

// Reads the picture at `path` with Qt's readers (a BMP also under ".dib"), or the reader's
// reason why not.
CResult<QImage> ReadViewerImage(const QString& path);

// Writes `image` to `path` as BMP (".bmp", ".dib"), JPEG (".jpg", ".jpeg", quality 95) or PNG
// (".png"), any case, through the program's own writers: beside the target and renamed into
// place, replacing a file of that name. Another extension is refused. The reason of a failure
// does not repeat the path.
CStatus SaveViewerImage(const QImage& image, const std::string& path);

class CImageViewer : public QWidget {
    Q_OBJECT
public:
    // A window (not modal, deleted on close) showing `image`, read from `path`. `desktop` shows
    // its messages, dialogs and the desktop's viewer; it outlives the window.
    CImageViewer(CDesktop& desktop, const QString& path, const QImage& image,
                 QWidget* parent = nullptr);

    // The compare picture and its caption; with one the split line is shown. A null image
    // takes it away.
    void SetCompare(const CViewerCompare& compare);
    // While a compare picture is still being made the status line says so.
    void SetComparePending(bool bPending);

    // Writes the picture to `path` (SaveViewerImage); a failure is told the user with the path
    // and the reason. True when written.
    bool SaveAs(const QString& path);
    // The picture onto the clipboard.
    void CopyToClipboard();

    const QString& Path() const { return m_strPath; }
    CImageCanvas* Canvas() const { return m_pCanvas; }
    QLabel* StatusLine() const { return m_pStatus; }
    QAction* FitAction() const { return m_pFit; }
    QAction* ActualSizeAction() const { return m_pActualSize; }
    QAction* CompareAction() const { return m_pCompare; }
    QAction* SaveAction() const { return m_pSave; }
    QAction* CopyAction() const { return m_pCopy; }
    QAction* OpenExternalAction() const { return m_pOpenExternal; }

private:
    // The file dialog of "另存为…", then SaveAs.
    void OnSave();
    void UpdateStatus();

    CDesktop& m_desktop;
    QString m_strPath;
    QString m_strCaption;
    bool m_bComparePending = false;
    CImageCanvas* m_pCanvas;
    QLabel* m_pStatus;
    QAction* m_pFit;
    QAction* m_pActualSize;
    QAction* m_pCompare;
    QAction* m_pSave;
    QAction* m_pCopy;
    QAction* m_pOpenExternal;
};

// Opens a viewer window (not modal, deletes itself on close) for the picture at `path`;
// `compare` (optional: m_image null = none) is shown in before/after mode. Returns the window,
// or nullptr after telling the user through `desktop` that the file cannot be read.
CImageViewer* OpenImageViewer(CDesktop& desktop, const QString& path, const CViewerCompare& compare,
                              QWidget* parent);
