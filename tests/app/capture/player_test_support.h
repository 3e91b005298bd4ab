// Set-up shared by the player page tests: the application, message answering, modal dialogs,
// clips and the frame files a recording leaves.
#pragma once

#include <QString>

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/widgets/message_box.h"

class QWidget;

// Runs `answer` on the next modal dialog that opens (from the event loop that dialog runs).
void WhenDialogOpens(std::function<void(QWidget*)> answer);

// A frame file of a recording: its number and size.
struct CFrameFile {
    long long m_nNumber = 0;
    std::uintmax_t m_nSize = 0;
};
// The "%08d.bmp" files of `dir` (8 or more digits), by number.
std::vector<CFrameFile> ListFrameFiles(const std::filesystem::path& dir);

// Waits, dispatching events, for `ms` milliseconds.
void PumpFor(int ms);
