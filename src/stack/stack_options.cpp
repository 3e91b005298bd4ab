#include "stack/stack_options.h"

#include <cmath>

StackOptionFault CheckStackOptions(const CStackOptions& options, std::string* detail) {
    if (!(options.m_dKappa > 0) || !std::isfinite(options.m_dKappa)) {
        *detail = std::to_string(options.m_dKappa);
        return StackOptionFault::BadKappa;
    }
    if (options.m_nReferenceCandidates < 1) {
        *detail = std::to_string(options.m_nReferenceCandidates);
        return StackOptionFault::BadReferenceCount;
    }
    detail->clear();
    if (options.m_nMeanDivisor < 0)
        return StackOptionFault::NegativeDivisor;
    if (!(options.m_dMinOverlap >= 0 && options.m_dMinOverlap <= 1))
        return StackOptionFault::BadOverlap;
    return StackOptionFault::None;
}
