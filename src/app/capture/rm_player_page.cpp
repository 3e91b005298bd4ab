#include "app/capture/rm_player_page.h"

#include <QVBoxLayout>

#include "app/capture/player_panel_widget.h"
#include "app/capture/rm_play_wnd.h"
#include "app/capture/video_view_widget.h"
#include "capture/capture_engine.h"
#include "capture/frame_grab.h"
#include "image/dib_image.h"
#include "platform/media_player.h"
#include "platform/window_grab.h"

namespace {
// The panel's place below the picture: its buttons, position and status line.
constexpr int kPanelHeight = 46;
}  // namespace

QStringList CRMPlayerPage::RmMediaFilters() {
    return {tr("RM 文件(*.rm,*.ram,*.ra,*.swf,*.avi) (*.rm *.ram *.ra *.swf *.avi)"),
            CPlayerPage::CommonVideoFilter(), tr("所有文件 (*.*) (*)")};
}

CRMPlayerPage::CRMPlayerPage(CDesktop& desktop, CRecording& recording, bool bAudio, QWidget* parent)
    : CRMPlayerPage(desktop, recording, MediaPlayerMaker(bAudio), parent) {}

CRMPlayerPage::CRMPlayerPage(CDesktop& desktop, CRecording& recording,
                             const MediaPlayerFactory& makePlayer, QWidget* parent)
    : CPlayerPage(kIDD, RmMediaFilters(), desktop, recording, parent) {
    // Placeholders first, as the page is laid out; the views take their places.
    auto* column = new QVBoxLayout(PlayerArea());
    column->setContentsMargins(0, 0, 0, 0);
    auto* videoPlace = new QWidget(PlayerArea());
    // Exactly the area the capture engine grabs.
    videoPlace->setFixedSize(kGrabWidth, kGrabHeight);
    auto* panelPlace = new QWidget(PlayerArea());
    panelPlace->setFixedSize(kGrabWidth, kPanelHeight);
    column->addWidget(videoPlace);
    column->addWidget(panelPlace);
    column->addStretch(1);

    m_pVideo = new CRMPlayWnd(makePlayer, PlayerArea());
    m_pVideo->CreateInPlace(videoPlace);
    m_pVideo->SetControls(QStringLiteral("IMAGEWINDOW"));
    m_pVideo->SetAcceptsKeyboard(false);
    m_pVideo->SetSunkenFrame(true);

    m_pPanel = new CRMPlayWnd(makePlayer, PlayerArea());
    m_pPanel->CreateInPlace(panelPlace);
    m_pPanel->SetControls(QStringLiteral("ControlPanel,StatusBar"));
    m_pPanel->SetAcceptsKeyboard(false);
    m_pPanel->SetSunkenFrame(true);
    m_pPanel->SetAcceptsKeyboard(true);

    // While recording, the picture view's position notifications write the queued frames,
    // and its player stopping or pausing ends the recording.
    connect(m_pVideo, &CRMPlayWnd::FlushRequested, this,
            [this](std::int32_t positionMs) { Recording().Flush(positionMs); });
    connect(m_pVideo, &CRMPlayWnd::StopRequested, this, &CPlayerPage::PostStopIfRecording);

    // The controls take the player keys; a click on the picture gives them the focus.
    SetKeyPanel(m_pPanel->PanelWidget());
    SetVideoWidget(m_pVideo->VideoWidget());
    m_pVideo->VideoWidget()->setFocusPolicy(Qt::ClickFocus);
    m_pVideo->VideoWidget()->setFocusProxy(m_pPanel->PanelWidget());

    UpdateControls();
}

CRMPlayerPage::~CRMPlayerPage() {
    // Position notifications that arrive while the worker stops write nothing.
    m_pVideo->SetRecording(false);
    if (AbandonRecording())
        m_pVideo->SetRecordingMark(false);
    m_pVideo->DoStop();
    delete m_pVideo;
    m_pVideo = nullptr;
    m_pPanel->DoStop();
    delete m_pPanel;
    m_pPanel = nullptr;
}

CStatus CRMPlayerPage::LoadMedia(const QString& strPath) {
    CStatus opened = m_pVideo->SetSource(strPath);
    const QString console = QLatin1String(kConsoleName);
    m_pVideo->SetConsole(console);
    m_pPanel->SetConsole(console, m_pVideo);
    return opened;
}

void CRMPlayerPage::PauseBeforeRecording() {
    m_pVideo->DoPause();
}

bool CRMPlayerPage::RewindFinishedMedia() {
    if (m_pVideo->GetPlayState() != kRmStateStopped || m_pVideo->GetPosition() <= 0)
        return false;
    m_pVideo->DoStop();
    return true;
}

double CRMPlayerPage::PositionSeconds() const {
    const IMediaPlayer* player = m_pVideo->Player();
    return player ? player->PositionSeconds() : 0.0;
}

const CPlayerView* CRMPlayerPage::RecordedView() const {
    return m_pVideo->View();
}

void CRMPlayerPage::RedrawPicture() {
    if (IMediaPlayer* player = m_pVideo->Player())
        player->Redraw();
}

bool CRMPlayerPage::HasPicture() const {
    const IMediaPlayer* player = m_pVideo->Player();
    return player && player->HasVideo();
}

void CRMPlayerPage::PlayForRecording() {
    m_pVideo->SetRecording(true);
    m_pVideo->SetRecordingMark(true);
    m_pVideo->DoPlay();
}

void CRMPlayerPage::PauseAfterRecording() {
    m_pVideo->DoPause();
    m_pVideo->SetRecording(false);
    m_pVideo->SetRecordingMark(false);
}

void CRMPlayerPage::ShowPlayerControls(bool bRecording) {
    m_pVideo->SetClickToPause(!bRecording);
    m_pPanel->SetPanelEnabled(!bRecording);
}

void CRMPlayerPage::ClearPicture() {
    if (IMediaPlayer* player = m_pVideo->Player())
        player->View().Clear();
    m_pVideo->VideoWidget()->update();
}

bool CRMPlayerPage::GrabCurrentFrame(CDibImage& image) {
    return CaptureWindow(image, m_pVideo->View(), nullptr);
}
