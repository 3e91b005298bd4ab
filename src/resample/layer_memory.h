// The layer's 32-byte-aligned allocation, used for the row buffers of the passes.
#pragma once

#include <cstdint>

// Null for a request of 0 or fewer bytes or when the heap refuses; sets no layer status.
// The block's own address is kept just before the returned address.
void* LayerAlignedAlloc(std::int64_t bytes);
// Frees what LayerAlignedAlloc returned; null is ignored.
void LayerAlignedFree(void* p);
