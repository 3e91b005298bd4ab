#include "app/program_pages.h"

#include "app/capture/rm_player_page.h"
#include "app/capture/win_media_player_page.h"
#include "app/jobs/merge_image_page.h"
#include "app/jobs/scale_image_page.h"
#include "app/main_sheet.h"

void InstallProgramPages(CMainSheet& sheet, bool bPlayersHaveAudio, const CRunContext& context) {
    sheet.ReplacePage(0, new CRMPlayerPage(sheet.Recording(), bPlayersHaveAudio));
    sheet.ReplacePage(1, new CWinMediaPlayerPage(sheet.Recording(), bPlayersHaveAudio));
    sheet.ReplacePage(2, new CScaleImagePage(context));
    sheet.ReplacePage(3, new CMergeImagePage(context));
}
