// A sequence of pictures read one at a time: the frames of a video, or the pictures of a
// folder. The still engine reads its input through this, so it neither knows nor cares
// where the pictures come from.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/status.h"

// One picture of a sequence: packed 24-bit BGR, rows top-down, 3 * width bytes a row.
struct SFrame {
    std::int64_t timeMs = 0;  // presentation time, or the picture's place in its folder
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> bgr;
};

class IFrameSource {
public:
    virtual ~IFrameSource() = default;
    // The next picture into `frame` (its buffer is reused): true, or false at the end.
    virtual CResult<bool> Next(SFrame& frame) = 0;
    // Back to the first picture, so that the sequence can be read again.
    virtual CStatus Rewind() = 0;
};
