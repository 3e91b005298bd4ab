// Moving a file to the desktop's trash (freedesktop trash rules: the home trash under the data
// folder, or a top-folder trash on other file systems), through GIO. Files are never deleted.
#pragma once

#include <string>

// True when `path` went to the trash; false with GIO's reason in *why (the file stays put).
[[nodiscard]] bool MoveToTrash(const std::string& path, std::string* why);
