// The batch enlarging job without its page: every image of one kind in a folder is enlarged by
// x2 or x3, or brought to exactly 640x480, 800x600 or 1024x768 (filled, then cut in the centre),
// and written under its own name into a target folder, as JPEG for "*.jpg" sources and as BMP
// for "*.bmp" sources.
#pragma once

#include <set>
#include <string>

#include "jobs/job_engine.h"
#include "jobs/job_scan.h"

// One job, run once on the calling thread. Files written stay written when it stops. A source
// goes to the trash (when so set) only after its own output is written; an output never
// replaces a source that is not first in the trash: enlarging into the source folder without
// the trash is refused. The target folder is locked for the job.
class CScaleImageJob : private CJobEngine {
public:
    CScaleImageJob(const CScaleParams& params, IJobObserver& observer);

    CJobResult Run();

    // One file of the processing pass; false ends the scan (a stop request).
    bool ScaleFile(const std::string& path);

private:
    // The output path of `source`: the target folder, the source's name without its extension,
    // and ".bmp" or ".jpg".
    std::string OutputPath(const std::string& source) const;
    // Writes the output over its own source with the source going to the trash first, so both
    // the original (in the trash) and the output survive.
    bool ReplaceSource(const std::string& source, const std::string& output, CDibImage& image);
    // Writes an output that replaces no source, taking its place as `commit` says.
    bool WriteNew(const std::string& output, CDibImage& image, const CCommitOptions& commit);

    CScaleParams m_params;
    std::set<std::string> m_sources;  // every source of the job (canonical paths)
    std::set<std::string> m_pending;  // sources not read yet (canonical paths)
    std::set<std::string> m_outputs;  // outputs written by this job (canonical paths)
};

// Drives CScaleImageJob::ScaleFile over a folder.
using CScaleScan = CJobScan<CScaleImageJob, &CScaleImageJob::ScaleFile>;
