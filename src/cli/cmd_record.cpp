// tarnwick-cli record MEDIA TARGET_DIR [--interval MS] [--rate PCT] [--writer timer|position]
//
// Plays MEDIA from its start in an offscreen 350 x 240 view and records it with a CRecording,
// as the player pages do: `timer` flushes from the 100 ms writer thread, `position` on the
// player's position notifications.
#include <QCoreApplication>
#include <QEventLoop>
#include <QObject>
#include <QTimer>

#include <sys/stat.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <string>
#include <utility>

#include "capture/capture_engine.h"
#include "capture/recording.h"
#include "cli/commands.h"
#include "platform/make_folder.h"
#include "platform/media_player.h"
#include "platform/status.h"

namespace {

struct RecordArgs {
    std::string media;
    std::string targetDir;
    int interval = 20;
    int rate = 100;
    std::string writer = "timer";
};

volatile std::sig_atomic_t g_bInterrupted = 0;

void OnInterrupt(int) {
    g_bInterrupted = 1;
}

class CRecordedPlayer : public IRecordedPlayer {
public:
    explicit CRecordedPlayer(CMediaPlayer& player) : m_player(player) {}
    double PositionSeconds() const override { return m_player.PositionSeconds(); }
    void PlayForRecording() override { m_player.Play(); }
    void PauseAfterRecording() override { m_player.Pause(); }

private:
    CMediaPlayer& m_player;
};

int RunRecord(const RecordArgs& args) {
    // A missing file is named as such before anything is made (a URL is the player's to open).
    if (struct stat st{};
        args.media.find("://") == std::string::npos && ::stat(args.media.c_str(), &st) != 0) {
        CliError(args.media + ": " + (errno == ENOENT ? "no such file" : ErrnoText(errno)));
        return kExitFailed;
    }
    if (CStatus made = MakeFolder(args.targetDir); !made) {
        CliError(args.targetDir + ": cannot create the folder: " + made.Reason());
        return kExitFailed;
    }

    int argc = 1;
    char name[] = "tarnwick-cli";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    CMediaPlayer player(false);
    if (CStatus started = player.Start(); !started) {
        CliError(started.Reason());
        return kExitFailed;
    }
    player.SetViewSize(kGrabWidth, kGrabHeight);
    if (CStatus opened = player.Open(args.media); !opened) {
        CliError(opened.Reason());
        return kExitFailed;
    }
    // Sound alone would give black frames only.
    if (!player.HasVideo()) {
        CliError(args.media + ": has no picture to record (sound only)");
        return kExitFailed;
    }
    // The first grab waits for a picture presented from here on: the first picture, presented
    // once more (nothing before it, such as the black view before the file was decoded).
    const std::uint64_t picturesBefore = player.View().FrameCount();
    player.Redraw();
    if (args.rate != 100)
        player.SetRate(args.rate * 0.01);

    const bool bPositionWriter = args.writer == "position";
    const double startSeconds = player.PositionSeconds();
    CRecording recording;
    QEventLoop loop;
    QObject context;
    if (bPositionWriter) {
        QObject::connect(&player, &CMediaPlayer::PositionChanged, &context,
                         [&recording](double seconds) { recording.Flush(PositionToMs(seconds)); });
    }
    // Ends at the end of the media (or whenever playback stops or pauses) and on Ctrl-C.
    QObject::connect(&player, &CMediaPlayer::PlayStateChanged, &context, [&loop](int state) {
        if (state != kPlayStatePlaying)
            loop.quit();
    });
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, &context, [&] {
        if (g_bInterrupted || player.PlayState() != kPlayStatePlaying)
            loop.quit();
    });
    g_bInterrupted = 0;
    struct sigaction action {};
    struct sigaction previous {};
    action.sa_handler = &OnInterrupt;
    sigaction(SIGINT, &action, &previous);

    CRecordedPlayer recorded(player);
    CRecordingParams params;
    params.m_strFolder = args.targetDir;
    params.m_nFirstNumber = PositionToMs(startSeconds);
    params.m_pView = &player.View();
    params.m_nIntervalMs = args.interval;
    params.m_pPlayer = &recorded;
    params.m_bWriterThread = !bPositionWriter;
    params.m_nPicturesBefore = picturesBefore;
    recording.Start(std::move(params));
    watch.start(100);
    loop.exec();
    watch.stop();

    const CRecordingResult result = recording.Stop();
    sigaction(SIGINT, &previous, nullptr);

    // Frames that found their name taken are said; the line is as before when there were none.
    std::string renumbered;
    if (result.m_nRenumbered > 0) {
        renumbered = ", of which " + std::to_string(result.m_nRenumbered) +
                     " renumbered because the name existed";
    }
    std::printf(
        "%s: %d frames written%s, %d dropped (queue full), %d failed; media %.3f to %.3f s%s\n",
        args.targetDir.c_str(), result.m_nWritten, renumbered.c_str(), result.m_nDropped,
        result.m_nFailed, startSeconds, result.m_dStopSeconds,
        g_bInterrupted ? " (interrupted)" : "");
    if (result.m_nFailed > 0) {
        CliError(result.FirstFailure());
        return kExitFailed;
    }
    return kExitOk;
}

}  // namespace

CliCommand RecordCommand() {
    return {[](CLI::App& app) -> CliCommand::Run {
        auto args = std::make_shared<RecordArgs>();
        CLI::App* sub = app.add_subcommand(
            "record",
            "Play MEDIA from its start and record its picture (350 x 240) into TARGET_DIR as "
            "numbered "
            "BMP files named after the playback position in milliseconds (\"%08d.bmp\") at which "
            "each "
            "was grabbed; a frame whose position did not advance takes the next number, and an "
            "existing file is never replaced (the next free number is taken). Media without a "
            "picture is refused. Stops at the end of the media or on Ctrl-C.");
        sub->add_option("MEDIA", args->media, "Media file to play")->required();
        sub->add_option("TARGET_DIR", args->targetDir,
                        "Folder for the frames; created with its parents")
            ->required();
        sub->add_option("--interval", args->interval, "Milliseconds between two grabs, 20 to 1000")
            ->default_val(20)
            ->check(CLI::Range(20, 1000));
        sub->add_option("--rate", args->rate, "Playback rate while recording, in percent, 1 to 200")
            ->default_val(100)
            ->check(CLI::Range(1, 200));
        sub->add_option(
               "--writer", args->writer,
               "timer: write every 100 ms with the position; position: write on every position "
               "change of the player")
            ->default_val("timer")
            ->check(CLI::IsMember({"timer", "position"}));
        return [args](const CRunContext&) { return RunRecord(*args); };
    }};
}
