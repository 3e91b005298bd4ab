// tarnwick-screenshots CLIP OUT: pictures of the program for people to look at, taken by
// scripts/screenshots in each locale. It builds the program's own sheet with its four pages in
// the locale it is started in and saves into OUT (as PNG files named after the locale):
// every tab at the window's first size and at its smallest, the folder dialog, a Yes/No
// question, the result viewer with its split line in the middle, the first player page while
// it records CLIP and after the recording, with a span marked on its slider, while it makes the
// best still of it, and the window maximised. Started with QT_SCALE_FACTOR set, the names say
// the factor too.
// Exit status 0 when every picture was saved, 1 otherwise, 2 on wrong use. A test program:
// nothing of it is in `tarnwick`.
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLocale>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QRadialGradient>
#include <QScreen>
#include <QTabWidget>
#include <QTimer>

#include <clocale>
#include <cstdio>
#include <functional>

#include "app/capture/player_page.h"
#include "app/capture/player_panel_widget.h"
#include "app/main_sheet.h"
#include "app/program_pages.h"
#include "app/startup.h"
#include "app/widgets/desktop.h"
#include "app/widgets/image_canvas.h"
#include "app/widgets/image_viewer.h"
#include "app/widgets/select_folder_dialog.h"

namespace {

constexpr int kSettleMs = 400;

bool g_bFailed = false;

// The window as the screen shows it (its frame too, when a window manager draws one).
void Save(QWidget* widget, const QString& path) {
    QPixmap picture = widget->grab();
    if (QScreen* screen = widget->screen()) {
        const QRect frame = widget->frameGeometry();
        const QPixmap shown =
            screen->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
        if (!shown.isNull() && shown.width() == frame.width())
            picture = shown;
    }
    const bool bSaved = picture.save(path);
    g_bFailed = g_bFailed || !bSaved;
    std::fprintf(stderr, "screenshots: %s %s\n", qPrintable(path), bSaved ? "saved" : "FAILED");
}

// Runs the steps one after another, each after the window had time to paint.
void RunSteps(std::vector<std::function<void()>> steps, std::size_t next = 0) {
    if (next >= steps.size())
        return;
    QTimer::singleShot(kSettleMs, [steps = std::move(steps), next]() mutable {
        steps[next]();
        RunSteps(std::move(steps), next + 1);
    });
}

// Saves the next modal window (a dialog or a question) and closes it.
void SaveNextModal(const QString& path) {
    QTimer::singleShot(kSettleMs, [path] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal) {
            g_bFailed = true;
            std::fprintf(stderr, "screenshots: no dialog for %s\n", qPrintable(path));
            return;
        }
        Save(modal, path);
        if (auto* box = qobject_cast<QMessageBox*>(modal))
            box->done(QMessageBox::No);
        else if (auto* dialog = qobject_cast<QDialog*>(modal))
            dialog->reject();
    });
}

// A sharp picture with rings and edges to look at, and the same picture blurred, as a result and
// what it is compared with.
QImage ResultPicture() {
    QImage picture(640, 400, QImage::Format_RGB32);
    QPainter painter(&picture);
    QRadialGradient rings(QPointF(320, 200), 260);
    rings.setSpread(QGradient::RepeatSpread);
    rings.setColorAt(0, QColor(30, 70, 150));
    rings.setColorAt(0.5, QColor(240, 200, 90));
    rings.setColorAt(1, QColor(30, 70, 150));
    painter.fillRect(picture.rect(), rings);
    painter.setPen(QPen(Qt::black, 3));
    for (int x = 40; x < 640; x += 60) {
        painter.drawLine(x, 30, x + 40, 370);
    }
    return picture;
}

QImage Blurred(const QImage& picture) {
    return picture.scaled(picture.size() / 6, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
        .scaled(picture.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    // libmpv parses numbers with the C locale; Qt has just set the user's.
    std::setlocale(LC_NUMERIC, "C");
    QApplication::setApplicationName(QStringLiteral("Tarnwick"));
    const QStringList args = QApplication::arguments();
    if (args.size() != 3) {
        std::fprintf(stderr, "usage: tarnwick-screenshots CLIP OUT\n");
        return 2;
    }
    const QString clip = args[1];
    const QString out = args[2];
    QDir().mkpath(out);
    const QLocale locale = QLocale::system();
    QString prefix = out + u'/' + locale.name() + u'-';
    QString frames = out + QStringLiteral("/frames-") + locale.name();
    if (const QString scale = qEnvironmentVariable("QT_SCALE_FACTOR"); !scale.isEmpty()) {
        prefix += QStringLiteral("scale%1-").arg(scale);
        frames += QStringLiteral("-scale%1").arg(scale);
    }
    InstallTranslation(app, locale);
    // The program's own desktop: real message boxes, the user's state file.
    CDesktop desktop(CRememberedFolders::StateFilePath());
    CMainSheet sheet(desktop);
    InstallProgramPages(sheet, false, CRunContext{});
    QTabWidget* tabs = sheet.Tabs();

    std::vector<std::function<void()>> steps;
    for (const bool bSmallest : {false, true}) {
        if (bSmallest)
            steps.push_back([&sheet] { sheet.resize(sheet.minimumSizeHint()); });
        for (int i = 0; i < tabs->count(); ++i) {
            steps.push_back([tabs, i] { tabs->setCurrentIndex(i); });
            steps.push_back([&sheet, prefix, i, bSmallest] {
                Save(&sheet,
                     prefix + QStringLiteral("tab%1%2.png").arg(i).arg(bSmallest ? "-min" : ""));
            });
        }
    }
    steps.push_back([tabs] { tabs->setCurrentIndex(0); });
    steps.push_back([&desktop, &sheet, prefix] {
        SaveNextModal(prefix + QStringLiteral("folder-dialog.png"));
        CSelectFolderDialog dialog(desktop, true, QDir::homePath(), BmpFolderFilters(), &sheet);
        dialog.DoModal();
    });
    steps.push_back([&desktop, &sheet, prefix] {
        // The question closing asks during a recording: a Yes/No box of the program.
        auto* page = qobject_cast<CPlayerPage*>(sheet.Page(0));
        SaveNextModal(prefix + QStringLiteral("question.png"));
        desktop.ShowMessage(&sheet, page->BusyQuestion(), QMessageBox::Question,
                            QMessageBox::Yes | QMessageBox::No);
    });
    CImageViewer* viewer = nullptr;
    steps.push_back([&desktop, &sheet, &viewer, out] {
        // The result viewer on a picture written as a job writes it, the split line in the middle.
        const QString path = out + QStringLiteral("/viewer-result.bmp");
        const QImage picture = ResultPicture();
        if (!SaveViewerImage(picture, path.toStdString())) {
            g_bFailed = true;
            return;
        }
        const CViewerCompare compare{
            Blurred(picture),
            QCoreApplication::translate("CResultCompare", "同一批图像的普通平均")};
        viewer = OpenImageViewer(desktop, path, compare, &sheet);
        if (viewer) {
            viewer->resize(720, 520);
            viewer->Canvas()->SetSplit(0.5);
        }
    });
    steps.push_back([&viewer, prefix] {
        if (!viewer) {
            g_bFailed = true;
            std::fprintf(stderr, "screenshots: no viewer\n");
            return;
        }
        Save(viewer, prefix + QStringLiteral("viewer.png"));
        viewer->close();
    });
    auto* page = qobject_cast<CPlayerPage*>(sheet.Page(0));
    steps.push_back([page, clip, frames, &sheet] {
        if (!page->OpenMedia(clip)) {
            g_bFailed = true;
            sheet.reject();
            return;
        }
        page->SetFolder(frames);
        page->RecordButton()->click();
    });
    for (int wait = 0; wait < 4; ++wait) steps.push_back([] {});
    steps.push_back([&sheet, prefix] { Save(&sheet, prefix + QStringLiteral("recording.png")); });
    steps.push_back([page] {
        if (page->State() == CPlayerPage::kStateRecording)
            page->RecordButton()->click();
    });
    steps.push_back(
        [&sheet, prefix] { Save(&sheet, prefix + QStringLiteral("recording-summary.png")); });
    // The whole clip marked, its best still at x3 (long enough to be seen running).
    steps.push_back([page] { page->KeyPanel()->SetMarks(0.0, 5.9); });
    steps.push_back([&sheet, prefix] { Save(&sheet, prefix + QStringLiteral("marks.png")); });
    steps.push_back([page] {
        page->ScaleCombo()->setCurrentIndex(2);
        page->BestStillButton()->click();
    });
    steps.push_back([&sheet, prefix] { Save(&sheet, prefix + QStringLiteral("best-still.png")); });
    for (int wait = 0; wait < 40; ++wait) steps.push_back([] {});
    steps.push_back([page] { page->OnStopJob(); });
    steps.push_back([&sheet] {
        // The still may have finished and opened its viewer over the window.
        for (CImageViewer* opened : sheet.findChildren<CImageViewer*>()) opened->close();
        sheet.showMaximized();
        // Without a window manager (Xvfb) nobody maximises: the window takes the screen itself.
        if (QScreen* screen = sheet.screen())
            sheet.setGeometry(screen->availableGeometry());
    });
    steps.push_back([&sheet, prefix] {
        Save(&sheet, prefix + QStringLiteral("maximized.png"));
        sheet.accept();
    });
    sheet.show();
    RunSteps(std::move(steps));
    sheet.exec();
    return g_bFailed ? 1 : 0;
}
