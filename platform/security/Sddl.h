// Security descriptors in SDDL text (MS-DTYP 2.5.1, revision 1) and back.
//
// Text: "O:" owner, "G:" group, "D:" DACL, "S:" SACL, each at most once and
// in any order.  An ACL is its flags ("P", "AR", "AI", or NO_ACCESS_CONTROL
// for a null ACL) followed by ACEs "(type;flags;rights;object
// GUID;inherited object GUID;principal)".  Principals are two-letter aliases
// or SID text; rights are two-letter codes or a number ("0x1F01FF", "983551").
// Codes and SID prefixes are read in either case, and white space is allowed
// between the parts, after the ACL flags and between ACEs.
//
// Reading builds ACLs of revision 2, or 4 when they hold object ACEs.
// Printing writes the owner, group, DACL and SACL in that order; SIDs with an
// alias as the alias, masks that are unions of known rights as letter pairs
// (low bit first), other masks as "0x" + lower-case hex, GUIDs in lower case.
#pragma once

#include "SecurityDescriptor.h"
#include "SecurityStatus.h"
#include "Sid.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace platform::security {

inline constexpr std::uint32_t kSddlRevision1 = 1;

// SECURITY_INFORMATION bits: which parts to print.
inline constexpr std::uint32_t kOwnerSecurityInformation = 0x1;
inline constexpr std::uint32_t kGroupSecurityInformation = 0x2;
inline constexpr std::uint32_t kDaclSecurityInformation = 0x4;
inline constexpr std::uint32_t kSaclSecurityInformation = 0x8;
inline constexpr std::uint32_t kAllSecurityInformation = 0xF;

// The domains the domain-relative aliases stand in: "DA" is the domain SID
// followed by 512, "EA" the forest root domain SID followed by 519.  Without a
// root domain SID the domain SID serves for both.  An alias whose domain is
// not known is an invalid SID (1337).
struct SddlDomain {
    std::optional<Sid> domain;
    std::optional<Sid> rootDomain;
};

// A GUID in packet order as lower-case 8-4-4-4-12 text, the form ACE object
// types print in.
[[nodiscard]] std::string GuidText(const Guid& g);

// From SID texts; an empty text leaves that domain unknown.
[[nodiscard]] SecurityStatus MakeSddlDomain(std::string_view domainSid,
                                            std::string_view rootDomainSid, SddlDomain& out);

// Text to descriptor.  Offsets in failures are character offsets: 1337 for a
// bad SID or unknown alias, 1336 for a malformed ACL or ACE, 1338 for text
// that is not a sequence of parts.
[[nodiscard]] SecurityStatus ParseSddl(std::string_view text, const SddlDomain& domain,
                                       SecurityDescriptor& sd);

// Descriptor to text, with the parts `info` asks for that the descriptor has.
[[nodiscard]] std::string FormatSddl(const SecurityDescriptor& sd, std::uint32_t info,
                                     const SddlDomain& domain);

// The two system conversions, between text and self-relative bytes.  A
// revision other than 1 gives 1305.
[[nodiscard]] SecurityStatus
ConvertStringSecurityDescriptorToSecurityDescriptor(std::string_view text, std::uint32_t revision,
                                                    const SddlDomain& domain,
                                                    std::vector<std::uint8_t>& bytes);
[[nodiscard]] SecurityStatus
ConvertSecurityDescriptorToStringSecurityDescriptor(std::span<const std::uint8_t> bytes,
                                                    std::uint32_t revision, std::uint32_t info,
                                                    const SddlDomain& domain, std::string& text);

} // namespace platform::security
