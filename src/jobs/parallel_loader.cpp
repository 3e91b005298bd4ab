#include "jobs/parallel_loader.h"

#include "image/dib_image.h"
#include "image/image_file.h"
#include "image/jpeg_file.h"
#include "jobs/srch_dir.h"

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
