// Clip making with ffmpeg, started without a shell.
#include "common/media_clips.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QStringList>

#include <clocale>
#include <map>
#include <thread>

namespace {

// Encoder and container per extension; every one is written by Debian's ffmpeg.
const std::map<std::string, std::vector<std::string>>& ClipArguments() {
    static const std::map<std::string, std::vector<std::string>> args = {
        {".avi", {"-c:v", "mpeg4", "-c:a", "pcm_s16le", "-f", "avi"}},
        {".wmv", {"-c:v", "wmv2", "-c:a", "wmav2", "-f", "asf"}},
        {".asf", {"-c:v", "wmv2", "-c:a", "wmav2", "-f", "asf"}},
        {".wm", {"-c:v", "wmv2", "-c:a", "wmav2", "-f", "asf"}},
        {".mpg", {"-c:v", "mpeg1video", "-c:a", "mp2", "-f", "mpeg"}},
        {".mpeg", {"-c:v", "mpeg2video", "-c:a", "mp2", "-f", "mpeg"}},
        {".dat", {"-c:v", "mpeg1video", "-c:a", "mp2", "-f", "mpeg"}},
        {".rm", {"-c:v", "rv10", "-c:a", "ac3", "-f", "rm"}},
        {".swf", {"-c:v", "flv1", "-an", "-f", "swf"}},
        {".mp2", {"-vn", "-c:a", "mp2", "-f", "mp2"}},
        {".wma", {"-vn", "-c:a", "wmav2", "-f", "asf"}},
        {".ra", {"-vn", "-c:a", "ac3", "-f", "rm"}},
    };
    return args;
}

}  // namespace

const std::vector<std::string>& VideoClipExtensions() {
    static const std::vector<std::string> extensions = {".avi",  ".wmv", ".asf", ".wm", ".mpg",
                                                        ".mpeg", ".dat", ".rm",  ".swf"};
    return extensions;
}

const std::vector<std::string>& AudioClipExtensions() {
    static const std::vector<std::string> extensions = {".mp2", ".wma", ".ra"};
    return extensions;
}

std::string MakeMediaClip(const std::filesystem::path& dir, const std::string& extension,
                          double seconds, std::string* why) {
    const auto found = ClipArguments().find(extension);
    if (found == ClipArguments().end()) {
        if (why)
            *why = "no recipe for " + extension;
        return {};
    }
    const std::string path = (dir / ("clip" + extension)).string();
    const QString duration = QString::number(seconds, 'f', 3);
    // testsrc2 starts with a coloured picture, so even the first frame is not black.
    QStringList args = {"-v",
                        "error",
                        "-y",
                        "-f",
                        "lavfi",
                        "-i",
                        "testsrc2=size=320x240:rate=25",
                        "-f",
                        "lavfi",
                        "-i",
                        "sine=frequency=440:sample_rate=44100",
                        "-t",
                        duration,
                        "-pix_fmt",
                        "yuv420p"};
    for (const std::string& arg : found->second) args << QString::fromStdString(arg);
    args << QString::fromStdString(path);
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg", args);
    if (!ffmpeg.waitForFinished(60000) || ffmpeg.exitStatus() != QProcess::NormalExit ||
        ffmpeg.exitCode() != 0) {
        if (why)
            *why = "ffmpeg failed for " + path + ": " + ffmpeg.readAllStandardError().toStdString();
        return {};
    }
    return path;
}

std::string MakeStillImage(const std::filesystem::path& dir, std::string* why) {
    const std::string path = (dir / "still.png").string();
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg",
                 {"-v", "error", "-y", "-f", "lavfi", "-i", "testsrc2=size=320x240:rate=25",
                  "-frames:v", "1", QString::fromStdString(path)});
    if (!ffmpeg.waitForFinished(60000) || ffmpeg.exitStatus() != QProcess::NormalExit ||
        ffmpeg.exitCode() != 0) {
        if (why)
            *why = "ffmpeg failed for " + path + ": " + ffmpeg.readAllStandardError().toStdString();
        return {};
    }
    return path;
}

void EnsureApplication() {
    if (!QCoreApplication::instance()) {
        static int argc = 1;
        static char name[] = "tarnwick-test";
        static char* argv[] = {name, nullptr};
        new QCoreApplication(argc, argv);
    }
    std::setlocale(LC_NUMERIC, "C");
}

bool PumpUntilImpl(bool (*done)(void*), void* ctx, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (!done(ctx)) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}
