// --threads: taken by every subcommand, before or after its name; the outputs do not depend on it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "common/run_cli.h"
#include "common/temp_dir.h"
#include "image/dib_image.h"
#include "image/image_file.h"

namespace fs = std::filesystem;

namespace {

std::map<std::string, std::string> Contents(const fs::path& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (!entry.is_regular_file())
            continue;
        std::ifstream in(entry.path(), std::ios::binary);
        files[fs::relative(entry.path(), folder).string()] =
            std::string(std::istreambuf_iterator<char>(in), {});
    }
    return files;
}

}  // namespace

TEST(CliThreads, EverySubcommandTakesItAndTheBytesStayTheSame) {
    TempDir dir;
    CDibImage image;
    ASSERT_TRUE(image.Create(300, 200, 24));
    fs::create_directories(dir.File("in"));
    for (int i = 0; i < 6; ++i) {
        for (int y = 0; y < 200; ++y)
            for (int x = 0; x < 900; ++x) image.TopRow(y)[x] = std::uint8_t(x * (i + 1) + y * 7);
        const CStatus saved =
            SaveImageFile(dir.File("in/p" + std::to_string(i) + ".jpg"), image, 90);
        ASSERT_TRUE(saved) << saved.Reason();
    }
    const std::string src = dir.File("in/p0.jpg");
    std::map<std::string, std::string> first;
    for (const char* threads : {"1", "2", "3"}) {
        SCOPED_TRACE(threads);
        const std::string out = dir.File(std::string("out") + threads);
        fs::create_directories(out);
        const std::vector<std::vector<std::string>> runs = {
            {"--threads", threads, "convert", src, out + "/c.bmp"},
            {"resize", src, out + "/r.jpg", "1000x900", "--threads", threads},
            {"fill", "--threads", threads, src, out + "/f.bmp", "640x480"},
            {"average", dir.File("in"), out + "/avg.jpg", "--type", "jpg", "--threads", threads},
            {"enlarge", dir.File("in"), out + "/big", "--type", "jpg", "--size", "x3", "--threads",
             threads},
        };
        for (const auto& args : runs) {
            const CliResult r = RunCli(args);
            EXPECT_EQ(r.exitCode, 0) << args[0] << ": " << r.err;
        }
        const auto written = Contents(out);
        EXPECT_EQ(written.size(), 4u + 6u);
        if (first.empty())
            first = written;
        else
            EXPECT_TRUE(written == first);
    }
    // Refused with a usage error by every subcommand, record included.
    for (const char* sub : {"convert", "resize", "fill", "average", "enlarge", "record"}) {
        for (const char* bad : {"0", "x", "1025"}) {
            const CliResult r = RunCli({sub, "--threads", bad, "a", "b", "c"});
            EXPECT_EQ(r.exitCode, 2) << sub << " " << bad;
            EXPECT_NE(r.err.find("threads"), std::string::npos) << r.err;
        }
    }
}
