#include "jobs/merge_sums.h"

// Thread sanitizer builds cannot take the indirect functions of target_clones.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__SANITIZE_THREAD__)
#define TARNWICK_SUM_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define TARNWICK_SUM_CLONES
#endif

TARNWICK_SUM_CLONES
void AddBytesToSums(std::uint16_t* __restrict sums, const std::uint8_t* __restrict bytes,
                    std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) sums[i] = std::uint16_t(sums[i] + bytes[i]);
}

TARNWICK_SUM_CLONES
void SubtractBytesFromSums(std::uint16_t* __restrict sums, const std::uint8_t* __restrict bytes,
                           std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) sums[i] = std::uint16_t(sums[i] - bytes[i]);
}

TARNWICK_SUM_CLONES
void AddSumsToSums(std::uint16_t* __restrict into, const std::uint16_t* __restrict from,
                   std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) into[i] = std::uint16_t(into[i] + from[i]);
}
