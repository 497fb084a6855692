// Security descriptors as values, and their self-relative binary form
// (MS-DTYP 2.4.6), with the ACLs (2.4.5) and ACEs (2.4.4) they hold.
#pragma once

#include "SecurityStatus.h"
#include "Sid.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace platform::security {

inline constexpr std::uint8_t kSecurityDescriptorRevision = 1;
inline constexpr std::uint8_t kAclRevision = 2;   // ACL_REVISION
inline constexpr std::uint8_t kAclRevisionDs = 4; // ACL_REVISION_DS: may hold object ACEs

// A GUID in its packet order (MS-DTYP 2.3.4.2): Data1, Data2 and Data3
// little-endian, then the eight bytes of Data4.
using Guid = std::array<std::uint8_t, 16>;

struct Ace {
    std::uint8_t type = 0;
    std::uint8_t flags = 0;
    std::uint32_t mask = 0;
    std::optional<Guid> objectType;          // object ACE types only
    std::optional<Guid> inheritedObjectType; // object ACE types only
    Sid sid;

    bool operator==(const Ace&) const = default;
};

struct Acl {
    std::uint8_t revision = kAclRevision;
    std::vector<Ace> aces;

    bool operator==(const Acl&) const = default;
};

// `control` holds the SE_* bits.  A DACL (SACL) is present when
// SE_DACL_PRESENT (SE_SACL_PRESENT) is set; present without a value it is the
// null ACL.
struct SecurityDescriptor {
    std::uint16_t control = 0;
    std::optional<Sid> owner;
    std::optional<Sid> group;
    std::optional<Acl> sacl;
    std::optional<Acl> dacl;

    bool operator==(const SecurityDescriptor&) const = default;
};

// The lowest ACL revision that may hold these ACEs.
[[nodiscard]] std::uint8_t RequiredAclRevision(const std::vector<Ace>& aces);

// Self-relative bytes: the 20-byte header, then owner, group, SACL and DACL in
// that order (the order directory servers store them in).  SE_SELF_RELATIVE
// is always set; the present bits follow the ACLs.  1336 when an ACL or ACE
// does not fit its 16-bit size, 1337 for a SID with too many sub-authorities.
[[nodiscard]] SecurityStatus EncodeSecurityDescriptor(const SecurityDescriptor& sd,
                                                      std::vector<std::uint8_t>& out);

// Reads self-relative bytes, the parts in any order.  Offsets in failures are
// byte offsets: 1305 for an unknown descriptor revision, 1338 for a header or
// offset that does not fit, 1336 for a malformed ACL or ACE, 1337 for a bad SID.
[[nodiscard]] SecurityStatus DecodeSecurityDescriptor(std::span<const std::uint8_t> bytes,
                                                      SecurityDescriptor& sd);

} // namespace platform::security
