#include "jobs/merge_workers.h"

CMergeOrder::CPlace CMergeOrder::Publish(std::size_t index, bool bLoaded, int width, int height) {
    std::unique_lock lock(m_mutex);
    m_files[index] = {bLoaded ? kLoaded : kFailed, width, height, 0};
    for (; m_nPrefix < m_files.size() && m_files[m_nPrefix].m_state != kUnknown; ++m_nPrefix) {
        CFile& file = m_files[m_nPrefix];
        file.m_nLoadedBefore = m_nLoadedCount;
        if (file.m_state == kLoaded && m_nLoadedCount++ == 0) {
            m_nWidth = file.m_nWidth;
            m_nHeight = file.m_nHeight;
            m_nFirstLoaded = m_nPrefix;
        }
    }
    m_changed.notify_all();
    CPlace place;
    if (!bLoaded)
        return place;
    place.m_nReference = m_nFirstLoaded;
    // Up to file N every loaded image enters: fewer than N loaded before it.
    const bool bNeedCount = index >= std::size_t(m_nFiles);
    m_changed.wait(lock, [&] { return m_nLoadedCount > 0 && (!bNeedCount || m_nPrefix > index); });
    place.m_nReference = m_nFirstLoaded;
    place.m_bEnters = !bNeedCount || m_files[index].m_nLoadedBefore < m_nFiles;
    place.m_nWidth = m_nWidth;
    place.m_nHeight = m_nHeight;
    return place;
}

bool CMergeOrder::KnownSize(int& width, int& height) {
    std::lock_guard lock(m_mutex);
    if (m_nLoadedCount == 0)
        return false;
    width = m_nWidth;
    height = m_nHeight;
    return true;
}

CStackFile LeftOut(const std::string& path, const std::string& reason) {
    CStackFile file;
    file.m_strPath = path;
    file.m_strReason = reason;
    return file;
}

CMergeOrder::CPlace PublishRead(CMergeOrder& order, std::size_t index, const CStatus& read,
                                int width, int height, CMergeLoaded& loaded) {
    loaded.m_bLoaded = read.Ok();
    if (!read)
        loaded.m_strWhy = read.Reason();
    const CMergeOrder::CPlace place = order.Publish(index, loaded.m_bLoaded, width, height);
    if (place.m_bEnters) {
        loaded.m_nSumWidth = place.m_nWidth;
        loaded.m_nSumHeight = place.m_nHeight;
    }
    return place;
}
