#include "DNUtils.h"

#include <ldap.h>

#include "CaptureOutput.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <string>
#include <vector>

namespace {

using Map = DNBreakoutMap;

Map Expect(std::initializer_list<std::pair<const std::string, std::string>> set) {
    Map m;
    for (auto key : kDNBreakoutKeys)
        m[std::string(key)] = "";
    for (const auto& [k, v] : set)
        m[k] = v;
    return m;
}

TEST(DNBreakout, Table) {
    const Map ann = Expect({{"DN", "CN=Ann,OU=Staff,DC=corp,DC=example"},
                            {"RDN", "CN=Ann"},
                            {"PARENTRDN", "OU=Staff"},
                            {"PARENT", "OU=Staff,DC=corp,DC=example"},
                            {"GRANDPARENT", "DC=corp,DC=example"},
                            {"DOMAIN", "DC=corp,DC=example"},
                            {"DOMAIN_DNS", "corp.example"},
                            {"NDC", "CN=Ann,OU=Staff"},
                            {"NAME", "Ann"},
                            {"EXPLODED_DN", "CN=Ann;OU=Staff;DC=corp;DC=example"},
                            {"CANONICAL_NAME", "corp.example/Staff/Ann"},
                            {"PARENT_CANONICAL_NAME", "corp.example/Staff"}});
    const struct {
        const char* dn;
        Map expected;
    } cases[] = {
        {"CN=Ann,OU=Staff,DC=corp,DC=example", ann},
        {"<GUID=0123456789abcdef0123456789abcdef>;<SID=010500000000000515000000a1b2c3d4>;"
         "CN=Ann,OU=Staff,DC=corp,DC=example",
         ann},
        {"DC=example", Expect({{"DN", "DC=example"},
                               {"RDN", "DC=example"},
                               {"DOMAIN", "DC=example"},
                               {"DOMAIN_DNS", "example"},
                               {"NDC", "DC=example"},
                               {"NAME", "example"},
                               {"EXPLODED_DN", "DC=example"},
                               {"CANONICAL_NAME", "example/"},
                               {"PARENT_CANONICAL_NAME", "example"}})},
        // Escapes stay as written, so the parts can be found in the DN text.
        {"CN=Smith\\, John,OU=Staff,O=Org",
         Expect({{"DN", "CN=Smith\\, John,OU=Staff,O=Org"},
                 {"RDN", "CN=Smith\\, John"},
                 {"PARENTRDN", "OU=Staff"},
                 {"PARENT", "OU=Staff,O=Org"},
                 {"GRANDPARENT", "O=Org"},
                 {"NDC", "CN=Smith\\, John,OU=Staff,O=Org"},
                 {"NAME", "Smith\\, John"},
                 {"EXPLODED_DN", "CN=Smith\\, John;OU=Staff;O=Org"},
                 {"CANONICAL_NAME", "/Org/Staff/Smith\\, John"},
                 {"PARENT_CANONICAL_NAME", "/Org/Staff"}})},
        {"CN=Ann\\0ADEL:5d7c,CN=Deleted Objects,DC=x",
         Expect({{"DN", "CN=Ann\\0ADEL:5d7c,CN=Deleted Objects,DC=x"},
                 {"RDN", "CN=Ann\\0ADEL:5d7c"},
                 {"PARENTRDN", "CN=Deleted Objects"},
                 {"PARENT", "CN=Deleted Objects,DC=x"},
                 {"GRANDPARENT", "DC=x"},
                 {"DOMAIN", "DC=x"},
                 {"DOMAIN_DNS", "x"},
                 {"NDC", "CN=Ann\\0ADEL:5d7c,CN=Deleted Objects"},
                 {"NAME", "Ann\\0ADEL:5d7c"},
                 {"EXPLODED_DN", "CN=Ann\\0ADEL:5d7c;CN=Deleted Objects;DC=x"},
                 {"CANONICAL_NAME", "x/Deleted Objects/Ann\\0ADEL:5d7c"},
                 {"PARENT_CANONICAL_NAME", "x/Deleted Objects"}})},
        // PARENT is found without regard to case.
        {"cn=a,CN=B,dc=X", Expect({{"DN", "cn=a,CN=B,dc=X"},
                                   {"RDN", "cn=a"},
                                   {"PARENTRDN", "CN=B"},
                                   {"PARENT", "CN=B,dc=X"},
                                   {"GRANDPARENT", "dc=X"},
                                   {"DOMAIN", "dc=X"},
                                   {"DOMAIN_DNS", "x"},
                                   {"NDC", "cn=a,CN=B"},
                                   {"NAME", "a"},
                                   {"EXPLODED_DN", "cn=a;CN=B;dc=X"},
                                   {"CANONICAL_NAME", "X/B/a"},
                                   {"PARENT_CANONICAL_NAME", "X/B"}})},
        {"", Expect({})},
    };
    for (const auto& c : cases) {
        Map m = {{"STALE", "x"}, {"DN", "old"}};
        EXPECT_EQ(DNBreakout(c.dn, false, m), 0) << c.dn;
        m.erase("STALE");
        EXPECT_EQ(m, c.expected) << c.dn;
    }
}

TEST(DNBreakout, TypeFreeComponents) {
    Map m;
    ASSERT_EQ(DNBreakout("CN=Ann,OU=Staff,DC=x", true, m), 0);
    EXPECT_EQ(m["EXPLODED_DN"], "Ann;Staff;x");
}

TEST(DNBreakout, UnsplittableDnIsReportedAndEndsTheRun) {
    for (const char* dn : {"not a dn", "CN=a,,DC=x", "<GUID=1>CN=a"}) {
        CaptureOutput cap;
        Map m;
        EXPECT_EQ(DNBreakout(dn, false, m), kExitDnExplodeFailure) << dn;
        EXPECT_EQ(cap.out,
                  "ERROR:\nERROR: ldap_explode_dnA failed - " + std::string(dn) + "\nERROR:\n");
    }
}

TEST(DNBreakout, TraceLabels) {
    CaptureOutput cap(true, true);
    Map m;
    ASSERT_EQ(DNBreakout("CN=Ann,DC=x", false, m), 0);
    EXPECT_NE(cap.out.find("DEBUG: str=CN=Ann,DC=x\n"), std::string::npos);
    EXPECT_NE(cap.out.find("DEBUG: RDN        :CN=Ann\nDEBUG: PARENTDN   :\n"
                           "DEBUG: PARENT     :DC=x\n"),
              std::string::npos);
    EXPECT_NE(cap.out.find("DEBUG: PARENT_CANONICAL_NAME:x\n"), std::string::npos);
}

TEST(ConvertDNToDomain, Table) {
    const struct {
        const char* dn;
        const char* dns;
    } cases[] = {
        {"DC=Corp,DC=Example", "corp.example"},
        {"dc=a,dc=b,dc=c", "a.b.c"},
        {"DC=example", "example"},
        {"CN=x,DC=a", "***NotDomainDNFormat***"},
        {"OU=x,DC=a", ",ou=x.a"}, // only cn= is checked
        {"", ","},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ConvertDNToDomain(c.dn), c.dns) << c.dn;
}

TEST(SortDNs, Modes) {
    const std::vector<std::string> input = {"CN=a,OU=b,DC=x", "dc=x", "OU=b,DC=x", "OU=B-c,DC=x",
                                            "CN=Z,DC=x"};
    const struct {
        const char* mode;
        std::vector<std::string> expected;
    } cases[] = {
        // Keys compare as text: "ou=b-c" sorts before "ou=b//cn=a".
        {"", {"dc=x", "CN=Z,DC=x", "OU=b,DC=x", "OU=B-c,DC=x", "CN=a,OU=b,DC=x"}},
        {"hier", {"dc=x", "CN=Z,DC=x", "OU=b,DC=x", "OU=B-c,DC=x", "CN=a,OU=b,DC=x"}},
        {"Reverse", {"CN=a,OU=b,DC=x", "OU=B-c,DC=x", "OU=b,DC=x", "CN=Z,DC=x", "dc=x"}},
        {"cialpha", {"CN=a,OU=b,DC=x", "CN=Z,DC=x", "dc=x", "OU=b,DC=x", "OU=B-c,DC=x"}},
        {"CSALPHA", {"CN=Z,DC=x", "CN=a,OU=b,DC=x", "OU=B-c,DC=x", "OU=b,DC=x", "dc=x"}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> dns = input;
        EXPECT_TRUE(SortDNs(c.mode, dns));
        EXPECT_EQ(dns, c.expected) << c.mode;
    }
}

TEST(SortDNs, ParentsFirstWhateverTheInputOrder) {
    std::vector<std::string> base = {"DC=x", "OU=b,DC=x", "CN=a,OU=b,DC=x"};
    std::sort(base.begin(), base.end());
    do {
        std::vector<std::string> dns = base;
        SortDNs("", dns);
        EXPECT_EQ(dns, (std::vector<std::string>{"DC=x", "OU=b,DC=x", "CN=a,OU=b,DC=x"}));
        SortDNs("reverse", dns);
        EXPECT_EQ(dns, (std::vector<std::string>{"CN=a,OU=b,DC=x", "OU=b,DC=x", "DC=x"}));
    } while (std::next_permutation(base.begin(), base.end()));
}

TEST(SortDNs, DnTextSurvivesUnchanged) {
    std::vector<std::string> dns = {"CN=http://host/x,OU=Links,DC=x", "CN=Smith\\, John,OU=b,DC=x",
                                    "OU=b,DC=x", "OU=Links,DC=x"};
    const std::vector<std::string> expected = {"OU=b,DC=x", "CN=Smith\\, John,OU=b,DC=x",
                                               "OU=Links,DC=x", "CN=http://host/x,OU=Links,DC=x"};
    SortDNs("", dns);
    EXPECT_EQ(dns, expected);
}

TEST(SortDNs, TwoHundredThousandDnsQuickly) {
    std::vector<std::string> dns;
    dns.reserve(200000);
    std::mt19937 rng(7);
    for (int i = 0; i < 200000; ++i)
        dns.push_back("CN=user" + std::to_string(rng() % 100000) + ",OU=Dept" +
                      std::to_string(rng() % 50) + ",OU=Staff,DC=corp,DC=example");
    // Timed against a plain string sort of the same list on the same machine,
    // so that a loaded CI host slows both alike.
    auto plain = dns;
    const auto plainStart = std::chrono::steady_clock::now();
    std::sort(plain.begin(), plain.end());
    const auto plainElapsed = std::chrono::steady_clock::now() - plainStart;
    const auto start = std::chrono::steady_clock::now();
    SortDNs("", dns);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    for (std::size_t i = 1; i < dns.size(); i += 997) {
        const auto key = [](const std::string& dn) {
            const auto comma = dn.find(',');
            return dn.substr(comma + 1) + "," + dn.substr(0, comma);
        };
        EXPECT_LE(key(dns[i - 1]), key(dns[i]));
    }
    EXPECT_LT(elapsed, 8 * plainElapsed + std::chrono::milliseconds(200));
}

TEST(DNCheck, Table) {
    const struct {
        const char* dn;
        bool ok;
    } cases[] = {
        {"CN=a,DC=x", true},
        {"\"CN=a,DC=x\"", true},
        {"CN=a, OU=b ,DC=x", true},
        {"CN=a+SN=b,DC=x", true},
        {"CN=Smith\\, John,DC=x", true},
        {"CN=Jos\xC3\xA9,DC=x", true},
        {"CN=Ann\\0ADEL:5d7c,CN=Deleted Objects,DC=x", true},
        {"", true}, // the RootDSE
        {"\"\"", true},
        {"<GUID=0123456789abcdef0123456789abcdef>", true},
        {"<guid=0123>", true},
        {"<SID=S-1-5-21-1-2-3-500>", true},
        {"<WKGUID=a9d1ca15768811d1aded00c04fd8d5cd,DC=corp,DC=example>", true},
        {"<GUID=1>;<SID=2>;CN=a,DC=x", true},
        {"<GUID=1>;", true},
        {"<GUID=1>;CN=a,,DC=x", false},
        {"<FOO=1>", false},
        {"<GUID=1", false},
        {"<GUID=1>CN=a", false},
        {"CN=a,,DC=x", false},
        {"CN=a,foo", false},
        {"foo", false},
        {"CN=a,", false},
        {"CN=a;DC=x", false},
        {"=a", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DNCheck(c.dn), c.ok) << c.dn;
}

TEST(DNCheck, DebugLines) {
    CaptureOutput cap(true);
    EXPECT_TRUE(DNCheck("\"CN=a,DC=x\""));
    EXPECT_EQ(cap.out, "DEBUG:      DNCheck - DN=CN=a,DC=x\nDEBUG:        DNCheck - CN=a\n"
                       "DEBUG:        DNCheck - DC=x\n");
}

TEST(ExplodeDN, ComponentsAsWritten) {
    const struct {
        const char* dn;
        std::vector<std::string> comps;
    } cases[] = {
        {"CN=a\\,b, OU=c", {"CN=a\\,b", "OU=c"}},
        {"CN=Jos\xC3\xA9,DC=x", {"CN=Jos\xC3\xA9", "DC=x"}},
        {"CN=a\\2Cb,DC=x", {"CN=a\\2Cb", "DC=x"}},
        {"CN=a\\ ,DC=x", {"CN=a\\ ", "DC=x"}},
        {"<GUID=1>;<SID=2>;CN=a", {"<GUID=1>", "<SID=2>", "CN=a"}},
        {"", {}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> comps = {"stale"};
        EXPECT_TRUE(ExplodeDN(c.dn, comps)) << c.dn;
        EXPECT_EQ(comps, c.comps) << c.dn;
    }
}

TEST(DNDomainPart, Table) {
    EXPECT_EQ(DNDomainPart("CN=a,OU=b,DC=x,DC=y"), "DC=x,DC=y");
    EXPECT_EQ(DNDomainPart("cn=a,dc=x"), ""); // exact case
    EXPECT_EQ(DNDomainPart("CN=a,dc=x,DC=y"), "DC=y");
    EXPECT_EQ(DNDomainPart(""), "");
}

} // namespace

// The shortcut may only vouch for DNs the parser accepts too.
TEST(DNCheck, PlainDNShortcutAgreesWithParser) {
    const char* const cases[] = {
        "CN=User 0000001,OU=Dept01,DC=corp,DC=example",
        "cn=a,dc=x",
        "2.5.4.3=a,dc=x",
        "1..2=a",
        "2.5.=a",
        "cn=a b-c.d_e,o=x",
        "cn= a,dc=x",
        "cn=a ,dc=x",
        "cn=#a,dc=x",
        "cn=a,,dc=x",
        "cn=a,",
        ",cn=a",
        "=a",
        "cn=",
        "c-n=a",
        "-cn=a",
        "cn=a=b",
        "cn=a+sn=b",
        "cn=a\\,b,dc=x",
        "cn=caf\xC3\xA9,dc=x",
        "cn=a;b",
        "cn",
        "cn=a/b,dc=x",
        "cn=a!b@c$d%e^f&g*h(i)j[k]l{m}n|o~p`q?r'",
    };
    for (const char* dn : cases) {
        if (!IsPlainDN(dn)) continue;
        LDAPDN parsed = nullptr;
        EXPECT_EQ(ldap_str2dn(dn, &parsed, LDAP_DN_FORMAT_LDAPV3), LDAP_SUCCESS) << dn;
        ldap_dnfree(parsed);
    }
    EXPECT_TRUE(IsPlainDN("CN=User 0000001,OU=Dept01,DC=corp,DC=example"));
    EXPECT_TRUE(IsPlainDN("2.5.4.3=a,dc=x"));
    EXPECT_FALSE(IsPlainDN("cn=a\\,b,dc=x"));
    EXPECT_FALSE(IsPlainDN("<GUID=1234>"));
}
