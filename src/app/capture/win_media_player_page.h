// CWinMediaPlayerPage: the second player page ("WinMediaPlayer"). Plays a media file in one
// 350 x 312 player, saves the screen area of its picture as a BMP file, and records the
// picture into numbered BMP files at a chosen playback rate; the queued frames are written
// every 100 ms by the capture engine's writer thread, which reads this page's position.
#pragma once

#include "app/capture/player_page.h"
#include "platform/media_player_interface.h"

class CMediaPlayer2;

class CWinMediaPlayerPage : public CPlayerPage {
    Q_OBJECT
public:
    static constexpr int kIDD = 130;
    // Playback rate while recording, in percent.
    static constexpr int kMinRate = 1;
    static constexpr int kMaxRate = 200;
    static constexpr int kNormalRate = 100;

    // Records through `recording`; `bAudio` false plays without an audio device.
    CWinMediaPlayerPage(CDesktop& desktop, CRecording& recording, bool bAudio,
                        QWidget* parent = nullptr);
    // Its players made by `makePlayer`.
    CWinMediaPlayerPage(CDesktop& desktop, CRecording& recording,
                        const MediaPlayerFactory& makePlayer, QWidget* parent = nullptr);
    // A running recording ends without writing anything more.
    ~CWinMediaPlayerPage() override;

    static QStringList WmMediaFilters();

    CMediaPlayer2* Player() const { return m_pPlayer; }
    QSpinBox* RateSpin() const { return m_pRateSpin; }
    // The player's position, for the writer thread.
    double PositionSeconds() const override;
    // The screen's 350 x 240 pixels at the player's top-left corner, windows lying over it
    // included; the player's own picture where the screen cannot be read.
    bool GrabCurrentFrame(CDibImage& image) override;

protected:
    CStatus LoadMedia(const QString& strPath) override;
    void PauseBeforeRecording() override;
    bool RewindFinishedMedia() override;
    bool HasPicture() const override;
    void RedrawPicture() override;
    const CPlayerView* RecordedView() const override;
    bool UsesWriterThread() const override { return true; }
    void PlayForRecording() override;
    void PauseAfterRecording() override;
    void ShowPlayerControls(bool bRecording) override;
    void ClearPicture() override;

private:
    void OnPlayStateChange(int oldState, int newState);

    CMediaPlayer2* m_pPlayer = nullptr;
    QSpinBox* m_pRateSpin = nullptr;
};
