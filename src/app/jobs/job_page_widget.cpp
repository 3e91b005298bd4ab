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

#include "app/main_sheet.h"
#include "app/widgets/message_box.h"
#include "app/widgets/path_label.h"
#include "app/widgets/select_folder_dialog.h"
#include "app/widgets/view_folder.h"
#include "jobs/job_observer.h"
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

    void OnEvent(const CJobEvent& event) override {
        if (!m_pPage) {
            return;
        }
        CJobPageWidget* page = m_pPage;
        std::visit(
            Overloaded{
                [page](const CJobStarted& started) { page->JobStarted(started.m_nTotal); },
                [page](const CTargetChosen& target) { page->TargetChosen(target.m_strPath); },
                [page](const CFileStarted& file) {
                    const QString text = FromPath(file.m_strPath);
                    page->m_pStatusPath->setText(text);
                    QProgressBar* bar = page->m_pProgress;
                    bar->setValue(std::min(bar->value() + 1, bar->maximum()));
                    emit page->JobFileStarted(text, file.m_nFile, file.m_nTotal);
                },
                [page](const CResizeStarted& resize) {
                    page->m_pStatusPath->setText(
                        tr("放大至%1x%2...").arg(resize.m_nWidth).arg(resize.m_nHeight));
                },
                // Written, trashed, skipped and failed files are summed up at the end.
                [](const auto&) {},
            },
            event);
    }
    bool StopRequested() override {
        PumpMessages();
        return !m_pPage || m_pPage->m_bStopRequested;
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
    return true;
}

bool CJobPageWidget::RunJob(const std::function<CJobResult(IJobObserver&)>& run,
                            const QString& strDone, const QString& strNothingAdded) {
    const QPointer<CJobPageWidget> guard(this);
    CJobResult result;
    {
        const CWaitCursor wait;
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
        QString text;
        switch (result.m_end) {
            case JobEnd::Finished:
                text = strDone;
                break;
            case JobEnd::NothingAdded:
                text = strNothingAdded;
                break;
            case JobEnd::Refused:
                text = RefusalText(result);
                break;
            case JobEnd::NoFiles:
                text = NoFilesText();
                break;
            case JobEnd::Failed:
                break;
        }
        if (!text.isEmpty() && !result.m_leftovers.empty()) {
            text += u'\n' + tr("已删除上次被中断的任务留下的临时文件：");
            for (const std::string& path : result.m_leftovers) {
                text += u'\n' + FromPath(path);
            }
        }
        if (!text.isEmpty()) {
            Message(text);
        }
    }
    if (!guard) {
        return false;
    }
    if (m_bRunning) {
        m_bRunning = false;
        m_bStopRequested = false;
        EnableJobControls(true);
        emit BusyChanged(false);
    }
    return true;
}

QString CJobPageWidget::RefusalText(const CJobResult& result) {
    switch (result.m_refusal) {
        case JobRefusal::TargetIsSource:
            return tr(
                "目标会覆盖源文件，原文件将无法找回，因此没有开始。\n"
                "请选择另一个目标，或勾选“结束后删除所有源文件”（源文件会先移到回收站）。");
        case JobRefusal::TargetBusy:
            return tr("另一个任务正在向目标目录写入文件，因此没有开始。\n请等它结束后再开始。");
        default:
            return NoFilesText();
    }
}

void CJobPageWidget::JobStarted(int nTotal) {
    m_pProgress->setRange(0, std::max(nTotal, 1));
    m_pProgress->setValue(0);
    m_bRunning = true;
    m_bStopRequested = false;
    EnableJobControls(false);
    emit BusyChanged(true);
}

void CJobPageWidget::TargetChosen(const std::string& path) {
    Target() = path;
    m_pTgtPath->setText(FromPath(path));
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
    const bool bJpeg = Common().m_source == SourceKind::Jpg;
    CSelectFolderDialog dialog(true, FromPath(folder),
                               bJpeg ? JpegFolderFilters() : BmpFolderFilters(), this);
    if (dialog.DoModal() != QDialog::Accepted) {
        return false;
    }
    folder = ToPath(dialog.GetSelectedFolder());
    return true;
}

void CJobPageWidget::OnSelectSource() {
    TakeControlValues();
    if (SelectFolder(Common().m_strSrcDir)) {
        RefreshControls();
    }
}

void CJobPageWidget::OnViewSource() {
    TakeControlValues();
    if (Common().m_strSrcDir.empty()) {
        Message(tr("请先选择源目录。"));
        return;
    }
    ViewFolder(FromPath(Common().m_strSrcDir), this);
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
