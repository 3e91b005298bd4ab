// The recording's steps over its queue, target and workers.
#include "capture/recording.h"

#include <mutex>
#include <utility>

#include "platform/media_player.h"

std::string CRecordingResult::FirstFailure() const {
    if (m_nFailed == 0)
        return std::string();
    return m_strFailedPath + ": " + m_strFailReason;
}

CRecording::CRecording() = default;

CRecording::~CRecording() {
    m_writer.Stop();
    m_captureWorker.Stop();
}

void CRecording::EndRunning() {
    if (IsRunning())
        static_cast<void>(Stop());
}

void CRecording::Start(CRecordingParams params) {
    EndRunning();
    m_target.SetCaptureTarget(params.m_strFolder, params.m_nFirstNumber);
    m_target.SetFailureHandling(params.m_bStopAtFirstFailure, std::move(params.m_fnFirstFailure));
    m_bRunning = true;
    m_pPlayer = params.m_pPlayer;
    m_fnStopped = std::move(params.m_fnStopped);
    m_dStopSeconds = 0;
    CGrabOptions grab;
    grab.m_pPosition = m_pPlayer;
    // Counted before the player is asked to play unless the owner counted earlier (before it
    // rewound the player, say): the picture presented next is the first.
    if (params.m_bWaitForPicture && params.m_pView) {
        grab.m_nPicturesBefore =
            params.m_nPicturesBefore ? *params.m_nPicturesBefore : params.m_pView->FrameCount();
    }
    if (m_pPlayer)
        m_pPlayer->PlayForRecording();
    // Each start stops whatever its worker ran.
    m_captureWorker.Start(params.m_pView, params.m_nIntervalMs, grab);
    if (params.m_bWriterThread)
        m_writer.Start(m_pPlayer);
}

void CRecording::Flush(std::int32_t nextNumber) {
    m_target.FlushFrames(nextNumber);
}

CRecordingResult CRecording::Stop() {
    if (!m_bRunning)
        return Result();
    m_bRunning = false;
    IRecordedPlayer* player = std::exchange(m_pPlayer, nullptr);
    const std::function<void(const CRecordingResult&)> stopped =
        std::exchange(m_fnStopped, nullptr);
    m_captureWorker.Stop();
    m_writer.Stop();
    if (player) {
        player->PauseAfterRecording();
        m_dStopSeconds = player->PositionSeconds();
    }
    m_target.FlushFrames(PositionToMs(m_dStopSeconds));
    CRecordingResult result = Result();
    if (stopped)
        stopped(result);
    return result;
}

void CRecording::Abandon() {
    m_bRunning = false;
    m_pPlayer = nullptr;
    m_fnStopped = nullptr;
    m_captureWorker.Stop();
    m_writer.Stop();
    std::lock_guard guard(m_queue);
    while (m_queue.DropFront()) {
    }
}

CRecordingResult CRecording::Result() const {
    const CFlushStats stats = m_target.Stats();
    CRecordingResult result;
    result.m_nGrabbed = m_captureWorker.GrabbedFrames();
    result.m_nWritten = stats.m_nWritten;
    result.m_nRenumbered = stats.m_nRenumbered;
    result.m_nDropped = m_captureWorker.DroppedFrames();
    result.m_nFailed = stats.m_nFailed;
    result.m_nUnwritten = stats.m_nUnwritten;
    result.m_strFailedPath = stats.m_strFailedPath;
    result.m_strFailReason = stats.m_strFailReason;
    result.m_dStopSeconds = m_dStopSeconds;
    return result;
}
