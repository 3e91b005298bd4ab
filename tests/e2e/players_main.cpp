// tarnwick-e2e CLIP OUT: the end-to-end driver of scripts/e2e-players. It builds the program's
// own sheet with its four pages, as `tarnwick` does, and on each player page in turn opens
// CLIP, records it into OUT/<tab caption> until it ends, then saves a snapshot as
// OUT/<tab caption>-snapshot.bmp. Then, on the first player page, it marks 0.6 s to 1.6 s,
// makes the best still at x2 and saves the full-size frame at 1 s as PNG, both into OUT/still;
// the sheet closes after that. Exit status 0 when every page could play the clip and the still
// was made, 1 otherwise, 2 on wrong use. A test program: nothing of it is in `tarnwick`.
#include <QApplication>
#include <QComboBox>
#include <QLocale>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <functional>

#include "app/capture/player_page.h"
#include "app/capture/player_panel_widget.h"
#include "app/main_sheet.h"
#include "app/program_pages.h"
#include "app/startup.h"
#include "app/widgets/desktop.h"
#include "image/dib_image.h"
#include "platform/media_player.h"
#include "platform/media_player_interface.h"

namespace {

// Shown pages settle for this long (first paint, first picture) before they are driven.
constexpr int kSettleMs = 500;

// Waits, from the event loop, until the page's player stands at `seconds`, then runs `then`.
void WhenAt(CPlayerPage* page, double seconds, std::function<void()> then, int triesLeft = 200) {
    IMediaPlayer* player = page->KeyPanel()->Player();
    if (std::abs(player->PositionSeconds() - seconds) < 0.001 || triesLeft == 0) {
        then();
        return;
    }
    QTimer::singleShot(20, page, [page, seconds, then = std::move(then), triesLeft] {
        WhenAt(page, seconds, then, triesLeft - 1);
    });
}

// The best still of the marked span and the full-size frame at 1 s, on the first player page.
void MakeStills(CMainSheet& sheet, const QString& outRoot) {
    sheet.Tabs()->setCurrentIndex(0);
    auto* page = qobject_cast<CPlayerPage*>(sheet.Page(0));
    CPlayerPanelWidget* panel = page->KeyPanel();
    page->SetFolder(outRoot + QStringLiteral("/still"));
    page->ScaleCombo()->setCurrentIndex(1);
    page->FrameTypeCombo()->setCurrentIndex(0);
    IMediaPlayer* player = panel->Player();
    player->Seek(0.6);
    WhenAt(page, 0.6, [&sheet, page, player] {
        page->StartMarkButton()->click();
        player->Seek(1.6);
        WhenAt(page, 1.6, [&sheet, page, player] {
            page->EndMarkButton()->click();
            player->Seek(1.0);
            WhenAt(page, 1.0, [&sheet, page] {
                std::fprintf(stderr, "e2e: best still of %.3f s to %.3f s\n",
                             page->KeyPanel()->StartMark().value_or(-1),
                             page->KeyPanel()->EndMark().value_or(-1));
                QObject::connect(page, &CPlayerPage::JobFinished, &sheet, [&sheet, page] {
                    std::fprintf(stderr, "e2e: best still %s\n", qPrintable(page->LastWritten()));
                    page->FullFrameButton()->click();
                    std::fprintf(stderr, "e2e: full frame %s\n", qPrintable(page->LastWritten()));
                    sheet.accept();
                });
                page->BestStillButton()->click();
                if (!page->JobRunning())
                    sheet.done(QDialog::Rejected);
            });
        });
    });
}

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
                MakeStills(sheet, outRoot);
            }
        });
    if (!page->OpenMedia(clip)) {
        sheet.done(QDialog::Rejected);
        return;
    }
    // At the window's first size the picture is the 350 x 240 it always was, so that the
    // recording's frames are the view's pixels as they are, not scaled.
    const CPlayerView& view = page->KeyPanel()->Player()->View();
    std::fprintf(stderr, "e2e: view %d x %d\n", view.Width(), view.Height());
    if (view.Width() != 350 || view.Height() != 240) {
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
    // The program's own desktop: real message boxes, the user's state file.
    CDesktop desktop(CRememberedFolders::StateFilePath());
    CMainSheet sheet(desktop);
    InstallProgramPages(sheet, true, CRunContext{});
    sheet.Tabs()->setCurrentIndex(0);
    QTimer::singleShot(kSettleMs, &sheet,
                       [&sheet, &args] { RecordOnPage(sheet, 0, args[1], args[2]); });
    return sheet.exec() == QDialog::Accepted ? 0 : 1;
}
