// The batch enlarging job without its page: every image of one kind in a folder is enlarged by
// x2 or x3, or brought to exactly 640x480, 800x600 or 1024x768 (filled, then cut in the centre),
// and written under its own name into a target folder, as JPEG for "*.jpg" sources and as BMP
// for "*.bmp" sources.
#pragma once

#include <set>
#include <string>

#include "jobs/job_engine.h"
#include "jobs/parallel_loader.h"
#include "jobs/run_context.h"

// One job, run on the calling thread, which reports every file in scan order, asks about Stop
// before each, writes the outputs and trashes the sources; each file is loaded, resized and
// encoded ahead of it on one of the context's worker threads (CRunContext), whose resizes then
// keep to that thread. Files written stay written when it stops; files under way at a stop are
// dropped, not written. A source goes to the trash (when so set) only after its own output is
// written; an output never replaces a source that is not first in the trash: enlarging into the
// source folder without the trash is refused. The target folder is locked for the job.
class CScaleImageJob : private CJobEngine {
public:
    CScaleImageJob(const CScaleParams& params, IJobObserver& observer,
                   const CRunContext& context = {});
    ~CScaleImageJob();

    CJobResult Run();

private:
    struct CScaled;

    // One file of the processing pass, in scan order; false ends the job (a stop request).
    bool ScaleFile(const std::string& path, CParallelLoader<CScaled>& loader);
    // On a worker: load, resize and encode one file.
    CScaled Scale(const std::string& path, CDibImage& image, bool bOwnThread) const;
    // The output path of `source`: the target folder, the source's name without its extension,
    // and ".bmp" or ".jpg".
    std::string OutputPath(const std::string& source) const;
    // Writes the output over its own source with the source going to the trash first, so both
    // the original (in the trash) and the output survive.
    bool ReplaceSource(const std::string& source, const std::string& output,
                       const std::string& bytes);
    // Writes an output that replaces no source, taking its place as `commit` says.
    bool WriteOutput(const std::string& output, const std::string& bytes,
                     const CCommitOptions& commit);

    CScaleParams m_params;
    CRunContext m_context;
    std::set<std::string> m_sources;  // every source of the job (canonical paths)
    std::set<std::string> m_pending;  // sources not reported yet (canonical paths)
    std::set<std::string> m_outputs;  // outputs written by this job (canonical paths)
};
