// Helpers shared by the job tests: small text files and BMP images made at set-up.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "common/temp_dir.h"
#include "image/dib_image.h"

namespace jobs_test {

namespace fs = std::filesystem;

inline std::string Str(const TempDir& dir) { return dir.Path().string(); }

inline void WriteText(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

inline std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Value of channel k (0 blue, 1 green, 2 red) of the pixel in column x, row y from the top.
using PixelFn = std::function<std::uint8_t(int x, int y, int k)>;

// Writes a 24-bit BMP of width x height whose pixels come from `fn`.
inline void WriteBmp(const fs::path& path, int width, int height, const PixelFn& fn) {
    CDibImage image;
    ASSERT_TRUE(image.Create(width, height, 24));
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = image.TopRow(y);
        for (int x = 0; x < width; ++x)
            for (int k = 0; k < 3; ++k) row[3 * x + k] = fn(x, y, k);
    }
    fs::create_directories(path.parent_path());
    std::string why;
    ASSERT_TRUE(image.SaveBmp(path.string(), &why)) << why;
}

inline void WriteFlatBmp(const fs::path& path, int width, int height, std::uint8_t value) {
    WriteBmp(path, width, height, [value](int, int, int) { return value; });
}

}  // namespace jobs_test
