#include "video/av_support.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace video_detail {

namespace {

// The libraries' own log lines would interleave with the program's messages: every failure
// reaches the user through the reader's reasons instead, so nothing is printed, on purpose. A
// reader's demuxer and decoder (each decoder thread's copy too) carry its sink as `opaque`.
void OnLibraryLog(void* object, int level, const char* format, va_list args) {
    if (level > AV_LOG_ERROR || !object)
        return;
    const AVClass* cls = *static_cast<const AVClass* const*>(object);
    if (!cls || !cls->class_name)
        return;
    void* opaque = nullptr;
    if (std::strcmp(cls->class_name, "AVFormatContext") == 0)
        opaque = static_cast<AVFormatContext*>(object)->opaque;
    else if (std::strcmp(cls->class_name, "AVCodecContext") == 0)
        opaque = static_cast<AVCodecContext*>(object)->opaque;
    if (!opaque)
        return;
    char line[256];
    std::vsnprintf(line, sizeof line, format, args);
    std::string text = line;
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ' || text.back() == '.'))
        text.pop_back();
    if (!text.empty())
        static_cast<CLogSink*>(opaque)->Add(std::move(text));
}

}  // namespace

void QuietLibraries() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_callback(&OnLibraryLog); });
}

std::string AvText(int error) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof text);
    return text;
}

int SMemoryFile::Read(void* opaque, std::uint8_t* buffer, int size) {
    auto* file = static_cast<SMemoryFile*>(opaque);
    const std::int64_t left = file->m_nSize - file->m_nPos;
    if (left <= 0)
        return AVERROR_EOF;
    const int count = int(std::min<std::int64_t>(left, size));
    std::memcpy(buffer, file->m_pData + file->m_nPos, std::size_t(count));
    file->m_nPos += count;
    return count;
}
std::int64_t SMemoryFile::Seek(void* opaque, std::int64_t offset, int whence) {
    auto* file = static_cast<SMemoryFile*>(opaque);
    std::int64_t pos = 0;
    switch (whence & ~AVSEEK_FORCE) {
        case AVSEEK_SIZE:
            return file->m_nSize;
        case SEEK_SET:
            pos = offset;
            break;
        case SEEK_CUR:
            pos = file->m_nPos + offset;
            break;
        case SEEK_END:
            pos = file->m_nSize + offset;
            break;
        default:
            return AVERROR(EINVAL);
    }
    if (pos < 0 || pos > file->m_nSize)
        return AVERROR(EINVAL);
    file->m_nPos = pos;
    return pos;
}

}  // namespace video_detail
