#include "stack/frame_prefetch.h"

#include <utility>

CPrefetchSource::CPrefetchSource(IFrameSource& source)
    : m_source(source), m_reader([this](const std::stop_token& stop) { Read(stop); }) {}

CPrefetchSource::~CPrefetchSource() {
    m_reader.request_stop();
    m_changed.notify_all();
}

void CPrefetchSource::Read(const std::stop_token& stop) {
    std::unique_lock lock(m_lock);
    for (;;) {
        if (!m_changed.wait(lock, stop, [this] { return m_bAsked && !m_got; }))
            return;
        SFrame frame = std::move(m_ahead);
        lock.unlock();
        CResult<bool> got = m_source.Next(frame);
        lock.lock();
        m_ahead = std::move(frame);
        m_got.emplace(std::move(got));
        m_changed.notify_all();
    }
}

void CPrefetchSource::WaitIdle(std::unique_lock<std::mutex>& lock) {
    if (m_bAsked)
        m_changed.wait(lock, [this] { return m_got.has_value(); });
}

CResult<bool> CPrefetchSource::Next(SFrame& frame) {
    std::unique_lock lock(m_lock);
    if (!m_bAsked) {
        m_bAsked = true;
        m_changed.notify_all();
    }
    WaitIdle(lock);
    CResult<bool> got = std::move(*m_got);
    m_got.reset();
    std::swap(frame, m_ahead);  // the caller's old buffer is reused for the read after
    // Past the end or a failure nothing more is read until a rewind.
    m_bAsked = got.Ok() && *got;
    if (m_bAsked)
        m_changed.notify_all();
    return got;
}

CStatus CPrefetchSource::Rewind() {
    std::unique_lock lock(m_lock);
    WaitIdle(lock);
    m_bAsked = false;
    m_got.reset();
    return m_source.Rewind();  // the reader is idle until asked again
}
