// Helpers shared by the job tests: small text files and BMP images made at set-up.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "common/temp_dir.h"
#include "image/dib_image.h"
#include "image/image_file.h"
#include "jobs/job_observer.h"
#include "jobs/job_params.h"
#include "jobs/job_result.h"
#include "jobs/parallel_loader.h"
#include "jobs/run_context.h"

namespace jobs_test {

namespace fs = std::filesystem;

inline std::string Str(const TempDir& dir) {
    return dir.Path().string();
}

inline void WriteText(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

inline std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Value of channel k (0 blue, 1 green, 2 red) of the pixel in column x, row y from the top.
using PixelFn = std::function<std::uint8_t(int x, int y, int k)>;

// Writes a 24-bit BMP of width x height whose pixels come from `fn`.
inline void WriteBmp(const fs::path& path, int width, int height, const PixelFn& fn) {
    CDibImage image;
    ASSERT_TRUE(image.Create(width, height, 24));
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = image.TopRow(y);
        for (int x = 0; x < width; ++x)
            for (int k = 0; k < 3; ++k) row[3 * x + k] = fn(x, y, k);
    }
    fs::create_directories(path.parent_path());
    {
        const CStatus saved = image.SaveBmp(path.string());
        ASSERT_TRUE(saved) << saved.Reason();
    }
}

inline void WriteFlatBmp(const fs::path& path, int width, int height, std::uint8_t value) {
    WriteBmp(path, width, height, [value](int, int, int) { return value; });
}

// The trash folder of the tests (a private XDG_DATA_HOME) and whether a file with the name of
// `path` went there.
fs::path TrashFiles();
bool InTrash(const std::string& path);

// Reads an image file; fails the test when it cannot.
inline void LoadOrFail(const fs::path& path, CDibImage& image) {
    const CStatus status = LoadImageFile(path.string(), image);
    ASSERT_TRUE(status) << path << ": " << status.Reason();
}

// The first bytes of a file say its kind: "BM" or the JPEG start marker.
inline bool LooksLikeBmp(const fs::path& path) {
    return ReadText(path).rfind("BM", 0) == 0;
}
inline bool LooksLikeJpeg(const fs::path& path) {
    return ReadText(path).rfind("\xff\xd8", 0) == 0;
}

// The order in which a scan reports the files of `folder` matching `pattern`.
inline std::vector<std::string> ScanOrder(const std::string& folder, const std::string& pattern) {
    return ListMatchingFiles(folder, pattern);
}

// Replaces the contents of an existing file in place (same directory entry, so the scan order of
// its folder does not change) with a BMP of width x height from `fn`.
inline void FillInPlace(const fs::path& path, int width, int height, const PixelFn& fn) {
    const fs::path staging = path.string() + ".staging.bmp";
    WriteBmp(staging, width, height, fn);
    const std::string bytes = ReadText(staging);
    fs::remove(staging);
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// Observer that records every event and asks to stop when file number m_nStopAt comes.
class CTestObserver : public IJobObserver {
public:
    void OnEvent(const CJobEvent& event) override {
        m_events.push_back(event);
        if (const auto* file = std::get_if<CFileStarted>(&event)) {
            m_files.push_back(file->m_strPath);
            m_nTotal = file->m_nTotal;
            if (m_onFile)
                m_onFile(file->m_strPath);
        }
    }
    bool StopRequested() override { return m_nStopAt && int(m_files.size()) >= m_nStopAt; }
    int ResultQuality(int nQuality) override {
        return m_nResultQuality ? m_nResultQuality : nQuality;
    }

    // The events of type E, in order.
    template <class E>
    std::vector<E> Events() const {
        std::vector<E> events;
        for (const CJobEvent& event : m_events)
            if (const E* e = std::get_if<E>(&event))
                events.push_back(*e);
        return events;
    }

    std::vector<CJobEvent> m_events;
    std::vector<std::string> m_files;  // paths of the CFileStarted events
    std::function<void(const std::string&)> m_onFile;
    int m_nTotal = 0;  // N of the last CFileStarted
    int m_nStopAt = 0;
    int m_nResultQuality = 0;
};

// Runs one job of type Job (CMergeImageJob or CScaleImageJob) with `observer`.
template <class Job, class Params>
CJobResult RunJob(const Params& params, CTestObserver& observer, const CRunContext& context = {}) {
    Job job(params, observer, context);
    return job.Run();
}
template <class Job, class Params>
CJobResult RunJob(const Params& params, const CRunContext& context = {}) {
    CTestObserver observer;
    return RunJob<Job>(params, observer, context);
}

}  // namespace jobs_test
