// libmpv's entry points resolved with dlopen/dlsym.
#include "platform/mpv_library.h"

#include <dlfcn.h>

#include <mutex>

namespace {

std::string LoaderError(const char* fallback) {
    const char* text = dlerror();
    return text ? text : fallback;
}

}  // namespace

CStatus OpenMpvLibrary(const char* soname, MpvApi& api) {
    api = MpvApi{};
    dlerror();  // a stale message must not be taken for this call's
    void* handle = dlopen(soname, RTLD_NOW | RTLD_LOCAL);
    if (!handle)
        return CStatus::Failure(LoaderError(soname));
    MpvApi found;
    std::string missing;  // the loader's text, which names the library and the function
    // Each entry point by its C name; the first one missing fails the whole table.
#define TARNWICK_MPV_RESOLVE(name)                                                        \
    if (missing.empty()) {                                                                \
        found.name = reinterpret_cast<decltype(found.name)>(dlsym(handle, "mpv_" #name)); \
        if (!found.name)                                                                  \
            missing = LoaderError("mpv_" #name);                                          \
    }
    TARNWICK_MPV_FUNCTIONS(TARNWICK_MPV_RESOLVE)
#undef TARNWICK_MPV_RESOLVE
    if (!missing.empty()) {
        dlclose(handle);
        return CStatus::Failure(missing);
    }
    api = found;
    return {};
}

CResult<const MpvApi*> LoadMpv(const char* soname) {
    static std::once_flag once;
    static MpvApi api;
    static CStatus status;
    std::call_once(once, [soname] { status = OpenMpvLibrary(soname, api); });
    if (!status)
        return status;
    return &api;
}
