#include "app/capture/video_view_widget.h"

#include <QImage>
#include <QMouseEvent>
#include <QPainter>

#include "capture/capture_engine.h"
#include "platform/media_player.h"

namespace {
// A little faster than the 25 or 30 pictures a second of common media.
constexpr int kPollMs = 20;
}  // namespace

CVideoViewWidget::CVideoViewWidget(QWidget* parent)
    : QWidget(parent), m_size(kGrabWidth, kGrabHeight) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFixedSize(m_size);
    m_poll.setInterval(kPollMs);
    connect(&m_poll, &QTimer::timeout, this, &CVideoViewWidget::PollFrame);
}

void CVideoViewWidget::SetPlayer(IMediaPlayer* player) {
    m_pPlayer = player;
    m_nShownFrame = 0;
    if (m_pPlayer) {
        m_pPlayer->SetViewSize(m_size.width(), m_size.height());
        m_poll.start();
    } else {
        m_poll.stop();
    }
    update();
}

void CVideoViewWidget::SetPictureSize(const QSize& size) {
    m_size = size;
    setFixedSize(size);
    if (m_pPlayer)
        m_pPlayer->SetViewSize(size.width(), size.height());
    update();
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
    const QImage image(const_cast<CGrabBitmap&>(frame).Bits(), frame.m_nWidth, frame.m_nHeight,
                       frame.m_nStride, QImage::Format_RGB32);
    painter.drawImage(QPoint(0, 0), image);
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
