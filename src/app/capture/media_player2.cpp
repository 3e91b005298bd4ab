#include "app/capture/media_player2.h"

#include <QVBoxLayout>

#include "app/capture/player_panel_widget.h"
#include "app/capture/video_view_widget.h"
#include "capture/capture_engine.h"
#include "platform/media_player.h"

CMediaPlayer2::CMediaPlayer2(bool bAudio, QWidget* parent)
    : CMediaPlayer2(MediaPlayerMaker(bAudio), parent) {}

CMediaPlayer2::CMediaPlayer2(const MediaPlayerFactory& makePlayer, QWidget* parent)
    : QWidget(parent), m_pPlayer(makePlayer()) {
    // At least 350 x 312; wider, the picture grows in its own shape and the controls follow it.
    setMinimumSize(kMediaPlayer2Width, kMediaPlayer2Height);
    m_pVideo = new CVideoViewWidget(this);
    m_pVideo->SetPictureSize(QSize(kGrabWidth, kGrabHeight));
    m_pVideo->SetPlayer(m_pPlayer.get());
    m_pPanel = new CPlayerPanelWidget(this);
    m_pPanel->setFixedHeight(kMediaPlayer2Height - kGrabHeight);
    m_pPanel->SetPlayer(m_pPlayer.get());
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_pVideo);
    layout->addWidget(m_pPanel);
    // The controls take the player keys; a click on the picture gives them the focus.
    m_pVideo->setFocusPolicy(Qt::ClickFocus);
    m_pVideo->setFocusProxy(m_pPanel);
    setFocusProxy(m_pPanel);
    connect(m_pPlayer.get(), &IMediaPlayer::PlayStateChanged, this, [this](int state) {
        const int old = m_nLastState;
        m_nLastState = state;
        emit PlayStateChange(old, state);
    });
}

CMediaPlayer2::~CMediaPlayer2() {
    // The widgets showing the player go before it.
    delete m_pVideo;
    delete m_pPanel;
}

CStatus CMediaPlayer2::Open(const QString& strPath) {
    return m_pPlayer->Open(strPath.toStdString());
}

void CMediaPlayer2::Play() {
    m_pPlayer->Play();
}

void CMediaPlayer2::Pause() {
    m_pPlayer->Pause();
}

void CMediaPlayer2::Stop() {
    m_pPlayer->Stop();
}

double CMediaPlayer2::GetCurrentPosition() const {
    return m_pPlayer->PositionSeconds();
}

void CMediaPlayer2::SetRate(double rate) {
    m_pPlayer->SetRate(rate);
}

double CMediaPlayer2::GetRate() const {
    return m_pPlayer->Rate();
}

int CMediaPlayer2::GetPlayState() const {
    return m_pPlayer->PlayState();
}

void CMediaPlayer2::SetClickToPause(bool bEnable) {
    m_pVideo->SetClickToPause(bEnable);
}

bool CMediaPlayer2::ClickToPause() const {
    return m_pVideo->ClickToPause();
}

void CMediaPlayer2::SetShowStatusLine(bool bShow) {
    m_pPanel->SetShowStatusLine(bShow);
}

bool CMediaPlayer2::ShowStatusLine() const {
    return m_pPanel->ShowStatusLine();
}

void CMediaPlayer2::SetControlsEnabled(bool bEnable) {
    m_pPanel->SetControlsEnabled(bEnable);
}

bool CMediaPlayer2::ControlsEnabled() const {
    return m_pPanel->ControlsEnabled();
}

void CMediaPlayer2::SetRecordingMark(bool bShow) {
    m_pPanel->SetRecordingMark(bShow);
}

bool CMediaPlayer2::RecordingMark() const {
    return m_pPanel->RecordingMark();
}

const CPlayerView& CMediaPlayer2::View() const {
    return m_pPlayer->View();
}
