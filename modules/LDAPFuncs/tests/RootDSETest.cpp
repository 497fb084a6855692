#include "RootDSE.h"

#include <gtest/gtest.h>

#include <string>

namespace {

constexpr const char* k800 = "1.2.840.113556.1.4.800";
constexpr const char* k1670 = "1.2.840.113556.1.4.1670";
constexpr const char* k1791 = "1.2.840.113556.1.4.1791";
constexpr const char* k1851 = "1.2.840.113556.1.4.1851";
constexpr const char* k1920 = "1.2.840.113556.1.4.1920";
constexpr const char* k1935 = "1.2.840.113556.1.4.1935";
constexpr const char* k2080 = "1.2.840.113556.1.4.2080";
constexpr const char* k2237 = "1.2.840.113556.1.4.2237";
constexpr const char* k2330 = "1.2.840.113556.1.4.2330";

AttributeMap AdDs(std::string dsa, std::string level) {
    return {{"supportedCapabilities", {k800, k1670, k1791, k1935, k2080, k2237, k2330}},
            {"domainFunctionality", {level}},
            {"forestFunctionality", {level}},
            {"domainControllerFunctionality", {level}},
            {"dsaVersionString", {dsa}}};
}

struct TypeCase {
    const char* name;
    AttributeMap attrs;
    const char* type;
    const char* domainMode;
    const char* forestMode;
    const char* dcMode;
};

TEST(CRootDSE, ServerTypeDetection) {
    const TypeCase cases[] = {
        {"2022 DC", AdDs("10.0.20348.1 (WinBuild.160101.0800)", "7"),
         "Windows Server 2022 (10.0.20348.1)", "Windows Server 2016 Domain Mode",
         "Windows Server 2016 Forest Mode", "Windows Server 2016 Functional Mode"},
        {"2019 DC", AdDs("10.0.17763.1 (WinBuild.160101.0800)", "7"),
         "Windows Server 2019 (10.0.17763.1)", "Windows Server 2016 Domain Mode",
         "Windows Server 2016 Forest Mode", "Windows Server 2016 Functional Mode"},
        {"2019 family, no version", AdDs("", "7"), "Windows Server 2019",
         "Windows Server 2016 Domain Mode", "Windows Server 2016 Forest Mode",
         "Windows Server 2016 Functional Mode"},
        {"build above 20333 needs major above 9", AdDs("9.0.20348.1", "7"),
         "Windows Server 2019 (9.0.20348.1)", "Windows Server 2016 Domain Mode",
         "Windows Server 2016 Forest Mode", "Windows Server 2016 Functional Mode"},
        {"AD LDS 2016",
         {{"supportedCapabilities", {k1670, k1791, k1851, k1935, k2080, k2237}},
          {"forestFunctionality", {"7"}},
          {"domainControllerFunctionality", {"7"}}},
         "Windows Server 2016 ADLDS",
         "Windows Server 2016 Domain Mode",
         "Windows Server 2016 Forest Mode",
         "Windows Server 2016 Functional Mode"},
        {"2012 R2 by DC level 6",
         {{"supportedCapabilities", {k800, k1670, k1791, k1935, k2080, k2237}},
          {"domainFunctionality", {"6"}},
          {"forestFunctionality", {"5"}},
          {"domainControllerFunctionality", {"6"}}},
         "Windows Server 2012 R2",
         "Windows Server 2012 R2 Domain Mode",
         "Windows Server 2012 Forest Mode",
         "Windows Server 2012 R2 Functional Mode"},
        {"2012 at DC level 5",
         {{"supportedCapabilities", {k800, k1670, k1791, k1935, k2080, k2237}},
          {"domainControllerFunctionality", {"5"}}},
         "Windows Server 2012",
         "Windows 2000 Domain Mode",
         "Windows 2000 Forest Mode",
         "Windows Server 2012 Functional Mode"},
        {"DC level above 7",
         {{"supportedCapabilities", {k800, k1670, k1791, k1935, k2080, k2237}},
          {"domainFunctionality", {"10"}},
          {"forestFunctionality", {"-1"}},
          {"domainControllerFunctionality", {"10"}}},
         "Windows Server 2016",
         "Windows Server v.Next Domain Mode",
         "Windows Server v.Next Forest Mode",
         "Windows Server v.Next Functional Mode"},
        {"2008 R2 (as Samba reports)",
         {{"supportedCapabilities", {k800, k1670, k1791, k1935, k2080}},
          {"domainFunctionality", {"4"}},
          {"forestFunctionality", {"4"}},
          {"domainControllerFunctionality", {"4"}}},
         "Windows Server 2008 R2",
         "Windows Server 2008 R2 Domain Mode",
         "Windows Server 2008 R2 Forest Mode",
         "Windows Windows Server 2008 R2 Functional Mode"},
        {"2003",
         {{"supportedCapabilities", {k800, k1670, k1791}}, {"domainFunctionality", {"1"}}},
         "Windows Server 2003",
         "Windows Server 2003 Interim Domain Mode",
         "Windows 2000 Forest Mode",
         "Windows 2000 Functional Mode"},
        {"ADAM on 2003",
         {{"supportedCapabilities", {k1670, k1791, k1851}}},
         "Windows Server 2003 Active Directory Application Mode",
         "Windows 2000 Domain Mode",
         "Windows 2000 Forest Mode",
         "Windows 2000 Functional Mode"},
        {"2000: no mode texts",
         {{"supportedCapabilities", {k800, k1791}}},
         "Windows 2000",
         "",
         "",
         ""},
        {"ADAM without 2003",
         {{"supportedCapabilities", {k1791, k1851}}},
         "Active Directory Application Mode",
         "",
         "",
         ""},
        {"unknown Windows",
         {{"supportedCapabilities", {k1791}}},
         "Unknown Windows LDAP",
         "",
         "",
         ""},
        {"Windows OIDs without the integration capability",
         {{"supportedCapabilities", {k800, k1670}}},
         "Unknown Non-Windows LDAP",
         "",
         "",
         ""},
        {"OpenLDAP", {{"structuralObjectClass", {"OpenLDAProotDSE"}}}, "OpenLDAP", "", "", ""},
        {"OpenLDAP class needs exact case",
         {{"structuralObjectClass", {"openldaprootdse"}}},
         "Unknown Non-Windows LDAP",
         "",
         "",
         ""},
        {"vendor name and version",
         {{"vendorName", {"Acme Directory"}},
          {"vendorVersion", {"9.1"}},
          {"structuralObjectClass", {"OpenLDAProotDSE"}}},
         "Acme Directory - 9.1",
         "",
         "",
         ""},
        {"vendor name only", {{"vendorName", {"Acme Directory"}}}, "Acme Directory", "", "", ""},
        {"nothing", {}, "Unknown Non-Windows LDAP", "", "", ""},
    };
    for (const auto& c : cases) {
        CRootDSE r;
        r.LoadFromAttributes(c.attrs);
        EXPECT_TRUE(r.IsLoaded()) << c.name;
        EXPECT_EQ(r.ServerType(), c.type) << c.name;
        EXPECT_EQ(r.DomainMode(), c.domainMode) << c.name;
        EXPECT_EQ(r.ForestMode(), c.forestMode) << c.name;
        EXPECT_EQ(r.DCMode(), c.dcMode) << c.name;
    }
}

TEST(CRootDSE, Flags) {
    CRootDSE dc;
    AttributeMap attrs = AdDs("10.0.20348.1", "7");
    attrs["supportedCapabilities"].push_back(k1920);
    attrs["supportedControl"] = {"1.2.840.113556.1.4.319", "1.2.840.113556.1.4.417"};
    attrs["isGlobalCatalogReady"] = {"TRUE"};
    dc.LoadFromAttributes(attrs);
    EXPECT_TRUE(dc.IsWindowsLDAP());
    EXPECT_FALSE(dc.IsOpenLDAP());
    EXPECT_FALSE(dc.IsADLDS());
    EXPECT_TRUE(dc.IsRODC());
    EXPECT_TRUE(dc.IsGCReady());
    EXPECT_TRUE(dc.SupportsPagedResults());
    EXPECT_TRUE(dc.HasControl("1.2.840.113556.1.4.417"));
    EXPECT_FALSE(dc.HasControl("1.2.840.113556.1.4.2065"));
    EXPECT_TRUE(dc.IsWin2012R2() && dc.IsWin2016() && dc.IsWin2019() && dc.IsWin2022());
    EXPECT_EQ(dc.DCFunctionality(), 7);

    CRootDSE other;
    other.LoadFromAttributes({{"isGlobalCatalogReady", {"true"}}});
    EXPECT_FALSE(other.IsGCReady()); // only the exact text "TRUE"
    EXPECT_FALSE(other.SupportsPagedResults());
    EXPECT_FALSE(other.IsWindowsLDAP());
}

TEST(CRootDSE, AdLdsFallbacksAndNames) {
    CRootDSE lds;
    lds.LoadFromAttributes({
        {"supportedCapabilities", {k1670, k1791, k1851, k1935, k2080, k2237}},
        {"forestFunctionality", {"7"}},
        {"domainFunctionality", {"0"}},
        {"domainControllerFunctionality", {"7"}},
        {"configurationNamingContext", {"CN=Configuration,CN={A1B2}"}},
        {"schemaNamingContext", {"CN=Schema,CN=Configuration,CN={A1B2}"}},
        {"namingContexts",
         {"CN=Configuration,CN={A1B2}", "CN=Schema,CN=Configuration,CN={A1B2}", "O=App,C=US"}},
        {"serverName",
         {"CN=HOST1$inst1,CN=Servers,CN=Default-First-Site-Name,CN=Sites,"
          "CN=Configuration,CN={A1B2}"}},
    });
    EXPECT_TRUE(lds.IsADLDS());
    EXPECT_EQ(lds.DomainFunctionality(), 7);
    EXPECT_EQ(lds.DefaultNC(), "O=App,C=US");
    EXPECT_EQ(lds.RootDomainNC(), "O=App,C=US");
    EXPECT_EQ(lds.InstanceName(), "inst1");
    EXPECT_EQ(lds.ConfigId(), "{A1B2}");
    EXPECT_EQ(lds.NamingContextCount(), 3u);

    // The fallback needs exactly three naming contexts and no default.
    CRootDSE four;
    four.LoadFromAttributes(
        {{"supportedCapabilities", {k1791, k1851}}, {"namingContexts", {"a", "b", "c", "d"}}});
    EXPECT_EQ(four.DefaultNC(), "");
    CRootDSE given;
    given.LoadFromAttributes({{"supportedCapabilities", {k1791, k1851}},
                              {"defaultNamingContext", {"O=Given"}},
                              {"namingContexts", {"a", "b", "c"}}});
    EXPECT_EQ(given.DefaultNC(), "O=Given");
    EXPECT_EQ(given.RootDomainNC(), "");
}

TEST(CRootDSE, DerivedTexts) {
    CRootDSE r;
    r.LoadFromAttributes({
        {"DSSERVICENAME",
         {"CN=NTDS Settings,CN=DC1,CN=Servers,CN=Hub,CN=Sites,CN=Configuration,DC=x"}},
        {"dnsHostName", {"dc1.corp.example", "ignored.second.value"}},
        {"msDS-PortLDAP", {"389"}},
        {"msDS-PortSSL", {"636"}},
        {"configurationNamingContext", {"CN=Configuration,DC=x"}},
        {"configContext", {"cn=config"}},
        {"defaultNamingContext", {"DC=x"}},
    });
    EXPECT_EQ(r.SiteName(), "Hub");
    EXPECT_EQ(r.DnsHostName(), "dc1.corp.example");
    EXPECT_EQ(r.LdapUrl(), "LDAP://dc1.corp.example:389");
    EXPECT_EQ(r.LdapsUrl(), "LDAPS://dc1.corp.example:636");
    EXPECT_EQ(r.ConfigNC(), "cn=config");
    EXPECT_EQ(r.DefaultNC(), "DC=x");
    EXPECT_EQ(r.FirstValue("DEFAULTNAMINGCONTEXT"), "DC=x");
    EXPECT_EQ(r.Values("dnshostname").size(), 2u);

    const struct {
        const char* dsa;
        const char* site;
    } sites[] = {
        {"CN=NTDS Settings,CN=DC1,CN=Servers,CN=Default-First-Site-Name,CN=Sites,"
         "CN=Configuration,DC=lab,DC=example",
         "Default-First-Site-Name"},
        {"CN=NTDS Settings,CN=DC1,CN=Sites,CN=Configuration,DC=x", ""},
        {"CN=NTDS Settings,CN=DC1,CN=Servers,CN=Hub", ""},
    };
    for (const auto& s : sites) {
        CRootDSE x;
        x.LoadFromAttributes({{"dsServiceName", {s.dsa}}});
        EXPECT_EQ(x.SiteName(), s.site) << s.dsa;
    }

    CRootDSE noHost;
    noHost.LoadFromAttributes({{"msDS-PortLDAP", {"389"}}});
    EXPECT_EQ(noHost.LdapUrl(), "");
}

TEST(CRootDSE, NotLoadedWithoutSession) {
    CRootDSE r(nullptr);
    EXPECT_FALSE(r.IsLoaded());
    EXPECT_EQ(r.ServerType(), "");
    EXPECT_EQ(r.DomainFunctionality(), 0);
}

} // namespace
