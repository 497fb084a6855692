#include "SecurityStatus.h"

namespace platform::security {

namespace {

struct ErrorText {
    std::uint32_t code;
    std::string_view text;
};

constexpr ErrorText kErrorTexts[] = {
    {kErrorSuccess, "The operation completed successfully."},
    {kErrorInvalidParameter, "The parameter is incorrect."},
    {kErrorUnknownRevision, "The revision level is unknown."},
    {kErrorInvalidAcl, "The access control list (ACL) structure is invalid."},
    {kErrorInvalidSid, "The security ID structure is invalid."},
    {kErrorInvalidSecurityDescr, "The security descriptor structure is invalid."},
};

} // namespace

std::string_view SecurityErrorText(std::uint32_t code) {
    for (const auto& e : kErrorTexts)
        if (e.code == code) return e.text;
    return "Unknown error.";
}

} // namespace platform::security
