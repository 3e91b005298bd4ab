#include "app/capture/video_view_widget.h"

#include <QImage>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

#include "capture/capture_engine.h"
#include "platform/media_player.h"

namespace {
// A little faster than the 25 or 30 pictures a second of common media.
constexpr int kPollMs = 20;
}  // namespace

CVideoViewWidget::CVideoViewWidget(QWidget* parent)
    : QWidget(parent), m_size(kGrabWidth, kGrabHeight) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(m_size);
    QSizePolicy policy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
    m_poll.setInterval(kPollMs);
    connect(&m_poll, &QTimer::timeout, this, &CVideoViewWidget::PollFrame);
}

void CVideoViewWidget::SetPlayer(IMediaPlayer* player) {
    m_pPlayer = player;
    m_nShownFrame = 0;
    m_viewSize = QSize();
    if (m_pPlayer) {
        UpdateViewSize();
        m_poll.start();
    } else {
        m_poll.stop();
    }
    update();
}

void CVideoViewWidget::SetPictureSize(const QSize& size) {
    m_size = size;
    setMinimumSize(size);
    updateGeometry();
    UpdateViewSize();
    update();
}

QRect CVideoViewWidget::PictureRect() const {
    if (m_size.isEmpty())
        return rect();
    // Grows in tenths of the picture size (35 x 24 for 350 x 240), so that its shape stays
    // exact and a few pixels the layout has to spare leave it as it is.
    const int tenths =
        std::max(10, std::min(width() * 10 / m_size.width(), height() * 10 / m_size.height()));
    const QSize fitted(m_size.width() * tenths / 10, m_size.height() * tenths / 10);
    // From the top-left corner, as the picture always lay: a screen grab of the player's corner
    // finds it there.
    return QRect(QPoint(0, 0), fitted);
}

QSize CVideoViewWidget::DevicePictureSize() const {
    const QSize picture = PictureRect().size();
    const qreal ratio = devicePixelRatioF();
    return {std::max(1, int(std::lround(picture.width() * ratio))),
            std::max(1, int(std::lround(picture.height() * ratio)))};
}

void CVideoViewWidget::UpdateViewSize() {
    if (!m_pPlayer)
        return;
    const QSize device = DevicePictureSize();
    if (device == m_viewSize)
        return;
    m_viewSize = device;
    m_pPlayer->SetViewSize(device.width(), device.height());
}

int CVideoViewWidget::heightForWidth(int width) const {
    return m_size.isEmpty() ? -1
                            : int(std::lround(double(width) * m_size.height() / m_size.width()));
}

void CVideoViewWidget::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    UpdateViewSize();
}

void CVideoViewWidget::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // The screen's pixel ratio is known from here on.
    UpdateViewSize();
}

void CVideoViewWidget::PollFrame() {
    if (!m_pPlayer || !isVisible())
        return;
    const std::uint64_t frame = m_pPlayer->View().FrameCount();
    if (frame != m_nShownFrame) {
        m_nShownFrame = frame;
        update();
    }
}

void CVideoViewWidget::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    if (!m_pPlayer)
        return;
    auto locked = m_pPlayer->View().LockFrame();
    const CGrabBitmap& frame = locked.Frame();
    if (frame.IsEmpty())
        return;
    // The picture's rows are bgr0, which is what RGB32 means in memory on this byte order.
    QImage image(const_cast<CGrabBitmap&>(frame).Bits(), frame.m_nWidth, frame.m_nHeight,
                 frame.m_nStride, QImage::Format_RGB32);
    const QRect picture = PictureRect();
    if (DevicePictureSize() == image.size()) {
        // Rendered for this place: pixel for pixel.
        image.setDevicePixelRatio(devicePixelRatioF());
        painter.drawImage(picture.topLeft(), image);
    } else {
        // A picture of the size before a resize, until the next one arrives.
        painter.drawImage(QRectF(picture), image);
    }
}

void CVideoViewWidget::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton)
        emit DoubleClicked();
    QWidget::mouseDoubleClickEvent(event);
}

void CVideoViewWidget::mousePressEvent(QMouseEvent* event) {
    if (!m_bClickToPause || !m_pPlayer || event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    if (m_pPlayer->PlayState() == kPlayStatePlaying)
        m_pPlayer->Pause();
    else if (m_pPlayer->HasMedia())
        m_pPlayer->Play();
}
