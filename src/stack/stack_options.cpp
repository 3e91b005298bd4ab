#include "stack/stack_options.h"

#include <cmath>

CStackOptionCheck CheckStackOptions(const CStackOptions& options) {
    if (!(options.m_dKappa > 0) || !std::isfinite(options.m_dKappa))
        return {StackOptionFault::BadKappa, std::to_string(options.m_dKappa)};
    if (options.m_nReferenceCandidates < 1)
        return {StackOptionFault::BadReferenceCount,
                std::to_string(options.m_nReferenceCandidates)};
    if (options.m_nMeanDivisor < 0)
        return {StackOptionFault::NegativeDivisor, {}};
    if (!(options.m_dMinOverlap >= 0 && options.m_dMinOverlap <= 1))
        return {StackOptionFault::BadOverlap, {}};
    return {};
}
