// Every frame of a media file's video, decoded with FFmpeg's libraries and converted to packed
// BGR24 at the frame's own size: the frame source behind the still engine and `frames`.
//
// One reader is used by one thread at a time. The stop function, when given, is asked between
// packets and while the demuxer waits on the file, so a stop ends even a long read at once.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "image/frame_source.h"
#include "platform/status.h"

// Frames above this many pixels, or with a side over kMaxVideoSide, are refused before any is
// decoded: a hostile header never makes the decoder allocate without bound.
inline constexpr std::int64_t kMaxVideoPixels = 40'000'000;  // 8K UHD fits (33.2 megapixels)
inline constexpr int kMaxVideoSide = 16384;

struct CVideoReadOptions {
    // The first frame is the first whose time is at or after this (ms from the media's start).
    std::int64_t m_nFromMs = 0;
    // Frames at or after this time are not read; none: to the end.
    std::optional<std::int64_t> m_toMs;
    // At most this many frames; none: no limit.
    std::optional<std::int64_t> m_maxFrames;
    // Decoder threads; 0 lets the decoder choose.
    int m_nThreads = 0;
    // True when the read is to stop: Next then fails with the reason "stopped". Must be cheap
    // and must not re-enter the reader.
    std::function<bool()> m_stop;
};

// What a reader found on opening.
struct CVideoInfo {
    int m_nWidth = 0;
    int m_nHeight = 0;
    std::string m_strCodec;           // the decoder's short name ("h264")
    std::int64_t m_nDurationMs = -1;  // of the whole media; -1 when unknown
};

class CVideoReader : public IFrameSource {
public:
    ~CVideoReader() override;
    CVideoReader(const CVideoReader&) = delete;
    CVideoReader& operator=(const CVideoReader&) = delete;

    // Opens the file, picks its best video stream and seeks to the start of the range. Every
    // failure names the file.
    static CResult<std::unique_ptr<CVideoReader>> Open(const std::string& path,
                                                       const CVideoReadOptions& options);
    // The same over bytes in memory (kept by the caller while the reader lives); `name` stands
    // for the file in messages.
    static CResult<std::unique_ptr<CVideoReader>> OpenMemory(const std::uint8_t* data,
                                                             std::size_t size,
                                                             const std::string& name,
                                                             const CVideoReadOptions& options);

    const CVideoInfo& Info() const;

    // The next frame of the range, with its time in ms from the media's start: true, or false
    // after the last. A damaged or cut file, a frame over the bounds, or a stop fails with the
    // file's name and the reason; the reader then stays failed until Rewind.
    CResult<bool> Next(SFrame& frame) override;
    // Back to the first frame of the range.
    CStatus Rewind() override;

private:
    struct SImpl;
    explicit CVideoReader(std::unique_ptr<SImpl> impl);
    std::unique_ptr<SImpl> m_impl;
};
