#include "jobs/encoded_image.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "image/image_file.h"
#include "image/jpeg_file.h"
#include "platform/atomic_file.h"

CStatus EncodeImageFile(const std::string& path, CDibImage& image, int quality,
                        std::string& bytes) {
    bytes.clear();
    if (!image.m_hDib)
        return CStatus::Failure("no image");
    const bool bBmp = IsBmpPath(path);
    if (bBmp && DibRead32(image.m_hDib->data()) != kInfoHeaderSize)
        return CStatus::Failure("unsupported: bitmap header is not the 40-byte form");
    char* buffer = nullptr;
    std::size_t size = 0;
    std::FILE* memory = open_memstream(&buffer, &size);
    if (!memory)
        return CStatus::FromErrno(errno);
    CStatus status = bBmp ? DibToBmpFile(image.m_hDib.get(), memory)
                          : WriteJpegStream(memory, image, quality, false, true);
    if (std::fclose(memory) != 0 && status)
        status = CStatus::FromErrno(errno);
    if (status) {
        try {
            bytes.assign(buffer, size);
        } catch (const std::bad_alloc&) {
            status = CStatus::Failure("out of memory");
        }
    }
    std::free(buffer);
    return status;
}

CStatus WriteEncodedFile(const std::string& path, const std::string& bytes,
                         const CCommitOptions& commit) {
    CAtomicFile out;
    if (CStatus opened = out.Open(path); !opened)
        return opened;
    if (std::fwrite(bytes.data(), 1, bytes.size(), out.Stream()) != bytes.size())
        return CStatus::FromErrno(errno ? errno : EIO);
    return out.Commit(commit);
}
