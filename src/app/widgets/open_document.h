// Opening a file with the program the desktop associates with it.
#pragma once

#include <QString>

// Opens the file at `path` with its associated program. `path` must name a file in a folder
// (hold a "/"); a bare name is refused, since it would be opened relative to whatever the
// current folder happens to be. Returns true when the desktop accepted the request; no caller
// has to report a failure.
bool OpenDocument(const QString& path);
