// ImageHeader: the resampling layer's description of an image, laid over a DIB's own pixel rows.
// Only the path the program uses is built: 8-bit samples, 3 interleaved channels B, G, R,
// rows padded to 4 bytes, no region of interest, mask or tiles.
#pragma once

#include <cstdint>

class CLayerStatus;

inline constexpr int IPL_DEPTH_1U = 1;
inline constexpr int IPL_DEPTH_8U = 8;
inline constexpr int IPL_DEPTH_16U = 16;
inline constexpr int IPL_DEPTH_32F = 32;

inline constexpr int kDataOrderPixel = 0;
inline constexpr int kDataOrderPlane = 1;

inline constexpr int kOriginTop = 0;     // first row in memory is the top row
inline constexpr int kOriginBottom = 1;  // first row in memory is the bottom row

inline constexpr int kAlignDword = 4;

// Parts for iplReleaseParts.
inline constexpr int kReleaseHeader = 1;
inline constexpr int kReleaseData = 2;
inline constexpr int kReleaseRoi = 4;
inline constexpr int kReleaseTile = 8;
inline constexpr int kReleaseMask = 16;
inline constexpr int kReleaseAll = 31;

// Region of interest: channel of interest, left, top, width, height.
struct ImageRoi {
    std::int32_t coi = 0;
    std::int32_t xOffset = 0;
    std::int32_t yOffset = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
};

// Tiling description; tiled images are refused by the resize.
struct ImageTileInfo {
    std::int32_t width = 0;
    std::int32_t height = 0;
};

struct ImageHeader {
    std::int32_t headerSize = 0;
    std::int32_t headerId = 0;
    std::int32_t nChannels = 0;
    std::int32_t alphaChannel = 0;  // 1-based, 0 = none
    std::int32_t depth = 0;
    char colorName[4] = {};
    char channelSeq[4] = {};
    std::int32_t dataOrder = 0;
    std::int32_t origin = 0;
    std::int32_t align = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
    ImageRoi* roi = nullptr;
    ImageHeader* maskRegion = nullptr;
    void* imageTag = nullptr;
    ImageTileInfo* tileInfo = nullptr;
    std::int32_t imageSize = 0;
    std::uint8_t* imageData = nullptr;  // first row in memory
    std::int32_t widthStep = 0;         // bytes from one row to the next
    std::int32_t borderMode[4] = {};
    std::int32_t borderConst[4] = {};
    std::uint8_t* dataBlock = nullptr;  // owned pixels (LayerAlignedAlloc); null when shared
};

// New header record; pixels are neither allocated nor attached (imageData stays null, widthStep is
// the row length padded to `align`). Null after reporting an error: a width or height of 0 or less
// ("Incorrect data-ins"), or no memory for the record.
ImageHeader* iplCreateImageHeader(CLayerStatus& layer, int nChannels, int alphaChannel, int depth,
                                  const char* colorModel, const char* channelSeq, int dataOrder,
                                  int origin, int align, int width, int height, ImageRoi* roi,
                                  ImageHeader* maskROI, void* imageId, ImageTileInfo* tileInfo);

// Header over a packed 24-bit DIB (`dib` points at its 40-byte header), sharing its pixels:
// *cloneData is set to 0. Null after reporting an error. The caller guarantees that the block
// holds the colour table and every row the header promises.
ImageHeader* iplTranslateDIB(CLayerStatus& layer, std::uint8_t* dib, int* cloneData);

// Releases the parts named in the bit set `parts` (kRelease*); a null header is ignored.
void iplReleaseParts(ImageHeader* image, int parts);

// The header consistency check: 0, or the header code of the first fault found.
int CheckImageHeader(const ImageHeader* image);
