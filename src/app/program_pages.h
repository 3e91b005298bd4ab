// The program's four pages, put into a main sheet.
#pragma once

#include "jobs/run_context.h"

class CMainSheet;

// Replaces the sheet's placeholders with the two player pages (both recording through the
// sheet's recording; `bPlayersHaveAudio` false plays without an audio device) and the two job
// pages, which run their jobs in `context`.
void InstallProgramPages(CMainSheet& sheet, bool bPlayersHaveAudio, const CRunContext& context);
