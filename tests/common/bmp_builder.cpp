#include "common/bmp_builder.h"

namespace {
void Put16(std::vector<unsigned char>& v, std::size_t at, std::uint32_t x) {
    v[at] = std::uint8_t(x);
    v[at + 1] = std::uint8_t(x >> 8);
}
void Put32(std::vector<unsigned char>& v, std::size_t at, std::uint32_t x) {
    for (int i = 0; i < 4; ++i) v[at + i] = std::uint8_t(x >> (8 * i));
}
}  // namespace

int FileRowBytes(int width, int bitCount) {
    return ((width * bitCount + 31) / 32) * 4;
}

std::vector<unsigned char> MakeBmp(const BmpLayout& s) {
    const bool trailingMasks = s.headerSize == 40 && !s.masks.empty();
    std::vector<unsigned char> v(14 + s.headerSize + (trailingMasks ? 12 : 0), 0);
    v[0] = 'B';
    v[1] = 'M';
    Put32(v, 14, s.headerSize);
    if (s.headerSize == 12) {
        Put16(v, 18, std::uint32_t(s.width));
        Put16(v, 20, std::uint32_t(s.height));
        Put16(v, 22, 1);
        Put16(v, 24, s.bitCount);
    } else {
        Put32(v, 18, std::uint32_t(s.width));
        Put32(v, 22, std::uint32_t(s.height));
        Put16(v, 26, 1);
        Put16(v, 28, s.bitCount);
        Put32(v, 30, s.compression);
        Put32(v, 46, s.clrUsed);
        for (std::size_t i = 0; i < s.masks.size() && i < 3; ++i) Put32(v, 54 + 4 * i, s.masks[i]);
    }
    v.insert(v.end(), s.table.begin(), s.table.end());
    Put32(v, 10, std::uint32_t(v.size()));
    v.insert(v.end(), s.pixels.begin(), s.pixels.end());
    Put32(v, 2, std::uint32_t(v.size()));
    return v;
}
