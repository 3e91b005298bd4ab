// How a stack is made: the method, alignment, the memory the stacker may hold, and the check
// of the values it cannot use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "stack/image_registration.h"
#include "stack/stack_methods.h"

// Holds 255 pictures of 640x480 (224.1 MiB) without a temporary file; a whole job stays under
// 256 MiB whatever the number of pictures of that size.
inline constexpr std::size_t kDefaultStackMemory = std::size_t(226) << 20;
// The largest picture the stacking methods take (pixels): with the store's budget this bounds
// their memory, whatever the pictures (a larger one is skipped before it is decoded).
inline constexpr std::int64_t kMaxStackPixels = 32'000'000;

struct CStackOptions {
    StackMethod m_method = StackMethod::MeanOfAdded;
    double m_dKappa = kDefaultKappa;  // sigma-clip only; above 0
    bool m_bAlign = false;
    // With alignment the reference is the sharpest of the first this many pictures of the grid's
    // size (1: the first picture).
    int m_nReferenceCandidates = 1;
    double m_dMinPeakRatio = CImageRegistration::kDefaultMinPeakRatio;
    // An aligned picture that covers less than this part of the grid is left out.
    double m_dMinOverlap = 0.25;
    // Mean only: the divisor of every pixel; 0 divides by the number of pictures used.
    int m_nMeanDivisor = 0;
    // Median and sigma-clip: bytes of pictures held in memory at most.
    std::size_t m_nMemoryBytes = kDefaultStackMemory;
    // Where the temporary store goes; empty: $TMPDIR, or /tmp.
    std::string m_strTempDir;
    // Median and sigma-clip: threads that combine bands of rows side by side; 0: one a
    // processor.
    int m_nThreads = 0;
    // False keeps registration and the warp to their plain loops (the same results, slower).
    bool m_bVectors = true;
};

// A value of the options the stacker cannot use; None when they pass.
enum class StackOptionFault {
    None,
    BadKappa,           // kappa not above 0 (or not finite); the detail is its value
    BadReferenceCount,  // fewer than 1 reference candidate; the detail is the count
    NegativeDivisor,    // a divisor of the mean below 0
    BadOverlap,         // the least overlap outside 0..1
};
// A fault and the value at fault (empty for the last two faults).
struct CStackOptionCheck {
    StackOptionFault m_fault = StackOptionFault::None;
    std::string m_strDetail;
};
// The first fault of `options`.
CStackOptionCheck CheckStackOptions(const CStackOptions& options);
