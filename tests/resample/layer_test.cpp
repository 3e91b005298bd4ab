// The layer under ResizeDib: its status record, header translation, argument checks and memory.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "image/dib_image.h"
#include "resample/image_header.h"
#include "resample/ipl_resize.h"
#include "resample/layer_memory.h"
#include "resample/layer_status.h"

namespace {

struct Report {
    int status;
    std::string func, text;
};

// Each test has a status record of its own, whose reports are recorded instead of ending the
// process.
class LayerTest : public testing::Test {
protected:
    std::vector<Report> m_reports;
    CLayerStatus m_layer{[this](int status, const char* func, const char* text, const char*, int) {
        m_reports.push_back({status, func, text});
        return status;
    }};
};

// A 40-byte header of a 24-bit DIB followed by its pixels.
std::vector<std::uint8_t> MakeDib(int width, int height) {
    std::vector<std::uint8_t> dib(40 + DibRowBytes(width, 24) * (height < 0 ? -height : height));
    DibWrite32(dib.data(), 40);
    DibWrite32(dib.data() + 4, std::uint32_t(width));
    DibWrite32(dib.data() + 8, std::uint32_t(height));
    DibWrite16(dib.data() + 12, 1);
    DibWrite16(dib.data() + 14, 24);
    return dib;
}

TEST_F(LayerTest, TranslateSharesThePixelsOfA24BitDib) {
    std::vector<std::uint8_t> dib = MakeDib(5, 3);
    int clone = -1;
    ImageHeader* image = iplTranslateDIB(m_layer, dib.data(), &clone);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(clone, 0);
    EXPECT_EQ(image->headerSize, int(sizeof(ImageHeader)));
    EXPECT_EQ(image->nChannels, 3);
    EXPECT_EQ(image->alphaChannel, 0);
    EXPECT_EQ(image->depth, IPL_DEPTH_8U);
    EXPECT_STREQ(image->colorName, "RGB");
    EXPECT_STREQ(image->channelSeq, "BGR");
    EXPECT_EQ(image->dataOrder, kDataOrderPixel);
    EXPECT_EQ(image->origin, kOriginBottom);
    EXPECT_EQ(image->align, 4);
    EXPECT_EQ(image->width, 5);
    EXPECT_EQ(image->height, 3);
    EXPECT_EQ(image->widthStep, 16);  // 15 bytes padded to 4
    EXPECT_EQ(image->imageSize, 48);
    EXPECT_EQ(image->imageData, dib.data() + 40);
    EXPECT_EQ(image->dataBlock, nullptr);
    EXPECT_EQ(image->roi, nullptr);
    EXPECT_EQ(CheckImageHeader(image), 0);
    iplReleaseParts(image, kReleaseHeader);
    EXPECT_TRUE(m_reports.empty());
}

TEST_F(LayerTest, TranslateTakesOriginFromTheSignOfTheHeightAndSkipsTheColourTable) {
    std::vector<std::uint8_t> dib = MakeDib(2, -4);
    DibWrite32(dib.data() + 32, 3);  // biClrUsed, taken as stated
    int clone = -1;
    ImageHeader* image = iplTranslateDIB(m_layer, dib.data(), &clone);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->origin, kOriginTop);
    EXPECT_EQ(image->height, 4);
    EXPECT_EQ(image->imageData, dib.data() + 40 + 12);
    iplReleaseParts(image, kReleaseHeader);
}

TEST_F(LayerTest, TranslateChecksInOrder) {
    struct Case {
        std::function<void(std::vector<std::uint8_t>&)> spoil;
        int status;
        const char* text;
    };
    // Each row spoils one field more than the one after it, so only the first check may fire.
    const Case cases[] = {
        {[](auto& d) { DibWrite32(d.data(), 12), DibWrite16(d.data() + 12, 2); }, kStsBadArg,
         "( dib->biSize != sizeof(BITMAPINFOHEADER) )"},
        {[](auto& d) { DibWrite16(d.data() + 12, 2), DibWrite32(d.data() + 16, 7); }, kStsBadArg,
         "(dib->biPlanes != 1)"},
        {[](auto& d) { DibWrite32(d.data() + 16, 7), DibWrite32(d.data() + 32, 0x8001); },
         kStsBadArg,
         "(dib->biCompression != 0) && (dib->biCompression != 1) && (dib->biCompression != 2) && "
         "(dib->biCompression != 3)"},
        {[](auto& d) { DibWrite32(d.data() + 32, 0x8001), DibWrite16(d.data() + 14, 7); },
         kStsBadArg, "(dib->biClrUsed > 0x8000)"},
        {[](auto& d) { DibWrite16(d.data() + 14, 7), DibWrite32(d.data() + 4, 0); }, kStsBadArg,
         "dib->biBitCount is bad"},
        // Counts the layer names as valid but that would need a private copy of the pixels.
        {[](auto& d) { DibWrite16(d.data() + 14, 8); }, kStsBadArg, "dib->biBitCount is bad"},
        {[](auto& d) { DibWrite32(d.data() + 16, 1); }, kStsBadArg,
         "(dib->biCompression != 0) && (dib->biCompression != 1) && (dib->biCompression != 2) && "
         "(dib->biCompression != 3)"},
        {[](auto& d) { DibWrite32(d.data() + 4, 0); }, kStsBadSize, "Incorrect data-ins"},
        {[](auto& d) { DibWrite32(d.data() + 8, 0); }, kStsBadSize, "Incorrect data-ins"},
        {[](auto& d) { DibWrite32(d.data() + 4, 0x7FFFFFF), DibWrite32(d.data() + 8, 100); },
         kStsBadArg, "dib->biWidth x dib->biHeight is too large"},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        m_reports.clear();
        std::vector<std::uint8_t> dib = MakeDib(4, 4);
        cases[i].spoil(dib);
        int clone = 0;
        EXPECT_EQ(iplTranslateDIB(m_layer, dib.data(), &clone), nullptr);
        ASSERT_EQ(m_reports.size(), 1u);
        EXPECT_EQ(m_reports[0].status, cases[i].status);
        EXPECT_EQ(m_reports[0].text, cases[i].text);
        EXPECT_EQ(m_layer.Status(), cases[i].status);
    }
    std::vector<std::uint8_t> dib = MakeDib(4, 4);
    m_reports.clear();
    int clone = 0;
    EXPECT_EQ(iplTranslateDIB(m_layer, nullptr, nullptr), nullptr);
    EXPECT_EQ(iplTranslateDIB(m_layer, dib.data(), nullptr), nullptr);
    ASSERT_EQ(m_reports.size(), 2u);
    EXPECT_EQ(m_reports[0].text, "( dib == 0 )");
    EXPECT_EQ(m_reports[1].text, "( cloneData == 0 )");
    (void)clone;
}

// An 8-bit header over its own zeroed pixels.
struct OwnedImage {
    OwnedImage(int width, int height, int channels = 3) {
        CLayerStatus layer(DefaultLayerHandler);  // valid sizes: nothing is reported
        image = iplCreateImageHeader(layer, channels, 0, IPL_DEPTH_8U, "RGB", "BGR",
                                     kDataOrderPixel, kOriginBottom, 4, width, height, nullptr,
                                     nullptr, nullptr, nullptr);
        // Rows and planes with room to spare, so that a test may change depth or order alone.
        image->widthStep *= 4;
        pixels.assign(std::size_t(image->widthStep) * height * 4, 0);
        image->imageData = pixels.data();
        image->imageSize = std::int32_t(pixels.size());
    }
    ~OwnedImage() { iplReleaseParts(image, kReleaseHeader); }
    ImageHeader* image;
    std::vector<std::uint8_t> pixels;
};

TEST_F(LayerTest, ZoomRefusesBadArgumentsWithTheirConditions) {
    struct Case {
        const char* name;
        std::function<void(ImageHeader*, ImageHeader*, int (&)[5])>
            spoil;  // args: xDst xSrc yDst ySrc mode
        int status;
        const char* text;
    };
    const Case cases[] = {
        {"bad header", [](ImageHeader*, ImageHeader* d, int(&)[5]) { d->nChannels = 9; },
         kStsBadChannels, "Incorrect Image"},
        {"no pixels", [](ImageHeader* s, ImageHeader*, int(&)[5]) { s->imageData = nullptr; },
         kStsBadData, "Incorrect Image"},
        {"mode", [](ImageHeader*, ImageHeader*, int(&a)[5]) { a[4] = 7; }, kStsBadArg,
         "interpolate != IPL_INTER_NN && interpolate != IPL_INTER_LINEAR && interpolate != "
         "IPL_INTER_CUBIC"},
        {"depths differ", [](ImageHeader*, ImageHeader* d, int(&)[5]) { d->depth = IPL_DEPTH_16U; },
         kStsBadArg, "srcImage->depth != dstImage->depth"},
        {"16-bit",
         [](ImageHeader* s, ImageHeader* d, int(&)[5]) { s->depth = d->depth = IPL_DEPTH_16U; },
         kStsBadArg, "srcImage->depth != IPL_DEPTH_8U"},
        {"orders differ",
         [](ImageHeader* s, ImageHeader*, int(&)[5]) { s->dataOrder = kDataOrderPlane; },
         kStsBadArg, "srcImage->dataOrder != dstImage->dataOrder"},
        {"zero width", [](ImageHeader*, ImageHeader*, int(&a)[5]) { a[0] = 0; }, kStsBadArg,
         "xDst <= 0 || xSrc <= 0"},
        {"negative height", [](ImageHeader*, ImageHeader*, int(&a)[5]) { a[3] = -2; }, kStsBadArg,
         "yDst <= 0 || ySrc <= 0"},
        {"channels differ", [](ImageHeader*, ImageHeader* d, int(&)[5]) { d->nChannels = 1; },
         kStsInternal, "srcImage COI != dstImage COI"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m_layer.Set(kStsOk);
        m_reports.clear();
        OwnedImage src(6, 6), dst(4, 4);
        std::memset(dst.pixels.data(), 0x77, dst.pixels.size());
        int args[5] = {4, 6, 4, 6, IPL_INTER_CUBIC};
        c.spoil(src.image, dst.image, args);
        iplResize(m_layer, src.image, dst.image, args[0], args[1], args[2], args[3], args[4]);
        ASSERT_EQ(m_reports.size(), 2u);
        EXPECT_EQ(m_reports[0].status, c.status);
        EXPECT_EQ(m_reports[0].func, "iplZoom");
        EXPECT_EQ(m_reports[0].text, c.text);
        // iplResize passes the failure on as a backtrace, which leaves the status alone.
        EXPECT_EQ(m_reports[1].status, kStsBackTrace);
        EXPECT_EQ(m_reports[1].func, "iplResize");
        EXPECT_EQ(m_layer.Status(), c.status);
        EXPECT_EQ(dst.pixels, std::vector<std::uint8_t>(dst.pixels.size(), 0x77));
    }
}

TEST_F(LayerTest, ZoomRefusesWorkingInPlace) {
    OwnedImage image(6, 6);
    iplZoom(m_layer, image.image, image.image, 6, 6, 6, 6, IPL_INTER_CUBIC);
    ASSERT_EQ(m_reports.size(), 1u);
    EXPECT_EQ(m_reports[0].text, "This function isn`t in-plase function");
}

TEST_F(LayerTest, AreaReductionIsRefused) {
    OwnedImage src(8, 8), dst(16, 4);
    iplResize(m_layer, src.image, dst.image, 16, 8, 4, 8, IPL_INTER_SUPER);
    ASSERT_EQ(m_reports.size(), 2u);
    EXPECT_EQ(m_reports[0].text, "(xDst > xSrc || yDst > ySrc)");
    EXPECT_EQ(m_layer.Status(), kStsBadArg);
}

TEST_F(LayerTest, ReportRoutineStoresAllButBacktraces) {
    m_layer.Report(kStsBadArg, "f", "c", "file", 1);
    EXPECT_EQ(m_layer.Status(), kStsBadArg);
    m_layer.Report(kStsBackTrace, "g", "", "file", 2);
    EXPECT_EQ(m_layer.Status(), kStsBadArg);
    m_layer.Report(kStsOk, "h", "", "file", 3);  // stored, and no handler call
    EXPECT_EQ(m_layer.Status(), kStsOk);
    ASSERT_EQ(m_reports.size(), 2u);
    EXPECT_EQ(m_reports[1].status, kStsBackTrace);
    EXPECT_EQ(m_layer.Mode(), kLayerModeLeaf);
    // Another call's record sees none of it.
    CLayerStatus other(
        [](int status, const char*, const char*, const char*, int) { return status; });
    other.Report(kStsNoMem, "i", "", "file", 4);
    EXPECT_EQ(other.Status(), kStsNoMem);
    EXPECT_EQ(m_layer.Status(), kStsOk);
    EXPECT_EQ(m_reports.size(), 2u);
}

TEST(LayerDeathTest, DefaultHandlerEndsTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    OwnedImage src(6, 6), dst(4, 4);
    CLayerStatus layer(DefaultLayerHandler);
    EXPECT_EXIT(iplResize(layer, src.image, dst.image, 0, 6, 4, 6, IPL_INTER_CUBIC),
                testing::ExitedWithCode(1), "xDst <= 0 \\|\\| xSrc <= 0");
}

TEST(LayerMemory, AlignedAllocation) {
    for (const std::int64_t bytes : {1, 3, 31, 32, 33, 4096, 1000001}) {
        SCOPED_TRACE(bytes);
        auto* p = static_cast<std::uint8_t*>(LayerAlignedAlloc(bytes));
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p) % 32, 0u);
        std::memset(p, 0xCD, std::size_t(bytes));  // the whole request is usable
        LayerAlignedFree(p);
    }
    EXPECT_EQ(LayerAlignedAlloc(0), nullptr);
    EXPECT_EQ(LayerAlignedAlloc(-8), nullptr);
    LayerAlignedFree(nullptr);
}

TEST_F(LayerTest, ReleasePartsFreesWhatIsAsked) {
    ImageHeader* mask = iplCreateImageHeader(m_layer, 1, 0, IPL_DEPTH_8U, "G", "G", 0, 0, 4, 2, 2,
                                             nullptr, nullptr, nullptr, nullptr);
    ImageHeader* image = iplCreateImageHeader(m_layer, 3, 0, IPL_DEPTH_8U, "RGB", "BGR", 0, 1, 4, 2,
                                              2, new ImageRoi, mask, nullptr, new ImageTileInfo);
    ASSERT_NE(image, nullptr);
    image->dataBlock = static_cast<std::uint8_t*>(LayerAlignedAlloc(64));
    image->imageData = image->dataBlock;
    iplReleaseParts(image, kReleaseData | kReleaseRoi);
    EXPECT_EQ(image->dataBlock, nullptr);
    EXPECT_EQ(image->imageData, nullptr);
    EXPECT_EQ(image->roi, nullptr);
    EXPECT_NE(image->tileInfo, nullptr);
    iplReleaseParts(image, kReleaseTile | kReleaseMask);
    EXPECT_EQ(image->tileInfo, nullptr);
    EXPECT_EQ(image->maskRegion, nullptr);
    iplReleaseParts(image, kReleaseHeader);
    iplReleaseParts(nullptr, kReleaseAll);
    EXPECT_TRUE(m_reports.empty());
}

}  // namespace
