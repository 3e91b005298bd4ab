// Settings loader: any file loads without harm, and what it loads survives a save and a load,
// both into a fresh file and into the fuzzed file itself (whose other sections and keys are kept).
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

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
    LoadSettings(loaded, path);

    // Saved into a fresh file.
    std::remove(path.c_str());
    std::string why;
    if (!SaveSettings(loaded, path, &why)) {
        std::fprintf(stderr, "a loaded value cannot be saved: %s\n", why.c_str());
        std::abort();
    }
    P expected = loaded;
    Expected(expected);
    P again;
    LoadSettings(again, path);
    if (!(again == expected)) {
        std::fprintf(stderr, "a fresh save does not load back\n");
        std::abort();
    }

    // Saved into the fuzzed file, when it is one that can be kept.
    WriteFile(path, data, size);
    if (!SaveSettings(loaded, path, &why))
        return;
    P kept;
    LoadSettings(kept, path);
    if (!(kept == expected)) {
        std::fprintf(stderr, "a save into the file does not load back\n");
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
    std::remove(path.c_str());
    return 0;
}
