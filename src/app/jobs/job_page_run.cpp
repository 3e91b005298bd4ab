// Running a job from a page: its events shown as they come (the observer), the progress line,
// and what the page says once the job is over.
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QProgressBar>
#include <QSpinBox>

#include <algorithm>

#include "app/jobs/job_page_widget.h"
#include "app/jobs/job_summary_dialog.h"
#include "app/widgets/desktop.h"
#include "app/widgets/page_host.h"
#include "app/widgets/path_label.h"
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
                [this, page](const CFileStarted& file) {
                    m_strStarted = file.m_strPath;
                    page->FileStarted(file.m_strPath, file.m_nFile, file.m_nTotal);
                },
                [this](const CFileWritten&) {
                    if (m_strResultSource.empty()) {
                        m_strResultSource = m_strStarted;
                    }
                },
                [page](const CResizeStarted& resize) {
                    page->m_pStatusPath->setText(
                        tr("放大至%1x%2...").arg(resize.m_nWidth).arg(resize.m_nHeight));
                },
                // Trashed, skipped and failed files are summed up at the end.
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

    // The source being handled when the first output was written.
    const std::string& ResultSource() const { return m_strResultSource; }

private:
    QPointer<CJobPageWidget> m_pPage;
    std::string m_strStarted;
    std::string m_strResultSource;
};

bool CJobPageWidget::RunJob(const std::function<CJobResult(IJobObserver&)>& run,
                            const QString& strDone, const QString& strNothingAdded) {
    const QPointer<CJobPageWidget> guard(this);
    CJobResult result;
    std::string resultSource;
    {
        const CWaitCursor wait;
        CPageObserver observer(this);
        result = run(observer);
        if (!guard) {
            return false;
        }
        resultSource = observer.ResultSource();
    }
    ShowEndProgress(result);
    // After the user closed the window (which stopped the job) only failures are shown.
    const IPageHost* host = Host();
    const bool bClosing = host != nullptr && host->IsClosePending();
    // The page is usable again behind what it shows; while the window closes it stays busy
    // until the user has seen the failures, so that it closes only afterwards.
    if (!bClosing) {
        EndRunning();
    }
    const bool bTargetRefused =
        result.m_end == JobEnd::Failed && result.m_nVisited == 0 && !result.m_failures.empty();
    if (bTargetRefused) {
        const CJobProblem& problem = result.m_failures.front();
        Desktop().ShowMessage(this,
                              tr("无法写入目标 %1，没有处理任何文件。\n%2")
                                  .arg(FromPath(problem.m_strPath), ProblemText(problem)),
                              QMessageBox::Warning);
    } else if (result.m_end == JobEnd::NoFiles) {
        if (!bClosing) {
            Message(NoFilesText(Common().m_source));
        }
    } else if (result.m_end == JobEnd::Refused) {
        if (!bClosing) {
            QStringList lines{RefusalText(result)};
            lines << LeftoverLines(result);
            Message(lines.join(u'\n'));
        }
    } else if (!bClosing || !result.m_failures.empty()) {
        QString headline = strDone;
        if (result.m_end == JobEnd::NothingAdded) {
            headline = strNothingAdded;
        } else if (result.m_end == JobEnd::Failed) {
            headline = tr("处理因错误而中断。");
        }
        CJobSummary summary = CJobSummary::From(result, headline, FromPath(TargetFolder()));
        CompleteSummary(summary, result, resultSource);
        summary.m_notes << LeftoverLines(result);
        ShowJobSummary(Desktop(), this, summary);
    }
    if (!guard) {
        return false;
    }
    ClearProgress();
    EndRunning();
    return true;
}

void CJobPageWidget::CompleteSummary(CJobSummary&, const CJobResult&, const std::string&) {}

void CJobPageWidget::EndRunning() {
    if (m_bRunning) {
        m_bRunning = false;
        m_bStopRequested = false;
        EnableJobControls(true);
        emit BusyChanged(false);
    }
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
            return tr("无法开始：%1").arg(RefusalReasonText(result));
    }
}

QStringList CJobPageWidget::LeftoverLines(const CJobResult& result) {
    QStringList lines;
    if (result.m_leftovers.empty()) {
        return lines;
    }
    lines << tr("已删除上次被中断的任务留下的临时文件：");
    for (const std::string& path : result.m_leftovers) {
        lines << FromPath(path);
    }
    return lines;
}

void CJobPageWidget::JobStarted(int nTotal) {
    m_pProgress->setRange(0, std::max(nTotal, 1));
    m_pProgress->setValue(0);
    m_pProgressText->setText(QStringLiteral("0/%1").arg(nTotal));
    m_timeLeft.Start();
    m_bRunning = true;
    m_bStopRequested = false;
    EnableJobControls(false);
    emit BusyChanged(true);
    // Shown before the first file, however soon the job is over.
    m_pProgress->repaint();
}

void CJobPageWidget::FileStarted(const std::string& path, int nFile, int nTotal) {
    const QString text = FromPath(path);
    m_pStatusPath->setText(text);
    m_pProgress->setValue(std::min(m_pProgress->value() + 1, m_pProgress->maximum()));
    // The averaging job visits files past the 255th: the count stops at N.
    const int nShown = std::min(nFile, nTotal);
    QString progress = QStringLiteral("%1/%2").arg(nShown).arg(nTotal);
    if (const std::optional<std::int64_t> left = m_timeLeft.SecondsLeft(nShown - 1, nTotal)) {
        progress += tr("，剩余约 %1").arg(CTimeLeft::Format(*left));
    }
    m_pProgressText->setText(progress);
    emit JobFileStarted(text, nFile, nTotal);
}

void CJobPageWidget::ShowEndProgress(const CJobResult& result) {
    if (result.m_nTotal <= 0 || result.m_nVisited <= 0) {
        return;
    }
    // A job that ran to its end filled the bar, one stopped or broken off shows how far it got.
    const bool bWhole = result.m_end != JobEnd::Failed && !result.m_bStopped;
    const int nDone = bWhole ? result.m_nTotal : std::min(result.m_nVisited, result.m_nTotal);
    m_pProgress->setRange(0, std::max(result.m_nTotal, 1));
    m_pProgress->setValue(nDone);
    m_pProgressText->setText(QStringLiteral("%1/%2").arg(nDone).arg(result.m_nTotal));
    m_pStatusPath->setText(QString());
    m_pProgress->repaint();
    m_pProgressText->repaint();
}

void CJobPageWidget::ClearProgress() {
    m_pStatusPath->setText(QString());
    m_pProgress->setRange(0, 100);
    m_pProgress->setValue(0);
    m_pProgressText->clear();
}
