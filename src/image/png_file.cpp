#include "image/png_file.h"

#include <png.h>

#include <csetjmp>
#include <string>

namespace {

// libpng's fatal errors end the write through longjmp; the text is kept for the reason.
void OnPngError(png_structp png, png_const_charp message) {
    auto* why = static_cast<std::string*>(png_get_error_ptr(png));
    if (why)
        *why = message ? message : "unknown libpng error";
    png_longjmp(png, 1);
}

// Warnings (such as a gamma the library adjusts) never fail a write: silent on purpose.
void OnPngWarning(png_structp, png_const_charp) {}

// Only plain locals here: longjmp skips destructors.
bool WriteRows(std::FILE* file, const CDibImage& image, std::string* why) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, why, OnPngError, OnPngWarning);
    if (!png)
        return false;
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, png_uint_32(image.m_nWidth), png_uint_32(image.m_nHeight), 8,
                 PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_set_bgr(png);  // the rows are stored B, G, R
    // Bottom-up rows in memory: the top row is the last.
    const std::uint8_t* bits = image.Bits();
    for (int y = image.m_nHeight - 1; y >= 0; --y)
        png_write_row(png, bits + std::ptrdiff_t(y) * image.m_nRowBytes);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

}  // namespace

CStatus WritePngStream(std::FILE* file, const CDibImage& image) {
    if (!image.m_hDib || image.m_nBitCount != 24 || image.m_nWidth <= 0 || image.m_nHeight <= 0)
        return CStatus::Failure("no 24-bit image");
    std::string why = "out of memory";
    if (!WriteRows(file, image, &why))
        return CStatus::Failure(why);
    if (std::ferror(file))
        return CStatus::Failure("write error");
    return {};
}

CStatus WritePngFile(const std::string& path, const CDibImage& image,
                     const CCommitOptions& commit) {
    if (!image.m_hDib)
        return CStatus::Failure("no image");
    CAtomicFile out;
    if (CStatus opened = out.Open(path); !opened)
        return opened;
    if (CStatus written = WritePngStream(out.Stream(), image); !written)
        return written;
    return out.Commit(commit);
}
