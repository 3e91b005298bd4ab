#include "app/jobs/result_compare.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>

#include "app/widgets/image_viewer.h"
#include "image/image_file.h"
#include "jobs/job_observer.h"
#include "jobs/merge_image_job.h"

namespace {

const char* const kContext = "CResultCompare";

// The averaging job as a yardstick: nothing to show; stopped when its viewer goes.
class CQuietObserver : public IJobObserver {
public:
    void OnEvent(const CJobEvent&) override {}
    bool StopRequested() override { return QThread::currentThread()->isInterruptionRequested(); }
};

// The compare thread of a viewer, ended with it: a viewer that closes asks the thread to stop
// and waits for it, so that no thread outlives what it works for (nor the program).
class CCompareThread : public QObject {
public:
    CCompareThread(QThread* thread, QObject* viewer) : QObject(viewer), m_pThread(thread) {}
    ~CCompareThread() override {
        m_pThread->requestInterruption();
        m_pThread->wait();
        delete m_pThread;
    }
    CCompareThread(const CCompareThread&) = delete;
    CCompareThread& operator=(const CCompareThread&) = delete;

private:
    QThread* m_pThread;
};

QImage ReadPicture(const std::string& path) {
    const CResult<QImage> read =
        ReadViewerImage(QFile::decodeName(QByteArray::fromStdString(path)));
    return read ? *read : QImage();
}

// The plain mean of `paths`: links to them, numbered in their order, in a temporary folder
// averaged into a BMP beside them; the folder goes again with everything in it.
QImage PlainMean(const std::vector<std::string>& paths) {
    QTemporaryDir dir;
    if (!dir.isValid() || paths.empty()) {
        return {};
    }
    const std::filesystem::path root(QFile::encodeName(dir.path()).toStdString());
    const bool bBmp = IsBmpPath(paths.front());
    const std::filesystem::path sources = root / "sources";
    std::error_code error;
    std::filesystem::create_directory(sources, error);
    for (std::size_t i = 0; i < paths.size() && !error; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "%06zu.%s", i, bBmp ? "bmp" : "jpg");
        std::filesystem::create_symlink(std::filesystem::absolute(paths[i]), sources / name, error);
    }
    if (error) {
        return {};
    }
    CMergeParams params;
    params.m_strSrcDir = sources.string();
    params.m_source = bBmp ? SourceKind::Bmp : SourceKind::Jpg;
    params.m_strTargetFile = (root / "mean.bmp").string();
    params.m_bDelSrc = false;
    params.m_bExtra800 = false;
    params.m_bExtra1024 = false;
    params.m_bAutoNumber = false;
    params.m_method = StackMethod::Mean;
    params.m_bAlign = false;
    CQuietObserver observer;
    const CJobResult result = CMergeImageJob(params, observer).Run();
    if (!result.Ok() || result.m_written.empty()) {
        return {};
    }
    return ReadPicture(params.m_strTargetFile);
}

}  // namespace

std::string SourceNow(const CJobResult& result, const std::string& path) {
    for (const CTrashedFile& place : result.m_trashPlaces) {
        if (!place.m_strTrashFile.empty() && SamePath(place.m_strPath, path)) {
            return place.m_strTrashFile;
        }
    }
    return path;
}

CResultCompare AverageCompare(const CJobResult& result, const std::vector<std::string>& used,
                              bool bPlainMean) {
    CResultCompare how;
    if (used.empty()) {
        return how;
    }
    if (bPlainMean) {
        how.m_kind = CResultCompare::Kind::Picture;
        how.m_paths = {SourceNow(result, used.front())};
        how.m_strCaption = QCoreApplication::translate(kContext, "第一张源图像");
        return how;
    }
    how.m_kind = CResultCompare::Kind::PlainMean;
    for (const std::string& path : used) {
        how.m_paths.push_back(SourceNow(result, path));
    }
    how.m_strCaption = QCoreApplication::translate(kContext, "同一批图像的普通平均");
    return how;
}

CResultCompare EnlargedCompare(const CJobResult& result, const std::string& source) {
    CResultCompare how;
    if (source.empty()) {
        return how;
    }
    how.m_kind = CResultCompare::Kind::Picture;
    how.m_paths = {SourceNow(result, source)};
    how.m_strCaption = QCoreApplication::translate(kContext, "源图像按常规放大");
    return how;
}

CViewerCompare MakeCompare(const CResultCompare& how) {
    CViewerCompare compare;
    compare.m_strCaption = how.m_strCaption;
    switch (how.m_kind) {
        case CResultCompare::Kind::None:
            break;
        case CResultCompare::Kind::Picture:
            compare.m_image = ReadPicture(how.m_paths.front());
            break;
        case CResultCompare::Kind::PlainMean:
            compare.m_image = PlainMean(how.m_paths);
            break;
    }
    return compare;
}

CImageViewer* OpenResultViewer(CDesktop& desktop, const QString& path, const CResultCompare& how,
                               QWidget* parent) {
    CImageViewer* viewer = OpenImageViewer(desktop, path, CViewerCompare{}, parent);
    if (viewer == nullptr || how.m_kind == CResultCompare::Kind::None) {
        return viewer;
    }
    viewer->SetComparePending(true);
    // The picture is made on a thread of its own and handed over on the UI thread; a viewer
    // closed meanwhile stops the thread and takes the connection with it.
    auto made = std::make_shared<CViewerCompare>();
    QThread* thread = QThread::create([how, made] { *made = MakeCompare(how); });
    QObject::connect(thread, &QThread::finished, viewer,
                     [viewer, made] { viewer->SetCompare(*made); });
    new CCompareThread(thread, viewer);
    thread->start();
    return viewer;
}
