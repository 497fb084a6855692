// Account names to SIDs.
//
// Descriptor texts and expansion values name security principals as
// DOMAIN\name, as user principal names, as bare names ("Enterprise Admins",
// "Everyone") or, on AD LDS, by a name or DN inside a partition.  This module
// turns them into SID text.  It asks the bound directory, through the
// PrincipalDirectory interface the program supplies, and the built-in table
// of well-known names; it never prints and never ends the program.  Names
// that cannot be resolved give error texts that begin "ERROR:" and travel on
// as values (an SDDL text holding one fails conversion).
#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace pxsids {

// The SDDL principal aliases with the SID each stands for: a SID text, or a
// template in which "<DOMAINSID>" stands for the domain SID and
// "<FORESTSID>" for the forest root domain SID ("DA" -> "<DOMAINSID>-512").
void LoadSddlAliasMap(std::map<std::string, std::string>& out);

// Built-in well-known names ("Everyone", "NT AUTHORITY\SYSTEM",
// "BUILTIN\Administrators", ...), compared without regard to ASCII case.
[[nodiscard]] std::optional<std::string_view> WellKnownNameToSid(std::string_view name);

// The error text of a name nobody knows.
inline constexpr std::string_view kNoneMappedText =
    "ERROR: (1332) No mapping between account names and security IDs was done.";

// One entry found by a principal search.
struct PrincipalEntry {
    std::string dn;
    std::string sid;            // text form of objectSid; empty when absent
    std::string sAMAccountName; // as stored
    std::string userPrincipalName;
    std::string name;
};

// The directory reads name resolution needs.  The program implements it on
// the bound session; tests replace it with a fake that counts calls.
class PrincipalDirectory {
  public:
    virtual ~PrincipalDirectory() = default;
    struct Partition {
        std::string dn;          // domain naming context
        std::string netbiosName; // "CORP"
        std::string dnsRoot;     // "corp.example"
        std::string sid;         // domain SID text
    };
    // Domain partitions of the forest (empty on AD LDS and other servers).
    virtual std::vector<Partition> Partitions() = 0;
    // Default and configuration naming contexts of the bound server.
    virtual std::string DefaultNamingContext() = 0;
    virtual std::string ConfigurationNamingContext() = 0;
    // Subtree search under `base` with an LDAP filter; entries with their
    // SID and names.  An empty base with `baseOnly` reads the base object.
    // Returns the LDAP result code (0 on success) and, on failure, an error
    // text beginning "ERROR:".
    virtual int Search(std::string_view base, std::string_view filter, bool baseOnly,
                       std::vector<PrincipalEntry>& out, std::string& error) = 0;
};

// Name -> SID resolution with the run's caches.  One instance per run.
class NameToSid {
  public:
    explicit NameToSid(PrincipalDirectory& directory) : dir_(directory) {}

    // One name; cached, errors included ("ERROR: (1332) No mapping between
    // account names and security IDs was done.").
    [[nodiscard]] std::string NameToSIDStr(std::string_view name);
    // Many names: cache first, then one search per domain for all names still
    // open, then single lookups.  Fills every value with a SID or error text.
    void NamesToSIDStrs(std::map<std::string, std::string>& names);
    // AD LDS: "CONFIG\name", "<DN>\name" or "name" (default naming context).
    [[nodiscard]] std::string LDSNameToSIDStr(std::string_view spec);
    void LDSNamesToSIDStrs(std::map<std::string, std::string>& specs);

    // Replaces every "{{SID:name}}" and "{{LDSSID:spec}}" of the text by the
    // resolved SID text; an error text is put in place unchanged.  `errors`
    // receives the error texts met (for the caller to report).
    [[nodiscard]] std::string ResolveSidWrappers(std::string_view text,
                                                 std::vector<std::string>* errors = nullptr);

    // Directory searches made so far (the caches spare repeats).
    [[nodiscard]] std::size_t SearchCount() const { return searches_; }

  private:
    struct Outcome; // result of one resolution step
    int CountedSearch(std::string_view base, std::string_view filter, bool baseOnly,
                      std::vector<PrincipalEntry>& out, std::string& error);
    const std::vector<PrincipalDirectory::Partition>& KnownPartitions();
    const PrincipalDirectory::Partition* FindDomain(std::string_view domain);
    Outcome SearchTerm(std::string_view base, std::string_view attribute, std::string_view value);
    Outcome ResolveBare(std::string_view name);
    Outcome ResolveUpn(std::string_view name);
    std::string ResolveUncached(std::string_view name);
    void BulkResolve(const std::map<std::string, std::string>& keyToName,
                     std::map<std::string, std::string>& names);

    PrincipalDirectory& dir_;
    std::map<std::string, std::string> accountCache_; // upper-cased name -> SID/error
    std::map<std::string, std::string> ldsCache_;
    std::size_t searches_ = 0;
    std::optional<std::vector<PrincipalDirectory::Partition>> partitions_;
    // "<BASE>\n<attribute>=<VALUE>" of every equality term the directory has
    // answered -> the SID found ("" for no entry), so no name is asked twice.
    std::map<std::string, std::string> askedTerms_;
};

} // namespace pxsids
