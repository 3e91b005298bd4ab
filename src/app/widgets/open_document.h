// Opening a file with the program the desktop associates with it.
#pragma once

#include <QString>
#include <QUrl>

#include <functional>

// Opens the file at `path` with its associated program. `path` must name a file in a folder
// (hold a "/"); a bare name is refused, since it would be opened relative to whatever the
// current folder happens to be. Returns true when the desktop accepted the request; false when
// nothing on the system opens it (the caller tells the user).
bool OpenDocument(const QString& path);

class QWidget;

// Opens the file or folder at `path` as OpenDocument does; when nothing on the system opens it,
// tells the user in a message box that names the path.
bool OpenOrReport(const QString& path, QWidget* parent);

// While installed, `opener` is asked instead of the desktop (the tests); an empty function
// removes it. Returns the previous one.
using DocumentOpener = std::function<bool(const QUrl&)>;
DocumentOpener SetDocumentOpener(DocumentOpener opener);
