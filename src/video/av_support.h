// What the video reader needs around FFmpeg's libraries: error texts, the log that collects a
// reader's errors instead of printing them, owners of the libraries' objects, and an in-memory
// file to read media from.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include <cstdint>
#include <mutex>
#include <string>

namespace video_detail {

// The libraries' text for an AVERROR code.
std::string AvText(int error);

// The errors the libraries log for one reader: a demuxer that meets the end of a cut file
// only logs it, a decoder hides damage it can conceal, and either log says more than an error
// code. Decoder threads log too, hence the lock.
class CLogSink {
public:
    void Add(std::string text) {
        std::lock_guard lock(m_mutex);
        m_strLast = std::move(text);
        ++m_nErrors;
    }
    int Errors() const {
        std::lock_guard lock(m_mutex);
        return m_nErrors;
    }
    std::string Last() const {
        std::lock_guard lock(m_mutex);
        return m_strLast;
    }
    void Clear() {
        std::lock_guard lock(m_mutex);
        m_strLast.clear();
        m_nErrors = 0;
    }

private:
    mutable std::mutex m_mutex;
    std::string m_strLast;
    int m_nErrors = 0;
};

// Sends the libraries' log lines of a reader's demuxer and decoder to the CLogSink each carries
// as `opaque`, and prints nothing (once per process).
void QuietLibraries();

struct SFormatCloser {
    void operator()(AVFormatContext* fmt) const { avformat_close_input(&fmt); }
};
struct SCodecCloser {
    void operator()(AVCodecContext* ctx) const { avcodec_free_context(&ctx); }
};
struct SFrameFree {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct SPacketFree {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct SSwsFree {
    void operator()(SwsContext* sws) const { sws_freeContext(sws); }
};
// A custom AVIOContext and its buffer, which the context may have replaced.
struct SIoFree {
    void operator()(AVIOContext* io) const {
        av_freep(&io->buffer);
        avio_context_free(&io);
    }
};

struct SAvFree {
    void operator()(std::uint8_t* p) const { av_free(p); }
};

// The bytes of an in-memory file with a read position, read through a custom AVIOContext.
struct SMemoryFile {
    const std::uint8_t* m_pData = nullptr;
    std::int64_t m_nSize = 0;
    std::int64_t m_nPos = 0;

    static int Read(void* opaque, std::uint8_t* buffer, int size);
    static std::int64_t Seek(void* opaque, std::int64_t offset, int whence);
};

}  // namespace video_detail
