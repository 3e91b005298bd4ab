#include "platform/free_name.h"

#include <sys/stat.h>

bool NameTaken(const char* path) {
    struct stat st {};
    return ::lstat(path, &st) == 0;
}

std::string NumberedPath(const std::string& path, std::int64_t n) {
    if (n <= 1)
        return path;
    const std::size_t slash = path.find_last_of('/');
    const std::size_t dot = path.find_last_of('.');
    const bool bExt = dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
    const std::string stem = bExt ? path.substr(0, dot) : path;
    return stem + "_" + std::to_string(n) + (bExt ? path.substr(dot) : std::string());
}
