// The player page's frame tools: frames and stills read from the media file itself at full
// size (the frame on screen, every frame of the marked span, the best still of it), each run
// in the background with progress, time left and Stop.
#include "app/capture/player_page.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include <algorithm>
#include <cmath>
#include <memory>
#include <utility>
#include <variant>

#include "app/capture/frame_jobs.h"
#include "app/capture/player_panel_widget.h"
#include "app/widgets/desktop.h"
#include "app/widgets/image_viewer.h"
#include "app/widgets/remembered_folders.h"
#include "app/widgets/time_left.h"
#include "jobs/still_job.h"
#include "platform/make_folder.h"
#include "platform/media_player.h"

namespace {
// The remembered choices of the frame tools.
const QString kFrameTypeChoice = QStringLiteral("PlayerFrameType");
const QString kStillScaleChoice = QStringLiteral("PlayerStillScale");
constexpr FrameFileType kFrameTypeOrder[] = {FrameFileType::Png, FrameFileType::Bmp,
                                             FrameFileType::Jpg};

QString PathText(const std::string& path) {
    return QFile::decodeName(path.c_str());
}

// Tells a still job's events as a fraction, the time left and a line.
class CStillProgress : public IStillJobObserver {
public:
    explicit CStillProgress(CPlayerJob& job) : m_job(job) {}
    void OnEvent(const CStillJobEvent& event) override {
        if (const auto* read = std::get_if<CStillFramesRead>(&event)) {
            m_job.Report(-1, -1, CPlayerPage::tr("已读 %1 幅画面").arg(read->m_nRead));
        } else if (const auto* merged = std::get_if<CStillFrameMerged>(&event)) {
            m_job.Report(merged->m_nTotal > 0 ? double(merged->m_nDone) / merged->m_nTotal : -1,
                         merged->m_dSecondsLeft,
                         CPlayerPage::tr("已对齐合并 %1 / %2 幅")
                             .arg(merged->m_nDone)
                             .arg(merged->m_nTotal));
        } else if (std::holds_alternative<CStillSharpening>(event)) {
            m_job.Report(1, 0, CPlayerPage::tr("正在锐化…"));
        }
    }
    bool StopRequested() override { return m_job.StopRequested(); }

private:
    CPlayerJob& m_job;
};

// Tells a frames job's events as a fraction of the span, the time left and a line.
class CFramesProgress : public IFramesObserver {
public:
    explicit CFramesProgress(CPlayerJob& job) : m_job(job) { m_clock.start(); }
    void OnEvent(const CFramesEvent& event) override {
        if (const auto* opened = std::get_if<CFramesOpened>(&event)) {
            m_opened = *opened;
        } else if (const auto* written = std::get_if<CFrameWritten>(&event)) {
            double fraction = -1;
            double left = -1;
            if (m_opened.m_nEndMs > m_opened.m_nFromMs) {
                fraction = std::clamp(double(written->m_nTimeMs - m_opened.m_nFromMs) /
                                          double(m_opened.m_nEndMs - m_opened.m_nFromMs),
                                      0.0, 1.0);
                if (fraction > 0)
                    left = m_clock.elapsed() / 1000.0 * (1 - fraction) / fraction;
            }
            m_job.Report(fraction, left, CPlayerPage::tr("已写入 %1 幅").arg(written->m_nFrame));
        }
    }
    bool StopRequested() override { return m_job.StopRequested(); }

private:
    CPlayerJob& m_job;
    CFramesOpened m_opened;
    QElapsedTimer m_clock;
};
}  // namespace

void CPlayerPage::MakeFrameTools() {
    m_pFullFrameButton = new QPushButton(tr("存原始帧"), this);
    m_pFullFrameButton->setToolTip(tr("从文件中按原始大小取出当前位置的这一帧，存入目标目录"));
    m_pExportSpanButton = new QPushButton(tr("导出片段帧"), this);
    m_pExportSpanButton->setToolTip(tr("把起点到终点之间的每一帧按原始大小存入目标目录"));
    m_pBestStillButton = new QPushButton(tr("取最佳画面"), this);
    m_pBestStillButton->setToolTip(
        tr("把片段中最清晰的各帧对齐合并成一幅放大的画面；没有标记时取当前位置前后各一秒"));
    m_pJobStopButton = new QPushButton(tr("停止"), this);
    m_pFrameTypeCombo = new QComboBox(this);
    m_pFrameTypeCombo->addItems(
        {QStringLiteral("PNG"), QStringLiteral("BMP"), QStringLiteral("JPEG")});
    m_pScaleCombo = new QComboBox(this);
    m_pScaleCombo->addItems({QStringLiteral("×1"), QStringLiteral("×2"), QStringLiteral("×3")});
    for (QPushButton* button :
         {m_pFullFrameButton, m_pExportSpanButton, m_pBestStillButton, m_pJobStopButton})
        button->setAutoDefault(false);
    m_pJobProgress = new QProgressBar(this);
    m_pJobLabel = new QLabel(this);
    m_pJobLabel->setWordWrap(true);
    // Room for two lines: a progress line with its time left wraps on a large font.
    m_pJobLabel->setMinimumHeight(2 * m_pJobLabel->fontMetrics().lineSpacing());
    m_pJobProgress->hide();
    m_pJobStopButton->hide();
    m_pJob = new CPlayerJob(this);

    // The choices as last made (PNG and x2 the first time).
    CRememberedFolders& folders = Desktop().Folders();
    const QString type = folders.Choice(kFrameTypeChoice, QStringLiteral("png"));
    for (int i = 0; i < int(std::size(kFrameTypeOrder)); ++i)
        if (type == QLatin1String(FrameFileTypeName(kFrameTypeOrder[i])))
            m_pFrameTypeCombo->setCurrentIndex(i);
    m_pScaleCombo->setCurrentIndex(
        std::clamp(folders.Choice(kStillScaleChoice, QStringLiteral("2")).toInt(), 1, 3) - 1);
    connect(m_pFrameTypeCombo, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index >= 0 && index < int(std::size(kFrameTypeOrder)))
            Desktop().Folders().SetChoice(kFrameTypeChoice,
                                          QLatin1String(FrameFileTypeName(kFrameTypeOrder[index])));
    });
    connect(m_pScaleCombo, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index >= 0)
            Desktop().Folders().SetChoice(kStillScaleChoice, QString::number(index + 1));
    });

    connect(m_pFullFrameButton, &QPushButton::clicked, this, &CPlayerPage::OnSaveFullFrame);
    connect(m_pExportSpanButton, &QPushButton::clicked, this, &CPlayerPage::OnExportSpan);
    connect(m_pBestStillButton, &QPushButton::clicked, this, &CPlayerPage::OnBestStill);
    connect(m_pJobStopButton, &QPushButton::clicked, this, &CPlayerPage::OnStopJob);
    connect(m_pJob, &CPlayerJob::Progress, this, &CPlayerPage::OnJobProgress);
    connect(m_pJob, &CPlayerJob::Finished, this, &CPlayerPage::OnJobFinished);
}

CMediaSpan CPlayerPage::MarkedSpan(std::int64_t positionMs) const {
    if (!m_pKeyPanel)
        return SpanOfMarks(std::nullopt, std::nullopt, positionMs, 0.0);
    return SpanOfMarks(m_pKeyPanel->StartMark(), m_pKeyPanel->EndMark(), positionMs, FrameRate());
}

double CPlayerPage::FrameRate() const {
    const IMediaPlayer* player = m_pKeyPanel ? m_pKeyPanel->Player() : nullptr;
    return player ? player->FrameRate() : 0.0;
}

std::int64_t CPlayerPage::PictureMs() const {
    // Rounded, not truncated: a player's position for a picture may lie a hair before its time.
    const double seconds = PositionSeconds();
    return std::isfinite(seconds) ? std::max<std::int64_t>(0, std::llround(seconds * 1000.0)) : 0;
}

bool CPlayerPage::JobRunning() const {
    return m_pJob->IsRunning();
}

QString CPlayerPage::ToolFolder() {
    if (m_strMediaPath.isEmpty() || JobRunning())
        return QString();
    QString folder = Folder();
    if (folder.isEmpty()) {
        Desktop().ShowMessage(this, tr("请先选择保存图像的目标目录。"));
        return QString();
    }
    if (const CStatus made = MakeFolder(QFile::encodeName(folder).toStdString()); !made) {
        Desktop().ShowMessage(
            this, tr("无法创建目录 %1。\n%2").arg(folder, QString::fromStdString(made.Reason())),
            QMessageBox::Warning);
        return QString();
    }
    return folder;
}

void CPlayerPage::OnSaveFullFrame() {
    const QString folder = ToolFolder();
    if (folder.isEmpty())
        return;
    const int index = std::max(0, m_pFrameTypeCombo->currentIndex());
    const CFrameSaved saved =
        SaveFrameAt(m_strMediaPath, PictureMs(), folder, kFrameTypeOrder[index]);
    if (!saved.m_status) {
        Desktop().ShowMessage(
            this,
            tr("无法保存文件 %1。\n%2")
                .arg(PathText(saved.m_strPath), QString::fromStdString(saved.m_status.Reason())),
            QMessageBox::Warning);
        return;
    }
    m_strLastWritten = PathText(saved.m_strPath);
    m_pJobLabel->setText(tr("已存为 %1").arg(QFileInfo(m_strLastWritten).fileName()));
}

void CPlayerPage::OnExportSpan() {
    const QString folder = ToolFolder();
    if (folder.isEmpty())
        return;
    const CMediaSpan span = MarkedSpan(PictureMs());
    CFramesParams params;
    params.m_strMedia = QFile::encodeName(m_strMediaPath).toStdString();
    params.m_strTargetDir = QFile::encodeName(folder).toStdString();
    params.m_nFromMs = span.m_nFromMs;
    params.m_toMs = span.m_toMs;
    params.m_type = kFrameTypeOrder[std::max(0, m_pFrameTypeCombo->currentIndex())];
    auto result = std::make_shared<CFramesResult>();
    StartJob(
        tr("正在导出片段帧…"),
        [params, result](CPlayerJob& job) {
            CFramesProgress progress(job);
            *result = RunFramesJob(params, progress);
        },
        [this, result, folder, media = m_strMediaPath] {
            if (!result->Ok()) {
                // A failed read names the media it was started on.
                const QString path =
                    result->m_strPath.empty() ? media : PathText(result->m_strPath);
                Desktop().ShowMessage(this,
                                      tr("导出片段帧失败：%1\n%2")
                                          .arg(path, QString::fromStdString(result->m_strReason)),
                                      QMessageBox::Warning);
            }
            m_pJobLabel->setText(
                (result->m_bStopped ? tr("已停止，已写入 %1 幅到 %2") : tr("已写入 %1 幅到 %2"))
                    .arg(result->m_nWritten)
                    .arg(folder));
        });
}

void CPlayerPage::OnBestStill() {
    const QString folder = ToolFolder();
    if (folder.isEmpty())
        return;
    const std::int64_t positionMs = PictureMs();
    const CMediaSpan span = MarkedSpan(positionMs);
    const int scale = std::max(0, m_pScaleCombo->currentIndex()) + 1;
    CStillJobParams params;
    params.m_strMedia = QFile::encodeName(m_strMediaPath).toStdString();
    params.m_nFromMs = span.m_nFromMs;
    params.m_toMs = span.m_toMs;
    // Aligned to the picture the user looks at, when it lies in the span.
    if (positionMs >= span.m_nFromMs && (!span.m_toMs || positionMs < *span.m_toMs))
        params.m_atMs = positionMs;
    params.m_nScale = scale;
    params.m_strTarget =
        FreeMediaFileName(folder, m_strMediaPath, positionMs, QStringLiteral("_x%1").arg(scale),
                          QStringLiteral("png"));
    // A file made at that name while the job runs moves the still on to the next free one.
    params.m_bFreeName = true;
    struct SDone {
        CStillJobResult m_result;
        QImage m_compare;
    };
    auto done = std::make_shared<SDone>();
    StartJob(
        tr("正在取最佳画面…"),
        [params, done](CPlayerJob& job) {
            CStillProgress progress(job);
            done->m_result = RunStillJob(params, progress);
            if (!done->m_result.Ok() || done->m_result.m_nReferenceMs < 0)
                return;
            // The compare picture: the reference frame enlarged the plain way. Without it the
            // still is shown alone.
            if (CResult<SFrame> frame =
                    ReadFrameAt(params.m_strMedia, done->m_result.m_nReferenceMs))
                if (CResult<QImage> enlarged = EnlargeFrame(*frame, params.m_nScale))
                    done->m_compare = std::move(*enlarged);
        },
        [this, done, params] {
            const CStillJobResult& result = done->m_result;
            if (result.m_bStopped) {
                m_pJobLabel->setText(tr("已停止，未写入文件。"));
                return;
            }
            if (!result.Ok()) {
                const QString path =
                    PathText(result.m_strPath.empty()
                                 ? (result.m_end == StillJobEnd::ReadFailed ? params.m_strMedia
                                                                            : params.m_strTarget)
                                 : result.m_strPath);
                m_pJobLabel->clear();
                Desktop().ShowMessage(this,
                                      tr("取最佳画面失败：%1\n%2")
                                          .arg(path, QString::fromStdString(result.m_strReason)),
                                      QMessageBox::Warning);
                return;
            }
            m_strLastWritten = PathText(result.m_strWritten);
            m_pJobLabel->setText(tr("已存为 %1（%2×%3，合并 %4 幅）")
                                     .arg(QFileInfo(m_strLastWritten).fileName())
                                     .arg(result.m_nWidth)
                                     .arg(result.m_nHeight)
                                     .arg(result.m_nMerged));
            ShowStill(m_strLastWritten, done->m_compare,
                      tr("原帧 ×%1（三次插值）").arg(params.m_nScale));
        });
}

void CPlayerPage::ShowStill(const QString& strPath, const QImage& compare,
                            const QString& strCaption) {
    m_lastCompare = compare;
    OpenImageViewer(Desktop(), strPath, CViewerCompare{compare, strCaption}, this);
}

void CPlayerPage::StartJob(const QString& strTitle, std::function<void(CPlayerJob&)> routine,
                           std::function<void()> done) {
    m_fnJobDone = std::move(done);
    if (!m_pJob->Start(std::move(routine))) {
        m_fnJobDone = nullptr;
        Desktop().ShowMessage(this, tr("无法启动后台任务。"), QMessageBox::Warning);
        return;
    }
    m_pJobProgress->setRange(0, 0);
    m_pJobProgress->show();
    m_pJobStopButton->setEnabled(true);
    m_pJobStopButton->show();
    m_pJobLabel->setText(strTitle);
    UpdateControls();
}

void CPlayerPage::OnJobProgress(double fraction, double secondsLeft, const QString& text) {
    if (!JobRunning())
        return;
    if (fraction < 0) {
        m_pJobProgress->setRange(0, 0);
    } else {
        m_pJobProgress->setRange(0, 1000);
        m_pJobProgress->setValue(int(std::lround(fraction * 1000)));
    }
    m_pJobLabel->setText(
        secondsLeft >= 0 ? tr("%1，剩余 %2").arg(text, CTimeLeft::Format(std::llround(secondsLeft)))
                         : text);
}

void CPlayerPage::OnStopJob() {
    if (!JobRunning())
        return;
    m_pJob->RequestStop();
    m_pJobStopButton->setEnabled(false);
}

void CPlayerPage::OnJobFinished() {
    m_pJobProgress->hide();
    m_pJobStopButton->hide();
    UpdateControls();
    if (std::function<void()> done = std::exchange(m_fnJobDone, nullptr))
        done();
    emit JobFinished();
}
