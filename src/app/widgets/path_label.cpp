#include "app/widgets/path_label.h"

#include <QFontMetrics>
#include <QPainter>

namespace {
const QString kEllipsis = QStringLiteral("\u2026");

// Never ends a prefix inside a surrogate pair.
qsizetype SafePrefix(const QString& text, qsizetype n) {
    if (n > 0 && n < text.size() && text[n - 1].isHighSurrogate()) {
        --n;
    }
    return n;
}
}  // namespace

QString ElidePath(const QString& strText, const QFontMetrics& metrics, int width) {
    if (metrics.horizontalAdvance(strText) <= width) {
        return strText;
    }
    const qsizetype slash = strText.lastIndexOf(u'/');
    if (slash < 0) {
        return metrics.elidedText(strText, Qt::ElideMiddle, width);
    }
    const QString head = strText.left(slash);
    const QString tail = strText.mid(slash);
    auto fits = [&](qsizetype n) {
        return metrics.horizontalAdvance(head.left(SafePrefix(head, n)) + kEllipsis + tail) <=
               width;
    };
    if (!fits(0)) {
        return kEllipsis + metrics.elidedText(tail, Qt::ElideRight,
                                              width - metrics.horizontalAdvance(kEllipsis));
    }
    // Longest part of the folder that still fits in front of the ellipsis.
    qsizetype lo = 0;
    qsizetype hi = head.size();
    while (lo < hi) {
        const qsizetype mid = (lo + hi + 1) / 2;
        if (fits(mid)) {
            lo = mid;
        } else {
            hi = mid - 1;
        }
    }
    return head.left(SafePrefix(head, lo)) + kEllipsis + tail;
}

CPathLabel::CPathLabel(QWidget* parent, Qt::Alignment format, bool bPathEllipsis)
    : QFrame(parent), m_bPathEllipsis(bPathEllipsis), m_format(format) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void CPathLabel::setText(const QString& strText) {
    m_strText = strText;
    update();
}

QString CPathLabel::DisplayText() const {
    const QFontMetrics metrics(font());
    const int width = contentsRect().width();
    if (m_bPathEllipsis) {
        return ElidePath(m_strText, metrics, width);
    }
    return metrics.elidedText(m_strText, Qt::ElideRight, width);
}

QSize CPathLabel::sizeHint() const {
    const QFontMetrics metrics(font());
    const QMargins m = contentsMargins();
    return QSize(metrics.averageCharWidth() * 30 + m.left() + m.right(),
                 metrics.height() + m.top() + m.bottom());
}

QSize CPathLabel::minimumSizeHint() const {
    const QFontMetrics metrics(font());
    const QMargins m = contentsMargins();
    return QSize(metrics.averageCharWidth() * 4 + m.left() + m.right(),
                 metrics.height() + m.top() + m.bottom());
}

void CPathLabel::paintEvent(QPaintEvent* event) {
    QFrame::paintEvent(event);
    QPainter painter(this);
    painter.fillRect(contentsRect(), palette().button());
    painter.setPen(palette().color(QPalette::WindowText));
    // No mnemonic flag: an ampersand in a path is drawn as it is.
    painter.drawText(contentsRect(), static_cast<int>(m_format) | Qt::TextSingleLine,
                     DisplayText());
}
