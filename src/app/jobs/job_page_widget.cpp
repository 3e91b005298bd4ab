#include "app/jobs/job_page_widget.h"

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>

#include "app/widgets/desktop.h"
#include "app/widgets/path_drop.h"
#include "app/widgets/path_label.h"
#include "app/widgets/select_folder_dialog.h"
#include "app/widgets/view_folder.h"
#include "jobs/srch_dir.h"

namespace {

// "JPG" or "BMP": a source type as the hints name it.
QString KindName(SourceKind kind) {
    return QString::fromLatin1(SourceKindName(kind)).toUpper();
}

// Kept on a control while a job has it locked: its own tooltip, given back afterwards.
constexpr const char* kIdleToolTip = "tarnwickIdleToolTip";

}  // namespace

std::string ToPath(const QString& text) {
    return QFile::encodeName(text).toStdString();
}

QString FromPath(const std::string& path) {
    return QFile::decodeName(QByteArray::fromStdString(path));
}

CJobPageWidget::CJobPageWidget(int nIDTemplate, CDesktop& desktop, const CRunContext& context,
                               QWidget* parent)
    : CFontablePage(nIDTemplate, desktop, parent),
      m_context(context),
      m_pStartButton(new QPushButton(tr("开始"), this)),
      m_pSrcSelectButton(new QPushButton(tr("选择"), this)),
      m_pSrcViewButton(new QPushButton(tr("查看"), this)),
      m_pSrcPath(new CPathLabel(this, Qt::AlignLeft | Qt::AlignVCenter, true)),
      m_pSrcTypeList(new QComboBox(this)),
      m_pDelSrcCheck(new QCheckBox(tr("结束后删除所有源文件"), this)),
      m_pTgtSelectButton(new QPushButton(tr("选择"), this)),
      m_pTgtViewButton(new QPushButton(tr("查看"), this)),
      m_pTgtPath(new CPathLabel(this, Qt::AlignLeft | Qt::AlignVCenter, true)),
      m_pQualityLabel(new QLabel(tr("JPEG压缩率:"), this)),
      m_pQualitySpin(new QSpinBox(this)),
      m_pStatusPath(new CPathLabel(this, Qt::AlignLeft | Qt::AlignVCenter, true)),
      m_pProgress(new QProgressBar(this)),
      m_pProgressText(new QLabel(this)),
      m_pSourceCounts(new QLabel(this)),
      m_pSaveButton(new QPushButton(tr("保存"), this)),
      m_pLoadButton(new QPushButton(tr("调入"), this)),
      m_pResetButton(new QPushButton(tr("重置"), this)) {
    for (const SourceKind kind : kSourceKinds) {
        m_pSrcTypeList->addItem(QString::fromStdString(SourcePattern(kind)));
    }
    // The spin box is both the digits-only field and its arrows; text outside 1..100 or not a
    // number is never accepted.
    m_pQualitySpin->setRange(1, 100);
    m_pQualityLabel->setBuddy(m_pQualitySpin);
    m_pProgress->setTextVisible(false);
    m_pProgress->setRange(0, 100);
    m_pProgress->setValue(0);
    m_pStartButton->setAutoDefault(true);
    m_pStartButton->setDefault(true);
    // Folders dropped from a file manager; the averaging page also takes files on its target.
    new CPathDrop(m_pSrcPath, CPathDrop::Folders,
                  [this](const QString& path) { SetSourceFolder(path); });

    connect(m_pStartButton, &QPushButton::clicked, this, [this] { OnStart(); });
    connect(m_pSrcSelectButton, &QPushButton::clicked, this, &CJobPageWidget::OnSelectSource);
    connect(m_pSrcViewButton, &QPushButton::clicked, this, &CJobPageWidget::OnViewSource);
    connect(m_pTgtSelectButton, &QPushButton::clicked, this, [this] { OnSelectTarget(); });
    connect(m_pTgtViewButton, &QPushButton::clicked, this, [this] { OnViewTarget(); });
    connect(m_pSrcTypeList, &QComboBox::currentIndexChanged, this, &CJobPageWidget::UpdateHints);
    connect(m_pSaveButton, &QPushButton::clicked, this, &CJobPageWidget::OnSaveSettings);
    connect(m_pLoadButton, &QPushButton::clicked, this, &CJobPageWidget::OnLoadSettings);
    connect(m_pResetButton, &QPushButton::clicked, this, &CJobPageWidget::OnResetSettings);
}

void CJobPageWidget::LayOutPage(QWidget* targetGroup) {
    auto* source = new QGroupBox(tr("源文件"), this);
    auto* grid = new QGridLayout(source);
    grid->addWidget(new QLabel(tr("源文件所在目录:"), source), 0, 0);
    grid->addWidget(m_pSrcPath, 0, 1, 1, 2);
    grid->addWidget(m_pSrcSelectButton, 0, 3);
    grid->addWidget(m_pSrcViewButton, 0, 4);
    grid->addWidget(new QLabel(tr("源文件:"), source), 1, 0);
    grid->addWidget(m_pSrcTypeList, 1, 1);
    grid->addWidget(m_pDelSrcCheck, 1, 2, 1, 3);
    grid->addWidget(m_pSourceCounts, 2, 1, 1, 4);
    grid->setColumnStretch(2, 1);

    auto* processing = new QHBoxLayout;
    processing->addWidget(new QLabel(tr("正在处理:"), this));
    processing->addWidget(m_pStatusPath, 1);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_pStartButton);
    buttons->addStretch(1);
    buttons->addWidget(m_pSaveButton);
    buttons->addWidget(m_pLoadButton);
    buttons->addWidget(m_pResetButton);

    auto* page = new QVBoxLayout(this);
    page->addWidget(source);
    page->addWidget(targetGroup);
    page->addLayout(processing);
    auto* progress = new QHBoxLayout;
    progress->addWidget(m_pProgress, 1);
    progress->addWidget(m_pProgressText);
    page->addLayout(progress);
    page->addStretch(1);
    page->addLayout(buttons);
}

void CJobPageWidget::TakeControlValues() {
    CJobParams& params = Common();
    params.m_strSrcDir = ToPath(m_pSrcPath->text());
    Target() = ToPath(m_pTgtPath->text());
    params.m_nJpgQuality = m_pQualitySpin->value();
    params.m_source = SourceKindAt(m_pSrcTypeList->currentIndex());
    params.m_bDelSrc = m_pDelSrcCheck->isChecked();
}

void CJobPageWidget::RefreshControls() {
    CJobParams& params = Common();
    m_pSrcPath->setText(FromPath(params.m_strSrcDir));
    m_pTgtPath->setText(FromPath(Target()));
    m_pQualitySpin->setValue(params.m_nJpgQuality);
    // No source kind (a number beyond the list, from a settings file) leaves the list without a
    // selection.
    m_pSrcTypeList->setCurrentIndex(IndexOf(params.m_source));
    m_pDelSrcCheck->setChecked(params.m_bDelSrc);
    UpdateHints();
}

void CJobPageWidget::EnableJobControls(bool bEnable) {
    for (QWidget* child : findChildren<QWidget*>()) {
        const bool bControl = qobject_cast<QAbstractButton*>(child) != nullptr ||
                              qobject_cast<QComboBox*>(child) != nullptr ||
                              qobject_cast<QAbstractSpinBox*>(child) != nullptr;
        // Parts of a composite control (the spin box's field, the list's popup) follow it.
        QWidget* owner = child->parentWidget();
        const bool bOwnControl = owner == this || qobject_cast<QGroupBox*>(owner) != nullptr;
        if (bControl && bOwnControl && child != m_pStartButton) {
            child->setEnabled(bEnable);
            // A locked control says why; afterwards it has its own tooltip back.
            if (!bEnable && !child->property(kIdleToolTip).isValid()) {
                child->setProperty(kIdleToolTip, child->toolTip());
                child->setToolTip(tr("正在处理，停止或处理完后才能更改"));
            } else if (bEnable && child->property(kIdleToolTip).isValid()) {
                child->setToolTip(child->property(kIdleToolTip).toString());
                child->setProperty(kIdleToolTip, QVariant());
            }
        }
    }
    m_pStartButton->setEnabled(true);
    m_pStartButton->setText(bEnable ? tr("开始") : tr("停止"));
    UpdateHints();
}

bool CJobPageWidget::OutputIsJpeg() {
    return SourceKindAt(m_pSrcTypeList->currentIndex()) == SourceKind::Jpg;
}

void CJobPageWidget::UpdateQualityControls() {
    const bool bJpeg = OutputIsJpeg();
    m_pQualityLabel->setEnabled(bJpeg);
    m_pQualitySpin->setEnabled(bJpeg);
    const QString tip = bJpeg ? QString() : tr("只有写出 JPEG 文件时才用到压缩率");
    m_pQualityLabel->setToolTip(tip);
    m_pQualitySpin->setToolTip(tip);
}

void CJobPageWidget::UpdateHints() {
    UpdateQualityControls();

    const std::string folder = ToPath(m_pSrcPath->text());
    QString counts;
    if (!folder.empty()) {
        QStringList parts;
        for (const SourceKind kind : kSourceKinds) {
            CFileCounter counter;
            parts << tr("%1 个 %2")
                         .arg(counter.Count(folder, SourcePattern(kind)))
                         .arg(KindName(kind));
        }
        counts = parts.join(tr("，"));
    }
    m_pSourceCounts->setText(counts);

    if (m_bRunning) {
        m_pStartButton->setToolTip(tr("当前文件处理完后停止"));
        return;
    }
    const bool bNoSource = m_pSrcPath->text().isEmpty();
    const bool bNoTarget = m_pTgtPath->text().isEmpty();
    QString missing;
    if (bNoSource && bNoTarget) {
        missing = tr("请先选择源目录和%1").arg(MissingTargetHint());
    } else if (bNoSource) {
        missing = tr("请先选择源目录");
    } else if (bNoTarget) {
        missing = tr("请先选择%1").arg(MissingTargetHint());
    }
    m_pStartButton->setToolTip(missing);
    m_pSrcViewButton->setToolTip(bNoSource ? tr("请先选择源目录") : QString());
    m_pTgtViewButton->setToolTip(bNoTarget ? tr("请先选择%1").arg(MissingTargetHint()) : QString());
}

void CJobPageWidget::SetSourceFolder(const QString& folder) {
    TakeControlValues();
    Common().m_strSrcDir = ToPath(folder);
    RefreshControls();
    RememberFields();
}

void CJobPageWidget::SetTargetPath(const QString& path) {
    TakeControlValues();
    Target() = ToPath(path);
    RefreshControls();
    RememberFields();
}

void CJobPageWidget::RememberFolders(CRememberedFolders::Folder source,
                                     CRememberedFolders::Folder target) {
    m_sourceKey = source;
    m_targetKey = target;
    m_bRemembering = true;
    const CRememberedFolders& store = Desktop().Folders();
    Common().m_strSrcDir = ToPath(store.Get(source));
    Target() = ToPath(store.Get(target));
    RefreshControls();
}

void CJobPageWidget::RememberFields() {
    if (!m_bRemembering) {
        return;
    }
    CRememberedFolders& store = Desktop().Folders();
    store.Set(m_sourceKey, m_pSrcPath->text());
    store.Set(m_targetKey, m_pTgtPath->text());
}

void CJobPageWidget::showEvent(QShowEvent* event) {
    CFontablePage::showEvent(event);
    // Enter starts the job of the page on show.
    m_pStartButton->setDefault(true);
}

QString CJobPageWidget::NoFilesText(std::optional<SourceKind> kind) {
    QString text = tr("抱歉，在指定的源目录下没有所需的文件。");
    if (kind) {
        text += u'\n' + tr("该目录中没有 %1 文件。").arg(KindName(*kind));
    }
    return text;
}

void CJobPageWidget::Message(const QString& text) {
    Desktop().ShowMessage(this, text);
}

bool CJobPageWidget::PrepareStart(const QString& strNoTarget) {
    if (m_bRunning) {
        m_bStopRequested = true;
        return false;
    }
    TakeControlValues();
    if (Common().m_strSrcDir.empty()) {
        Message(tr("请先选择源目录。"));
        return false;
    }
    if (Target().empty()) {
        Message(strNoTarget);
        return false;
    }
    if (!Common().m_source) {
        // No source type chosen (a number beyond the list, loaded from the settings file):
        // nothing can match.
        Message(NoFilesText());
        return false;
    }
    RememberFields();
    return true;
}

void CJobPageWidget::TargetChosen(const std::string& path) {
    Target() = path;
    m_pTgtPath->setText(FromPath(path));
    RememberFields();
}

bool CJobPageWidget::SelectFolder(std::string& folder) {
    const bool bJpeg = Common().m_source == SourceKind::Jpg;
    CSelectFolderDialog dialog(Desktop(), true, FromPath(folder),
                               bJpeg ? JpegFolderFilters() : BmpFolderFilters(), this);
    if (dialog.DoModal() != QDialog::Accepted) {
        return false;
    }
    folder = ToPath(dialog.GetSelectedFolder());
    return true;
}

void CJobPageWidget::OnSelectSource() {
    TakeControlValues();
    std::string folder = Common().m_strSrcDir;
    if (SelectFolder(folder)) {
        SetSourceFolder(FromPath(folder));
    }
}

void CJobPageWidget::OnViewSource() {
    TakeControlValues();
    if (Common().m_strSrcDir.empty()) {
        Message(tr("请先选择源目录。"));
        return;
    }
    ViewFolder(Desktop(), FromPath(Common().m_strSrcDir), this);
}

void CJobPageWidget::OnSaveSettings() {
    TakeControlValues();
    if (CStatus saved = SaveToFile(); !saved) {
        Desktop().ShowMessage(this,
                              tr("无法保存设置：\n%1").arg(QString::fromStdString(saved.Reason())),
                              QMessageBox::Warning);
    }
}

// A file that cannot be read (or is no settings file at all, such as a FIFO) is reported, and the
// page keeps what it shows.
void CJobPageWidget::OnLoadSettings() {
    if (CStatus read = LoadFromFile(); !read) {
        Desktop().ShowMessage(this,
                              tr("无法调入设置：\n%1").arg(QString::fromStdString(read.Reason())),
                              QMessageBox::Warning);
        return;
    }
    RefreshControls();
    RememberFields();
}

// The remembered folders stay: Reset gives the page its defaults, it does not forget.
void CJobPageWidget::OnResetSettings() {
    ResetFields();
    RefreshControls();
    ClearProgress();
}
