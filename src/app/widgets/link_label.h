// A label that works as a hyperlink: link colours, underline, hand cursor, the target as tooltip,
// and a click that opens the target with the desktop, or with the default browser's command.
#pragma once

#include <QColor>
#include <QLabel>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

// Why a target could not be opened: one of the codes HyperlinkErrorText knows. Opening gives no
// value when the target was handed on.
using OpenFailure = std::optional<int>;
inline constexpr int kOpenOutOfResources = 0;
inline constexpr int kOpenFileNotFound = 2;
inline constexpr int kOpenAccessDenied = 5;
inline constexpr int kOpenNoAssociation = 31;

// The explanation shown after "Unable to open hyperlink:" for a failure code.
QString HyperlinkErrorText(int code);
// The whole message for a failure code.
QString HyperlinkErrorMessage(int code);

// Cuts a browser command line (a desktop entry's Exec value) at its target placeholder: first at a
// quoted placeholder ("%u" with its quotation marks, also %U %f %F %1), else at an unquoted one;
// without any placeholder the whole line is kept. "%%" is a literal percent sign.
QString CutBrowserCommand(const QString& strCommand);
// Program and arguments that open `strTarget` with `strCommand`: the cut command split as the
// desktop entry rules quote it, remaining field codes dropped, the target appended.
QStringList BrowserCommandArgs(const QString& strCommand, const QString& strTarget);
// The Exec value of the [Desktop Entry] group of the desktop file at `path`, or empty.
QString ReadDesktopExec(const QString& path);
// The Exec value of the desktop's default web browser, or empty when none is set up.
QString FindBrowserCommand();

// Opens `strTarget` with the desktop; failing that, starts the default browser's command with it
// (as a program and an argument list, never through a shell).
OpenFailure OpenLinkTarget(const QString& strTarget);

// `rect` shrunk to `text` as the label's alignment keeps it: horizontally centred ones keep their
// centre, right-aligned ones their right edge, others their left edge; vertically centred ones
// shrink equally at top and bottom, others keep their top.
QRect FitRectToText(const QRect& rect, const QSize& text, Qt::Alignment alignment);

class CDesktop;

class CLinkLabel : public QLabel {
    Q_OBJECT
public:
    using Opener = std::function<OpenFailure(const QString&)>;

    // Without a target the text is the target; without a text the target is shown.
    // `desktop` beeps and tells the user when a target cannot be opened; it outlives the label.
    explicit CLinkLabel(CDesktop& desktop, const QString& strText,
                        const QString& strURL = QString(), QWidget* parent = nullptr);

    void SetURL(const QString& strURL);
    QString GetURL() const { return m_strURL; }

    bool IsVisited() const { return m_bVisited; }
    bool IsHovering() const { return m_bHovering; }
    // The colour the text shows in its present state.
    QColor CurrentColour() const;

    // Shrinks the label to its text (when adjusting to fit is on).
    void FitToText();
    // Opens the target as a click does: visited on success, else a beep and the reason.
    void Follow();
    // Replaces the way targets are opened (OpenLinkTarget by default).
    void SetOpener(Opener opener) { m_opener = std::move(opener); }

    QColor m_crLinkColour{0, 0, 238};
    QColor m_crVisitedColour{85, 26, 139};
    QColor m_crHoverColour;
    bool m_bUnderline = true;
    bool m_bAdjustToFit = true;

protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void ApplyLook();

    CDesktop& m_desktop;
    bool m_bHovering = false;
    bool m_bVisited = false;
    QString m_strURL;
    Opener m_opener;
};
