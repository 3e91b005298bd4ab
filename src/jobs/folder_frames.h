// The pictures of a folder as a frame source: each file of a list in its order, loaded by its
// extension, with its place in the list (0, 1, ...) as its time. What the still engine reads
// when it merges a folder of grabs instead of a video.
#pragma once

#include <string>
#include <vector>

#include "image/dib_image.h"
#include "image/frame_source.h"

class CFolderFrames : public IFrameSource {
public:
    explicit CFolderFrames(std::vector<std::string> paths) : m_paths(std::move(paths)) {}

    // The next picture; a picture that cannot be loaded fails the read with its path and the
    // reason.
    CResult<bool> Next(SFrame& frame) override;
    CStatus Rewind() override;

private:
    std::vector<std::string> m_paths;
    std::size_t m_nNext = 0;
    CDibImage m_image;  // reused from picture to picture
};
