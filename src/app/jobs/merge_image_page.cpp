#include "app/jobs/merge_image_page.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>

#include <algorithm>
#include <filesystem>

#include "app/jobs/job_summary_dialog.h"
#include "app/widgets/desktop.h"
#include "app/widgets/path_drop.h"
#include "app/widgets/path_label.h"
#include "app/widgets/select_folder_dialog.h"
#include "image/image_file.h"
#include "jobs/merge_image_job.h"
#include "platform/pump_messages.h"

CMergeImagePage::CMergeImagePage(CDesktop& desktop, const CRunContext& context, QWidget* parent)
    : CJobPage(132, desktop, context, parent),
      m_pAutoNumberCheck(new QCheckBox(tr("自动编号"), this)),
      m_pResize800Check(new QCheckBox(QStringLiteral("800*600"), this)),
      m_pResize1024Check(new QCheckBox(QStringLiteral("1024*768"), this)),
      m_pMethodList(new QComboBox(this)),
      m_pAlignCheck(new QCheckBox(tr("对齐"), this)) {
    auto* target = new QGroupBox(tr("目标文件"), this);
    auto* grid = new QGridLayout(target);
    grid->addWidget(new QLabel(tr("目标文件:"), target), 0, 0);
    grid->addWidget(m_pTgtPath, 0, 1, 1, 3);
    grid->addWidget(m_pTgtSelectButton, 0, 4);
    grid->addWidget(m_pTgtViewButton, 0, 5);
    grid->addWidget(m_pAutoNumberCheck, 1, 1, 1, 3);
    grid->addWidget(m_pQualityLabel, 2, 0);
    grid->addWidget(m_pQualitySpin, 2, 1);
    auto* extras = new QHBoxLayout;
    extras->addWidget(new QLabel(tr("另存为 800x600 / 1024x768 副本:"), target));
    extras->addWidget(m_pResize800Check);
    extras->addWidget(m_pResize1024Check);
    extras->addStretch(1);
    grid->addLayout(extras, 3, 0, 1, 6);
    // The entries follow the methods' numbers (kStackMethods).
    m_pMethodList->addItems(
        {tr("平均（默认）"), tr("按覆盖张数平均"), tr("中值"), tr("σ 剪裁平均")});
    m_pMethodList->setToolTip(
        tr("平均：全部图像相加，除以文件数（最多 255 张）。\n"
           "按覆盖张数平均：每个像素只除以覆盖它的图像数，较小的图像不再使边缘变暗。\n"
           "中值：逐像素取中间值，偶尔出现的字幕、遮挡不会留下痕迹。\n"
           "σ 剪裁平均：先去掉偏离中值过远的值再平均，既降噪又去除遮挡。"));
    m_pAlignCheck->setToolTip(
        tr("合成前把每张图像按平移对齐到第一张（精确到亚像素）；无法对齐的图像不参与合成，"
           "并在结果中列出原因"));
    auto* method = new QHBoxLayout;
    method->addWidget(m_pMethodList);
    method->addWidget(m_pAlignCheck);
    method->addStretch(1);
    grid->addWidget(new QLabel(tr("方法:"), target), 4, 0);
    grid->addLayout(method, 4, 1, 1, 5);
    grid->setColumnStretch(3, 1);
    m_pResize800Check->setToolTip(tr("另存一份填满并裁成 800x600 的副本（文件名加 _800x600）"));
    m_pResize1024Check->setToolTip(tr("另存一份填满并裁成 1024x768 的副本（文件名加 _1024x768）"));
    LayOutPage(target);
    // A file dropped on the target becomes it; a folder keeps the target's name.
    new CPathDrop(m_pTgtPath, CPathDrop::Files | CPathDrop::Folders, [this](const QString& path) {
        if (!QFileInfo(path).isDir()) {
            SetTargetPath(path);
            return;
        }
        QString name = QFileInfo(m_pTgtPath->text()).fileName();
        if (name.isEmpty()) {
            name = QStringLiteral("average.bmp");
        }
        SetTargetPath(path + u'/' + name);
    });

    ResetFields();
    RefreshControls();
    RememberFolders(CRememberedFolders::MergeSource, CRememberedFolders::MergeTarget);
}

bool CMergeImagePage::OutputIsJpeg() {
    // The result is JPEG for any target that is not ".bmp" or ".dib".
    const std::string target = ToPath(m_pTgtPath->text());
    return CJobPage::OutputIsJpeg() || (!target.empty() && !IsBmpPath(target));
}

std::string CMergeImagePage::TargetFolder() {
    return std::filesystem::path(m_params.m_strTargetFile).parent_path().string();
}

QString CMergeImagePage::MissingTargetHint() const {
    return tr("目标文件", "hint");
}

void CMergeImagePage::TakeControlValues() {
    CJobPage::TakeControlValues();
    m_params.m_bExtra800 = m_pResize800Check->isChecked();
    m_params.m_bExtra1024 = m_pResize1024Check->isChecked();
    m_params.m_bAutoNumber = m_pAutoNumberCheck->isChecked();
    m_params.m_method = kStackMethods[std::max(m_pMethodList->currentIndex(), 0)];
    m_params.m_bAlign = m_pAlignCheck->isChecked();
}

void CMergeImagePage::RefreshControls() {
    CJobPage::RefreshControls();
    m_pResize800Check->setChecked(m_params.m_bExtra800);
    m_pResize1024Check->setChecked(m_params.m_bExtra1024);
    m_pAutoNumberCheck->setChecked(m_params.m_bAutoNumber);
    m_pMethodList->setCurrentIndex(int(m_params.m_method));
    m_pAlignCheck->setChecked(m_params.m_bAlign);
}

QString CMergeImagePage::LeftOutReason(const CStackFile& file) {
    switch (file.m_leftOut) {
        case StackLeftOut::NoContrast:
            return tr("无法对齐：画面没有可供对齐的反差");
        case StackLeftOut::WeakPeak:
            return tr("无法对齐：与参考图像的相关性太弱（%1，至少需 %2）")
                .arg(file.m_dPeakRatio, 0, 'f', 1)
                .arg(file.m_dNeededPeakRatio, 0, 'f', 1);
        case StackLeftOut::SmallOverlap:
            return tr("对齐后只覆盖参考图像的 %1%").arg(qRound(file.m_dCoverage * 100));
        case StackLeftOut::NoReference:
            return tr("无法对齐：与第一张同样大小的图像都没有可供对齐的反差");
        case StackLeftOut::None:
            break;
    }
    return QString::fromStdString(file.m_strReason);
}

void CMergeImagePage::OnStart() {
    if (!PrepareStart(tr("请先选择目标文件。"))) {
        return;
    }
    // The job counts the sources and picks the numbered target; the page shows its choice.
    const CMergeParams params = m_params;
    m_ran = params;
    m_used.clear();
    RunJob(
        [&params, this](IJobObserver& observer) {
            CMergeImageJob job(params, observer, RunContext());
            CJobResult result = job.Run();
            for (const CStackFile& file : job.Report()) {
                if (file.m_bUsed) {
                    m_used.push_back(file.m_strPath);
                }
            }
            // The files that stacking left out, in the page's words.
            for (const CStackFile& file : job.Report()) {
                if (file.m_leftOut == StackLeftOut::None) {
                    continue;
                }
                for (CJobProblem& skipped : result.m_skipped) {
                    if (skipped.m_strPath == file.m_strPath) {
                        skipped.m_strReason = LeftOutReason(file).toStdString();
                    }
                }
            }
            return result;
        },
        tr("图像平均完毕。"), tr("图像融合失败。"));
}

QString CMergeImagePage::MethodName(StackMethod method, bool bAlign) {
    QString name;
    switch (method) {
        case StackMethod::Mean:
            name = tr("平均");
            break;
        case StackMethod::MeanOfAdded:
            name = tr("按覆盖张数平均");
            break;
        case StackMethod::Median:
            name = tr("中值");
            break;
        case StackMethod::SigmaClip:
            name = tr("σ 剪裁平均");
            break;
    }
    return bAlign ? tr("%1（已对齐）").arg(name) : name;
}

void CMergeImagePage::CompleteSummary(CJobSummary& summary, const CJobResult& result,
                                      const std::string&) {
    const int nLeftOut = int(result.m_skipped.size() + result.m_unused.size());
    summary.m_notes.prepend(tr("方法：%1；用了 %2 张图像，未用 %3 张。")
                                .arg(MethodName(m_ran.m_method, m_ran.m_bAlign))
                                .arg(result.m_nUsed)
                                .arg(nLeftOut));
    if (summary.m_strResult.isEmpty()) {
        return;
    }
    // The size as the written file's header says it.
    if (const auto size = PeekImageSize(ToPath(summary.m_strResult))) {
        summary.m_notes.insert(1,
                               tr("结果大小：%1 x %2 像素。").arg(size->first).arg(size->second));
    }
    const bool bPlain = m_ran.m_method == StackMethod::Mean && !m_ran.m_bAlign;
    summary.m_compare = AverageCompare(result, m_used, bPlain);
}

void CMergeImagePage::OnSelectTarget() {
    TakeControlValues();
    const std::filesystem::path current(m_params.m_strTargetFile);
    QFileDialog dialog(this);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilters({BmpFilesFilter(), JpegFilesFilter(), AllFilesFilter()});
    dialog.setDefaultSuffix(QStringLiteral("bmp"));
    // A name typed without extension takes the one of the filter chosen.
    connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog](const QString& filter) {
        dialog.setDefaultSuffix(filter == JpegFilesFilter() ? QStringLiteral("jpg")
                                                            : QStringLiteral("bmp"));
    });
    // The dialog opens in the target's folder, else in the source folder.
    if (!m_params.m_strTargetFile.empty()) {
        dialog.setDirectory(FromPath(current.parent_path().string()));
    } else if (!m_params.m_strSrcDir.empty()) {
        dialog.setDirectory(FromPath(m_params.m_strSrcDir));
    }
    dialog.selectFile(FromPath(current.stem().string()));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return;
    }
    PumpMessages();
    SetTargetPath(dialog.selectedFiles().constFirst());
}

void CMergeImagePage::OnViewTarget() {
    TakeControlValues();
    if (m_params.m_strTargetFile.empty()) {
        Message(tr("请先选择目标文件。"));
        return;
    }
    Desktop().OpenDocument(FromPath(m_params.m_strTargetFile));
}
