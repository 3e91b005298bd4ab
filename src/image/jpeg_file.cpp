#include "image/jpeg_file.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <utility>
#include <vector>

#include "platform/atomic_file.h"

// jpeglib.h first: its configuration decides which messages jerror.h declares.
extern "C" {
#include <jpeglib.h>

#include <jerror.h>
}

namespace {

// A fatal libjpeg error, thrown from its error hook and caught before ReadJpegFile, ReadJpegStrips
// or WriteJpegFile returns: it never leaves this file.
class CJPEGException : public std::exception {
public:
    CJPEGException(int code, std::string message)
        : m_nCode(code), m_strMessage(std::move(message)) {}
    const char* what() const noexcept override { return m_strMessage.c_str(); }

    int m_nCode;
    std::string m_strMessage;  // the library's own text, at most 199 characters
};

// Fatal errors end the current read or write, not the process.
[[noreturn]] void ThrowingErrorExit(j_common_ptr cinfo) {
    char buffer[JMSG_LENGTH_MAX];
    (*cinfo->err->format_message)(cinfo, buffer);
    throw CJPEGException(cinfo->err->msg_code, buffer);
}

// Warnings and trace messages are formatted and dropped.
void SilentOutputMessage(j_common_ptr cinfo) {
    char buffer[JMSG_LENGTH_MAX];
    (*cinfo->err->format_message)(cinfo, buffer);
}

// Warnings that mean the picture data ended early or is damaged: the rows the library makes up
// for them (grey, or smeared) are not the picture, so they end the read like an error.
bool IsDataWarning(int code) {
    switch (code) {
        case JWRN_JPEG_EOF:
        case JWRN_HIT_MARKER:
        case JWRN_HUFF_BAD_CODE:
#if JPEG_LIB_VERSION >= 70 || defined(D_ARITH_CODING_SUPPORTED)
        case JWRN_ARITH_BAD_CODE:
#endif
        case JWRN_MUST_RESYNC:
        case JWRN_EXTRANEOUS_DATA:
            return true;
        default:
            return false;
    }
}

// Reading: damaged data ends the read; every other warning (an unknown JFIF revision or Adobe
// transform, a bad ICC profile) and every trace message is dropped on purpose.
void ReadingEmitMessage(j_common_ptr cinfo, int level) {
    if (level >= 0)
        return;
    if (IsDataWarning(cinfo->err->msg_code))
        ThrowingErrorExit(cinfo);
    ++cinfo->err->num_warnings;
}

void SetUpErrorManager(jpeg_error_mgr& err) {
    jpeg_std_error(&err);
    err.error_exit = ThrowingErrorExit;
    err.output_message = SilentOutputMessage;
}

struct FileCloser {
    std::FILE* file;
    ~FileCloser() {
        if (file)
            std::fclose(file);
    }
};

// Rows handed to the library in one call.
constexpr int kStripRows = kJpegStripRows;

// Where a read goes: the whole picture into the image, or (with a hook) a strip at a time into
// an image of at most kStripRows rows, from a file or from bytes in memory.
struct CReadTarget {
    std::FILE* m_file = nullptr;
    const std::vector<unsigned char>* m_bytes = nullptr;
    const std::function<void(int top, int count)>* m_strips = nullptr;
    int m_nShown = 0;  // rows handed to m_strips
    int m_nWidth = 0;  // the picture's size, once known
    int m_nHeight = 0;
};

CStatus ReadRows(CReadTarget& target, CDibImage& image, int& isGrey, bool swapToBgr) {
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr err;
    SetUpErrorManager(err);
    err.emit_message = ReadingEmitMessage;
    cinfo.err = &err;
    jpeg_create_decompress(&cinfo);
    const bool strips = target.m_strips != nullptr;
    std::vector<JSAMPLE> row;
    bool bCreated = false;
    // Whatever ends the read after the image was made leaves it empty: half a picture must
    // not pass for a whole one.
    auto failed = [&](const std::string& reason) {
        jpeg_destroy_decompress(&cinfo);
        if (bCreated && !strips)
            image.Free();
        return CStatus::Failure(reason);
    };
    try {
        // No bytes at all is an error of the memory source, as of the file source.
        if (target.m_bytes)
            jpeg_mem_src(&cinfo, target.m_bytes->data(),
                         static_cast<unsigned long>(target.m_bytes->size()));
        else
            jpeg_stdio_src(&cinfo, target.m_file);
        jpeg_read_header(&cinfo, TRUE);
        cinfo.dct_method = JDCT_FLOAT;
        // Four-component files are decoded as CMYK and turned into RGB below.
        const bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
        if (cmyk)
            cinfo.out_color_space = JCS_CMYK;
        const bool known =
            cinfo.out_color_space == JCS_GRAYSCALE || cinfo.out_color_space == JCS_RGB || cmyk;
        if (!known)
            return failed("unsupported: JPEG colour space");
        // Colour comes out of the library in the image's B, G, R order, straight into its rows.
        const bool direct = cinfo.out_color_space == JCS_RGB && swapToBgr;
        if (direct)
            cinfo.out_color_space = JCS_EXT_BGR;
        target.m_nWidth = int(cinfo.image_width);
        target.m_nHeight = int(cinfo.image_height);
        const int madeHeight = strips ? std::min(target.m_nHeight, kStripRows) : target.m_nHeight;
        // An image of this size already made is decoded into as it is: no new block per file.
        const bool reuse =
            image.m_hDib && image.m_nBitCount == 24 && image.m_nWidth == int(cinfo.image_width) &&
            image.m_nHeight == madeHeight && DibRead32(image.m_hDib->data()) == kInfoHeaderSize;
        if (!reuse && !image.Create(int(cinfo.image_width), madeHeight, 24))
            return failed("unsupported: " + std::to_string(cinfo.image_width) + " x " +
                          std::to_string(cinfo.image_height) + " pixels is too large");
        bCreated = true;
        jpeg_start_decompress(&cinfo);
        isGrey = cinfo.out_color_space == JCS_GRAYSCALE ? 1 : 0;
        const int components = cinfo.output_components;
        // Adobe writes CMYK inverted; others store plain ink amounts.
        const bool inverted = cinfo.saw_Adobe_marker;
        if (!(components == 3 && (direct || !swapToBgr)))
            row.resize(std::size_t(cinfo.output_width) * components);
        const int width = image.m_nWidth;
        const bool inPlace = components == 3 && (direct || !swapToBgr);
        // One row through the row buffer, turned into the image's order.
        const auto ConvertRow = [&](std::uint8_t* dst) {
            JSAMPROW rows[1] = {row.data()};
            jpeg_read_scanlines(&cinfo, rows, 1);
            const JSAMPLE* s = row.data();
            if (components == 1) {
                for (int x = 0; x < width; ++x, dst += 3) dst[0] = dst[1] = dst[2] = s[x];
            } else if (components == 3) {
                for (int x = 0; x < width; ++x, dst += 3, s += 3) {
                    dst[0] = s[2];
                    dst[1] = s[1];
                    dst[2] = s[0];
                }
            } else if (components == 4) {
                for (int x = 0; x < width; ++x, dst += 3, s += 4) {
                    int c = s[0], m = s[1], ye = s[2], k = s[3];
                    if (!inverted) {
                        c = 255 - c, m = 255 - m, ye = 255 - ye, k = 255 - k;
                    }
                    const std::uint8_t r = std::uint8_t((c * k + 127) / 255);
                    const std::uint8_t g = std::uint8_t((m * k + 127) / 255);
                    const std::uint8_t b = std::uint8_t((ye * k + 127) / 255);
                    dst[0] = swapToBgr ? b : r;
                    dst[1] = g;
                    dst[2] = swapToBgr ? r : b;
                }
            }
        };
        const int height = target.m_nHeight;
        for (int top = 0; top < height; top += kStripRows) {
            const int count = std::min(kStripRows, height - top);
            const int first = strips ? 0 : top;  // the image row of picture row `top`
            if (inPlace) {
                // Straight into the image's rows, as many as the library gives per call.
                JSAMPROW rows[kStripRows];
                for (int i = 0; i < count; ++i) rows[i] = image.TopRow(first + i);
                for (int done = 0; done < count;) {
                    const int got =
                        int(jpeg_read_scanlines(&cinfo, rows + done, JDIMENSION(count - done)));
                    done += std::max(got, 1);
                }
            } else {
                for (int i = 0; i < count; ++i) ConvertRow(image.TopRow(first + i));
            }
            if (strips) {
                (*target.m_strips)(top, count);
                target.m_nShown = top + count;
            }
        }
        jpeg_finish_decompress(&cinfo);
    } catch (const CJPEGException& e) {
        return failed(e.m_strMessage);
    } catch (const std::bad_alloc&) {
        return failed("out of memory");
    }
    jpeg_destroy_decompress(&cinfo);
    return {};
}

}  // namespace

CStatus ReadJpegFile(const std::string& path, CDibImage& image, int& isGrey, bool swapToBgr) {
    CResult<std::FILE*> opened = OpenRegularFile(path);
    if (!opened)
        return opened.Status();
    FileCloser in{*opened};
    CReadTarget target;
    target.m_file = in.file;
    return ReadRows(target, image, isGrey, swapToBgr);
}

CStatus ReadJpegStream(std::FILE* file, CDibImage& image, int& isGrey, bool swapToBgr) {
    CReadTarget target;
    target.m_file = file;
    return ReadRows(target, image, isGrey, swapToBgr);
}

CResult<CPictureSize> ReadJpegStrips(const std::string& path, CDibImage& strip,
                                     const CJpegStripHook& hook) {
    CResult<std::FILE*> opened = OpenRegularFile(path);
    if (!opened)
        return opened.Status();
    FileCloser in{*opened};
    // The bytes are kept: a failed read is decoded once more from exactly these.
    std::vector<unsigned char> bytes;
    try {
        // Straight into a block of the file's size and one byte more, so that the end shows as
        // a short read; grown only when the file grew meanwhile.
        struct stat st {};
        if (fstat(fileno(in.file), &st) == 0 && st.st_size > 0)
            bytes.resize(std::size_t(st.st_size) + 1);
        std::size_t size = 0;
        for (;;) {
            if (size == bytes.size())
                bytes.resize(std::max<std::size_t>(65536, 2 * bytes.size()));
            const std::size_t n = std::fread(bytes.data() + size, 1, bytes.size() - size, in.file);
            size += n;
            if (n == 0)
                break;
        }
        bytes.resize(size);
    } catch (const std::bad_alloc&) {
        return CStatus::Failure("out of memory");
    }
    if (std::ferror(in.file))
        return CStatus::Failure(std::strerror(errno));
    int grey = 0;
    const std::function<void(int, int)> none = [](int, int) {};
    CReadTarget target;
    target.m_bytes = &bytes;
    target.m_strips = hook.m_rows ? &hook.m_rows : &none;
    CStatus read = ReadRows(target, strip, grey, true);
    if (read)
        return CPictureSize{target.m_nWidth, target.m_nHeight};
    if (target.m_nShown == 0 || !hook.m_undo)
        return read;
    // The decoder is deterministic: the same bytes give the same rows up to the same failure.
    const int shown = target.m_nShown;
    const std::function<void(int, int)> undo = [&](int top, int count) {
        if (top < shown)
            hook.m_undo(top, std::min(count, shown - top));
    };
    CReadTarget again;
    again.m_bytes = &bytes;
    again.m_strips = &undo;
    (void)ReadRows(again, strip, grey, true);  // fails as the first read did
    if (again.m_nShown < shown && hook.m_undoLost)
        hook.m_undoLost();
    return read;
}

CStatus WriteJpegFile(const std::string& path, CDibImage& image, int quality, bool grey,
                      bool swapToRgb, const CCommitOptions& commit) {
    if (!image.m_hDib)
        return CStatus::Failure("no image");
    CAtomicFile out;
    if (CStatus opened = out.Open(path); !opened)
        return opened;
    if (CStatus written = WriteJpegStream(out.Stream(), image, quality, grey, swapToRgb); !written)
        return written;
    return out.Commit(commit);
}

CStatus WriteJpegStream(std::FILE* file, CDibImage& image, int quality, bool grey, bool swapToRgb) {
    if (!image.m_hDib)
        return CStatus::Failure("no image");
    jpeg_compress_struct cinfo;
    jpeg_error_mgr err;
    SetUpErrorManager(err);
    cinfo.err = &err;
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, file);
    cinfo.image_width = JDIMENSION(image.m_nWidth);
    cinfo.image_height = JDIMENSION(image.m_nHeight);
    cinfo.input_components = 3;
    // The library takes B, G, R rows as they are stored: the same bytes as turning them first.
    cinfo.in_color_space = swapToRgb ? JCS_EXT_BGR : JCS_RGB;
    try {
        jpeg_set_defaults(&cinfo);
        cinfo.optimize_coding = TRUE;
        cinfo.dct_method = JDCT_FLOAT;
        jpeg_set_quality(&cinfo, quality, FALSE);
        if (grey)
            jpeg_set_colorspace(&cinfo, JCS_GRAYSCALE);
        jpeg_start_compress(&cinfo, TRUE);
        while (cinfo.next_scanline < cinfo.image_height) {
            JSAMPROW rows[1] = {image.TopRow(int(cinfo.next_scanline))};
            jpeg_write_scanlines(&cinfo, rows, 1);
        }
        jpeg_finish_compress(&cinfo);
    } catch (const CJPEGException& e) {
        // A failed write shows as the library's "Output file write error"; the system's
        // reason (errno) says why.
        const int error = errno;
        jpeg_destroy_compress(&cinfo);
        return e.m_nCode == JERR_FILE_WRITE && error ? CStatus::FromErrno(error)
                                                     : CStatus::Failure(e.m_strMessage);
    }
    jpeg_destroy_compress(&cinfo);
    return {};
}
