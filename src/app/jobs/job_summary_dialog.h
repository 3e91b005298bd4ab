// The end of a batch job as the user sees it: one window with the page's end message, what was
// written, skipped, failed and moved to the trash (with counts, the first trashed files named),
// every skipped or failed file with its reason, and buttons that open the result and its folder
// and put the trashed sources back.
#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>

#include <vector>

#include "app/jobs/result_compare.h"
#include "platform/trash.h"

class CDesktop;
class QPushButton;
class QTreeWidget;
struct CJobResult;
struct CJobProblem;

// The reason of a skipped or failed file in the user's language (the engine's English where
// it gives no kind). The loader's and the system's own words are kept after the kind.
QString ProblemText(const CJobProblem& problem);
// Why an engine refused to start, in the user's language (the engine's English where it gives no
// kind). The front end words TargetIsSource and TargetBusy itself; they get the English here.
QString RefusalReasonText(const CJobResult& result);

struct CJobSummary {
    struct CProblem {
        QString m_strPath;
        QString m_strReason;
        bool m_bFailed = false;  // failed; otherwise skipped (left in place)
    };

    QString m_strHeadline;  // the page's end message ("图像平均完毕。")
    QStringList m_notes;    // lines after the counts: stopped, failures
    int m_nWritten = 0;
    int m_nSkipped = 0;
    int m_nFailed = 0;
    int m_nTrashed = 0;
    std::vector<CProblem> m_problems;  // skipped ones first, then the failed, in job order

    // The first kTrashedNamed sources moved to the trash, then "…"; where every one of them
    // went, for "恢复源文件".
    QStringList m_trashedNames;
    std::vector<CTrashedFile> m_trashPlaces;

    QString m_strResult;  // the file "打开结果" opens in the viewer; empty when nothing was written
    CResultCompare m_compare;  // what the viewer compares the result with
    QString m_strFolder;       // the folder "打开文件夹" opens
    bool m_bWarning = false;   // something failed

    // The summary of `result` under `headline`; `folder` is the target folder. Files read but
    // left out of the result (the averaging job's past the 255th) count as skipped.
    static CJobSummary From(const CJobResult& result, const QString& headline,
                            const QString& folder);
    // The lines shown above the details: headline, counts, notes, the trashed files.
    QString Text() const;
};

// What a restore did, in the user's language: the files put back, and each one that was not
// with the reason (at most kTrashedNamed of each, then "…").
QString RestoreText(const std::vector<CRestoredFile>& answers);

class CJobSummaryDialog : public QDialog {
    Q_OBJECT
public:
    // `desktop` opens the result's folder and the viewer's messages; it outlives the dialog.
    CJobSummaryDialog(const CJobSummary& summary, CDesktop& desktop, QWidget* parent = nullptr);

    const CJobSummary& Summary() const { return m_summary; }

    QPushButton* ResultButton() const { return m_pResultButton; }
    QPushButton* FolderButton() const { return m_pFolderButton; }
    // Puts the trashed sources back and says how it went; shown only when the job trashed some,
    // and usable again while some could not be put back.
    QPushButton* RestoreButton() const { return m_pRestoreButton; }
    // The skipped and failed files (file, outcome, reason); hidden when there are none.
    QTreeWidget* Details() const { return m_pDetails; }

private:
    void RestoreSources();

    CJobSummary m_summary;
    CDesktop& m_desktop;
    QPushButton* m_pResultButton;
    QPushButton* m_pFolderButton;
    QPushButton* m_pRestoreButton;
    QTreeWidget* m_pDetails;
    std::vector<CTrashedFile> m_trashPlaces;  // not put back yet
};

// Shows the summary modally over `parent` through `desktop`. Viewers opened from it stay open
// afterwards, as windows of `parent`.
void ShowJobSummary(CDesktop& desktop, QWidget* parent, const CJobSummary& summary);
