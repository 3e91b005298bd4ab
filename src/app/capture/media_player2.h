// CMediaPlayer2: the player of the second player page, 350 x 312 pixels: the picture in its top
// 350 x 240, its controls and a status line below.
#pragma once

#include <QWidget>

#include <memory>
#include <string>

#include "platform/media_player_interface.h"

class IMediaPlayer;
class CPlayerPanelWidget;
class CPlayerView;
class CVideoViewWidget;

inline constexpr int kMediaPlayer2Width = 350;
inline constexpr int kMediaPlayer2Height = 312;

class CMediaPlayer2 : public QWidget {
    Q_OBJECT
public:
    // `bAudio` false plays without an audio device.
    explicit CMediaPlayer2(bool bAudio, QWidget* parent = nullptr);
    // Plays through the player `makePlayer` makes.
    explicit CMediaPlayer2(const MediaPlayerFactory& makePlayer, QWidget* parent = nullptr);
    ~CMediaPlayer2() override;

    // Loads a media file by full path, stopped at its start, or fails with the reason.
    CStatus Open(const QString& strPath);
    void Play();
    void Pause();
    // Pauses and goes back to the start.
    void Stop();
    // Playback position in seconds; callable from any thread.
    double GetCurrentPosition() const;
    // 1.0 is normal speed.
    void SetRate(double rate);
    double GetRate() const;
    // kPlayStateStopped (0), kPlayStatePaused (1) or kPlayStatePlaying (2).
    int GetPlayState() const;

    // Whether a click on the picture pauses and plays; off while recording, so that a stray
    // click cannot pause the capture.
    void SetClickToPause(bool bEnable);
    bool ClickToPause() const;
    void SetShowStatusLine(bool bShow);
    bool ShowStatusLine() const;
    // Whether the player's own buttons and keys work; off while recording.
    void SetControlsEnabled(bool bEnable);
    bool ControlsEnabled() const;
    // A red dot in the status line while a recording runs (below the recorded area).
    void SetRecordingMark(bool bShow);
    bool RecordingMark() const;

    // The picture the capture engine grabs: the top 350 x 240 pixels of the player.
    const CPlayerView& View() const;
    IMediaPlayer& Player() const { return *m_pPlayer; }
    CVideoViewWidget* VideoWidget() const { return m_pVideo; }
    CPlayerPanelWidget* PanelWidget() const { return m_pPanel; }

signals:
    // The player went from `oldState` to `newState` (play states as GetPlayState).
    void PlayStateChange(int oldState, int newState);

private:
    std::unique_ptr<IMediaPlayer> m_pPlayer;
    CVideoViewWidget* m_pVideo = nullptr;
    CPlayerPanelWidget* m_pPanel = nullptr;
    int m_nLastState = 0;
};
