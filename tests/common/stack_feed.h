// Hands pictures to a CImageStacker the way the averaging job does: the first picture fixes the
// grid (and, with alignment, is the reference), each picture is placed on the grid by a
// CStackPlacer, then given to AddPlaced in order. Header only: the test programs and benchmarks
// that include it link the stacking engine.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "stack/stack.h"

class CStackFeed {
public:
    CStackFeed(CImageStacker& stacker, const CStackOptions& options)
        : m_stacker(stacker), m_options(options) {}

    // A failure ends the stack: the reference has nothing to register on, or AddPlaced failed.
    CStatus Add(const std::string& path, const CDibImage& image) {
        const CImageView view = ViewOf(image);
        const bool bReference = !m_placer;
        if (bReference) {
            m_placer = std::make_unique<CStackPlacer>(m_options, view.m_nWidth, view.m_nHeight);
            if (m_options.m_bAlign)
                if (CStatus set = m_placer->SetReference(view); !set)
                    return set;
        }
        const int width = m_placer->Width();
        const int height = m_placer->Height();
        // Kept from picture to picture as the job's workers keep theirs: grid pixels a picture
        // does not cover hold what was there, and only the covered ones count.
        m_frame.resize(std::size_t(width) * std::size_t(height) * 3);
        const CStackFile file = m_placer->Place(path, view, bReference, m_frame.data());
        return m_stacker.AddPlaced(file, m_frame.data(), width, height);
    }

private:
    CImageStacker& m_stacker;
    CStackOptions m_options;
    std::unique_ptr<CStackPlacer> m_placer;
    std::vector<std::uint8_t> m_frame;
};
