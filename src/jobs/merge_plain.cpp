#include "jobs/merge_plain.h"

#include <algorithm>
#include <new>

#include "image/image_file.h"
#include "image/jpeg_file.h"
#include "jobs/merge_sums.h"
#include "jobs/parallel_loader.h"

CMergePlain::CMergePlain(int workers, int nFiles, CMergeOrder& order)
    : m_nFiles(nFiles), m_order(order), m_workers(std::size_t(std::max(1, workers))) {}

CMergeLoaded CMergePlain::LoadAndAdd(const std::string& path, std::size_t index, int worker) {
    CMergeLoaded loaded;
    CWorker& own = m_workers[std::size_t(worker)];
    CDibImage& image = own.m_image;
    if (LoadJpegIntoSums(path, index, own, loaded))
        return loaded;
    const CStatus read = LoadSourceInto(path, image);
    const CMergeOrder::CPlace place =
        PublishRead(m_order, index, read, image.m_nWidth, image.m_nHeight, loaded);
    if (!place.m_bEnters)
        return loaded;
    loaded.m_bOtherSize = image.m_nWidth != place.m_nWidth || image.m_nHeight != place.m_nHeight;
    const std::size_t width = std::size_t(place.m_nWidth);
    if (own.m_sums.empty()) {
        try {
            own.m_sums.assign(width * std::size_t(place.m_nHeight) * 3, 0);
        } catch (const std::bad_alloc&) {
            loaded.m_failureKind = JobProblemKind::NoMemoryForSums;
            loaded.m_strFailure =
                std::to_string(place.m_nWidth) + "x" + std::to_string(place.m_nHeight);
            return loaded;
        }
    }
    // The overlap anchored at the top-left corner.
    const int rows = std::min(place.m_nHeight, image.m_nHeight);
    const int cols = std::min(place.m_nWidth, image.m_nWidth);
    for (int y = 0; y < rows; ++y)
        AddBytesToSums(own.m_sums.data() + std::size_t(y) * width * 3, image.TopRow(y),
                       std::size_t(cols) * 3);
    return loaded;
}

bool CMergePlain::LoadJpegIntoSums(const std::string& path, std::size_t index, CWorker& own,
                                   CMergeLoaded& loaded) {
    // Only a file that enters whenever it loads (one of the first N) and whose sums' size is
    // known already; the others are added whole once they loaded.
    int width = 0, height = 0;
    if (index >= std::size_t(m_nFiles) || !IsJpegPath(path) || !m_order.KnownSize(width, height))
        return false;
    const std::size_t size = std::size_t(width) * std::size_t(height) * 3;
    if (own.m_sums.empty()) {
        try {
            own.m_sums.assign(size, 0);
        } catch (const std::bad_alloc&) {
            return false;  // the whole-picture path says so
        }
    }
    // Each strip of rows goes into the sums just after it was decoded, while it is in the cache,
    // and the whole picture is never made. A read that fails later takes its rows back out: the
    // sums wrap modulo 2^16, so subtracting the same bytes leaves them exactly as they were.
    CDibImage& strip = own.m_strip;
    const auto apply = [&](int top, int count, bool bAdd) {
        const int rows = std::min(top + count, height) - top;
        const std::size_t cols = std::size_t(std::min(width, strip.m_nWidth)) * 3;
        for (int i = 0; i < rows; ++i) {
            std::uint16_t* sums = own.m_sums.data() + std::size_t(top + i) * std::size_t(width) * 3;
            if (bAdd)
                AddBytesToSums(sums, strip.TopRow(i), cols);
            else
                SubtractBytesFromSums(sums, strip.TopRow(i), cols);
        }
    };
    CJpegStripHook hook;
    hook.m_rows = [&](int top, int count) { apply(top, count, true); };
    hook.m_undo = [&](int top, int count) { apply(top, count, false); };
    bool bUndoLost = false;
    hook.m_undoLost = [&] { bUndoLost = true; };
    const CResult<CPictureSize> read = ReadJpegStrips(path, own.m_strip, hook);
    loaded.m_bLoaded = read.Ok();
    if (!read)
        loaded.m_strWhy = read.Reason();
    const int pictureWidth = read ? read->m_nWidth : 0;
    const int pictureHeight = read ? read->m_nHeight : 0;
    const CMergeOrder::CPlace place =
        m_order.Publish(index, loaded.m_bLoaded, pictureWidth, pictureHeight);
    if (bUndoLost)
        loaded.m_strFailure = "not enough memory to take a failed read back out of the sums";
    if (place.m_bEnters) {
        loaded.m_nSumWidth = place.m_nWidth;
        loaded.m_nSumHeight = place.m_nHeight;
        loaded.m_bOtherSize = pictureWidth != width || pictureHeight != height;
    }
    return true;
}

void CMergePlain::MergeSums() {
    m_sums.clear();
    for (CWorker& worker : m_workers) {
        if (worker.m_sums.empty())
            continue;
        if (m_sums.empty())
            m_sums = std::move(worker.m_sums);
        else
            AddSumsToSums(m_sums.data(), worker.m_sums.data(), m_sums.size());
        worker.m_sums = {};
    }
}

bool CMergePlain::BuildAverage(int width, int height, CDibImage& average) {
    MergeSums();
    if (!average.Create(width, height, 24))
        return false;
    // Always divided by N, the capped count, even when fewer images were added: round half up.
    const double n = m_nFiles;
    for (int y = 0; y < height; ++y) {
        std::uint8_t* dst = average.TopRow(y);
        const std::uint16_t* sum = m_sums.data() + std::size_t(y) * std::size_t(width) * 3;
        for (int i = 0; i < width * 3; ++i) {
            const int value = m_nFiles == 1 ? sum[i] : int(sum[i] / n + 0.5);
            dst[i] = std::uint8_t(std::min(value, 255));
        }
    }
    return true;
}
