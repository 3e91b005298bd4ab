#include "app/jobs/merge_image_page.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>

#include <filesystem>

#include "app/widgets/open_document.h"
#include "app/widgets/path_drop.h"
#include "app/widgets/path_label.h"
#include "image/image_file.h"
#include "jobs/merge_image_job.h"
#include "platform/pump_messages.h"

CMergeImagePage::CMergeImagePage(QWidget* parent)
    : CJobPage(132, parent),
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
    auto* extras = new QHBoxLayout;
    extras->addWidget(new QLabel(tr("另存为 800x600 / 1024x768 副本:"), target));
    extras->addWidget(m_pResize800Check);
    extras->addWidget(m_pResize1024Check);
    extras->addStretch(1);
    grid->addLayout(extras, 3, 0, 1, 6);
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
}

void CMergeImagePage::RefreshControls() {
    CJobPage::RefreshControls();
    m_pResize800Check->setChecked(m_params.m_bExtra800);
    m_pResize1024Check->setChecked(m_params.m_bExtra1024);
    m_pAutoNumberCheck->setChecked(m_params.m_bAutoNumber);
}

void CMergeImagePage::OnStart() {
    if (!PrepareStart(tr("请先选择目标文件。"))) {
        return;
    }
    // The job counts the sources and picks the numbered target; the page shows its choice.
    const CMergeParams params = m_params;
    RunJob([&params](IJobObserver& observer) { return CMergeImageJob(params, observer).Run(); },
           tr("图像平均完毕。"), tr("图像融合失败。"));
}

void CMergeImagePage::OnSelectTarget() {
    TakeControlValues();
    const std::filesystem::path current(m_params.m_strTargetFile);
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
    OpenDocument(FromPath(m_params.m_strTargetFile));
}
