// Resizing on sizes chosen by the input: a plain resize, a fill, or a window of a resize, on a
// kernel and thread count chosen by the input. Checks: a one-colour source stays that colour;
// any kernel gives the scalar reference's bytes; a fill equals the whole scaled image cut
// afterwards, and a window the same rectangle of the whole resize, whenever the whole one is
// small enough to make.
//
// Input: operation byte (bits 0-1 the operation, 2 a one-colour source, 3-5 the kernel, 6-7 the
// threads), source width and height and target width and height (two bytes each), the colour of
// a one-colour source (three bytes), the size and place of a window (four bytes), then the
// source's samples, repeated as needed.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "image/dib_image.h"
#include "jobs/resize_to_fill.h"
#include "resample/resample_options.h"
#include "resample/resize_dib.h"

namespace {

// Largest whole image made as a reference, in pixels: keeps each run fast.
constexpr std::int64_t kReferencePixels = 1 << 18;

struct Input {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t at = 0;
    int Byte() { return at < size ? data[at++] : 0; }
    int Word() { return Byte() | (Byte() << 8); }
};

[[noreturn]] void Fail(const char* what, int sw, int sh, int w, int h,
                       const CResampleOptions& options) {
    std::fprintf(stderr, "%s: %dx%d to %dx%d on %s\n", what, sw, sh, w, h,
                 ResampleKernelName(options.m_kernel));
    std::abort();
}

// Picture row y (0 = top).
const std::uint8_t* TopRow(const CDibImage& image, int y) {
    return image.Bits() + std::ptrdiff_t(image.m_nHeight - 1 - y) * image.m_nRowBytes;
}

std::vector<std::uint8_t> Pixels(const CDibImage& image) {
    std::vector<std::uint8_t> bytes;
    for (int y = 0; y < image.m_nHeight; ++y) {
        const std::uint8_t* row = TopRow(image, y);
        bytes.insert(bytes.end(), row, row + 3 * image.m_nWidth);
    }
    return bytes;
}

bool OneColour(const CDibImage& image, const std::uint8_t colour[3]) {
    for (int y = 0; y < image.m_nHeight; ++y) {
        const std::uint8_t* row = TopRow(image, y);
        for (int x = 0; x < image.m_nWidth; ++x) {
            if (std::memcmp(row + 3 * x, colour, 3) != 0)
                return false;
        }
    }
    return true;
}

// The rectangle at (x0, y0), rows from the top, of `whole`.
std::vector<std::uint8_t> Cut(const CDibImage& whole, int x0, int y0, int w, int h) {
    std::vector<std::uint8_t> bytes;
    for (int y = y0; y < y0 + h; ++y) {
        const std::uint8_t* row = TopRow(whole, y) + 3 * x0;
        bytes.insert(bytes.end(), row, row + 3 * w);
    }
    return bytes;
}

// The whole resize to w x h on the scalar reference; false when it is too large to make here.
bool Reference(const CDibImage& src, int w, int h, CDibImage& whole) {
    if (std::int64_t(w) * h > kReferencePixels)
        return false;
    const CResampleOptions scalar{ResampleKernel::kScalar, 1};
    if (!whole.Create(w, h, 24) || !ResizeDib(scalar, src, whole))
        Fail("reference resize failed", src.m_nWidth, src.m_nHeight, w, h, scalar);
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input in{data, size};
    const int op = in.Byte();
    // Sides up to 2048 for the source and 1024 for the target, so that strips and columns of
    // extreme proportions come up; their areas are held small.
    const int sw = 1 + in.Word() % 2048, sh = 1 + in.Word() % 2048;
    const int w = 1 + in.Word() % 1024, h = 1 + in.Word() % 1024;
    if (std::int64_t(sw) * sh > (1 << 16) || std::int64_t(w) * h > (1 << 18))
        return 0;

    static const std::vector<ResampleKernel> kernels = [] {
        std::vector<ResampleKernel> k;
        for (const ResampleKernel kernel : {ResampleKernel::kScalar, ResampleKernel::kBaseline,
                                            ResampleKernel::kAvx2, ResampleKernel::kAvx512}) {
            if (ResampleKernelSupported(kernel))
                k.push_back(kernel);
        }
        return k;
    }();
    const CResampleOptions options{kernels[std::size_t(op >> 3 & 7) % kernels.size()],
                                   1 + (op >> 6) % 3};

    // The source: one colour, or the rest of the input repeated.
    const bool uniform = op & 4;
    std::uint8_t colour[3] = {std::uint8_t(in.Byte()), std::uint8_t(in.Byte()),
                              std::uint8_t(in.Byte())};
    const int window[4] = {in.Byte(), in.Byte(), in.Byte(), in.Byte()};
    const std::size_t rest = in.at < size ? size - in.at : 0;
    CDibImage src;
    if (!src.Create(sw, sh, 24))
        return 0;
    std::size_t k = 0;
    for (int y = 0; y < sh; ++y) {
        std::uint8_t* row = src.TopRow(y);
        for (int x = 0; x < 3 * sw; ++x, ++k) {
            row[x] = uniform ? colour[x % 3] : rest ? data[in.at + k % rest] : std::uint8_t(k * 29);
        }
    }

    CDibImage dst;
    switch (op & 3) {
        case 0:
        case 3: {  // fill
            if (!ResizeToFill(src, dst, w, h, options) || dst.m_nWidth != w || dst.m_nHeight != h)
                Fail("fill failed", sw, sh, w, h, options);
            if (uniform && !OneColour(dst, colour))
                Fail("a one-colour source changed colour in a fill", sw, sh, w, h, options);
            const double rw = double(w) / sw, rh = double(h) / sh;
            const int fullW = rw > rh ? w : int(sw * rh + 0.5);
            const int fullH = rw > rh ? int(sh * rw + 0.5) : h;
            CDibImage whole;
            if (Reference(src, fullW, fullH, whole) &&
                Pixels(dst) != Cut(whole, (fullW - w) / 2, (fullH - h) / 2, w, h)) {
                Fail("fill differs from cutting the whole scaled image", sw, sh, w, h, options);
            }
            break;
        }
        case 1: {  // resize
            if (!dst.Create(w, h, 24) || !ResizeDib(options, src, dst))
                Fail("resize failed", sw, sh, w, h, options);
            if (uniform && !OneColour(dst, colour))
                Fail("a one-colour source changed colour in a resize", sw, sh, w, h, options);
            CDibImage whole;
            if (Reference(src, w, h, whole) && Pixels(dst) != Pixels(whole))
                Fail("kernel differs from the scalar reference", sw, sh, w, h, options);
            break;
        }
        case 2: {  // a window of a resize to w x h
            const int ww = 1 + window[0] * w / 256, wh = 1 + window[1] * h / 256;
            const int x0 = window[2] * (w - ww + 1) / 256, y0 = window[3] * (h - wh + 1) / 256;
            if (!dst.Create(ww, wh, 24) || !ResizeDibWindow(options, src, w, h, x0, y0, dst))
                Fail("window failed", sw, sh, w, h, options);
            if (uniform && !OneColour(dst, colour))
                Fail("a one-colour source changed colour in a window", sw, sh, w, h, options);
            CDibImage whole;
            if (Reference(src, w, h, whole) && Pixels(dst) != Cut(whole, x0, y0, ww, wh))
                Fail("window differs from the whole resize", sw, sh, w, h, options);
            break;
        }
    }
    return 0;
}
