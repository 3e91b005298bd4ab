// Small media clips made with ffmpeg at test time, in the formats the player pages offer, and
// the application object the player needs.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

// Extensions of clips with a moving picture (and, where the format takes one, a tone).
const std::vector<std::string>& VideoClipExtensions();
// Extensions of sound-only clips.
const std::vector<std::string>& AudioClipExtensions();

// Makes `dir`/clip.<extension> of `seconds` seconds: a 320 x 240 moving test picture at 25
// frames a second, whose first picture is never black. Returns its path, or an empty string
// with ffmpeg's complaint in *why.
std::string MakeMediaClip(const std::filesystem::path& dir, const std::string& extension,
                          double seconds, std::string* why = nullptr);

// Makes `dir`/still.png: the first picture of those clips as a still image, which a player
// shows without its position ever moving. Returns its path, or an empty string with ffmpeg's
// complaint in *why.
std::string MakeStillImage(const std::filesystem::path& dir, std::string* why = nullptr);

// Creates the one QCoreApplication of the test program if there is none yet, so that queued
// calls can be delivered; LC_NUMERIC is put back to "C" for libmpv.
void EnsureApplication();

// Dispatches events on this thread until `done` returns true or `timeoutMs` passes; true
// when `done` came true.
template <typename Done>
bool PumpUntil(Done done, int timeoutMs);
bool PumpUntilImpl(bool (*done)(void*), void* ctx, int timeoutMs);
template <typename Done>
bool PumpUntil(Done done, int timeoutMs) {
    return PumpUntilImpl([](void* ctx) { return (*static_cast<Done*>(ctx))(); }, &done, timeoutMs);
}
