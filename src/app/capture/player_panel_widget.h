// A player's own controls: play, pause, stop, the position and a status line with the time.
#pragma once

#include <QMetaObject>
#include <QTimer>
#include <QWidget>

#include <optional>

class IMediaPlayer;
class QLabel;
class QSlider;
class QToolButton;

// The time of a playback position as the status line shows it: "m:ss.t" (tenths).
QString FormatPlayTime(double seconds);
// A position to the millisecond with its picture's number at `framesPerSecond` (counted from 0):
// "h:mm:ss.mmm · 帧 N"; without a frame rate the time alone.
QString FormatFrameTime(double seconds, double framesPerSecond);

// Keys while it has the focus (shown by a frame in the highlight colour): Space plays or
// pauses, Left and Right move 5 s, Shift with them one picture, S and F12 ask for a snapshot,
// I and O set the start and end marks of a span (drawn on the position slider).
class CPlayerPanelWidget : public QWidget {
    Q_OBJECT
public:
    static constexpr double kSeekStepSeconds = 5.0;

    explicit CPlayerPanelWidget(QWidget* parent = nullptr);

    // The player these controls drive (null: all disabled).
    void SetPlayer(IMediaPlayer* player);
    IMediaPlayer* Player() const { return m_pPlayer; }

    // The buttons, the slider and the player keys work only while enabled.
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

    // The span's marks in seconds. Setting one at the player's position clears the other when
    // it would come to lie on the wrong side.
    void SetMark(bool bEnd);
    void SetMarks(std::optional<double> start, std::optional<double> end);
    void ClearMarks();
    std::optional<double> StartMark() const { return m_startMark; }
    std::optional<double> EndMark() const { return m_endMark; }

public slots:
    // Shows the player's position, length and state as they are now.
    void Refresh();

signals:
    // S or F12 was pressed.
    void SaveFrameRequested();
    // A mark was set or cleared.
    void MarksChanged();
    // Refresh showed the player at `seconds`.
    void PositionShown(double seconds);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void UpdateEnabled();
    bool CanSeek() const;
    // Moves the player to where the slider stands.
    void SeekToSlider();
    // The marks onto the slider, as fractions of the media's length.
    void ShowMarks();

    IMediaPlayer* m_pPlayer = nullptr;
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
    std::optional<double> m_startMark;
    std::optional<double> m_endMark;
};
