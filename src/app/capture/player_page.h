// What the two player pages share: the state (0 no media, 1 media chosen, 3 recording), the
// target folder, the recording interval, the source, record and snapshot buttons, and the
// order in which a recording is started and stopped through the capture engine.
#pragma once

#include <QPointer>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <string>

#include "app/widgets/fontable_page.h"

class CDibImage;
class CPathLabel;
class QGridLayout;
class QLabel;
class QPushButton;
class QSpinBox;
class QVBoxLayout;

class CPlayerPage : public CFontablePage {
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
    // While recording, asks for the recording to end from the event loop (a player reports
    // stopped or paused). The request stops a recording only: handled after the recording
    // has already ended, it does nothing.
    void PostStopIfRecording();

    // The buttons' handlers. The choosing ones show their dialogs.
    void OnChooseMedia();
    void OnChooseFolder();
    void OnRecord();
    void OnSaveFrame();

    // What the handlers do after their dialogs. OpenMedia is false (and the page back in
    // state 0) when the file cannot be played; the user has been told why.
    bool OpenMedia(const QString& strPath);
    void SetFolder(const QString& strFolder);
    // The picture the snapshot button saves, taken as it is now.
    virtual bool GrabCurrentFrame(CDibImage& image) = 0;
    // Writes a snapshot; tells the user the path and the reason when it fails.
    bool SaveFrame(CDibImage& image, const QString& strPath);

    QPushButton* MediaButton() const { return m_pMediaButton; }
    QPushButton* FolderButton() const { return m_pFolderButton; }
    QPushButton* RecordButton() const { return m_pRecordButton; }
    QPushButton* SaveFrameButton() const { return m_pSaveFrameButton; }
    QSpinBox* IntervalSpin() const { return m_pIntervalSpin; }
    CPathLabel* FolderLabel() const { return m_pFolderLabel; }
    // File-dialog filters of the source button.
    QStringList MediaFilters() const { return m_mediaFilters; }
    static QStringList SnapshotFilters();

protected:
    CPlayerPage(int nIDTemplate, const QStringList& mediaFilters, QWidget* parent);

    // The left part of the page, above the folder row, for the player.
    QWidget* PlayerArea() const { return m_pPlayerArea; }
    // The right column, for the page's own fields below the interval.
    QVBoxLayout* SideColumn() const { return m_pSideColumn; }

    // Buttons, caption and the players' recording controls as the state says.
    void UpdateControls();
    // For the destructors: ends a running recording without writing anything more. Returns
    // whether one was running; the page's workers must then be stopped.
    bool AbandonRecording();
    // Throws away frames still queued for the target folder.
    static void DiscardQueuedFrames();

    // What each page does with its own player.
    virtual bool LoadMedia(const QString& strPath, std::string* why) = 0;
    virtual void PauseBeforeRecording() = 0;
    // A player stopped at the end of its media plays again from the start: it is sent there
    // first, so that the recording is numbered from 0 and not from the old end. True when it
    // was (the position may not say so yet).
    virtual bool RewindFinishedMedia() = 0;
    virtual std::int32_t PlayerPositionMs() const = 0;
    // Playback and the workers, once the target is set and the controls updated.
    virtual void BeginCapture(int intervalMs) = 0;
    // The workers stopped and the player left paused, before the final flush.
    virtual void EndCapture() = 0;
    virtual void ShowPlayerControls(bool bRecording) = 0;

    void showEvent(QShowEvent* event) override;

private:
    void StartRecording();
    void StopRecording();
    void OnPostedStop();
    void ReportFailedFrames();
    // For scripts/e2e-players only: with TARNWICK_TEST_CLIP and TARNWICK_TEST_OUT set, the page,
    // once shown, records the clip into TARNWICK_TEST_OUT/<tab caption> until it ends, saves
    // a snapshot beside that folder, then shows the next tab, or closes the sheet after the
    // last player page.
    void RunTestRecording();

    int m_nState = kStateNoMedia;
    bool m_bChanging = false;  // a start or stop is under way
    bool m_bTestRecordingDone = false;
    QStringList m_mediaFilters;
    QWidget* m_pPlayerArea = nullptr;
    QVBoxLayout* m_pSideColumn = nullptr;
    QPushButton* m_pMediaButton = nullptr;
    QPushButton* m_pRecordButton = nullptr;
    QPushButton* m_pSaveFrameButton = nullptr;
    QPushButton* m_pFolderButton = nullptr;
    QSpinBox* m_pIntervalSpin = nullptr;
    CPathLabel* m_pFolderLabel = nullptr;

    // The page whose recording runs: the capture engine serves one at a time.
    static QPointer<CPlayerPage> s_pRecordingPage;
};

// A spin box for a whole number: right-aligned digits, no thousands separators.
QSpinBox* MakeNumberSpin(QWidget* parent, int minimum, int maximum, int value);
