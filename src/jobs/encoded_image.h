// An image file made in memory on one thread and put in place on another: the jobs' workers
// encode, the driving thread writes, in scan order and only for files it has reported.
#pragma once

#include <string>

#include "image/dib_image.h"
#include "platform/atomic_file.h"
#include "platform/status.h"

// The bytes SaveImageFile would write to `path` (BMP for ".bmp"/".dib", else JPEG at
// `quality`), into `bytes`.
[[nodiscard]] CStatus EncodeImageFile(const std::string& path, CDibImage& image, int quality,
                                      std::string& bytes);
// Writes `bytes` as the whole of `path` through CAtomicFile, taking its place as `commit` says.
[[nodiscard]] CStatus WriteEncodedFile(const std::string& path, const std::string& bytes,
                                       const CCommitOptions& commit = {});
