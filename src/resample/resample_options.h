// How resizes run: which cubic kernel and how many row threads. Every choice gives the same
// bytes; the choices only trade speed, and the scalar reference is there to rule the others out.
// The caller says which in CResampleOptions; the programs take it from their run context
// (jobs/run_context.h: TARNWICK_RESAMPLE, TARNWICK_THREADS, --threads).
#pragma once

#include <optional>
#include <string_view>

enum class ResampleKernel {
    kScalar,    // the reference: one thread, the plain two-pass code
    kBaseline,  // planned tables, plain C++: any processor
    kAvx2,
    kAvx512,  // AVX-512 F, BW, DQ and VL
};

const char* ResampleKernelName(ResampleKernel kernel);
// Known name (lower case, as above) to kernel; nullopt otherwise.
std::optional<ResampleKernel> ParseResampleKernel(std::string_view name);
// True when this processor (and its operating system) can run the kernel.
bool ResampleKernelSupported(ResampleKernel kernel);
// The fastest kernel this processor runs.
ResampleKernel BestResampleKernel();

// How one resize runs. The default is the fastest kernel with row threads by the image's size.
struct CResampleOptions {
    // An unsupported kernel gives way to the best one.
    ResampleKernel m_kernel = BestResampleKernel();
    // Row threads: n >= 1 exactly n (at most one per destination row); 0 by the image's size.
    int m_nThreads = 0;
};

// "N" with 1 <= N <= 1024 to N; nullopt otherwise.
std::optional<int> ParseThreadCount(std::string_view text);

// Threads for a resize writing `rows` rows of `rowBytes` bytes: the options' count, at most one
// per row; with no count set, small images stay on one thread, where starting threads would cost
// more than it saves.
int ResampleThreadsFor(const CResampleOptions& options, int rows, long long rowBytes);
