// What the two job pages (averaging, enlarging) share: the source controls, the JPEG quality,
// the "processing" line and progress bar, the Start/Stop button, the settings buttons, and
// running a job engine on the UI thread with the window kept alive between files.
#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/widgets/fontable_page.h"
#include "app/widgets/remembered_folders.h"
#include "app/widgets/time_left.h"
#include "jobs/job_params.h"
#include "jobs/job_result.h"
#include "jobs/run_context.h"
#include "jobs/settings_file.h"

class CPathLabel;
struct CJobSummary;
class IJobObserver;
class QCheckBox;
class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QSpinBox;

// Core paths are the bytes the kernel takes; the widgets show them as text.
std::string ToPath(const QString& text);
QString FromPath(const std::string& path);

class CJobPageWidget : public CFontablePage {
    Q_OBJECT
public:
    // `context`: the program's threads, kernels and settings file, which the jobs run in;
    // `desktop`: its message boxes and remembered folders.
    CJobPageWidget(int nIDTemplate, CDesktop& desktop, const CRunContext& context,
                   QWidget* parent = nullptr);

    const CRunContext& RunContext() const { return m_context; }
    // A test moves the page to another settings file this way.
    void SetRunContext(const CRunContext& context) { m_context = context; }

    bool IsBusy() const override { return m_bRunning; }
    void RequestStop() override { m_bStopRequested = true; }
    bool IsStopRequested() const { return m_bStopRequested; }

    // Control values into the parameters, and parameters into the controls.
    virtual void TakeControlValues();
    virtual void RefreshControls();

    // During a job (bEnable false) only the Start button, now "停止", stays usable, besides the
    // texts, path fields and progress bar, which are never touched here; then the quality
    // controls follow the source type.
    void EnableJobControls(bool bEnable);
    // The quality controls are usable whenever the page writes JPEG files (OutputIsJpeg); also
    // during a job.
    void UpdateQualityControls();

    // A folder (or, on the averaging page, a file) given to the source or target field, as the
    // Select buttons and a drop give it: shown, remembered, and the hints brought up to date.
    void SetSourceFolder(const QString& folder);
    virtual void SetTargetPath(const QString& path);

    QPushButton* StartButton() const { return m_pStartButton; }
    QPushButton* SourceSelectButton() const { return m_pSrcSelectButton; }
    QPushButton* SourceViewButton() const { return m_pSrcViewButton; }
    QPushButton* TargetSelectButton() const { return m_pTgtSelectButton; }
    QPushButton* TargetViewButton() const { return m_pTgtViewButton; }
    CPathLabel* SourcePath() const { return m_pSrcPath; }
    CPathLabel* TargetPath() const { return m_pTgtPath; }
    CPathLabel* StatusPath() const { return m_pStatusPath; }
    // "12/30，剩余约 0:42" during a job, empty otherwise.
    QLabel* ProgressText() const { return m_pProgressText; }
    // How many files of each source type the source folder holds ("30 个 JPG，0 个 BMP").
    QLabel* SourceCounts() const { return m_pSourceCounts; }
    QComboBox* SourceTypeList() const { return m_pSrcTypeList; }
    QCheckBox* DeleteSourcesCheck() const { return m_pDelSrcCheck; }
    QLabel* QualityLabel() const { return m_pQualityLabel; }
    QSpinBox* QualitySpin() const { return m_pQualitySpin; }
    QProgressBar* Progress() const { return m_pProgress; }
    QPushButton* SaveButton() const { return m_pSaveButton; }
    QPushButton* LoadButton() const { return m_pLoadButton; }
    QPushButton* ResetButton() const { return m_pResetButton; }

    // Why the engine refused to start, as the page says it: an output that would replace a kept
    // source, a target folder another job writes into; otherwise its reason (RefusalReasonText).
    static QString RefusalText(const CJobResult& result);

    // The clock the time left is measured on (milliseconds); a test moves its own.
    void SetClock(CTimeLeft::Clock clock) { m_timeLeft = CTimeLeft(std::move(clock)); }

signals:
    // A file of the running job is shown and about to be handled (before it is loaded).
    void JobFileStarted(const QString& path, int nFile, int nTotal);

protected:
    void showEvent(QShowEvent* event) override;

    virtual void OnStart() = 0;
    virtual void OnSelectTarget() = 0;
    virtual void OnViewTarget() = 0;
    // The page's parameters: the part both jobs have, and the target (file or folder).
    virtual CJobParams& Common() = 0;
    virtual std::string& Target() = 0;
    // The folder the job writes into.
    virtual std::string TargetFolder() = 0;
    // True when the job writes JPEG files: for "*.jpg" sources here.
    virtual bool OutputIsJpeg();
    // The text of the Start button's hint when the target is missing.
    virtual QString MissingTargetHint() const = 0;
    // The page's section of the settings file: write, read (after the defaults), defaults. A
    // read that fails leaves the fields as they were.
    virtual CStatus SaveToFile() = 0;
    virtual CStatus LoadFromFile() = 0;
    virtual void ResetFields() = 0;

    // Restores the fields from the remembered folders under `source` and `target`, and keeps
    // remembering them there. Called once by each page after its controls are made.
    void RememberFolders(CRememberedFolders::Folder source, CRememberedFolders::Folder target);
    // Brings the hints (source counts, quality controls, tooltips) up to date with the fields.
    void UpdateHints();

    // Start steps shared by both pages: a running job is asked to stop; otherwise the
    // parameters are taken and checked, and a message names what is missing (`strNoTarget` for
    // the target). True when the job may start.
    bool PrepareStart(const QString& strNoTarget);
    // The folder dialog of the Select buttons, starting in `folder`; true after OK, with the
    // chosen folder in `folder`.
    bool SelectFolder(std::string& folder);

    // Runs one job, which counts its sources itself: wait cursor; once it has files to work on,
    // progress from 0 to their number with the time left, controls locked, messages pumped
    // between files. Then the progress goes back to empty and the end is shown: "no files" or
    // an unwritable target as a message; otherwise the summary (CJobSummary) under `strDone`,
    // `strNothingAdded` when nothing could be added, or a failure line when the job broke off.
    // After the window was closed only a summary with failures is shown. Returns false when the
    // page was destroyed during the job; the caller must then return at once without touching
    // the page.
    bool RunJob(const std::function<CJobResult(IJobObserver&)>& run, const QString& strDone,
                const QString& strNothingAdded = {});

    // "抱歉，在指定的源目录下没有所需的文件。", with the type looked for when there is one.
    static QString NoFilesText(std::optional<SourceKind> kind = std::nullopt);
    // The temporary files of a killed earlier run that the job removed, one line each after a
    // heading; empty when there were none.
    static QStringList LeftoverLines(const CJobResult& result);
    // Shows a message with the program title.
    void Message(const QString& text);

    // Adds what the page knows of the finished job to its summary (the viewer's compare
    // picture, lines of its own); `resultSource` is the source being handled when the first
    // output was written (empty when none was). By default nothing.
    virtual void CompleteSummary(CJobSummary& summary, const CJobResult& result,
                                 const std::string& resultSource);

    // Lays out the source group box ("源文件") above `targetGroup`, then the processing line,
    // the progress bar and the button row.
    void LayOutPage(QWidget* targetGroup);

private:
    CRunContext m_context;  // before the controls: the constructor sets it first

protected:
    QPushButton* m_pStartButton;
    QPushButton* m_pSrcSelectButton;
    QPushButton* m_pSrcViewButton;
    CPathLabel* m_pSrcPath;
    QComboBox* m_pSrcTypeList;
    QCheckBox* m_pDelSrcCheck;
    QPushButton* m_pTgtSelectButton;
    QPushButton* m_pTgtViewButton;
    CPathLabel* m_pTgtPath;
    QLabel* m_pQualityLabel;
    QSpinBox* m_pQualitySpin;
    CPathLabel* m_pStatusPath;
    QProgressBar* m_pProgress;
    QLabel* m_pProgressText;
    QLabel* m_pSourceCounts;
    QPushButton* m_pSaveButton;
    QPushButton* m_pLoadButton;
    QPushButton* m_pResetButton;

private:
    class CPageObserver;

    void OnSelectSource();
    void OnViewSource();
    void OnSaveSettings();
    void OnLoadSettings();
    void OnResetSettings();
    // The job found files to work on: progress range, controls locked.
    void JobStarted(int nTotal);
    // File `nFile` of `nTotal` starts: progress, and the time left from the files done.
    void FileStarted(const std::string& path, int nFile, int nTotal);
    // The progress bar and its text at the end of the job: as far as it got, painted at once,
    // so that even a job over before the first repaint shows where it ended.
    void ShowEndProgress(const CJobResult& result);
    // The processing line, the progress bar and its text back to empty.
    void ClearProgress();
    // The job is over: controls unlocked, BusyChanged(false).
    void EndRunning();
    void RememberFields();
    // The job chose its target (the averaging job's numbered name): shown at once.
    void TargetChosen(const std::string& path);

    bool m_bRunning = false;
    bool m_bStopRequested = false;
    CTimeLeft m_timeLeft;
    CRememberedFolders::Folder m_sourceKey = CRememberedFolders::MergeSource;
    CRememberedFolders::Folder m_targetKey = CRememberedFolders::MergeTarget;
    bool m_bRemembering = false;
};

// A job page over the parameter struct P of its engine, whose target is the field P::*Target:
// the page's values are one P, exchanged with the controls, and saved, loaded and reset as P's
// section of the settings file.
template <class P, std::string P::*TargetField>
class CJobPage : public CJobPageWidget {
public:
    using CJobPageWidget::CJobPageWidget;

    const P& Params() const { return m_params; }
    void SetParams(const P& params) { m_params = params; }

protected:
    CJobParams& Common() override { return m_params; }
    std::string& Target() override { return m_params.*TargetField; }
    CStatus SaveToFile() override { return SaveSettings(m_params, RunContext().m_strSettingsFile); }
    CStatus LoadFromFile() override {
        P loaded;
        CStatus read = LoadSettings(loaded, RunContext().m_strSettingsFile);
        if (read)
            m_params = loaded;
        return read;
    }
    void ResetFields() override { ResetSettings(m_params); }

    P m_params;
};
