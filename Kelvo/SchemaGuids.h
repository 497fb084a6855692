// Schema GUIDs and principal aliases for descriptor work.
//
// The built-in GUID table pairs the lower-cased lDAPDisplayName of every
// attribute and class of the published Active Directory schema (Windows
// Server 2016) with its schemaIDGUID, and the lower-cased display name of
// every extended right with its rightsGuid.  GUIDs are lower-case
// 8-4-4-4-12 text without braces.  The table is generated data
// (scripts/gen_schema_guids.py writes SchemaGuids.inc); lookups are binary
// searches.  Names read from the directory during a run go into a
// SchemaGuidCache, which the run owns.
//
// The principal alias table maps the SDDL aliases of domain and forest groups
// to the groups' display names.
#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace kelvo {

struct SchemaGuidPair {
    std::string_view name; // lower case
    std::string_view guid; // lower case, 8-4-4-4-12
};

// The built-in table sorted by name, each name once.
[[nodiscard]] std::span<const SchemaGuidPair> BuiltInSchemaGuidsByName();
// The same GUIDs sorted by GUID, each once; a GUID that several names share
// (a validated write or property set has its attribute's GUID) is named by
// its attribute or class.
[[nodiscard]] std::span<const SchemaGuidPair> BuiltInSchemaGuidsByGuid();

// The GUID of a built-in name, compared without regard to ASCII case.
[[nodiscard]] std::optional<std::string_view> FindBuiltInSchemaGuid(std::string_view name);
// The name that stands for a built-in GUID; the GUID may be in either case and
// inside braces.
[[nodiscard]] std::optional<std::string_view> FindBuiltInSchemaName(std::string_view guid);

// Name -> GUID lookups of one run: additions made during the run (names read
// from the directory) take precedence over the built-in table and, like the
// directory's values, replace what an earlier addition said.  It only grows.
class SchemaGuidCache {
  public:
    // The GUID for a name (any ASCII case).
    [[nodiscard]] std::optional<std::string> FindGuid(std::string_view name) const;
    // The name for a GUID (any case, braces allowed): a run-time name first.
    [[nodiscard]] std::optional<std::string> FindName(std::string_view guid) const;
    // Records name -> GUID; both are stored in lower case, GUID braces removed.
    void Add(std::string_view name, std::string_view guid);
    [[nodiscard]] std::size_t AddedCount() const { return byName_.size(); }

  private:
    std::map<std::string, std::string, std::less<>> byName_;
    std::map<std::string, std::string, std::less<>> byGuid_;
};

struct PrincipalAlias {
    std::string_view alias;     // two upper-case letters
    std::string_view groupName; // the group's display name
    bool forestLevel;           // the group lives in the forest root domain
};

// The 16 aliases; domain groups first, then the forest root groups.
[[nodiscard]] std::span<const PrincipalAlias> PrincipalAliases();
// The row of an alias, compared without regard to ASCII case.
[[nodiscard]] const PrincipalAlias* FindPrincipalAlias(std::string_view alias);
// The display name of the group an alias stands for.
[[nodiscard]] std::optional<std::string_view> PrincipalAliasGroupName(std::string_view alias);

} // namespace kelvo
