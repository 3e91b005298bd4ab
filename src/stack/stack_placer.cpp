#include "stack/stack_placer.h"

#include <cstdio>
#include <new>

#include "stack/image_warp.h"

CStackPlacer::CStackPlacer(const CStackOptions& options, int width, int height)
    : m_options(options), m_nWidth(width), m_nHeight(height) {}

CStackPlacer::~CStackPlacer() = default;

CStatus CStackPlacer::SetReference(const CImageView& reference) {
    try {
        m_registration = std::make_unique<CImageRegistration>(m_options.m_bVectors);
    } catch (const std::bad_alloc&) {
        return CStatus::Failure("not enough memory to register pictures");
    }
    return m_registration->SetReference(reference);
}

CStackFile CStackPlacer::Place(const std::string& path, const CImageView& image, bool bReference,
                               std::uint8_t* frame) {
    CStackFile file;
    file.m_strPath = path;
    file.m_bReference = bReference;
    file.m_bOtherSize = image.m_nWidth != m_nWidth || image.m_nHeight != m_nHeight;
    if (m_options.m_bAlign && !bReference) {
        const CRegistration found = m_registration
                                        ? m_registration->Register(image, m_options.m_dMinPeakRatio)
                                        : CRegistration{};
        file.m_dPeakRatio = found.m_dPeakRatio;
        if (!found.m_bOk) {
            file.m_strReason = found.m_strReason;
            // Only a picture without contrast has no peak ratio at all.
            file.m_leftOut =
                found.m_dPeakRatio > 0 ? StackLeftOut::WeakPeak : StackLeftOut::NoContrast;
            file.m_dNeededPeakRatio = m_options.m_dMinPeakRatio;
            return file;
        }
        file.m_dx = found.m_dx;
        file.m_dy = found.m_dy;
    }
    const CGridRect rect = ShiftOntoGrid(image, file.m_dx, file.m_dy, m_nWidth, m_nHeight, frame,
                                         m_options.m_bVectors);
    const double share = double(rect.Area()) / (double(m_nWidth) * m_nHeight);
    if (m_options.m_bAlign && (rect.Empty() || share < m_options.m_dMinOverlap)) {
        char text[80];
        std::snprintf(text, sizeof text, "covers only %.0f%% of the reference", share * 100);
        file.m_strReason = text;
        file.m_leftOut = StackLeftOut::SmallOverlap;
        file.m_dCoverage = share;
        return file;
    }
    file.m_covered = rect;
    file.m_bUsed = true;
    return file;
}
