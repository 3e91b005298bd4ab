#include "resample/image_header.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "image/dib_image.h"
#include "resample/layer_memory.h"
#include "resample/layer_status.h"

namespace {

void CopyName(char (&to)[4], const char* from) {
    std::memset(to, 0, sizeof(to));
    if (from)
        std::strncpy(to, from, sizeof(to) - 1);
}

// Bytes a row needs before padding.
std::int64_t RowPayloadBytes(const ImageHeader& image) {
    const std::int64_t samples =
        std::int64_t(image.width) * (image.dataOrder == kDataOrderPixel ? image.nChannels : 1);
    return (samples * image.depth + 7) / 8;
}

}  // namespace

ImageHeader* iplCreateImageHeader(CLayerStatus& layer, int nChannels, int alphaChannel, int depth,
                                  const char* colorModel, const char* channelSeq, int dataOrder,
                                  int origin, int align, int width, int height, ImageRoi* roi,
                                  ImageHeader* maskROI, void* imageId, ImageTileInfo* tileInfo) {
    if (width <= 0 || height <= 0) {
        layer.Report(kStsBadSize, "iplCreateImageHeader", "Incorrect data-ins", "iplcrhdr",
                     __LINE__);
        return nullptr;
    }
    ImageHeader* image = new (std::nothrow) ImageHeader;
    if (!image) {
        layer.Report(kStsNoMem, "iplCreateImageHeader",
                     "Not enough memory to allocate header for destination image", "iplcrhdr",
                     __LINE__);
        return nullptr;
    }
    image->headerSize = std::int32_t(sizeof(ImageHeader));
    image->headerId = 0;
    image->nChannels = nChannels;
    image->alphaChannel = alphaChannel;
    image->depth = depth;
    CopyName(image->colorName, colorModel);
    CopyName(image->channelSeq, channelSeq);
    image->dataOrder = dataOrder;
    image->origin = origin;
    image->align = align;
    image->width = width;
    image->height = height;
    image->roi = roi;
    image->maskRegion = maskROI;
    image->imageTag = imageId;
    image->tileInfo = tileInfo;
    if (align > 0) {
        const std::int64_t padded = (RowPayloadBytes(*image) + align - 1) / align * align;
        image->widthStep = padded <= INT32_MAX ? std::int32_t(padded) : 0;
    }
    return image;
}

ImageHeader* iplTranslateDIB(CLayerStatus& layer, std::uint8_t* dib, int* cloneData) {
    constexpr const char* kFunc = "iplTranslateDIB";
    constexpr const char* kFile = "ipltrdib";
    if (dib == nullptr) {
        layer.Report(kStsBadArg, kFunc, "( dib == 0 )", kFile, __LINE__);
        return nullptr;
    }
    if (cloneData == nullptr) {
        layer.Report(kStsBadArg, kFunc, "( cloneData == 0 )", kFile, __LINE__);
        return nullptr;
    }
    const std::uint32_t biSize = DibRead32(dib);
    const std::int32_t biWidth = std::int32_t(DibRead32(dib + 4));
    const std::int32_t biHeight = std::int32_t(DibRead32(dib + 8));
    const std::uint16_t biPlanes = DibRead16(dib + 12);
    const std::uint16_t biBitCount = DibRead16(dib + 14);
    const std::uint32_t biCompression = DibRead32(dib + 16);
    const std::uint32_t biClrUsed = DibRead32(dib + 32);
    if (biSize != kInfoHeaderSize) {
        layer.Report(kStsBadArg, kFunc, "( dib->biSize != sizeof(BITMAPINFOHEADER) )", kFile,
                     __LINE__);
        return nullptr;
    }
    if (biPlanes != 1) {
        layer.Report(kStsBadArg, kFunc, "(dib->biPlanes != 1)", kFile, __LINE__);
        return nullptr;
    }
    // Only uncompressed pixels are translated: run-length and bit-field DIBs would need a private
    // copy, which this program never asks for.
    if (biCompression != kBiRgb) {
        layer.Report(kStsBadArg, kFunc,
                     "(dib->biCompression != 0) && (dib->biCompression != 1) && "
                     "(dib->biCompression != 2) && (dib->biCompression != 3)",
                     kFile, __LINE__);
        return nullptr;
    }
    if (biClrUsed > 0x8000) {
        layer.Report(kStsBadArg, kFunc, "(dib->biClrUsed > 0x8000)", kFile, __LINE__);
        return nullptr;
    }
    // Likewise only 24-bit pixels can be shared as they are.
    if (biBitCount != 24) {
        layer.Report(kStsBadArg, kFunc, "dib->biBitCount is bad", kFile, __LINE__);
        return nullptr;
    }
    const std::int64_t height = biHeight < 0 ? -std::int64_t(biHeight) : biHeight;
    ImageHeader* image = iplCreateImageHeader(
        layer, 3, 0, IPL_DEPTH_8U, "RGB", "BGR", kDataOrderPixel,
        biHeight >= 0 ? kOriginBottom : kOriginTop, kAlignDword, biWidth,
        height > INT32_MAX ? 0 : int(height), nullptr, nullptr, nullptr, nullptr);
    if (!image)
        return nullptr;
    const std::int64_t widthStep =
        ((std::int64_t(biWidth) * biBitCount + 31) & ~std::int64_t(31)) / 8;
    if (widthStep * height > INT32_MAX) {
        iplReleaseParts(image, kReleaseHeader);
        layer.Report(kStsBadArg, kFunc, "dib->biWidth x dib->biHeight is too large", kFile,
                     __LINE__);
        return nullptr;
    }
    image->widthStep = std::int32_t(widthStep);
    image->imageSize = std::int32_t(widthStep * height);
    image->imageData = dib + biSize + 4 * std::size_t(biClrUsed);
    *cloneData = 0;
    return image;
}

void iplReleaseParts(ImageHeader* image, int parts) {
    if (!image)
        return;
    if (parts & kReleaseData) {
        LayerAlignedFree(image->dataBlock);
        image->dataBlock = nullptr;
        image->imageData = nullptr;
    }
    if (parts & kReleaseRoi) {
        delete image->roi;
        image->roi = nullptr;
    }
    if (parts & kReleaseTile) {
        delete image->tileInfo;
        image->tileInfo = nullptr;
    }
    if (parts & kReleaseMask) {
        iplReleaseParts(image->maskRegion, kReleaseAll);
        image->maskRegion = nullptr;
    }
    if (parts & kReleaseHeader)
        delete image;
}

int CheckImageHeader(const ImageHeader* image) {
    if (!image || image->headerSize != std::int32_t(sizeof(ImageHeader)))
        return kStsBadHeader;
    if (image->nChannels < 1 || image->nChannels > 4)
        return kStsBadChannels;
    if (image->alphaChannel < 0 || image->alphaChannel > image->nChannels)
        return kStsBadAlpha;
    if (image->depth != IPL_DEPTH_1U && image->depth != IPL_DEPTH_8U &&
        image->depth != IPL_DEPTH_16U && image->depth != IPL_DEPTH_32F) {
        return kStsBadDepth;
    }
    if (image->dataOrder != kDataOrderPixel && image->dataOrder != kDataOrderPlane) {
        return kStsBadOrder;
    }
    if (image->origin != kOriginTop && image->origin != kOriginBottom)
        return kStsBadOrigin;
    if (image->align != 4 && image->align != 8 && image->align != 16 && image->align != 32) {
        return kStsBadAlign;
    }
    if (image->width <= 0 || image->height <= 0)
        return kStsBadSize;
    if (image->widthStep < RowPayloadBytes(*image))
        return kStsBadStep;
    const std::int64_t planes = image->dataOrder == kDataOrderPlane ? image->nChannels : 1;
    if (!image->imageData ||
        image->imageSize < std::int64_t(image->widthStep) * image->height * planes) {
        return kStsBadData;
    }
    return 0;
}
