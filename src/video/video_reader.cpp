#include "video/video_reader.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include <sys/stat.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "video/av_support.h"

using namespace video_detail;

namespace {

std::string Seconds(std::int64_t ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%" PRId64 ".%03d s", ms / 1000, int(ms % 1000 + 1000) % 1000);
    return text;
}

constexpr int kIoBufferSize = 32768;

}  // namespace

struct CVideoReader::SImpl {
    std::string m_strPath;  // the file as messages name it
    bool m_bMemory = false;
    SMemoryFile m_memory;
    CVideoReadOptions m_options;
    CVideoInfo m_info;

    std::unique_ptr<AVIOContext, SIoFree> m_io;
    std::unique_ptr<AVFormatContext, SFormatCloser> m_format;
    std::unique_ptr<AVCodecContext, SCodecCloser> m_codec;
    std::unique_ptr<AVFrame, SFrameFree> m_frame{av_frame_alloc()};
    std::unique_ptr<AVPacket, SPacketFree> m_packet{av_packet_alloc()};
    std::unique_ptr<SwsContext, SSwsFree> m_sws;
    std::unique_ptr<std::uint8_t, SAvFree> m_scratch;  // rows padded to 64 bytes, aligned
    std::size_t m_nScratch = 0;
    int m_nStream = -1;
    AVRational m_timeBase{1, 1000};
    std::int64_t m_nStartTs = 0;  // the media's start in the stream's time base
    std::int64_t m_nFromTs = 0;
    std::optional<std::int64_t> m_toTs;
    std::int64_t m_nFrames = 0;  // frames handed out since the start of the range
    std::int64_t m_nLastMs = 0;  // the time of the last frame decoded
    std::int64_t m_nLastTs = AV_NOPTS_VALUE;
    std::int64_t m_nFrameTicks = 1;  // the length of a frame, for a frame without a time
    bool m_bFlushed = false;         // the demuxer's end reached, the decoder told so
    bool m_bEnded = false;
    CStatus m_failure;  // a failure ends the reader until Rewind
    CLogSink m_log;
    // Errors logged up to the first frame are taken as the usual start of a stream cut between
    // key frames; any later one fails the read.
    int m_nErrorsAccepted = 0;

    static int Interrupt(void* opaque) {
        const auto* impl = static_cast<const SImpl*>(opaque);
        return impl->m_options.m_stop && impl->m_options.m_stop() ? 1 : 0;
    }

    CStatus Fail(const std::string& reason) {
        m_failure = CStatus::Failure(m_strPath + ": " + reason);
        return m_failure;
    }
    // A failure of the libraries: `what` and their code, with the error they logged, if any.
    CStatus FailWith(const std::string& what, int error) {
        std::string reason = what + " (" + AvText(error);
        const std::string logged = m_log.Last();
        if (!logged.empty() && logged != AvText(error))
            reason += ": " + logged;
        return Fail(reason + ")");
    }
    std::string After() const {
        return m_nFrames > 0 || m_nLastTs != AV_NOPTS_VALUE ? " after " + Seconds(m_nLastMs)
                                                            : " at the start";
    }

    CStatus OpenInput();
    CResult<bool> Decode(SFrame& out);
    CStatus Convert(const AVFrame& frame, SFrame& out);
};

CStatus CVideoReader::SImpl::OpenInput() {
    QuietLibraries();
    m_log.Clear();
    m_nErrorsAccepted = 0;
    m_format.reset();
    m_codec.reset();
    m_io.reset();
    m_nFrames = 0;
    m_nLastMs = 0;
    m_nLastTs = AV_NOPTS_VALUE;
    m_bFlushed = m_bEnded = false;
    m_failure = CStatus();

    AVFormatContext* fmt = avformat_alloc_context();
    if (!fmt)
        return Fail("out of memory");
    fmt->interrupt_callback = {&SImpl::Interrupt, this};
    fmt->opaque = &m_log;
    AVDictionary* opts = nullptr;
    std::string url;
    if (m_bMemory) {
        m_memory.m_nPos = 0;
        auto* buffer = static_cast<std::uint8_t*>(av_malloc(kIoBufferSize));
        AVIOContext* io = buffer
                              ? avio_alloc_context(buffer, kIoBufferSize, 0, &m_memory,
                                                   &SMemoryFile::Read, nullptr, &SMemoryFile::Seek)
                              : nullptr;
        if (!io) {
            av_free(buffer);
            avformat_free_context(fmt);
            return Fail("out of memory");
        }
        m_io.reset(io);
        fmt->pb = io;
        fmt->flags |= AVFMT_FLAG_CUSTOM_IO;
        // Bytes in memory open nothing else (no playlists reaching for other files).
        fmt->io_open = [](AVFormatContext*, AVIOContext**, const char*, int, AVDictionary**) {
            return AVERROR(EPERM);
        };
    } else {
        // "file:" keeps a colon in the name from reading as a protocol; a playlist may open
        // other local files, never a network address.
        url = "file:" + m_strPath;
        av_dict_set(&opts, "protocol_whitelist", "file", 0);
    }
    int ret = avformat_open_input(&fmt, m_bMemory ? nullptr : url.c_str(), nullptr, &opts);
    av_dict_free(&opts);
    if (ret < 0) {  // fmt is freed
        if (ret == AVERROR_EXIT)
            return Fail("stopped");
        return FailWith("not a media file that can be read", ret);
    }
    m_format.reset(fmt);
    ret = avformat_find_stream_info(fmt, nullptr);
    if (ret < 0)
        return ret == AVERROR_EXIT ? Fail("stopped") : FailWith("its streams cannot be read", ret);
    const AVCodec* decoder = nullptr;
    ret = av_find_best_stream(fmt, AVMEDIA_TYPE_VIDEO, -1, -1, &decoder, 0);
    if (ret == AVERROR_STREAM_NOT_FOUND)
        return Fail("has no video");
    if (ret < 0 || !decoder) {
        const AVStream* any = fmt->nb_streams > 0 ? fmt->streams[0] : nullptr;
        for (unsigned i = 0; i < fmt->nb_streams; ++i)
            if (fmt->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO)
                any = fmt->streams[i];
        return Fail("no decoder for its video (" +
                    std::string(any ? avcodec_get_name(any->codecpar->codec_id) : "unknown") + ")");
    }
    m_nStream = ret;
    AVStream* stream = fmt->streams[m_nStream];
    const AVCodecParameters* par = stream->codecpar;
    if (par->width > kMaxVideoSide || par->height > kMaxVideoSide ||
        std::int64_t(par->width) * par->height > kMaxVideoPixels)
        return Fail("frames of " + std::to_string(par->width) + "x" + std::to_string(par->height) +
                    " are over the bound of " + std::to_string(kMaxVideoPixels) + " pixels");
    // Every other stream is left unread.
    for (unsigned i = 0; i < fmt->nb_streams; ++i)
        if (int(i) != m_nStream)
            fmt->streams[i]->discard = AVDISCARD_ALL;

    AVCodecContext* ctx = avcodec_alloc_context3(decoder);
    if (!ctx)
        return Fail("out of memory");
    m_codec.reset(ctx);
    ret = avcodec_parameters_to_context(ctx, par);
    if (ret < 0)
        return FailWith("the video decoder cannot start", ret);
    ctx->pkt_timebase = stream->time_base;
    ctx->thread_count = std::max(m_options.m_nThreads, 0);
    // The decoder refuses larger frames itself, before it allocates them. Damage it conceals
    // is seen in its log (the decoder's "explode" mode would say it too, but some decoders
    // abort the process in it).
    ctx->max_pixels = kMaxVideoPixels;
    ctx->opaque = &m_log;
    ret = avcodec_open2(ctx, decoder, nullptr);
    if (ret < 0)
        return FailWith("the video decoder cannot start", ret);

    m_timeBase = stream->time_base;
    if (m_timeBase.num <= 0 || m_timeBase.den <= 0)
        return Fail("its video has no usable time base");
    m_nStartTs = fmt->start_time == AV_NOPTS_VALUE
                     ? 0
                     : av_rescale_q(fmt->start_time, AV_TIME_BASE_Q, m_timeBase);
    std::int64_t toTs = 0;
    if (__builtin_add_overflow(m_nStartTs, av_rescale_q(m_options.m_nFromMs, {1, 1000}, m_timeBase),
                               &m_nFromTs) ||
        __builtin_add_overflow(
            m_nStartTs, av_rescale_q(m_options.m_toMs.value_or(0), {1, 1000}, m_timeBase), &toTs))
        return Fail("its start time is out of range");
    m_toTs.reset();
    if (m_options.m_toMs)
        m_toTs = toTs;
    const AVRational rate = av_guess_frame_rate(fmt, stream, nullptr);
    m_nFrameTicks = rate.num > 0 && rate.den > 0
                        ? std::max<std::int64_t>(av_rescale_q(1, av_inv_q(rate), m_timeBase), 1)
                        : 1;
    m_info.m_nWidth = par->width;
    m_info.m_nHeight = par->height;
    m_info.m_strCodec = decoder->name;
    m_info.m_nDurationMs = fmt->duration > 0 ? av_rescale(fmt->duration, 1000, AV_TIME_BASE) : -1;

    // To the key frame at or before the start; the frames before it are decoded and dropped.
    // A file that cannot seek is read from its beginning instead.
    if (m_options.m_nFromMs > 0 &&
        avformat_seek_file(fmt, m_nStream, INT64_MIN, m_nFromTs, m_nFromTs, 0) < 0) {
        if (avformat_seek_file(fmt, m_nStream, INT64_MIN, m_nStartTs, m_nStartTs, 0) < 0 &&
            Interrupt(this))
            return Fail("stopped");
    }
    m_nErrorsAccepted = m_log.Errors();
    return {};
}

CStatus CVideoReader::SImpl::Convert(const AVFrame& frame, SFrame& out) {
    const auto format = AVPixelFormat(frame.format);
    m_sws.reset(sws_getCachedContext(m_sws.release(), frame.width, frame.height, format,
                                     frame.width, frame.height, AV_PIX_FMT_BGR24, SWS_BICUBIC,
                                     nullptr, nullptr, nullptr));
    if (!m_sws)
        return Fail("its frames (" + std::string(av_get_pix_fmt_name(format) ?: "unknown") +
                    ") cannot be converted to BGR");
    // The colour matrix and range the frame states, as FFmpeg's own scale filter takes them.
    int* inTable = nullptr;
    int* outTable = nullptr;
    int inFull = 0, outFull = 0, brightness = 0, contrast = 0, saturation = 0;
    if (sws_getColorspaceDetails(m_sws.get(), &inTable, &inFull, &outTable, &outFull, &brightness,
                                 &contrast, &saturation) >= 0) {
        const int* table = sws_getCoefficients(frame.colorspace);
        if (frame.color_range != AVCOL_RANGE_UNSPECIFIED)
            inFull = frame.color_range == AVCOL_RANGE_JPEG;
        sws_setColorspaceDetails(m_sws.get(), table, inFull, table, outFull, brightness, contrast,
                                 saturation);
    }
    out.width = frame.width;
    out.height = frame.height;
    const std::size_t rowBytes = std::size_t(frame.width) * 3;
    out.bgr.resize(rowBytes * std::size_t(frame.height));
    // The converter's vector code writes whole blocks of pixels: a row whose width is not a
    // multiple of 16 goes through a padded buffer, as FFmpeg's own frames are, which keeps the
    // pixels the same and the writes inside the buffer.
    const bool direct = frame.width % 16 == 0;
    const std::size_t stride = direct ? rowBytes : (rowBytes + 63) / 64 * 64;
    if (!direct) {
        const std::size_t bytes = stride * std::size_t(frame.height + 1);
        if (m_nScratch < bytes) {
            m_scratch.reset(static_cast<std::uint8_t*>(av_malloc(bytes)));
            m_nScratch = m_scratch ? bytes : 0;
            if (!m_scratch)
                return Fail("out of memory for a frame of " + std::to_string(frame.width) + "x" +
                            std::to_string(frame.height));
        }
    }
    std::uint8_t* dst[4] = {direct ? out.bgr.data() : m_scratch.get(), nullptr, nullptr, nullptr};
    int dstStride[4] = {int(stride), 0, 0, 0};
    if (sws_scale(m_sws.get(), frame.data, frame.linesize, 0, frame.height, dst, dstStride) !=
        frame.height)
        return Fail("converting the frame" + After() + " to BGR failed");
    if (!direct)
        for (int y = 0; y < frame.height; ++y)
            std::memcpy(out.bgr.data() + std::size_t(y) * rowBytes,
                        m_scratch.get() + std::size_t(y) * stride, rowBytes);
    return {};
}

CResult<bool> CVideoReader::SImpl::Decode(SFrame& out) {
    if (!m_failure)
        return m_failure;
    if (m_bEnded)
        return false;
    AVFormatContext* fmt = m_format.get();
    AVCodecContext* ctx = m_codec.get();
    AVFrame* frame = m_frame.get();
    AVPacket* packet = m_packet.get();
    for (;;) {
        if (Interrupt(this))
            return Fail("stopped");
        int ret = avcodec_receive_frame(ctx, frame);
        if (ret == 0) {
            std::int64_t ts = frame->best_effort_timestamp;
            if (ts == AV_NOPTS_VALUE)
                ts = frame->pts;
            std::int64_t sinceStart = 0;
            if (ts == AV_NOPTS_VALUE &&  // no time at all: one frame after the one before
                __builtin_add_overflow(m_nLastTs == AV_NOPTS_VALUE ? m_nStartTs : m_nLastTs,
                                       m_nLastTs == AV_NOPTS_VALUE ? 0 : m_nFrameTicks, &ts))
                ts = AV_NOPTS_VALUE;
            if (ts == AV_NOPTS_VALUE || __builtin_sub_overflow(ts, m_nStartTs, &sinceStart)) {
                av_frame_unref(frame);
                return Fail("the frame" + After() + " has a time out of range");
            }
            if (frame->pkt_duration > 0)
                m_nFrameTicks = frame->pkt_duration;
            if (m_nFrames == 0 && m_nLastTs == AV_NOPTS_VALUE)
                m_nErrorsAccepted = m_log.Errors();
            const bool damaged = (frame->flags & AV_FRAME_FLAG_CORRUPT) != 0 ||
                                 frame->decode_error_flags != 0 ||
                                 m_log.Errors() > m_nErrorsAccepted;
            const int width = frame->width, height = frame->height;
            if (damaged) {
                av_frame_unref(frame);
                const std::string logged = m_log.Last();
                return Fail("the video is damaged" + After() +
                            (logged.empty() ? std::string() : " (" + logged + ")"));
            }
            m_nLastTs = ts;
            m_nLastMs = av_rescale_q(sinceStart, m_timeBase, {1, 1000});
            if (m_options.m_nFromMs > 0 && ts < m_nFromTs) {
                av_frame_unref(frame);
                continue;
            }
            if (m_toTs && ts >= *m_toTs) {
                av_frame_unref(frame);
                m_bEnded = true;
                return false;
            }
            if (width <= 0 || height <= 0 || width > kMaxVideoSide || height > kMaxVideoSide ||
                std::int64_t(width) * height > kMaxVideoPixels) {
                av_frame_unref(frame);
                return Fail("a frame of " + std::to_string(width) + "x" + std::to_string(height) +
                            " is outside the bounds (at most " + std::to_string(kMaxVideoPixels) +
                            " pixels)");
            }
            const CStatus converted = Convert(*frame, out);
            av_frame_unref(frame);
            if (!converted)
                return converted;
            out.timeMs = m_nLastMs;
            ++m_nFrames;
            if (m_options.m_maxFrames && m_nFrames >= *m_options.m_maxFrames)
                m_bEnded = true;
            return true;
        }
        if (ret == AVERROR_EOF) {
            m_bEnded = true;
            return false;
        }
        if (ret != AVERROR(EAGAIN))
            return FailWith("decoding failed" + After(), ret);
        if (m_bFlushed)  // cannot happen: a flushed decoder ends with AVERROR_EOF
            return Fail("the decoder stalled" + After());

        ret = av_read_frame(fmt, packet);
        if (ret == AVERROR_EXIT)
            return Fail("stopped");
        if (ret == AVERROR_EOF) {
            // A demuxer reaching the end of a cut file logs it and ends as at a true end.
            if (m_log.Errors() > m_nErrorsAccepted)
                return Fail("the file is cut short or damaged" + After() + " (" + m_log.Last() +
                            ")");
            m_bFlushed = true;
            ret = avcodec_send_packet(ctx, nullptr);
            if (ret < 0 && ret != AVERROR_EOF)
                return FailWith("decoding failed" + After(), ret);
            continue;
        }
        if (ret < 0)
            return FailWith("reading failed" + After(), ret);
        if (packet->stream_index != m_nStream) {
            av_packet_unref(packet);
            continue;
        }
        if (packet->flags & AV_PKT_FLAG_CORRUPT) {
            av_packet_unref(packet);
            return Fail("the data" + After() + " is damaged or cut short");
        }
        ret = avcodec_send_packet(ctx, packet);
        av_packet_unref(packet);
        if (ret < 0 && ret != AVERROR(EAGAIN))
            return FailWith("decoding failed" + After(), ret);
    }
}

CVideoReader::CVideoReader(std::unique_ptr<SImpl> impl) : m_impl(std::move(impl)) {}
CVideoReader::~CVideoReader() = default;

namespace {

CResult<std::unique_ptr<CVideoReader>> Opened(std::unique_ptr<CVideoReader> reader,
                                              const CStatus& status) {
    if (!status)
        return status;
    return reader;
}

}  // namespace

CResult<std::unique_ptr<CVideoReader>> CVideoReader::Open(const std::string& path,
                                                          const CVideoReadOptions& options) {
    // Only a regular file: a pipe or a device could block or never end.
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return CStatus::Failure(path + ": " +
                                (errno == ENOENT ? "no such file" : ErrnoText(errno)));
    if (S_ISDIR(st.st_mode))
        return CStatus::Failure(path + ": is a folder, not a media file");
    if (!S_ISREG(st.st_mode))
        return CStatus::Failure(path + ": not a regular file");
    auto impl = std::make_unique<SImpl>();
    impl->m_strPath = path;
    impl->m_options = options;
    SImpl& ref = *impl;
    std::unique_ptr<CVideoReader> reader(new CVideoReader(std::move(impl)));
    return Opened(std::move(reader), ref.OpenInput());
}

CResult<std::unique_ptr<CVideoReader>> CVideoReader::OpenMemory(const std::uint8_t* data,
                                                                std::size_t size,
                                                                const std::string& name,
                                                                const CVideoReadOptions& options) {
    auto impl = std::make_unique<SImpl>();
    impl->m_strPath = name;
    impl->m_bMemory = true;
    impl->m_memory.m_pData = data;
    impl->m_memory.m_nSize = std::int64_t(size);
    impl->m_options = options;
    SImpl& ref = *impl;
    std::unique_ptr<CVideoReader> reader(new CVideoReader(std::move(impl)));
    return Opened(std::move(reader), ref.OpenInput());
}

const CVideoInfo& CVideoReader::Info() const {
    return m_impl->m_info;
}

CResult<bool> CVideoReader::Next(SFrame& frame) {
    return m_impl->Decode(frame);
}

CStatus CVideoReader::Rewind() {
    // Opened afresh: every format can start again that way, seekable or not.
    return m_impl->OpenInput();
}
