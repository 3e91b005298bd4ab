// Points the trash at a private folder before any test runs: GIO reads XDG_DATA_HOME once per
// process, and no test may ever reach the real user's trash.
#include <cstdlib>

#include "jobs_test_util.h"

namespace jobs_test {

namespace {
struct PrivateDataHome {
    PrivateDataHome() { setenv("XDG_DATA_HOME", (dir.Path() / "share").c_str(), 1); }
    TempDir dir;
};
PrivateDataHome& Home() {
    static PrivateDataHome home;
    return home;
}
const bool kHomeSet = (Home(), true);
}  // namespace

fs::path TrashFiles() {
    return Home().dir.Path() / "share" / "Trash" / "files";
}

bool InTrash(const std::string& path) {
    // The trash keeps the name, or adds a number when the name is taken.
    const std::string name = fs::path(path).filename().string();
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(TrashFiles(), ec))
        if (entry.path().filename().string().rfind(fs::path(name).stem().string(), 0) == 0)
            return true;
    return false;
}

}  // namespace jobs_test
