// Result of the security conversions: a Win32-style error code and, for a
// failure, where in the input it was found (a character index into SDDL or
// SID text, a byte index into a binary descriptor or SID).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace platform::security {

inline constexpr std::uint32_t kErrorSuccess = 0;
inline constexpr std::uint32_t kErrorInvalidParameter = 87;       // ERROR_INVALID_PARAMETER
inline constexpr std::uint32_t kErrorUnknownRevision = 1305;      // ERROR_UNKNOWN_REVISION
inline constexpr std::uint32_t kErrorInvalidAcl = 1336;           // ERROR_INVALID_ACL
inline constexpr std::uint32_t kErrorInvalidSid = 1337;           // ERROR_INVALID_SID
inline constexpr std::uint32_t kErrorInvalidSecurityDescr = 1338; // ERROR_INVALID_SECURITY_DESCR

struct [[nodiscard]] SecurityStatus {
    std::uint32_t code = kErrorSuccess;
    std::size_t offset = 0;

    bool ok() const { return code == kErrorSuccess; }
};

inline constexpr SecurityStatus kSecuritySuccess{};

// Message text for one of the codes above ("The security ID structure is
// invalid." for 1337); a generic text for any other code.
std::string_view SecurityErrorText(std::uint32_t code);

} // namespace platform::security
