// The command line keeps every file and says what went wrong: a full disk, two jobs on one
// target at once, and the exit code and texts of files that could not be used.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <map>
#include <regex>
#include <set>

#include "common/run_cli.h"
#include "common/temp_dir.h"
#include "image/dib_image.h"
#include "image/image_file.h"

namespace fs = std::filesystem;

namespace {

// (Every child inherits the private trash that jobs_cli_test.cpp sets up for this program.)

void WriteFlat(const fs::path& path, int width, int height, std::uint8_t value) {
    CDibImage image;
    ASSERT_TRUE(image.Create(width, height, 24));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < 3 * width; ++x) image.TopRow(y)[x] = value;
    fs::create_directories(path.parent_path());
    const CStatus saved = SaveImageFile(path.string(), image, 95);
    ASSERT_TRUE(saved) << saved.Reason();
}

std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::map<std::string, std::string> Snapshot(const fs::path& dir) {
    std::map<std::string, std::string> files;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(dir, ec); !ec && it != fs::end(it); ++it)
        if (it->is_regular_file())
            files[it->path().string()] = ReadText(it->path());
    return files;
}

int CountFiles(const fs::path& folder) {
    std::error_code ec;
    int n = 0;
    for (auto it = fs::directory_iterator(folder, ec); !ec && it != fs::directory_iterator(); ++it)
        ++n;
    return n;
}

// A target folder on which every larger write fails: a small tmpfs (when this process may
// mount one), or a file size limit that the child inherits (writes fail with EFBIG).
class CFullDisk {
public:
    enum Kind { Tmpfs, SizeLimit };
    CFullDisk(Kind kind, const fs::path& folder) : m_kind(kind), m_folder(folder) {
        fs::create_directories(folder);
        if (kind == Tmpfs)
            m_bReady = ::mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=96k") == 0;
        else
            m_bReady = true;
    }
    ~CFullDisk() {
        if (m_kind == Tmpfs && m_bReady)
            ::umount(m_folder.c_str());
    }
    bool Ready() const { return m_bReady; }
    // Runs the command line with the disk full.
    CliResult Run(const std::vector<std::string>& args) const {
        if (m_kind == Tmpfs)
            return RunCli(args);
        rlimit old{};
        getrlimit(RLIMIT_FSIZE, &old);
        rlimit small = old;
        small.rlim_cur = 64 * 1024;
        struct sigaction ignore {
        }, previous{};
        ignore.sa_handler = SIG_IGN;
        sigaction(SIGXFSZ, &ignore, &previous);
        setrlimit(RLIMIT_FSIZE, &small);
        CliResult result = RunCli(args);
        setrlimit(RLIMIT_FSIZE, &old);
        sigaction(SIGXFSZ, &previous, nullptr);
        return result;
    }

private:
    Kind m_kind;
    fs::path m_folder;
    bool m_bReady = false;
};

}  // namespace

// A full disk: every output that cannot be written is named with the reason, exit 1; no source
// goes to the trash, no file in the target folder changes, and no temporary file stays behind.
TEST(CliSafetyLoss, FullDiskLosesNothing) {
    for (const CFullDisk::Kind kind : {CFullDisk::Tmpfs, CFullDisk::SizeLimit}) {
        SCOPED_TRACE(kind == CFullDisk::Tmpfs ? "tmpfs" : "file size limit");
        TempDir dir;
        const fs::path src = dir.Path() / "src", out = dir.Path() / "out";
        for (const char* name : {"a.bmp", "b.bmp", "c.bmp"}) WriteFlat(src / name, 220, 160, 77);
        CFullDisk disk(kind, out);
        if (!disk.Ready()) {
            std::printf("no tmpfs here (%s); the file size limit stands in\n",
                        std::strerror(errno));
            continue;
        }
        WriteFlat(out / "a.bmp", 20, 20, 5);  // an earlier output, to be replaced
        const auto sources = Snapshot(src);
        const auto before = Snapshot(out);
        const std::vector<std::string> kJobs[] = {
            {"enlarge", src.string(), out.string(), "--size", "x2", "--delete-sources"},
            {"average", src.string(), (out / "avg.bmp").string(), "--delete-sources", "--extras",
             "800"},
        };
        for (const auto& args : kJobs) {
            SCOPED_TRACE(args[0]);
            const CliResult r = disk.Run(args);
            EXPECT_EQ(r.exitCode, 1) << r.err;
            const std::regex named(out.string() + "/[a-z_0-9x]+\\.bmp: [A-Z][a-z]+");
            EXPECT_TRUE(std::regex_search(r.err, named)) << r.err;
            EXPECT_EQ(Snapshot(src), sources);
            EXPECT_EQ(Snapshot(out), before);
        }
    }
}

// Two jobs on one target started together: each either does all its work or is refused with a
// clear message; no result replaces another, and no source is enlarged twice.
TEST(CliSafetyLoss, TwoJobsOnOneTargetStartedTogether) {
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        TempDir dir;
        const fs::path t = dir.Path() / "t";
        const std::uint8_t kValue[2] = {10, 200};
        for (int j = 0; j < 2; ++j)
            for (int i = 0; i < 30; ++i)
                WriteFlat(
                    dir.Path() / ("s" + std::to_string(j)) / ("f" + std::to_string(i) + ".bmp"), 48,
                    32, kValue[j]);
        fs::create_directories(t);
        std::future<CliResult> runs[2];
        for (int j = 0; j < 2; ++j)
            runs[j] = std::async(std::launch::async, [&, j] {
                return RunCli({"average", (dir.Path() / ("s" + std::to_string(j))).string(),
                               (t / "avg.bmp").string(), "--auto-number", "--delete-sources"});
            });
        std::set<std::string> written;
        for (int j = 0; j < 2; ++j) {
            const CliResult r = runs[j].get();
            const fs::path s = dir.Path() / ("s" + std::to_string(j));
            if (r.exitCode == 2) {
                EXPECT_NE(r.err.find("another job is writing into"), std::string::npos) << r.err;
                EXPECT_EQ(CountFiles(s), 30);
                continue;
            }
            ASSERT_EQ(r.exitCode, 0) << r.err;
            std::smatch m;
            ASSERT_TRUE(std::regex_search(r.out, m, std::regex("wrote (\\S+)"))) << r.out;
            EXPECT_TRUE(written.insert(m[1]).second) << "both wrote " << m[1];
            CDibImage avg;
            const CStatus status = LoadImageFile(m[1], avg);
            ASSERT_TRUE(status) << status.Reason();
            EXPECT_EQ(avg.TopRow(0)[0], kValue[j]) << m[1];
            EXPECT_EQ(CountFiles(s), 0);
        }
        EXPECT_EQ(CountFiles(t), int(written.size()));
    }
    // Enlarging a folder into itself twice at once: every picture is enlarged exactly once.
    TempDir dir;
    for (int i = 0; i < 30; ++i)
        WriteFlat(dir.Path() / ("p" + std::to_string(i) + ".bmp"), 6, 4, 9);
    std::future<CliResult> runs[2];
    for (auto& run : runs)
        run = std::async(std::launch::async, [&] {
            return RunCli({"enlarge", dir.Path().string(), dir.Path().string(), "--size", "x2",
                           "--delete-sources"});
        });
    int refused = 0;
    for (auto& run : runs) {
        const CliResult r = run.get();
        EXPECT_TRUE(r.exitCode == 0 || r.exitCode == 2) << r.err;
        refused += r.exitCode == 2;
    }
    EXPECT_LE(refused, 1);
    if (refused == 0)
        GTEST_LOG_(INFO) << "the two runs did not overlap";
    for (const auto& entry : fs::directory_iterator(dir.Path())) {
        CDibImage image;
        const CStatus status = LoadImageFile(entry.path().string(), image);
        ASSERT_TRUE(status) << status.Reason();
        EXPECT_EQ(image.m_nWidth, refused ? 12 : 24) << entry.path();
    }
}

// Errors a user can act on: a batch job that skipped a file ends with exit 1 after its summary;
// a missing media file is named as such; a BMP whose planes field is 0 loads for every command.
TEST(CliSafetyError, ExitCodesAndTexts) {
    TempDir dir;
    WriteFlat(dir.Path() / "in" / "good.bmp", 8, 6, 40);
    std::ofstream(dir.Path() / "in" / "bad.bmp") << "not a picture";
    WriteFlat(dir.Path() / "planes0.bmp", 9, 7, 60);
    {
        std::fstream patch(dir.Path() / "planes0.bmp",
                           std::ios::in | std::ios::out | std::ios::binary);
        patch.seekp(26);
        patch.write("\0\0", 2);  // biPlanes
    }
    const struct {
        std::vector<std::string> args;
        int code;
        std::string out;  // expected in stdout
        std::string err;  // expected in stderr
    } kCases[] = {
        {{"enlarge", dir.File("in"), dir.File("big"), "--size", "x2"}, 1, "wrote", "skipped"},
        {{"average", dir.File("in"), dir.File("avg.bmp")}, 1, "wrote", "skipped"},
        {{"record", dir.File("missing.avi"), dir.File("frames")},
         1,
         "",
         "missing.avi: no such file"},
        {{"convert", dir.File("planes0.bmp"), dir.File("c.bmp")}, 0, "", ""},
        {{"resize", dir.File("planes0.bmp"), dir.File("r.bmp"), "18x14"}, 0, "", ""},
        {{"fill", dir.File("planes0.bmp"), dir.File("f.jpg"), "5x5"}, 0, "", ""},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.args[0]);
        const CliResult r = RunCli(c.args);
        EXPECT_EQ(r.exitCode, c.code) << r.err;
        EXPECT_NE(r.out.find(c.out), std::string::npos) << r.out;
        EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
    }
    EXPECT_FALSE(fs::exists(dir.Path() / "frames"));  // nothing made for a missing media file
    CDibImage resized;
    const CStatus status = LoadImageFile(dir.File("r.bmp"), resized);
    ASSERT_TRUE(status) << status.Reason();
    EXPECT_EQ(resized.m_nWidth, 18);
}
