#include "fake_media_player.h"

#include <QMetaObject>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>

bool CFakeMediaPlayer::SetViewSize(int width, int height) {
    if (!m_view.Resize(width, height))
        return false;
    if (m_bLoaded)
        Present();
    return true;
}

CStatus CFakeMediaPlayer::Open(const std::string& path) {
    const auto found = m_shelf.find(path);
    if (found == m_shelf.end()) {
        m_bLoaded = false;
        m_nState = kPlayStateStopped;
        m_dPosition = 0.0;
        m_view.Clear();
        Notify();
        return CStatus::Failure("unrecognized file format");
    }
    m_media = found->second;
    m_bLoaded = true;
    m_nState = kPlayStateStopped;
    MoveTo(0);
    return {};
}

void CFakeMediaPlayer::Play() {
    if (!m_bLoaded)
        return;
    m_nState = kPlayStatePlaying;
    if (m_bAtEnd)
        MoveTo(0);
    Notify();
}

void CFakeMediaPlayer::Pause() {
    // A stopped player stays stopped, as libmpv's does.
    if (!m_bLoaded || m_nState == kPlayStateStopped)
        return;
    m_nState = kPlayStatePaused;
    Notify();
}

void CFakeMediaPlayer::Stop() {
    if (!m_bLoaded)
        return;
    m_nState = kPlayStateStopped;
    MoveTo(0);
}

void CFakeMediaPlayer::Seek(double seconds) {
    if (!m_bLoaded)
        return;
    if (m_nState == kPlayStateStopped)
        m_nState = kPlayStatePaused;
    const double end = m_media.m_dSeconds;
    const double at = std::clamp(seconds, 0.0, end);
    MoveTo(int(std::lround(at * m_media.m_dFramesPerSecond)));
    // The position is exactly where it was sent, as a seek to the exact picture gives.
    if (m_media.m_dSeconds > 0)
        m_dPosition = at;
}

void CFakeMediaPlayer::StepFrame(bool bForward) {
    if (!m_bLoaded)
        return;
    m_nState = kPlayStatePaused;
    MoveTo(std::max(0, m_nFrame + (bForward ? 1 : -1)));
}

void CFakeMediaPlayer::Redraw() {
    Present();
}

bool CFakeMediaPlayer::SetRate(double rate) {
    m_dRate = rate;
    return true;
}

void CFakeMediaPlayer::ShowFrame(int frame) {
    MoveTo(frame);
}

void CFakeMediaPlayer::PlayToEnd() {
    MoveTo(int(std::lround(m_media.m_dSeconds * m_media.m_dFramesPerSecond)));
    m_dPosition = m_media.m_dSeconds;
    m_nState = kPlayStateStopped;
    m_bAtEnd = true;
}

void CFakeMediaPlayer::MoveTo(int frame) {
    m_bAtEnd = false;
    m_nFrame = frame;
    // Set before the picture is presented: a grab of the new picture reads its position.
    m_dPosition = m_media.m_dSeconds > 0 ? frame / m_media.m_dFramesPerSecond : 0.0;
    Present();
    Notify();
}

void CFakeMediaPlayer::Present() {
    if (m_view.Width() <= 0 || m_view.Height() <= 0)
        return;
    CGrabBitmap back;
    if (!back.Create(m_view.Width(), m_view.Height()))
        return;
    const int level = m_bLoaded && m_media.m_bVideo ? FrameLevel(m_nFrame) : 0;
    for (int y = 0; y < back.m_nHeight; ++y)
        std::memset(back.Row(y), level, std::size_t(back.m_nWidth) * 4);
    m_view.Present(back);
}

void CFakeMediaPlayer::Notify() {
    if (m_bNotifyPosted)
        return;
    m_bNotifyPosted = true;
    QMetaObject::invokeMethod(
        this, [this] { Deliver(); }, Qt::QueuedConnection);
}

void CFakeMediaPlayer::Deliver() {
    m_bNotifyPosted = false;
    if (m_nState != m_nDeliveredState) {
        m_nDeliveredState = m_nState;
        emit PlayStateChanged(m_nState);
    }
    if (PositionSeconds() != m_dDeliveredPosition) {
        m_dDeliveredPosition = PositionSeconds();
        emit PositionChanged(m_dDeliveredPosition);
    }
}

void CFakePlayers::AddMedia(const std::string& path, const CFakeMedia& media) {
    std::ofstream(path) << "fake media\n";
    m_shelf[path] = media;
}

MediaPlayerFactory CFakePlayers::Factory() {
    return [this]() -> std::unique_ptr<IMediaPlayer> {
        auto player = std::make_unique<CFakeMediaPlayer>(m_shelf);
        m_made.push_back(player.get());
        return player;
    };
}
