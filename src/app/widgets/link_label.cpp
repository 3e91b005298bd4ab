#include "app/widgets/link_label.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMouseEvent>
#include <QProcess>
#include <QStandardPaths>
#include <QTextStream>
#include <QUrl>

#include "app/widgets/desktop.h"

// The texts are the program's Chinese; their English translations are the system's messages.
QString HyperlinkErrorText(int code) {
    switch (code) {
        case 0:
            return QCoreApplication::translate("CLinkLabel", "操作系统的内存\n或资源不足。");
        case 2:
            return QCoreApplication::translate("CLinkLabel", "找不到指定的文件。");
        case 3:
            return QCoreApplication::translate("CLinkLabel", "找不到指定的路径。");
        case 5:
            return QCoreApplication::translate("CLinkLabel", "操作系统拒绝\n访问指定的文件。");
        case 8:
            return QCoreApplication::translate("CLinkLabel", "内存不足，无法完成操作。");
        case 11:
            return QCoreApplication::translate(
                "CLinkLabel", "该 .EXE 文件无效\n（不是 Win32 .EXE，或 .EXE 映像有错）。");
        case 26:
            return QCoreApplication::translate("CLinkLabel", "发生共享冲突。");
        case 27:
            return QCoreApplication::translate("CLinkLabel", "文件名关联\n不完整或无效。");
        case 28:
            return QCoreApplication::translate("CLinkLabel", "DDE 事务\n因请求超时而无法完成。");
        case 29:
            return QCoreApplication::translate("CLinkLabel", "DDE 事务失败。");
        case 30:
            return QCoreApplication::translate("CLinkLabel",
                                               "DDE 事务\n因其他 DDE 事务\n正在处理而无法完成。");
        case 31:
            return QCoreApplication::translate("CLinkLabel", "没有与该文件扩展名\n关联的程序。");
        case 32:
            return QCoreApplication::translate("CLinkLabel", "找不到指定的动态链接库。");
        default:
            return QCoreApplication::translate("CLinkLabel", "发生未知错误 (%1)。").arg(code);
    }
}

QString HyperlinkErrorMessage(int code) {
    return QCoreApplication::translate("CLinkLabel", "无法打开超链接：\n\n%1")
        .arg(HyperlinkErrorText(code));
}

namespace {
bool IsPlaceholderCode(QChar c) {
    return c == u'1' || c == u'u' || c == u'U' || c == u'f' || c == u'F';
}
}  // namespace

QString CutBrowserCommand(const QString& strCommand) {
    qsizetype quoted = -1;
    qsizetype bare = -1;
    for (qsizetype i = 0; i + 1 < strCommand.size(); ++i) {
        if (strCommand[i] != u'%') {
            continue;
        }
        if (strCommand[i + 1] == u'%') {
            ++i;
            continue;
        }
        if (!IsPlaceholderCode(strCommand[i + 1])) {
            continue;
        }
        if (i > 0 && strCommand[i - 1] == u'"' && i + 2 < strCommand.size() &&
            strCommand[i + 2] == u'"') {
            quoted = i - 1;
            break;
        }
        if (bare < 0) {
            bare = i;
        }
    }
    if (quoted >= 0) {
        return strCommand.left(quoted);
    }
    if (bare >= 0) {
        return strCommand.left(bare);
    }
    return strCommand;
}

QStringList BrowserCommandArgs(const QString& strCommand, const QString& strTarget) {
    QStringList args;
    for (const QString& arg : QProcess::splitCommand(CutBrowserCommand(strCommand))) {
        // Field codes left before the placeholder (%i, %c, %k) are dropped; they only
        // describe the desktop entry.
        if (arg.size() == 2 && arg[0] == u'%' && arg[1] != u'%') {
            continue;
        }
        args << QString(arg).replace(QStringLiteral("%%"), QStringLiteral("%"));
    }
    args << strTarget;
    return args;
}

namespace {
// The value of `key` in the `[group]` of a desktop-style key file, or empty.
QString ReadKeyInGroup(const QString& path, const QString& group, const QString& key) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        return {};
    }
    QTextStream in(&file);
    const QString header = u'[' + group + u']';
    bool bInGroup = false;
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (line.startsWith(u'[')) {
            bInGroup = line == header;
            continue;
        }
        const qsizetype eq = line.indexOf(u'=');
        if (bInGroup && eq > 0 && line.left(eq).trimmed() == key) {
            return line.mid(eq + 1).trimmed();
        }
    }
    return {};
}
}  // namespace

QString ReadDesktopExec(const QString& path) {
    return ReadKeyInGroup(path, QStringLiteral("Desktop Entry"), QStringLiteral("Exec"));
}

namespace {
// The desktop id xdg-mime names as the default for `type`, or empty.
QString QueryXdgMime(const QString& type) {
    const QString xdgMime = QStandardPaths::findExecutable(QStringLiteral("xdg-mime"));
    if (xdgMime.isEmpty()) {
        return {};
    }
    QProcess query;
    query.start(xdgMime, {QStringLiteral("query"), QStringLiteral("default"), type});
    if (!query.waitForFinished(3000)) {
        query.kill();
        query.waitForFinished(1000);
        return {};
    }
    return QString::fromLocal8Bit(query.readAllStandardOutput()).trimmed();
}

QStringList XdgDirs(const char* var, const QString& fallback) {
    const QString value = qEnvironmentVariable(var);
    return (value.isEmpty() ? fallback : value).split(u':', Qt::SkipEmptyParts);
}

// The association lists of the freedesktop rules, most important first.
QStringList MimeAppsLists() {
    const QString home = QDir::homePath();
    const QStringList config = XdgDirs("XDG_CONFIG_HOME", home + QStringLiteral("/.config")) +
                               XdgDirs("XDG_CONFIG_DIRS", QStringLiteral("/etc/xdg"));
    const QStringList data =
        XdgDirs("XDG_DATA_HOME", home + QStringLiteral("/.local/share")) +
        XdgDirs("XDG_DATA_DIRS", QStringLiteral("/usr/local/share:/usr/share"));
    QStringList files;
    for (const QString& dir : config) {
        files << dir + QStringLiteral("/mimeapps.list");
    }
    for (const QString& dir : data) {
        files << dir + QStringLiteral("/applications/mimeapps.list");
    }
    for (const QString& dir : data) {
        files << dir + QStringLiteral("/applications/defaults.list");
    }
    return files;
}

// Desktop ids that `path` names as defaults for `type`.
QStringList DefaultsIn(const QString& path, const QString& type) {
    return ReadKeyInGroup(path, QStringLiteral("Default Applications"), type)
        .split(u';', Qt::SkipEmptyParts);
}
}  // namespace

QString FindBrowserCommand() {
    // The ".htm" association first, then the default handler of web addresses; xdg-mime knows
    // the desktop's own rules, the lists serve where it is not installed.
    const QStringList kTypes = {QStringLiteral("text/html"),
                                QStringLiteral("x-scheme-handler/https")};
    for (const QString& type : kTypes) {
        QStringList ids;
        if (const QString id = QueryXdgMime(type); !id.isEmpty()) {
            ids << id;
        }
        for (const QString& list : MimeAppsLists()) {
            ids << DefaultsIn(list, type);
        }
        for (const QString& id : ids) {
            const QString desktop =
                QStandardPaths::locate(QStandardPaths::ApplicationsLocation, id.trimmed());
            QString exec = desktop.isEmpty() ? QString() : ReadDesktopExec(desktop);
            if (!exec.isEmpty()) {
                return exec;
            }
        }
    }
    return {};
}

OpenFailure OpenLinkTarget(const QString& strTarget) {
    if (QDesktopServices::openUrl(QUrl(strTarget))) {
        return std::nullopt;
    }
    const QString command = FindBrowserCommand();
    if (command.isEmpty()) {
        return kOpenNoAssociation;
    }
    QStringList args = BrowserCommandArgs(command, strTarget);
    const QString program = args.takeFirst();
    const QString found = QStandardPaths::findExecutable(program);
    if (found.isEmpty()) {
        const QFileInfo info(program);
        return info.exists() ? kOpenAccessDenied : kOpenFileNotFound;
    }
    if (!QProcess::startDetached(found, args))
        return kOpenOutOfResources;
    return std::nullopt;
}

QRect FitRectToText(const QRect& rect, const QSize& text, Qt::Alignment alignment) {
    int left = rect.left();
    int width = rect.width();
    int top = rect.top();
    int height = rect.height();
    if (alignment & Qt::AlignVCenter) {
        const int d = (height - text.height()) / 2;
        top += d;
        height -= 2 * d;
    } else {
        height = text.height();
    }
    if (alignment & Qt::AlignHCenter) {
        const int d = (width - text.width()) / 2;
        left += d;
        width -= 2 * d;
    } else if (alignment & Qt::AlignRight) {
        left = rect.left() + rect.width() - text.width();
        width = text.width();
    } else {
        width = text.width();
    }
    return QRect(left, top, width, height);
}

CLinkLabel::CLinkLabel(CDesktop& desktop, const QString& strText, const QString& strURL,
                       QWidget* parent)
    : QLabel(strText, parent), m_desktop(desktop), m_strURL(strURL), m_opener(OpenLinkTarget) {
    m_crHoverColour = palette().color(QPalette::Highlight);
    if (m_strURL.isEmpty()) {
        m_strURL = text();
    }
    if (text().isEmpty()) {
        setText(m_strURL);
    }
    setTextFormat(Qt::PlainText);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setCursor(Qt::PointingHandCursor);
    setToolTip(m_strURL);
    ApplyLook();
    FitToText();
}

void CLinkLabel::SetURL(const QString& strURL) {
    m_strURL = strURL;
    setToolTip(m_strURL);
    FitToText();
}

QColor CLinkLabel::CurrentColour() const {
    if (m_bHovering) {
        return m_crHoverColour;
    }
    return m_bVisited ? m_crVisitedColour : m_crLinkColour;
}

void CLinkLabel::ApplyLook() {
    QFont linkFont = font();
    linkFont.setUnderline(m_bUnderline);
    setFont(linkFont);
    QPalette pal = palette();
    pal.setColor(QPalette::WindowText, CurrentColour());
    setPalette(pal);
    update();
}

void CLinkLabel::FitToText() {
    if (!m_bAdjustToFit) {
        return;
    }
    const QSize textSize = QFontMetrics(font()).size(Qt::TextSingleLine, text());
    setGeometry(FitRectToText(geometry(), textSize, alignment()));
}

void CLinkLabel::Follow() {
    const OpenFailure failure = m_opener(m_strURL);
    if (!failure) {
        m_bVisited = true;
        ApplyLook();
        return;
    }
    m_desktop.Beep();
    m_desktop.ShowMessage(this, HyperlinkErrorMessage(*failure), QMessageBox::Warning);
}

void CLinkLabel::enterEvent(QEnterEvent* event) {
    QLabel::enterEvent(event);
    m_bHovering = true;
    ApplyLook();
}

void CLinkLabel::leaveEvent(QEvent* event) {
    QLabel::leaveEvent(event);
    m_bHovering = false;
    ApplyLook();
}

void CLinkLabel::mouseReleaseEvent(QMouseEvent* event) {
    QLabel::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
        Follow();
    }
}
