// CRMPlayWnd: one view of a streaming-media clip. A page makes two of them over one clip: the
// picture ("IMAGEWINDOW") and the controls with a status line ("ControlPanel,StatusBar"). The
// page joins them under one console name, handing one view to the other, so that both drive
// one player and the controls drive what the picture shows.
#pragma once

#include <QFrame>
#include <QMetaObject>
#include <QString>

#include <cstdint>
#include <memory>
#include <string>

#include "platform/media_player_interface.h"

class IMediaPlayer;
class CPlayerPanelWidget;
class CVideoViewWidget;
class CPlayerView;

// Play states of the streaming-media control, as its state notification gives them.
inline constexpr int kRmStateStopped = 0;
inline constexpr int kRmStatePlaying = 3;
inline constexpr int kRmStatePaused = 4;

// What the player's play state is called by the streaming-media control.
int RmPlayState(int playerState);

class CRMPlayWnd : public QFrame {
    Q_OBJECT
public:
    // A player the view makes for itself opens an audio device only when `bAudio` is true.
    explicit CRMPlayWnd(bool bAudio, QWidget* parent = nullptr);
    // The view makes its player with `makePlayer`.
    explicit CRMPlayWnd(MediaPlayerFactory makePlayer, QWidget* parent = nullptr);
    ~CRMPlayWnd() override;

    // Takes the place of `placeholder` (same parent, same rectangle, same place in a layout)
    // and deletes it. The rectangle is the picture's; a sunken frame is drawn around it.
    void CreateInPlace(QWidget* placeholder);

    // The media file this view's clip plays, by full path; the clip is loaded, stopped at its
    // start. Fails with the reason when it cannot be played.
    CStatus SetSource(const QString& strPath);
    QString Source() const { return m_strSource; }
    // Names the view's console. Given `other` of the same console, joins it: both views
    // drive one player from now on (this view's when only it holds media, else the other's).
    void SetConsole(const QString& strName, CRMPlayWnd* other = nullptr);
    QString Console() const { return m_strConsole; }
    // What the view shows, as comma-separated parts: "ImageWindow" (the picture),
    // "ControlPanel" (play, pause, stop and the position), "StatusBar" (the time and state);
    // case does not matter.
    void SetControls(const QString& strControls);
    QString Controls() const { return m_strControls; }
    // A sunken frame around the view.
    void SetSunkenFrame(bool bSunken);
    bool SunkenFrame() const { return m_bSunkenFrame; }
    // Whether the view's controls take the keyboard focus.
    void SetAcceptsKeyboard(bool bAccept);
    bool AcceptsKeyboard() const { return m_bAcceptsKeyboard; }

    void DoPlay();
    void DoPause();
    // Pauses and goes back to the start.
    void DoStop();
    // Playback position in milliseconds (0 without media).
    std::int32_t GetPosition() const;
    // The player's state as kRmState*.
    int GetPlayState() const;

    // A red frame around the picture: shown while a recording runs. It lies outside the
    // picture, so it never appears in recorded frames or snapshots.
    void SetRecordingMark(bool bShow);
    bool RecordingMark() const { return m_bRecordingMark; }
    // Whether a click on the picture pauses and plays; off while recording, so that a stray
    // click cannot pause the capture.
    void SetClickToPause(bool bEnable);
    bool ClickToPause() const { return m_bClickToPause; }
    // Whether the control panel's buttons work; off while recording, for the same reason.
    void SetPanelEnabled(bool bEnable);
    bool PanelEnabled() const { return m_bPanelEnabled; }

    // Set by the page on the picture view while a recording runs: position notifications
    // then ask for the queued frames to be written, and a stopped or paused player asks for
    // the recording to end.
    void SetRecording(bool bRecording) { m_bRecording = bRecording; }
    bool IsRecording() const { return m_bRecording; }

    // The picture the capture engine grabs (null before a player exists).
    const CPlayerView* View() const;
    IMediaPlayer* Player() const { return m_pPlayer.get(); }
    CVideoViewWidget* VideoWidget() const { return m_pVideo; }
    CPlayerPanelWidget* PanelWidget() const { return m_pPanel; }
    // The picture's size (the view's size without its frame).
    QSize PictureSize() const { return m_pictureSize; }

signals:
    // The player's notifications, as the control gives them.
    void PositionChange(std::int32_t positionMs);
    void PlayStateChange(int rmState);
    // While recording only: write the queued frames, numbering on from `positionMs`.
    void FlushRequested(std::int32_t positionMs);
    // While recording only: the player stopped or paused.
    void StopRequested();

private:
    void OnPositionChange(std::int32_t positionMs);
    void OnPlayStateChange(int rmState);
    void Bind(std::shared_ptr<IMediaPlayer> player);
    void EnsurePlayer();
    void Rebuild();
    void UpdateFrame();

    std::shared_ptr<IMediaPlayer> m_pPlayer;
    QMetaObject::Connection m_position;
    QMetaObject::Connection m_state;
    CVideoViewWidget* m_pVideo = nullptr;
    CPlayerPanelWidget* m_pPanel = nullptr;
    QString m_strSource;
    QString m_strConsole;
    QString m_strControls;
    QSize m_pictureSize;
    bool m_bSunkenFrame = false;
    bool m_bAcceptsKeyboard = true;
    bool m_bRecordingMark = false;
    bool m_bClickToPause = true;
    bool m_bPanelEnabled = true;
    bool m_bRecording = false;
    MediaPlayerFactory m_fnMakePlayer;
};
