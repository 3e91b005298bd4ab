// CDibImage: the one image type. A packed device-independent bitmap (header, colour table for
// 8 or fewer bits per pixel, rows bottom-up padded to 4 bytes, 24-bit pixels as B, G, R) in one
// owned byte block, with width, height, row length and bit count kept beside it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/atomic_file.h"
#include "platform/status.h"

// The packed bitmap. "Locking" it is taking data().
using DibBlock = std::vector<std::uint8_t>;
// Null when the image is empty.
using HDIB = std::unique_ptr<DibBlock>;

inline constexpr std::uint32_t kBiRgb = 0;
inline constexpr std::uint32_t kBiRle8 = 1;
inline constexpr std::uint32_t kBiRle4 = 2;
inline constexpr std::uint32_t kBiBitfields = 3;
inline constexpr std::uint32_t kInfoHeaderSize = 40;
inline constexpr std::uint32_t kCoreHeaderSize = 12;
inline constexpr std::size_t kFileHeaderSize = 14;

// Largest image we agree to hold, in pixels: guards every allocation a file or a caller's size
// could ask for (2^28 pixels is 768 MiB at 24 bits).
inline constexpr std::int64_t kMaxDibPixels = std::int64_t{1} << 28;

// One colour-table entry as the lookup of ConvertTo24 uses it.
struct DibColor {
    std::uint8_t red = 0;
    std::uint8_t green = 0;
    std::uint8_t blue = 0;
};
// The image's lookup table; empty stands for "no palette".
using DibPalette = std::vector<DibColor>;

// Little-endian field access on a block.
std::uint16_t DibRead16(const std::uint8_t* p);
std::uint32_t DibRead32(const std::uint8_t* p);
void DibWrite16(std::uint8_t* p, std::uint16_t v);
void DibWrite32(std::uint8_t* p, std::uint32_t v);

// Free functions on a packed bitmap (pointer to the start of the block).
std::uint8_t* DibPixelData(std::uint8_t* header);
const std::uint8_t* DibPixelData(const std::uint8_t* header);
std::int32_t DibHeaderWidth(const std::uint8_t* header);
std::int32_t DibHeaderHeight(const std::uint8_t* header);
std::uint16_t DibColorCount(const std::uint8_t* header);
std::uint16_t DibColorTableBytes(const std::uint8_t* header);
std::uint16_t DibHeaderBitCount(const std::uint8_t* header);
// Row length in bytes: ((width x bitCount + 31) / 32) x 4.
std::int64_t DibRowBytes(std::int64_t width, int bitCount);

// The colour table as a lookup table (empty when the block has none).
bool DibMakePalette(const DibBlock* block, DibPalette& palette);

// Reads a BMP file (from its "BM" mark) into a block normalised to the forms every other part of
// the program expects: 40-byte or 12-byte header, rows bottom-up, uncompressed, and all bytes
// the header promises present. Only the headers, the colour table and the pixel bytes they
// describe are read (the pixels from where bfOffBits says); run-length and 2-bit files become
// 8-bit indices, masked pixels other than the standard 5-5-5 and 8-8-8 become 24 bits (5-6-5 by
// shifting, other masks scaled to the full 8 bits), 15 bits become 16. Null (with the reason in
// the failure) when the file is not such a BMP, cannot be made one, or does not fit in memory.
CResult<HDIB> BmpFileToDib(std::FILE* file);
// The same into `block`, whose earlier contents and capacity it reuses: the block ends up exactly
// as BmpFileToDib's would be. Fails where that fails; the block then holds anything.
CStatus BmpFileToBlock(std::FILE* file, DibBlock& block);
// Writes the 14-byte file header and the block. Fails for a null block, a header that is not the
// 40-byte form, or a failed write (with the system's reason).
CStatus DibToBmpFile(DibBlock* block, std::FILE* file);

class CDibImage {
public:
    CDibImage() = default;
    ~CDibImage() = default;
    CDibImage(const CDibImage&) = delete;
    CDibImage& operator=(const CDibImage&) = delete;

    // Fails for a size or bit count out of range, or when memory runs out.
    CStatus Create(int width, int height, int bitCount);
    // Fails for a null block.
    CStatus Attach(HDIB block);
    void Free();

    // Fails for a path that is not ".bmp"/".dib" (any case) or cannot be opened (image
    // unchanged), or a file that is not a usable BMP (image empty); the reason says which.
    CStatus LoadBmp(const std::string& path);
    // LoadBmp into the block the image already holds, grown when too small: a loop over files
    // of one size allocates once. Same results, pixels and reasons as LoadBmp.
    CStatus LoadBmpIntoBlock(const std::string& path);
    // Fails when there is no image, the header is not the 40-byte form, or the file cannot be
    // written. The file is written beside its target and renamed into place (CAtomicFile), so a
    // failure never leaves a half-written file; `commit` says how it takes its place.
    CStatus SaveBmp(const std::string& path, const CCommitOptions& commit = {});
    // Fails without an image, or for pixels it cannot widen.
    CStatus ConvertTo24();
    // Fails without a 24-bit image; a size larger than the image's keeps it as it is.
    CStatus CropCentered(int width, int height);

    // Start of the block and of the pixel rows; null when empty.
    std::uint8_t* Bits();
    const std::uint8_t* Bits() const;
    // Picture row y (0 = top) of a non-empty image.
    std::uint8_t* TopRow(int y) { return Bits() + std::ptrdiff_t(m_nHeight - 1 - y) * m_nRowBytes; }

    HDIB m_hDib;
    DibPalette m_hPalette;
    int m_nWidth = 0;
    int m_nHeight = 0;
    int m_nRowBytes = 0;
    int m_nBitCount = 0;
};
