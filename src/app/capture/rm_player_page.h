// CRMPlayerPage: the first player page ("RMPlayer"). Plays a streaming-media file in two views
// of one clip (the picture, and its controls with a status line), saves the picture as a BMP
// file, and records it into numbered BMP files; the queued frames are written on the player's
// position notifications.
#pragma once

#include "app/capture/player_page.h"
#include "platform/media_player_interface.h"

class CRMPlayWnd;

class CRMPlayerPage : public CPlayerPage {
    Q_OBJECT
public:
    static constexpr int kIDD = 129;
    // Binds the two views to one clip.
    static constexpr const char* kConsoleName = "Clip1";

    // Records through `recording`; `bAudio` false plays without an audio device.
    CRMPlayerPage(CDesktop& desktop, CRecording& recording, bool bAudio, QWidget* parent = nullptr);
    // Its players made by `makePlayer`.
    CRMPlayerPage(CDesktop& desktop, CRecording& recording, const MediaPlayerFactory& makePlayer,
                  QWidget* parent = nullptr);
    // A running recording ends without writing anything more.
    ~CRMPlayerPage() override;

    static QStringList RmMediaFilters();

    CRMPlayWnd* VideoPlayer() const { return m_pVideo; }
    CRMPlayWnd* PanelPlayer() const { return m_pPanel; }
    // What the picture view shows, at its own size.
    bool GrabCurrentFrame(CDibImage& image) override;
    // The clip's position (0 without media).
    double PositionSeconds() const override;

protected:
    CStatus LoadMedia(const QString& strPath) override;
    void PauseBeforeRecording() override;
    bool RewindFinishedMedia() override;
    bool HasPicture() const override;
    void RedrawPicture() override;
    const CPlayerView* RecordedView() const override;
    bool UsesWriterThread() const override { return false; }
    void PlayForRecording() override;
    void PauseAfterRecording() override;
    void ShowPlayerControls(bool bRecording) override;
    void ClearPicture() override;

private:
    CRMPlayWnd* m_pVideo = nullptr;
    CRMPlayWnd* m_pPanel = nullptr;
};
