#include "SchemaGuids.h"

#include <gtest/gtest.h>

#include <cctype>
#include <set>
#include <string>
#include <string_view>

namespace {

using kelvo::BuiltInSchemaGuidsByGuid;
using kelvo::BuiltInSchemaGuidsByName;
using kelvo::FindBuiltInSchemaGuid;
using kelvo::FindBuiltInSchemaName;
using kelvo::FindPrincipalAlias;
using kelvo::PrincipalAliases;
using kelvo::PrincipalAliasGroupName;
using kelvo::SchemaGuidCache;

constexpr std::string_view kMember = "bf9679c0-0de6-11d0-a285-00aa003049e2";

bool IsGuidText(std::string_view g) {
    if (g.size() != 36) return false;
    for (std::size_t i = 0; i < g.size(); ++i) {
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash != (g[i] == '-')) return false;
        if (!dash && !std::isxdigit(static_cast<unsigned char>(g[i]))) return false;
        if (std::isupper(static_cast<unsigned char>(g[i]))) return false;
    }
    return true;
}

struct NameGuid {
    std::string_view name;
    std::string_view guid;
};

// Attributes, classes and extended rights of the published schema.
constexpr NameGuid kKnown[] = {
    {"accountexpires", "bf967915-0de6-11d0-a285-00aa003049e2"},
    {"member", kMember},
    {"accountnamehistory", "031952ec-3b72-11d2-90cc-00c04fd91ab1"},
    {"group", "bf967a9c-0de6-11d0-a285-00aa003049e2"},
    {"user", "bf967aba-0de6-11d0-a285-00aa003049e2"},
    {"computer", "bf967a86-0de6-11d0-a285-00aa003049e2"},
    {"serviceprincipalname", "f3a64788-5306-11d1-a9c5-0000f80367c1"},
    {"change rid master", "d58d5f36-0a98-11d1-adbb-00c04fd8d5cd"},
    {"autoenrollment", "a05b8cc2-17bc-4802-a710-e7c15ab866a2"},
    // Written in upper case in the source file.
    {"write secret attributes of objects in a partition", "94825a8d-b171-4116-8146-1e34d8f54401"},
};

TEST(SchemaGuids, KnownNamesHaveTheirGuids) {
    for (const auto& [name, guid] : kKnown) {
        const auto hit = FindBuiltInSchemaGuid(name);
        ASSERT_TRUE(hit.has_value()) << name;
        EXPECT_EQ(*hit, guid) << name;
    }
}

TEST(SchemaGuids, NameLookupIgnoresCase) {
    for (std::string_view name : {"MEMBER", "member", "Member", "mEmBeR"}) {
        const auto hit = FindBuiltInSchemaGuid(name);
        ASSERT_TRUE(hit.has_value()) << name;
        EXPECT_EQ(*hit, kMember) << name;
    }
    EXPECT_EQ(FindBuiltInSchemaGuid("Change RID Master"), "d58d5f36-0a98-11d1-adbb-00c04fd8d5cd");
}

TEST(SchemaGuids, UnknownNamesMiss) {
    for (std::string_view name : {"", "membe", "memberx", "member ", "zzzz", "0", "\x7f"})
        EXPECT_FALSE(FindBuiltInSchemaGuid(name).has_value()) << name;
}

TEST(SchemaGuids, ByNameIsSortedUniqueLowerCase) {
    const auto table = BuiltInSchemaGuidsByName();
    ASSERT_GT(table.size(), 1800u);
    for (std::size_t i = 0; i < table.size(); ++i) {
        const auto& e = table[i];
        EXPECT_TRUE(IsGuidText(e.guid)) << e.name << " " << e.guid;
        EXPECT_FALSE(e.name.empty());
        for (char c : e.name)
            EXPECT_FALSE(std::isupper(static_cast<unsigned char>(c))) << e.name;
        if (i > 0) {
            EXPECT_LT(table[i - 1].name, e.name) << "order at " << e.name;
        }
    }
}

TEST(SchemaGuids, ByGuidIsSortedUniqueAndMatchesByName) {
    const auto byGuid = BuiltInSchemaGuidsByGuid();
    const auto byName = BuiltInSchemaGuidsByName();
    std::set<std::string_view> guidsOfNames;
    for (const auto& e : byName)
        guidsOfNames.insert(e.guid);
    ASSERT_EQ(byGuid.size(), guidsOfNames.size());
    for (std::size_t i = 0; i < byGuid.size(); ++i) {
        const auto& e = byGuid[i];
        if (i > 0) {
            EXPECT_LT(byGuid[i - 1].guid, e.guid) << "order at " << e.guid;
        }
        // Every GUID row names an entry that maps back to it.
        EXPECT_EQ(FindBuiltInSchemaGuid(e.name), e.guid) << e.name;
    }
}

TEST(SchemaGuids, EveryEntryIsFoundByBothSearches) {
    for (const auto& e : BuiltInSchemaGuidsByName()) {
        ASSERT_EQ(FindBuiltInSchemaGuid(e.name), e.guid) << e.name;
        ASSERT_TRUE(FindBuiltInSchemaName(e.guid).has_value()) << e.guid;
    }
}

TEST(SchemaGuids, GuidToNamePrefersTheAttribute) {
    // "Self Membership" and "Validated SPN" share their attribute's GUID.
    EXPECT_EQ(FindBuiltInSchemaName(kMember), "member");
    EXPECT_EQ(FindBuiltInSchemaName("F3A64788-5306-11D1-A9C5-0000F80367C1"),
              "serviceprincipalname");
    EXPECT_EQ(FindBuiltInSchemaName("{bf967915-0de6-11d0-a285-00aa003049e2}"), "accountexpires");
    EXPECT_EQ(FindBuiltInSchemaName("d58d5f36-0a98-11d1-adbb-00c04fd8d5cd"), "change rid master");
    EXPECT_EQ(FindBuiltInSchemaName("00299570-246d-11d0-a768-00aa006e0529"),
              "user force change password");
    // The name Windows shows for that right finds it too, and is never printed.
    EXPECT_EQ(FindBuiltInSchemaGuid("Reset Password"), "00299570-246d-11d0-a768-00aa006e0529");
    EXPECT_EQ(FindBuiltInSchemaGuid("change password"), "ab721a53-1e2f-11d0-9819-00aa0040529b");
    EXPECT_FALSE(FindBuiltInSchemaName("00299570-246d-11d0-a768-00aa006e0528").has_value());
    EXPECT_FALSE(FindBuiltInSchemaName("").has_value());
    EXPECT_FALSE(FindBuiltInSchemaName("{}").has_value());
}

TEST(SchemaGuidCache, FallsBackToTheBuiltInTable) {
    const SchemaGuidCache cache;
    EXPECT_EQ(cache.FindGuid("Member"), std::string(kMember));
    EXPECT_EQ(cache.FindName(kMember), "member");
    EXPECT_FALSE(cache.FindGuid("contosoCustomAttr").has_value());
    EXPECT_EQ(cache.AddedCount(), 0u);
}

TEST(SchemaGuidCache, AdditionsAreFoundInAnyCase) {
    SchemaGuidCache cache;
    cache.Add("contosoCustomAttr", "{ABCDEF01-2345-6789-ABCD-EF0123456789}");
    EXPECT_EQ(cache.AddedCount(), 1u);
    EXPECT_EQ(cache.FindGuid("CONTOSOCUSTOMATTR"), "abcdef01-2345-6789-abcd-ef0123456789");
    EXPECT_EQ(cache.FindName("ABCDEF01-2345-6789-abcd-ef0123456789"), "contosocustomattr");
}

TEST(SchemaGuidCache, AdditionsOverrideBuiltInAndEarlierValues) {
    SchemaGuidCache cache;
    const std::string other = "11111111-2222-3333-4444-555555555555";
    cache.Add("Member", other);
    EXPECT_EQ(cache.FindGuid("member"), other);
    EXPECT_EQ(cache.FindName(other), "member");
    // The built-in table is untouched.
    EXPECT_EQ(FindBuiltInSchemaGuid("member"), kMember);

    const std::string third = "66666666-7777-8888-9999-000000000000";
    cache.Add("member", third);
    EXPECT_EQ(cache.AddedCount(), 1u);
    EXPECT_EQ(cache.FindGuid("MEMBER"), third);
    EXPECT_EQ(cache.FindName(third), "member");
    EXPECT_FALSE(cache.FindName(other).has_value());
}

TEST(SchemaGuidCache, CachesAreIndependent) {
    SchemaGuidCache a;
    const SchemaGuidCache b;
    a.Add("onlyina", "11111111-2222-3333-4444-555555555555");
    EXPECT_TRUE(a.FindGuid("onlyina").has_value());
    EXPECT_FALSE(b.FindGuid("onlyina").has_value());
}

TEST(PrincipalAliases, SixteenGroups) {
    struct Row {
        std::string_view alias;
        std::string_view group;
        bool forest;
    };
    constexpr Row kRows[] = {
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
    };
    ASSERT_EQ(PrincipalAliases().size(), std::size(kRows));
    std::set<std::string_view> seen;
    for (const auto& r : kRows) {
        const auto* row = FindPrincipalAlias(r.alias);
        ASSERT_NE(row, nullptr) << r.alias;
        EXPECT_EQ(row->groupName, r.group);
        EXPECT_EQ(row->forestLevel, r.forest) << r.alias;
        EXPECT_EQ(PrincipalAliasGroupName(r.alias), r.group);
        seen.insert(row->alias);
    }
    EXPECT_EQ(seen.size(), std::size(kRows));
}

TEST(PrincipalAliases, CaseAndMisses) {
    EXPECT_EQ(PrincipalAliasGroupName("da"), "Domain Admins");
    EXPECT_EQ(PrincipalAliasGroupName("Ek"), "Enterprise Key Admins");
    // Well-known aliases that are not domain or forest groups.
    for (std::string_view alias : {"WD", "AO", "BA", "SY", "", "D", "DAX"}) {
        EXPECT_EQ(FindPrincipalAlias(alias), nullptr) << alias;
        EXPECT_FALSE(PrincipalAliasGroupName(alias).has_value()) << alias;
    }
}

} // namespace
