#include "jobs/settings_file.h"
#include "jobs/run_context.h"
#include "platform/program_path.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>

#include "jobs_test_util.h"

using namespace jobs_test;

namespace {

// Success, or a failure that shows the status's reason.
::testing::AssertionResult Succeeded(const CStatus& status) {
    if (status)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << status.Reason();
}

CMergeParams SomeMerge() {
    CMergeParams s;
    s.m_strSrcDir = "/data/grabs 1/源文件";
    s.m_strTargetFile = "/data/out/avg.jpg";
    s.m_nJpgQuality = 42;
    s.m_source = SourceKind::Jpg;
    s.m_bExtra800 = false;
    s.m_bExtra1024 = true;
    s.m_bDelSrc = false;
    s.m_bAutoNumber = false;
    s.m_method = StackMethod::SigmaClip;
    s.m_dKappa = 3.1;
    s.m_bAlign = true;
    return s;
}

CScaleParams SomeScale() {
    CScaleParams s;
    s.m_strSrcDir = "/data/in";
    s.m_strTargetFolder = "/data/" + std::string(400, 'x');  // longer than any fixed buffer of old
    s.m_nJpgQuality = 7;
    s.m_source = SourceKind::Jpg;
    s.m_scale = ScaleChoice::To1024x768;
    s.m_bDelSrc = false;
    return s;
}

}  // namespace

TEST(SettingsFile, DefaultsOfBothSections) {
    const CMergeParams m;
    EXPECT_EQ(m.m_strSrcDir, "");
    EXPECT_EQ(m.m_strTargetFile, "");
    EXPECT_EQ(m.m_nJpgQuality, 95);
    EXPECT_EQ(m.m_source, SourceKind::Bmp);
    EXPECT_TRUE(m.m_bExtra800 && m.m_bExtra1024 && m.m_bDelSrc && m.m_bAutoNumber);
    // The plain average.
    EXPECT_EQ(m.m_method, StackMethod::Mean);
    EXPECT_EQ(m.m_dKappa, 2.5);
    EXPECT_FALSE(m.m_bAlign);
    const CScaleParams s;
    EXPECT_EQ(s.m_nJpgQuality, 95);
    EXPECT_EQ(s.m_source, SourceKind::Bmp);
    EXPECT_EQ(s.m_scale, ScaleChoice::X2);
    EXPECT_TRUE(s.m_bDelSrc);
}

TEST(SettingsFile, SaveResetLoadRestoresBothSections) {
    TempDir dir;
    const std::string ini = (dir.Path() / "sub" / "tarnwick.ini").string();  // folder made on save
    ASSERT_TRUE(Succeeded(SaveSettings(SomeMerge(), ini)));
    ASSERT_TRUE(Succeeded(SaveSettings(SomeScale(), ini)));

    CMergeParams m = SomeMerge();
    ResetSettings(m);
    EXPECT_EQ(m, CMergeParams{});
    ASSERT_TRUE(Succeeded(LoadSettings(m, ini)));
    EXPECT_EQ(m, SomeMerge());

    CScaleParams s = SomeScale();
    ResetSettings(s);
    EXPECT_EQ(s, CScaleParams{});
    ASSERT_TRUE(Succeeded(LoadSettings(s, ini)));
    EXPECT_EQ(s, SomeScale());

    const std::string text = ReadText(ini);
    EXPECT_NE(text.find("[MergeImage]"), std::string::npos);
    EXPECT_NE(text.find("JpgQuality=42\n"), std::string::npos);  // Key=Value, no spaces
    EXPECT_NE(text.find("Resize800=0\n"), std::string::npos);
    EXPECT_NE(text.find("[ScaleImage]"), std::string::npos);
    EXPECT_EQ(text.find(" = "), std::string::npos);
    // Keys in the order of the table.
    const char* kOrder[] = {
        "SrcDir=", "TgtDir=",     "JpgQuality=", "SrcFile=",  "Resize800=", "Resize1024=",
        "DelSrc=", "NoSameFile=", "Method=3",    "Kappa=3.1", "Align=1"};
    std::size_t at = text.find("[MergeImage]");
    for (const char* key : kOrder) {
        const std::size_t next = text.find(key, at);
        ASSERT_NE(next, std::string::npos) << key;
        at = next;
    }
}

// Both sections in the form Save writes them, with the values of `merge` and `scale` (one per
// key, in write order).
std::string SettingsText(const std::vector<std::string>& merge,
                         const std::vector<std::string>& scale) {
    const char* kMergeKeys[] = {"SrcDir",    "TgtDir",     "JpgQuality", "SrcFile",
                                "Resize800", "Resize1024", "DelSrc",     "NoSameFile",
                                "Method",    "Kappa",      "Align"};
    const char* kScaleKeys[] = {"SrcDir", "TgtDir", "JpgQuality", "SrcFile", "Scale", "DelSrc"};
    std::string text = "[MergeImage]\n";
    for (std::size_t i = 0; i < merge.size(); ++i) text += kMergeKeys[i] + ("=" + merge[i]) + "\n";
    text += "\n\n[ScaleImage]\n";  // the two blank lines Save puts between sections
    for (std::size_t i = 0; i < scale.size(); ++i) text += kScaleKeys[i] + ("=" + scale[i]) + "\n";
    return text;
}

// A settings file read into the parameters and saved again is unchanged to the byte; a value
// the parameters cannot hold comes back as the page would save it. A file of eight MergeImage
// values was written before the stacking keys existed: it gains them with the plain average's
// values (mean, 2.5, not aligned).
TEST(SettingsFile, RoundTripThroughTheParameters) {
    using Values = std::vector<std::string>;
    const Values kMergeDefaults = {"", "", "95", "1", "1", "1", "1", "1", "0", "2.5", "0"};
    const Values kScaleDefaults = {"", "", "95", "1", "0", "1"};
    struct Case {
        const char* name;
        Values merge, scale;        // the file's values
        Values mergeOut, scaleOut;  // what Save writes back; empty: the same
    };
    const Case kCases[] = {
        {"defaults", kMergeDefaults, kScaleDefaults, {}, {}},
        {"every flag and choice changed",
         {"/grabs/源文件 1", "/out/avg=1.jpg", "1", "0", "0", "0", "0", "0"},
         {"/in", "/out dir", "100", "0", "4", "0"},
         {},
         {}},
        {"the other sizes", kMergeDefaults, {"", "", "95", "1", "1", "1"}, {}, {}},
        {"640x480", kMergeDefaults, {"", "", "95", "1", "2", "1"}, {}, {}},
        {"800x600", kMergeDefaults, {"", "", "95", "0", "3", "1"}, {}, {}},
        {"quality outside 1..100 is kept as it stands",
         {"", "", "0", "1", "1", "1", "1", "1"},
         {"", "", "250", "1", "0", "1"},
         {},
         {}},
        {"choices beyond the lists are none chosen",
         {"", "", "95", "5", "1", "1", "1", "1"},
         {"", "", "95", "2", "9", "1"},
         {"", "", "95", "-1", "1", "1", "1", "1"},
         {"", "", "95", "-1", "-1", "1"}},
        {"negative numbers keep the defaults",
         {"", "", "-4", "-1", "-1", "-1", "-1", "-1"},
         {"", "", "-4", "-1", "-1", "-1"},
         kMergeDefaults,
         kScaleDefaults},
        {"numbers read like the profile functions",
         {"", "", "12abc", "0x1", "7", "1", "+0", "1"},
         {"", "", " 33", "1", "3 ", "2"},
         {"", "", "12", "0", "1", "1", "0", "1"},
         {"", "", "33", "1", "3", "1"}},
        {"every method, kappa and align",
         {"", "", "95", "1", "1", "1", "1", "1", "2", "0.125", "1"},
         kScaleDefaults,
         {},
         {}},
        {"sigma-clip with an odd kappa",
         {"", "", "95", "1", "1", "1", "1", "1", "3", "3.3333333333333335", "0"},
         kScaleDefaults,
         {},
         {}},
        {"method beyond the list, kappa 0 or junk keep the defaults",
         {"", "", "95", "1", "1", "1", "1", "1", "4", "0", "yes"},
         kScaleDefaults,
         kMergeDefaults,
         {}},
        {"negative kappa, method 1 with junk after it",
         {"", "", "95", "1", "1", "1", "1", "1", "1x", "-2.5", "-1"},
         kScaleDefaults,
         {"", "", "95", "1", "1", "1", "1", "1", "1", "2.5", "0"},
         {}},
    };
    TempDir dir;
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        const std::string ini = (dir.Path() / (std::string(c.name) + ".ini")).string();
        WriteText(ini, SettingsText(c.merge, c.scale));
        CMergeParams merge;
        CScaleParams scale;
        ASSERT_TRUE(Succeeded(LoadSettings(merge, ini)));
        ASSERT_TRUE(Succeeded(LoadSettings(scale, ini)));
        ASSERT_TRUE(Succeeded(SaveSettings(merge, ini)));
        ASSERT_TRUE(Succeeded(SaveSettings(scale, ini)));
        Values mergeOut = c.mergeOut.empty() ? c.merge : c.mergeOut;
        if (mergeOut.size() == 8)
            mergeOut.insert(mergeOut.end(), {"0", "2.5", "0"});
        EXPECT_EQ(ReadText(ini), SettingsText(mergeOut, c.scaleOut.empty() ? c.scale : c.scaleOut));
    }
}

TEST(SettingsFile, SaveKeepsOtherSectionsKeysAndComments) {
    TempDir dir;
    const std::string ini = (dir.Path() / "t.ini").string();
    WriteText(ini,
              "; kept comment\n[Other]\nName=value with spaces\n\n[MergeImage]\n; about quality\n"
              "JpgQuality=10\nExtra=keep me\n");
    ASSERT_TRUE(Succeeded(SaveSettings(SomeMerge(), ini)));
    const std::string text = ReadText(ini);
    for (const char* kept : {"; kept comment", "[Other]", "Name=value with spaces",
                             "; about quality", "Extra=keep me", "JpgQuality=42"}) {
        EXPECT_NE(text.find(kept), std::string::npos) << kept << "\n" << text;
    }
    EXPECT_EQ(text.find("JpgQuality=10"), std::string::npos);
}

TEST(SettingsFile, LoadEdgeCases) {
    TempDir dir;
    struct Case {
        const char* name;
        const char* text;  // null: no file at all
        CMergeParams want;
    };
    CMergeParams jpgOnly;
    jpgOnly.m_source = SourceKind::Jpg;
    CMergeParams folderOnly;
    folderOnly.m_strSrcDir = "/x";
    CMergeParams bigBool;
    bigBool.m_bDelSrc = true;
    bigBool.m_bExtra800 = false;
    bigBool.m_nJpgQuality = 12;
    const Case kCases[] = {
        {"missing file", nullptr, CMergeParams{}},
        {"empty file", "", CMergeParams{}},
        {"other section only", "[ScaleImage]\nSrcFile=0\nSrcDir=/y\n", CMergeParams{}},
        {"SrcFile of 0, no JpgQuality", "[MergeImage]\nSrcFile=0\n", jpgOnly},
        {"negative and junk keep defaults", "[MergeImage]\nJpgQuality=-5\nSrcFile=abc\nDelSrc=\n",
         CMergeParams{}},
        {"spaces around and case of names", "[mergeimage]\n  srcdir = /x  \n", folderOnly},
        {"numbers read like the profile functions",
         "[MergeImage]\nDelSrc=7\nResize800=0\nJpgQuality=12abc\n", bigBool},
        {"binary junk", "\x01\x02[\xff\xfe]\n=\n==\n[MergeImage\nSrcFile", CMergeParams{}},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        const fs::path ini = dir.Path() / (std::string(c.name) + ".ini");
        if (c.text)
            WriteText(ini, c.text);
        CMergeParams got = SomeMerge();
        EXPECT_TRUE(Succeeded(LoadSettings(got, ini.string())));
        EXPECT_EQ(got, c.want);
    }
}

// Only a regular file of at most kMaxSettingsFileBytes is read, links followed. Anything else is
// refused by Load (which gives the defaults) and by Save, at once and with a reason naming the
// file, and stays as it was. Unchecked, the FIFO blocks for ever, /dev/zero is read until memory
// runs out and the sparse file takes gigabytes: a hang ends at the TIMEOUT of tests/CMakeLists.txt.
TEST(SettingsFile, OnlyARegularFileWithinTheLimitIsRead) {
    TempDir dir;
    // A settings file of exactly the limit whose key comes last: read only when read whole.
    const std::string key = "\n[ScaleImage]\nJpgQuality=33\n";
    const std::string atLimit =
        ";" + std::string(kMaxSettingsFileBytes - 1 - key.size(), 'x') + key;
    const auto write = [](const std::string& text) {
        return [text](const fs::path& p) { WriteText(p, text); };
    };
    const auto sparse = [](const fs::path& p) {
        const int fd = open(p.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0) << std::strerror(errno);
        EXPECT_EQ(ftruncate(fd, off_t(kMaxSettingsFileBytes) * 1536), 0) << std::strerror(errno);
        close(fd);
    };
    const std::string notRegular = "not a regular file", tooLarge = "too large";
    struct Case {
        const char* name;
        std::function<void(const fs::path&)> make;
        std::string reason;  // part of the refusal; empty: read
    };
    const Case kCases[] = {
        {"a FIFO", [](const fs::path& p) { ASSERT_EQ(mkfifo(p.c_str(), 0644), 0); }, notRegular},
        {"a link to /dev/zero", [](const fs::path& p) { fs::create_symlink("/dev/zero", p); },
         notRegular},
        {"a folder", [](const fs::path& p) { fs::create_directories(p); }, std::strerror(EISDIR)},
        {"a sparse file of 1.5 GiB", sparse, tooLarge},
        {"one byte over the limit", write(atLimit + "\n"), tooLarge},
        {"exactly the limit", write(atLimit), ""},
        {"a link to a settings file",
         [&](const fs::path& p) {
             WriteText(dir.Path() / "real.ini", key);
             fs::create_symlink(dir.Path() / "real.ini", p);
         },
         ""},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        const fs::path ini = dir.Path() / c.name / "tarnwick.ini";
        fs::create_directories(ini.parent_path());
        c.make(ini);
        const fs::file_type type = fs::symlink_status(ini).type();
        const auto size = [&] { return fs::is_regular_file(ini) ? fs::file_size(ini) : 0; };
        const std::uintmax_t bytes = size();

        CScaleParams s = SomeScale();
        if (c.reason.empty()) {
            ASSERT_TRUE(Succeeded(LoadSettings(s, ini.string())));
            EXPECT_EQ(s.m_nJpgQuality, 33);
            continue;
        }
        const CStatus read = LoadSettings(s, ini.string());
        EXPECT_FALSE(read);
        EXPECT_EQ(s, CScaleParams{});
        EXPECT_NE(read.Reason().find(ini.string() + ": "), std::string::npos) << read.Reason();
        EXPECT_NE(read.Reason().find(c.reason), std::string::npos) << read.Reason();

        const CStatus saved = SaveSettings(SomeScale(), ini.string());
        EXPECT_FALSE(saved);
        EXPECT_NE(saved.Reason().find(ini.string() + ": "), std::string::npos) << saved.Reason();
        EXPECT_NE(saved.Reason().find(c.reason), std::string::npos) << saved.Reason();
        EXPECT_EQ(fs::symlink_status(ini).type(), type);
        EXPECT_EQ(size(), bytes);
    }
}

TEST(SettingsFile, LineBreakInTextIsRefused) {
    TempDir dir;
    const std::string ini = (dir.Path() / "t.ini").string();
    CMergeParams s;
    s.m_strSrcDir = "/a\nJpgQuality=1";
    const CStatus saved = SaveSettings(s, ini);
    EXPECT_FALSE(saved);
    EXPECT_NE(saved.Reason().find("SrcDir"), std::string::npos) << saved.Reason();
    EXPECT_FALSE(fs::exists(ini));
}

TEST(SettingsFile, IniPathBesideTheExecutableOrInTheConfigFolder) {
    TempDir dir;
    fs::create_directories(dir.Path() / "my.tools");
    const std::string configHome = (dir.Path() / "cfg").string();
    setenv("XDG_CONFIG_HOME", configHome.c_str(), 1);
    struct Case {
        std::string exe;
        std::string want;
    };
    const Case kCases[] = {
        {(dir.Path() / "my.tools" / "Tarnwick.exe").string(),
         (dir.Path() / "my.tools" / "Tarnwick.ini").string()},
        {(dir.Path() / "my.tools" / "tarnwick").string(),
         (dir.Path() / "my.tools" / "tarnwick.ini").string()},
        {"/nonexistent/bin/tarnwick", configHome + "/tarnwick/tarnwick.ini"},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.exe);
        EXPECT_EQ(IniPathFor(c.exe), c.want);
    }
    unsetenv("XDG_CONFIG_HOME");
    const std::string home = getenv("HOME") ? getenv("HOME") : "/";
    EXPECT_EQ(IniPathFor("/nonexistent/bin/tarnwick"),
              (fs::path(home) / ".config/tarnwick/tarnwick.ini").string());

    // The run context takes the file beside the running program: the test program's own folder
    // (the build folder) is writable.
    const CRunContext context = RunContextFromEnvironment(0, ProgramFilePath());
    EXPECT_EQ(fs::path(context.m_strSettingsFile).filename(), "test_jobs.ini");
}

// Folder texts keep their blanks through Save and Load (written in quotes, which Load takes off);
// texts without outer blanks or quotes are written as they stand.
TEST(SettingsFile, FolderTextsKeepTheirBlanks) {
    const struct {
        std::string text;
        std::string line;  // how the SrcDir line reads in the file
    } kCases[] = {
        {"/data/in", "SrcDir=/data/in\n"},
        {" /data/lead", "SrcDir=\" /data/lead\"\n"},
        {"/data/trail  ", "SrcDir=\"/data/trail  \"\n"},
        {"\t/data/tabs\t", "SrcDir=\"\t/data/tabs\t\"\n"},
        {"   ", "SrcDir=\"   \"\n"},
        {"\"/data/quoted\"", "SrcDir=\"\"/data/quoted\"\"\n"},
        {"/data/\"inner\" quotes", "SrcDir=/data/\"inner\" quotes\n"},
        {"\"", "SrcDir=\"\n"},
        {"", "SrcDir=\n"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE("[" + c.text + "]");
        TempDir dir;
        const std::string ini = (dir.Path() / "t.ini").string();
        CScaleParams saved = SomeScale();
        saved.m_strSrcDir = c.text;
        saved.m_strTargetFolder = c.text + "/out";
        ASSERT_TRUE(Succeeded(SaveSettings(saved, ini)));
        EXPECT_NE(ReadText(ini).find("\n" + c.line), std::string::npos) << ReadText(ini);
        CScaleParams loaded;
        ASSERT_TRUE(Succeeded(LoadSettings(loaded, ini)));
        EXPECT_EQ(loaded, saved);
    }
}
