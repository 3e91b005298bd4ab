#include "app/jobs/job_page_widget.h"

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>

#include "app/main_sheet.h"
#include "app/widgets/message_box.h"
#include "app/widgets/path_label.h"
#include "app/widgets/select_folder_dialog.h"
#include "app/widgets/view_folder.h"
#include "jobs/job_observer.h"
#include "jobs/srch_dir.h"
#include "platform/pump_messages.h"

namespace {

// The wait cursor over the whole program while it lives.
class CWaitCursor {
public:
    CWaitCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~CWaitCursor() { QGuiApplication::restoreOverrideCursor(); }
    CWaitCursor(const CWaitCursor&) = delete;
    CWaitCursor& operator=(const CWaitCursor&) = delete;
};

// The engines report a resize as "放大至800x600..."; shown in the user's language.
QString ResizeStatus(const std::string& text) {
    static const std::string kPrefix = "放大至";
    int width = 0;
    int height = 0;
    if (text.rfind(kPrefix, 0) == 0 &&
        std::sscanf(text.c_str() + kPrefix.size(), "%dx%d", &width, &height) == 2) {
        return QCoreApplication::translate("CJobPageWidget", "放大至%1x%2...")
            .arg(width)
            .arg(height);
    }
    return QString::fromStdString(text);
}

}  // namespace

std::string ToPath(const QString& text) {
    return QFile::encodeName(text).toStdString();
}

QString FromPath(const std::string& path) {
    return QFile::decodeName(QByteArray::fromStdString(path));
}

// Shows the job's progress on the page and pumps the page's messages between files. The page
// may be destroyed inside the pump (the guard then reads null): from then on nothing of it is
// touched and the job is asked to stop.
class CJobPageWidget::CPageObserver : public IJobObserver {
public:
    explicit CPageObserver(CJobPageWidget* page) : m_pPage(page) {}

    void FileStarted(const std::string& path, int nFile, int nTotal) override {
        if (!m_pPage) {
            return;
        }
        const QString text = FromPath(path);
        m_pPage->m_pStatusPath->setText(text);
        QProgressBar* bar = m_pPage->m_pProgress;
        bar->setValue(std::min(bar->value() + 1, bar->maximum()));
        emit m_pPage->JobFileStarted(text, nFile, nTotal);
    }
    bool StopRequested() override {
        PumpMessages();
        return !m_pPage || m_pPage->m_bStopRequested;
    }
    void StatusChanged(const std::string& text) override {
        if (m_pPage) {
            m_pPage->m_pStatusPath->setText(ResizeStatus(text));
        }
    }
    // The averaging result takes the quality shown when it is written.
    int ResultQuality(int nQuality) override {
        return m_pPage ? m_pPage->m_pQualitySpin->value() : nQuality;
    }

private:
    QPointer<CJobPageWidget> m_pPage;
};

CJobPageWidget::CJobPageWidget(int nIDTemplate, QWidget* parent)
    : CFontablePage(nIDTemplate, parent),
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
      m_pSaveButton(new QPushButton(tr("保存"), this)),
      m_pLoadButton(new QPushButton(tr("调入"), this)),
      m_pResetButton(new QPushButton(tr("重置"), this)) {
    m_pSrcTypeList->addItems({QStringLiteral("*.jpg"), QStringLiteral("*.bmp")});
    // The spin box is both the digits-only field and its arrows; text outside 1..100 or not a
    // number is never accepted.
    m_pQualitySpin->setRange(1, 100);
    m_pQualityLabel->setBuddy(m_pQualitySpin);
    m_pProgress->setTextVisible(false);
    m_pProgress->setRange(0, 100);
    m_pProgress->setValue(0);
    m_pStartButton->setAutoDefault(true);
    m_pStartButton->setDefault(true);

    connect(m_pStartButton, &QPushButton::clicked, this, [this] { OnStart(); });
    connect(m_pSrcSelectButton, &QPushButton::clicked, this, &CJobPageWidget::OnSelectSource);
    connect(m_pSrcViewButton, &QPushButton::clicked, this, &CJobPageWidget::OnViewSource);
    connect(m_pTgtSelectButton, &QPushButton::clicked, this, [this] { OnSelectTarget(); });
    connect(m_pTgtViewButton, &QPushButton::clicked, this, [this] { OnViewTarget(); });
    connect(m_pSrcTypeList, &QComboBox::currentIndexChanged, this,
            &CJobPageWidget::UpdateQualityControls);
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
    page->addWidget(m_pProgress);
    page->addStretch(1);
    page->addLayout(buttons);
}

void CJobPageWidget::TakeControlValues() {
    m_strSrcDir = ToPath(m_pSrcPath->text());
    m_strTgtDir = ToPath(m_pTgtPath->text());
    m_nJpgQuality = m_pQualitySpin->value();
    m_nSrcFile = m_pSrcTypeList->currentIndex();
    m_bDelSrc = m_pDelSrcCheck->isChecked();
}

void CJobPageWidget::RefreshControls() {
    m_pSrcPath->setText(FromPath(m_strSrcDir));
    m_pTgtPath->setText(FromPath(m_strTgtDir));
    m_pQualitySpin->setValue(m_nJpgQuality);
    // An index beyond the list (from a settings file) leaves the list without a selection.
    m_pSrcTypeList->setCurrentIndex(m_nSrcFile < m_pSrcTypeList->count() ? m_nSrcFile : -1);
    m_pDelSrcCheck->setChecked(m_bDelSrc);
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
        }
    }
    m_pStartButton->setEnabled(true);
    m_pStartButton->setText(bEnable ? tr("开始") : tr("停止"));
    UpdateQualityControls();
}

void CJobPageWidget::UpdateQualityControls() {
    const bool bJpeg = m_pSrcTypeList->currentIndex() == 0;
    m_pQualityLabel->setEnabled(bJpeg);
    m_pQualitySpin->setEnabled(bJpeg);
}

void CJobPageWidget::showEvent(QShowEvent* event) {
    CFontablePage::showEvent(event);
    // Enter starts the job of the page on show.
    m_pStartButton->setDefault(true);
}

QString CJobPageWidget::NoFilesText() {
    return tr("抱歉，在指定的源目录下没有所需的文件。");
}

void CJobPageWidget::Message(const QString& text) {
    ShowMessage(this, text);
}

bool CJobPageWidget::PrepareStart(const QString& strNoTarget, std::string& pattern) {
    if (m_bRunning) {
        m_bStopRequested = true;
        return false;
    }
    TakeControlValues();
    if (m_strSrcDir.empty()) {
        Message(tr("请先选择源目录。"));
        return false;
    }
    if (m_strTgtDir.empty()) {
        Message(strNoTarget);
        return false;
    }
    pattern = SourcePattern(m_nSrcFile);
    if (pattern.empty()) {
        // No source type chosen (an index beyond the list, loaded from the settings file):
        // nothing can match.
        Message(NoFilesText());
        return false;
    }
    return true;
}

int CJobPageWidget::CountSources(const std::string& pattern) {
    int nFiles = 0;
    {
        const CWaitCursor wait;
        CFileCounter counter;
        nFiles = counter.Count(m_strSrcDir, pattern);
    }
    if (nFiles == 0) {
        Message(NoFilesText());
    }
    return nFiles;
}

bool CJobPageWidget::RunJob(int nTotal, const std::function<CJobResult(IJobObserver&)>& run,
                            const std::function<QString(const CJobResult&)>& endMessage,
                            CJobResult& result) {
    const QPointer<CJobPageWidget> guard(this);
    {
        const CWaitCursor wait;
        m_pProgress->setRange(0, std::max(nTotal, 1));
        m_pProgress->setValue(0);
        m_bRunning = true;
        m_bStopRequested = false;
        EnableJobControls(false);
        emit BusyChanged(true);
        CPageObserver observer(this);
        result = run(observer);
        if (!guard) {
            return false;
        }
    }
    // Failures always reach the user; the other end messages not when the user closed the
    // window, which is what stopped the job.
    const CMainSheet* sheet = MainSheet();
    const bool bClosing = sheet != nullptr && sheet->IsClosePending();
    if (!result.m_failures.empty()) {
        ShowFailures(result);
    } else if (!bClosing) {
        const QString text = endMessage(result);
        if (!text.isEmpty()) {
            Message(text);
        }
    }
    if (!guard) {
        return false;
    }
    m_bRunning = false;
    m_bStopRequested = false;
    EnableJobControls(true);
    emit BusyChanged(false);
    return true;
}

void CJobPageWidget::ShowFailures(const CJobResult& result) {
    constexpr std::size_t kShown = 10;
    QString text = tr("以下文件处理失败：");
    const std::size_t nShown = std::min(result.m_failures.size(), kShown);
    for (std::size_t i = 0; i < nShown; ++i) {
        const CJobProblem& problem = result.m_failures[i];
        text += u'\n' + FromPath(problem.m_strPath) + QStringLiteral(": ") +
                QString::fromStdString(problem.m_strReason);
    }
    if (result.m_failures.size() > kShown) {
        text += u'\n' + tr("……另有%1个错误。").arg(result.m_failures.size() - kShown);
    }
    ShowMessage(this, text, QMessageBox::Warning);
}

bool CJobPageWidget::SelectFolder(std::string& folder) {
    CSelectFolderDialog dialog(true, FromPath(folder),
                               m_nSrcFile == 0 ? JpegFolderFilters() : BmpFolderFilters(), this);
    if (dialog.DoModal() != QDialog::Accepted) {
        return false;
    }
    folder = ToPath(dialog.GetSelectedFolder());
    return true;
}

void CJobPageWidget::OnSelectSource() {
    TakeControlValues();
    if (SelectFolder(m_strSrcDir)) {
        RefreshControls();
    }
}

void CJobPageWidget::OnViewSource() {
    TakeControlValues();
    if (m_strSrcDir.empty()) {
        Message(tr("请先选择源目录。"));
        return;
    }
    ViewFolder(FromPath(m_strSrcDir), this);
}

void CJobPageWidget::OnSaveSettings() {
    TakeControlValues();
    std::string why;
    if (!SaveToFile(&why)) {
        ShowMessage(this, tr("无法保存设置：\n%1").arg(QString::fromStdString(why)),
                    QMessageBox::Warning);
    }
}

void CJobPageWidget::OnLoadSettings() {
    LoadFromFile();
    RefreshControls();
}

void CJobPageWidget::OnResetSettings() {
    ResetFields();
    RefreshControls();
}
