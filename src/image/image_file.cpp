#include "image/image_file.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "image/jpeg_file.h"
#include "image/png_file.h"
#include "platform/atomic_file.h"

namespace {

// LoadImageFile; with `reuseBmp`, a BMP goes into the block the image holds.
CStatus LoadImage(const std::string& path, CDibImage& image, bool reuseBmp) {
    const bool bmp = IsBmpPath(path);
    if (!(bmp && reuseBmp))
        image.Free();
    if (bmp) {
        if (CStatus loaded = reuseBmp ? image.LoadBmpIntoBlock(path) : image.LoadBmp(path);
            !loaded) {
            image.Free();  // as after a plain load: nothing of an earlier file stays
            return loaded;
        }
        if (!image.ConvertTo24()) {
            const int bits = image.m_nBitCount;
            image.Free();
            return CStatus::Failure("unsupported: cannot convert " + std::to_string(bits) +
                                    "-bit pixels");
        }
    } else if (IsJpegPath(path)) {
        int grey = 0;
        // A truncated or damaged JPEG fails like any other: the reader frees what it decoded.
        if (CStatus read = ReadJpegFile(path, image, grey, true); !read && !image.m_hDib)
            return read;
    } else {
        return CStatus::Failure("unknown file type (expected .bmp, .dib, .jpg or .jpeg)");
    }
    if (!image.m_hDib || image.m_nWidth == 0 || image.m_nHeight == 0)
        return CStatus::Failure("image has no pixels");
    return {};
}

}  // namespace

CStatus LoadImageFile(const std::string& path, CDibImage& image) {
    return LoadImage(path, image, false);
}

CStatus LoadImageFileReusing(const std::string& path, CDibImage& image) {
    return LoadImage(path, image, true);
}

CStatus SaveImageFile(const std::string& path, CDibImage& image, int quality,
                      const CCommitOptions& commit) {
    if (IsBmpPath(path))
        return image.SaveBmp(path, commit);
    return WriteJpegFile(path, image, quality, false, true, commit);
}

std::optional<PictureFileType> PictureFileTypeOf(const std::string& path) {
    if (IsBmpPath(path))
        return PictureFileType::Bmp;
    if (IsJpegPath(path))
        return PictureFileType::Jpg;
    if (IsPngPath(path))
        return PictureFileType::Png;
    return std::nullopt;
}

CStatus SavePictureFile(const std::string& path, CDibImage& image, PictureFileType type,
                        int quality, const CCommitOptions& commit) {
    switch (type) {
        case PictureFileType::Png:
            return WritePngFile(path, image, commit);
        case PictureFileType::Jpg:
            return WriteJpegFile(path, image, std::clamp(quality, 1, 100), false, true, commit);
        case PictureFileType::Bmp:
            break;
    }
    return image.SaveBmp(path, commit);
}

namespace {

std::uint32_t LittleEndian(const unsigned char* p, int bytes) {
    std::uint32_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) value = (value << 8) | p[i];
    return value;
}

std::optional<std::pair<int, int>> PeekBmpSize(std::FILE* file) {
    unsigned char header[26];
    if (std::fread(header, 1, sizeof header, file) != sizeof header || header[0] != 'B' ||
        header[1] != 'M')
        return std::nullopt;
    if (LittleEndian(header + 14, 4) == 12)  // the old core header: 16-bit sides
        return std::make_pair(int(LittleEndian(header + 18, 2)), int(LittleEndian(header + 20, 2)));
    const auto width = std::int32_t(LittleEndian(header + 18, 4));
    const auto height = std::int32_t(LittleEndian(header + 22, 4));
    if (width <= 0 || height == INT32_MIN)
        return std::nullopt;
    return std::make_pair(int(width), std::abs(int(height)));
}

std::optional<std::pair<int, int>> PeekJpegSize(std::FILE* file) {
    if (std::fgetc(file) != 0xFF || std::fgetc(file) != 0xD8)
        return std::nullopt;
    // Marker segments up to the first frame header; each says its own length.
    for (int segments = 0; segments < 4096; ++segments) {
        int c = std::fgetc(file);
        if (c != 0xFF)
            return std::nullopt;
        while (c == 0xFF) c = std::fgetc(file);
        if (c == EOF)
            return std::nullopt;
        const int marker = c;
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7))
            continue;  // no length
        unsigned char length[2];
        if (std::fread(length, 1, 2, file) != 2)
            return std::nullopt;
        const int size = (length[0] << 8) | length[1];
        if (size < 2)
            return std::nullopt;
        const bool bFrame =
            marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (bFrame) {
            unsigned char frame[5];
            if (size < 7 || std::fread(frame, 1, 5, file) != 5)
                return std::nullopt;
            return std::make_pair((frame[3] << 8) | frame[4], (frame[1] << 8) | frame[2]);
        }
        if (std::fseek(file, size - 2, SEEK_CUR) != 0)
            return std::nullopt;
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::pair<int, int>> PeekImageSize(const std::string& path) {
    CResult<std::FILE*> opened = OpenRegularFile(path);
    if (!opened)
        return std::nullopt;
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(*opened, &std::fclose);
    if (IsBmpPath(path))
        return PeekBmpSize(file.get());
    if (IsJpegPath(path))
        return PeekJpegSize(file.get());
    return std::nullopt;
}
