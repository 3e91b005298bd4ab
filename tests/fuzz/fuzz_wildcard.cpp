// The scanner's pattern matcher against a plain table-driven one: the input is a pattern, a
// zero byte and a file name.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz/wildcard_reference.h"
#include "jobs/srch_dir.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 600)
        return 0;  // the reference is quadratic
    const char* text = reinterpret_cast<const char*>(data);
    const char* split = static_cast<const char*>(std::memchr(text, '\0', size));
    if (!split)
        return 0;
    const std::string pattern(text, split);
    const std::string name(split + 1, text + size);
    const bool got = WildcardMatch(pattern, name);
    if (got != wildcard_reference::ScannerMatch(pattern, name)) {
        std::fprintf(stderr, "'%s' ~ '%s': matcher says %d\n", pattern.c_str(), name.c_str(), got);
        std::abort();
    }
    return 0;
}
