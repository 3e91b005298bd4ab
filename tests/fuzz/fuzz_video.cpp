// Frame reader over a file in memory: any bytes either give frames of a size within the bounds,
// each with all its pixels, or a failure that names the file; never a crash or a hang.
#include <cstdint>
#include <cstdlib>

#include "video/video_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    CVideoReadOptions options;
    options.m_nThreads = 1;  // the same path every run
    options.m_maxFrames = 30;
    // Odd sizes also seek into the file, so that the seeking and dropping is fuzzed too.
    if (size % 2 == 1)
        options.m_nFromMs = 300;
    auto reader = CVideoReader::OpenMemory(data, size, "fuzz", options);
    if (!reader) {
        if (reader.Reason().rfind("fuzz: ", 0) != 0)
            std::abort();
        return 0;
    }
    SFrame frame;
    for (;;) {
        const CResult<bool> next = (*reader)->Next(frame);
        if (!next) {
            if (next.Reason().rfind("fuzz: ", 0) != 0)
                std::abort();
            break;
        }
        if (!*next)
            break;
        if (frame.width <= 0 || frame.height <= 0 ||
            std::int64_t(frame.width) * frame.height > kMaxVideoPixels ||
            frame.bgr.size() != std::size_t(frame.width) * std::size_t(frame.height) * 3)
            std::abort();
    }
    return 0;
}
