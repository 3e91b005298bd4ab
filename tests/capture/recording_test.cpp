// CRecording: the steps of a recording over a real view, queue and workers, with a player
// that notes what the recording asked of it.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "capture/recording.h"
#include "common/temp_dir.h"
#include "common/wait_for.h"
#include "platform/make_folder.h"
#include "platform/media_player.h"

namespace fs = std::filesystem;

namespace {

constexpr std::uintmax_t kFrameFileBytes = 14 + 40 + 1052 * 240;

// Presents `tag` in a 350 x 240 view, as a player's renderer would.
void Present(CPlayerView& view, int tag) {
    CGrabBitmap back;
    ASSERT_TRUE(back.Create(kGrabWidth, kGrabHeight));
    std::fill_n(back.Bits(), std::size_t(back.m_nStride) * back.m_nHeight, std::uint8_t(tag));
    ASSERT_TRUE(view.Present(back));
}

class NotingPlayer : public IRecordedPlayer {
public:
    NotingPlayer(CRecording& recording, CPlayerView& view) : m_recording(recording), m_view(view) {}
    // Each read while advancing is a second later than the one before, so that the writer's
    // flushes never re-use a number.
    double PositionSeconds() const override {
        return m_bAdvancing ? m_dPosition.fetch_add(1.0) : m_dPosition.load();
    }
    // Shows a picture, as a player does when it starts: the first grab waits for it.
    void PlayForRecording() override {
        ++m_nPlays;
        m_bGrabbingAtPlay = m_recording.CaptureWorker().IsRunning();
        Present(m_view, 0x80);
    }
    void PauseAfterRecording() override {
        ++m_nPauses;
        m_bWorkersStoppedAtPause =
            !m_recording.CaptureWorker().IsRunning() && !m_recording.Writer().IsRunning();
    }

    CRecording& m_recording;
    CPlayerView& m_view;
    mutable std::atomic<double> m_dPosition{0.0};
    std::atomic<bool> m_bAdvancing{false};
    int m_nPlays = 0;
    int m_nPauses = 0;
    bool m_bGrabbingAtPlay = true;
    bool m_bWorkersStoppedAtPause = false;
};

std::set<std::string> FilesIn(const fs::path& dir) {
    std::set<std::string> names;
    if (!fs::is_directory(dir))
        return names;
    for (const auto& entry : fs::directory_iterator(dir)) {
        EXPECT_EQ(entry.file_size(), kFrameFileBytes) << entry.path();
        names.insert(entry.path().filename().string());
    }
    return names;
}

std::string FrameName(int number) {
    char name[32];
    std::snprintf(name, sizeof name, "%08d.bmp", number);
    return name;
}

class RecordingTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_view.Resize(kGrabWidth, kGrabHeight)); }
    CRecordingParams Params(const fs::path& folder, std::int32_t first, bool bWriter) {
        CRecordingParams params;
        params.m_strFolder = folder.string();
        params.m_nFirstNumber = first;
        params.m_pView = &m_view;
        params.m_nIntervalMs = 20;
        params.m_pPlayer = &m_player;
        params.m_bWriterThread = bWriter;
        return params;
    }

    TempDir m_dir;
    CPlayerView m_view;
    CRecording m_recording;
    NotingPlayer m_player{m_recording, m_view};
};

}  // namespace

// With or without the writer thread: the player is played before the first grab and paused
// only once both workers have stopped; Stop writes every frame still queued, and the result's
// counts are what is on disk.
TEST_F(RecordingTest, StopWritesEverythingQueuedAndTheResultCountsTheFiles) {
    for (const bool bWriter : {false, true}) {
        SCOPED_TRACE(bWriter ? "writer thread" : "owner flushes");
        const fs::path folder = m_dir.Path() / (bWriter ? "writer" : "owner");
        ASSERT_TRUE(MakeFolder(folder.string()));
        m_player.m_dPosition = 5.0;  // the writer re-bases past the first numbers
        m_player.m_bAdvancing = bWriter;
        m_recording.Start(Params(folder, 1000, bWriter));
        EXPECT_TRUE(m_recording.IsRunning());
        EXPECT_EQ(m_player.m_nPlays, 1);
        EXPECT_FALSE(m_player.m_bGrabbingAtPlay);
        // Grabs keep coming while the position moves on; without the writer thread nothing
        // is written until Stop.
        ASSERT_TRUE(WaitFor([&] { return m_recording.Result().m_nGrabbed >= 8; }));
        if (!bWriter) {
            EXPECT_GE(m_recording.Queue().Count(), 8);
            EXPECT_TRUE(FilesIn(folder).empty());
        } else {
            ASSERT_TRUE(WaitFor([&] { return m_recording.Result().m_nWritten > 0; }));
        }
        m_player.m_bAdvancing = false;
        m_player.m_dPosition = 7.6543;
        const CRecordingResult result = m_recording.Stop();
        EXPECT_FALSE(m_recording.IsRunning());
        EXPECT_EQ(m_player.m_nPauses, 1);
        EXPECT_TRUE(m_player.m_bWorkersStoppedAtPause);
        EXPECT_TRUE(m_recording.Queue().IsEmpty());
        const std::set<std::string> files = FilesIn(folder);
        EXPECT_EQ(int(files.size()), result.m_nWritten);
        EXPECT_EQ(result.m_nGrabbed, result.m_nWritten + result.m_nDropped);
        EXPECT_EQ(result.m_nFailed, 0);
        EXPECT_TRUE(result.FirstFailure().empty());
        // The final flush re-based the number on the position read after the pause, or past
        // the last name when that is further.
        ASSERT_FALSE(files.empty());
        const int last = std::stoi(*files.rbegin());
        EXPECT_EQ(
            m_recording.NextFramePath(),
            (folder / FrameName(std::max(PositionToMs(result.m_dStopSeconds), last + 1))).string());
        if (!bWriter) {
            EXPECT_DOUBLE_EQ(result.m_dStopSeconds, 7.6543);
            // The position stood at 5 s for every grab: one name after the other from there.
            for (int i = 0; i < result.m_nWritten; ++i)
                EXPECT_EQ(files.count(FrameName(5000 + i)), 1u) << i;
        }
        // Stopped is stopped: a second Stop does nothing more.
        const CRecordingResult again = m_recording.Stop();
        EXPECT_EQ(again.m_nWritten, result.m_nWritten);
        EXPECT_EQ(m_player.m_nPauses, 1);
        m_player.m_nPlays = m_player.m_nPauses = 0;
    }
}

// Frames that cannot be written are counted, with the first one's path and reason.
TEST_F(RecordingTest, FailedFramesAreCountedWithTheFirstPathAndReason) {
    const fs::path blocker = m_dir.Path() / "plain";
    std::ofstream(blocker) << "x";
    EXPECT_FALSE(MakeFolder(blocker.string()));
    m_player.m_dPosition = 0.042;
    m_recording.Start(Params(blocker, 0, false));
    ASSERT_TRUE(WaitFor([&] { return m_recording.Queue().Count() >= 3; }));
    const CRecordingResult result = m_recording.Stop();
    EXPECT_EQ(result.m_nWritten, 0);
    EXPECT_EQ(result.m_nFailed, result.m_nGrabbed - result.m_nDropped);
    EXPECT_GE(result.m_nFailed, 3);
    EXPECT_EQ(result.m_strFailedPath, (blocker / "00000042.bmp").string());
    EXPECT_FALSE(result.m_strFailReason.empty());
    EXPECT_EQ(result.FirstFailure(), result.m_strFailedPath + ": " + result.m_strFailReason);
}

// Stopping at the first failure, with or without the writer thread: the owner is told once,
// nothing more is written even where writing works again, and every grab is accounted for.
TEST_F(RecordingTest, FirstFailureEndsTheWritingAndIsToldOnce) {
    for (const bool bWriter : {false, true}) {
        SCOPED_TRACE(bWriter ? "writer thread" : "owner flushes");
        const fs::path folder = m_dir.Path() / (bWriter ? "w" : "o");
        const fs::path moved = m_dir.Path() / (bWriter ? "w-moved" : "o-moved");
        ASSERT_TRUE(MakeFolder(folder.string()));
        std::atomic<int> told{0};
        CRecordingParams params = Params(folder, 0, bWriter);
        params.m_bStopAtFirstFailure = true;
        params.m_fnFirstFailure = [&told] { ++told; };
        m_player.m_dPosition = 1.0;
        m_player.m_bAdvancing = bWriter;
        m_recording.Start(std::move(params));
        auto flushWhenQueued = [&](int count, std::int32_t next) {
            if (!bWriter) {
                ASSERT_TRUE(WaitFor([&] { return m_recording.Queue().Count() >= count; }));
                m_recording.Flush(next);
            }
        };
        flushWhenQueued(3, 100000);
        ASSERT_TRUE(WaitFor([&] { return m_recording.Result().m_nWritten >= 3; }));
        // The folder goes away under the recording and a file takes its name.
        fs::rename(folder, moved);
        std::ofstream(folder) << "in the way";
        flushWhenQueued(2, 200000);
        ASSERT_TRUE(WaitFor([&] { return told.load() == 1; }));
        // Writing would work again: nothing is written all the same.
        fs::remove(folder);
        fs::create_directory(folder);
        const int grabbed = m_recording.Result().m_nGrabbed;
        ASSERT_TRUE(WaitFor([&] { return m_recording.Result().m_nGrabbed >= grabbed + 4; }));
        flushWhenQueued(1, 300000);
        m_player.m_bAdvancing = false;
        const CRecordingResult result = m_recording.Stop();
        EXPECT_EQ(told.load(), 1);
        EXPECT_EQ(result.m_nFailed, 1);
        EXPECT_GE(result.m_nUnwritten, 1);
        EXPECT_TRUE(FilesIn(folder).empty());
        EXPECT_EQ(int(FilesIn(moved).size()), result.m_nWritten);
        EXPECT_EQ(result.m_nGrabbed,
                  result.m_nWritten + result.m_nDropped + result.m_nFailed + result.m_nUnwritten);
        EXPECT_EQ(result.m_strFailedPath.rfind(folder.string() + "/", 0), 0u);
        EXPECT_FALSE(result.m_strFailReason.empty());
        EXPECT_TRUE(m_recording.Queue().IsEmpty());
        m_player.m_nPlays = m_player.m_nPauses = 0;
    }
}

// Starting while a recording runs stops it first, its frames written into its own folder,
// and tells its owner when it gave a way to.
TEST_F(RecordingTest, StartingAgainEndsTheRunningRecordingFirst) {
    for (const bool bOwnerTold : {true, false}) {
        SCOPED_TRACE(bOwnerTold ? "owner told" : "no owner to tell");
        const fs::path first = m_dir.Path() / (bOwnerTold ? "a1" : "b1");
        const fs::path second = m_dir.Path() / (bOwnerTold ? "a2" : "b2");
        int ownerTold = 0;
        CRecordingResult firstResult;
        CRecordingParams params = Params(first, 0, false);
        if (bOwnerTold) {
            params.m_fnStopped = [&](const CRecordingResult& result) {
                ++ownerTold;
                // Told once the recording has stopped and its frames are written.
                EXPECT_FALSE(m_recording.IsRunning());
                EXPECT_FALSE(m_recording.CaptureWorker().IsRunning());
                EXPECT_TRUE(m_recording.Queue().IsEmpty());
                firstResult = result;
            };
        }
        fs::create_directories(first);
        fs::create_directories(second);
        m_recording.Start(std::move(params));
        ASSERT_TRUE(WaitFor([&] { return m_recording.Queue().Count() >= 3; }));
        m_recording.Start(Params(second, 0, false));
        EXPECT_EQ(ownerTold, bOwnerTold ? 1 : 0);
        EXPECT_EQ(m_player.m_nPauses, 1);
        const std::size_t firstFiles = FilesIn(first).size();
        EXPECT_GE(firstFiles, 3u);
        if (bOwnerTold) {
            EXPECT_EQ(std::size_t(firstResult.m_nWritten), firstFiles);
        }
        ASSERT_TRUE(WaitFor([&] { return m_recording.Queue().Count() >= 2; }));
        const CRecordingResult result = m_recording.Stop();
        // The second recording's stop tells nobody: it has no owner to tell.
        EXPECT_EQ(ownerTold, bOwnerTold ? 1 : 0);
        EXPECT_EQ(FilesIn(first).size(), firstFiles);
        EXPECT_EQ(FilesIn(second).size(), std::size_t(result.m_nWritten));
        EXPECT_GE(result.m_nWritten, 2);
        m_player.m_nPlays = m_player.m_nPauses = 0;
    }
}

// An owner going away: the workers stop, queued frames are thrown away, the player is left
// alone, and nothing is written.
TEST_F(RecordingTest, AbandonWritesNothingAndLeavesThePlayerAlone) {
    m_recording.Start(Params(m_dir.Path(), 0, true));
    ASSERT_TRUE(WaitFor([&] { return m_recording.Queue().Count() >= 1; }));
    m_recording.Abandon();
    EXPECT_FALSE(m_recording.IsRunning());
    EXPECT_FALSE(m_recording.CaptureWorker().IsRunning());
    EXPECT_FALSE(m_recording.Writer().IsRunning());
    EXPECT_TRUE(m_recording.Queue().IsEmpty());
    EXPECT_EQ(m_player.m_nPauses, 0);
    const std::size_t written = FilesIn(m_dir.Path()).size();
    EXPECT_EQ(std::size_t(m_recording.Result().m_nWritten), written);
    // Both workers have ended, so nothing can write any more: a new picture is not grabbed,
    // and a later stop of the abandoned recording writes nothing and leaves the player alone.
    const int grabbed = m_recording.Result().m_nGrabbed;
    Present(m_view, 0x40);
    EXPECT_EQ(m_recording.Result().m_nGrabbed, grabbed);
    static_cast<void>(m_recording.Stop());
    EXPECT_EQ(FilesIn(m_dir.Path()).size(), written);
    EXPECT_EQ(m_player.m_nPauses, 0);
}
