#include "InFlightOrder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

Request Of(RequestKind kind, const std::string& dn) {
    Request r;
    r.kind = kind;
    r.dn = dn;
    return r;
}

Request Rename(const std::string& dn, const std::string& rdn, const std::string& parent = "") {
    Request r = Of(RequestKind::Rename, dn);
    r.newRDN = rdn;
    r.newParent = parent;
    return r;
}

TEST(InFlightOrder, DnPathComparesValuesWhateverTheSpellingOfTypesEscapesAndSpaces) {
    using Path = std::vector<std::string>;
    EXPECT_EQ(DnPath("CN=Alice Smith,OU=Staff,DC=t"), (Path{"t", "staff", "alice smith"}));
    EXPECT_EQ(DnPath("cn = alice smith , ou=STAFF ,dc=T"), (Path{"t", "staff", "alice smith"}));
    EXPECT_EQ(DnPath("commonName=x,2.5.4.11=y"), DnPath("CN=X,OU=Y"));
    // An escaped comma is part of the value; hex and backslash escapes are one.
    EXPECT_EQ(DnPath("CN=Smith\\, Al,DC=t"), (Path{"t", "smith, al"}));
    EXPECT_EQ(DnPath("CN=Smith\\2C Al,DC=t"), DnPath("CN=Smith\\, Al,DC=t"));
    // Multi-valued RDNs keep both values.
    EXPECT_EQ(DnPath("cn=a+sn=b,dc=t"), (Path{"t", "a+b"}));
    // An equals sign inside a value stays in it.
    EXPECT_EQ(DnPath("CN=a=b,DC=t"), (Path{"t", "a=b"}));
    EXPECT_TRUE(DnPath("").empty());
    EXPECT_TRUE(DnPath("<GUID=0123456789abcdef0123456789abcdef>").empty());
}

TEST(InFlightOrder, RequestsOnTheSameObjectOrItsAncestorsOverlap) {
    struct Case {
        const char* why;
        Request first;
        Request second;
        bool overlap;
    };
    const std::vector<Case> cases = {
        {"same object", Of(RequestKind::Modify, "CN=a,OU=x,DC=t"),
         Of(RequestKind::Modify, "cn=A,ou=X,dc=t"), true},
        {"parent's add, then the child's", Of(RequestKind::Add, "OU=x,DC=t"),
         Of(RequestKind::Add, "CN=a,OU=x,DC=t"), true},
        {"child's delete, then the parent's", Of(RequestKind::Delete, "CN=a,OU=x,DC=t"),
         Of(RequestKind::Delete, "OU=x,DC=t"), true},
        {"siblings", Of(RequestKind::Modify, "CN=a,OU=x,DC=t"),
         Of(RequestKind::Modify, "CN=b,OU=x,DC=t"), false},
        {"a name that only starts the same", Of(RequestKind::Modify, "CN=a,OU=x,DC=t"),
         Of(RequestKind::Modify, "CN=a,OU=xy,DC=t"), false},
        {"rename, then a change under the new name", Rename("CN=a,OU=x,DC=t", "CN=b"),
         Of(RequestKind::Modify, "CN=b,OU=x,DC=t"), true},
        {"move, then a change in the new place", Rename("CN=a,OU=x,DC=t", "CN=a", "OU=y,DC=t"),
         Of(RequestKind::Modify, "CN=a,OU=y,DC=t"), true},
        {"move into an OU that is being added", Of(RequestKind::Add, "OU=y,DC=t"),
         Rename("CN=a,OU=x,DC=t", "CN=a", "OU=y,DC=t"), true},
        {"rename of an object elsewhere", Rename("CN=a,OU=x,DC=t", "CN=b"),
         Of(RequestKind::Modify, "CN=c,OU=x,DC=t"), false},
        {"a DN the text cannot place waits for everything",
         Of(RequestKind::Modify, "<GUID=00112233445566778899aabbccddeeff>"),
         Of(RequestKind::Modify, "CN=z,DC=other"), true},
        {"the root DSE", Of(RequestKind::Modify, ""), Of(RequestKind::Modify, "CN=z,DC=t"), true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Overlaps(ScopeOf(c.first), ScopeOf(c.second)), c.overlap) << c.why;
        EXPECT_EQ(Overlaps(ScopeOf(c.second), ScopeOf(c.first)), c.overlap) << c.why;
    }
}

TEST(InFlightOrder, AnUndeleteIsPlacedWhereItRestoresTheObject) {
    auto mods = std::make_shared<ModList>();
    mods->AddStrings(LDAP_MOD_DELETE, "isDeleted", {});
    mods->AddStrings(LDAP_MOD_REPLACE, "distinguishedName", {"CN=a,OU=x,DC=t"});
    Request undelete = Of(RequestKind::Modify, "CN=a\\0ADEL:1234,CN=Deleted Objects,DC=t");
    undelete.mods = mods;
    EXPECT_TRUE(Overlaps(ScopeOf(undelete), ScopeOf(Of(RequestKind::Modify, "CN=a,OU=x,DC=t"))));
    EXPECT_TRUE(Overlaps(ScopeOf(undelete), ScopeOf(Of(RequestKind::Add, "OU=x,DC=t"))));
    EXPECT_FALSE(Overlaps(ScopeOf(undelete), ScopeOf(Of(RequestKind::Add, "OU=y,DC=t"))));
}

} // namespace
