// tarnwick-e2e CLIP OUT: the end-to-end driver of scripts/e2e-players. It builds the program's
// own sheet with its four pages, as `tarnwick` does, and on each player page in turn opens
// CLIP, records it into OUT/<tab caption> until it ends, then saves a snapshot as
// OUT/<tab caption>-snapshot.bmp; the sheet closes after the last player page. Exit status 0
// when every page could play the clip, 1 otherwise, 2 on wrong use. A test program: nothing
// of it is in `tarnwick`.
#include <QApplication>
#include <QLocale>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>

#include <clocale>
#include <cstdio>

#include "app/capture/player_page.h"
#include "app/main_sheet.h"
#include "app/program_pages.h"
#include "app/startup.h"
#include "image/dib_image.h"

namespace {

// Shown pages settle for this long (first paint, first picture) before they are driven.
constexpr int kSettleMs = 500;

void RecordOnPage(CMainSheet& sheet, int tab, const QString& clip, const QString& outRoot) {
    QTabWidget* tabs = sheet.Tabs();
    auto* page = qobject_cast<CPlayerPage*>(sheet.Page(tab));
    if (!page) {
        sheet.accept();
        return;
    }
    const QString out = outRoot + u'/' + tabs->tabText(tab);
    std::fprintf(stderr, "e2e: recording %s\n", qPrintable(out));
    QObject::connect(
        page, &CPlayerPage::BusyChanged, page,
        [&sheet, page, tabs, tab, clip, outRoot, out](bool bBusy) {
            if (bBusy)
                return;
            CDibImage image;
            const bool bSaved =
                page->GrabCurrentFrame(image) && page->SaveFrame(image, out + "-snapshot.bmp");
            std::fprintf(stderr, "e2e: %s ended, snapshot %s\n", qPrintable(out),
                         bSaved ? "saved" : "failed");
            if (tab + 1 < tabs->count() && qobject_cast<CPlayerPage*>(sheet.Page(tab + 1))) {
                tabs->setCurrentIndex(tab + 1);
                QTimer::singleShot(kSettleMs, &sheet, [&sheet, tab, clip, outRoot] {
                    RecordOnPage(sheet, tab + 1, clip, outRoot);
                });
            } else {
                sheet.accept();
            }
        });
    if (!page->OpenMedia(clip)) {
        sheet.done(QDialog::Rejected);
        return;
    }
    page->SetFolder(out);
    page->RecordButton()->click();
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    // libmpv parses numbers with the C locale; Qt has just set the user's.
    std::setlocale(LC_NUMERIC, "C");
    QApplication::setApplicationName(QStringLiteral("Tarnwick"));
    const QStringList args = QApplication::arguments();
    if (args.size() != 3) {
        std::fprintf(stderr, "usage: tarnwick-e2e CLIP OUT\n");
        return 2;
    }
    InstallTranslation(app, QLocale::system());
    CMainSheet sheet;
    InstallProgramPages(sheet, true, CRunContext{});
    sheet.Tabs()->setCurrentIndex(0);
    QTimer::singleShot(kSettleMs, &sheet,
                       [&sheet, &args] { RecordOnPage(sheet, 0, args[1], args[2]); });
    return sheet.exec() == QDialog::Accepted ? 0 : 1;
}
