#include "app/capture/rm_play_wnd.h"

#include <QLayout>
#include <QPaintEvent>
#include <QPainter>
#include <QVBoxLayout>

#include <utility>

#include "app/capture/player_panel_widget.h"
#include "app/capture/video_view_widget.h"
#include "capture/capture_engine.h"
#include "platform/media_player.h"

namespace {

bool SameConsole(const QString& a, const QString& b) {
    return !a.isEmpty() && a.compare(b, Qt::CaseInsensitive) == 0;
}

constexpr int kBorderWidth = 2;

}  // namespace

int RmPlayState(int playerState) {
    switch (playerState) {
        case kPlayStatePlaying:
            return kRmStatePlaying;
        case kPlayStatePaused:
            return kRmStatePaused;
        default:
            return kRmStateStopped;
    }
}

CRMPlayWnd::CRMPlayWnd(bool bAudio, QWidget* parent)
    : CRMPlayWnd(MediaPlayerMaker(bAudio), parent) {}

CRMPlayWnd::CRMPlayWnd(MediaPlayerFactory makePlayer, QWidget* parent)
    : QFrame(parent),
      m_pictureSize(kGrabWidth, kGrabHeight),
      m_fnMakePlayer(std::move(makePlayer)) {
    setLineWidth(kBorderWidth);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    UpdateFrame();
}

CRMPlayWnd::~CRMPlayWnd() {
    // The children go before the player they show.
    delete m_pVideo;
    delete m_pPanel;
    disconnect(m_position);
    disconnect(m_state);
}

void CRMPlayWnd::CreateInPlace(QWidget* placeholder) {
    QWidget* parent = placeholder->parentWidget();
    m_pictureSize = placeholder->size();
    setParent(parent);
    QLayout* layout = parent ? parent->layout() : nullptr;
    QLayoutItem* old = layout ? layout->replaceWidget(placeholder, this) : nullptr;
    if (old == nullptr) {
        move(placeholder->pos());
    }
    delete old;
    delete placeholder;
    Rebuild();
    show();
}

void CRMPlayWnd::Bind(std::shared_ptr<IMediaPlayer> player) {
    if (player == m_pPlayer)
        return;
    disconnect(m_position);
    disconnect(m_state);
    m_pPlayer = std::move(player);
    if (m_pPlayer) {
        m_position = connect(m_pPlayer.get(), &IMediaPlayer::PositionChanged, this,
                             [this](double seconds) { OnPositionChange(PositionToMs(seconds)); });
        m_state = connect(m_pPlayer.get(), &IMediaPlayer::PlayStateChanged, this,
                          [this](int state) { OnPlayStateChange(RmPlayState(state)); });
    }
    if (m_pVideo)
        m_pVideo->SetPlayer(m_pPlayer.get());
    if (m_pPanel)
        m_pPanel->SetPlayer(m_pPlayer.get());
}

void CRMPlayWnd::EnsurePlayer() {
    if (!m_pPlayer)
        Bind(std::shared_ptr<IMediaPlayer>(m_fnMakePlayer()));
}

CStatus CRMPlayWnd::SetSource(const QString& strPath) {
    EnsurePlayer();
    m_strSource = strPath;
    return m_pPlayer->Open(strPath.toStdString());
}

void CRMPlayWnd::SetConsole(const QString& strName, CRMPlayWnd* other) {
    m_strConsole = strName;
    if (!other || other == this || !SameConsole(strName, other->m_strConsole))
        return;
    // The console keeps its player unless only this view holds media.
    std::shared_ptr<IMediaPlayer> chosen = other->m_pPlayer;
    if (!chosen || (m_pPlayer && m_pPlayer->HasMedia() && !chosen->HasMedia()))
        chosen = m_pPlayer;
    if (!chosen)
        return;
    Bind(chosen);
    other->Bind(chosen);
}

void CRMPlayWnd::SetControls(const QString& strControls) {
    m_strControls = strControls;
    Rebuild();
}

void CRMPlayWnd::Rebuild() {
    bool bImage = false;
    bool bPanel = false;
    bool bStatus = false;
    for (const QString& part : m_strControls.split(u',', Qt::SkipEmptyParts)) {
        const QString name = part.trimmed();
        bImage = bImage || name.compare(QLatin1String("ImageWindow"), Qt::CaseInsensitive) == 0;
        bPanel = bPanel || name.compare(QLatin1String("ControlPanel"), Qt::CaseInsensitive) == 0;
        bStatus = bStatus || name.compare(QLatin1String("StatusBar"), Qt::CaseInsensitive) == 0;
    }
    if (bImage && !m_pVideo) {
        // The picture exists (black) before any media, so that it can always be grabbed.
        EnsurePlayer();
        m_pVideo = new CVideoViewWidget(this);
        m_pVideo->SetPlayer(m_pPlayer.get());
        layout()->addWidget(m_pVideo);
    } else if (!bImage && m_pVideo) {
        delete m_pVideo;
        m_pVideo = nullptr;
    }
    if ((bPanel || bStatus) && !m_pPanel) {
        m_pPanel = new CPlayerPanelWidget(this);
        m_pPanel->SetPlayer(m_pPlayer.get());
        layout()->addWidget(m_pPanel);
    } else if (!(bPanel || bStatus) && m_pPanel) {
        delete m_pPanel;
        m_pPanel = nullptr;
    }
    if (m_pVideo) {
        m_pVideo->SetPictureSize(m_pictureSize);
        m_pVideo->SetClickToPause(m_bClickToPause);
    }
    // The view's focus is its controls' (they draw the focus mark and take the keys).
    setFocusProxy(m_pPanel);
    if (m_pPanel) {
        m_pPanel->SetControlsEnabled(m_bPanelEnabled);
        m_pPanel->SetAcceptsKeyboard(m_bAcceptsKeyboard);
        m_pPanel->SetShowStatusLine(bStatus);
        m_pPanel->SetShowButtons(bPanel);
    }
    UpdateFrame();
}

void CRMPlayWnd::UpdateFrame() {
    setFrameStyle(m_bSunkenFrame || m_bRecordingMark ? (QFrame::Panel | QFrame::Sunken)
                                                     : QFrame::NoFrame);
    setLineWidth(kBorderWidth);
    QPalette colours = palette();
    if (m_bRecordingMark) {
        colours.setColor(QPalette::Light, QColor(224, 0, 0));
        colours.setColor(QPalette::Dark, QColor(224, 0, 0));
    } else {
        colours = QPalette();
    }
    setPalette(colours);
    // The picture (or the panel alone) is at least its size, the frame around it; wider, the
    // picture grows in its own shape, and the panel alone only grows wider.
    QSize inner = m_pictureSize;
    if (m_pVideo && m_pPanel)
        inner.rheight() += m_pPanel->sizeHint().height();
    const int frame = frameWidth();
    const QSize outer = inner + QSize(2 * frame, 2 * frame);
    setMinimumSize(outer);
    setMaximumSize(QWIDGETSIZE_MAX, m_pVideo ? QWIDGETSIZE_MAX : outer.height());
}

void CRMPlayWnd::SetSunkenFrame(bool bSunken) {
    m_bSunkenFrame = bSunken;
    UpdateFrame();
}

void CRMPlayWnd::SetAcceptsKeyboard(bool bAccept) {
    m_bAcceptsKeyboard = bAccept;
    setFocusPolicy(bAccept ? Qt::StrongFocus : Qt::NoFocus);
    if (m_pPanel)
        m_pPanel->SetAcceptsKeyboard(bAccept);
}

void CRMPlayWnd::DoPlay() {
    if (m_pPlayer)
        m_pPlayer->Play();
}

void CRMPlayWnd::DoPause() {
    if (m_pPlayer)
        m_pPlayer->Pause();
}

void CRMPlayWnd::DoStop() {
    if (m_pPlayer)
        m_pPlayer->Stop();
}

std::int32_t CRMPlayWnd::GetPosition() const {
    return m_pPlayer ? PositionToMs(m_pPlayer->PositionSeconds()) : 0;
}

int CRMPlayWnd::GetPlayState() const {
    return m_pPlayer ? RmPlayState(m_pPlayer->PlayState()) : kRmStateStopped;
}

void CRMPlayWnd::SetRecordingMark(bool bShow) {
    m_bRecordingMark = bShow;
    UpdateFrame();
}

void CRMPlayWnd::SetClickToPause(bool bEnable) {
    m_bClickToPause = bEnable;
    if (m_pVideo)
        m_pVideo->SetClickToPause(bEnable);
}

void CRMPlayWnd::SetPanelEnabled(bool bEnable) {
    m_bPanelEnabled = bEnable;
    if (m_pPanel)
        m_pPanel->SetControlsEnabled(bEnable);
}

const CPlayerView* CRMPlayWnd::View() const {
    return m_pPlayer ? &m_pPlayer->View() : nullptr;
}

void CRMPlayWnd::OnPositionChange(std::int32_t positionMs) {
    emit PositionChange(positionMs);
    if (m_bRecording)
        emit FlushRequested(positionMs);
}

void CRMPlayWnd::OnPlayStateChange(int rmState) {
    emit PlayStateChange(rmState);
    if (m_bRecording && (rmState == kRmStateStopped || rmState == kRmStatePaused))
        emit StopRequested();
}
