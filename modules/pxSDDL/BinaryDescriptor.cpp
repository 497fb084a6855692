// Placeholder: the binary build is not available in this tree.
#include "CSDDL.h"

namespace pxsddl {

std::uint32_t CSDDL::SpecifiedFlags() const {
    return (m_OwnerSpecified ? 1u : 0u) | (m_GroupSpecified ? 2u : 0u) |
           (m_DACLSpecified ? 4u : 0u) | (m_SACLSpecified ? 8u : 0u);
}

BinaryResult CSDDL::GetBinSecurityDescriptor(const BinaryOptions&) const {
    return BinaryResult{};
}

std::string CSDDL::ExplodedListing(std::string_view, std::string_view) {
    return {};
}

std::uint32_t AceScore(std::uint8_t, std::uint32_t, std::uint32_t, std::string_view) {
    return 0;
}

BinaryResult GetBinSecurityDescriptorEx(std::string_view, const SddlContext&) {
    return BinaryResult{};
}

} // namespace pxsddl
