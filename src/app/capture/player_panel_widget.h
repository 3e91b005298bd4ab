// A player's own controls: play, pause, stop, the position and a status line with the time.
#pragma once

#include <QMetaObject>
#include <QTimer>
#include <QWidget>

class CMediaPlayer;
class QLabel;
class QSlider;
class QToolButton;

// The time of a playback position as the status line shows it: "m:ss.t" (tenths).
QString FormatPlayTime(double seconds);

class CPlayerPanelWidget : public QWidget {
    Q_OBJECT
public:
    explicit CPlayerPanelWidget(QWidget* parent = nullptr);

    // The player these controls drive (null: all disabled).
    void SetPlayer(CMediaPlayer* player);
    CMediaPlayer* Player() const { return m_pPlayer; }

    // The buttons and the keyboard shortcuts work only while enabled.
    void SetControlsEnabled(bool bEnable);
    bool ControlsEnabled() const { return m_bControlsEnabled; }
    // Whether the panel takes the keyboard focus (space plays or pauses).
    void SetAcceptsKeyboard(bool bAccept);
    bool AcceptsKeyboard() const { return m_bAcceptsKeyboard; }
    // The buttons and the position (the status line alone when false).
    void SetShowButtons(bool bShow);
    void SetShowStatusLine(bool bShow);
    bool ShowStatusLine() const;
    // A red dot in the status line while a recording runs.
    void SetRecordingMark(bool bShow);
    bool RecordingMark() const { return m_bRecordingMark; }

    QToolButton* PlayButton() const { return m_pPlay; }
    QToolButton* PauseButton() const { return m_pPause; }
    QToolButton* StopButton() const { return m_pStop; }
    QSlider* PositionSlider() const { return m_pSlider; }
    QLabel* StatusLine() const { return m_pStatus; }

public slots:
    // Shows the player's position, length and state as they are now.
    void Refresh();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void UpdateEnabled();

    CMediaPlayer* m_pPlayer = nullptr;
    QMetaObject::Connection m_position;
    QMetaObject::Connection m_state;
    QToolButton* m_pPlay = nullptr;
    QToolButton* m_pPause = nullptr;
    QToolButton* m_pStop = nullptr;
    QSlider* m_pSlider = nullptr;
    QLabel* m_pStatus = nullptr;
    QTimer m_refresh;
    bool m_bControlsEnabled = true;
    bool m_bAcceptsKeyboard = true;
    bool m_bRecordingMark = false;
};
