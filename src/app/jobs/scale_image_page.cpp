#include "app/jobs/scale_image_page.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>

#include "app/jobs/job_summary_dialog.h"
#include "app/widgets/path_drop.h"
#include "app/widgets/path_label.h"
#include "app/widgets/view_folder.h"
#include "jobs/scale_image_job.h"

CScaleImagePage::CScaleImagePage(CDesktop& desktop, const CRunContext& context, QWidget* parent)
    : CJobPage(133, desktop, context, parent), m_pSizeList(new QComboBox(this)) {
    for (const ScaleChoice scale : kScaleChoices) {
        m_pSizeList->addItem(QString::fromLatin1(ScaleChoiceName(scale)));
    }

    auto* target = new QGroupBox(tr("目标文件"), this);
    auto* grid = new QGridLayout(target);
    // The folder's label is the longest: it gets a line of its own.
    grid->addWidget(new QLabel(tr("目标文件存放目录:"), target), 0, 0, 1, 4);
    grid->addWidget(m_pTgtPath, 1, 0, 1, 4);
    grid->addWidget(m_pTgtSelectButton, 1, 4);
    grid->addWidget(m_pTgtViewButton, 1, 5);
    grid->addWidget(m_pQualityLabel, 2, 0);
    grid->addWidget(m_pQualitySpin, 2, 1);
    grid->addWidget(new QLabel(tr("放大倍率:"), target), 2, 2, Qt::AlignRight);
    grid->addWidget(m_pSizeList, 2, 3);
    grid->setColumnStretch(2, 1);
    LayOutPage(target);
    new CPathDrop(m_pTgtPath, CPathDrop::Folders,
                  [this](const QString& path) { SetTargetPath(path); });

    ResetFields();
    RefreshControls();
    RememberFolders(CRememberedFolders::ScaleSource, CRememberedFolders::ScaleTarget);
}

std::string CScaleImagePage::TargetFolder() {
    return m_params.m_strTargetFolder;
}

QString CScaleImagePage::MissingTargetHint() const {
    return tr("目标目录", "hint");
}

void CScaleImagePage::CompleteSummary(CJobSummary& summary, const CJobResult& result,
                                      const std::string& resultSource) {
    summary.m_compare = EnlargedCompare(result, resultSource);
}

void CScaleImagePage::TakeControlValues() {
    CJobPage::TakeControlValues();
    m_params.m_scale = ScaleChoiceAt(m_pSizeList->currentIndex());
}

void CScaleImagePage::RefreshControls() {
    CJobPage::RefreshControls();
    m_pSizeList->setCurrentIndex(IndexOf(m_params.m_scale));
}

void CScaleImagePage::OnStart() {
    if (!PrepareStart(tr("请先选择目标目录。"))) {
        return;
    }
    // Without a size nothing would be written while the sources went to the trash.
    if (!m_params.m_scale) {
        Message(tr("请先选择放大倍率。"));
        return;
    }
    // The quality is the one shown now; changes during the job do not reach it.
    const CScaleParams params = m_params;
    RunJob(
        [&params, this](IJobObserver& observer) {
            return CScaleImageJob(params, observer, RunContext()).Run();
        },
        tr("放大完毕。"));
}

void CScaleImagePage::OnSelectTarget() {
    TakeControlValues();
    std::string folder = m_params.m_strTargetFolder;
    if (SelectFolder(folder)) {
        SetTargetPath(FromPath(folder));
    }
}

void CScaleImagePage::OnViewTarget() {
    TakeControlValues();
    if (m_params.m_strTargetFolder.empty()) {
        Message(tr("请先选择目标目录。"));
        return;
    }
    ViewFolder(Desktop(), FromPath(m_params.m_strTargetFolder), this);
}
