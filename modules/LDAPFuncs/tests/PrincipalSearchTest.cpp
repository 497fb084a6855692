#include "PrincipalSearch.h"

#include "LdapPtr.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

DomainPartitionMap Forest() {
    DomainPartitionMap map;
    const DomainPartitionInfo lab{"S-1-5-21-1-2-3", "lab.example", "DC=lab,DC=example", "LAB"};
    const DomainPartitionInfo child{"S-1-5-21-4-5-6", "child.lab.example",
                                    "DC=child,DC=lab,DC=example", "CHILD"};
    map["dc=lab,dc=example"] = lab;
    map["dc=child,dc=lab,dc=example"] = child;
    map["DEFAULT"] = lab;
    map["ROOT"] = lab;
    return map;
}

CRootDSE Root() {
    CRootDSE root;
    root.LoadFromAttributes(
        {{"defaultNamingContext", {"DC=lab,DC=example"}},
         {"configurationNamingContext", {"CN=Configuration,DC=lab,DC=example"}}});
    return root;
}

TEST(PrincipalSearch, PartitionsAreListedOnceEach) {
    const auto parts = ToPrincipalPartitions(Forest());
    ASSERT_EQ(parts.size(), 2u);
    for (const auto& p : parts) {
        EXPECT_FALSE(p.dn.empty());
        EXPECT_TRUE(p.sid.starts_with("S-1-5-21-")) << p.dn;
        EXPECT_TRUE(p.netbiosName == "LAB" || p.netbiosName == "CHILD") << p.netbiosName;
    }
    EXPECT_NE(parts[0].dn, parts[1].dn);

    DomainPartitionMap odd = Forest();
    odd["dc=broken"] = DomainPartitionInfo{}; // no DN: not a usable partition
    EXPECT_EQ(ToPrincipalPartitions(odd).size(), 2u);
    EXPECT_TRUE(ToPrincipalPartitions({}).empty());
}

TEST(PrincipalSearch, DirectoryReportsTheBoundServersContexts) {
    LdapPrincipalDirectory dir(nullptr, Root(), Forest());
    EXPECT_EQ(dir.DefaultNamingContext(), "DC=lab,DC=example");
    EXPECT_EQ(dir.ConfigurationNamingContext(), "CN=Configuration,DC=lab,DC=example");
    EXPECT_EQ(dir.Partitions().size(), 2u);
}

TEST(PrincipalSearch, FailuresComeBackAsCodesAndErrorTexts) {
    std::vector<pxsids::PrincipalEntry> out;
    std::string error;
    LdapPrincipalDirectory none(nullptr, Root(), Forest());
    EXPECT_NE(none.Search("DC=lab,DC=example", "(sAMAccountName=x)", false, out, error), 0);
    EXPECT_TRUE(error.starts_with("ERROR: (")) << error;
    EXPECT_TRUE(out.empty());

    // A server that is not there: the failure is returned, nothing is thrown.
    LDAP* raw = nullptr;
    ASSERT_EQ(ldap_initialize(&raw, "ldap://127.0.0.1:1"), LDAP_SUCCESS);
    LdapHandle session(raw);
    int version = LDAP_VERSION3;
    ldap_set_option(raw, LDAP_OPT_PROTOCOL_VERSION, &version);
    timeval timeout{2, 0};
    ldap_set_option(raw, LDAP_OPT_NETWORK_TIMEOUT, &timeout);
    LdapPrincipalDirectory down(raw, Root(), Forest());
    error.clear();
    const int rc = down.Search("DC=lab,DC=example", "(sAMAccountName=x)", false, out, error);
    EXPECT_EQ(rc, 0x51); // server down, as shown
    EXPECT_TRUE(error.starts_with("ERROR: (81) ")) << error;
    EXPECT_TRUE(out.empty());
}

} // namespace
