// Start-up of the desktop program: checks the display, then shows the main sheet until it closes.
#include <QApplication>
#include <QIcon>
#include <QLocale>

#include <clocale>

#include "app/main_sheet.h"
#include "app/program_pages.h"
#include "app/startup.h"
#include "jobs/run_context.h"
#include "platform/program_path.h"

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
    // Threads and kernels as the environment says; the job pages' Save and Load use the
    // settings file beside the program.
    const CRunContext context = RunContextFromEnvironment(0, ProgramFilePath());
    CMainSheet sheet;
    InstallProgramPages(sheet, true, context);
    sheet.exec();
    return 0;
}
