#include "app/program_pages.h"

#include "app/capture/rm_player_page.h"
#include "app/capture/win_media_player_page.h"
#include "app/jobs/merge_image_page.h"
#include "app/jobs/scale_image_page.h"
#include "app/main_sheet.h"

void InstallProgramPages(CMainSheet& sheet, bool bPlayersHaveAudio, const CRunContext& context) {
    CDesktop& desktop = sheet.Desktop();
    sheet.ReplacePage(0, new CRMPlayerPage(desktop, sheet.Recording(), bPlayersHaveAudio));
    sheet.ReplacePage(1, new CWinMediaPlayerPage(desktop, sheet.Recording(), bPlayersHaveAudio));
    sheet.ReplacePage(2, new CScaleImagePage(desktop, context));
    sheet.ReplacePage(3, new CMergeImagePage(desktop, context));
}
