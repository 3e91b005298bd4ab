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

bool LoadSourceInto(const std::string& path, CDibImage& image, std::string* why) {
    if (!IsJpegPath(path))
        return LoadImageFileReusing(path, image, why) != 0;
    int grey = 0;
    // Only the reader's own answer counts: on a failure the image may still hold the last file.
    if (!ReadJpegFile(path, image, grey, true, why))
        return false;
    if (!image.m_hDib || image.m_nWidth == 0 || image.m_nHeight == 0) {
        if (why)
            *why = "image has no pixels";
        return false;
    }
    return true;
}
