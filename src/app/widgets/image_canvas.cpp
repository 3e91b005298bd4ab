#include "app/widgets/image_canvas.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace {

// How close to the split line (logical pixels) a press takes the line rather than the picture.
constexpr double kSplitGrip = 5;
// One wheel notch zooms by this factor.
constexpr double kNotchFactor = 1.25;

}  // namespace

CImageCanvas::CImageCanvas(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(160, 120);
}

void CImageCanvas::SetImage(const QImage& image) {
    m_image = image;
    if (!m_compare.isNull() && m_compare.size() != m_image.size()) {
        SetCompare(m_compare);
    }
    FitToWindow();
}

void CImageCanvas::SetCompare(const QImage& compare) {
    // Both pictures at one scale and place: a compare of another size is brought to the
    // picture's.
    if (!compare.isNull() && !m_image.isNull() && compare.size() != m_image.size()) {
        m_compare = compare.scaled(m_image.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    } else {
        m_compare = compare;
    }
    update();
}

void CImageCanvas::SetCompareShown(bool bShown) {
    m_bCompareShown = bShown;
    update();
}

void CImageCanvas::SetSplit(double dSplit) {
    m_dSplit = std::clamp(dSplit, 0.0, 1.0);
    update();
}

double CImageCanvas::Ratio() const {
    return devicePixelRatioF();
}

double CImageCanvas::FitScale() const {
    if (m_image.isNull()) {
        return 1;
    }
    const double scale =
        std::min(width() * Ratio() / m_image.width(), height() * Ratio() / m_image.height());
    return std::clamp(scale, kMinScale, kMaxScale);
}

void CImageCanvas::Centre() {
    const QSizeF shown = QSizeF(m_image.size()) * (m_dScale / Ratio());
    m_origin = QPointF((width() - shown.width()) / 2, (height() - shown.height()) / 2);
}

void CImageCanvas::FitToWindow() {
    m_bFit = true;
    m_dScale = FitScale();
    Centre();
    update();
    emit ScaleChanged(m_dScale);
}

void CImageCanvas::ShowActualSize() {
    const QPointF centre = ImageToWidget(QPointF(m_image.width(), m_image.height()) / 2);
    ZoomAt(1, centre);
    // The picture's centre stays; a picture smaller than the area is centred in it.
    if (m_image.width() * m_dScale / Ratio() <= width() &&
        m_image.height() * m_dScale / Ratio() <= height()) {
        Centre();
    }
}

void CImageCanvas::SetScaleKeeping(double dScale, const QPointF& anchor) {
    const QPointF point = WidgetToImage(anchor);
    m_dScale = std::clamp(dScale, kMinScale, kMaxScale);
    m_origin = anchor - point * (m_dScale / Ratio());
}

void CImageCanvas::ZoomAt(double dScale, const QPointF& anchor) {
    m_bFit = false;
    SetScaleKeeping(dScale, anchor);
    update();
    emit ScaleChanged(m_dScale);
}

void CImageCanvas::ZoomSteps(double steps, const QPointF& anchor) {
    ZoomAt(m_dScale * std::pow(kNotchFactor, steps), anchor);
}

QPointF CImageCanvas::ImageToWidget(const QPointF& point) const {
    return m_origin + point * (m_dScale / Ratio());
}

QPointF CImageCanvas::WidgetToImage(const QPointF& point) const {
    return (point - m_origin) * (Ratio() / m_dScale);
}

double CImageCanvas::SplitX() const {
    return width() * m_dSplit;
}

bool CImageCanvas::NearSplit(const QPointF& point) const {
    return CompareShown() && std::abs(point.x() - SplitX()) <= kSplitGrip;
}

void CImageCanvas::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Dark));
    if (m_image.isNull()) {
        return;
    }
    QPointF origin = m_origin;
    if (m_dScale == 1) {
        // At 1:1 every picture pixel lands on one screen pixel.
        origin =
            QPointF(std::round(origin.x() * Ratio()), std::round(origin.y() * Ratio())) / Ratio();
    }
    const QRectF target(origin, QSizeF(m_image.size()) * (m_dScale / Ratio()));
    // Zoomed out the picture is smoothed; from 1:1 on each of its pixels is a clear square.
    painter.setRenderHint(QPainter::SmoothPixmapTransform, m_dScale < 1);
    if (HasCompare() && m_bCompareHeld) {
        painter.drawImage(target, m_compare);
        return;
    }
    if (!CompareShown()) {
        painter.drawImage(target, m_image);
        return;
    }
    const double x = SplitX();
    painter.save();
    painter.setClipRect(QRectF(0, 0, x, height()));
    painter.drawImage(target, m_compare);
    painter.setClipRect(QRectF(x, 0, width() - x, height()));
    painter.drawImage(target, m_image);
    painter.restore();
    // The line and a grip in its middle, light on dark so it shows on any picture.
    painter.setPen(QPen(Qt::black, 3));
    painter.drawLine(QPointF(x, 0), QPointF(x, height()));
    painter.setPen(QPen(Qt::white, 1));
    painter.drawLine(QPointF(x, 0), QPointF(x, height()));
    painter.setBrush(Qt::white);
    painter.setPen(QPen(Qt::black, 1));
    painter.drawRoundedRect(QRectF(x - 4, height() / 2.0 - 14, 8, 28), 3, 3);
}

void CImageCanvas::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (m_bFit) {
        FitToWindow();
    }
}

void CImageCanvas::wheelEvent(QWheelEvent* event) {
    const double steps = event->angleDelta().y() / 120.0;
    if (steps != 0) {
        ZoomSteps(steps, event->position());
    }
    event->accept();
}

void CImageCanvas::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    m_drag = NearSplit(event->position()) ? Drag::Split : Drag::Pan;
    m_dragFrom = event->position();
    if (m_drag == Drag::Pan) {
        setCursor(Qt::ClosedHandCursor);
    }
}

void CImageCanvas::mouseMoveEvent(QMouseEvent* event) {
    const QPointF point = event->position();
    switch (m_drag) {
        case Drag::Split:
            SetSplit(width() > 0 ? point.x() / width() : 0.5);
            break;
        case Drag::Pan:
            m_origin += point - m_dragFrom;
            m_dragFrom = point;
            m_bFit = false;
            update();
            break;
        case Drag::None:
            setCursor(NearSplit(point) ? Qt::SplitHCursor : Qt::OpenHandCursor);
            break;
    }
}

void CImageCanvas::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        m_drag = Drag::None;
        setCursor(NearSplit(event->position()) ? Qt::SplitHCursor : Qt::OpenHandCursor);
    }
}

void CImageCanvas::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Space || event->key() == Qt::Key_B) {
        if (!event->isAutoRepeat() && HasCompare()) {
            m_bCompareHeld = true;
            update();
        }
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

void CImageCanvas::keyReleaseEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Space || event->key() == Qt::Key_B) {
        if (!event->isAutoRepeat()) {
            m_bCompareHeld = false;
            update();
        }
        event->accept();
        return;
    }
    QWidget::keyReleaseEvent(event);
}

void CImageCanvas::focusOutEvent(QFocusEvent* event) {
    // A key released in another window never reaches this one.
    m_bCompareHeld = false;
    update();
    QWidget::focusOutEvent(event);
}
