// What the two batch engines take: plain parameter structs with the choices as enums. The pages
// fill them from their controls, the command line from its options, the settings file from its
// keys (settings_file.h).
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "stack/stack_methods.h"

// The kind of source images. The values are the settings file's numbers and the order of the
// pages' source lists.
enum class SourceKind { Jpg, Bmp };
inline constexpr SourceKind kSourceKinds[] = {SourceKind::Jpg, SourceKind::Bmp};

// The enlarging job's size choice: a factor or a fixed size. Values as for SourceKind.
enum class ScaleChoice { X2, X3, To640x480, To800x600, To1024x768 };
inline constexpr ScaleChoice kScaleChoices[] = {ScaleChoice::X2, ScaleChoice::X3,
                                                ScaleChoice::To640x480, ScaleChoice::To800x600,
                                                ScaleChoice::To1024x768};

// What both jobs take. A source kind left empty is "none chosen" (a list without selection,
// after an out-of-range settings value): the job refuses to start. The member initialisers are
// the defaults of the settings file and the pages' values when they are created.
struct CJobParams {
    std::string m_strSrcDir;
    std::optional<SourceKind> m_source = SourceKind::Bmp;
    int m_nJpgQuality = 95;  // 1..100; other values are clamped
    bool m_bDelSrc = true;   // move the sources to the trash

    bool operator==(const CJobParams&) const = default;
};

// Averaging: every source image into one target file, with optional fill-and-crop copies.
struct CMergeParams : CJobParams {
    std::string m_strTargetFile;  // BMP for ".bmp"/".dib" (any case), otherwise JPEG
    bool m_bExtra800 = true;      // also "<name>_800x600"
    bool m_bExtra1024 = true;     // also "<name>_1024x768"
    bool m_bAutoNumber = true;    // write to the first free numbered name (MakeUniqueTarget)
    // How the images are combined. Mean is the plain average of at most 255 images; the other
    // methods take any number of them.
    StackMethod m_method = StackMethod::Mean;
    double m_dKappa = kDefaultKappa;  // sigma-clip: above 0
    bool m_bAlign = false;            // register every image to the first and move it onto it
    int m_nLimit = 0;                 // methods other than mean: at most this many images; 0 all
    std::string m_strReportFile;      // CSV of every file's shift and use; empty: none

    bool operator==(const CMergeParams&) const = default;
};

// Enlarging: every source image resized into a target folder under its own name.
struct CScaleParams : CJobParams {
    std::string m_strTargetFolder;                         // created when missing
    std::optional<ScaleChoice> m_scale = ScaleChoice::X2;  // empty: none chosen, refused

    bool operator==(const CScaleParams&) const = default;
};

// The choice at `index` in the list of all choices (the settings file's number); none for any
// other number.
template <class E, std::size_t N>
std::optional<E> ChoiceAt(const E (&all)[N], int index) {
    if (index < 0 || std::size_t(index) >= N)
        return std::nullopt;
    return all[index];
}
inline std::optional<SourceKind> SourceKindAt(int index) {
    return ChoiceAt(kSourceKinds, index);
}
inline std::optional<ScaleChoice> ScaleChoiceAt(int index) {
    return ChoiceAt(kScaleChoices, index);
}
// The number of a choice, -1 for none (a list without selection).
template <class E>
int IndexOf(const std::optional<E>& choice) {
    return choice ? int(*choice) : -1;
}

// "*.jpg" or "*.bmp": the scan pattern, also the text of the pages' source list.
std::string SourcePattern(SourceKind kind);
// "jpg" or "bmp", as the command line names them.
const char* SourceKindName(SourceKind kind);
// "x2", "x3", "640x480", "800x600", "1024x768": the size list's texts and the command line's.
const char* ScaleChoiceName(ScaleChoice scale);

// The target size for `scale` of a width x height source; false when a factor overflows.
bool ScaleTargetSize(ScaleChoice scale, int width, int height, int& targetWidth, int& targetHeight);
