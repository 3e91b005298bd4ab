// PNG files through libpng: a 24-bit picture written as 8-bit RGB.
#pragma once

#include <cstdio>

#include "image/dib_image.h"
#include "platform/atomic_file.h"
#include "platform/status.h"

// Writes the 24-bit `image` as an RGB PNG (no interlacing, the library's default compression),
// beside its target and renamed into place (CAtomicFile) as `commit` says. The reason of a
// failure does not repeat the path.
CStatus WritePngFile(const std::string& path, const CDibImage& image,
                     const CCommitOptions& commit = {});
// The same bytes into an open stream, left open.
CStatus WritePngStream(std::FILE* file, const CDibImage& image);
