#include "image/image_file.h"

#include "image/jpeg_file.h"

namespace {

// LoadImageFile; with `reuseBmp`, a BMP goes into the block the image holds.
int LoadImage(const std::string& path, CDibImage& image, std::string* why, bool reuseBmp) {
    const bool bmp = IsBmpPath(path);
    if (!(bmp && reuseBmp))
        image.Free();
    if (bmp) {
        if (!(reuseBmp ? image.LoadBmpIntoBlock(path, why) : image.LoadBmp(path, why))) {
            image.Free();  // as after a plain load: nothing of an earlier file stays
            return 0;
        }
        if (!image.ConvertTo24()) {
            if (why)
                *why = "unsupported: cannot convert " + std::to_string(image.m_nBitCount) +
                       "-bit pixels";
            image.Free();
            return 0;
        }
    } else if (IsJpegPath(path)) {
        int grey = 0;
        // A truncated or damaged JPEG still gives its decoded rows; use them if it has a size.
        std::string reason;
        if (!ReadJpegFile(path, image, grey, true, &reason) && !image.m_hDib) {
            if (why)
                *why = reason;
            return 0;
        }
    } else {
        if (why)
            *why = "unknown file type (expected .bmp, .dib, .jpg or .jpeg)";
        return 0;
    }
    if (!image.m_hDib || image.m_nWidth == 0 || image.m_nHeight == 0) {
        if (why)
            *why = "image has no pixels";
        return 0;
    }
    return 1;
}

}  // namespace

int LoadImageFile(const std::string& path, CDibImage& image, std::string* why) {
    return LoadImage(path, image, why, false);
}

int LoadImageFileReusing(const std::string& path, CDibImage& image, std::string* why) {
    return LoadImage(path, image, why, true);
}

CStatus SaveImageFile(const std::string& path, CDibImage& image, int quality,
                      const CCommitOptions& commit) {
    if (IsBmpPath(path))
        return image.SaveBmp(path, commit);
    return WriteJpegFile(path, image, quality, false, true, commit);
}
