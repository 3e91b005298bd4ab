#include "app/jobs/job_summary_dialog.h"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QFile>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

#include "app/widgets/desktop.h"
#include "app/widgets/image_viewer.h"
#include "jobs/job_result.h"

namespace {

QString PathText(const std::string& path) {
    return QFile::decodeName(QByteArray::fromStdString(path));
}

// The first kTrashedNamed of `lines`, then "…" when there are more.
QStringList FirstNamed(const QStringList& lines) {
    QStringList named = lines.mid(0, qsizetype(kTrashedNamed));
    if (lines.size() > named.size()) {
        named << QStringLiteral("…");
    }
    return named;
}

QString OtherSizeText(int count) {
    const char* const kContext = "CJobSummaryDialog";
    if (count == 1) {
        return QCoreApplication::translate(kContext, "1 张图像尺寸与第一张不同，只合入了重叠部分");
    }
    return QCoreApplication::translate(kContext, "%1 张图像尺寸与第一张不同，只合入了重叠部分")
        .arg(count);
}

}  // namespace

QString ProblemText(const CJobProblem& problem) {
    const char* const kContext = "CJobSummaryDialog";
    const QString detail = QString::fromStdString(problem.m_strDetail);
    switch (problem.m_kind) {
        case JobProblemKind::Unreadable:
            return QCoreApplication::translate(kContext, "无法读取：%1").arg(detail);
        case JobProblemKind::WriteFailed:
            return QCoreApplication::translate(kContext, "写入失败：%1").arg(detail);
        case JobProblemKind::TrashFailed:
            return QCoreApplication::translate(kContext, "无法移到回收站：%1").arg(detail);
        case JobProblemKind::AppearedMeanwhile:
            return QCoreApplication::translate(kContext, "任务进行中出现了同名文件，已保留原样");
        case JobProblemKind::SourceNotReadYet:
            return QCoreApplication::translate(kContext, "这是尚未读取的源文件；%1 保留原样")
                .arg(PathText(problem.m_strDetail));
        case JobProblemKind::WrittenAlready:
            return QCoreApplication::translate(kContext,
                                               "本次任务已由另一个源文件写入；%1 保留原样")
                .arg(PathText(problem.m_strDetail));
        case JobProblemKind::SourceStays:
            return QCoreApplication::translate(kContext, "这是要保留的源文件；%1 保留原样")
                .arg(PathText(problem.m_strDetail));
        case JobProblemKind::SourceImageStays:
            return QCoreApplication::translate(kContext, "这是要保留的源图像，没有写入");
        case JobProblemKind::NoImage:
            return QCoreApplication::translate(kContext, "无法生成 %1 的图像").arg(detail);
        case JobProblemKind::NoResizedCopy:
            return QCoreApplication::translate(kContext, "无法生成缩放副本");
        case JobProblemKind::FolderNotMade:
            return QCoreApplication::translate(kContext, "无法创建文件夹 %1：%2")
                .arg(PathText(problem.m_strDetail), QString::fromStdString(problem.m_strSystem));
        case JobProblemKind::NotAFolder:
            return QCoreApplication::translate(kContext, "%1 不是文件夹")
                .arg(PathText(problem.m_strDetail));
        case JobProblemKind::FolderNotWritable:
            return QCoreApplication::translate(kContext, "无法在文件夹 %1 中创建文件：%2")
                .arg(PathText(problem.m_strDetail), QString::fromStdString(problem.m_strSystem));
        case JobProblemKind::NoMemoryForSums:
            return QCoreApplication::translate(kContext, "内存不足，无法为 %1 的图像累加")
                .arg(detail);
        case JobProblemKind::StackNoMemory:
            return QCoreApplication::translate(kContext, "内存不足，无法合成这些图像");
        case JobProblemKind::StackStoreFailed:
            return QCoreApplication::translate(kContext, "无法使用文件夹 %1 中的临时图像存储：%2")
                .arg(PathText(problem.m_strDetail), QString::fromStdString(problem.m_strSystem));
        case JobProblemKind::NotAFile:
            return QCoreApplication::translate(kContext,
                                               "不是普通文件（而是文件夹、管道或设备），没有写入");
        case JobProblemKind::Other:
            break;
    }
    return QString::fromStdString(problem.m_strReason);
}

QString RefusalReasonText(const CJobResult& result) {
    const QString detail = QString::fromStdString(result.m_strRefusalDetail);
    switch (result.m_refusal) {
        case JobRefusal::NoSource:
            return QCoreApplication::translate("CJobPageWidget", "没有选择源目录");
        case JobRefusal::NoTarget:
            return QCoreApplication::translate("CJobPageWidget", "没有选择目标文件");
        case JobRefusal::NoChoice:
            return QCoreApplication::translate("CJobPageWidget", "没有选择源文件类型");
        case JobRefusal::NoTargetFolder:
            return QCoreApplication::translate("CJobPageWidget", "没有选择目标目录");
        case JobRefusal::NoSize:
            return QCoreApplication::translate("CJobPageWidget", "没有选择放大尺寸");
        case JobRefusal::NegativeLimit:
            return QCoreApplication::translate("CJobPageWidget", "图像数量上限不能为负数");
        case JobRefusal::ReportIsResult:
            return QCoreApplication::translate("CJobPageWidget", "%1：报告会覆盖结果文件")
                .arg(PathText(result.m_strRefusalDetail));
        case JobRefusal::ReportIsSource:
            return QCoreApplication::translate("CJobPageWidget", "%1：报告会覆盖一个源图像")
                .arg(PathText(result.m_strRefusalDetail));
        case JobRefusal::ReportInSourceFolder:
            return QCoreApplication::translate("CJobPageWidget",
                                               "%1：报告会混在源图像中间，请写到别处")
                .arg(PathText(result.m_strRefusalDetail));
        case JobRefusal::BadKappa:
            return QCoreApplication::translate("CJobPageWidget", "κ 值必须大于 0，而不是 %1")
                .arg(detail);
        case JobRefusal::BadReferenceCount:
            return QCoreApplication::translate("CJobPageWidget",
                                               "参考图像至少要从 1 张图像中选出，而不是 %1")
                .arg(detail);
        case JobRefusal::NegativeDivisor:
            return QCoreApplication::translate("CJobPageWidget", "平均值的除数不能为负数");
        case JobRefusal::BadOverlap:
            return QCoreApplication::translate("CJobPageWidget", "最小重叠比例必须在 0 到 1 之间");
        case JobRefusal::None:
        case JobRefusal::TargetIsSource:
        case JobRefusal::TargetBusy:
            break;
    }
    return QString::fromStdString(result.m_strReason);
}

CJobSummary CJobSummary::From(const CJobResult& result, const QString& headline,
                              const QString& folder) {
    CJobSummary summary;
    summary.m_strHeadline = headline;
    summary.m_nWritten = int(result.m_written.size());
    summary.m_nSkipped = int(result.m_skipped.size() + result.m_unused.size());
    summary.m_nFailed = int(result.m_failures.size());
    summary.m_nTrashed = int(result.m_trashed.size());
    for (const CJobProblem& problem : result.m_skipped) {
        summary.m_problems.push_back({PathText(problem.m_strPath), ProblemText(problem), false});
    }
    for (const std::string& path : result.m_unused) {
        summary.m_problems.push_back(
            {PathText(path),
             QCoreApplication::translate("CJobSummaryDialog",
                                         "第255个以后的图像不计入平均（已读入）"),
             false});
    }
    for (const CJobProblem& problem : result.m_failures) {
        summary.m_problems.push_back({PathText(problem.m_strPath), ProblemText(problem), true});
    }
    if (result.m_bStopped) {
        summary.m_notes << QCoreApplication::translate("CJobSummaryDialog",
                                                       "已按要求停止，其余文件未处理。");
    }
    if (result.m_nOtherSize > 0) {
        summary.m_notes << OtherSizeText(result.m_nOtherSize);
    }
    if (!result.m_failures.empty()) {
        summary.m_bWarning = true;
        summary.m_notes << QCoreApplication::translate("CJobSummaryDialog",
                                                       "有文件处理失败，详见下表。");
    }
    // The averaging result is its target file; the enlarging job's first output stands for it.
    if (!result.m_written.empty()) {
        summary.m_strResult =
            PathText(result.m_strTarget.empty() ? result.m_written.front() : result.m_strTarget);
    }
    summary.m_strFolder = folder;
    QStringList trashed;
    for (const std::string& path : result.m_trashed) {
        trashed << PathText(path);
    }
    summary.m_trashedNames = FirstNamed(trashed);
    summary.m_trashPlaces = result.m_trashPlaces;
    return summary;
}

QString CJobSummary::Text() const {
    QStringList lines{
        m_strHeadline,
        QCoreApplication::translate("CJobSummaryDialog",
                                    "写入 %1 个文件，跳过 %2 个，失败 %3 个，移到回收站 %4 个。")
            .arg(m_nWritten)
            .arg(m_nSkipped)
            .arg(m_nFailed)
            .arg(m_nTrashed)};
    lines << m_notes;
    if (!m_trashedNames.isEmpty()) {
        lines << QCoreApplication::translate("CJobSummaryDialog", "移到回收站的源文件：")
              << m_trashedNames;
    }
    return lines.join(u'\n');
}

QString RestoreText(const std::vector<CRestoredFile>& answers) {
    const char* const kContext = "CJobSummaryDialog";
    QStringList restored;
    QStringList kept;
    for (const CRestoredFile& answer : answers) {
        const QString path = PathText(answer.m_strPath);
        QString why;
        switch (answer.m_outcome) {
            case RestoreOutcome::Restored:
                restored << path;
                continue;
            case RestoreOutcome::PathTaken:
                why = QCoreApplication::translate(kContext, "原位置已有同名文件，没有覆盖它");
                break;
            case RestoreOutcome::NotInTrash:
                why = QCoreApplication::translate(kContext, "回收站中已没有这个文件");
                break;
            case RestoreOutcome::Failed:
                why = QCoreApplication::translate(kContext, "无法恢复：%1")
                          .arg(QString::fromStdString(answer.m_strWhy));
                break;
        }
        kept << QCoreApplication::translate(kContext, "%1：%2").arg(path, why);
    }
    QStringList lines;
    if (!restored.isEmpty()) {
        lines << QCoreApplication::translate(kContext, "已将 %1 个源文件恢复到原位置：")
                     .arg(restored.size())
              << FirstNamed(restored);
    }
    if (!kept.isEmpty()) {
        lines << QCoreApplication::translate(kContext, "%1 个源文件没有恢复：").arg(kept.size())
              << FirstNamed(kept);
    }
    return lines.join(u'\n');
}

CJobSummaryDialog::CJobSummaryDialog(const CJobSummary& summary, CDesktop& desktop, QWidget* parent)
    : QDialog(parent),
      m_summary(summary),
      m_desktop(desktop),
      m_pResultButton(new QPushButton(tr("打开结果"), this)),
      m_pFolderButton(new QPushButton(tr("打开文件夹"), this)),
      m_pRestoreButton(new QPushButton(tr("恢复源文件"), this)),
      m_pDetails(new QTreeWidget(this)),
      m_trashPlaces(summary.m_trashPlaces) {
    setWindowTitle(QString::fromLatin1(kAppTitle));

    auto* icon = new QLabel(this);
    const QStyle::StandardPixmap pixmap =
        summary.m_bWarning ? QStyle::SP_MessageBoxWarning : QStyle::SP_MessageBoxInformation;
    icon->setPixmap(style()->standardIcon(pixmap).pixmap(32, 32));
    auto* text = new QLabel(summary.Text(), this);
    text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* top = new QHBoxLayout;
    top->addWidget(icon, 0, Qt::AlignTop);
    top->addWidget(text, 1);

    m_pDetails->setColumnCount(3);
    m_pDetails->setHeaderLabels({tr("文件"), tr("结果"), tr("原因")});
    m_pDetails->setRootIsDecorated(false);
    m_pDetails->setUniformRowHeights(true);
    for (const CJobSummary::CProblem& problem : summary.m_problems) {
        auto* item = new QTreeWidgetItem(
            m_pDetails,
            {problem.m_strPath, problem.m_bFailed ? tr("失败") : tr("跳过"), problem.m_strReason});
        item->setToolTip(0, problem.m_strPath);
        item->setToolTip(2, problem.m_strReason);
    }
    m_pDetails->header()->setSectionResizeMode(QHeaderView::Interactive);
    m_pDetails->resizeColumnToContents(1);
    m_pDetails->setColumnWidth(0, 320);
    m_pDetails->setVisible(!summary.m_problems.empty());

    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(m_pResultButton, QDialogButtonBox::ActionRole);
    buttons->addButton(m_pFolderButton, QDialogButtonBox::ActionRole);
    buttons->addButton(m_pRestoreButton, QDialogButtonBox::ActionRole);
    QPushButton* close = buttons->addButton(tr("关闭"), QDialogButtonBox::AcceptRole);
    close->setDefault(true);
    m_pResultButton->setAutoDefault(false);
    m_pFolderButton->setAutoDefault(false);
    m_pRestoreButton->setAutoDefault(false);
    m_pRestoreButton->setVisible(!m_trashPlaces.empty());
    m_pRestoreButton->setToolTip(tr("把本次任务移到回收站的源文件放回原位置，不覆盖已有的文件"));
    m_pResultButton->setEnabled(!summary.m_strResult.isEmpty());
    m_pFolderButton->setEnabled(!summary.m_strFolder.isEmpty());
    if (summary.m_strResult.isEmpty()) {
        m_pResultButton->setToolTip(tr("没有写入任何文件"));
    }
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    const QString result = summary.m_strResult;
    const QString folder = summary.m_strFolder;
    connect(m_pResultButton, &QPushButton::clicked, this,
            [this, result] { OpenResultViewer(m_desktop, result, m_summary.m_compare, this); });
    connect(m_pFolderButton, &QPushButton::clicked, this,
            [this, folder] { m_desktop.OpenOrReport(folder, this); });
    connect(m_pRestoreButton, &QPushButton::clicked, this, &CJobSummaryDialog::RestoreSources);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(m_pDetails, 1);
    layout->addWidget(buttons);
    if (!summary.m_problems.empty()) {
        resize(640, 360);
    }
}

void CJobSummaryDialog::RestoreSources() {
    const std::vector<CRestoredFile> answers = RestoreFromTrash(m_trashPlaces);
    // Those in the way of a file or refused may be tried again; the rest is done with.
    std::vector<CTrashedFile> left;
    for (std::size_t i = 0; i < answers.size(); ++i) {
        if (answers[i].m_outcome == RestoreOutcome::PathTaken ||
            answers[i].m_outcome == RestoreOutcome::Failed) {
            left.push_back(m_trashPlaces[i]);
        }
    }
    const bool bAll = std::all_of(answers.begin(), answers.end(), [](const CRestoredFile& answer) {
        return answer.m_outcome == RestoreOutcome::Restored;
    });
    m_trashPlaces = std::move(left);
    m_pRestoreButton->setEnabled(!m_trashPlaces.empty());
    m_desktop.ShowMessage(this, RestoreText(answers),
                          bAll ? QMessageBox::Information : QMessageBox::Warning);
}

void ShowJobSummary(CDesktop& desktop, QWidget* parent, const CJobSummary& summary) {
    CJobSummaryDialog dialog(summary, desktop, parent);
    desktop.Exec(dialog);
    // A viewer is the dialog's own while the dialog is modal (else the dialog would block it);
    // it outlives the dialog as a window of the page.
    for (CImageViewer* viewer : dialog.findChildren<CImageViewer*>(Qt::FindDirectChildrenOnly)) {
        const bool bShown = viewer->isVisible();
        viewer->setParent(parent, viewer->windowFlags());
        if (bShown) {
            viewer->show();
        }
    }
}
