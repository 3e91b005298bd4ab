// The settings file of the two job pages: where it lives, and the keys of the sections
// "MergeImage" (averaging) and "ScaleImage" (enlarging) with their forms and defaults. Settings
// are read and written only on request (the pages' Load, Save and Reset buttons).
#pragma once

#include <string>

// Full path of the settings file, set once at start-up by MakeIniPath.
extern std::string g_szIniFile;

// The settings file for the executable at `exePath`: the executable's path with its extension
// replaced by ".ini" (or ".ini" appended), when that folder is writable; otherwise (an installed
// program) $XDG_CONFIG_HOME/tarnwick/tarnwick.ini, with ~/.config for an unset XDG_CONFIG_HOME.
std::string IniPathFor(const std::string& exePath);
// Sets g_szIniFile for the running executable and returns it.
const std::string& MakeIniPath();

// Section "MergeImage". The member initialisers are the defaults, also the averaging page's
// values when it is created.
struct CMergeSettings {
    std::string m_strSrcDir;    // SrcDir: source folder
    std::string m_strTgtDir;    // TgtDir: target file (full path)
    int m_nJpgQuality = 95;     // JpgQuality
    int m_nSrcFile = 1;         // SrcFile: 0 = "*.jpg", 1 = "*.bmp"
    bool m_bResize800 = true;   // Resize800: extra 800x600 copy
    bool m_bResize1024 = true;  // Resize1024: extra 1024x768 copy
    bool m_bDelSrc = true;      // DelSrc: move sources to the trash
    bool m_bNoSameFile = true;  // NoSameFile: auto-number the target

    bool operator==(const CMergeSettings&) const = default;
};

// Section "ScaleImage" (batch enlarging), defaults as initialisers.
struct CScaleSettings {
    std::string m_strSrcDir;  // SrcDir: source folder
    std::string m_strTgtDir;  // TgtDir: target folder
    int m_nJpgQuality = 95;   // JpgQuality
    int m_nSrcFile = 1;       // SrcFile: 0 = "*.jpg", 1 = "*.bmp"
    int m_nScale = 0;         // Scale: 0 "x2", 1 "x3", 2 "640x480", 3 "800x600", 4 "1024x768"
    bool m_bDelSrc = true;    // DelSrc

    bool operator==(const CScaleSettings&) const = default;
};

// Writes the section's keys in table order as Key=Value lines, keeping every other section, key
// and comment of the file (created with its folder when missing). False with *why (path and
// reason) when the file cannot be read or written, or a text holds a line break.
[[nodiscard]] bool SaveSettings(const CMergeSettings& settings, const std::string& iniPath,
                                std::string* why);
[[nodiscard]] bool SaveSettings(const CScaleSettings& settings, const std::string& iniPath,
                                std::string* why);

// Sets every field to its default.
void ResetSettings(CMergeSettings& settings);
void ResetSettings(CScaleSettings& settings);

// Resets, then reads the section: texts as they stand (a missing key reads as empty), integers
// replace the default when they read as 0 or more. A missing, unreadable or malformed file, a
// missing key or a value that is not a number leaves the defaults.
void LoadSettings(CMergeSettings& settings, const std::string& iniPath);
void LoadSettings(CScaleSettings& settings, const std::string& iniPath);
