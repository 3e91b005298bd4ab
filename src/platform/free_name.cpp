#include "platform/free_name.h"

#include <sys/stat.h>

bool NameTaken(const char* path) {
    struct stat st {};
    return ::lstat(path, &st) == 0;
}
