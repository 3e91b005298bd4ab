#include "jobs/folder_frames.h"

#include "image/frame_image.h"
#include "jobs/parallel_loader.h"

CResult<bool> CFolderFrames::Next(SFrame& frame) {
    if (m_nNext >= m_paths.size())
        return false;
    const std::string& path = m_paths[m_nNext];
    if (CStatus loaded = LoadSourceInto(path, m_image); !loaded)
        return CStatus::Failure(path + ": " + loaded.Reason());
    DibToFrame(m_image, frame);
    frame.timeMs = std::int64_t(m_nNext);
    ++m_nNext;
    return true;
}

CStatus CFolderFrames::Rewind() {
    m_nNext = 0;
    return {};
}
