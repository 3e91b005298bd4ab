#include "jobs/settings_file.h"

// Debian ships SimpleIni built against ICU; its generic converter header is not installed.
#define SI_CONVERT_ICU
#include <SimpleIni.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <type_traits>
#include <variant>

#include "platform/atomic_file.h"
#include "platform/make_folder.h"
#include "platform/program_path.h"

namespace fs = std::filesystem;

namespace {

// One key of a section: its name and the field it is exchanged with. Booleans are written as
// 0 or 1 and read back as "not 0"; choices as their number.
template <class P>
struct CIniKey {
    const char* m_pszKey;
    std::variant<std::string P::*, int P::*, bool P::*, std::optional<SourceKind> P::*,
                 std::optional<ScaleChoice> P::*, StackMethod P::*, double P::*>
        m_member;
};

// Write order of each section.
constexpr const char* kMergeSection = "MergeImage";
const CIniKey<CMergeParams> kMergeKeys[] = {
    {"SrcDir", &CMergeParams::m_strSrcDir},       {"TgtDir", &CMergeParams::m_strTargetFile},
    {"JpgQuality", &CMergeParams::m_nJpgQuality}, {"SrcFile", &CMergeParams::m_source},
    {"Resize800", &CMergeParams::m_bExtra800},    {"Resize1024", &CMergeParams::m_bExtra1024},
    {"DelSrc", &CMergeParams::m_bDelSrc},         {"NoSameFile", &CMergeParams::m_bAutoNumber},
    {"Method", &CMergeParams::m_method},          {"Kappa", &CMergeParams::m_dKappa},
    {"Align", &CMergeParams::m_bAlign},
};

constexpr const char* kScaleSection = "ScaleImage";
const CIniKey<CScaleParams> kScaleKeys[] = {
    {"SrcDir", &CScaleParams::m_strSrcDir},
    {"TgtDir", &CScaleParams::m_strTargetFolder},
    {"JpgQuality", &CScaleParams::m_nJpgQuality},
    {"SrcFile", &CScaleParams::m_source},
    {"Scale", &CScaleParams::m_scale},
    {"DelSrc", &CScaleParams::m_bDelSrc},
};

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// The value of a field as the settings file holds it. A text with blanks at either end, which
// the file format would drop, is written in double quotes, as is one that is itself quoted; the
// quotes come off when it is read (as the platform's own reader does).
std::string IniText(const std::string& text) {
    const bool bQuote =
        !text.empty() && (IsBlank(text.front()) || IsBlank(text.back()) ||
                          (text.size() >= 2 && text.front() == '"' && text.back() == '"'));
    return bQuote ? '"' + text + '"' : text;
}

std::string TextFromIni(const char* value) {
    std::string text = value ? value : "";
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"')
        text = text.substr(1, text.size() - 2);
    return text;
}
std::string IniText(int value) {
    return std::to_string(value);
}
std::string IniText(bool value) {
    return value ? "1" : "0";
}
template <class E>
std::string IniText(const std::optional<E>& choice) {
    return std::to_string(IndexOf(choice));
}
std::string IniText(StackMethod method) {
    return std::to_string(int(method));
}
// The shortest text that reads back as the same number.
std::string IniText(double value) {
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    return std::string(text, end);
}

// Sets a numeric field from a number read as 0 or more.
void SetFromIni(int& field, int n) {
    field = n;
}
void SetFromIni(bool& field, int n) {
    field = n != 0;
}
void SetFromIni(std::optional<SourceKind>& field, int n) {
    field = SourceKindAt(n);
}
void SetFromIni(std::optional<ScaleChoice>& field, int n) {
    field = ScaleChoiceAt(n);
}
// A number beyond the methods keeps the default: the list always has a choice.
void SetFromIni(StackMethod& field, int n) {
    if (n <= int(StackMethod::SigmaClip))
        field = StackMethod(n);
}
// Kappa: a number above 0; anything else keeps the default.
void SetFromIni(double& field, const char* value) {
    if (!value)
        return;
    char* end = nullptr;
    const double d = std::strtod(value, &end);
    if (end != value && std::isfinite(d) && d > 0)
        field = d;
}

std::string TooLarge() {
    return "larger than " + std::to_string(kMaxSettingsFileBytes >> 20) +
           " MiB, too large for a settings file";
}

// Reads the whole file. A missing file is an empty one; false when it exists but cannot be read,
// is not a regular file or holds more than kMaxSettingsFileBytes. Opened without blocking, as a
// FIFO would wait for a writer; the opened file is what is checked, so a link counts as what it
// points to (/dev/zero never ends).
CResult<std::string> ReadWholeFile(const std::string& path) {
    std::string text;
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        if (errno == ENOENT)
            return text;
        return CStatus::Failure(path + ": " + std::strerror(errno));
    }
    struct stat st {};
    std::string reason;
    if (fstat(fd, &st) != 0)
        reason = std::strerror(errno);
    else if (S_ISDIR(st.st_mode))
        reason = std::strerror(EISDIR);
    else if (!S_ISREG(st.st_mode))
        reason = "not a regular file";
    else if (std::uint64_t(st.st_size) > kMaxSettingsFileBytes)
        reason = TooLarge();
    // A file that grew since fstat is refused once past the limit, not read to its end.
    char buffer[8192];
    while (reason.empty()) {
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got == 0)
            break;
        if (got < 0) {
            if (errno != EINTR)
                reason = std::strerror(errno);
        } else if (text.append(buffer, std::size_t(got)).size() > kMaxSettingsFileBytes) {
            reason = TooLarge();
        }
    }
    close(fd);
    if (reason.empty())
        return text;
    return CStatus::Failure(path + ": " + reason);
}

// Writes `text` beside `path` under a temporary name and renames it into place, so a failed
// write never leaves a cut-off settings file.
CStatus ReplaceFile(const std::string& path, const std::string& text) {
    const fs::path parent = fs::path(path).parent_path();
    if (CStatus made = parent.empty() ? CStatus() : MakeFolder(parent.string()); !made)
        return CStatus::Failure(parent.string() + ": " + made.Reason());
    if (CStatus written = WriteWholeFile(path, text); !written)
        return CStatus::Failure(path + ": " + written.Reason());
    return {};
}

// GetPrivateProfileInt's reading: an optional sign and decimal digits after blanks; anything
// else, or no key at all, reads as -1 (the "missing" answer, which keeps the default).
int ReadIniInt(const char* value) {
    if (!value)
        return -1;
    errno = 0;
    char* end = nullptr;
    const long n = std::strtol(value, &end, 10);
    if (end == value)
        return -1;
    if (errno == ERANGE || n > INT_MAX)
        return INT_MAX;
    if (n < INT_MIN)
        return INT_MIN;
    return int(n);
}

template <class S, std::size_t K>
CStatus Save(const S& settings, const char* section, const CIniKey<S> (&keys)[K],
             const std::string& iniPath) {
    const CResult<std::string> text = ReadWholeFile(iniPath);
    if (!text)
        return text.Status();
    CSimpleIniA ini;
    ini.SetSpaces(false);
    if (ini.LoadData(*text) < 0)
        return CStatus::Failure(iniPath + ": not a settings file that can be kept");
    for (const CIniKey<S>& key : keys) {
        const std::string value =
            std::visit([&](auto member) { return IniText(settings.*member); }, key.m_member);
        if (value.find_first_of("\r\n") != std::string::npos)
            return CStatus::Failure(iniPath + ": the value of " + key.m_pszKey +
                                    " holds a line break");
        ini.SetValue(section, key.m_pszKey, value.c_str());
    }
    std::string out;
    if (ini.Save(out) < 0)
        return CStatus::Failure(iniPath + ": cannot format the settings");
    return ReplaceFile(iniPath, out);
}

template <class S, std::size_t K>
CStatus Load(S& settings, const char* section, const CIniKey<S> (&keys)[K],
             const std::string& iniPath) {
    settings = S{};
    const CResult<std::string> text = ReadWholeFile(iniPath);
    if (!text)
        return text.Status();
    CSimpleIniA ini;
    if (ini.LoadData(*text) < 0)
        return {};
    for (const CIniKey<S>& key : keys) {
        const char* value = ini.GetValue(section, key.m_pszKey, nullptr);
        std::visit(
            [&](auto member) {
                auto& field = settings.*member;
                using Field = std::decay_t<decltype(field)>;
                if constexpr (std::is_same_v<Field, std::string>) {
                    field = TextFromIni(value);
                } else if constexpr (std::is_same_v<Field, double>) {
                    SetFromIni(field, value);
                } else if (const int n = ReadIniInt(value); n >= 0) {
                    SetFromIni(field, n);
                }
            },
            key.m_member);
    }
    return {};
}

}  // namespace

std::string IniPathFor(const std::string& exePath) {
    const fs::path beside = ProgramSiblingPath(exePath, ".ini");
    const fs::path folder = beside.parent_path().empty() ? fs::path(".") : beside.parent_path();
    if (!exePath.empty() && access(folder.c_str(), W_OK) == 0)
        return beside.string();

    const char* config = std::getenv("XDG_CONFIG_HOME");
    fs::path base;
    if (config && config[0] == '/') {
        base = config;
    } else {
        const char* home = std::getenv("HOME");
        base = fs::path(home && home[0] ? home : "/") / ".config";
    }
    return (base / "tarnwick" / "tarnwick.ini").string();
}

CStatus SaveSettings(const CMergeParams& settings, const std::string& iniPath) {
    return Save(settings, kMergeSection, kMergeKeys, iniPath);
}

CStatus SaveSettings(const CScaleParams& settings, const std::string& iniPath) {
    return Save(settings, kScaleSection, kScaleKeys, iniPath);
}

void ResetSettings(CMergeParams& settings) {
    settings = CMergeParams{};
}
void ResetSettings(CScaleParams& settings) {
    settings = CScaleParams{};
}

CStatus LoadSettings(CMergeParams& settings, const std::string& iniPath) {
    return Load(settings, kMergeSection, kMergeKeys, iniPath);
}

CStatus LoadSettings(CScaleParams& settings, const std::string& iniPath) {
    return Load(settings, kScaleSection, kScaleKeys, iniPath);
}
