// The processing pass of a job: a CSrchDir whose per-file operation is one member function of
// the job (AddImage for averaging, ScaleFile for enlarging); false from it ends the scan.
#pragma once

#include <string>

#include "jobs/srch_dir.h"

template <class Job, bool (Job::*PerFile)(const std::string&)>
class CJobScan : public CSrchDir {
public:
    // Scans `folder` for `pattern`, without recursion or excluded folder.
    void Run(Job* pJob, const std::string& folder, const std::string& pattern) {
        m_pJob = pJob;
        Init(pattern, false);
        Search(folder);
    }
    void OnFileFound(const std::string& path, const CFindRecord&) override {
        if (!(m_pJob->*PerFile)(path))
            m_bStop = true;
    }

    Job* m_pJob = nullptr;
};
