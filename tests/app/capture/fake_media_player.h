// A media player for the player page tests, standing in for libmpv: no real time passes. The
// test says which picture is shown (ShowFrame) and when the media ends (PlayToEnd); the
// player presents a picture of its own for each frame and moves its position with it. Its
// notifications reach the UI thread through a queued call, as libmpv's do, and describe the
// player as it is at delivery.
#pragma once

#include <atomic>
#include <map>
#include <string>
#include <vector>

#include "platform/media_player.h"

// A medium the fake player can open.
struct CFakeMedia {
    double m_dSeconds = 6.0;  // its length; 0 for a still image (its position stays at 0)
    double m_dFramesPerSecond = 25.0;
    bool m_bVideo = true;  // false: sound only
};

class CFakeMediaPlayer : public IMediaPlayer {
public:
    // Opens what `shelf` holds by path; other paths are refused.
    explicit CFakeMediaPlayer(const std::map<std::string, CFakeMedia>& shelf) : m_shelf(shelf) {}

    CPlayerView& View() override { return m_view; }
    bool SetViewSize(int width, int height) override;
    CStatus Open(const std::string& path) override;
    bool HasMedia() const override { return m_bLoaded; }
    bool HasVideo() const override { return m_bLoaded && m_media.m_bVideo; }
    void Play() override;
    void Pause() override;
    void Stop() override;
    void Seek(double seconds) override;
    void StepFrame(bool bForward) override;
    void Redraw() override;
    double PositionSeconds() const override { return m_dPosition.load(); }
    double Duration() const override { return m_bLoaded ? m_media.m_dSeconds : 0.0; }
    double FrameRate() const override { return m_bLoaded ? m_media.m_dFramesPerSecond : 0.0; }
    bool SetRate(double rate) override;
    double Rate() const override { return m_dRate; }
    int PlayState() const override { return m_nState; }

    // The test's clock: frame `frame` is shown, the position at its time (a still image's
    // stays at 0). Playing or not, as the test says.
    void ShowFrame(int frame);
    int Frame() const { return m_nFrame; }
    // The media ends: its last picture shown, the player stopped at its end (pausing leaves
    // it stopped there; playing starts from the beginning).
    void PlayToEnd();
    // The brightness of frame `frame`'s picture: every frame differs and none is dark.
    static int FrameLevel(int frame) { return 80 + (frame * 37) % 160; }

private:
    void Present();
    void MoveTo(int frame);
    void Notify();
    void Deliver();

    const std::map<std::string, CFakeMedia>& m_shelf;
    CPlayerView m_view;
    CFakeMedia m_media;
    bool m_bLoaded = false;
    bool m_bAtEnd = false;  // stopped at the end by PlayToEnd
    int m_nState = kPlayStateStopped;
    int m_nFrame = 0;
    std::atomic<double> m_dPosition{0.0};
    double m_dRate = 1.0;
    bool m_bNotifyPosted = false;
    int m_nDeliveredState = kPlayStateStopped;
    double m_dDeliveredPosition = -1.0;
};

// The players the pages under test make, and the media they can open.
class CFakePlayers {
public:
    // Writes a small file at `path` (for the file dialogs) and makes it open as `media`.
    void AddMedia(const std::string& path, const CFakeMedia& media);
    // Makes the file at `path` (a real clip, say) open as `media`, leaving the file as it is.
    void AddExisting(const std::string& path, const CFakeMedia& media) { m_shelf[path] = media; }
    MediaPlayerFactory Factory();
    // The players made so far (owned by the widgets that asked for them).
    const std::vector<CFakeMediaPlayer*>& Made() const { return m_made; }

private:
    std::map<std::string, CFakeMedia> m_shelf;
    std::vector<CFakeMediaPlayer*> m_made;
};
