// What the two player pages share: the state (0 no media, 1 media chosen, 3 recording), the
// target folder, the recording interval, the source, record and snapshot buttons, and the
// start and stop of a recording through the CRecording the page is given (the sheet's, one
// for both pages, so that starting on one page ends the other's recording).
#pragma once

#include <QImage>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <string>

#include "app/widgets/fontable_page.h"
#include "capture/recording.h"

class CDibImage;
class CPlayerJob;
struct CMediaSpan;
class CPlayerPanelWidget;
class CPlayerView;
class CPathLabel;
class CRecordingLine;
class CVideoViewWidget;
class QShortcut;
class QGridLayout;
class QLabel;
class QAction;
class QComboBox;
class QMenu;
class QImage;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QVBoxLayout;

// Each page is, for its recording, the player it drives: it gives the position and plays and
// pauses its own player (IRecordedPlayer).
class CPlayerPage : public CFontablePage, public IRecordedPlayer {
    Q_OBJECT
public:
    enum {
        kStateNoMedia = 0,
        kStateMediaChosen = 1,
        kStateRecording = 3,
    };
    // Recording interval in milliseconds.
    static constexpr int kMinInterval = 20;
    static constexpr int kMaxInterval = 1000;

    int State() const { return m_nState; }
    // The target folder as shown.
    QString Folder() const;
    bool IsBusy() const override { return m_nState == kStateRecording; }
    // Closing the window during a recording ends it as the stop button would.
    void RequestStop() override { PostStopIfRecording(); }
    QString BusyQuestion() const override;
    // The media file open on the page (empty when none).
    QString DocumentPath() const override { return m_strMediaPath; }
    // While recording, asks for the recording to end from the event loop (a player reports
    // stopped or paused). The request stops a recording only: handled after the recording
    // has already ended, it does nothing.
    void PostStopIfRecording();

    // The buttons' handlers. The choosing ones show their dialogs.
    void OnChooseMedia();
    void OnChooseFolder();
    void OnRecord();
    void OnSaveFrame();
    // The frame at the position from the file at its own size into the target folder.
    void OnSaveFullFrame();
    // Every frame of the marked span at full size into the target folder, in the background.
    void OnExportSpan();
    // The best still of the marked span (a second either side of the position without marks),
    // in the background; the result is opened once written.
    void OnBestStill();
    // Asks the running background job to end.
    void OnStopJob();
    // F11, a double click on the picture, and Esc while on the whole screen.
    void ToggleFullScreen();

    // What the handlers do after their dialogs. OpenMedia is false (and the page back in
    // state 0) when the file cannot be played; the user has been told why.
    bool OpenMedia(const QString& strPath);
    void SetFolder(const QString& strFolder);
    // The picture the snapshot button saves, taken as it is now.
    virtual bool GrabCurrentFrame(CDibImage& image) = 0;
    // Writes a snapshot; tells the user the path and the reason when it fails.
    bool SaveFrame(CDibImage& image, const QString& strPath);
    // The name the snapshot dialog proposes: the media's name and the position in
    // milliseconds ("clip_00012345.bmp"); empty without media.
    QString ProposedSnapshotName() const;
    // The line under the player that follows a recording and sums it up.
    CRecordingLine* RecordingLine() const { return m_pRecordingLine; }
    // The player's own controls, which take the player keys.
    CPlayerPanelWidget* KeyPanel() const { return m_pKeyPanel; }

    QPushButton* MediaButton() const { return m_pMediaButton; }
    QPushButton* FolderButton() const { return m_pFolderButton; }
    QPushButton* RecordButton() const { return m_pRecordButton; }
    QPushButton* SaveFrameButton() const { return m_pSaveFrameButton; }
    QPushButton* StartMarkButton() const { return m_pStartMarkButton; }
    QPushButton* EndMarkButton() const { return m_pEndMarkButton; }
    QPushButton* ClearMarksButton() const { return m_pClearMarksButton; }
    // The position to the millisecond and its picture's number.
    QLabel* FrameTimeLabel() const { return m_pFrameTimeLabel; }
    QPushButton* FullFrameButton() const { return m_pFullFrameButton; }
    QPushButton* ExportSpanButton() const { return m_pExportSpanButton; }
    QPushButton* BestStillButton() const { return m_pBestStillButton; }
    QPushButton* JobStopButton() const { return m_pJobStopButton; }
    // The full-size frame's file type (PNG, BMP, JPEG) and the still's scale (1 to 3).
    QComboBox* FrameTypeCombo() const { return m_pFrameTypeCombo; }
    QComboBox* ScaleCombo() const { return m_pScaleCombo; }
    QProgressBar* JobProgress() const { return m_pJobProgress; }
    QLabel* JobLabel() const { return m_pJobLabel; }
    // The right-click menu of the picture: play or pause, save the frame, save the full-size
    // frame, the best still, minimise the window. Made anew for each click.
    QMenu* MakeVideoMenu(QWidget* parent);
    // Whether a background job (span export, best still) runs.
    bool JobRunning() const;
    // The path of the last full-size frame or still written (empty before the first).
    QString LastWritten() const { return m_strLastWritten; }
    // The picture the last still was shown beside: its reference frame enlarged the plain way.
    QImage LastCompare() const { return m_lastCompare; }
    QSpinBox* IntervalSpin() const { return m_pIntervalSpin; }
    CPathLabel* FolderLabel() const { return m_pFolderLabel; }
    CRecording& Recording() const { return m_recording; }
    // File-dialog filters of the source button.
    QStringList MediaFilters() const { return m_mediaFilters; }
    static QStringList SnapshotFilters();
    // The file-dialog filter of today's common video files, beside each page's own.
    static QString CommonVideoFilter();

signals:
    // A background job has ended and its result is shown.
    void JobFinished();

protected:
    // `desktop` and `recording` must outlive the page.
    CPlayerPage(int nIDTemplate, const QStringList& mediaFilters, CDesktop& desktop,
                CRecording& recording, QWidget* parent);

    // The left part of the page, above the folder row, for the player.
    QWidget* PlayerArea() const { return m_pPlayerArea; }
    // The right column, for the page's own fields below the interval.
    QVBoxLayout* SideColumn() const { return m_pSideColumn; }

    // The widget showing the picture: its right-click menu is the page's (MakeVideoMenu).
    void SetVideoWidget(CVideoViewWidget* video);
    // Buttons, caption and the players' recording controls as the state says.
    void UpdateControls();
    // The player controls that take the keys; the page's snapshot follows their S and F12.
    void SetKeyPanel(CPlayerPanelWidget* panel);
    // Turns the picture black.
    virtual void ClearPicture() = 0;
    void showEvent(QShowEvent* event) override;
    // For the destructors: ends a running recording without writing anything more (the
    // workers stopped, the queued frames thrown away). Returns whether one was running.
    bool AbandonRecording();

    // What each page does with its own player.
    virtual CStatus LoadMedia(const QString& strPath) = 0;
    virtual void PauseBeforeRecording() = 0;
    // A player stopped at the end of its media plays again from the start: it is sent there
    // first, so that the recording is numbered from 0 and not from the old end. True when it
    // was (the position may not say so yet).
    virtual bool RewindFinishedMedia() = 0;
    // Whether the media open shows a picture; a recording of sound alone is refused.
    virtual bool HasPicture() const = 0;
    // Presents the picture the player shows once more (nothing new need be decoded).
    virtual void RedrawPicture() = 0;
    std::int32_t PlayerPositionMs() const { return PositionToMs(PositionSeconds()); }
    // The picture a recording grabs.
    virtual const CPlayerView* RecordedView() const = 0;
    // Whether the queued frames are written by the writer thread every 100 ms (otherwise
    // the page flushes on its player's position notifications).
    virtual bool UsesWriterThread() const = 0;
    virtual void ShowPlayerControls(bool bRecording) = 0;

private:
    void StartRecording();
    void StopRecording();
    // The recording has stopped (by this page, or by the other page starting one).
    void OnRecordingStopped(const CRecordingResult& result);
    void OnPostedStop();
    void OnWriteFailed();
    void OnSaveFrameKey();
    void ShowFrameTime(double seconds);
    void TogglePlay();
    // A media file dropped on the page opens there, unless the page is busy.
    void OnDropped(const QString& strPath);
    void MakeFrameTools();
    // The position in ms of the picture shown, for reading it from the file.
    std::int64_t PictureMs() const;
    // The media's frame rate as the player knows it; 0 when unknown.
    double FrameRate() const;
    // Starts `routine` as the page's background job; `done` runs on the UI thread after it.
    void StartJob(const QString& strTitle, std::function<void(CPlayerJob&)> routine,
                  std::function<void()> done);
    void OnJobProgress(double fraction, double secondsLeft, const QString& text);
    void OnJobFinished();
    // Shows the still written at `strPath` beside `compare`, the reference frame enlarged the
    // plain way.
    void ShowStill(const QString& strPath, const QImage& compare, const QString& strCaption);
    // The folder the frame tools write into, made when missing; empty when there is no media
    // or a job runs, or (the user told) when there is no folder or it cannot be made.
    QString ToolFolder();
    // The span the marks give around `positionMs` (SpanOfMarks).
    CMediaSpan MarkedSpan(std::int64_t positionMs) const;
    void ShowRecordingProgress();
    void ReportFailedFrames(const CRecordingResult& result);
    double RecordedSeconds() const;

    CRecording& m_recording;
    int m_nState = kStateNoMedia;
    QStringList m_mediaFilters;
    QWidget* m_pPlayerArea = nullptr;
    QVBoxLayout* m_pSideColumn = nullptr;
    QPushButton* m_pMediaButton = nullptr;
    QPushButton* m_pRecordButton = nullptr;
    QPushButton* m_pSaveFrameButton = nullptr;
    QPushButton* m_pFolderButton = nullptr;
    QPushButton* m_pStartMarkButton = nullptr;
    QPushButton* m_pEndMarkButton = nullptr;
    QPushButton* m_pClearMarksButton = nullptr;
    QLabel* m_pFrameTimeLabel = nullptr;
    QPushButton* m_pFullFrameButton = nullptr;
    QPushButton* m_pExportSpanButton = nullptr;
    QPushButton* m_pBestStillButton = nullptr;
    QPushButton* m_pJobStopButton = nullptr;
    QComboBox* m_pFrameTypeCombo = nullptr;
    QComboBox* m_pScaleCombo = nullptr;
    QProgressBar* m_pJobProgress = nullptr;
    QLabel* m_pJobLabel = nullptr;
    CPlayerJob* m_pJob = nullptr;
    std::function<void()> m_fnJobDone;
    QString m_strLastWritten;
    QImage m_lastCompare;
    QShortcut* m_pLeaveFullScreenKey = nullptr;
    QSpinBox* m_pIntervalSpin = nullptr;
    CPathLabel* m_pFolderLabel = nullptr;
    CRecordingLine* m_pRecordingLine = nullptr;
    CPlayerPanelWidget* m_pKeyPanel = nullptr;
    QString m_strMediaPath;
    // The recording's folder and where in the media it started.
    QString m_strRecordingFolder;
    double m_dStartSeconds = 0;
    QTimer m_progressTimer;
    bool m_bShownOnce = false;
};

// A spin box for a whole number: right-aligned digits, no thousands separators.
QSpinBox* MakeNumberSpin(QWidget* parent, int minimum, int maximum, int value);
