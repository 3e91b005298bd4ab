#include "jobs/run_context.h"

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <thread>

#include "jobs/settings_file.h"

int CRunContext::Workers() const {
    return m_nThreads > 0 ? m_nThreads : std::max(1, int(std::thread::hardware_concurrency()));
}

CResampleOptions CRunContext::Resample(bool bOwnThread) const {
    CResampleOptions options;
    options.m_kernel = m_kernel;
    options.m_nThreads = bOwnThread ? 1 : m_nThreads;
    return options;
}

CRunContext RunContextFromEnvironment(int threads, const std::string& programPath) {
    CRunContext context;
    if (threads > 0) {
        context.m_nThreads = threads;
    } else if (const char* value = std::getenv("TARNWICK_THREADS")) {
        context.m_nThreads = ParseThreadCount(value).value_or(0);
    }
    if (const char* value = std::getenv("TARNWICK_RESAMPLE")) {
        const std::optional<ResampleKernel> kernel = ParseResampleKernel(value);
        if (kernel && ResampleKernelSupported(*kernel))
            context.m_kernel = *kernel;
    }
    if (!programPath.empty())
        context.m_strSettingsFile = IniPathFor(programPath);
    return context;
}
