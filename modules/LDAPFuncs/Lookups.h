// Small directory reads and writes other parts of the program build on.
//
// Controls are sent critical and only when the server lists them in its
// RootDSE, so the same calls work against directories that lack them.
// Result codes are returned as shown to the user (see ErrorReport.h).
#pragma once

#include "RootDSE.h"

#include <ldap.h>

#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

inline constexpr std::string_view kOidShowDeleted = "1.2.840.113556.1.4.417";
inline constexpr std::string_view kOidShowRecycled = "1.2.840.113556.1.4.2064";
inline constexpr std::string_view kOidShowDeactivatedLinks = "1.2.840.113556.1.4.2065";
inline constexpr std::string_view kOidExtendedDN = "1.2.840.113556.1.4.529";

// Appends the DNs of the entries matching "(" + filter + ")" below `base`.
// Scope text containing "base" or "one" selects those scopes, anything else
// the subtree.  Referrals are not chased.  A failure is reported on standard
// error and its code returned.
int GetDNFromSearch(LDAP* session, std::string_view base, std::string_view scope,
                    std::string_view filter, std::vector<std::string>& out,
                    const CRootDSE& rootDSE);

// Most specific object class (the last value of objectClass), or "".
std::string GetObjectClass(LDAP* session, std::string_view dn);

// Replaces one attribute of `dn` with one value.
int UpdateLDAPString(std::string_view dn, std::string_view attribute, std::string_view value,
                     LDAP* session);

struct DomainPartitionInfo {
    std::string sid;         // "S-1-5-21-..."
    std::string dnsRoot;     // "corp.example"
    std::string dn;          // partition DN
    std::string netbiosName; // "CORP"
};
// Lower-cased partition DN -> record, plus "DEFAULT" and "ROOT".
using DomainPartitionMap = std::map<std::string, DomainPartitionInfo>;

// Domain partitions with their SIDs, from the configuration partition.
int GetDomainSDInfo(LDAP* session, const CRootDSE& rootDSE, DomainPartitionMap& partitions);

// Receives the log lines a lookup writes when a log file is open.
using LogLineFn = std::function<void(std::string_view)>;

// "lastKnownParent" / "msDS-LastKnownRDN" of a deleted object, or "".
std::string GetLastKnownParent(LDAP* session, std::string_view dn, bool showRecycled,
                               const CRootDSE& rootDSE, const LogLineFn& log = {});
std::string GetLastKnownRDN(LDAP* session, std::string_view dn, bool showRecycled,
                            const CRootDSE& rootDSE, const LogLineFn& log = {});
