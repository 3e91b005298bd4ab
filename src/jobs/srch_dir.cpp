#include "jobs/srch_dir.h"

#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <vector>

namespace {

struct DirEntry {
    std::string name;
    bool bDir = false;
};

// Name order: ASCII letters compared ignoring case first, then the bytes as they are to break ties
// ("a.bmp" before "B.bmp" before "b.bmp"), so that recorded frames come in time order.
bool NameBefore(const std::string& a, const std::string& b) {
    const auto fold = [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u >= 'A' && u <= 'Z' ? u + ('a' - 'A') : u;
    };
    const bool folded = std::lexicographical_compare(
        a.begin(), a.end(), b.begin(), b.end(), [&](char x, char y) { return fold(x) < fold(y); });
    if (folded)
        return true;
    const bool foldedAfter = std::lexicographical_compare(
        b.begin(), b.end(), a.begin(), a.end(), [&](char x, char y) { return fold(x) < fold(y); });
    return !foldedAfter && a < b;
}

// Reads every entry of `folder` except "." and "..", in name order. A folder that cannot be opened
// gives no entries.
std::vector<DirEntry> ReadFolder(const std::string& folder) {
    std::vector<DirEntry> entries;
    DIR* dir = opendir(folder.c_str());
    if (!dir)
        return entries;
    const int fd = dirfd(dir);
    while (const dirent* de = readdir(dir)) {
        const std::string name = de->d_name;
        // Hidden names (a leading dot) are never taken, as the system's own tools do: the
        // program's temporary files are among them.
        if (name.empty() || name[0] == '.')
            continue;
        DirEntry entry{name, de->d_type == DT_DIR};
        if (de->d_type == DT_UNKNOWN || de->d_type == DT_LNK) {
            // A link to a folder counts as a folder, as a junction does on the original platform.
            struct stat st {};
            entry.bDir = fstatat(fd, de->d_name, &st, 0) == 0 && S_ISDIR(st.st_mode);
        }
        entries.push_back(std::move(entry));
    }
    closedir(dir);
    std::sort(entries.begin(), entries.end(),
              [](const DirEntry& a, const DirEntry& b) { return NameBefore(a.name, b.name); });
    return entries;
}

std::vector<std::string> SplitPatterns(const std::string& patterns) {
    std::vector<std::string> tokens;
    std::string token;
    for (char c : patterns) {
        if (c == ' ' || c == ';') {
            if (!token.empty())
                tokens.push_back(token);
            token.clear();
        } else {
            token += c;
        }
    }
    if (!token.empty())
        tokens.push_back(token);
    return tokens;
}

std::string WithSlash(const std::string& folder) {
    if (folder.empty() || folder.back() == '/')
        return folder;
    return folder + '/';
}

bool IsSymlink(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

}  // namespace

namespace {

bool MatchIgnoringCase(const std::string& pattern, const std::string& name) {
    // Iterative '*' matching with one backtrack point: linear in practice, never recursive.
    std::size_t p = 0, n = 0, star = std::string::npos, mark = 0;
    const auto lower = [](char c) {
        return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    };
    while (n < name.size()) {
        // '*' is a wildcard first, even where the name holds a '*' too.
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            mark = n;
        } else if (p < pattern.size() &&
                   (pattern[p] == '?' || lower(pattern[p]) == lower(name[n]))) {
            ++p;
            ++n;
        } else if (star != std::string::npos) {
            p = star + 1;
            n = ++mark;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

}  // namespace

bool WildcardMatch(const std::string& pattern, const std::string& name) {
    if (MatchIgnoringCase(pattern, name))
        return true;
    // As on the original platform, a final ".*" also matches a name without extension ("*.*"
    // matches every name).
    const std::size_t n = pattern.size();
    return n >= 2 && pattern.compare(n - 2, 2, ".*") == 0 && name.find('.') == std::string::npos &&
           MatchIgnoringCase(pattern.substr(0, n - 2), name);
}

void CSrchDir::Init(const std::string& fileSpec, bool bRecurse, const std::string& excludeDir) {
    m_szFileSpec = fileSpec;
    m_bStop = false;
    m_bRecurse = bRecurse;
    m_szExcludeDir = WithSlash(excludeDir);
}

void CSrchDir::Search(const std::string& folder) {
    if (folder.empty())
        return;
    SearchFolder(WithSlash(folder));
}

void CSrchDir::OnFileFound(const std::string&, const CFindRecord&) {}

void CSrchDir::SearchFolder(const std::string& folder) {
    if (m_bStop)
        return;
    if (!m_szExcludeDir.empty() && strcasecmp(folder.c_str(), m_szExcludeDir.c_str()) == 0)
        return;

    const std::vector<DirEntry> entries = ReadFolder(folder);
    for (const std::string& token : SplitPatterns(m_szFileSpec)) {
        for (const DirEntry& entry : entries) {
            if (entry.bDir || !WildcardMatch(token, entry.name))
                continue;
            CFindRecord record;
            record.m_strName = entry.name;
            const std::string path = folder + entry.name;
            record.m_bHaveStat = stat(path.c_str(), &record.m_stat) == 0;
            OnFileFound(path, record);
            if (m_bStop)
                break;
        }
        if (m_bStop)
            break;
    }
    if (!m_bRecurse || m_bStop)
        return;

    for (const DirEntry& entry : entries) {
        if (!entry.bDir)
            continue;
        const std::string sub = folder + entry.name;
        // Linked folders are not followed: a link back up the tree would never end.
        if (IsSymlink(sub))
            continue;
        SearchFolder(sub + '/');
        if (m_bStop)
            return;
    }
}

int CFileCounter::Count(const std::string& folder, const std::string& fileSpec, bool bRecurse,
                        const std::string& excludeDir) {
    m_nCount = 0;
    Init(fileSpec, bRecurse, excludeDir);
    Search(folder);
    return m_nCount;
}

void CFileCounter::OnFileFound(const std::string&, const CFindRecord&) {
    ++m_nCount;
}

std::string CFirstFileFinder::Find(const std::string& folder, const std::string& fileSpec,
                                   bool bRecurse, const std::string& excludeDir) {
    m_szFound.clear();
    Init(fileSpec, bRecurse, excludeDir);
    Search(folder);
    return m_szFound;
}

void CFirstFileFinder::OnFileFound(const std::string& path, const CFindRecord&) {
    m_szFound = path;
    m_bStop = true;
}
