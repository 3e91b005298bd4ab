// JPEG reader: any bytes either give a whole 24-bit image, or a failure with a reason and no
// image.
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "image/jpeg_file.h"

extern "C" {
#include <jpeglib.h>
}

namespace {

struct HeaderError {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

[[noreturn]] void JumpOut(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<HeaderError*>(cinfo->err)->jump, 1);
}
void Quiet(j_common_ptr, int) {}

// Images the reader may legitimately make up to 768 MB for: keep the fuzzer on small ones so that
// each run stays fast. Headers the library refuses go on to the reader.
bool Huge(const std::uint8_t* data, std::size_t size) {
    jpeg_decompress_struct cinfo;
    HeaderError err;
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = JumpOut;
    err.pub.emit_message = Quiet;
    jpeg_create_decompress(&cinfo);
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
    jpeg_read_header(&cinfo, TRUE);
    const bool huge = std::uint64_t(cinfo.image_width) * cinfo.image_height > (1u << 20);
    jpeg_destroy_decompress(&cinfo);
    return huge;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0 || Huge(data, size))
        return 0;
    std::FILE* file = fmemopen(const_cast<std::uint8_t*>(data), size, "rb");
    if (!file)
        return 0;
    CDibImage image;
    int grey = -1;
    const CStatus read = ReadJpegStream(file, image, grey, true);
    std::fclose(file);
    if (!read) {
        if (read.Reason().empty() || image.m_hDib)
            std::abort();
        return 0;
    }
    if (!image.m_hDib || image.m_nBitCount != 24 || image.m_nWidth <= 0 || image.m_nHeight <= 0 ||
        (grey != 0 && grey != 1))
        std::abort();
    volatile std::uint8_t last = image.TopRow(0)[3 * image.m_nWidth - 1];
    (void)last;
    return 0;
}
