#include "app/capture/player_page.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>
#include <optional>
#include <utility>

#include "app/capture/player_panel_widget.h"
#include "app/capture/recording_line.h"
#include "app/capture/video_view_widget.h"
#include "app/widgets/desktop.h"
#include "app/widgets/path_drop.h"
#include "app/widgets/path_label.h"
#include "app/widgets/remembered_folders.h"
#include "app/widgets/select_folder_dialog.h"
#include "image/dib_image.h"
#include "platform/make_folder.h"
#include "platform/media_player.h"
#include "platform/pump_messages.h"

namespace {
// How often the recording line is brought up to date.
constexpr int kProgressMs = 250;
}  // namespace

QSpinBox* MakeNumberSpin(QWidget* parent, int minimum, int maximum, int value) {
    auto* spin = new QSpinBox(parent);
    spin->setRange(minimum, maximum);
    spin->setValue(value);
    spin->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    spin->setGroupSeparatorShown(false);
    return spin;
}

QStringList CPlayerPage::SnapshotFilters() {
    return {tr("位图文件 (*.bmp)"), AllFilesFilter()};
}

QString CPlayerPage::CommonVideoFilter() {
    return tr("视频文件(*.mp4;*.mkv;*.webm;*.mov;*.m4v) (*.mp4 *.mkv *.webm *.mov *.m4v)");
}

CPlayerPage::CPlayerPage(int nIDTemplate, const QStringList& mediaFilters, CDesktop& desktop,
                         CRecording& recording, QWidget* parent)
    : CFontablePage(nIDTemplate, desktop, parent),
      m_recording(recording),
      m_mediaFilters(mediaFilters) {
    m_pPlayerArea = new QWidget(this);
    m_pMediaButton = new QPushButton(tr("源文件"), this);
    m_pRecordButton = new QPushButton(tr("开始录像"), this);
    m_pSaveFrameButton = new QPushButton(tr("存当前画面"), this);
    m_pFolderButton = new QPushButton(tr("选择"), this);
    m_pStartMarkButton = new QPushButton(tr("设起点"), this);
    m_pEndMarkButton = new QPushButton(tr("设终点"), this);
    m_pClearMarksButton = new QPushButton(tr("清除标记"), this);
    m_pStartMarkButton->setToolTip(tr("把当前位置设为片段的起点（I 键）"));
    m_pEndMarkButton->setToolTip(tr("把当前位置设为片段的终点（O 键）"));
    for (QPushButton* button :
         {m_pMediaButton, m_pRecordButton, m_pSaveFrameButton, m_pFolderButton, m_pStartMarkButton,
          m_pEndMarkButton, m_pClearMarksButton}) {
        button->setAutoDefault(false);
    }
    m_pFrameTimeLabel = new QLabel(this);
    m_pFrameTimeLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    MakeFrameTools();
    m_pIntervalSpin = MakeNumberSpin(this, kMinInterval, kMaxInterval, kMinInterval);
    m_pFolderLabel = new CPathLabel(this, Qt::AlignLeft | Qt::AlignVCenter, false);
    m_pFolderLabel->m_bPathEllipsis = true;
    m_pRecordingLine = new CRecordingLine(desktop, this);

    m_pSideColumn = new QVBoxLayout;
    m_pSideColumn->addWidget(m_pMediaButton);
    m_pSideColumn->addWidget(m_pRecordButton);
    m_pSideColumn->addWidget(m_pSaveFrameButton);
    m_pSideColumn->addSpacing(12);
    m_pSideColumn->addWidget(new QLabel(tr("录像间隔："), this));
    auto* interval = new QHBoxLayout;
    interval->addWidget(m_pIntervalSpin);
    interval->addWidget(new QLabel(tr("毫秒"), this));
    m_pSideColumn->addLayout(interval);
    m_pSideColumn->addSpacing(12);
    auto* marks = new QHBoxLayout;
    marks->addWidget(m_pStartMarkButton);
    marks->addWidget(m_pEndMarkButton);
    m_pSideColumn->addLayout(marks);
    m_pSideColumn->addWidget(m_pClearMarksButton);
    m_pSideColumn->addWidget(m_pFrameTimeLabel);
    m_pSideColumn->addSpacing(12);
    auto* fullFrame = new QHBoxLayout;
    fullFrame->addWidget(m_pFullFrameButton);
    fullFrame->addWidget(m_pFrameTypeCombo);
    m_pSideColumn->addLayout(fullFrame);
    m_pSideColumn->addWidget(m_pExportSpanButton);
    auto* still = new QHBoxLayout;
    still->addWidget(m_pBestStillButton);
    still->addWidget(m_pScaleCombo);
    m_pSideColumn->addLayout(still);
    m_pSideColumn->addWidget(m_pJobProgress);
    m_pSideColumn->addWidget(m_pJobLabel);
    m_pSideColumn->addWidget(m_pJobStopButton);

    auto* folderRow = new QHBoxLayout;
    folderRow->addWidget(new QLabel(tr("截下来的图像文件保存到:"), this));
    folderRow->addWidget(m_pFolderButton);
    folderRow->addStretch(1);

    auto* grid = new QGridLayout(this);
    // The player area takes what the window gives; its picture grows in its own shape.
    grid->addWidget(m_pPlayerArea, 0, 0);
    grid->addLayout(m_pSideColumn, 0, 1, Qt::AlignTop);
    grid->addWidget(m_pRecordingLine, 1, 0, 1, 2);
    grid->addLayout(folderRow, 2, 0, 1, 2);
    grid->addWidget(m_pFolderLabel, 3, 0, 1, 2);
    grid->setColumnStretch(0, 1);
    grid->setRowStretch(0, 1);

    connect(m_pMediaButton, &QPushButton::clicked, this, &CPlayerPage::OnChooseMedia);
    connect(m_pFolderButton, &QPushButton::clicked, this, &CPlayerPage::OnChooseFolder);
    connect(m_pRecordButton, &QPushButton::clicked, this, &CPlayerPage::OnRecord);
    connect(m_pSaveFrameButton, &QPushButton::clicked, this, &CPlayerPage::OnSaveFrame);

    // Both player pages share the remembered capture folder; a page that records keeps showing
    // the folder it records into.
    m_pFolderLabel->setText(Desktop().Folders().Get(CRememberedFolders::Capture));
    connect(&Desktop().Folders(), &CRememberedFolders::Changed, this,
            [this](CRememberedFolders::Folder which, const QString& path) {
                if (which == CRememberedFolders::Capture && path != Folder() &&
                    m_nState != kStateRecording)
                    SetFolder(path);
            });

    // F12 saves the frame wherever the focus is on the page; S only from the player's controls.
    auto* saveKey = new QShortcut(QKeySequence(Qt::Key_F12), this);
    saveKey->setContext(Qt::WidgetWithChildrenShortcut);
    connect(saveKey, &QShortcut::activated, this, &CPlayerPage::OnSaveFrameKey);
    m_pSaveFrameButton->setToolTip(tr("保存播放器显示的画面（S 键或 F12 键）"));
    m_pRecordButton->setToolTip(tr("录制仍存 350×240 的画面"));
    // F11 or a double click on the picture shows the window on the whole screen; Esc or F11
    // brings it back.
    auto* fullKey = new QShortcut(QKeySequence(Qt::Key_F11), this);
    fullKey->setContext(Qt::WidgetWithChildrenShortcut);
    connect(fullKey, &QShortcut::activated, this, &CPlayerPage::ToggleFullScreen);
    m_pLeaveFullScreenKey = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    m_pLeaveFullScreenKey->setContext(Qt::WidgetWithChildrenShortcut);
    m_pLeaveFullScreenKey->setEnabled(false);
    connect(m_pLeaveFullScreenKey, &QShortcut::activated, this, &CPlayerPage::ToggleFullScreen);
    new CPathDrop(this, CPathDrop::Files, [this](const QString& path) { OnDropped(path); });
    m_progressTimer.setInterval(kProgressMs);
    connect(&m_progressTimer, &QTimer::timeout, this, &CPlayerPage::ShowRecordingProgress);
}

QString CPlayerPage::BusyQuestion() const {
    return tr("正在录制…，确定要停止并退出吗？");
}

void CPlayerPage::SetKeyPanel(CPlayerPanelWidget* panel) {
    m_pKeyPanel = panel;
    connect(panel, &CPlayerPanelWidget::SaveFrameRequested, this, &CPlayerPage::OnSaveFrameKey);
    connect(panel, &CPlayerPanelWidget::PositionShown, this, &CPlayerPage::ShowFrameTime);
    connect(m_pStartMarkButton, &QPushButton::clicked, panel, [panel] { panel->SetMark(false); });
    connect(m_pEndMarkButton, &QPushButton::clicked, panel, [panel] { panel->SetMark(true); });
    connect(m_pClearMarksButton, &QPushButton::clicked, panel, &CPlayerPanelWidget::ClearMarks);
}

void CPlayerPage::ToggleFullScreen() {
    QWidget* top = window();
    if (top->isFullScreen())
        top->showNormal();
    else
        top->showFullScreen();
    // Esc only leaves the whole screen; otherwise it stays the window's own.
    m_pLeaveFullScreenKey->setEnabled(top->isFullScreen());
}

void CPlayerPage::SetVideoWidget(CVideoViewWidget* video) {
    video->setToolTip(tr("双击或按 F11 全屏，Esc 退出全屏；录制仍存 350×240 的画面"));
    connect(video, &CVideoViewWidget::DoubleClicked, this, &CPlayerPage::ToggleFullScreen);
    video->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(video, &QWidget::customContextMenuRequested, this, [this, video](const QPoint& at) {
        QMenu* menu = MakeVideoMenu(video);
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(video->mapToGlobal(at));
    });
}

QMenu* CPlayerPage::MakeVideoMenu(QWidget* parent) {
    auto* menu = new QMenu(parent);
    const IMediaPlayer* player = m_pKeyPanel ? m_pKeyPanel->Player() : nullptr;
    const bool bMedia = player && player->HasMedia();
    QAction* play = menu->addAction(tr("播放/暂停"), this, &CPlayerPage::TogglePlay);
    play->setShortcut(QKeySequence(Qt::Key_Space));
    play->setEnabled(bMedia && m_nState == kStateMediaChosen);
    QAction* save = menu->addAction(m_pSaveFrameButton->text(), this, &CPlayerPage::OnSaveFrame);
    save->setShortcut(QKeySequence(Qt::Key_F12));
    save->setEnabled(m_pSaveFrameButton->isEnabled());
    menu->addAction(m_pFullFrameButton->text(), this, &CPlayerPage::OnSaveFullFrame)
        ->setEnabled(m_pFullFrameButton->isEnabled());
    menu->addAction(m_pBestStillButton->text(), this, &CPlayerPage::OnBestStill)
        ->setEnabled(m_pBestStillButton->isEnabled());
    menu->addSeparator();
    // What the sheet's own menu offers, kept here too.
    menu->addAction(tr("最小化"), window(), &QWidget::showMinimized);
    return menu;
}

void CPlayerPage::TogglePlay() {
    IMediaPlayer* player = m_pKeyPanel ? m_pKeyPanel->Player() : nullptr;
    if (!player || !player->HasMedia() || m_nState != kStateMediaChosen)
        return;
    if (player->PlayState() == kPlayStatePlaying)
        player->Pause();
    else
        player->Play();
}

void CPlayerPage::OnDropped(const QString& strPath) {
    if (m_nState == kStateRecording || JobRunning())
        return;
    Desktop().Folders().Set(CRememberedFolders::Media, QFileInfo(strPath).absolutePath());
    OpenMedia(strPath);
}

void CPlayerPage::ShowFrameTime(double seconds) {
    const IMediaPlayer* player = m_pKeyPanel ? m_pKeyPanel->Player() : nullptr;
    if (!player || !player->HasMedia()) {
        m_pFrameTimeLabel->clear();
        return;
    }
    m_pFrameTimeLabel->setText(FormatFrameTime(seconds, player->FrameRate()));
}

void CPlayerPage::OnSaveFrameKey() {
    // The key does what the button does, when the button may be used.
    if (m_pSaveFrameButton->isEnabled())
        OnSaveFrame();
}

void CPlayerPage::showEvent(QShowEvent* event) {
    CFontablePage::showEvent(event);
    // The player's keys work at once on a page shown the first time.
    if (!m_bShownOnce && m_pKeyPanel && m_pKeyPanel->focusPolicy() != Qt::NoFocus) {
        m_bShownOnce = true;
        m_pKeyPanel->setFocus(Qt::OtherFocusReason);
    }
}

QString CPlayerPage::Folder() const {
    return m_pFolderLabel->text();
}

void CPlayerPage::UpdateControls() {
    const bool bRecording = m_nState == kStateRecording;
    // Only the page's own buttons; the fields stay editable for the next recording.
    for (QAbstractButton* button : findChildren<QAbstractButton*>(Qt::FindDirectChildrenOnly))
        button->setEnabled(!bRecording);
    m_pRecordButton->setText(bRecording ? tr("停止录像") : tr("开始录像"));
    m_pRecordButton->setEnabled(bRecording ||
                                (m_nState == kStateMediaChosen && !Folder().isEmpty()));
    // The frame tools read the media file itself: one job at a time, never while recording.
    const bool bTools = m_nState == kStateMediaChosen && !JobRunning();
    for (QPushButton* button : {m_pFullFrameButton, m_pExportSpanButton, m_pBestStillButton})
        button->setEnabled(bTools);
    ShowPlayerControls(bRecording);
}

void CPlayerPage::OnChooseMedia() {
    QFileDialog dialog(this);
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setOption(QFileDialog::HideNameFilterDetails, true);
    dialog.setNameFilters(m_mediaFilters);
    const QString mediaFolder = Desktop().Folders().Get(CRememberedFolders::Media);
    if (!mediaFolder.isEmpty())
        dialog.setDirectory(mediaFolder);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    Desktop().Folders().Set(CRememberedFolders::Media,
                            QFileInfo(dialog.selectedFiles().constFirst()).absolutePath());
    OpenMedia(dialog.selectedFiles().constFirst());
}

bool CPlayerPage::OpenMedia(const QString& strPath) {
    const auto refuse = [this](const QString& strMessage) {
        m_nState = kStateNoMedia;
        // Nothing of the file open before stays on screen.
        ClearPicture();
        m_strMediaPath.clear();
        emit DocumentChanged();
        UpdateControls();
        Desktop().ShowMessage(this, strMessage, QMessageBox::Warning);
        return false;
    };
    // Without the player library nothing can play: the loader's own reason says why.
    if (const CStatus library = LoadPlayerLibrary(); !library)
        return refuse(tr("无法载入播放器程序库：%1").arg(QString::fromStdString(library.Reason())));
    if (const CStatus opened = LoadMedia(strPath); !opened)
        return refuse(
            tr("无法播放媒体文件 %1。\n%2").arg(strPath, QString::fromStdString(opened.Reason())));
    m_strMediaPath = strPath;
    emit DocumentChanged();
    m_pRecordingLine->Clear();
    // Marks belong to the media they were set on.
    if (m_pKeyPanel)
        m_pKeyPanel->ClearMarks();
    m_nState = kStateMediaChosen;
    UpdateControls();
    return true;
}

void CPlayerPage::OnChooseFolder() {
    const QString folder = Folder();
    CSelectFolderDialog dialog(Desktop(), true, folder.isEmpty() ? QDir::homePath() : folder,
                               BmpFolderFilters(), this);
    if (dialog.DoModal() != QDialog::Accepted)
        return;
    SetFolder(dialog.GetSelectedFolder());
}

void CPlayerPage::SetFolder(const QString& strFolder) {
    m_pFolderLabel->setText(strFolder);
    UpdateControls();
    Desktop().Folders().Set(CRememberedFolders::Capture, strFolder);
}

void CPlayerPage::OnRecord() {
    switch (m_nState) {
        case kStateNoMedia:
            Desktop().ShowMessage(this, tr("请先选择欲播放的媒体文件。"));
            break;
        case kStateMediaChosen:
            StartRecording();
            break;
        case kStateRecording:
            StopRecording();
            break;
        default:
            break;
    }
}

void CPlayerPage::StartRecording() {
    // Sound alone would give black frames only; the player is left as it is.
    if (!HasPicture()) {
        Desktop().ShowMessage(this, tr("这个媒体文件只有声音，没有可录的图像。"),
                              QMessageBox::Warning);
        return;
    }
    PauseBeforeRecording();
    if (!MakeFolder(Folder().toStdString())) {
        Desktop().ShowMessage(this, tr("抱歉，指定的目标目录不存在且无法创建，请重新选择。"));
        return;
    }
    const QString folder = Folder();
    const int interval = m_pIntervalSpin->value();
    // One recording for both pages: one running on the other page ends first, with its
    // frames written into its own folder.
    m_recording.EndRunning();
    // The first grab waits for a picture presented from here on: the start picture of a
    // rewound player, or else the picture on screen presented once more (a still image or a
    // paused player decodes nothing new), never a black view or an earlier run's last picture.
    std::optional<std::uint64_t> picturesBefore;
    if (const CPlayerView* view = RecordedView())
        picturesBefore = view->FrameCount();
    const bool bRewound = RewindFinishedMedia();
    if (!bRewound)
        RedrawPicture();
    m_nState = kStateRecording;
    CRecordingParams params;
    params.m_strFolder = folder.toStdString();
    params.m_nFirstNumber = bRewound ? 0 : PlayerPositionMs();
    params.m_pView = RecordedView();
    params.m_nIntervalMs = interval;
    params.m_pPlayer = this;
    params.m_bWriterThread = UsesWriterThread();
    params.m_nPicturesBefore = picturesBefore;
    params.m_fnStopped = [this](const CRecordingResult& result) { OnRecordingStopped(result); };
    // The first frame that cannot be written ends the recording at once (from whichever
    // thread wrote it, the news comes through the event loop).
    params.m_bStopAtFirstFailure = true;
    params.m_fnFirstFailure = [this] {
        QMetaObject::invokeMethod(this, &CPlayerPage::OnWriteFailed, Qt::QueuedConnection);
    };
    m_strRecordingFolder = folder;
    m_dStartSeconds = bRewound ? 0.0 : PositionSeconds();
    UpdateControls();
    m_recording.Start(std::move(params));
    ShowRecordingProgress();
    m_progressTimer.start();
    emit BusyChanged(true);
}

void CPlayerPage::StopRecording() {
    // The recording tells the page when it has stopped (OnRecordingStopped).
    if (m_nState == kStateRecording)
        static_cast<void>(m_recording.Stop());
}

void CPlayerPage::OnRecordingStopped(const CRecordingResult& result) {
    m_nState = kStateMediaChosen;
    m_progressTimer.stop();
    UpdateControls();
    m_pRecordingLine->ShowSummary(result, std::max(0.0, result.m_dStopSeconds - m_dStartSeconds),
                                  m_strRecordingFolder);
    ReportFailedFrames(result);
    emit BusyChanged(false);
}

double CPlayerPage::RecordedSeconds() const {
    return std::max(0.0, PositionSeconds() - m_dStartSeconds);
}

void CPlayerPage::ShowRecordingProgress() {
    if (m_nState != kStateRecording)
        return;
    // A page without the writer thread writes on its player's position notifications; a
    // position that stands still (a still image, a stalled stream) sends none, and the queue
    // would fill up and drop frames. Frames are named after their own positions, so an extra
    // write here changes no name.
    if (!UsesWriterThread())
        m_recording.Flush(PlayerPositionMs());
    m_pRecordingLine->ShowProgress(m_recording.Result(), RecordedSeconds(), m_strRecordingFolder);
}

void CPlayerPage::OnWriteFailed() {
    // Ends the recording as a posted stop does; the report follows the stop.
    OnPostedStop();
}

void CPlayerPage::PostStopIfRecording() {
    if (m_nState == kStateRecording)
        QMetaObject::invokeMethod(this, &CPlayerPage::OnPostedStop, Qt::QueuedConnection);
}

void CPlayerPage::OnPostedStop() {
    StopRecording();
}

void CPlayerPage::ReportFailedFrames(const CRecordingResult& result) {
    if (result.m_nFailed == 0)
        return;
    Desktop().ShowMessage(this,
                          tr("写入文件失败，录像已停止。\n%1\n已写入 %2 幅，%3 幅未能写入。")
                              .arg(QString::fromStdString(result.FirstFailure()))
                              .arg(result.m_nWritten)
                              .arg(result.m_nFailed + result.m_nUnwritten),
                          QMessageBox::Warning);
}

bool CPlayerPage::AbandonRecording() {
    if (m_nState != kStateRecording)
        return false;
    m_nState = kStateMediaChosen;
    m_progressTimer.stop();
    m_recording.Abandon();
    return true;
}

void CPlayerPage::OnSaveFrame() {
    // Taken before the dialog can cover the player.
    CDibImage image;
    if (!GrabCurrentFrame(image))
        return;
    const QString proposed = ProposedSnapshotName();
    QFileDialog dialog(this);
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(QStringLiteral("bmp"));
    dialog.setNameFilters(SnapshotFilters());
    if (!Folder().isEmpty())
        dialog.setDirectory(Folder());
    if (!proposed.isEmpty())
        dialog.selectFile(proposed);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    // The dialog's area is repainted before the file is written.
    PumpMessages();
    SaveFrame(image, dialog.selectedFiles().constFirst());
}

QString CPlayerPage::ProposedSnapshotName() const {
    if (m_strMediaPath.isEmpty())
        return QString();
    return QStringLiteral("%1_%2.bmp")
        .arg(QFileInfo(m_strMediaPath).completeBaseName())
        .arg(std::max<std::int32_t>(0, PlayerPositionMs()), 8, 10, QLatin1Char('0'));
}

bool CPlayerPage::SaveFrame(CDibImage& image, const QString& strPath) {
    const CStatus saved = image.SaveBmp(strPath.toStdString());
    if (!saved) {
        Desktop().ShowMessage(
            this, tr("无法保存文件 %1。\n%2").arg(strPath, QString::fromStdString(saved.Reason())),
            QMessageBox::Warning);
    }
    return saved.Ok();
}
