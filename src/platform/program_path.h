// Files that live beside the program (settings, help page) are named after it.
#pragma once

#include <string>

// The running program's own file (empty when it cannot be found).
std::string ProgramFilePath();

// `programPath` with the extension of its file name replaced by `ext` (".ini"), or `ext`
// appended when the name has none; a dot in a folder name, or a leading dot, is no extension.
std::string ProgramSiblingPath(const std::string& programPath, const std::string& ext);
