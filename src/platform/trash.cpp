#include "platform/trash.h"

#include <gio/gio.h>

bool MoveToTrash(const std::string& path, std::string* why) {
    // g_file_trash, not QFile::moveToTrash: Qt 6.4 "trashes" into ./files/ when the data folder
    // is missing and reports success; GIO creates the trash as the rules say.
    GFile* file = g_file_new_for_path(path.c_str());
    GError* error = nullptr;
    const bool bOk = g_file_trash(file, nullptr, &error);
    if (!bOk && why)
        *why = error ? error->message : "cannot move to the trash";
    if (error)
        g_error_free(error);
    g_object_unref(file);
    return bOk;
}
