#include "jobs/run_context.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "jobs/settings_file.h"

namespace {

// Sets or unsets one environment variable for a scope.
class CEnvironment {
public:
    CEnvironment(const char* name, const char* value) : m_pszName(name) {
        if (const char* old = std::getenv(name))
            m_old = old;
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~CEnvironment() {
        if (m_old)
            setenv(m_pszName, m_old->c_str(), 1);
        else
            unsetenv(m_pszName);
    }
    CEnvironment(const CEnvironment&) = delete;
    CEnvironment& operator=(const CEnvironment&) = delete;

private:
    const char* m_pszName;
    std::optional<std::string> m_old;
};

}  // namespace

// --threads over TARNWICK_THREADS over the machine; a count out of range or not a number is no
// count at all.
TEST(RunContext, ThreadsFromTheOptionAndTheEnvironment) {
    struct Case {
        const char* env;  // TARNWICK_THREADS, null for unset
        int option;       // --threads, 0 for none
        int threads;      // the context's count
    };
    const Case kCases[] = {
        {nullptr, 0, 0}, {nullptr, 5, 5}, {"3", 0, 3},  {"3", 7, 7}, {"1024", 0, 1024},
        {"0", 0, 0},     {"1025", 0, 0},  {"2x", 0, 0}, {"", 0, 0},  {"-4", 2, 2},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(::testing::Message() << (c.env ? c.env : "unset") << ", option " << c.option);
        CEnvironment env("TARNWICK_THREADS", c.env);
        const CRunContext context = RunContextFromEnvironment(c.option, {});
        EXPECT_EQ(context.m_nThreads, c.threads);
        EXPECT_GE(context.Workers(), 1);
        if (c.threads > 0) {
            EXPECT_EQ(context.Workers(), c.threads);
        }
        // A worker's own resize keeps to it; the driving thread's resize takes the count.
        EXPECT_EQ(context.Resample(true).m_nThreads, 1);
        EXPECT_EQ(context.Resample().m_nThreads, c.threads);
    }
}

// TARNWICK_RESAMPLE names a kernel; an unknown name leaves the best one. The scalar reference
// also keeps the stacker to its plain loops.
TEST(RunContext, KernelFromTheEnvironment) {
    struct Case {
        const char* env;
        std::optional<ResampleKernel> kernel;  // nullopt: the best one
        bool bStackVectors;
    };
    const Case kCases[] = {
        {nullptr, std::nullopt, true},
        {"scalar", ResampleKernel::kScalar, false},
        {"baseline", ResampleKernel::kBaseline, true},
        {"Scalar", std::nullopt, true},
        {"fast", std::nullopt, true},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.env ? c.env : "unset");
        CEnvironment env("TARNWICK_RESAMPLE", c.env);
        const CRunContext context = RunContextFromEnvironment(0, {});
        EXPECT_EQ(context.m_kernel, c.kernel.value_or(BestResampleKernel()));
        EXPECT_EQ(context.Resample().m_kernel, context.m_kernel);
        EXPECT_EQ(context.StackVectors(), c.bStackVectors);
    }
    // A kernel this processor cannot run is ignored.
    for (const ResampleKernel kernel : {ResampleKernel::kAvx2, ResampleKernel::kAvx512}) {
        SCOPED_TRACE(ResampleKernelName(kernel));
        CEnvironment env("TARNWICK_RESAMPLE", ResampleKernelName(kernel));
        EXPECT_EQ(RunContextFromEnvironment(0, {}).m_kernel,
                  ResampleKernelSupported(kernel) ? kernel : BestResampleKernel());
    }
}

// The settings file follows the program's path; no path, no file.
TEST(RunContext, SettingsFileBesideTheProgram) {
    EXPECT_TRUE(RunContextFromEnvironment(0, {}).m_strSettingsFile.empty());
    EXPECT_EQ(RunContextFromEnvironment(0, "/nonexistent/bin/tarnwick").m_strSettingsFile,
              IniPathFor("/nonexistent/bin/tarnwick"));
}
