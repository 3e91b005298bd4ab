// Finding a free numbered name: the first number whose file name is not taken yet. Shared by the
// averaging job's numbered targets and the recording's frame names, which make their names
// each in their own form.
#pragma once

#include <cstdint>
#include <string>

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
