#include "app/jobs/scale_image_page.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>

#include "app/widgets/path_label.h"
#include "app/widgets/view_folder.h"
#include "jobs/scale_image_job.h"

CScaleImagePage::CScaleImagePage(QWidget* parent)
    : CJobPageWidget(133, parent), m_pSizeList(new QComboBox(this)) {
    m_pSizeList->addItems({QStringLiteral("x2"), QStringLiteral("x3"), QStringLiteral("640x480"),
                           QStringLiteral("800x600"), QStringLiteral("1024x768")});

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

    ResetFields();
    RefreshControls();
    UpdateQualityControls();
}

void CScaleImagePage::TakeControlValues() {
    CJobPageWidget::TakeControlValues();
    m_nScale = m_pSizeList->currentIndex();
}

void CScaleImagePage::RefreshControls() {
    CJobPageWidget::RefreshControls();
    m_pSizeList->setCurrentIndex(m_nScale < m_pSizeList->count() ? m_nScale : -1);
}

CScaleSettings CScaleImagePage::Settings() const {
    CScaleSettings settings;
    settings.m_strSrcDir = m_strSrcDir;
    settings.m_strTgtDir = m_strTgtDir;
    settings.m_nJpgQuality = m_nJpgQuality;
    settings.m_nSrcFile = m_nSrcFile;
    settings.m_nScale = m_nScale;
    settings.m_bDelSrc = m_bDelSrc;
    return settings;
}

void CScaleImagePage::SetSettings(const CScaleSettings& settings) {
    m_strSrcDir = settings.m_strSrcDir;
    m_strTgtDir = settings.m_strTgtDir;
    m_nJpgQuality = settings.m_nJpgQuality;
    m_nSrcFile = settings.m_nSrcFile;
    m_nScale = settings.m_nScale;
    m_bDelSrc = settings.m_bDelSrc;
}

void CScaleImagePage::OnStart() {
    std::string pattern;
    if (!PrepareStart(tr("请先选择目标目录。"), pattern)) {
        return;
    }
    // Without a size nothing would be written while the sources went to the trash.
    int width = 0;
    int height = 0;
    if (!ScaleTargetSize(m_nScale, 1, 1, width, height)) {
        Message(tr("请先选择放大倍率。"));
        return;
    }
    const int nFiles = CountSources(pattern);
    if (nFiles == 0) {
        return;
    }
    // The quality is the one shown now; changes during the job do not reach it.
    const CScaleSettings settings = Settings();
    CJobResult result;
    const auto run = [&settings](IJobObserver& observer) {
        return CScaleImageJob(settings, observer).Run();
    };
    const auto endMessage = [](const CJobResult& end) {
        switch (end.m_end) {
            case JobEnd::Finished:
                return tr("放大完毕。");
            case JobEnd::NoFiles:
            case JobEnd::Refused:
                return NoFilesText();
            case JobEnd::NothingAdded:
            case JobEnd::Failed:
                break;
        }
        return QString();
    };
    RunJob(nFiles, run, endMessage, result);
}

void CScaleImagePage::OnSelectTarget() {
    TakeControlValues();
    if (SelectFolder(m_strTgtDir)) {
        RefreshControls();
    }
}

void CScaleImagePage::OnViewTarget() {
    TakeControlValues();
    if (m_strTgtDir.empty()) {
        Message(tr("请先选择目标目录。"));
        return;
    }
    ViewFolder(FromPath(m_strTgtDir), this);
}

bool CScaleImagePage::SaveToFile(std::string* why) {
    return SaveSettings(Settings(), g_szIniFile, why);
}

void CScaleImagePage::LoadFromFile() {
    CScaleSettings settings;
    LoadSettings(settings, g_szIniFile);
    SetSettings(settings);
}

void CScaleImagePage::ResetFields() {
    CScaleSettings settings;
    ResetSettings(settings);
    SetSettings(settings);
}
