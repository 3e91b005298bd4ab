#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "common/run_cli.h"
#include "common/temp_dir.h"
#include "image/dib_image.h"
#include "image/image_file.h"
#include "jobs/parallel_loader.h"

namespace fs = std::filesystem;

namespace {

// Every child inherits a private trash: no test reaches the real user's trash.
struct PrivateDataHome {
    PrivateDataHome() { setenv("XDG_DATA_HOME", (dir.Path() / "share").c_str(), 1); }
    fs::path Trash() const { return dir.Path() / "share" / "Trash" / "files"; }
    TempDir dir;
};
PrivateDataHome& Home() {
    static PrivateDataHome home;
    return home;
}
const bool kHomeSet = (Home(), true);

void WriteImage(const fs::path& path, int width, int height,
                const std::function<std::uint8_t(int, int, int)>& fn, int quality = 95) {
    CDibImage image;
    ASSERT_TRUE(image.Create(width, height, 24));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int k = 0; k < 3; ++k) image.TopRow(y)[3 * x + k] = fn(x, y, k);
    fs::create_directories(path.parent_path());
    {
        const CStatus saved = SaveImageFile(path.string(), image, quality);
        ASSERT_TRUE(saved) << saved.Reason();
    }
}

void WriteFlat(const fs::path& path, int width, int height, std::uint8_t value) {
    WriteImage(path, width, height, [value](int, int, int) { return value; });
}

void Load(const fs::path& path, CDibImage& image) {
    const CStatus status = LoadImageFile(path.string(), image);
    ASSERT_TRUE(status) << path << ": " << status.Reason();
}

int CountFiles(const fs::path& folder) {
    std::error_code ec;
    int n = 0;
    for (auto it = fs::directory_iterator(folder, ec); !ec && it != fs::directory_iterator(); ++it)
        ++n;
    return n;
}

// tarnwick-cli with stdin and stderr on a pseudo-terminal and stdout into `outPath`. Calls
// `onOutput` with everything read from the terminal so far until it returns true, then waits.
struct TtyRun {
    int exitCode = -1;
    std::string tty;
};
TtyRun RunOnTty(const std::vector<std::string>& args, const std::string& outPath,
                const std::function<bool(const std::string&, pid_t)>& onOutput = {}) {
    std::vector<std::string> argv = {TARNWICK_CLI_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> cargv;
    for (auto& a : argv) cargv.push_back(a.data());
    cargv.push_back(nullptr);
    winsize ws{};
    ws.ws_col = 100;
    ws.ws_row = 24;
    int master = -1;
    const pid_t pid = forkpty(&master, nullptr, nullptr, &ws);
    if (pid == 0) {
        const int fd = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(fd, 1);
        execv(cargv[0], cargv.data());
        _exit(127);
    }
    TtyRun run;
    bool bDone = !onOutput;
    char buffer[4096];
    for (;;) {
        pollfd p{master, POLLIN, 0};
        if (poll(&p, 1, 20000) <= 0)
            break;
        const ssize_t n = read(master, buffer, sizeof buffer);
        if (n <= 0)
            break;  // EIO once the child has closed the terminal
        run.tty.append(buffer, std::size_t(n));
        if (!bDone)
            bDone = onOutput(run.tty, pid);
    }
    int status = 0;
    pid_t ended = 0;
    for (int tries = 0; tries < 500 && ended == 0; ++tries) {
        ended = waitpid(pid, &status, WNOHANG);
        if (ended == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (ended == 0) {
        // Silent for 20 s and still running: hung. Fail instead of hanging the test run.
        ADD_FAILURE() << "tarnwick-cli did not end";
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    close(master);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return run;
}

std::string Slurp(const fs::path& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

TEST(CliAverage, AveragesAFolderOfBmpFiles) {
    ASSERT_TRUE(kHomeSet);
    TempDir dir;
    WriteFlat(dir.Path() / "in" / "a.bmp", 30, 20, 10);
    WriteFlat(dir.Path() / "in" / "b.bmp", 30, 20, 11);
    const std::string target = dir.File("avg.bmp");
    const CliResult r = RunCli({"average", dir.File("in"), target, "--extras", "800,1024"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("wrote " + target), std::string::npos) << r.out;
    EXPECT_EQ(r.err.find('\r'), std::string::npos);  // no progress bar when stderr is no terminal
    CDibImage avg;
    Load(target, avg);
    EXPECT_EQ(avg.TopRow(0)[0], 11);  // 10.5 rounds up
    struct Extra {
        const char* name;
        int w, h;
    };
    for (const Extra& e :
         {Extra{"avg_800x600.bmp", 800, 600}, Extra{"avg_1024x768.bmp", 1024, 768}}) {
        CDibImage copy;
        Load(dir.Path() / e.name, copy);
        EXPECT_EQ(copy.m_nWidth, e.w);
        EXPECT_EQ(copy.m_nHeight, e.h);
    }
    EXPECT_EQ(CountFiles(dir.Path() / "in"), 2);  // sources kept by default
}

TEST(CliAverage, JpegSourcesAutoNumberAndTrash) {
    TempDir dir;
    for (int i = 0; i < 3; ++i)
        WriteFlat(dir.Path() / "in" / ("j" + std::to_string(i) + ".jpg"), 16, 16, 120);
    WriteFlat(dir.Path() / "in" / "other.bmp", 16, 16, 0);
    const CliResult r = RunCli({"average", dir.File("in"), dir.File("avg.jpg"), "--type", "jpg",
                                "--quality", "80", "--auto-number", "--delete-sources"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("avg000000.jpg"), std::string::npos) << r.out;
    CDibImage avg;
    Load(dir.Path() / "avg000000.jpg", avg);
    EXPECT_NEAR(avg.TopRow(8)[3 * 8], 120, 3);
    EXPECT_EQ(CountFiles(dir.Path() / "in"), 1);  // only the BMP stays
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(fs::exists(Home().Trash() / ("j" + std::to_string(i) + ".jpg")));
}

// Twelve sources go to the trash: the first ten are named, then "…"; the two of another size
// than the first are counted.
TEST(CliAverage, NamesTheTrashedSourcesAndCountsOtherSizes) {
    TempDir dir;
    const fs::path in = dir.Path() / "in";
    for (int i = 0; i < 12; ++i)
        WriteFlat(in / ("s" + std::to_string(i) + ".bmp"), 8, 6, std::uint8_t(10 * i));
    const std::vector<std::string> order = ListMatchingFiles(in.string(), "*.bmp");
    ASSERT_EQ(order.size(), 12u);
    for (const std::size_t i : {std::size_t(4), std::size_t(9)})
        WriteFlat(order[i], 5 + int(i), 6, 30);
    const CliResult r = RunCli({"average", in.string(), dir.File("avg.bmp"), "--delete-sources"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("moved 12 source files to the trash:"), std::string::npos) << r.out;
    for (std::size_t i = 0; i < order.size(); ++i)
        EXPECT_EQ(r.out.find("  " + order[i] + "\n") != std::string::npos, i < 10) << order[i];
    EXPECT_NE(r.out.find("  …\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("2 images differ in size from the first; only the overlap was merged in"),
              std::string::npos)
        << r.out;
}

TEST(CliEnlarge, EnlargesJpegAndBmpFolders) {
    TempDir dir;
    WriteFlat(dir.Path() / "in" / "IMG01.JPG", 32, 24, 90);
    WriteFlat(dir.Path() / "in" / "shot.bmp", 40, 40, 30);
    CliResult r =
        RunCli({"enlarge", dir.File("in"), dir.File("out/new"), "--size", "x3", "--type", "jpg"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    CDibImage out;
    Load(dir.Path() / "out" / "new" / "IMG01.jpg", out);
    EXPECT_EQ(out.m_nWidth, 96);
    EXPECT_EQ(out.m_nHeight, 72);
    r = RunCli({"enlarge", dir.File("in"), dir.File("out/new"), "--size", "800x600"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    Load(dir.Path() / "out" / "new" / "shot.bmp", out);
    EXPECT_EQ(out.m_nWidth, 800);
    EXPECT_EQ(out.m_nHeight, 600);
    EXPECT_EQ(CountFiles(dir.Path() / "out" / "new"), 2);
}

TEST(CliJobs, ExitCodes) {
    TempDir dir;
    WriteFlat(dir.Path() / "in" / "a.bmp", 4, 4, 1);
    WriteFlat(dir.Path() / "in" / "b.bmp", 4, 4, 1);
    fs::create_directories(dir.Path() / "empty");
    std::ofstream(dir.File("afile")) << "x";
    fs::create_directories(dir.Path() / "out" / "b.bmp");  // b's output name is taken
    struct Case {
        std::vector<std::string> args;
        int code;
        std::string errHas;
    };
    const Case kCases[] = {
        {{"enlarge", dir.File("in"), dir.File("out"), "--size", "x4"}, 2, "size"},
        {{"enlarge", dir.File("in"), dir.File("out")}, 2, "size"},
        {{"average", dir.File("in"), dir.File("x.bmp"), "--quality", "0"}, 2, "quality"},
        {{"average", dir.File("in"), dir.File("x.bmp"), "--extras", "640"}, 2, "extras"},
        {{"average", dir.File("in")}, 2, "TARGET"},
        {{"average", dir.File("empty"), dir.File("x.bmp")},
         1,
         dir.File("empty") + ": no *.bmp files"},
        {{"average", dir.File("missing"), dir.File("x.bmp")}, 1, dir.File("missing")},
        {{"average", dir.File("in"), dir.File("afile") + "/x.bmp"},
         1,
         dir.File("afile") + "/x.bmp: "},
        {{"enlarge", dir.File("in"), dir.File("afile"), "--size", "x2"},
         1,
         dir.File("afile") + ": "},
        {{"enlarge", dir.File("in"), dir.File("out"), "--size", "x2", "--delete-sources"},
         1,
         dir.File("out") + "/b.bmp: is not a regular file"},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.args[0] + " " + c.errHas);
        const CliResult r = RunCli(c.args);
        EXPECT_EQ(r.exitCode, c.code) << r.err;
        EXPECT_NE(r.err.find(c.errHas), std::string::npos) << r.err;
    }
    // The output name held by a folder ended the job before any source was read.
    EXPECT_TRUE(fs::exists(dir.Path() / "in" / "b.bmp"));
    EXPECT_TRUE(fs::exists(dir.Path() / "in" / "a.bmp"));
    EXPECT_FALSE(fs::exists(dir.Path() / "out" / "a.bmp"));
}

TEST(CliJobs, ProgressBarOnATerminal) {
    TempDir dir;
    for (int i = 0; i < 3; ++i)
        WriteFlat(dir.Path() / "in" / ("p" + std::to_string(i) + ".bmp"), 8, 8, 50);
    const TtyRun run =
        RunOnTty({"enlarge", dir.File("in"), dir.File("out"), "--size", "x2"}, dir.File("stdout"));
    ASSERT_EQ(run.exitCode, 0) << run.tty;
    EXPECT_NE(run.tty.find('\r'), std::string::npos);
    EXPECT_NE(run.tty.find("0/3"), std::string::npos) << run.tty;
    EXPECT_NE(run.tty.find("2/3"), std::string::npos) << run.tty;
    EXPECT_NE(run.tty.find("files/s"), std::string::npos) << run.tty;
    EXPECT_NE(run.tty.find(".bmp"), std::string::npos) << run.tty;
    const std::string out = Slurp(dir.File("stdout"));
    EXPECT_NE(out.find("wrote " + dir.File("out") + "/p0.bmp"), std::string::npos) << out;
}

TEST(CliJobs, CtrlCStopsAfterTheCurrentFile) {
    TempDir dir;
    const int kFiles = 12;
    // Large enough that each file takes a while, so the stop lands mid-job on any machine.
    for (int i = 0; i < kFiles; ++i)
        WriteImage(dir.Path() / "in" / ("c" + std::to_string(i) + ".bmp"), 400, 300,
                   [i](int x, int y, int k) { return std::uint8_t(x + y + k + i); });
    // The job is frozen as soon as it shows its second file, Ctrl-C is sent, and it goes on:
    // the signal arrives wherever the job happened to be.
    const auto interruptMidJob = [](const std::string& tty, pid_t pid) {
        if (tty.find("2/" + std::to_string(kFiles)) == std::string::npos)
            return false;
        kill(pid, SIGSTOP);
        kill(pid, SIGINT);
        kill(pid, SIGCONT);
        return true;
    };

    TtyRun run = RunOnTty({"enlarge", dir.File("in"), dir.File("out"), "--size", "x3"},
                          dir.File("stdout"), interruptMidJob);
    EXPECT_EQ(run.exitCode, 1) << run.tty;
    EXPECT_NE(run.tty.find("stopped after"), std::string::npos) << run.tty;
    EXPECT_LT(CountFiles(dir.Path() / "out"), kFiles);
    for (const auto& entry : fs::directory_iterator(dir.Path() / "out")) {
        CDibImage out;  // every output is whole; no temporary file is left behind
        Load(entry.path(), out);
        EXPECT_EQ(out.m_nWidth, 1200);
    }

    // Averaging: an interrupted job writes nothing and trashes nothing. Loading is quicker than
    // enlarging, so these sources are larger and the job is frozen at its first line.
    for (int i = 0; i < kFiles; ++i)
        WriteImage(dir.Path() / "big" / ("b" + std::to_string(i) + ".bmp"), 1600, 1200,
                   [i](int x, int y, int k) { return std::uint8_t(x * y + k + i); });
    const auto interruptAtOnce = [](const std::string& tty, pid_t pid) {
        if (tty.find("/" + std::to_string(kFiles)) == std::string::npos)
            return false;
        kill(pid, SIGSTOP);
        kill(pid, SIGINT);
        kill(pid, SIGCONT);
        return true;
    };
    run = RunOnTty({"average", dir.File("big"), dir.File("avg.bmp"), "--delete-sources"},
                   dir.File("stdout"), interruptAtOnce);
    EXPECT_EQ(run.exitCode, 1) << run.tty;
    EXPECT_NE(run.tty.find("nothing written"), std::string::npos) << run.tty;
    EXPECT_FALSE(fs::exists(dir.Path() / "avg.bmp"));
    EXPECT_EQ(CountFiles(dir.Path() / "big"), kFiles);
}

// A named pipe among the sources is skipped at once with its reason, never waited on.
TEST(CliJobs, PipesAmongTheSourcesAreSkipped) {
    TempDir dir;
    WriteImage(dir.Path() / "in" / "a.bmp", 8, 6,
               [](int x, int y, int k) { return std::uint8_t(x * y + k); });
    const fs::path fifo = dir.Path() / "in" / "pipe.bmp";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"enlarge", dir.File("in"), dir.File("out"), "--size", "x2"},
          std::vector<std::string>{"average", dir.File("in"), dir.File("avg.bmp")},
          std::vector<std::string>{"convert", fifo.string(), dir.File("c.bmp")}}) {
        SCOPED_TRACE(args[0]);
        const CliResult r = RunCli(args);
        if (args[0] == "convert") {
            EXPECT_EQ(r.exitCode, 1) << r.err;
        }
        EXPECT_NE((r.out + r.err).find("not a regular file"), std::string::npos) << r.out << r.err;
    }
}

// The stacking options of average: each method and its options, the report, and every bad
// value refused with exit 2 and one line naming the option.
TEST(CliAverage, StackingOptions) {
    TempDir dir;
    // Three flat 40x30 frames, 10, 11 and 11, f2 with an outlier of 200 at one corner.
    for (int i = 0; i < 3; ++i) {
        WriteImage(dir.Path() / "in" / ("f" + std::to_string(i) + ".bmp"), 40, 30,
                   [i](int x, int y, int) {
                       return std::uint8_t(i == 2 && x == 0 && y == 0 ? 200 : i == 0 ? 10 : 11);
                   });
    }
    std::ofstream(dir.File("afile")) << "x";
    struct Case {
        std::vector<std::string> options;
        int code;
        std::string errHas;  // for exit 2: the one line names this
        int corner;          // result at the corner pixel; -1 not looked at
        int reportLines;     // lines of --report r.csv (header included); 0 none
    };
    const std::string report = dir.File("r.csv");
    const Case kCases[] = {
        {{}, 0, "", 74, 0},  // mean: (10 + 11 + 200) / 3
        {{"--method", "mean"}, 0, "", 74, 0},
        {{"--method", "median"}, 0, "", 11, 0},
        {{"--method", "mean-of-added"}, 0, "", 74, 0},
        {{"--method", "median", "--limit", "2", "--report", report}, 0, "", -1, 4},
        {{"--method", "median", "--limit", "0", "--report", report}, 0, "", 11, 4},
        {{"--method", "sigma-clip", "--kappa", "0.5", "--report", report}, 0, "", 11, 4},
        {{"--method", "bogus"}, 2, "--method", -1, 0},
        {{"--method"}, 2, "--method", -1, 0},
        {{"--method", "sigma-clip", "--kappa", "0"}, 2, "--kappa: must be a number above 0", -1, 0},
        {{"--method", "sigma-clip", "--kappa", "-1"}, 2, "above 0, such as 2.5, not -1", -1, 0},
        {{"--method", "sigma-clip", "--kappa", "two"}, 2, "above 0, such as 2.5, not two", -1, 0},
        {{"--method", "sigma-clip", "--kappa", "inf"}, 2, "--kappa", -1, 0},
        {{"--kappa", "3"}, 2, "--kappa", -1, 0},
        {{"--method", "median", "--limit", "-1"}, 2, "--limit: must be a whole number", -1, 0},
        {{"--method", "median", "--limit", "x"}, 2, "from 0 to 2147483647, not x", -1, 0},
        {{"--method", "median", "--limit", "1.5"}, 2, "--limit", -1, 0},
        {{"--limit", "5"}, 2, "--limit", -1, 0},
        {{"--report"}, 2, "--report", -1, 0},
        // A report that cannot be written: its path and the reason, before any work.
        {{"--report", dir.File("afile") + "/r.csv"}, 1, dir.File("afile") + "/r.csv: ", -1, 0},
        {{"--report", dir.File("in")}, 1, dir.File("in") + ": is not a regular file", -1, 0},
        // Flat frames have nothing to register on: the job fails, naming the reference.
        {{"--align"}, 1, dir.File("in"), -1, 0},
    };
    for (const Case& c : kCases) {
        std::vector<std::string> args = {"average", dir.File("in"), dir.File("avg.bmp")};
        args.insert(args.end(), c.options.begin(), c.options.end());
        std::string line;
        for (const std::string& a : c.options) line += a + " ";
        SCOPED_TRACE(line);
        fs::remove(dir.File("avg.bmp"));
        fs::remove(report);
        const CliResult r = RunCli(args);
        ASSERT_EQ(r.exitCode, c.code) << r.err;
        if (!c.errHas.empty()) {
            EXPECT_NE(r.err.find(c.errHas), std::string::npos) << r.err;
        }
        if (c.code == 2) {
            EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
            EXPECT_LT(r.err.size(), 160u) << r.err;  // said as people write it
        }
        if (c.corner < 0 && c.code != 0) {
            EXPECT_FALSE(fs::exists(dir.File("avg.bmp")));
        }
        if (c.corner >= 0) {
            CDibImage avg;
            Load(dir.File("avg.bmp"), avg);
            EXPECT_EQ(avg.TopRow(0)[0], c.corner);
            EXPECT_EQ(avg.TopRow(29)[3 * 39], 11);  // (10 + 11 + 11) / 3, rounded
        }
        if (c.reportLines > 0) {
            const std::string csv = Slurp(report);
            EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), c.reportLines) << csv;
            EXPECT_EQ(csv.rfind("file,dx,dy,status,reason\n", 0), 0u) << csv;
            EXPECT_NE(csv.find(dir.File("in") + "/f1.bmp,0.000,0.000,"), std::string::npos) << csv;
            EXPECT_EQ(csv.find(",rejected,") != std::string::npos,
                      std::find(c.options.begin(), c.options.end(), "2") != c.options.end())
                << csv;
        }
    }
}
