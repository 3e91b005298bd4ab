// CSrchDir: walks one folder and hands every file that matches a list of wildcard patterns to a
// virtual per-file operation. CFileCounter and CFirstFileFinder are its two shared uses; the job
// engines add their own (CMergeScan, CScaleScan).
#pragma once

#include <sys/stat.h>
#include <string>

// What the scan knows about a reported entry (the stand-in for the platform's find record).
struct CFindRecord {
    std::string m_strName;  // entry name, without folder
    bool m_bHaveStat = false;
    struct stat m_stat {};  // filled when m_bHaveStat
};

// A synchronous scan on the calling thread. Hidden entries (names that start with a dot) are
// passed over, files and folders alike. OnFileFound may take long and may ask the scan to
// stop by setting m_bStop; the stop takes effect before the next entry is reported. Every
// folder's entries are read completely before the first of them is reported, so files that the
// per-file operation creates in the scanned folder are never reported by the same scan.
class CSrchDir {
public:
    CSrchDir() = default;
    virtual ~CSrchDir() = default;

    // fileSpec: patterns separated by spaces and/or semicolons ("*.jpg;*.bmp"), matched
    // ignoring case. excludeDir: a folder (with or without trailing '/') not to descend into;
    // empty for none.
    void Init(const std::string& fileSpec, bool bRecurse, const std::string& excludeDir = {});
    // Scans `folder` (with or without trailing '/'); nothing happens for an empty folder text.
    void Search(const std::string& folder);

    // Called once per matching file. `path` is the folder text (ending in '/') and the name.
    virtual void OnFileFound(const std::string& path, const CFindRecord& record);

    std::string m_szFileSpec;
    std::string m_szExcludeDir;  // ends in '/', or empty
    bool m_bStop = false;
    bool m_bRecurse = false;

protected:
    // `folder` ends in '/'.
    void SearchFolder(const std::string& folder);
};

// Counts the matching files.
class CFileCounter : public CSrchDir {
public:
    int Count(const std::string& folder, const std::string& fileSpec, bool bRecurse = false,
              const std::string& excludeDir = {});
    void OnFileFound(const std::string& path, const CFindRecord& record) override;

    int m_nCount = 0;
};

// Finds the first matching file in scan order.
class CFirstFileFinder : public CSrchDir {
public:
    // The first path found, or an empty string when there is none.
    std::string Find(const std::string& folder, const std::string& fileSpec, bool bRecurse = false,
                     const std::string& excludeDir = {});
    void OnFileFound(const std::string& path, const CFindRecord& record) override;

    std::string m_szFound;
};

// True when `name` matches the wildcard `pattern` ('*' and '?'), ignoring ASCII case; a final
// ".*" also matches a name without a dot.
bool WildcardMatch(const std::string& pattern, const std::string& name);
