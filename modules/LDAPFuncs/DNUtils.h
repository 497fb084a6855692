// Distinguished names as text: splitting into components, the named parts
// that variable expansion uses, the DNS form of a domain DN, ordering and a
// syntax check.
//
// libldap checks the syntax; components are always returned as the caller
// wrote them (escapes untouched), so they can be found again in the DN text.
// The extended forms "<GUID=...>", "<SID=...>" and "<WKGUID=...>", alone or
// followed by ";" and further parts, are accepted as components of their own.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

// Exit code of a run whose DN the client library cannot split.
inline constexpr int kExitDnExplodeFailure = -1000;
inline constexpr std::string_view kNotDomainDNFormat = "***NotDomainDNFormat***";

// Upper-case key -> text; every key of kDNBreakoutKeys is present.
using DNBreakoutMap = std::map<std::string, std::string>;
inline constexpr std::string_view kDNBreakoutKeys[] = {
    "DN",         "RDN", "PARENTRDN", "PARENT",      "GRANDPARENT",    "DOMAIN",
    "DOMAIN_DNS", "NDC", "NAME",      "EXPLODED_DN", "CANONICAL_NAME", "PARENT_CANONICAL_NAME"};

// Components of a DN in order, types kept.  False when the DN is not valid.
// The empty DN (the RootDSE) is valid and has no components.
bool ExplodeDN(std::string_view dn, std::vector<std::string>& components);

// Fills `map` with the named parts of the DN.  With `typeFree` the
// components lose their "type=" part.  A DN that cannot be split is reported
// ("ERROR:" block on standard output) and gives kExitDnExplodeFailure, which
// the caller ends the run with; otherwise 0.
[[nodiscard]] int DNBreakout(std::string_view dn, bool typeFree, DNBreakoutMap& map);

// DNS form of a domain DN ("DC=Corp,DC=Example" -> "corp.example");
// kNotDomainDNFormat when the DN contains "cn=".
std::string ConvertDNToDomain(std::string_view dn);

// Orders DNs in place.  Mode (any case): "cialpha" by lower-cased text,
// "csalpha" by byte order, "reverse" children before parents, anything else
// parents before children.  Always true.
bool SortDNs(std::string_view mode, std::vector<std::string>& dns);
// The same order as positions: element k of the result is the index of the
// DN that comes k-th.  `dnAt(i)` gives the i-th of `count` DNs.
std::vector<std::uint32_t> DNSortOrder(std::string_view mode, std::size_t count,
                                       const std::function<std::string_view(std::size_t)>& dnAt);

// True when the DN (optionally in double quotes) splits into components that
// are all non-empty and of the form type=value.
bool DNCheck(std::string_view dn);
// True for the common DN made only of type=value pairs whose values need no
// escaping; such a DN is always valid.  False says nothing.
bool IsPlainDN(std::string_view dn);

// Text from the first "DC=" (exact case) to the end, or "".
std::string DNDomainPart(std::string_view dn);
