#include "pxSIDS.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

namespace {

using pxsids::NameToSid;
using pxsids::PrincipalDirectory;
using pxsids::PrincipalEntry;

const std::string kNoneMapped(pxsids::kNoneMappedText);
const std::string kLabDn = "DC=lab,DC=example";
const std::string kChildDn = "DC=child,DC=lab,DC=example";
const std::string kConfigDn = "CN=Configuration,DC=lab,DC=example";
const std::string kLabSid = "S-1-5-21-1000-2000-3000";
const std::string kChildSid = "S-1-5-21-4000-5000-6000";

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

bool EndsWithI(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() &&
           Lower(text.substr(text.size() - suffix.size())) == Lower(suffix);
}

// Undoes the filter escapes; a stray backslash or parenthesis in a value
// shows up as a term that matches nothing or as a broken parse.
std::string Unescape(const std::string& v) {
    std::string out;
    for (std::size_t i = 0; i < v.size(); ++i) {
        if (v[i] == '\\' && i + 2 < v.size()) {
            out += static_cast<char>(std::stoi(v.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += v[i];
        }
    }
    return out;
}

// A small forest in memory: LAB (default) and CHILD, a configuration
// partition with the well-known principals, and an AD LDS-style O=Org tree.
// Records every search and understands the equality and OR filters the
// resolver sends.
class FakeDirectory : public PrincipalDirectory {
  public:
    struct Call {
        std::string base;
        std::string filter;
        bool baseOnly;
    };

    FakeDirectory() {
        Add("CN=Domain Admins,CN=Users," + kLabDn, kLabSid + "-512", "Domain Admins");
        Add("CN=John Smith,CN=Users," + kLabDn, kLabSid + "-1104", "jsmith", "jsmith@lab.example");
        Add("CN=Ann Lee,CN=Users," + kLabDn, kLabSid + "-1105", "alee", "ann@lab.example");
        Add("CN=Bob,CN=Users," + kChildDn, kChildSid + "-1106", "bob");
        Add("CN=Carol,CN=Users," + kChildDn, kChildSid + "-1107", "carol");
        Add("CN=Everyone,CN=WellKnown Security Principals," + kConfigDn, "S-1-1-0", "", "",
            "Everyone");
        Add("CN=App,O=Org", "S-1-5-21-7-8-9-1110", "", "", "App");
        Add("O=Org", "S-1-5-21-7-8-9-1000", "", "", "Org");
        Add("CN=Admins,CN=Roles," + kConfigDn, "S-1-5-21-7-8-9-512", "", "", "Admins");
    }

    void Add(std::string dn, std::string sid, std::string sam, std::string upn = "",
             std::string name = "") {
        entries.push_back(
            {std::move(dn), std::move(sid), std::move(sam), std::move(upn), std::move(name)});
    }

    std::vector<Partition> Partitions() override {
        return {{kLabDn, "LAB", "lab.example", kLabSid},
                {kChildDn, "CHILD", "child.lab.example", kChildSid}};
    }
    std::string DefaultNamingContext() override { return kLabDn; }
    std::string ConfigurationNamingContext() override { return kConfigDn; }

    int Search(std::string_view base, std::string_view filter, bool baseOnly,
               std::vector<PrincipalEntry>& out, std::string& error) override {
        calls.push_back({std::string(base), std::string(filter), baseOnly});
        if (failBase == base) {
            error = "ERROR: (1) Operations error";
            return 1;
        }
        if (missingBase == base) {
            error = "ERROR: (32) No such object";
            return 32;
        }
        const auto terms = Terms(std::string(filter));
        for (const auto& e : entries) {
            const bool inScope = baseOnly ? Lower(e.dn) == Lower(std::string(base))
                                          : EndsWithI(e.dn, std::string(base));
            // A child domain is its own naming context: the parent's subtree
            // search only refers to it, and referrals are not chased.
            const bool inChild =
                !EndsWithI(std::string(base), kChildDn) && EndsWithI(e.dn, kChildDn);
            if (!inScope || inChild) continue;
            for (const auto& [attr, value] : terms) {
                const std::string a = Lower(attr);
                const std::string* field = a == "samaccountname"      ? &e.sAMAccountName
                                           : a == "userprincipalname" ? &e.userPrincipalName
                                           : a == "name"              ? &e.name
                                                                      : nullptr;
                if ((a == "objectclass" && value == "*") ||
                    (field != nullptr && Lower(*field) == Lower(value))) {
                    out.push_back(e);
                    break;
                }
            }
        }
        return 0;
    }

    // (attribute, unescaped value) of every "(a=v)" in the filter.
    static std::vector<std::pair<std::string, std::string>> Terms(const std::string& filter) {
        std::vector<std::pair<std::string, std::string>> terms;
        std::size_t at = 0;
        while ((at = filter.find('(', at)) != std::string::npos) {
            const std::size_t close = filter.find(')', at);
            const std::string inner = filter.substr(at + 1, close - at - 1);
            const std::size_t eq = inner.find('=');
            if (eq != std::string::npos && inner.find('(') == std::string::npos)
                terms.emplace_back(inner.substr(0, eq), inner.substr(eq + 1) == "*"
                                                            ? "*"
                                                            : Unescape(inner.substr(eq + 1)));
            ++at;
        }
        return terms;
    }

    std::size_t CallsUnder(const std::string& base) const {
        return static_cast<std::size_t>(std::count_if(
            calls.begin(), calls.end(), [&](const Call& c) { return c.base == base; }));
    }

    std::vector<PrincipalEntry> entries;
    std::vector<Call> calls;
    std::string failBase;
    std::string missingBase;
};

class NameToSidTest : public ::testing::Test {
  protected:
    FakeDirectory dir;
    NameToSid resolver{dir};
};

// --- Single names ---------------------------------------------------------------

TEST_F(NameToSidTest, WellKnownAndBuiltinNames) {
    EXPECT_EQ(resolver.NameToSIDStr("BUILTIN\\Administrators"), "S-1-5-32-544");
    EXPECT_EQ(resolver.NameToSIDStr("builtin\\remote desktop users"), "S-1-5-32-555");
    EXPECT_EQ(resolver.NameToSIDStr("NT AUTHORITY\\SYSTEM"), "S-1-5-18");
    EXPECT_EQ(resolver.NameToSIDStr("nt authority\\network service"), "S-1-5-20");
    EXPECT_EQ(resolver.SearchCount(), 0u) << "authority names come from the table";

    EXPECT_EQ(resolver.NameToSIDStr("Everyone"), "S-1-1-0");
    EXPECT_EQ(resolver.NameToSIDStr("SELF"), "S-1-5-10");
    EXPECT_EQ(resolver.NameToSIDStr("Authenticated Users"), "S-1-5-11");
    EXPECT_EQ(resolver.NameToSIDStr("CREATOR OWNER"), "S-1-3-0");
    EXPECT_EQ(resolver.NameToSIDStr("Anonymous Logon"), "S-1-5-7");

    EXPECT_EQ(pxsids::WellKnownNameToSid("LOCAL SERVICE"), "S-1-5-19");
    EXPECT_EQ(pxsids::WellKnownNameToSid("Backup Operators"), "S-1-5-32-551");
    EXPECT_FALSE(pxsids::WellKnownNameToSid("BUILTIN\\SYSTEM"));
    EXPECT_FALSE(pxsids::WellKnownNameToSid("Administrator"));
    EXPECT_FALSE(pxsids::WellKnownNameToSid(""));
}

TEST_F(NameToSidTest, DomainQualifiedNames) {
    EXPECT_EQ(resolver.NameToSIDStr("LAB\\Domain Admins"), kLabSid + "-512");
    ASSERT_EQ(dir.calls.size(), 1u);
    EXPECT_EQ(dir.calls[0].base, kLabDn);
    EXPECT_EQ(dir.calls[0].filter, "(sAMAccountName=Domain Admins)");

    // By DNS name, and a name in the other domain.
    EXPECT_EQ(resolver.NameToSIDStr("child.lab.example\\bob"), kChildSid + "-1106");
    EXPECT_EQ(dir.calls.back().base, kChildDn);
    EXPECT_EQ(resolver.NameToSIDStr("jsmith@lab.example"), kLabSid + "-1104");
    EXPECT_EQ(resolver.NameToSIDStr("ANN@lab.example"), kLabSid + "-1105");
    // Implicit names: account@DNS name of its domain, no UPN stored.
    EXPECT_EQ(resolver.NameToSIDStr("alee@lab.example"), kLabSid + "-1105");
    EXPECT_EQ(resolver.NameToSIDStr("bob@child.lab.example"), kChildSid + "-1106");
    EXPECT_EQ(resolver.NameToSIDStr("bob@lab.example"), kNoneMapped);
}

TEST_F(NameToSidTest, UnknownDomainFallsBackOnlyToWellKnownPrincipals) {
    EXPECT_EQ(resolver.NameToSIDStr("NOSUCHDOMAIN\\Administrators"), "S-1-5-32-544");
    // A domain account must not be found under a wrong or missing domain.
    EXPECT_EQ(resolver.NameToSIDStr("NOSUCHDOMAIN\\jsmith"), kNoneMapped);
    EXPECT_EQ(resolver.NameToSIDStr("CHILD\\jsmith"), kNoneMapped);
    EXPECT_EQ(resolver.NameToSIDStr("LAB\\Everyone"), "S-1-1-0");
    // The bare name is still a domain account.
    EXPECT_EQ(resolver.NameToSIDStr("jsmith"), kLabSid + "-1104");
    EXPECT_EQ(resolver.NameToSIDStr("nobody@lab.example"), kNoneMapped);
}

TEST_F(NameToSidTest, EveryNameIsAskedOncePerRun) {
    EXPECT_EQ(resolver.NameToSIDStr("ghost"), kNoneMapped);
    const auto first = resolver.SearchCount();
    EXPECT_GT(first, 0u);
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ(resolver.NameToSIDStr(i % 2 ? "GHOST" : "ghost"), kNoneMapped);
    EXPECT_EQ(resolver.SearchCount(), first);

    // "NOSUCHDOMAIN\ghost" strips to "ghost", whose searches were made.
    EXPECT_EQ(resolver.NameToSIDStr("NOSUCHDOMAIN\\ghost"), kNoneMapped);
    EXPECT_EQ(resolver.SearchCount(), first);
}

TEST_F(NameToSidTest, FailedSearchGivesErrorTextAndIsCached) {
    dir.failBase = kChildDn;
    const std::string result = resolver.NameToSIDStr("CHILD\\bob");
    EXPECT_EQ(result, "ERROR: (1) Operations error");
    EXPECT_EQ(resolver.NameToSIDStr("child\\BOB"), result);
    EXPECT_EQ(resolver.SearchCount(), 1u);
}

TEST_F(NameToSidTest, MissingContainersMeanNotFound) {
    // A plain LDAP server: no well-known principals container.
    dir.missingBase = "CN=WellKnown Security Principals," + kConfigDn;
    EXPECT_EQ(resolver.NameToSIDStr("Everyone"), "S-1-1-0");
    EXPECT_EQ(resolver.NameToSIDStr("ghost"), kNoneMapped);
    // LDS specs name their base themselves: a wrong one is an error.
    dir.missingBase = "O=Gone";
    EXPECT_EQ(resolver.LDSNameToSIDStr("O=Gone\\x"), "ERROR: (32) No such object");
}

TEST_F(NameToSidTest, HostileNamesAreEscapedAndNeverCrash) {
    dir.Add("CN=odd,CN=Users," + kLabDn, kLabSid + "-1200", "a*b(c)\\d");
    EXPECT_EQ(resolver.NameToSIDStr("LAB\\a*b(c)\\d"), kLabSid + "-1200");
    EXPECT_EQ(dir.calls.back().filter, "(sAMAccountName=a\\2ab\\28c\\29\\5cd)");

    // A "*" must not act as a wildcard.
    EXPECT_EQ(resolver.NameToSIDStr("LAB\\*"), kNoneMapped);
    EXPECT_EQ(dir.calls.front().filter.find("=*)"), std::string::npos);
    for (const auto& call : dir.calls)
        EXPECT_EQ(call.filter.find("=*)"), std::string::npos) << call.filter;

    const std::string withNul("x\0y", 3);
    EXPECT_EQ(resolver.NameToSIDStr(withNul), kNoneMapped);
    EXPECT_NE(dir.calls.back().filter.find("x\\00y"), std::string::npos);

    for (const char* odd : {"", "\\", "LAB\\", "@", "a@", "\\\\\\", "}}{{SID:"})
        EXPECT_TRUE(resolver.NameToSIDStr(odd).starts_with("ERROR:")) << odd;
}

TEST_F(NameToSidTest, EntriesWithoutUsableSidAreNotTrusted) {
    dir.Add("CN=broken,CN=Users," + kLabDn, "not a sid", "broken");
    dir.Add("CN=empty,CN=Users," + kLabDn, "", "empty");
    EXPECT_EQ(resolver.NameToSIDStr("LAB\\broken"), kNoneMapped);
    std::map<std::string, std::string> names{{"empty", ""}, {"jsmith", ""}};
    resolver.NamesToSIDStrs(names);
    EXPECT_EQ(names["empty"], kNoneMapped);
    EXPECT_EQ(names["jsmith"], kLabSid + "-1104");
}

// --- Many names -----------------------------------------------------------------

TEST_F(NameToSidTest, BulkMakesOneSearchPerDomain) {
    std::map<std::string, std::string> names{{"{{SID:LAB\\jsmith}}", ""},
                                             {"{{sid:lab\\Domain Admins}}", ""},
                                             {"ann@lab.example", ""},
                                             {"CHILD\\bob", ""},
                                             {"{{SID:CHILD\\Carol}}", ""}};
    resolver.NamesToSIDStrs(names);
    EXPECT_EQ(names["{{SID:LAB\\jsmith}}"], kLabSid + "-1104");
    EXPECT_EQ(names["{{sid:lab\\Domain Admins}}"], kLabSid + "-512");
    EXPECT_EQ(names["ann@lab.example"], kLabSid + "-1105");
    EXPECT_EQ(names["CHILD\\bob"], kChildSid + "-1106");
    EXPECT_EQ(names["{{SID:CHILD\\Carol}}"], kChildSid + "-1107");

    ASSERT_EQ(resolver.SearchCount(), 2u);
    EXPECT_EQ(dir.CallsUnder(kLabDn), 1u);
    EXPECT_EQ(dir.CallsUnder(kChildDn), 1u);
    for (const auto& call : dir.calls)
        EXPECT_TRUE(call.filter.starts_with("(|(")) << call.filter;

    // Everything found is cached.
    EXPECT_EQ(resolver.NameToSIDStr("child\\carol"), kChildSid + "-1107");
    EXPECT_EQ(resolver.NameToSIDStr("ANN@LAB.EXAMPLE"), kLabSid + "-1105");
    EXPECT_EQ(resolver.SearchCount(), 2u);
}

TEST_F(NameToSidTest, BulkLeavesMissesToSingleLookupsWithoutRepeats) {
    std::map<std::string, std::string> names{
        {"jsmith", ""}, {"ghost", ""}, {"LAB\\ghost", ""}, {"NOSUCHDOMAIN\\Administrators", ""}};
    resolver.NamesToSIDStrs(names);
    EXPECT_EQ(names["jsmith"], kLabSid + "-1104");
    EXPECT_EQ(names["ghost"], kNoneMapped);
    EXPECT_EQ(names["LAB\\ghost"], kNoneMapped);
    EXPECT_EQ(names["NOSUCHDOMAIN\\Administrators"], "S-1-5-32-544");

    // The bulk search came first, and no (base, filter) pair was sent twice.
    ASSERT_FALSE(dir.calls.empty());
    EXPECT_TRUE(dir.calls.front().filter.starts_with("(|"));
    for (std::size_t i = 0; i < dir.calls.size(); ++i)
        for (std::size_t j = i + 1; j < dir.calls.size(); ++j)
            EXPECT_FALSE(dir.calls[i].base == dir.calls[j].base &&
                         dir.calls[i].filter == dir.calls[j].filter)
                << dir.calls[i].filter;
    for (const auto& call : dir.calls) {
        if (call.base == kLabDn && !call.filter.starts_with("(|")) {
            EXPECT_EQ(call.filter.find("ghost"), std::string::npos) << call.filter;
        }
    }
}

TEST_F(NameToSidTest, BulkSplitsLongListsAndReportsFailures) {
    std::map<std::string, std::string> names;
    for (int i = 0; i < 450; ++i)
        names["user" + std::to_string(i)] = "";
    names["jsmith"] = "";
    dir.failBase = kChildDn;
    names["CHILD\\bob"] = "";
    resolver.NamesToSIDStrs(names);
    std::size_t bulkUnderLab = 0;
    for (const auto& call : dir.calls)
        if (call.base == kLabDn && call.filter.starts_with("(|")) ++bulkUnderLab;
    EXPECT_EQ(bulkUnderLab, 3u); // 451 names, at most 200 per filter
    EXPECT_EQ(names["jsmith"], kLabSid + "-1104");
    EXPECT_EQ(names["user7"], kNoneMapped);
    EXPECT_EQ(names["CHILD\\bob"], "ERROR: (1) Operations error");
    EXPECT_EQ(dir.CallsUnder(kChildDn), 1u);
}

// --- AD LDS specs ---------------------------------------------------------------

TEST_F(NameToSidTest, LdsSpecsChooseTheirSearchBase) {
    EXPECT_EQ(resolver.LDSNameToSIDStr("config\\Admins"), "S-1-5-21-7-8-9-512");
    EXPECT_EQ(dir.calls.back().base, kConfigDn);
    EXPECT_EQ(dir.calls.back().filter, "(|(name=Admins)(userprincipalname=Admins)"
                                       "(samaccountname=Admins))");

    EXPECT_EQ(resolver.LDSNameToSIDStr("O=Org\\App"), "S-1-5-21-7-8-9-1110");
    EXPECT_EQ(dir.calls.back().base, "O=Org");
    EXPECT_FALSE(dir.calls.back().baseOnly);

    EXPECT_EQ(resolver.LDSNameToSIDStr("jsmith"), kLabSid + "-1104");
    EXPECT_EQ(dir.calls.back().base, kLabDn);

    // An empty name reads the base object itself.
    EXPECT_EQ(resolver.LDSNameToSIDStr("O=Org\\"), "S-1-5-21-7-8-9-1000");
    EXPECT_TRUE(dir.calls.back().baseOnly);
    EXPECT_EQ(dir.calls.back().filter, "(objectclass=*)");

    EXPECT_EQ(resolver.LDSNameToSIDStr("O=Org\\a*)"),
              "ERROR: No matching Entries for LDAP://O=Org"
              "(|(name=a\\2a\\29)(userprincipalname=a\\2a\\29)(samaccountname=a\\2a\\29))");

    const auto count = resolver.SearchCount();
    std::map<std::string, std::string> specs{{"{{LDSSID:O=Org\\App}}", ""}, {"CONFIG\\Admins", ""}};
    resolver.LDSNamesToSIDStrs(specs);
    EXPECT_EQ(specs["{{LDSSID:O=Org\\App}}"], "S-1-5-21-7-8-9-1110");
    EXPECT_EQ(specs["CONFIG\\Admins"], "S-1-5-21-7-8-9-512");
    EXPECT_EQ(resolver.SearchCount(), count);

    dir.failBase = "O=Bad";
    EXPECT_EQ(resolver.LDSNameToSIDStr("O=Bad\\x"), "ERROR: (1) Operations error");
}

// --- Wrappers in text -----------------------------------------------------------

TEST_F(NameToSidTest, WrappersAreReplacedAndErrorsKeptInPlace) {
    std::vector<std::string> errors;
    const std::string text = "O:{{SID:LAB\\Domain Admins}}D:(A;;RP;;;{{sid:lab\\jsmith}})"
                             "(A;;RP;;;{{SID:nobody}})(A;;GA;;;{{LDSSID:O=Org\\App}})"
                             "(A;;GA;;;{{SID:BUILTIN\\Users}})";
    EXPECT_EQ(resolver.ResolveSidWrappers(text, &errors),
              "O:" + kLabSid + "-512D:(A;;RP;;;" + kLabSid + "-1104)(A;;RP;;;" + kNoneMapped +
                  ")(A;;GA;;;S-1-5-21-7-8-9-1110)(A;;GA;;;S-1-5-32-545)");
    EXPECT_EQ(errors, std::vector<std::string>{kNoneMapped});
    // Both domain names went out in the one bulk search.
    EXPECT_TRUE(dir.calls.front().filter.starts_with("(|"));
    EXPECT_NE(dir.calls.front().filter.find("jsmith"), std::string::npos);
    EXPECT_NE(dir.calls.front().filter.find("Domain Admins"), std::string::npos);
}

TEST_F(NameToSidTest, TextWithoutCompleteWrappersIsUnchanged) {
    for (const char* text : {"", "O:BAG:SY", "{{SID:jsmith", "x{{LDSSID:", "{{SID}}", "}}{{"})
        EXPECT_EQ(resolver.ResolveSidWrappers(text), text);
    EXPECT_EQ(resolver.SearchCount(), 0u);
    EXPECT_EQ(resolver.ResolveSidWrappers("{{SID:jsmith}}{{SID:alee"), kLabSid + "-1104{{SID:alee");
}

// --- Alias table ----------------------------------------------------------------

TEST(SddlAliasMap, HoldsEveryAliasWithItsTemplate) {
    const std::map<std::string, std::string> expected = {
        {"DA", "<DOMAINSID>-512"}, {"DG", "<DOMAINSID>-514"}, {"DU", "<DOMAINSID>-513"},
        {"DD", "<DOMAINSID>-516"}, {"DC", "<DOMAINSID>-515"}, {"LA", "<DOMAINSID>-500"},
        {"LG", "<DOMAINSID>-501"}, {"CA", "<DOMAINSID>-517"}, {"RS", "<DOMAINSID>-553"},
        {"PA", "<DOMAINSID>-520"}, {"CN", "<DOMAINSID>-522"}, {"AP", "<DOMAINSID>-525"},
        {"KA", "<DOMAINSID>-526"}, {"SA", "<FORESTSID>-518"}, {"EA", "<FORESTSID>-519"},
        {"RO", "<FORESTSID>-498"}, {"EK", "<FORESTSID>-527"}, {"ED", "S-1-5-9"},
        {"BA", "S-1-5-32-544"},    {"BG", "S-1-5-32-546"},    {"BU", "S-1-5-32-545"},
        {"AO", "S-1-5-32-548"},    {"BO", "S-1-5-32-551"},    {"PO", "S-1-5-32-550"},
        {"SO", "S-1-5-32-549"},    {"AU", "S-1-5-11"},        {"PS", "S-1-5-10"},
        {"CO", "S-1-3-0"},         {"CG", "S-1-3-1"},         {"SY", "S-1-5-18"},
        {"WD", "S-1-1-0"},         {"RE", "S-1-5-32-552"},    {"IU", "S-1-5-4"},
        {"NU", "S-1-5-2"},         {"SU", "S-1-5-6"},         {"RU", "S-1-5-32-554"},
        {"LS", "S-1-5-19"},        {"NS", "S-1-5-20"},        {"RD", "S-1-5-32-555"},
        {"NO", "S-1-5-32-556"},    {"MU", "S-1-5-32-558"},    {"LU", "S-1-5-32-559"},
        {"IS", "S-1-5-32-568"},    {"CY", "S-1-5-32-569"},    {"OW", "S-1-3-4"},
        {"ER", "S-1-5-32-573"},    {"CD", "S-1-5-32-574"},    {"RA", "S-1-5-32-575"},
        {"ES", "S-1-5-32-576"},    {"MS", "S-1-5-32-577"},    {"HA", "S-1-5-32-578"},
        {"AA", "S-1-5-32-579"},    {"RM", "S-1-5-32-580"},    {"AS", "S-1-18-1"},
        {"SS", "S-1-18-2"},
    };
    ASSERT_EQ(expected.size(), 55u);
    std::map<std::string, std::string> aliases;
    pxsids::LoadSddlAliasMap(aliases);
    for (const auto& [code, sid] : expected) {
        const auto it = aliases.find(code);
        ASSERT_NE(it, aliases.end()) << code;
        EXPECT_EQ(it->second, sid) << code;
    }
    for (const auto& [code, sid] : aliases) {
        EXPECT_EQ(code.size(), 2u) << code;
        EXPECT_TRUE(sid.starts_with("S-1-") || sid.starts_with("<DOMAINSID>-") ||
                    sid.starts_with("<FORESTSID>-"))
            << code << " " << sid;
    }
}

} // namespace
