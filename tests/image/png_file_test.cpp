#include "image/png_file.h"

#include <gtest/gtest.h>

#include <random>

#include "common/run_cli.h"
#include "common/temp_dir.h"

// Pictures of odd sizes and random pixels come back from a PNG decoder (ffmpeg's, which knows
// nothing of the writer) byte for byte; a write that cannot be made fails and leaves nothing.
TEST(PngFile, WritesWhatADecoderReadsBack) {
    TempDir dir;
    std::mt19937 random(7);
    const int kSizes[][2] = {{1, 1}, {3, 2}, {17, 5}, {322, 7}, {5, 64}};
    for (const auto& size : kSizes) {
        const int width = size[0], height = size[1];
        SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
        CDibImage image;
        ASSERT_TRUE(image.Create(width, height, 24).Ok());
        std::string expected;  // top-down BGR rows, as ffmpeg gives them
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width * 3; ++x) {
                const auto value = std::uint8_t(random());
                image.TopRow(y)[x] = value;
                expected += char(value);
            }
        }
        const std::string path = dir.File("p" + std::to_string(width) + ".png");
        const CStatus written = WritePngFile(path, image);
        ASSERT_TRUE(written.Ok()) << written.Reason();
        const CliResult decoded = RunProgram({"ffmpeg", "-nostdin", "-v", "error", "-i", path, "-f",
                                              "rawvideo", "-pix_fmt", "bgr24", "-"});
        ASSERT_EQ(decoded.exitCode, 0) << decoded.err;
        EXPECT_TRUE(decoded.out == expected);
    }
    CDibImage image;
    ASSERT_TRUE(image.Create(4, 4, 24).Ok());
    const CStatus failed = WritePngFile(dir.File("missing/p.png"), image);
    EXPECT_FALSE(failed.Ok());
    EXPECT_FALSE(failed.Reason().empty());
    EXPECT_FALSE(std::filesystem::exists(dir.File("missing")));
    CDibImage empty;
    EXPECT_FALSE(WritePngFile(dir.File("empty.png"), empty).Ok());
    EXPECT_FALSE(std::filesystem::exists(dir.File("empty.png")));
}
