#include "app/capture/win_media_player_page.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QSpinBox>
#include <QVBoxLayout>

#include "app/capture/media_player2.h"
#include "app/capture/screen_grab_widget.h"
#include "app/capture/video_view_widget.h"
#include "capture/frame_grab.h"
#include "image/dib_image.h"
#include "platform/media_player.h"
#include "platform/window_grab.h"

QStringList CWinMediaPlayerPage::WmMediaFilters() {
    return {tr("媒体文件(*.avi;*.asf;*.wmv;*.mpeg;*.mpg;*.mp2;*.dat;*.wm;*.wma) "
               "(*.avi *.asf *.wmv *.mpeg *.mpg *.mp2 *.dat *.wm *.wma)"),
            CPlayerPage::CommonVideoFilter(), tr("所有文件 (*.*) (*)")};
}

CWinMediaPlayerPage::CWinMediaPlayerPage(CDesktop& desktop, CRecording& recording, bool bAudio,
                                         QWidget* parent)
    : CWinMediaPlayerPage(desktop, recording, MediaPlayerMaker(bAudio), parent) {}

CWinMediaPlayerPage::CWinMediaPlayerPage(CDesktop& desktop, CRecording& recording,
                                         const MediaPlayerFactory& makePlayer, QWidget* parent)
    : CPlayerPage(kIDD, WmMediaFilters(), desktop, recording, parent) {
    auto* column = new QVBoxLayout(PlayerArea());
    column->setContentsMargins(0, 0, 0, 0);
    m_pPlayer = new CMediaPlayer2(makePlayer, PlayerArea());
    column->addWidget(m_pPlayer);
    column->addStretch(1);

    m_pRateSpin = MakeNumberSpin(this, kMinRate, kMaxRate, kNormalRate);
    auto* rateLabel = new QLabel(tr("录像时的播放速率："), this);
    rateLabel->setWordWrap(true);
    SideColumn()->addSpacing(12);
    SideColumn()->addWidget(rateLabel);
    auto* rate = new QHBoxLayout;
    rate->addWidget(m_pRateSpin);
    rate->addWidget(new QLabel(QStringLiteral("%"), this));
    SideColumn()->addLayout(rate);

    connect(m_pPlayer, &CMediaPlayer2::PlayStateChange, this,
            &CWinMediaPlayerPage::OnPlayStateChange);
    SetKeyPanel(m_pPlayer->PanelWidget());
    SetVideoWidget(m_pPlayer->VideoWidget());
    UpdateControls();
}

CWinMediaPlayerPage::~CWinMediaPlayerPage() {
    if (AbandonRecording())
        m_pPlayer->SetRecordingMark(false);
    m_pPlayer->Stop();
}

double CWinMediaPlayerPage::PositionSeconds() const {
    return m_pPlayer->GetCurrentPosition();
}

CStatus CWinMediaPlayerPage::LoadMedia(const QString& strPath) {
    return m_pPlayer->Open(strPath);
}

void CWinMediaPlayerPage::PauseBeforeRecording() {
    if (m_pPlayer->GetPlayState() != kPlayStateStopped)
        m_pPlayer->Pause();
}

bool CWinMediaPlayerPage::RewindFinishedMedia() {
    if (m_pPlayer->GetPlayState() != kPlayStateStopped || m_pPlayer->GetCurrentPosition() <= 0)
        return false;
    m_pPlayer->Stop();
    return true;
}

const CPlayerView* CWinMediaPlayerPage::RecordedView() const {
    return &m_pPlayer->View();
}

void CWinMediaPlayerPage::RedrawPicture() {
    m_pPlayer->Player().Redraw();
}

bool CWinMediaPlayerPage::HasPicture() const {
    return m_pPlayer->Player().HasVideo();
}

void CWinMediaPlayerPage::PlayForRecording() {
    const int rate = m_pRateSpin->value();
    if (rate != kNormalRate)
        m_pPlayer->SetRate(rate * 0.01);
    m_pPlayer->SetRecordingMark(true);
    m_pPlayer->Play();
}

void CWinMediaPlayerPage::PauseAfterRecording() {
    if (m_pPlayer->GetPlayState() != kPlayStateStopped)
        m_pPlayer->Pause();
    m_pPlayer->SetRecordingMark(false);
    m_pPlayer->SetRate(1.0);
}

void CWinMediaPlayerPage::ShowPlayerControls(bool bRecording) {
    m_pPlayer->SetControlsEnabled(!bRecording);
    m_pPlayer->SetClickToPause(!bRecording);
    m_pPlayer->SetShowStatusLine(true);
}

void CWinMediaPlayerPage::OnPlayStateChange(int /*oldState*/, int newState) {
    if (newState == kPlayStateStopped || newState == kPlayStatePaused)
        PostStopIfRecording();
}

void CWinMediaPlayerPage::ClearPicture() {
    m_pPlayer->Player().View().Clear();
    m_pPlayer->VideoWidget()->update();
}

bool CWinMediaPlayerPage::GrabCurrentFrame(CDibImage& image) {
    // The picture as it lies on the screen: 350 x 240 at the window's first size, larger when
    // the window has grown.
    const QSize size = m_pPlayer->VideoWidget()->PictureRect().size();
    const QRect area(m_pPlayer->mapToGlobal(QPoint(0, 0)), size);
    if (CaptureScreenRect(image, area))
        return true;
    const GrabRect picture{0, 0, m_pPlayer->View().Width(), m_pPlayer->View().Height()};
    return CaptureWindow(image, &m_pPlayer->View(), &picture);
}
