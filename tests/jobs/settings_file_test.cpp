#include "jobs/settings_file.h"

#include "jobs_test_util.h"

using namespace jobs_test;

namespace {

CMergeSettings SomeMerge() {
    CMergeSettings s;
    s.m_strSrcDir = "/data/grabs 1/源文件";
    s.m_strTgtDir = "/data/out/avg.jpg";
    s.m_nJpgQuality = 42;
    s.m_nSrcFile = 0;
    s.m_bResize800 = false;
    s.m_bResize1024 = true;
    s.m_bDelSrc = false;
    s.m_bNoSameFile = false;
    return s;
}

CScaleSettings SomeScale() {
    CScaleSettings s;
    s.m_strSrcDir = "/data/in";
    s.m_strTgtDir = "/data/" + std::string(400, 'x');  // longer than any fixed buffer of old
    s.m_nJpgQuality = 7;
    s.m_nSrcFile = 0;
    s.m_nScale = 4;
    s.m_bDelSrc = false;
    return s;
}

}  // namespace

TEST(SettingsFile, DefaultsOfBothSections) {
    const CMergeSettings m;
    EXPECT_EQ(m.m_strSrcDir, "");
    EXPECT_EQ(m.m_strTgtDir, "");
    EXPECT_EQ(m.m_nJpgQuality, 95);
    EXPECT_EQ(m.m_nSrcFile, 1);
    EXPECT_TRUE(m.m_bResize800 && m.m_bResize1024 && m.m_bDelSrc && m.m_bNoSameFile);
    const CScaleSettings s;
    EXPECT_EQ(s.m_nJpgQuality, 95);
    EXPECT_EQ(s.m_nSrcFile, 1);
    EXPECT_EQ(s.m_nScale, 0);
    EXPECT_TRUE(s.m_bDelSrc);
}

TEST(SettingsFile, SaveResetLoadRestoresBothSections) {
    TempDir dir;
    const std::string ini = (dir.Path() / "sub" / "tarnwick.ini").string();  // folder made on save
    std::string why;
    ASSERT_TRUE(SaveSettings(SomeMerge(), ini, &why)) << why;
    ASSERT_TRUE(SaveSettings(SomeScale(), ini, &why)) << why;

    CMergeSettings m = SomeMerge();
    ResetSettings(m);
    EXPECT_EQ(m, CMergeSettings{});
    LoadSettings(m, ini);
    EXPECT_EQ(m, SomeMerge());

    CScaleSettings s = SomeScale();
    ResetSettings(s);
    EXPECT_EQ(s, CScaleSettings{});
    LoadSettings(s, ini);
    EXPECT_EQ(s, SomeScale());

    const std::string text = ReadText(ini);
    EXPECT_NE(text.find("[MergeImage]"), std::string::npos);
    EXPECT_NE(text.find("JpgQuality=42\n"), std::string::npos);  // Key=Value, no spaces
    EXPECT_NE(text.find("Resize800=0\n"), std::string::npos);
    EXPECT_NE(text.find("[ScaleImage]"), std::string::npos);
    EXPECT_EQ(text.find(" = "), std::string::npos);
    // Keys in the order of the table.
    const char* kOrder[] = {"SrcDir=",    "TgtDir=",     "JpgQuality=", "SrcFile=",
                            "Resize800=", "Resize1024=", "DelSrc=",     "NoSameFile="};
    std::size_t at = text.find("[MergeImage]");
    for (const char* key : kOrder) {
        const std::size_t next = text.find(key, at);
        ASSERT_NE(next, std::string::npos) << key;
        at = next;
    }
}

TEST(SettingsFile, SaveKeepsOtherSectionsKeysAndComments) {
    TempDir dir;
    const std::string ini = (dir.Path() / "t.ini").string();
    WriteText(ini,
              "; kept comment\n[Other]\nName=value with spaces\n\n[MergeImage]\n; about quality\n"
              "JpgQuality=10\nExtra=keep me\n");
    std::string why;
    ASSERT_TRUE(SaveSettings(SomeMerge(), ini, &why)) << why;
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
        CMergeSettings want;
    };
    CMergeSettings jpgOnly;
    jpgOnly.m_nSrcFile = 0;
    CMergeSettings folderOnly;
    folderOnly.m_strSrcDir = "/x";
    CMergeSettings bigBool;
    bigBool.m_bDelSrc = true;
    bigBool.m_bResize800 = false;
    bigBool.m_nJpgQuality = 12;
    const Case kCases[] = {
        {"missing file", nullptr, CMergeSettings{}},
        {"empty file", "", CMergeSettings{}},
        {"other section only", "[ScaleImage]\nSrcFile=0\nSrcDir=/y\n", CMergeSettings{}},
        {"SrcFile of 0, no JpgQuality", "[MergeImage]\nSrcFile=0\n", jpgOnly},
        {"negative and junk keep defaults", "[MergeImage]\nJpgQuality=-5\nSrcFile=abc\nDelSrc=\n",
         CMergeSettings{}},
        {"spaces around and case of names", "[mergeimage]\n  srcdir = /x  \n", folderOnly},
        {"numbers read like the profile functions",
         "[MergeImage]\nDelSrc=7\nResize800=0\nJpgQuality=12abc\n", bigBool},
        {"binary junk", "\x01\x02[\xff\xfe]\n=\n==\n[MergeImage\nSrcFile", CMergeSettings{}},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        const fs::path ini = dir.Path() / (std::string(c.name) + ".ini");
        if (c.text)
            WriteText(ini, c.text);
        CMergeSettings got = SomeMerge();
        LoadSettings(got, ini.string());
        EXPECT_EQ(got, c.want);
    }
}

TEST(SettingsFile, UnreadableFileLoadsDefaultsAndIsNotOverwritten) {
    TempDir dir;
    // A folder where the file should be: it cannot be read as a file, nor replaced.
    const fs::path ini = dir.Path() / "t.ini";
    fs::create_directories(ini);
    CScaleSettings s = SomeScale();
    LoadSettings(s, ini.string());
    EXPECT_EQ(s, CScaleSettings{});
    std::string why;
    EXPECT_FALSE(SaveSettings(SomeScale(), ini.string(), &why));
    EXPECT_NE(why.find(ini.string()), std::string::npos) << why;
}

TEST(SettingsFile, LineBreakInTextIsRefused) {
    TempDir dir;
    const std::string ini = (dir.Path() / "t.ini").string();
    CMergeSettings s;
    s.m_strSrcDir = "/a\nJpgQuality=1";
    std::string why;
    EXPECT_FALSE(SaveSettings(s, ini, &why));
    EXPECT_NE(why.find("SrcDir"), std::string::npos) << why;
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

    // The test program's own folder (the build folder) is writable.
    EXPECT_EQ(MakeIniPath(), g_szIniFile);
    EXPECT_EQ(fs::path(g_szIniFile).filename(), "test_jobs.ini");
}
