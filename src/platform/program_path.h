// Files that live beside the program (settings, help page) are named after it.
#pragma once

#include <string>
#include <vector>

// The running program's own file (empty when it cannot be found).
std::string ProgramFilePath();

// `programPath` with the extension of its file name replaced by `ext` (".ini"), or `ext`
// appended when the name has none; a dot in a folder name, or a leading dot, is no extension.
std::string ProgramSiblingPath(const std::string& programPath, const std::string& ext);

// Where Help looks for its page, in order: beside the program, named after it with ".htm";
// then the installed copy, <prefix>/share/doc/tarnwick/tarnwick.htm for a program in
// <prefix>/bin (found relative to the program, so any prefix works).
std::vector<std::string> HelpFileCandidates(const std::string& programPath);

// The first of HelpFileCandidates that is a file, or the first candidate when none is (the
// path that the "missing help file" message is about).
std::string FindHelpFile(const std::string& programPath);
