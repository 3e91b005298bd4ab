#include "resample/resample_options.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cstdlib>
#include <thread>

namespace {

constexpr ResampleKernel kAllKernels[] = {ResampleKernel::kScalar, ResampleKernel::kBaseline,
                                          ResampleKernel::kAvx2, ResampleKernel::kAvx512};

// -1: no kernel set by the program.
std::atomic<int> g_kernel{-1};
// 0: no thread count set by the program.
std::atomic<int> g_threads{0};
// 0: no count set for the calling thread.
thread_local int t_threads = 0;

// The environment's kernel, checked against the processor once.
std::optional<ResampleKernel> EnvironmentKernel() {
    static const std::optional<ResampleKernel> kernel = []() -> std::optional<ResampleKernel> {
        const char* value = std::getenv("TARNWICK_RESAMPLE");
        if (!value)
            return std::nullopt;
        const std::optional<ResampleKernel> parsed = ParseResampleKernel(value);
        if (!parsed || !ResampleKernelSupported(*parsed))
            return std::nullopt;
        return parsed;
    }();
    return kernel;
}

std::optional<int> EnvironmentThreads() {
    static const std::optional<int> threads = []() -> std::optional<int> {
        const char* value = std::getenv("TARNWICK_THREADS");
        return value ? ParseThreadCount(value) : std::nullopt;
    }();
    return threads;
}

int HardwareThreads() {
    return std::max(1, int(std::thread::hardware_concurrency()));
}

}  // namespace

const char* ResampleKernelName(ResampleKernel kernel) {
    switch (kernel) {
        case ResampleKernel::kScalar:
            return "scalar";
        case ResampleKernel::kBaseline:
            return "baseline";
        case ResampleKernel::kAvx2:
            return "avx2";
        case ResampleKernel::kAvx512:
            return "avx512";
    }
    return "?";
}

std::optional<ResampleKernel> ParseResampleKernel(std::string_view name) {
    for (const ResampleKernel kernel : kAllKernels) {
        if (name == ResampleKernelName(kernel))
            return kernel;
    }
    return std::nullopt;
}

bool ResampleKernelSupported(ResampleKernel kernel) {
    switch (kernel) {
        case ResampleKernel::kScalar:
        case ResampleKernel::kBaseline:
            return true;
#if defined(__x86_64__) || defined(__i386__)
        // libgcc's checks include the operating system's saving of the vector registers.
        case ResampleKernel::kAvx2:
            return __builtin_cpu_supports("avx2");
        case ResampleKernel::kAvx512:
            return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                   __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512vl");
#else
        case ResampleKernel::kAvx2:
        case ResampleKernel::kAvx512:
            return false;
#endif
    }
    return false;
}

ResampleKernel BestResampleKernel() {
    static const ResampleKernel best = [] {
        for (const ResampleKernel kernel : {ResampleKernel::kAvx512, ResampleKernel::kAvx2}) {
            if (ResampleKernelSupported(kernel))
                return kernel;
        }
        return ResampleKernel::kBaseline;
    }();
    return best;
}

void SetResampleKernel(std::optional<ResampleKernel> kernel) {
    if (kernel && !ResampleKernelSupported(*kernel))
        return;
    g_kernel = kernel ? int(*kernel) : -1;
}

ResampleKernel ActiveResampleKernel() {
    const int set = g_kernel;
    if (set >= 0)
        return ResampleKernel(set);
    return EnvironmentKernel().value_or(BestResampleKernel());
}

void SetResampleThreads(int n) {
    g_threads = std::max(0, n);
}

CThreadResampleThreads::CThreadResampleThreads(int n) : m_nPrevious(t_threads) {
    if (n > 0)
        t_threads = n;
}

CThreadResampleThreads::~CThreadResampleThreads() {
    t_threads = m_nPrevious;
}

std::optional<int> ParseThreadCount(std::string_view text) {
    int n = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, n);
    if (ec != std::errc() || ptr != end || n < 1 || n > 1024)
        return std::nullopt;
    return n;
}

int ResampleThreadsFor(int rows, long long rowBytes) {
    int threads = t_threads > 0 ? t_threads : g_threads.load();
    if (threads <= 0)
        threads = EnvironmentThreads().value_or(0);
    if (threads <= 0) {
        // Below about a quarter of a megabyte of output a thread is not worth starting.
        constexpr long long kBytesPerThread = 1 << 18;
        const long long bytes = std::max(1LL, rows * std::max(1LL, rowBytes));
        threads = int(std::min<long long>(HardwareThreads(), 1 + (bytes - 1) / kBytesPerThread));
    }
    return std::clamp(threads, 1, std::max(1, rows));
}
