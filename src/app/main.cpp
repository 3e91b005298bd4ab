// Start-up of the desktop program: checks the display, then shows the main sheet until it closes.
#include <QApplication>
#include <QIcon>
#include <QLocale>

#include <clocale>

#include "app/capture/rm_player_page.h"
#include "app/capture/win_media_player_page.h"
#include "app/jobs/merge_image_page.h"
#include "app/jobs/scale_image_page.h"
#include "app/main_sheet.h"
#include "app/startup.h"
#include "jobs/settings_file.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    // libmpv parses numbers with the C locale; Qt has just set the user's.
    std::setlocale(LC_NUMERIC, "C");
    QApplication::setApplicationName(QStringLiteral("Tarnwick"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/tarnwick.png")));
    InstallTranslation(app, QLocale::system());

    QString strMode;
    const int depth = CheckDisplayDepth(strMode);
    if (!ConfirmDisplayDepth(depth, strMode)) {
        return 1;
    }
    // The job pages' Save and Load use the settings file beside the program.
    MakeIniPath();
    CMainSheet sheet;
    sheet.ReplacePage(0, new CRMPlayerPage);
    sheet.ReplacePage(1, new CWinMediaPlayerPage);
    sheet.ReplacePage(2, new CScaleImagePage);
    sheet.ReplacePage(3, new CMergeImagePage);
    sheet.exec();
    return 0;
}
