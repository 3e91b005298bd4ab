#include "app/jobs/merge_image_page.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>

#include <algorithm>
#include <filesystem>

#include "app/widgets/open_document.h"
#include "app/widgets/path_label.h"
#include "jobs/merge_image_job.h"
#include "platform/pump_messages.h"

CMergeImagePage::CMergeImagePage(QWidget* parent)
    : CJobPageWidget(132, parent),
      m_pAutoNumberCheck(new QCheckBox(tr("自动编号"), this)),
      m_pResize800Check(new QCheckBox(QStringLiteral("800*600"), this)),
      m_pResize1024Check(new QCheckBox(QStringLiteral("1024*768"), this)) {
    auto* target = new QGroupBox(tr("目标文件"), this);
    auto* grid = new QGridLayout(target);
    grid->addWidget(new QLabel(tr("目标文件:"), target), 0, 0);
    grid->addWidget(m_pTgtPath, 0, 1, 1, 3);
    grid->addWidget(m_pTgtSelectButton, 0, 4);
    grid->addWidget(m_pTgtViewButton, 0, 5);
    grid->addWidget(m_pAutoNumberCheck, 1, 1, 1, 3);
    grid->addWidget(m_pQualityLabel, 2, 0);
    grid->addWidget(m_pQualitySpin, 2, 1);
    grid->addWidget(m_pResize800Check, 2, 2);
    grid->addWidget(m_pResize1024Check, 2, 3);
    grid->setColumnStretch(3, 1);
    LayOutPage(target);

    ResetFields();
    RefreshControls();
    UpdateQualityControls();
}

void CMergeImagePage::TakeControlValues() {
    CJobPageWidget::TakeControlValues();
    m_bResize800 = m_pResize800Check->isChecked();
    m_bResize1024 = m_pResize1024Check->isChecked();
    m_bNoSameFile = m_pAutoNumberCheck->isChecked();
}

void CMergeImagePage::RefreshControls() {
    CJobPageWidget::RefreshControls();
    m_pResize800Check->setChecked(m_bResize800);
    m_pResize1024Check->setChecked(m_bResize1024);
    m_pAutoNumberCheck->setChecked(m_bNoSameFile);
}

CMergeSettings CMergeImagePage::Settings() const {
    CMergeSettings settings;
    settings.m_strSrcDir = m_strSrcDir;
    settings.m_strTgtDir = m_strTgtDir;
    settings.m_nJpgQuality = m_nJpgQuality;
    settings.m_nSrcFile = m_nSrcFile;
    settings.m_bResize800 = m_bResize800;
    settings.m_bResize1024 = m_bResize1024;
    settings.m_bDelSrc = m_bDelSrc;
    settings.m_bNoSameFile = m_bNoSameFile;
    return settings;
}

void CMergeImagePage::SetSettings(const CMergeSettings& settings) {
    m_strSrcDir = settings.m_strSrcDir;
    m_strTgtDir = settings.m_strTgtDir;
    m_nJpgQuality = settings.m_nJpgQuality;
    m_nSrcFile = settings.m_nSrcFile;
    m_bResize800 = settings.m_bResize800;
    m_bResize1024 = settings.m_bResize1024;
    m_bDelSrc = settings.m_bDelSrc;
    m_bNoSameFile = settings.m_bNoSameFile;
}

void CMergeImagePage::OnStart() {
    std::string pattern;
    if (!PrepareStart(tr("请先选择目标文件。"), pattern)) {
        return;
    }
    const int nFiles = std::min(CountSources(pattern), kMaxMergeFiles);
    if (nFiles == 0) {
        return;
    }
    if (m_bNoSameFile) {
        m_strTgtDir = MakeUniqueTarget(m_strTgtDir);
        RefreshControls();
    }
    const CMergeSettings settings = Settings();
    CJobResult result;
    const auto run = [&settings](IJobObserver& observer) {
        return CMergeImageJob(settings, observer).Run();
    };
    const auto endMessage = [](const CJobResult& end) {
        switch (end.m_end) {
            case JobEnd::Finished:
                return tr("图像平均完毕。");
            case JobEnd::NothingAdded:
                return tr("图像融合失败。");
            case JobEnd::NoFiles:
            case JobEnd::Refused:
                return NoFilesText();
            case JobEnd::Failed:
                break;
        }
        return QString();
    };
    if (!RunJob(nFiles, run, endMessage, result)) {
        return;
    }
    // The job tests the name again: a file made meanwhile moves it on.
    if (!result.m_strTarget.empty() && result.m_strTarget != m_strTgtDir) {
        TakeControlValues();
        m_strTgtDir = result.m_strTarget;
        RefreshControls();
    }
}

void CMergeImagePage::OnSelectTarget() {
    TakeControlValues();
    const std::filesystem::path current(m_strTgtDir);
    QFileDialog dialog(this);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilters({QStringLiteral("Bmp Files (*.bmp)"),
                           QStringLiteral("Jpeg Files (*.jpg)"), QStringLiteral("All Files (*)")});
    dialog.setDefaultSuffix(QStringLiteral("bmp"));
    // A name typed without extension takes the one of the filter chosen.
    connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog](const QString& filter) {
        dialog.setDefaultSuffix(filter.startsWith(QStringLiteral("Jpeg")) ? QStringLiteral("jpg")
                                                                          : QStringLiteral("bmp"));
    });
    if (!m_strTgtDir.empty()) {
        dialog.setDirectory(FromPath(current.parent_path().string()));
    }
    dialog.selectFile(FromPath(current.stem().string()));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return;
    }
    PumpMessages();
    TakeControlValues();
    m_strTgtDir = ToPath(dialog.selectedFiles().constFirst());
    RefreshControls();
}

void CMergeImagePage::OnViewTarget() {
    TakeControlValues();
    if (m_strTgtDir.empty()) {
        Message(tr("请先选择目标文件。"));
        return;
    }
    OpenDocument(FromPath(m_strTgtDir));
}

bool CMergeImagePage::SaveToFile(std::string* why) {
    return SaveSettings(Settings(), g_szIniFile, why);
}

void CMergeImagePage::LoadFromFile() {
    CMergeSettings settings;
    LoadSettings(settings, g_szIniFile);
    SetSettings(settings);
}

void CMergeImagePage::ResetFields() {
    CMergeSettings settings;
    ResetSettings(settings);
    SetSettings(settings);
}
