#include "resample/resample_options.h"

#include <algorithm>
#include <charconv>
#include <thread>

#include "platform/cpu_features.h"

namespace {

constexpr ResampleKernel kAllKernels[] = {ResampleKernel::kScalar, ResampleKernel::kBaseline,
                                          ResampleKernel::kAvx2, ResampleKernel::kAvx512};

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
        case ResampleKernel::kAvx2:
            return CpuFeatures().m_bAvx2;
        case ResampleKernel::kAvx512:
            return CpuFeatures().m_bAvx512;
    }
    return false;
}

ResampleKernel BestResampleKernel() {
    for (const ResampleKernel kernel : {ResampleKernel::kAvx512, ResampleKernel::kAvx2}) {
        if (ResampleKernelSupported(kernel))
            return kernel;
    }
    return ResampleKernel::kBaseline;
}

std::optional<int> ParseThreadCount(std::string_view text) {
    int n = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, n);
    if (ec != std::errc() || ptr != end || n < 1 || n > 1024)
        return std::nullopt;
    return n;
}

int ResampleThreadsFor(const CResampleOptions& options, int rows, long long rowBytes) {
    int threads = options.m_nThreads;
    if (threads <= 0) {
        // Below about a quarter of a megabyte of output a thread is not worth starting.
        constexpr long long kBytesPerThread = 1 << 18;
        const long long bytes = std::max(1LL, rows * std::max(1LL, rowBytes));
        threads = int(std::min<long long>(HardwareThreads(), 1 + (bytes - 1) / kBytesPerThread));
    }
    return std::clamp(threads, 1, std::max(1, rows));
}
