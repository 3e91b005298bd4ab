// The media player over libmpv: a player view that holds the rendered picture, and the player
// that decodes into it with libmpv's software renderer.
//
// Threads: CMediaPlayer lives on the thread that made it (the UI thread); its notifications
// are emitted there, from a queued call that the libmpv wakeup posts. Position reads
// (PositionSeconds, PositionMs) may come from any thread. A private render thread draws each
// new frame into a back buffer and swaps it into the view under the view's lock; readers
// (window_grab, a widget painting the view) take the same lock.
//
// Needs no display: the picture is only ever in memory. libmpv requires LC_NUMERIC to be "C";
// the player sets it when it starts, as Qt's application object changes it.
//
// libmpv is loaded at run time (platform/mpv_library), not when the program starts: a player
// starts libmpv the first time it is needed (Start, Open, SetRate), so making a player, and
// showing a window that holds one, costs nothing until media is opened. Without libmpv every
// player fails to start with a reason that says so, and the rest of the program is unaffected.
#pragma once

#include <QObject>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "platform/grab_bitmap.h"
#include "platform/media_player_interface.h"
#include "platform/status.h"

struct MpvApi;
struct mpv_event;
struct mpv_handle;
struct mpv_render_context;

// The picture a player shows, at the view's size: the video scaled with its aspect kept and
// black bars around it. Black until the first frame arrives.
class CPlayerView {
public:
    CPlayerView() = default;
    CPlayerView(const CPlayerView&) = delete;
    CPlayerView& operator=(const CPlayerView&) = delete;

    // Sets the size the picture is rendered at (UI thread). The current picture turns black
    // until the next frame is rendered at the new size.
    bool Resize(int width, int height);
    int Width() const;
    int Height() const;
    // Number of pictures presented so far.
    std::uint64_t FrameCount() const { return m_nFrames.load(); }

    // Read (or, for tests and the renderer, write) access to the picture under the view's
    // lock, held as long as the object lives.
    class CLockedFrame {
    public:
        explicit CLockedFrame(const CPlayerView& view)
            : m_guard(view.m_lock), m_frame(view.m_front) {}
        const CGrabBitmap& Frame() const { return m_frame; }
        CGrabBitmap& MutableFrame() { return const_cast<CGrabBitmap&>(m_frame); }

    private:
        std::lock_guard<std::mutex> m_guard;
        const CGrabBitmap& m_frame;
    };
    CLockedFrame LockFrame() const { return CLockedFrame(*this); }

    // Turns the picture black (a file that failed to open leaves nothing of the last one).
    void Clear();
    // Swaps `back` into the view when it has the view's size (renderer side); false otherwise.
    bool Present(CGrabBitmap& back);
    // Called on the render thread after each presented picture (a widget posts its repaint).
    void SetPresentedCallback(std::function<void()> callback);

private:
    mutable std::mutex m_lock;
    CGrabBitmap m_front;
    std::function<void()> m_fnPresented;
    std::atomic<std::uint64_t> m_nFrames{0};
};

// Play states as the pages know them.
inline constexpr int kPlayStateStopped = 0;
inline constexpr int kPlayStatePaused = 1;
inline constexpr int kPlayStatePlaying = 2;

// Makes CMediaPlayer(bAudio) players.
MediaPlayerFactory MediaPlayerMaker(bool bAudio);

// Loads the player library (libmpv) unless it is loaded already; once per process, and every
// later call gives the first call's answer (any thread). On failure the reason is the system
// loader's own text, e.g. "libmpv.so.2: cannot open shared object file: No such file or
// directory"; a player that cannot start says "the player library could not be loaded: "
// followed by that text.
CStatus LoadPlayerLibrary();

class CMediaPlayer : public IMediaPlayer {
    Q_OBJECT
public:
    // `bAudio` false plays without any audio device (tests, the command line). libmpv is not
    // touched yet.
    explicit CMediaPlayer(bool bAudio = true, QObject* parent = nullptr);
    ~CMediaPlayer() override;

    // Starts libmpv for this player unless that was tried already (loading the library on the
    // first start in the process); every later call gives the first one's answer. Fails when
    // the player could not be set up.
    CStatus Start();
    CPlayerView& View() override { return m_view; }
    // Renders the picture at this size from now on.
    bool SetViewSize(int width, int height) override;

    // Loads a media file, stopped at its start with its first picture shown. Waits until the
    // file is loaded or refused; on a failure the view is black.
    CStatus Open(const std::string& path) override;
    bool HasMedia() const override { return m_bLoaded.load(); }
    // Whether the media open has a picture to show (a video track or a still image); false
    // with no media and for sound only.
    bool HasVideo() const override;
    void Play() override;
    void Pause() override;
    // Pauses and goes back to the start; the media stays loaded.
    void Stop() override;
    // Moves to `seconds` from the start (clamped to the media), to the exact picture; a playing
    // player plays on from there, a stopped one is then paused there.
    void Seek(double seconds) override;
    // Shows the next (or, as far as the media allows, the previous) picture and pauses.
    void StepFrame(bool bForward) override;
    // Renders the picture the player holds once more and presents it, so that the view's frame
    // counter moves on even where nothing new is decoded (a still image, a paused player). The
    // player's state and position stay as they are.
    void Redraw() override;
    // Playback position; 0 with no media. Any thread.
    double PositionSeconds() const override;
    // The same in milliseconds, truncated toward zero. Any thread.
    std::int32_t PositionMs() const;
    double Duration() const override;
    // The container's frame rate, else the rate the decoder measures; 0 when neither is known.
    double FrameRate() const override;
    // Playback rate, 1.0 = normal speed; libmpv accepts 0.01 to 100. Starts the player.
    bool SetRate(double rate) override;
    double Rate() const override;
    // kPlayStateStopped, kPlayStatePaused or kPlayStatePlaying, as it is now.
    int PlayState() const override;

private:
    struct WakeupGuard;

    void DrainEvents();
    void PostDrain();
    void ScheduleStateCheck();
    void CheckState();
    void HandleEvent(const mpv_event& event, bool& bPosition);
    bool GetFlag(const char* name) const;
    void RenderLoop();
    static void OnWakeup(void* ctx);
    static void OnRenderUpdate(void* ctx);

    const bool m_bAudio;
    bool m_bStartTried = false;
    const MpvApi* m_pApi = nullptr;  // set with m_pMpv, before any other thread uses the player
    mpv_handle* m_pMpv = nullptr;
    mpv_render_context* m_pRender = nullptr;
    WakeupGuard* m_pGuard = nullptr;
    CPlayerView m_view;

    std::atomic<bool> m_bLoaded{false};
    // False after a file failed to open: the render thread then leaves the view black.
    std::atomic<bool> m_bShowPicture{true};
    std::atomic<bool> m_bStopped{true};
    std::atomic<bool> m_bDrainPosted{false};
    int m_nLastState = kPlayStateStopped;
    double m_dLastPosition = -1.0;
    CStatus m_started;  // Start's answer, kept for its later calls

    std::thread m_renderThread;
    std::mutex m_renderLock;
    std::condition_variable m_renderWake;
    bool m_bRenderUpdate = false;
    bool m_bRenderResize = false;
    bool m_bRenderRedraw = false;
    bool m_bRenderQuit = false;
    int m_nRenderWidth = 0;
    int m_nRenderHeight = 0;
};
