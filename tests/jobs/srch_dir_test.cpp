#include "jobs/srch_dir.h"

#include <algorithm>
#include <random>

#include "fuzz/wildcard_reference.h"

#include "jobs_test_util.h"

using namespace jobs_test;

namespace {

// Records every reported path; optionally stops on the n-th one.
class CRecorder : public CSrchDir {
public:
    void OnFileFound(const std::string& path, const CFindRecord& record) override {
        m_paths.push_back(path);
        EXPECT_EQ(path.substr(path.size() - record.m_strName.size()), record.m_strName);
        if (m_nStopAt && int(m_paths.size()) == m_nStopAt)
            m_bStop = true;
    }
    std::vector<std::string> Run(const std::string& folder, const std::string& patterns,
                                 bool bRecurse = false, const std::string& exclude = {}) {
        Init(patterns, bRecurse, exclude);
        Search(folder);
        return m_paths;
    }
    std::vector<std::string> m_paths;
    int m_nStopAt = 0;
};

}  // namespace

TEST(WildcardMatch, PatternsIgnoreCase) {
    struct Case {
        const char* pattern;
        const char* name;
        bool match;
    };
    const Case kCases[] = {
        {"*.jpg", "a.jpg", true},
        {"*.jpg", "A.JPG", true},
        {"*.jpg", "a.jpeg", false},
        {"*.jpg", "a.jpg.bak", false},
        {"*.JPG", "photo.Jpg", true},
        {"*.jpg", ".jpg", true},
        {"?.bmp", "a.bmp", true},
        {"?.bmp", "ab.bmp", false},
        {"*.*", "noext", true},
        {"*", "anything", true},
        {"a*b*c", "aXbYc", true},
        {"a*b*c", "aXbY", false},
        {"*.bmp", "x.b.bmp", true},
        {"[a].bmp", "[a].bmp", true},
        {"[a].bmp", "a.bmp", false},
        {"a.*", "a", true},
        {"a.*", "ab", false},
        {"*.bmp", "bmp", false},
        // A '*' in the name is a character like any other for the pattern's '*'.
        {"*.bmp", "*1.bmp", true},
        {"*1.bmp", "*1.bmp", true},
        {"*1.bmp", "*21.bmp", true},
        {"*b", "*ab", true},
        {"?1.bmp", "*1.bmp", true},
        {"*.bmp", "*1.jpg", false},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(std::string(c.pattern) + " ~ " + c.name);
        EXPECT_EQ(WildcardMatch(c.pattern, c.name), c.match);
    }
}

// Random patterns and names over a small alphabet rich in wildcards, dots and case: the
// scanner's matcher agrees with the plain one on every pair.
TEST(WildcardMatch, AgreesWithAPlainMatcher) {
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    auto text = [&rng](const char* alphabet, std::size_t maxLength) {
        const std::string a = alphabet;
        std::string t(rng() % (maxLength + 1), ' ');
        for (char& c : t) c = a[rng() % a.size()];
        return t;
    };
    int matches = 0;
    for (int i = 0; i < 20000; ++i) {
        const std::string pattern = text("aB*?.1", 8);
        const std::string name = text("abA*?.1", 10);
        const bool want = wildcard_reference::ScannerMatch(pattern, name);
        ASSERT_EQ(WildcardMatch(pattern, name), want) << "'" << pattern << "' ~ '" << name << "'";
        matches += want;
    }
    EXPECT_GT(matches, 1000);  // enough of both answers to mean something
}

TEST(CSrchDir, PatternOrderThenNameOrder) {
    TempDir dir;
    // Made in an order of their own; listed by pattern, then by name ignoring case, then by bytes.
    for (const char* name :
         {"f.Bmp", "c.JPG", "a.bmp", "e.png", "B.jpg", "D.bmp", "b.jpg", "d.bmp"})
        WriteText(dir.Path() / name, "x");
    fs::create_directories(dir.Path() /
                           "folder.jpg");  // a folder named like an image is never reported
    fs::create_directories(dir.Path() / "sub.bmp");

    CRecorder scan;
    const std::vector<std::string> got = scan.Run(Str(dir), "*.jpg;*.bmp");
    std::vector<std::string> want;
    for (const char* name : {"B.jpg", "b.jpg", "c.JPG", "a.bmp", "D.bmp", "d.bmp", "f.Bmp"})
        want.push_back(Str(dir) + "/" + name);
    EXPECT_EQ(got, want);

    CFirstFileFinder finder;
    EXPECT_EQ(finder.Find(Str(dir), "*.jpg;*.bmp"), want.front());
}

// Many names of mixed case made in a random order come back sorted by name, whatever order the
// file system keeps them in.
TEST(CSrchDir, NameOrderWhateverTheCreationOrder) {
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    std::vector<std::string> names;
    for (int i = 0; i < 260; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "%s%04d.%s", (rng() & 1) ? "Img" : "img", i,
                      (rng() & 1) ? "bmp" : "BMP");
        names.push_back(name);
    }
    names.push_back("IMG0007x.bmp");
    names.push_back("img0007x.bmp");
    std::shuffle(names.begin(), names.end(), rng);
    TempDir dir;
    for (const std::string& name : names) WriteText(dir.Path() / name, "x");

    CRecorder scan;
    const std::vector<std::string> got = scan.Run(Str(dir), "*.bmp");
    // The same order worked out another way: lower-cased copies first, the names themselves next.
    std::vector<std::pair<std::string, std::string>> keyed;
    for (const std::string& name : names) {
        std::string lower = name;
        std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
        keyed.emplace_back(lower, name);
    }
    std::sort(keyed.begin(), keyed.end());
    std::vector<std::string> want;
    for (const auto& [lower, name] : keyed) want.push_back(Str(dir) + "/" + name);
    EXPECT_EQ(got, want);
}

TEST(CSrchDir, SeparatorsAndDuplicates) {
    TempDir dir;
    WriteText(dir.Path() / "a.bmp", "x");
    WriteText(dir.Path() / "b.jpg", "x");
    struct Case {
        const char* patterns;
        int count;
    };
    const Case kCases[] = {
        {"*.jpg;*.bmp", 2},
        {"*.jpg *.bmp", 2},
        {" ;*.jpg;; *.bmp ; ", 2},
        {"*.bmp;*.BMP", 2},  // a file matching two patterns is reported twice
        {"", 0},
        {";;", 0},
        {"*.png", 0},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.patterns);
        CFileCounter counter;
        EXPECT_EQ(counter.Count(Str(dir), c.patterns), c.count);
    }
}

TEST(CSrchDir, TrailingSeparatorGivesSamePaths) {
    TempDir dir;
    WriteText(dir.Path() / "x.bmp", "x");
    CRecorder with, without;
    const auto a = with.Run(Str(dir) + "/", "*.bmp");
    const auto b = without.Run(Str(dir), "*.bmp");
    EXPECT_EQ(a, b);
    ASSERT_EQ(a.size(), 1u);
    EXPECT_EQ(a[0], Str(dir) + "/x.bmp");
}

TEST(CSrchDir, EmptyOrMissingFolder) {
    TempDir dir;
    CFileCounter counter;
    CFirstFileFinder finder;
    for (const std::string& folder : {Str(dir), Str(dir) + "/missing", std::string()}) {
        SCOPED_TRACE(folder);
        EXPECT_EQ(counter.Count(folder, "*.bmp"), 0);
        EXPECT_EQ(finder.Find(folder, "*.bmp"), "");
    }
}

TEST(CSrchDir, StopOnThirdOfTen) {
    TempDir dir;
    for (int i = 0; i < 10; ++i) WriteText(dir.Path() / ("f" + std::to_string(i) + ".bmp"), "x");
    CRecorder all;
    const auto everything = all.Run(Str(dir), "*.bmp");
    ASSERT_EQ(everything.size(), 10u);

    CRecorder scan;
    scan.m_nStopAt = 3;
    const auto got = scan.Run(Str(dir), "*.bmp;*.BMP", true);  // the stop also ends later patterns
    EXPECT_EQ(got, std::vector<std::string>(everything.begin(), everything.begin() + 3));
}

TEST(CSrchDir, RecursionWithExcludedFolder) {
    TempDir dir;
    WriteText(dir.Path() / "top.bmp", "x");
    WriteText(dir.Path() / "Keep" / "k.bmp", "x");
    WriteText(dir.Path() / "Skip" / "s.bmp", "x");
    WriteText(dir.Path() / "Skip" / "deeper" / "d.bmp", "x");
    fs::create_directory_symlink(dir.Path(), dir.Path() / "loop");  // never followed

    struct Case {
        bool recurse;
        std::string exclude;
        std::vector<std::string> names;
    };
    const Case kCases[] = {
        {false, "", {"top.bmp"}},
        {true, "", {"d.bmp", "k.bmp", "s.bmp", "top.bmp"}},
        {true, Str(dir) + "/skip", {"k.bmp", "top.bmp"}},  // ignoring case, no trailing separator
        {true, Str(dir) + "/SKIP/", {"k.bmp", "top.bmp"}},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.exclude);
        CRecorder scan;
        const auto got = scan.Run(Str(dir), "*.bmp", c.recurse, c.exclude);
        ASSERT_FALSE(got.empty());
        EXPECT_EQ(got.front(), Str(dir) + "/top.bmp");  // a folder's own files come first
        std::vector<std::string> names;
        for (const auto& p : got) names.push_back(fs::path(p).filename().string());
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, c.names);
    }
}

TEST(CSrchDir, LongPathsAndNames) {
    TempDir dir;
    fs::path deep = dir.Path();
    for (int i = 0; i < 6; ++i) deep /= std::string(200, char('a' + i));
    const std::string name = std::string(240, 'n') + ".bmp";
    WriteText(deep / name, "x");
    ASSERT_GT((deep / name).string().size(), 1300u);
    CFirstFileFinder finder;
    EXPECT_EQ(finder.Find(deep.string(), "*.bmp"), (deep / name).string());
}

TEST(CSrchDir, FilesCreatedDuringTheScanAreNotReported) {
    TempDir dir;
    for (int i = 0; i < 5; ++i) WriteText(dir.Path() / ("f" + std::to_string(i) + ".bmp"), "x");
    class CCreator : public CSrchDir {
    public:
        void OnFileFound(const std::string& path, const CFindRecord&) override {
            ++m_nSeen;
            WriteText(path + ".new.bmp", "y");
        }
        int m_nSeen = 0;
    } scan;
    scan.Init("*.bmp", false);
    scan.Search(Str(dir));
    EXPECT_EQ(scan.m_nSeen, 5);
}
