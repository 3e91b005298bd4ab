// The settings file of the two job pages: where it lives, and the keys of the sections
// "MergeImage" (averaging) and "ScaleImage" (enlarging) with their forms and defaults. Settings
// are read and written only on request (the pages' Load, Save and Reset buttons).
#pragma once

#include <cstddef>
#include <string>

#include "jobs/job_params.h"
#include "platform/status.h"

// Save and Load read only a regular file (links followed) of at most 1 MiB, far beyond the few
// hundred bytes of the two sections: a FIFO, a device, a folder or a larger file is refused at
// once (with the reason), never waited on nor read whole into memory.
inline constexpr std::size_t kMaxSettingsFileBytes = std::size_t(1) << 20;

// The settings file for the executable at `exePath`: the executable's path with its extension
// replaced by ".ini" (or ".ini" appended), when that folder is writable; otherwise (an installed
// program) $XDG_CONFIG_HOME/tarnwick/tarnwick.ini, with ~/.config for an unset XDG_CONFIG_HOME.
// The programs take it for themselves in their run context (run_context.h).
std::string IniPathFor(const std::string& exePath);

// Section "MergeImage" is a CMergeParams, section "ScaleImage" a CScaleParams; the structs'
// initialisers are the defaults. Keys, in the order Save writes them:
//   MergeImage: SrcDir, TgtDir (target file), JpgQuality, SrcFile, Resize800, Resize1024,
//               DelSrc, NoSameFile (auto-number), Method, Kappa, Align
//   ScaleImage: SrcDir, TgtDir (target folder), JpgQuality, SrcFile, Scale, DelSrc
// SrcFile and Scale hold the number of the choice (SourceKind, ScaleChoice); a number beyond
// the choices reads as none chosen, which is written as -1 (as a list without selection).
// Method holds the number of the StackMethod (0 mean, 1 mean-of-added, 2 median, 3 sigma-clip;
// any other number keeps mean), Kappa a decimal number above 0 (else 2.5), Align 0 or 1. A file
// written before these keys existed lacks them and so loads mean, 2.5 and 0: the plain average.

// Writes the section's keys in table order as Key=Value lines, keeping every other section, key
// and comment of the file (created with its folder when missing). A text with blanks at either
// end (or in double quotes itself) is written in double quotes, so that it reads back whole. Fails
// (with the path and the reason) when the file cannot be read or written, or a text holds a line
// break.
CStatus SaveSettings(const CMergeParams& settings, const std::string& iniPath);
CStatus SaveSettings(const CScaleParams& settings, const std::string& iniPath);

// Sets every field to its default.
void ResetSettings(CMergeParams& settings);
void ResetSettings(CScaleParams& settings);

// Resets, then reads the section: texts as they stand, less one pair of enclosing double quotes
// (a missing key reads as empty), integers
// replace the default when they read as 0 or more. A missing, unreadable or malformed file, a
// missing key or a value that is not a number leaves the defaults. Fails (with the path and the
// reason) when the file exists but cannot be read or is refused; `settings` then holds the
// defaults.
CStatus LoadSettings(CMergeParams& settings, const std::string& iniPath);
CStatus LoadSettings(CScaleParams& settings, const std::string& iniPath);
