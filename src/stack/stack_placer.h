// Registering one picture to the reference and moving it onto the grid: the part of stacking
// each picture needs on its own, done on the job's workers side by side.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "stack/image_registration.h"
#include "stack/image_view.h"
#include "stack/stack_file.h"
#include "stack/stack_options.h"

// The part of stacking that each picture needs on its own: registering it to the reference (with
// alignment) and moving it onto the grid. Several threads can place pictures side by side, one
// placer each, and hand the results to the stacker (AddPlaced) in order.
class CStackPlacer {
public:
    // A grid of width x height; with alignment SetReference must come before Place.
    CStackPlacer(const CStackOptions& options, int width, int height);
    ~CStackPlacer();
    CStackPlacer(const CStackPlacer&) = delete;
    CStackPlacer& operator=(const CStackPlacer&) = delete;

    // Fails when the reference has nothing to register on, or without memory.
    CStatus SetReference(const CImageView& reference);
    // `frame` (the grid's size: width x 3 bytes a row, top row first) gets the picture on the
    // grid (grid pixels it does not cover keep what they had); the result says what it covers
    // and its shift, or why it is left out. The reference itself is placed unshifted.
    CStackFile Place(const std::string& path, const CImageView& image, bool bReference,
                     std::uint8_t* frame);

    int Width() const { return m_nWidth; }
    int Height() const { return m_nHeight; }

private:
    CStackOptions m_options;
    int m_nWidth;
    int m_nHeight;
    std::unique_ptr<CImageRegistration> m_registration;
};
