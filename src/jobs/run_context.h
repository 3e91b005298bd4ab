// What one run of a program decides at its start and hands down to the jobs: how many threads,
// which kernels, where the settings file lives. Each program's main makes one
// (RunContextFromEnvironment); the tests make their own.
#pragma once

#include <string>

#include "resample/resample_options.h"

struct CRunContext {
    // Job workers, and row threads of each resize: n >= 1 exactly n; 0 one worker a hardware
    // thread, and row threads by the image's size.
    int m_nThreads = 0;
    // The resize kernel; the scalar reference also keeps the stacker to its plain loops.
    ResampleKernel m_kernel = BestResampleKernel();
    // The job pages' settings file.
    std::string m_strSettingsFile;

    // The job workers (at least 1).
    int Workers() const;
    // The options of a resize on the driving thread, or (`bOwnThread`) of one that a worker
    // makes beside others, which keeps to that worker.
    CResampleOptions Resample(bool bOwnThread = false) const;
    // False keeps the stacker's registration and warp to their plain loops.
    bool StackVectors() const { return m_kernel != ResampleKernel::kScalar; }
};

// The context the environment asks for: TARNWICK_THREADS=N (1 to 1024) and, over it, `threads`
// when above 0; TARNWICK_RESAMPLE=scalar|baseline|avx2|avx512 (a name this processor cannot run,
// or an unknown one, leaves the best kernel); the settings file for `programPath` (IniPathFor,
// settings_file.h), none for an empty path.
CRunContext RunContextFromEnvironment(int threads, const std::string& programPath);
