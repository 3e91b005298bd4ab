// A one-line field showing a file or folder path, shortened in its middle when it does not fit.
#pragma once

#include <QFrame>
#include <QString>

class QFontMetrics;

// `strText` shortened to `width` pixels with an ellipsis in the middle of the path: the text
// after the last "/" is kept whole when it fits, and the folder part is cut from its end. A text
// without "/" loses its middle; when even the file name does not fit, its end goes.
QString ElidePath(const QString& strText, const QFontMetrics& metrics, int width);

class CPathLabel : public QFrame {
    Q_OBJECT
public:
    // Pages set m_bPathEllipsis right after creating the field; without it the end is cut.
    explicit CPathLabel(QWidget* parent = nullptr,
                        Qt::Alignment format = Qt::AlignLeft | Qt::AlignVCenter,
                        bool bPathEllipsis = false);

    // Stores the whole text and repaints, also when the text is the same as before.
    void setText(const QString& strText);
    QString text() const { return m_strText; }

    // The text as drawn at the field's present width.
    QString DisplayText() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    bool m_bPathEllipsis;
    Qt::Alignment m_format;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_strText;
};
