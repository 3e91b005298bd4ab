#include "platform/trash.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gio/gio.h>

#include <cerrno>
#include <filesystem>
#include <set>

#include "platform/atomic_file.h"

namespace fs = std::filesystem;

namespace {

constexpr char kInfoSuffix[] = ".trashinfo";

// The folder at the top of the file system that holds `folder`.
std::string MountPointOf(const std::string& folder) {
    struct stat own {};
    if (::stat(folder.c_str(), &own) != 0)
        return {};
    fs::path current(folder);
    while (current != current.root_path() && current.has_parent_path()) {
        const fs::path parent = current.parent_path();
        struct stat up {};
        if (::stat(parent.c_str(), &up) != 0 || up.st_dev != own.st_dev)
            break;
        current = parent;
    }
    return current.string();
}

// The trashes GIO may move `path` into: the home trash and the two top-folder trashes of its
// file system.
std::vector<std::string> TrashesFor(const std::string& path) {
    std::vector<std::string> trashes{(fs::path(g_get_user_data_dir()) / "Trash").string()};
    const std::string top = MountPointOf(fs::path(path).parent_path().string());
    if (!top.empty()) {
        const std::string uid = std::to_string(::getuid());
        trashes.push_back((fs::path(top) / ".Trash" / uid).string());
        trashes.push_back((fs::path(top) / (".Trash-" + uid)).string());
    }
    return trashes;
}

// The info files of those trashes.
std::set<std::string> InfoFiles(const std::vector<std::string>& trashes) {
    std::set<std::string> files;
    for (const std::string& trash : trashes) {
        const std::string folder = trash + "/info/";
        DIR* dir = ::opendir(folder.c_str());
        if (!dir)
            continue;
        while (const dirent* de = ::readdir(dir)) {
            const std::string name = de->d_name;
            const std::size_t suffix = sizeof kInfoSuffix - 1;
            if (name.size() > suffix &&
                name.compare(name.size() - suffix, suffix, kInfoSuffix) == 0)
                files.insert(folder + name);
        }
        ::closedir(dir);
    }
    return files;
}

// The Path= of an info file, unescaped: absolute, or (top-folder trash) relative to the top.
std::string InfoPath(const std::string& infoFile) {
    GKeyFile* keys = g_key_file_new();
    std::string path;
    if (g_key_file_load_from_file(keys, infoFile.c_str(), G_KEY_FILE_NONE, nullptr)) {
        if (gchar* value = g_key_file_get_value(keys, "Trash Info", "Path", nullptr)) {
            if (gchar* plain = g_uri_unescape_string(value, nullptr)) {
                path = plain;
                g_free(plain);
            }
            g_free(value);
        }
    }
    g_key_file_free(keys);
    return path;
}

// Whether an info file's Path= names `path` (absolute).
bool NamesPath(const std::string& infoPath, const std::string& path) {
    if (infoPath.empty())
        return false;
    if (infoPath.front() == '/') {
        if (infoPath == path)
            return true;
        std::error_code ec1, ec2;  // the same file through a link in a folder's path
        const fs::path a = fs::weakly_canonical(infoPath, ec1);
        const fs::path b = fs::weakly_canonical(path, ec2);
        return !ec1 && !ec2 && a == b;
    }
    const std::string tail = "/" + infoPath;
    return path.size() > tail.size() &&
           path.compare(path.size() - tail.size(), tail.size(), tail) == 0;
}

// "T/info/NAME.trashinfo" -> "T/files/NAME".
std::string TrashFileOf(const std::string& infoFile) {
    const fs::path info(infoFile);
    const std::string name = info.filename().string();
    return (info.parent_path().parent_path() / "files" /
            name.substr(0, name.size() - (sizeof kInfoSuffix - 1)))
        .string();
}

}  // namespace

CStatus MoveToTrash(const std::string& path, CTrashedFile* where) {
    // g_file_trash, not QFile::moveToTrash: Qt 6.4 "trashes" into ./files/ when the data folder
    // is missing and reports success; GIO creates the trash as the rules say.
    GFile* file = g_file_new_for_path(path.c_str());
    gchar* absolute = g_file_get_path(file);
    const std::string full = absolute ? absolute : path;
    g_free(absolute);
    // GIO does not say where the file went: the info file that is new and names it is its.
    std::vector<std::string> trashes;
    std::set<std::string> before;
    if (where) {
        *where = CTrashedFile{full, {}, {}};
        trashes = TrashesFor(full);
        before = InfoFiles(trashes);
    }
    GError* error = nullptr;
    const bool bOk = g_file_trash(file, nullptr, &error);
    CStatus status;
    if (!bOk)
        status = CStatus::Failure(error ? error->message : "cannot move to the trash");
    if (error)
        g_error_free(error);
    g_object_unref(file);
    if (bOk && where) {
        for (const std::string& info : InfoFiles(trashes)) {
            if (!before.count(info) && NamesPath(InfoPath(info), full)) {
                where->m_strInfoFile = info;
                where->m_strTrashFile = TrashFileOf(info);
                break;
            }
        }
    }
    return status;
}

std::vector<CRestoredFile> RestoreFromTrash(const std::vector<CTrashedFile>& files) {
    std::vector<CRestoredFile> answers;
    answers.reserve(files.size());
    for (const CTrashedFile& file : files) {
        CRestoredFile& answer =
            answers.emplace_back(CRestoredFile{file.m_strPath, RestoreOutcome::NotInTrash, {}});
        // The info file must still be the one of this file: the trash reuses a name once it
        // is free again.
        struct stat st {};
        if (file.m_strInfoFile.empty() ||
            !NamesPath(InfoPath(file.m_strInfoFile), file.m_strPath) ||
            ::lstat(file.m_strTrashFile.c_str(), &st) != 0)
            continue;
        const CStatus moved = RenameNoReplace(file.m_strTrashFile, file.m_strPath);
        if (!moved) {
            if (moved.Error() == EEXIST) {
                answer.m_outcome = RestoreOutcome::PathTaken;
            } else {
                answer.m_outcome = RestoreOutcome::Failed;
                answer.m_strWhy = moved.Reason();
            }
            continue;
        }
        // Without its file the info would only list a ghost in the trash.
        ::unlink(file.m_strInfoFile.c_str());
        answer.m_outcome = RestoreOutcome::Restored;
    }
    return answers;
}
