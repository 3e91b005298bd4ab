// How resizes run: which cubic kernel and how many row threads. Every choice gives the same
// bytes; the choices only trade speed, and the scalar reference is there to rule the others out.
//
// Environment, read once per process:
//   TARNWICK_RESAMPLE=scalar|baseline|avx2|avx512  forces a kernel; a name the processor cannot
//                                                   run, or an unknown one, is ignored.
//   TARNWICK_THREADS=N                              row threads per resize (N >= 1).
// SetResampleKernel and SetResampleThreads override the environment.
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

// nullopt returns to the environment's choice, else the best. An unsupported kernel is ignored.
void SetResampleKernel(std::optional<ResampleKernel> kernel);
// The kernel the next resize uses.
ResampleKernel ActiveResampleKernel();

// Row threads for each resize: n >= 1 exactly n (at most one per destination row), 0 returns to
// TARNWICK_THREADS, else the number of hardware threads.
void SetResampleThreads(int n);
// Row threads for the resizes made on the calling thread while it lives (n >= 1), over the
// count above; 0 changes nothing. A job that resizes several files at once on its own workers
// keeps each file's resize on its worker this way.
class CThreadResampleThreads {
public:
    explicit CThreadResampleThreads(int n);
    ~CThreadResampleThreads();
    CThreadResampleThreads(const CThreadResampleThreads&) = delete;
    CThreadResampleThreads& operator=(const CThreadResampleThreads&) = delete;

private:
    int m_nPrevious;
};

// "N" with 1 <= N <= 1024 to N; nullopt otherwise.
std::optional<int> ParseThreadCount(std::string_view text);

// Threads for a resize writing `rows` rows of `rowBytes` bytes: the count set above, at most one
// per row; with no count set, small images stay on one thread, where starting threads would cost
// more than it saves.
int ResampleThreadsFor(int rows, long long rowBytes);
