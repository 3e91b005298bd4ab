#include "app/capture/player_page.h"

#include <QAbstractButton>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <utility>

#include "app/main_sheet.h"
#include "app/widgets/message_box.h"
#include "app/widgets/path_label.h"
#include "app/widgets/remembered_folders.h"
#include "app/widgets/select_folder_dialog.h"
#include "image/dib_image.h"
#include "platform/pump_messages.h"

QSpinBox* MakeNumberSpin(QWidget* parent, int minimum, int maximum, int value) {
    auto* spin = new QSpinBox(parent);
    spin->setRange(minimum, maximum);
    spin->setValue(value);
    spin->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    spin->setGroupSeparatorShown(false);
    return spin;
}

QStringList CPlayerPage::SnapshotFilters() {
    return {QStringLiteral("Bitmap Files (*.bmp)"), QStringLiteral("All Files (*)")};
}

CPlayerPage::CPlayerPage(int nIDTemplate, const QStringList& mediaFilters, CRecording& recording,
                         QWidget* parent)
    : CFontablePage(nIDTemplate, parent), m_recording(recording), m_mediaFilters(mediaFilters) {
    m_pPlayerArea = new QWidget(this);
    m_pMediaButton = new QPushButton(tr("源文件"), this);
    m_pRecordButton = new QPushButton(tr("开始录像"), this);
    m_pSaveFrameButton = new QPushButton(tr("存当前画面"), this);
    m_pFolderButton = new QPushButton(tr("选择"), this);
    for (QPushButton* button :
         {m_pMediaButton, m_pRecordButton, m_pSaveFrameButton, m_pFolderButton}) {
        button->setAutoDefault(false);
    }
    m_pIntervalSpin = MakeNumberSpin(this, kMinInterval, kMaxInterval, kMinInterval);
    m_pFolderLabel = new CPathLabel(this, Qt::AlignLeft | Qt::AlignVCenter, false);
    m_pFolderLabel->m_bPathEllipsis = true;

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

    auto* folderRow = new QHBoxLayout;
    folderRow->addWidget(new QLabel(tr("截下来的图像文件保存到:"), this));
    folderRow->addWidget(m_pFolderButton);
    folderRow->addStretch(1);

    auto* grid = new QGridLayout(this);
    grid->addWidget(m_pPlayerArea, 0, 0, Qt::AlignLeft | Qt::AlignTop);
    grid->addLayout(m_pSideColumn, 0, 1, Qt::AlignTop);
    grid->addLayout(folderRow, 1, 0, 1, 2);
    grid->addWidget(m_pFolderLabel, 2, 0, 1, 2);
    grid->setColumnStretch(0, 1);
    grid->setRowStretch(0, 1);

    connect(m_pMediaButton, &QPushButton::clicked, this, &CPlayerPage::OnChooseMedia);
    connect(m_pFolderButton, &QPushButton::clicked, this, &CPlayerPage::OnChooseFolder);
    connect(m_pRecordButton, &QPushButton::clicked, this, &CPlayerPage::OnRecord);
    connect(m_pSaveFrameButton, &QPushButton::clicked, this, &CPlayerPage::OnSaveFrame);

    // Both player pages share the remembered capture folder; a page that records keeps showing
    // the folder it records into.
    m_pFolderLabel->setText(CRememberedFolders::Instance().Get(CRememberedFolders::Capture));
    connect(&CRememberedFolders::Instance(), &CRememberedFolders::Changed, this,
            [this](CRememberedFolders::Folder which, const QString& path) {
                if (which == CRememberedFolders::Capture && path != Folder() &&
                    m_nState != kStateRecording)
                    SetFolder(path);
            });
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
    ShowPlayerControls(bRecording);
}

void CPlayerPage::OnChooseMedia() {
    QFileDialog dialog(this);
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setOption(QFileDialog::HideNameFilterDetails, true);
    dialog.setNameFilters(m_mediaFilters);
    const QString mediaFolder = CRememberedFolders::Instance().Get(CRememberedFolders::Media);
    if (!mediaFolder.isEmpty())
        dialog.setDirectory(mediaFolder);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    CRememberedFolders::Instance().Set(
        CRememberedFolders::Media, QFileInfo(dialog.selectedFiles().constFirst()).absolutePath());
    OpenMedia(dialog.selectedFiles().constFirst());
}

bool CPlayerPage::OpenMedia(const QString& strPath) {
    std::string why;
    if (!LoadMedia(strPath, &why)) {
        m_nState = kStateNoMedia;
        if (CMainSheet* sheet = MainSheet())
            sheet->SetDocumentTitle();
        UpdateControls();
        ShowMessage(this, tr("无法播放媒体文件 %1。\n%2").arg(strPath, QString::fromStdString(why)),
                    QMessageBox::Warning);
        return false;
    }
    if (CMainSheet* sheet = MainSheet())
        sheet->SetDocumentTitle(strPath);
    m_nState = kStateMediaChosen;
    UpdateControls();
    return true;
}

void CPlayerPage::OnChooseFolder() {
    const QString folder = Folder();
    CSelectFolderDialog dialog(true, folder.isEmpty() ? QDir::homePath() : folder,
                               BmpFolderFilters(), this);
    if (dialog.DoModal() != QDialog::Accepted)
        return;
    SetFolder(dialog.GetSelectedFolder());
}

void CPlayerPage::SetFolder(const QString& strFolder) {
    m_pFolderLabel->setText(strFolder);
    UpdateControls();
    CRememberedFolders::Instance().Set(CRememberedFolders::Capture, strFolder);
}

void CPlayerPage::OnRecord() {
    // A click while a start or stop waits for the workers (dispatching events) is ignored.
    if (m_bChanging)
        return;
    switch (m_nState) {
        case kStateNoMedia:
            ShowMessage(this, tr("请先选择欲播放的媒体文件。"));
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
    PauseBeforeRecording();
    if (!CRecording::MakeTargetFolder(Folder().toStdString())) {
        ShowMessage(this, tr("抱歉，指定的目标目录不存在且无法创建，请重新选择。"));
        return;
    }
    const QString folder = Folder();
    const int interval = m_pIntervalSpin->value();
    m_bChanging = true;
    // One recording for both pages: one running on the other page ends first, with its
    // frames written into its own folder.
    m_recording.EndRunning();
    const bool bRewound = RewindFinishedMedia();
    m_nState = kStateRecording;
    CRecordingParams params;
    params.m_strFolder = folder.toStdString();
    params.m_nFirstNumber = bRewound ? 0 : PlayerPositionMs();
    params.m_pView = RecordedView();
    params.m_nIntervalMs = interval;
    params.m_pPlayer = this;
    params.m_bWriterThread = UsesWriterThread();
    params.m_fnEndRequest = [this] { StopRecording(); };
    UpdateControls();
    // Starting the workers stops whatever they ran, dispatching events meanwhile.
    m_recording.Start(std::move(params));
    m_bChanging = false;
    emit BusyChanged(true);
}

void CPlayerPage::StopRecording() {
    if (m_nState != kStateRecording || m_bChanging)
        return;
    m_bChanging = true;
    // Set first: a player notification arriving while the workers stop asks for nothing.
    m_nState = kStateMediaChosen;
    const CRecordingResult result = m_recording.Stop();
    UpdateControls();
    m_bChanging = false;
    ReportFailedFrames(result);
    emit BusyChanged(false);
}

void CPlayerPage::PostStopIfRecording() {
    if (m_nState == kStateRecording)
        QMetaObject::invokeMethod(this, &CPlayerPage::OnPostedStop, Qt::QueuedConnection);
}

void CPlayerPage::OnPostedStop() {
    if (m_nState != kStateRecording)
        return;
    // Arrived while the recording was still being started: asked again once that is done.
    if (m_bChanging)
        PostStopIfRecording();
    else
        StopRecording();
}

void CPlayerPage::ReportFailedFrames(const CRecordingResult& result) {
    if (result.m_nFailed == 0)
        return;
    ShowMessage(this,
                tr("录像时有 %1 幅画面未能写入文件（已写入 %2 幅）。\n%3")
                    .arg(result.m_nFailed)
                    .arg(result.m_nWritten)
                    .arg(QString::fromStdString(result.FirstFailure())),
                QMessageBox::Warning);
}

bool CPlayerPage::AbandonRecording() {
    if (m_nState != kStateRecording)
        return false;
    m_nState = kStateMediaChosen;
    m_recording.Abandon();
    return true;
}

void CPlayerPage::OnSaveFrame() {
    // Taken before the dialog can cover the player.
    CDibImage image;
    if (!GrabCurrentFrame(image))
        return;
    QFileDialog dialog(this);
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(QStringLiteral("bmp"));
    dialog.setNameFilters(SnapshotFilters());
    if (!Folder().isEmpty())
        dialog.setDirectory(Folder());
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    // The dialog's area is repainted before the file is written.
    PumpMessages();
    SaveFrame(image, dialog.selectedFiles().constFirst());
}

bool CPlayerPage::SaveFrame(CDibImage& image, const QString& strPath) {
    const CStatus saved = image.SaveBmp(strPath.toStdString());
    if (!saved) {
        ShowMessage(this,
                    tr("无法保存文件 %1。\n%2").arg(strPath, QString::fromStdString(saved.Reason())),
                    QMessageBox::Warning);
    }
    return saved.Ok();
}
