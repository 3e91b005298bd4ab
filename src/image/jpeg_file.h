// JPEG files through libjpeg (interface 62): read into a 24-bit CDibImage, write a 24-bit one.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

#include "image/dib_image.h"

// Fails unless the whole image was decoded, with the reason. The image is always
// made 24 bits per pixel; `isGrey` is set to 1 for greyscale output. With `swapToBgr` the
// library's R, G, B are stored as B, G, R (the image's order). CMYK and YCCK files are turned
// into RGB. Data that ends early or is damaged (the library's premature-end and corrupt-data
// warnings) fails the read like an error; other warnings are ignored. A read that fails before
// the size is known leaves the image as it was; one that fails later leaves it empty. An image
// that already has the file's size at 24 bits is decoded into as it is, without a new block.
CStatus ReadJpegFile(const std::string& path, CDibImage& image, int& isGrey, bool swapToBgr);
// The same from an open stream positioned at the start of the JPEG data.
CStatus ReadJpegStream(std::FILE* file, CDibImage& image, int& isGrey, bool swapToBgr);

// Decodes a JPEG file a strip of rows at a time into `strip` (made the picture's width and at
// most kJpegStripRows rows high, and kept from call to call), never holding the whole picture,
// as ReadJpegFile with the swap flag would decode it: `m_rows(top, count)` once strip rows
// 0..count-1 (from the top) hold the picture's rows top..top+count-1. When the read then fails,
// the rows shown are decoded once more from the same bytes and handed to `m_undo(top, count)`
// the same way, so a caller can take back what it did with them; `m_undoLost()` follows when
// the rows shown could not all be decoded again. The picture's size once the whole picture was
// decoded; the read's failure otherwise.
constexpr int kJpegStripRows = 16;
struct CJpegStripHook {
    std::function<void(int top, int count)> m_rows;
    std::function<void(int top, int count)> m_undo;
    std::function<void()> m_undoLost;
};
struct CPictureSize {
    int m_nWidth = 0;
    int m_nHeight = 0;
};
CResult<CPictureSize> ReadJpegStrips(const std::string& path, CDibImage& strip,
                                     const CJpegStripHook& hook);

// Writes the file, or says why it could not. `quality` is 1..100;
// `grey` writes one component; `swapToRgb` hands B, G, R rows to the library as R, G, B.
// The file is written beside its target and renamed into place (CAtomicFile) as `commit` says.
CStatus WriteJpegFile(const std::string& path, CDibImage& image, int quality, bool grey,
                      bool swapToRgb, const CCommitOptions& commit = {});
// The same bytes into an open stream (a file or memory), left open.
CStatus WriteJpegStream(std::FILE* file, CDibImage& image, int quality, bool grey, bool swapToRgb);
