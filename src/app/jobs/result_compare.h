// The picture a job's result is compared with in the viewer: for an average made another way,
// the plain mean of the same pictures; for the plain mean, its first picture; for an enlarged
// picture, its source.
#pragma once

#include <QString>

#include <string>
#include <vector>

#include "jobs/job_result.h"

class CDesktop;
class CImageViewer;
class QWidget;
struct CViewerCompare;

struct CResultCompare {
    enum class Kind {
        None,       // nothing to compare with
        Picture,    // the one file in m_paths
        PlainMean,  // the plain mean of the files in m_paths, in their order
    };
    Kind m_kind = Kind::None;
    std::vector<std::string> m_paths;  // where the pictures are now (a trashed one in the trash)
    QString m_strCaption;
};

// Where the source `path` of `result` is now: its place in the trash when the job moved it
// there, otherwise `path`.
std::string SourceNow(const CJobResult& result, const std::string& path);

// The compare of an averaging result: the plain mean of `used` (in scan order) when the method
// was another, else the first of them. None without pictures.
CResultCompare AverageCompare(const CJobResult& result, const std::vector<std::string>& used,
                              bool bPlainMean);
// The compare of an enlarged picture: its source `source`.
CResultCompare EnlargedCompare(const CJobResult& result, const std::string& source);

// Reads or makes the compare picture (a null image when it cannot). The plain mean runs the
// averaging job into a temporary folder that is removed again: call it off the UI thread.
CViewerCompare MakeCompare(const CResultCompare& how);

// Opens the viewer on `path` (OpenImageViewer) and hands it the compare picture once a thread
// of its own has made it; the viewer says meanwhile that it is being made, and stops the thread
// and waits for it when it closes first.
CImageViewer* OpenResultViewer(CDesktop& desktop, const QString& path, const CResultCompare& how,
                               QWidget* parent);
