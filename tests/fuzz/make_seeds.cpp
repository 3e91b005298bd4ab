// Writes the seed corpora of the fuzz targets: one small file per form the readers know.
// Usage: fuzz_seeds OUTDIR (makes OUTDIR/bmp, OUTDIR/jpeg, OUTDIR/wildcard, OUTDIR/resize).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "common/bmp_builder.h"
#include "image/jpeg_file.h"

extern "C" {
#include <jpeglib.h>
}

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;

namespace {

void Write(const fs::path& path, const Bytes& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) {
        std::perror(path.c_str());
        std::exit(1);
    }
    std::fclose(f);
}

Bytes Table(int count, int entryBytes = 4) {
    Bytes t;
    for (int i = 0; i < count; ++i) {
        t.insert(t.end(), {std::uint8_t(i * 7), std::uint8_t(i * 13), std::uint8_t(i * 29)});
        if (entryBytes == 4)
            t.push_back(0);
    }
    return t;
}

BmpLayout Layout(std::uint32_t headerSize, int width, int height, int bits,
                 std::uint32_t compression, std::vector<std::uint32_t> masks, Bytes table,
                 Bytes pixels = {}) {
    BmpLayout s;
    s.headerSize = headerSize, s.width = width, s.height = height;
    s.bitCount = std::uint16_t(bits), s.compression = compression, s.masks = std::move(masks);
    s.clrUsed = headerSize == 12 ? 0 : std::uint32_t(table.size() / 4);
    s.table = std::move(table);
    if (pixels.empty()) {
        const int rows = height < 0 ? -height : height;
        for (int i = 0; i < FileRowBytes(width, bits) * rows; ++i)
            pixels.push_back(std::uint8_t(i * 37 + 11));
    }
    s.pixels = std::move(pixels);
    return s;
}

void BmpSeeds(const fs::path& dir) {
    const std::vector<std::uint32_t> none;
    struct Seed {
        const char* name;
        BmpLayout layout;
    };
    const std::vector<Seed> seeds = {
        {"pal1", Layout(40, 9, 2, 1, 0, none, Table(2))},
        {"pal2", Layout(40, 5, 2, 2, 0, none, Table(4))},
        {"pal4", Layout(40, 3, 2, 4, 0, none, Table(16))},
        {"pal8", Layout(40, 3, 2, 8, 0, none, Table(6))},
        {"pal8-core", Layout(12, 3, 2, 8, 0, none, Table(256, 3))},
        {"pal8-os2v2", Layout(64, 3, 2, 8, 0, none, Table(6))},
        {"rgb15", Layout(40, 2, 2, 15, 0, none, {})},
        {"rgb16", Layout(40, 2, 2, 16, 0, none, {})},
        {"rgb16-565", Layout(40, 2, 2, 16, 3, {0xF800, 0x7E0, 0x1F}, {})},
        {"rgb16-4444-v5", Layout(124, 2, 2, 16, 3, {0xF00, 0xF0, 0xF}, {})},
        {"rgb24-topdown", Layout(40, 3, -2, 24, 0, none, {})},
        {"rgb24-masks", Layout(40, 2, 1, 24, 3, {0xFF, 0xFF00, 0xFF0000}, {})},
        {"rgb32", Layout(40, 2, 2, 32, 0, none, {})},
        {"rgb32-1010102-v4", Layout(108, 2, 2, 32, 3, {0x3FF00000, 0xFFC00, 0x3FF}, {})},
        {"rle8", Layout(40, 5, 3, 8, 1, none, Table(16),
                        {3, 1, 1, 2, 0, 0, 2, 9, 0, 2, 2, 0, 1, 4, 0, 0, 0, 3, 5, 6, 7, 0, 0, 1})},
        {"rle4",
         Layout(40, 5, 2, 4, 2, none, Table(16),
                {0, 3, 0x45, 0x60, 0, 2, 1, 0, 1, 0x70, 0, 0, 0, 5, 0x12, 0x12, 0x30, 0, 0, 1})},
    };
    for (const Seed& s : seeds)
        Write(dir / (std::string("seed-") + s.name + ".bmp"), MakeBmp(s.layout));
    // Four masks after a 40-byte header, and pixels placed after a gap.
    Bytes abf = MakeBmp(Layout(40, 2, 1, 32, 6, {0xFF000000, 0xFF0000, 0xFF00}, {}));
    abf.insert(abf.begin() + 14 + 40 + 12, {0xFF, 0, 0, 0});
    abf[10] += 4, abf[2] += 4;
    Write(dir / "seed-rgba32-abf.bmp", abf);
    Bytes gap = MakeBmp(Layout(40, 3, 2, 8, 0, none, Table(4)));
    gap.insert(gap.begin() + 14 + 40 + 16, 8, 0xEE);
    gap[10] += 8, gap[2] += 8;
    Write(dir / "seed-pal8-offset.bmp", gap);
}

struct JpegForm {
    const char* name;
    int width, height, components;
    bool progressive, arithmetic;
    int restart;
};

void WriteJpeg(const fs::path& path, const JpegForm& form) {
    jpeg_compress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = JDIMENSION(form.width);
    cinfo.image_height = JDIMENSION(form.height);
    cinfo.input_components = form.components;
    cinfo.in_color_space = form.components == 1   ? JCS_GRAYSCALE
                           : form.components == 4 ? JCS_CMYK
                                                  : JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 75, TRUE);
    if (form.progressive)
        jpeg_simple_progression(&cinfo);
    cinfo.arith_code = form.arithmetic ? TRUE : FALSE;
    cinfo.restart_in_rows = form.restart;
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<JSAMPLE> row(std::size_t(form.width * form.components));
    while (cinfo.next_scanline < cinfo.image_height) {
        for (std::size_t i = 0; i < row.size(); ++i)
            row[i] = JSAMPLE((i * 31 + cinfo.next_scanline * 17) & 0xFF);
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    Write(path, Bytes(buffer, buffer + size));
    std::free(buffer);
}

void JpegSeeds(const fs::path& dir) {
    const JpegForm forms[] = {
        {"rgb", 8, 8, 3, false, false, 0},       {"grey", 8, 8, 1, false, false, 0},
        {"rgb-odd", 13, 5, 3, false, false, 0},  {"progressive", 16, 16, 3, true, false, 0},
        {"arithmetic", 8, 8, 3, false, true, 0}, {"restarts", 16, 32, 3, false, false, 1},
        {"cmyk", 8, 8, 4, false, false, 0},
    };
    for (const JpegForm& f : forms) WriteJpeg(dir / (std::string("seed-") + f.name + ".jpg"), f);
}

void WildcardSeeds(const fs::path& dir) {
    const std::pair<const char*, const char*> pairs[] = {
        {"*.bmp", "a.bmp"}, {"*1.bmp", "*1.bmp"}, {"a*b?c", "aXbYc"}, {"*.*", "noext"},
        {"?", ""},          {"*a*a*a", "aaaa"},   {"*.JPG", "x.jpg"}, {"a.*", "a"},
    };
    int i = 0;
    for (const auto& [pattern, name] : pairs) {
        Bytes b(pattern, pattern + std::strlen(pattern));
        b.push_back(0);
        b.insert(b.end(), name, name + std::strlen(name));
        Write(dir / ("seed-" + std::to_string(i++)), b);
    }
}

// Inputs of fuzz_resize: the sizes the jobs use, strips and columns, the fallback sizes, each
// operation and kernel choice.
void ResizeSeeds(const fs::path& dir) {
    struct Seed {
        const char* name;
        int op, sw, sh, w, h;
    };
    // op: bits 0-1 fill (0), resize (1) or window (2); bit 2 one colour; bits 3-5 kernel; 6-7
    // threads.
    const Seed seeds[] = {
        {"fill-up", 0, 30, 20, 512, 384},
        {"fill-down", 0 | 1 << 3, 400, 160, 80, 60},
        {"fill-strip", 0 | 2 << 3, 2000, 1, 1024, 256},
        {"fill-column", 0, 693, 2, 61, 693},
        {"fill-one-colour", 4, 1, 1, 100, 100},
        {"fill-linear", 4 | 3 << 3, 3, 300, 200, 50},
        {"resize", 1 | 2 << 3 | 2 << 6, 40, 30, 97, 61},
        {"resize-nearest", 1, 7, 1, 18, 5},
        {"window", 2 | 1 << 3 | 1 << 6, 50, 40, 300, 200},
        {"window-linear", 2, 3, 100, 30, 1000},
    };
    for (const Seed& s : seeds) {
        Bytes b = {std::uint8_t(s.op)};
        for (const int side : {s.sw, s.sh, s.w, s.h}) {
            b.push_back(std::uint8_t((side - 1) & 0xFF));
            b.push_back(std::uint8_t((side - 1) >> 8));
        }
        b.insert(b.end(), {200, 100, 50, 128, 64, 30, 220});  // colour, window
        for (int i = 0; i < 97; ++i) b.push_back(std::uint8_t(i * 53 + 7));
        Write(dir / (std::string("seed-") + s.name), b);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTDIR\n", argv[0]);
        return 2;
    }
    const fs::path out = argv[1];
    for (const char* t : {"bmp", "jpeg", "wildcard", "resize"}) fs::create_directories(out / t);
    BmpSeeds(out / "bmp");
    JpegSeeds(out / "jpeg");
    WildcardSeeds(out / "wildcard");
    ResizeSeeds(out / "resize");
    return 0;
}
