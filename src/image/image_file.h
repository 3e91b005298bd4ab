// Reading and writing an image file chosen by its extension, as the command line and the jobs do.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "image/dib_image.h"

// True for ".bmp" and ".dib", any case.
bool IsBmpPath(const std::string& path);
// True for ".jpg" and ".jpeg", any case.
bool IsJpegPath(const std::string& path);
// True for ".png", any case.
bool IsPngPath(const std::string& path);

// ".bmp"/".dib": LoadBmp then ConvertTo24; ".jpg"/".jpeg": ReadJpegFile with the swap flag.
// Succeeds when `image` holds a 24-bit picture with pixels; otherwise the reason says what is
// wrong.
CStatus LoadImageFile(const std::string& path, CDibImage& image);
// The same, except that a BMP is read into the block `image` already holds
// (CDibImage::LoadBmpIntoBlock), so a loop over files of one size allocates once.
CStatus LoadImageFileReusing(const std::string& path, CDibImage& image);

// The picture's width and height as its header states them, read without decoding (BMP by its
// info header, JPEG by its first frame header), so that a job can refuse a picture too large
// for it before holding it. None when the header cannot be read; a load then says why.
std::optional<std::pair<int, int>> PeekImageSize(const std::string& path);

// ".bmp"/".dib": SaveBmp; anything else: WriteJpegFile with the swap flag at `quality`. The
// reason of a failure does not repeat the path. The written file takes its place as `commit`
// says.
CStatus SaveImageFile(const std::string& path, CDibImage& image, int quality,
                      const CCommitOptions& commit = {});

// The file types a picture is written as.
enum class PictureFileType { Bmp, Jpg, Png };
// By the extension, any case: ".bmp"/".dib", ".jpg"/".jpeg", ".png"; none for anything else.
std::optional<PictureFileType> PictureFileTypeOf(const std::string& path);
// Writes `image` as `type` (a JPEG at `quality`, held to 1..100), otherwise as SaveImageFile.
CStatus SavePictureFile(const std::string& path, CDibImage& image, PictureFileType type,
                        int quality, const CCommitOptions& commit = {});
