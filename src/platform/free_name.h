// Finding a free numbered name: the first number whose file name is not taken yet. Shared by the
// averaging job's numbered targets and the recording's frame names, which make their names
// each in their own form, and by the saved frames and stills, which number as NumberedPath.
#pragma once

#include <cerrno>
#include <cstdint>
#include <limits>
#include <string>

#include "platform/status.h"

// `path` for n = 1, "stem_N.ext" for N above (the extension is what follows the last dot of the
// file name, when it has one): the numbering of the names this program picks itself.
std::string NumberedPath(const std::string& path, std::int64_t n);

// Whether a name is taken: anything there, a dangling link too (lstat, links not followed).
bool NameTaken(const char* path);
inline bool NameTaken(const std::string& path) {
    return NameTaken(path.c_str());
}

// The first number from `first` below `last` whose name `nameOf(number)` (a path, as a
// std::string or a C string) is not taken; `last` itself, untested, when every one before it
// is. Allocates nothing of its own, so a caller whose names need no allocation (the recording's
// frame writer) stays without one.
template <class FName>
std::int64_t FirstFreeNumber(std::int64_t first, std::int64_t last, FName&& nameOf) {
    for (std::int64_t number = first; number < last; ++number)
        if (!NameTaken(nameOf(number)))
            return number;
    return last;
}

// Writes a file under the first free number from `number` on: `nameOf(n)` names number n (as
// FirstFreeNumber takes it) and `write(n)` writes it without replacing anything (a CStatus).
// Names in use are passed over before anything is written; a write refused because a file of
// that name appeared meanwhile (EEXIST) is tried again at the next free number. Leaves the
// number last tried in `number` and returns the status of that write.
template <class FName, class FWrite>
CStatus WriteAtFreeNumber(std::int64_t& number, FName&& nameOf, FWrite&& write) {
    for (;;) {
        number = FirstFreeNumber(number, std::numeric_limits<std::int64_t>::max(), nameOf);
        CStatus written = write(number);
        if (written || written.Error() != EEXIST)
            return written;
        ++number;
    }
}
