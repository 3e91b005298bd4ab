// Settings loader: any file loads without harm, and what it loads survives a save and a load,
// both into a fresh file and into the fuzzed file itself (whose other sections and keys are kept).
// The same bytes behind a FIFO or at the start of a file past the size limit are refused at once
// by Load and Save, which leave the file as it was.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>

#include "jobs/settings_file.h"

namespace {

std::string TempPath() {
    static const std::string path = [] {
        char name[] = "/tmp/fuzz-settings-XXXXXX";
        const int fd = mkstemp(name);
        if (fd < 0)
            std::abort();
        close(fd);
        return std::string(name);
    }();
    return path;
}

void WriteFile(const std::string& path, const std::uint8_t* data, std::size_t size) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file || std::fwrite(data, 1, size, file) != size || std::fclose(file) != 0)
        std::abort();
}

// A choice that is none (a number beyond the list) is saved as -1, which reads back as the
// default, as a list without selection does: what a save and a load give back.
void Expected(CMergeParams& p) {
    if (!p.m_source)
        p.m_source = CMergeParams{}.m_source;
}
void Expected(CScaleParams& p) {
    if (!p.m_source)
        p.m_source = CScaleParams{}.m_source;
    if (!p.m_scale)
        p.m_scale = CScaleParams{}.m_scale;
}

template <class P>
void RoundTrip(const std::string& path, const std::uint8_t* data, std::size_t size) {
    WriteFile(path, data, size);
    P loaded;
    if (CStatus read = LoadSettings(loaded, path); !read) {
        std::fprintf(stderr, "a regular file is not read: %s\n", read.Reason().c_str());
        std::abort();
    }

    // Saved into a fresh file.
    std::remove(path.c_str());
    if (CStatus saved = SaveSettings(loaded, path); !saved) {
        std::fprintf(stderr, "a loaded value cannot be saved: %s\n", saved.Reason().c_str());
        std::abort();
    }
    P expected = loaded;
    Expected(expected);
    P again;
    if (!LoadSettings(again, path) || !(again == expected)) {
        std::fprintf(stderr, "a fresh save does not load back\n");
        std::abort();
    }

    // Saved into the fuzzed file, when it is one that can be kept.
    WriteFile(path, data, size);
    if (!SaveSettings(loaded, path))
        return;
    P kept;
    if (!LoadSettings(kept, path) || !(kept == expected)) {
        std::fprintf(stderr, "a save into the file does not load back\n");
        std::abort();
    }
}

// The special files: a FIFO without a writer (an ordinary open waits for one for ever), and the
// bytes followed by a sparse tail to 1.5 GiB (read whole, it exhausts the fuzzer's memory).
enum class Special { Fifo, Large };

void MakeSpecial(Special kind, const std::string& path, const std::uint8_t* data,
                 std::size_t size) {
    std::remove(path.c_str());
    if (kind == Special::Fifo) {
        if (mkfifo(path.c_str(), 0600) != 0)
            std::abort();
        return;
    }
    WriteFile(path, data, size);
    if (truncate(path.c_str(), off_t(kMaxSettingsFileBytes) * 1536) != 0)
        std::abort();
}

// What the file is: its type and size.
std::pair<mode_t, off_t> Kind(const std::string& path) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0)
        std::abort();
    return {st.st_mode & S_IFMT, S_ISREG(st.st_mode) ? st.st_size : 0};
}

// Refused with a reason naming the file, the defaults loaded, the file left alone.
template <class P>
void Refused(const std::string& path) {
    const auto before = Kind(path);
    P loaded;
    const CStatus read = LoadSettings(loaded, path);
    if (read || !(loaded == P{}) || read.Reason().find(path) != 0) {
        std::fprintf(stderr, "a special file is read: %s\n", read.Reason().c_str());
        std::abort();
    }
    const CStatus saved = SaveSettings(P{}, path);
    if (saved || saved.Reason().find(path) != 0 || Kind(path) != before) {
        std::fprintf(stderr, "a special file is saved over: %s\n", saved.Reason().c_str());
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 4096)
        return 0;
    const std::string path = TempPath();
    RoundTrip<CMergeParams>(path, data, size);
    RoundTrip<CScaleParams>(path, data, size);
    for (const Special kind : {Special::Fifo, Special::Large}) {
        MakeSpecial(kind, path, data, size);
        Refused<CMergeParams>(path);
        Refused<CScaleParams>(path);
    }
    std::remove(path.c_str());
    return 0;
}
