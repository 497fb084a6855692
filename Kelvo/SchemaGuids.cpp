#include "SchemaGuids.h"

#include "pellixstrings.h"

#include <algorithm>
#include <array>

namespace kelvo {
namespace {

#include "SchemaGuids.inc"

constexpr bool SortedUnique(std::span<const SchemaGuidPair> table, bool byGuid) {
    for (std::size_t i = 1; i < table.size(); ++i) {
        const auto prev = byGuid ? table[i - 1].guid : table[i - 1].name;
        const auto cur = byGuid ? table[i].guid : table[i].name;
        if (!(prev < cur)) return false;
    }
    return true;
}
static_assert(SortedUnique(kSchemaGuidsByName, false), "names must be sorted and unique");
static_assert(SortedUnique(kSchemaGuidsByGuid, true), "GUIDs must be sorted and unique");

// Order: the groups of the object's own domain, then the forest-level ones
// (",EA,SA,ED,RO,EK,"), whose groups live in the forest root domain.
constexpr std::array<PrincipalAlias, 16> kPrincipalAliases = {{
    {"DA", "Domain Admins", false},
    {"DG", "Domain Guests", false},
    {"DU", "Domain Users", false},
    {"DD", "Domain Controllers", false},
    {"DC", "Domain Computers", false},
    {"CA", "Certificate Publishers", false},
    {"RS", "RAS and IAS Servers", false},
    {"PA", "Group Policy Creator Owners", false},
    {"CN", "Cloneable Domain Controllers", false},
    {"AP", "Protected Users", false},
    {"KA", "Key Admins", false},
    {"EA", "Enterprise Admins", true},
    {"SA", "Schema Admins", true},
    {"ED", "Enterprise Domain Controllers", true},
    {"RO", "Enterprise Read-Only Domain Controllers", true},
    {"EK", "Enterprise Key Admins", true},
}};

// Lower case without the braces of "{guid}".
std::string GuidKey(std::string_view guid) {
    if (guid.size() >= 2 && guid.front() == '{' && guid.back() == '}')
        guid = guid.substr(1, guid.size() - 2);
    return StrToLower(guid);
}

std::optional<std::string_view> Search(std::span<const SchemaGuidPair> table, std::string_view key,
                                       bool byGuid) {
    const auto it = std::lower_bound(table.begin(), table.end(), key,
                                     [byGuid](const SchemaGuidPair& p, std::string_view k) {
                                         return (byGuid ? p.guid : p.name) < k;
                                     });
    if (it == table.end()) return std::nullopt;
    if (byGuid) return it->guid == key ? std::optional(it->name) : std::nullopt;
    return it->name == key ? std::optional(it->guid) : std::nullopt;
}

} // namespace

std::span<const SchemaGuidPair> BuiltInSchemaGuidsByName() {
    return kSchemaGuidsByName;
}

std::span<const SchemaGuidPair> BuiltInSchemaGuidsByGuid() {
    return kSchemaGuidsByGuid;
}

std::optional<std::string_view> FindBuiltInSchemaGuid(std::string_view name) {
    return Search(kSchemaGuidsByName, StrToLower(name), false);
}

std::optional<std::string_view> FindBuiltInSchemaName(std::string_view guid) {
    return Search(kSchemaGuidsByGuid, GuidKey(guid), true);
}

std::optional<std::string> SchemaGuidCache::FindGuid(std::string_view name) const {
    const std::string key = StrToLower(name);
    if (const auto it = byName_.find(key); it != byName_.end()) return it->second;
    if (const auto hit = Search(kSchemaGuidsByName, key, false)) return std::string(*hit);
    return std::nullopt;
}

std::optional<std::string> SchemaGuidCache::FindName(std::string_view guid) const {
    const std::string key = GuidKey(guid);
    if (const auto it = byGuid_.find(key); it != byGuid_.end()) return it->second;
    if (const auto hit = Search(kSchemaGuidsByGuid, key, true)) return std::string(*hit);
    return std::nullopt;
}

void SchemaGuidCache::Add(std::string_view name, std::string_view guid) {
    std::string key = StrToLower(name);
    std::string value = GuidKey(guid);
    if (const auto old = byName_.find(key); old != byName_.end()) {
        // The old GUID no longer names this entry.
        if (const auto rev = byGuid_.find(old->second); rev != byGuid_.end() && rev->second == key)
            byGuid_.erase(rev);
    }
    byGuid_.try_emplace(value, key);
    byName_.insert_or_assign(std::move(key), std::move(value));
}

std::span<const PrincipalAlias> PrincipalAliases() {
    return kPrincipalAliases;
}

const PrincipalAlias* FindPrincipalAlias(std::string_view alias) {
    for (const PrincipalAlias& row : kPrincipalAliases)
        if (IEquals(row.alias, alias)) return &row;
    return nullptr;
}

std::optional<std::string_view> PrincipalAliasGroupName(std::string_view alias) {
    if (const PrincipalAlias* row = FindPrincipalAlias(alias)) return row->groupName;
    return std::nullopt;
}

} // namespace kelvo
