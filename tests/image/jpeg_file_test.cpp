#include <gtest/gtest.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

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

// Whether the header declares more than `pixels` pixels (such files are skipped: the whole
// reader would make them); headers the library refuses are not.
bool LargerThan(const std::vector<unsigned char>& bytes, std::uint64_t pixels) {
    struct CError {
        jpeg_error_mgr pub;
        std::jmp_buf jump;
    } err;
    jpeg_decompress_struct cinfo;
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = [](j_common_ptr c) {
        std::longjmp(reinterpret_cast<CError*>(c->err)->jump, 1);
    };
    err.pub.emit_message = [](j_common_ptr, int) {};
    jpeg_create_decompress(&cinfo);
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_mem_src(&cinfo, bytes.data(), static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&cinfo, TRUE);
    const bool larger = std::uint64_t(cinfo.image_width) * cinfo.image_height > pixels;
    jpeg_destroy_decompress(&cinfo);
    return larger;
}

TEST(JpegWrite, QualityRoundTripIsBaselineJfif) {
    TempDir dir;
    CDibImage image;
    ASSERT_TRUE(image.Create(37, 21, 24));
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
        ASSERT_TRUE(ReadJpegFile(dir.File("q.jpg"), back, grey, true));
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
    ASSERT_TRUE(image.Create(1, 1, 24));
    Fill(image, 0, 0, 255);  // stored B, G, R: pure red
    ASSERT_TRUE(WriteJpegFile(dir.File("red.jpg"), image, 95, false, true).Ok());
    CDibImage back;
    int grey = 0;
    ASSERT_TRUE(ReadJpegFile(dir.File("red.jpg"), back, grey, true));
    const std::uint8_t* p = back.TopRow(0);
    EXPECT_GT(p[2], 200);
    EXPECT_LT(p[0], 60);
    EXPECT_LT(p[1], 60);
    // Without the swap on reading, red lands in the first byte.
    ASSERT_TRUE(ReadJpegFile(dir.File("red.jpg"), back, grey, false));
    EXPECT_GT(back.TopRow(0)[0], 200);
}

TEST(JpegRead, GreyAndRowLayout) {
    TempDir dir;
    CDibImage image;
    ASSERT_TRUE(image.Create(3, 16, 24));
    Fill(image, 0, 0, 0);
    for (int x = 0; x < 3; ++x) std::memset(image.TopRow(0) + 3 * x, 255, 3);  // white top line
    ASSERT_TRUE(WriteJpegFile(dir.File("g.jpg"), image, 95, true, true).Ok());

    CDibImage back;
    int grey = 0;
    ASSERT_TRUE(ReadJpegFile(dir.File("g.jpg"), back, grey, true));
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
    testing::internal::CaptureStderr();
    const CStatus status = ReadJpegFile(dir.File("not.jpg"), image, grey, true);
    EXPECT_FALSE(status);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");  // no message of the library's own
    EXPECT_FALSE(image.m_hDib);
    EXPECT_NE(status.Reason().find("Not a JPEG file"), std::string::npos) << status.Reason();

    EXPECT_FALSE(ReadJpegFile(dir.File("absent.jpg"), image, grey, true));
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
    const CStatus status = ReadJpegFile(dir.File("c.jpg"), image, grey, true);
    ASSERT_TRUE(status) << status.Reason();
    EXPECT_EQ(image.m_nBitCount, 24);
    EXPECT_EQ(image.m_nRowBytes, 24);
    const std::uint8_t* p = image.TopRow(4) + 12;
    EXPECT_GT(p[0], 240);  // blue
    EXPECT_LT(p[1], 15);   // green
    EXPECT_GT(p[2], 240);  // red
}

// The strip reader against the whole-picture reader over the fuzz corpus, each file whole, cut
// short at two points, with a byte changed in its middle, and once empty: the same verdict and
// reason; on success the same size and rows; on a failure after some strips, exactly the rows
// shown handed back.
TEST(JpegRead, StripsAreTheRowsOfTheWholePicture) {
    TempDir dir;
    const std::filesystem::path corpus =
        std::filesystem::path(TARNWICK_SOURCE_DIR) / "tests/fuzz/corpus/jpeg";
    int cases = 0, shownThenFailed = 0;
    for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
        const std::vector<unsigned char> original = ReadAllBytes(entry.path().string());
        if (LargerThan(original, 1u << 20))
            continue;
        for (int variant = 0; variant < (cases == 0 ? 5 : 4); ++variant) {
            SCOPED_TRACE(entry.path().filename().string() + " variant " + std::to_string(variant));
            std::vector<unsigned char> bytes = original;
            if (variant == 1 || variant == 2)
                bytes.resize(bytes.size() * std::size_t(variant + 1) / 4);
            if (variant == 3 && !bytes.empty())
                bytes[bytes.size() / 2] ^= 0x5a;
            if (variant == 4)
                bytes.clear();
            const std::string path = dir.File("case.jpg");
            WriteAllBytes(path, bytes);
            CDibImage whole;
            int grey = 0;
            const CStatus wholeRead = ReadJpegFile(path, whole, grey, true);

            CDibImage strip;
            std::vector<std::string> rows, undone;
            const auto take = [&](std::vector<std::string>& into, int top, int count) {
                ASSERT_EQ(top, int(into.size()));
                ASSERT_LE(count, strip.m_nHeight);
                for (int r = 0; r < count; ++r)
                    into.emplace_back(reinterpret_cast<const char*>(strip.TopRow(r)),
                                      std::size_t(strip.m_nWidth) * 3);
            };
            CJpegStripHook hook;
            hook.m_rows = [&](int top, int count) { take(rows, top, count); };
            hook.m_undo = [&](int top, int count) { take(undone, top, count); };
            bool bUndoLost = false;
            hook.m_undoLost = [&] { bUndoLost = true; };
            const CResult<CPictureSize> stripRead = ReadJpegStrips(path, strip, hook);
            ++cases;
            ASSERT_EQ(stripRead.Ok(), wholeRead.Ok());
            EXPECT_FALSE(bUndoLost);
            EXPECT_EQ(stripRead.Reason(), wholeRead.Reason());
            if (wholeRead) {
                const int width = stripRead->m_nWidth;
                const int height = stripRead->m_nHeight;
                ASSERT_EQ(width, whole.m_nWidth);
                ASSERT_EQ(height, whole.m_nHeight);
                ASSERT_EQ(int(rows.size()), height);
                for (int y = 0; y < height; ++y)
                    ASSERT_EQ(rows[std::size_t(y)],
                              std::string(reinterpret_cast<const char*>(whole.TopRow(y)),
                                          std::size_t(width) * 3))
                        << "row " << y;
                EXPECT_TRUE(undone.empty());
            } else {
                EXPECT_EQ(undone, rows);
                shownThenFailed += !rows.empty();
            }
        }
    }
    EXPECT_GT(cases, 100);
    EXPECT_GT(shownThenFailed, 5);  // the taking back was put to the test
}

}  // namespace
