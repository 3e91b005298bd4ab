#include "jobs/parallel_loader.h"

#include <atomic>
#include <cstdlib>

#include "image/dib_image.h"
#include "image/image_file.h"
#include "image/jpeg_file.h"
#include "jobs/srch_dir.h"
#include "resample/resample_options.h"

namespace {

// 0: no count set by the program.
std::atomic<int> g_workers{0};

}  // namespace

void SetWorkerThreads(int n) {
    g_workers = std::max(0, n);
    SetResampleThreads(n);
}

int JobWorkerThreads() {
    if (const int set = g_workers; set > 0)
        return set;
    static const int fromEnvironment = [] {
        const char* value = std::getenv("TARNWICK_THREADS");
        const std::optional<int> n = value ? ParseThreadCount(value) : std::nullopt;
        return n.value_or(std::max(1, int(std::thread::hardware_concurrency())));
    }();
    return fromEnvironment;
}

std::vector<std::string> ListMatchingFiles(const std::string& folder, const std::string& pattern) {
    struct CLister : CSrchDir {
        void OnFileFound(const std::string& path, const CFindRecord&) override {
            m_paths.push_back(path);
        }
        std::vector<std::string> m_paths;
    } lister;
    lister.Init(pattern, false);
    lister.Search(folder);
    return std::move(lister.m_paths);
}

CStatus LoadSourceInto(const std::string& path, CDibImage& image) {
    if (!IsJpegPath(path))
        return LoadImageFileReusing(path, image);
    int grey = 0;
    // Only the reader's own answer counts: on a failure the image may still hold the last file.
    if (CStatus read = ReadJpegFile(path, image, grey, true); !read)
        return read;
    if (!image.m_hDib || image.m_nWidth == 0 || image.m_nHeight == 0)
        return CStatus::Failure("image has no pixels");
    return {};
}
