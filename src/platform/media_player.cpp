// The libmpv player: software rendering into the view, events turned into queued calls.
#include "platform/media_player.h"

#include "platform/mpv_library.h"

#include <QMetaObject>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <clocale>
#include <cmath>

namespace {

constexpr double kOpenTimeoutSeconds = 10.0;

// Property reply ids of the observed properties.
enum : std::uint64_t { kObserveTimePos = 1, kObservePause, kObserveEof, kObserveIdle };

}  // namespace

// ---- CPlayerView ----

bool CPlayerView::Resize(int width, int height) {
    std::lock_guard guard(m_lock);
    if (width == m_front.m_nWidth && height == m_front.m_nHeight)
        return true;
    return m_front.Create(width, height);
}

int CPlayerView::Width() const {
    std::lock_guard guard(m_lock);
    return m_front.m_nWidth;
}

int CPlayerView::Height() const {
    std::lock_guard guard(m_lock);
    return m_front.m_nHeight;
}

bool CPlayerView::Present(CGrabBitmap& back) {
    std::function<void()> presented;
    {
        std::lock_guard guard(m_lock);
        if (back.m_nWidth != m_front.m_nWidth || back.m_nHeight != m_front.m_nHeight)
            return false;
        m_front.Swap(back);
        ++m_nFrames;
        presented = m_fnPresented;
    }
    if (presented)
        presented();
    return true;
}

void CPlayerView::Clear() {
    std::lock_guard guard(m_lock);
    if (!m_front.IsEmpty())
        std::fill_n(m_front.Bits(), std::size_t(m_front.m_nStride) * m_front.m_nHeight, 0);
}

void CPlayerView::SetPresentedCallback(std::function<void()> callback) {
    std::lock_guard guard(m_lock);
    m_fnPresented = std::move(callback);
}

// ---- CMediaPlayer ----

// The wakeup callback's way back to the player. libmpv may call it from its own threads up to
// the moment the core is destroyed, so it reaches the player only through this guard, which
// the destructor empties first.
struct CMediaPlayer::WakeupGuard {
    std::mutex m_lock;
    CMediaPlayer* m_pPlayer = nullptr;
};

CStatus LoadPlayerLibrary() {
    return LoadMpv().Status();
}

CMediaPlayer::CMediaPlayer(bool bAudio, QObject* parent) : IMediaPlayer(parent), m_bAudio(bAudio) {}

MediaPlayerFactory MediaPlayerMaker(bool bAudio) {
    return [bAudio]() -> std::unique_ptr<IMediaPlayer> {
        return std::make_unique<CMediaPlayer>(bAudio);
    };
}

CStatus CMediaPlayer::Start() {
    if (m_bStartTried)
        return m_started;
    m_bStartTried = true;
    const CResult<const MpvApi*> loaded = LoadMpv();
    if (!loaded)
        return m_started =
                   CStatus::Failure("the player library could not be loaded: " + loaded.Reason());
    const MpvApi* api = *loaded;
    // libmpv refuses to start under a locale with another decimal separator; Qt's application
    // object sets the user's locale.
    std::setlocale(LC_NUMERIC, "C");
    m_pMpv = api->create();
    if (!m_pMpv)
        return m_started = CStatus::Failure("libmpv could not be started");
    m_pApi = api;
    const char* options[][2] = {
        {"vo", "libmpv"},     {"ao", m_bAudio ? "auto" : "null"},
        {"keep-open", "yes"}, {"idle", "yes"},
        {"pause", "yes"},     {"terminal", "no"},
        {"config", "no"},     {"input-default-bindings", "no"},
        {"osc", "no"},        {"load-scripts", "no"},
        {"ytdl", "no"},       {"hwdec", "no"},
        {"sub-auto", "no"},   {"osd-level", "0"},
    };
    for (const auto& option : options) m_pApi->set_option_string(m_pMpv, option[0], option[1]);
    if (const int err = m_pApi->initialize(m_pMpv); err < 0)
        return m_started = CStatus::Failure(std::string("libmpv: ") + m_pApi->error_string(err));
    mpv_render_param params[] = {
        {MPV_RENDER_PARAM_API_TYPE, const_cast<char*>(MPV_RENDER_API_TYPE_SW)},
        {MPV_RENDER_PARAM_INVALID, nullptr},
    };
    if (const int err = m_pApi->render_context_create(&m_pRender, m_pMpv, params); err < 0) {
        m_pRender = nullptr;
        return m_started =
                   CStatus::Failure(std::string("libmpv renderer: ") + m_pApi->error_string(err));
    }
    m_pApi->render_context_set_update_callback(m_pRender, &CMediaPlayer::OnRenderUpdate, this);
    m_renderThread = std::thread(&CMediaPlayer::RenderLoop, this);

    m_pApi->observe_property(m_pMpv, kObserveTimePos, "time-pos", MPV_FORMAT_DOUBLE);
    m_pApi->observe_property(m_pMpv, kObservePause, "pause", MPV_FORMAT_FLAG);
    m_pApi->observe_property(m_pMpv, kObserveEof, "eof-reached", MPV_FORMAT_FLAG);
    m_pApi->observe_property(m_pMpv, kObserveIdle, "idle-active", MPV_FORMAT_FLAG);
    m_pGuard = new WakeupGuard;
    m_pGuard->m_pPlayer = this;
    m_pApi->set_wakeup_callback(m_pMpv, &CMediaPlayer::OnWakeup, m_pGuard);
    return m_started;
}

CMediaPlayer::~CMediaPlayer() {
    if (m_pGuard) {
        std::lock_guard guard(m_pGuard->m_lock);
        m_pGuard->m_pPlayer = nullptr;
    }
    if (m_pMpv)
        m_pApi->set_wakeup_callback(m_pMpv, nullptr, nullptr);
    if (m_renderThread.joinable()) {
        {
            std::lock_guard guard(m_renderLock);
            m_bRenderQuit = true;
        }
        m_renderWake.notify_all();
        m_renderThread.join();
    }
    // The render context goes before the core.
    if (m_pRender)
        m_pApi->render_context_free(m_pRender);
    if (m_pMpv)
        m_pApi->terminate_destroy(m_pMpv);
    delete m_pGuard;
}

void CMediaPlayer::OnWakeup(void* ctx) {
    auto* guard = static_cast<WakeupGuard*>(ctx);
    std::lock_guard lock(guard->m_lock);
    if (guard->m_pPlayer)
        guard->m_pPlayer->PostDrain();
}

void CMediaPlayer::PostDrain() {
    if (m_bDrainPosted.exchange(true))
        return;
    QMetaObject::invokeMethod(
        this, [this] { DrainEvents(); }, Qt::QueuedConnection);
}

void CMediaPlayer::OnRenderUpdate(void* ctx) {
    auto* self = static_cast<CMediaPlayer*>(ctx);
    {
        std::lock_guard guard(self->m_renderLock);
        self->m_bRenderUpdate = true;
    }
    self->m_renderWake.notify_all();
}

bool CMediaPlayer::SetViewSize(int width, int height) {
    if (!m_view.Resize(width, height))
        return false;
    {
        std::lock_guard guard(m_renderLock);
        m_nRenderWidth = width;
        m_nRenderHeight = height;
        m_bRenderResize = true;
    }
    m_renderWake.notify_all();
    return true;
}

// Runs on the render thread: only mpv_render_* calls here (libmpv's rule for render threads).
void CMediaPlayer::RenderLoop() {
    CGrabBitmap back;
    std::unique_lock lock(m_renderLock);
    for (;;) {
        m_renderWake.wait(lock, [this] {
            return m_bRenderUpdate || m_bRenderResize || m_bRenderRedraw || m_bRenderQuit;
        });
        if (m_bRenderQuit)
            break;
        const bool bResized = m_bRenderResize;
        const bool bRedraw = m_bRenderRedraw;
        const int width = m_nRenderWidth;
        const int height = m_nRenderHeight;
        m_bRenderUpdate = m_bRenderResize = m_bRenderRedraw = false;
        lock.unlock();
        const std::uint64_t flags = m_pApi->render_context_update(m_pRender);
        if (((flags & MPV_RENDER_UPDATE_FRAME) || bResized || bRedraw) && width > 0 && height > 0) {
            // The back buffer is made again only when the size changes.
            if (back.m_nWidth != width || back.m_nHeight != height)
                back.Create(width, height);
            if (!back.IsEmpty()) {
                int size[2] = {width, height};
                std::size_t stride = std::size_t(back.m_nStride);
                mpv_render_param params[] = {
                    {MPV_RENDER_PARAM_SW_SIZE, size},
                    {MPV_RENDER_PARAM_SW_FORMAT, const_cast<char*>("bgr0")},
                    {MPV_RENDER_PARAM_SW_STRIDE, &stride},
                    {MPV_RENDER_PARAM_SW_POINTER, back.Bits()},
                    {MPV_RENDER_PARAM_INVALID, nullptr},
                };
                if (m_pApi->render_context_render(m_pRender, params) >= 0 && m_bShowPicture)
                    m_view.Present(back);
            }
        }
        lock.lock();
    }
}

CStatus CMediaPlayer::Open(const std::string& path) {
    if (CStatus started = Start(); !started)
        return started;
    m_bStopped = true;
    m_bLoaded = false;
    m_dLastPosition = -1.0;
    m_bShowPicture = true;
    m_pApi->set_property_string(m_pMpv, "pause", "yes");
    const char* command[] = {"loadfile", path.c_str(), "replace", nullptr};
    if (const int err = m_pApi->command(m_pMpv, command); err < 0)
        return CStatus::Failure(m_pApi->error_string(err));

    // Wait for this file's start, then for it to be loaded or refused. Events seen meanwhile
    // are handled as the queued drain would.
    std::int64_t entry = -1;
    bool bPosition = false;
    bool bDone = false;
    std::string reason;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::duration<double>(kOpenTimeoutSeconds);
    while (!bDone) {
        const double left =
            std::chrono::duration<double>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0) {
            reason = "timed out while opening";
            break;
        }
        const mpv_event* event = m_pApi->wait_event(m_pMpv, left);
        switch (event->event_id) {
            case MPV_EVENT_START_FILE:
                entry = static_cast<const mpv_event_start_file*>(event->data)->playlist_entry_id;
                break;
            case MPV_EVENT_FILE_LOADED:
                if (entry >= 0) {
                    m_bLoaded = true;
                    bDone = true;
                }
                break;
            case MPV_EVENT_END_FILE: {
                const auto* end = static_cast<const mpv_event_end_file*>(event->data);
                if (entry >= 0 && end->playlist_entry_id == entry) {
                    reason = end->reason == MPV_END_FILE_REASON_ERROR
                                 ? m_pApi->error_string(end->error)
                                 : "not a playable media file";
                    bDone = true;
                }
                break;
            }
            default:
                HandleEvent(*event, bPosition);
                break;
        }
    }
    // A file with a picture is open once its first picture is decoded: until the video output
    // is set up, the renderer draws black, which is not the file's first picture.
    while (m_bLoaded && HasVideo() && !GetFlag("vo-configured") &&
           std::chrono::steady_clock::now() < deadline) {
        const mpv_event* event = m_pApi->wait_event(m_pMpv, 0.005);
        if (event->event_id != MPV_EVENT_NONE)
            HandleEvent(*event, bPosition);
    }
    ScheduleStateCheck();
    if (!m_bLoaded) {
        // Nothing of the file played before stays in the view.
        m_bShowPicture = false;
        m_view.Clear();
        return CStatus::Failure(path + ": " + reason);
    }
    return {};
}

void CMediaPlayer::Play() {
    if (!m_bLoaded)
        return;
    if (GetFlag("eof-reached")) {
        const char* command[] = {"seek", "0", "absolute", nullptr};
        m_pApi->command(m_pMpv, command);
    }
    m_bStopped = false;
    m_pApi->set_property_string(m_pMpv, "pause", "no");
    ScheduleStateCheck();
}

void CMediaPlayer::Pause() {
    if (!m_bLoaded)
        return;
    m_pApi->set_property_string(m_pMpv, "pause", "yes");
    ScheduleStateCheck();
}

void CMediaPlayer::Stop() {
    if (!m_bLoaded)
        return;
    m_pApi->set_property_string(m_pMpv, "pause", "yes");
    const char* command[] = {"seek", "0", "absolute", nullptr};
    m_pApi->command(m_pMpv, command);
    m_bStopped = true;
    ScheduleStateCheck();
}

void CMediaPlayer::Seek(double seconds) {
    if (!m_bLoaded)
        return;
    const double length = Duration();
    seconds = std::max(0.0, length > 0 ? std::min(seconds, length) : seconds);
    // Written without the locale: libmpv reads a "." as the decimal point.
    char target[32] = {};
    std::to_chars(target, target + sizeof target - 1, seconds, std::chars_format::fixed, 3);
    const char* command[] = {"seek", target, "absolute+exact", nullptr};
    m_pApi->command(m_pMpv, command);
    m_bStopped = false;
    ScheduleStateCheck();
}

void CMediaPlayer::Redraw() {
    if (!m_pRender)
        return;
    {
        std::lock_guard guard(m_renderLock);
        m_bRenderRedraw = true;
    }
    m_renderWake.notify_all();
}

void CMediaPlayer::StepFrame(bool bForward) {
    if (!m_bLoaded)
        return;
    const char* command[] = {bForward ? "frame-step" : "frame-back-step", nullptr};
    m_pApi->command(m_pMpv, command);
    m_bStopped = false;
    ScheduleStateCheck();
}

double CMediaPlayer::PositionSeconds() const {
    double seconds = 0.0;
    // Any thread: m_bLoaded is only set after the player started, so it is read first.
    if (!m_bLoaded || !m_pMpv ||
        m_pApi->get_property(m_pMpv, "time-pos", MPV_FORMAT_DOUBLE, &seconds) < 0 ||
        !std::isfinite(seconds)) {
        return 0.0;
    }
    return seconds;
}

std::int32_t CMediaPlayer::PositionMs() const {
    // The conversion truncates toward zero; the clamp keeps it defined for any length.
    return std::int32_t(std::clamp(PositionSeconds() * 1000.0, -2147483648.0, 2147483647.0));
}

bool CMediaPlayer::HasVideo() const {
    // The selected video track, chosen by the time the file counts as loaded; a still image
    // and cover art are video tracks too.
    std::int64_t id = 0;
    return m_bLoaded && m_pMpv &&
           m_pApi->get_property(m_pMpv, "current-tracks/video/id", MPV_FORMAT_INT64, &id) >= 0;
}

double CMediaPlayer::Duration() const {
    double seconds = 0.0;
    if (!m_pMpv || !m_bLoaded ||
        m_pApi->get_property(m_pMpv, "duration", MPV_FORMAT_DOUBLE, &seconds) < 0)
        return 0.0;
    return seconds;
}

double CMediaPlayer::FrameRate() const {
    if (!m_pMpv || !m_bLoaded)
        return 0.0;
    for (const char* name : {"container-fps", "estimated-vf-fps"}) {
        double rate = 0.0;
        if (m_pApi->get_property(m_pMpv, name, MPV_FORMAT_DOUBLE, &rate) >= 0 &&
            std::isfinite(rate) && rate > 0)
            return rate;
    }
    return 0.0;
}

bool CMediaPlayer::SetRate(double rate) {
    if (!(rate > 0) || !Start())
        return false;
    return m_pApi->set_property(m_pMpv, "speed", MPV_FORMAT_DOUBLE, &rate) >= 0;
}

double CMediaPlayer::Rate() const {
    double rate = 1.0;
    if (m_pMpv)
        m_pApi->get_property(m_pMpv, "speed", MPV_FORMAT_DOUBLE, &rate);
    return rate;
}

bool CMediaPlayer::GetFlag(const char* name) const {
    int flag = 0;
    if (!m_pMpv || m_pApi->get_property(m_pMpv, name, MPV_FORMAT_FLAG, &flag) < 0)
        return false;
    return flag != 0;
}

int CMediaPlayer::PlayState() const {
    if (!m_pMpv || !m_bLoaded || m_bStopped)
        return kPlayStateStopped;
    if (GetFlag("eof-reached") || GetFlag("idle-active"))
        return kPlayStateStopped;
    return GetFlag("pause") ? kPlayStatePaused : kPlayStatePlaying;
}

void CMediaPlayer::HandleEvent(const mpv_event& event, bool& bPosition) {
    switch (event.event_id) {
        case MPV_EVENT_PROPERTY_CHANGE:
            if (event.reply_userdata == kObserveTimePos)
                bPosition = true;
            break;
        case MPV_EVENT_FILE_LOADED:
            m_bLoaded = true;
            break;
        case MPV_EVENT_END_FILE:
            m_bLoaded = false;
            break;
        default:
            break;
    }
}

void CMediaPlayer::DrainEvents() {
    m_bDrainPosted = false;
    if (!m_pMpv)
        return;
    bool bPosition = false;
    for (;;) {
        const mpv_event* event = m_pApi->wait_event(m_pMpv, 0);
        if (event->event_id == MPV_EVENT_NONE)
            break;
        HandleEvent(*event, bPosition);
    }
    // What is reported is read now, not taken from the events: a change that was undone
    // before this drain is not reported.
    if (bPosition && m_bLoaded) {
        const double seconds = PositionSeconds();
        if (seconds != m_dLastPosition) {
            m_dLastPosition = seconds;
            emit PositionChanged(seconds);
        }
    }
    CheckState();
}

void CMediaPlayer::ScheduleStateCheck() {
    QMetaObject::invokeMethod(
        this, [this] { CheckState(); }, Qt::QueuedConnection);
}

void CMediaPlayer::CheckState() {
    const int state = PlayState();
    if (state == m_nLastState)
        return;
    m_nLastState = state;
    emit PlayStateChanged(state);
}
