#include "platform/cpu_features.h"

namespace {

CCpuFeatures Detect() {
    CCpuFeatures features;
#if defined(__x86_64__) || defined(__i386__)
    // libgcc's checks include the operating system's saving of the vector registers.
    features.m_bAvx2 = __builtin_cpu_supports("avx2");
    features.m_bAvx512Bw = __builtin_cpu_supports("avx512bw");
    features.m_bAvx512 = __builtin_cpu_supports("avx512f") && features.m_bAvx512Bw &&
                         __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512vl");
#endif
    return features;
}

}  // namespace

const CCpuFeatures& CpuFeatures() {
    static const CCpuFeatures features = Detect();
    return features;
}
