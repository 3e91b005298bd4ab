// libmpv opened at run time: the player's entry points are looked up by name the first time a
// player needs them, so a program (or a subcommand) that plays nothing never loads libmpv and
// its couple of hundred dependencies, and a machine without libmpv still runs everything else.
// The mpv headers are used for the types only; nothing links against libmpv.
#pragma once

#include <mpv/client.h>
#include <mpv/render.h>

#include "platform/status.h"

// The libmpv the program is built for (Debian 12 ships libmpv.so.2), set with the package that
// holds it in the top CMakeLists.txt.
inline constexpr const char* kMpvLibraryName = TARNWICK_MPV_SONAME;

// Every libmpv function the player calls; X(name) stands for mpv_<name>.
// clang-format off
#define TARNWICK_MPV_FUNCTIONS(X) \
    X(create) \
    X(initialize) \
    X(terminate_destroy) \
    X(error_string) \
    X(set_option_string) \
    X(set_property) \
    X(set_property_string) \
    X(get_property) \
    X(observe_property) \
    X(command) \
    X(wait_event) \
    X(set_wakeup_callback) \
    X(render_context_create) \
    X(render_context_free) \
    X(render_context_set_update_callback) \
    X(render_context_update) \
    X(render_context_render)
// clang-format on

// The table of entry points: api.create(...) calls mpv_create(...).
struct MpvApi {
// NOLINTNEXTLINE(bugprone-macro-parentheses): `name` is a member name here, not a value
#define TARNWICK_MPV_MEMBER(name) decltype(&::mpv_##name) name = nullptr;
    TARNWICK_MPV_FUNCTIONS(TARNWICK_MPV_MEMBER)
#undef TARNWICK_MPV_MEMBER
};

// Opens the library `soname` and fills `api` with its entry points. On failure `api` is left
// empty and the reason is the loader's own text, which names the library (or the missing
// function). A library opened here is never closed: libmpv keeps threads of its own.
CStatus OpenMpvLibrary(const char* soname, MpvApi& api);

// The process's libmpv, opened on the first call and the same answer on every later one
// (any thread): its entry points, or why it could not be opened. `soname` counts only on the
// first call; tests that need libmpv missing pass a name that does not exist.
CResult<const MpvApi*> LoadMpv(const char* soname = kMpvLibraryName);
