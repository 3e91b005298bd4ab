// The record of one picture handed to the stacker: used or left out and why, its shift, the
// grid pixels it covers. The placer makes it, the stacker keeps it, the report prints it.
#pragma once

#include <string>

#include "stack/image_view.h"

// Why a picture was left out, for front ends that word it themselves.
enum class StackLeftOut {
    None,          // used, or left out for a reason of the caller's
    NoContrast,    // alignment: nothing in the window to register on
    WeakPeak,      // alignment: the correlation peak is below the needed ratio
    SmallOverlap,  // alignment: the shifted picture covers too little of the grid
    NoReference,   // alignment: no picture of the grid's size has anything to register on
};

// What happened to one picture handed to the stacker.
struct CStackFile {
    std::string m_strPath;
    bool m_bUsed = false;
    bool m_bReference = false;
    double m_dx = 0;  // the picture's content relative to the reference (see CRegistration)
    double m_dy = 0;
    double m_dPeakRatio = 0;  // registration confidence; 0 without alignment
    CGridRect m_covered;      // grid pixels the picture covers
    std::string m_strReason;  // why it was left out
    StackLeftOut m_leftOut = StackLeftOut::None;
    double m_dNeededPeakRatio = 0;  // WeakPeak: the ratio it needed
    double m_dCoverage = 0;         // SmallOverlap: the part of the grid it covers (0..1)
    // Its size is not the grid's: only the overlap enters.
    bool m_bOtherSize = false;
};
