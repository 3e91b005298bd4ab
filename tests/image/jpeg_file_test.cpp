#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>

#include "common/temp_dir.h"
#include "image/jpeg_file.h"

extern "C" {
#include <jpeglib.h>
}

namespace {

void Fill(CDibImage& image, std::uint8_t b, std::uint8_t g, std::uint8_t r) {
    for (int y = 0; y < image.m_nHeight; ++y)
        for (int x = 0; x < image.m_nWidth; ++x) {
            std::uint8_t* p = image.TopRow(y) + 3 * x;
            p[0] = b, p[1] = g, p[2] = r;
        }
}

bool Contains(const std::vector<unsigned char>& bytes,
              std::initializer_list<unsigned char> marker) {
    return std::search(bytes.begin(), bytes.end(), marker.begin(), marker.end()) != bytes.end();
}

TEST(JpegWrite, QualityRoundTripIsBaselineJfif) {
    TempDir dir;
    CDibImage image;
    ASSERT_EQ(image.Create(37, 21, 24), 1);
    for (int y = 0; y < 21; ++y)
        for (int x = 0; x < 37; ++x) {
            std::uint8_t* p = image.TopRow(y) + 3 * x;
            p[0] = std::uint8_t(x * 6), p[1] = std::uint8_t(y * 11), p[2] = 128;
        }
    ASSERT_TRUE(WriteJpegFile(dir.File("q.jpg"), image, 95, false, true).Ok());
    const auto bytes = ReadAllBytes(dir.File("q.jpg"));
    ASSERT_GT(bytes.size(), 20u);
    EXPECT_EQ(bytes[0], 0xFF);
    EXPECT_EQ(bytes[1], 0xD8);
    EXPECT_EQ(std::memcmp(bytes.data() + 6, "JFIF", 5), 0);
    EXPECT_TRUE(Contains(bytes, {0xFF, 0xC0}));   // baseline frame
    EXPECT_FALSE(Contains(bytes, {0xFF, 0xC2}));  // never progressive
    EXPECT_FALSE(Contains(bytes, {0xFF, 0xDD}));  // no restart interval

    {
        CDibImage back;
        int grey = -1;
        ASSERT_EQ(ReadJpegFile(dir.File("q.jpg"), back, grey, true), 1);
        EXPECT_EQ(back.m_nWidth, 37);
        EXPECT_EQ(back.m_nHeight, 21);
        EXPECT_EQ(grey, 0);
        // Close to the original at quality 95.
        const std::uint8_t* p = back.TopRow(10) + 3 * 20;
        EXPECT_NEAR(p[0], 120, 8);
        EXPECT_NEAR(p[1], 110, 8);
        EXPECT_NEAR(p[2], 128, 8);
    }
}

TEST(JpegWrite, BlueGreenRedOrder) {
    TempDir dir;
    CDibImage image;
    ASSERT_EQ(image.Create(1, 1, 24), 1);
    Fill(image, 0, 0, 255);  // stored B, G, R: pure red
    ASSERT_TRUE(WriteJpegFile(dir.File("red.jpg"), image, 95, false, true).Ok());
    CDibImage back;
    int grey = 0;
    ASSERT_EQ(ReadJpegFile(dir.File("red.jpg"), back, grey, true), 1);
    const std::uint8_t* p = back.TopRow(0);
    EXPECT_GT(p[2], 200);
    EXPECT_LT(p[0], 60);
    EXPECT_LT(p[1], 60);
    // Without the swap on reading, red lands in the first byte.
    ASSERT_EQ(ReadJpegFile(dir.File("red.jpg"), back, grey, false), 1);
    EXPECT_GT(back.TopRow(0)[0], 200);
}

TEST(JpegRead, GreyAndRowLayout) {
    TempDir dir;
    CDibImage image;
    ASSERT_EQ(image.Create(3, 16, 24), 1);
    Fill(image, 0, 0, 0);
    for (int x = 0; x < 3; ++x) std::memset(image.TopRow(0) + 3 * x, 255, 3);  // white top line
    ASSERT_TRUE(WriteJpegFile(dir.File("g.jpg"), image, 95, true, true).Ok());

    CDibImage back;
    int grey = 0;
    ASSERT_EQ(ReadJpegFile(dir.File("g.jpg"), back, grey, true), 1);
    EXPECT_EQ(grey, 1);
    EXPECT_EQ(back.m_nRowBytes, 12);
    const std::uint8_t* last = back.Bits() + 15 * 12;  // last row in memory: top line
    const std::uint8_t* first = back.Bits();
    EXPECT_GT(last[0], 200);
    EXPECT_LT(first[0], 50);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 3; ++x) {
            const std::uint8_t* p = back.TopRow(y) + 3 * x;
            ASSERT_EQ(p[0], p[1]);
            ASSERT_EQ(p[1], p[2]);
        }
}

TEST(JpegRead, BadFiles) {
    TempDir dir;
    WriteAllBytes(dir.File("not.jpg"), {'B', 'M', 0, 0, 0, 0, 0, 0});
    CDibImage image;
    int grey = 0;
    std::string why;
    testing::internal::CaptureStderr();
    EXPECT_EQ(ReadJpegFile(dir.File("not.jpg"), image, grey, true, &why), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");  // no message of the library's own
    EXPECT_FALSE(image.m_hDib);
    EXPECT_NE(why.find("Not a JPEG file"), std::string::npos) << why;

    EXPECT_EQ(ReadJpegFile(dir.File("absent.jpg"), image, grey, true), 0);
    EXPECT_FALSE(image.m_hDib);
}

// A four-component file written by the library itself.
void WriteCmyk(const std::string& path, const std::uint8_t cmyk[4], int width, int height) {
    jpeg_compress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_TRUE(f);
    jpeg_stdio_dest(&cinfo, f);
    cinfo.image_width = JDIMENSION(width);
    cinfo.image_height = JDIMENSION(height);
    cinfo.input_components = 4;
    cinfo.in_color_space = JCS_CMYK;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 100, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<JSAMPLE> row(std::size_t(width) * 4);
    for (int x = 0; x < width; ++x) std::memcpy(&row[std::size_t(x) * 4], cmyk, 4);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::fclose(f);
}

TEST(JpegRead, CmykBecomesRgb) {
    TempDir dir;
    // The library writes an Adobe marker with CMYK, so the values count as inverted ink:
    // red = C x K / 255 and so on.
    const std::uint8_t cmyk[4] = {255, 0, 255, 255};
    WriteCmyk(dir.File("c.jpg"), cmyk, 8, 8);
    CDibImage image;
    int grey = 0;
    std::string why;
    ASSERT_EQ(ReadJpegFile(dir.File("c.jpg"), image, grey, true, &why), 1) << why;
    EXPECT_EQ(image.m_nBitCount, 24);
    EXPECT_EQ(image.m_nRowBytes, 24);
    const std::uint8_t* p = image.TopRow(4) + 12;
    EXPECT_GT(p[0], 240);  // blue
    EXPECT_LT(p[1], 15);   // green
    EXPECT_GT(p[2], 240);  // red
}

TEST(JpegException, MessageIsCutToTheBuffer) {
    const CJPEGException e(42, "Not a JPEG file: starts with 0x42 0x4d");
    char small[8];
    EXPECT_TRUE(e.GetErrorMessage(small, sizeof small));
    EXPECT_STREQ(small, "Not a J");
    char big[100];
    unsigned help = 77;
    EXPECT_TRUE(e.GetErrorMessage(big, sizeof big, &help));
    EXPECT_STREQ(big, e.m_strMessage.c_str());
    EXPECT_EQ(help, 77u);
}

}  // namespace
