// Hand-made BMP files for tests: every header field is set explicitly, so that well-formed and
// malformed files can be written byte for byte.
#pragma once

#include <cstdint>
#include <vector>

struct BmpLayout {
    std::uint32_t headerSize = 40;  // 12 (core), 40, 108 or 124
    std::int32_t width = 1;
    std::int32_t height = 1;
    std::uint16_t bitCount = 24;
    std::uint32_t compression = 0;
    std::uint32_t clrUsed = 0;
    std::vector<std::uint32_t>
        masks;  // red, green, blue (inside a long header, after a 40-byte one)
    std::vector<std::uint8_t> table;   // colour table bytes as they go into the file
    std::vector<std::uint8_t> pixels;  // pixel bytes as they go into the file
};

std::vector<unsigned char> MakeBmp(const BmpLayout& bmp);

// Row length in bytes of a file row, padded to 4 bytes.
int FileRowBytes(int width, int bitCount);
