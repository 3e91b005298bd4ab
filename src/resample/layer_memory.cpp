#include "resample/layer_memory.h"

#include <cstdlib>
#include <cstring>

namespace {
constexpr std::uintptr_t kAlign = 32;
// Room for the stored block address (a whole pointer on this platform) plus the alignment slack.
constexpr std::int64_t kExtra = std::int64_t(kAlign) + std::int64_t(sizeof(void*));
}  // namespace

void* LayerAlignedAlloc(std::int64_t bytes) {
    if (bytes <= 0 || bytes > INT64_MAX - kExtra)
        return nullptr;
    if (std::uint64_t(bytes + kExtra) > SIZE_MAX)
        return nullptr;
    void* block = std::malloc(std::size_t(bytes + kExtra));
    if (!block)
        return nullptr;
    // First aligned address at least one pointer into the block.
    const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(block) + sizeof(void*);
    const std::uintptr_t aligned = (start + kAlign - 1) & ~(kAlign - 1);
    std::memcpy(reinterpret_cast<void*>(aligned - sizeof(void*)), &block, sizeof(void*));
    return reinterpret_cast<void*>(aligned);
}

void LayerAlignedFree(void* p) {
    if (!p)
        return;
    void* block = nullptr;
    std::memcpy(&block, static_cast<char*>(p) - sizeof(void*), sizeof(void*));
    std::free(block);
}
