// Reads of the directory data descriptors are built from: an object's
// security descriptor as SDDL, a class's default descriptor, and the GUIDs of
// attributes, classes and extended rights.
//
// The text-returning reads answer failures with text that starts "ERROR:";
// callers show it as it is.
#pragma once

#include "LdapPtr.h"
#include "PagedSearch.h"
#include "RootDSE.h"

#include <ldap.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

inline constexpr std::string_view kOidSdFlags = "1.2.840.113556.1.4.801";
inline constexpr std::string_view kOidSearchOptions = "1.2.840.113556.1.4.1340";
// Search options flag: search every naming context below the base, not only
// the one the base is in.
inline constexpr int kSearchOptionPhantomRoot = 2;

// Descriptor parts, as the SD flags control and SDDL printing name them.
inline constexpr std::uint32_t kSdPartOwner = 0x1;
inline constexpr std::uint32_t kSdPartGroup = 0x2;
inline constexpr std::uint32_t kSdPartDacl = 0x4;
inline constexpr std::uint32_t kSdPartSacl = 0x8;

// A control value that is a SEQUENCE holding one INTEGER (BER "{i}"), as the
// SD flags and search options controls take; null when encoding fails.
BervalPtr BerIntegerSequence(std::int32_t value);

// The SDDL text of `attribute` (a binary descriptor) of the object at `dn`,
// read with the SD flags control asking for `partFlags` and with deleted
// objects visible.  SIDs of the domain print as SID text, not as aliases.
// Failures: "ERROR: Couldn't retrieve SD template object <dn>" when the
// search fails, "ERROR: Didn't retrieve SD\n" when the object has no value,
// "ERROR:" + the conversion's message when the value is not a descriptor.
std::string GetSD(LDAP* session, std::string_view dn, std::uint32_t partFlags,
                  std::string_view attribute);

// defaultSecurityDescriptor of the classSchema object whose lDAPDisplayName
// is `className`, directly below `schemaNC`.  "" when the search fails or the
// class has none; "ERROR: INVALID BASE DN" / "ERROR: INVALID LDAP NAME VALUE"
// for an empty schema NC or class name.
std::string GetDefaultSD(LDAP* session, std::string_view schemaNC, std::string_view className);

// The descriptor (GetSD, nTSecurityDescriptor) of the one object named
// `name` below `base` (default naming context when empty) in `scope`
// ("subtree" when empty; see GetDNFromSearch).  Failures:
// "ERROR: INVALID LDAP OBJECT NAME VALUE" for an empty name,
// "ERROR: LDAP ERROR - <text>" when the search fails,
// "ERROR: No matching objects found." and
// "ERROR: Too may matching objects found - <count>".
std::string GetTemplateSD(LDAP* session, const CRootDSE& rootDSE, std::string_view base,
                          std::string_view scope, std::string_view name, std::uint32_t partFlags);

// The attribute or class whose lDAPDisplayName is `name` below `schemaNC`:
// its lDAPDisplayName in lower case and its schemaIDGUID as lower-case
// 8-4-4-4-12 text.  nullopt when the search fails, nothing matches or the
// value is not a 16-byte GUID.
std::optional<std::pair<std::string, std::string>>
GetSDAttrGuid(LDAP* session, std::string_view schemaNC, std::string_view name);

// One entry of the rights-and-classes search (attribute names in lower case)
// as (lower-case name, GUID text): an extended right (objectCategory
// starting "CN=Control-Access-Right") by displayName and rightsGuid (braces
// allowed), a class ("CN=Class-Schema...") by lDAPDisplayName and its binary
// schemaIDGUID.  nullopt for anything else or a missing or malformed value.
std::optional<std::pair<std::string, std::string>> RightOrClassGuid(const EntryAttributes& entry);

// Appends (lower-case name, GUID text) for every extended right (display
// name, rightsGuid) and every class (lDAPDisplayName, schemaIDGUID) below the
// configuration NC, schema included.  Entries with missing or malformed
// values are left out and counted in a debug line.  Returns 0 or the failing
// search's code (shown value).
int GetCARClassSDGuids(LDAP* session, std::string_view configNC,
                       std::vector<std::pair<std::string, std::string>>& out);
