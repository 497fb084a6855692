// Manual check against a lab directory: binds with each connection and bind
// variant the lab supports, reads the RootDSE, and runs the lookups once.
//
//   LAB_ENV=/path/to/lab.env LDAPFuncs_labcheck
//
// Without LAB_ENV it does nothing and exits with 77 (CTest: skipped).  Exit
// 0 when every variant ended as expected, 1 otherwise.
#include "LDAPFuncs.h"
#include "PrincipalSearch.h"

#include "Diag.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace {

using Env = std::map<std::string, std::string>;

Env ReadLabEnv(const char* path) {
    Env env;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        const auto eq = line.find('=');
        if (eq == std::string::npos || line.starts_with("#")) continue;
        std::string value = line.substr(eq + 1);
        if (value.size() >= 2 && value.front() == '\'' && value.back() == '\'')
            value = value.substr(1, value.size() - 2);
        env[line.substr(0, eq)] = value;
    }
    return env;
}

constexpr int kAnyResult = -99999;
constexpr int kBound = 0;

struct Variant {
    std::string name;
    OpenLdapParams params;
    int expected;                 // kBound, a shown error code, or kAnyResult
    bool expectProtected = false; // checked when the bind succeeds
    std::string ccache;           // KRB5CCNAME for this variant ("" keeps the lab's)
};

// Shown code in "... Error 0x31 (49) - ..." or -1 when there is none.
int CodeFromReport(const std::string& text) {
    const auto at = text.find("] Error 0x");
    if (at == std::string::npos) return -1;
    return static_cast<int>(std::strtol(text.c_str() + at + 10, nullptr, 16));
}

void Lookups(LDAP* ld, const CRootDSE& root, const Env& env) {
    std::vector<std::string> dns;
    const int rc = GetDNFromSearch(ld, env.at("LAB_BASE"), "one", "objectClass=*", dns, root);
    std::printf("      GetDNFromSearch(one): rc=0x%x, %zu DNs%s%s\n", rc, dns.size(),
                dns.empty() ? "" : ", first ", dns.empty() ? "" : dns.front().c_str());
    const std::string admin =
        env.count("LAB_ADMIN_DN") ? env.at("LAB_ADMIN_DN") : env.at("LAB_BASE");
    std::printf("      GetObjectClass(%s) = %s\n", admin.c_str(),
                GetObjectClass(ld, admin).c_str());
    DomainPartitionMap parts;
    const int prc = GetDomainSDInfo(ld, root, parts);
    std::printf("      GetDomainSDInfo: rc=0x%x, %zu entries\n", prc, parts.size());
    for (const auto& [key, info] : parts)
        std::printf("        %s -> %s %s %s\n", key.c_str(), info.sid.c_str(), info.dnsRoot.c_str(),
                    info.netbiosName.c_str());
    DNBreakoutMap m;
    if (DNBreakout(admin, false, m) == 0)
        std::printf("      DNBreakout: CANONICAL_NAME=%s DOMAIN_DNS=%s\n",
                    m["CANONICAL_NAME"].c_str(), m["DOMAIN_DNS"].c_str());
    const std::string missing = "CN=kelvo-no-such-object," + env.at("LAB_BASE");
    std::printf("      GetLastKnownParent(missing) = '%s'\n",
                GetLastKnownParent(ld, missing, true, root).c_str());
}

// Name resolution on the bound session; returns the number of names that did
// not resolve as expected.
int NameResolution(LDAP* ld, const CRootDSE& root, const Env& env) {
    DomainPartitionMap parts;
    (void)GetDomainSDInfo(ld, root, parts);
    LdapPrincipalDirectory directory(ld, root, parts);
    pxsids::NameToSid resolver(directory);
    const bool samba = env.at("LAB_KIND") == "samba";
    const std::string domainSid = parts.contains("DEFAULT") ? parts.at("DEFAULT").sid : "";
    const std::string none(pxsids::kNoneMappedText);

    std::vector<std::pair<std::string, std::string>> expected = {
        {"BUILTIN\\Administrators", "S-1-5-32-544"},
        {"Everyone", "S-1-1-0"},
        {"NOSUCHDOMAIN\\kelvo-no-such-user", none},
    };
    if (samba) {
        const std::string domain = env.at("LAB_DOMAIN");
        expected.push_back({domain + "\\Domain Admins", domainSid + "-512"});
        expected.push_back({env.at("LAB_ADMIN_UPN"), domainSid + "-500"});
        expected.push_back({"NOSUCHDOMAIN\\" + env.at("LAB_ADMIN_NAME"), none});
        expected.push_back({"NOSUCHDOMAIN\\Administrators", "S-1-5-32-544"});
    }
    std::map<std::string, std::string> names;
    for (const auto& [name, sid] : expected)
        names["{{SID:" + name + "}}"] = "";
    resolver.NamesToSIDStrs(names);
    int failures = 0;
    for (const auto& [name, sid] : expected) {
        const std::string& got = names["{{SID:" + name + "}}"];
        const bool ok = got == sid && !sid.starts_with("-");
        failures += ok ? 0 : 1;
        std::printf("      %s NameToSid(%s) = %s\n", ok ? "PASS" : "FAIL", name.c_str(),
                    got.c_str());
    }
    const std::size_t searches = resolver.SearchCount();
    for (const auto& [name, sid] : expected)
        (void)resolver.NameToSIDStr(name);
    const bool cached = resolver.SearchCount() == searches;
    failures += cached ? 0 : 1;
    std::printf("      %s NameToSid: %zu searches, none more for repeats\n",
                cached ? "PASS" : "FAIL", searches);
    return failures;
}

// Descriptor reads; only a directory with Active Directory's schema and
// descriptors has them.  Returns the number of failed checks.
int DescriptorChecks(LDAP* ld, const CRootDSE& root) {
    if (!root.HasCapability(kCapActiveDirectory)) {
        std::printf("      descriptor reads: skipped (no Active Directory capability)\n");
        return 0;
    }
    int failures = 0;
    const auto check = [&failures](bool ok, const char* what, const std::string& got) {
        std::printf("%s   %s: %s\n", ok ? "PASS" : "FAIL", what,
                    got.size() > 120 ? (got.substr(0, 120) + "...").c_str() : got.c_str());
        failures += ok ? 0 : 1;
    };
    const std::string dacl = GetSD(ld, root.DefaultNC(), kSdPartDacl, "nTSecurityDescriptor");
    check(dacl.starts_with("D:") && dacl.find("O:") == std::string::npos &&
              dacl.find("G:") == std::string::npos && dacl.find("S:") == std::string::npos,
          "GetSD(domain NC, DACL only)", dacl);
    const std::string all = GetSD(ld, root.DefaultNC(), 15, "nTSecurityDescriptor");
    // Domain SIDs print as SID text: no domain is given to the printer.
    check(all.starts_with("O:") && all.find("G:") != std::string::npos &&
              all.find("D:") != std::string::npos && all.find("S:") != std::string::npos &&
              all.find(";S-1-5-21-") != std::string::npos && all.find(";DA)") == std::string::npos,
          "GetSD(domain NC, all parts)", all);
    const std::string missing =
        GetSD(ld, "CN=kelvo-no-such-object," + root.DefaultNC(), 15, "nTSecurityDescriptor");
    check(missing.starts_with("ERROR: Couldn't retrieve SD template object CN=kelvo-no-such"),
          "GetSD(missing object)", missing);
    const std::string none = GetSD(ld, root.DefaultNC(), 15, "description");
    check(none == "ERROR: Didn't retrieve SD\n", "GetSD(attribute without value)", none);
    const std::string notSd = GetSD(ld, root.DefaultNC(), 15, "objectSid");
    check(notSd.starts_with("ERROR:") && notSd != "ERROR: Didn't retrieve SD\n",
          "GetSD(value that is not a descriptor)", notSd);

    const std::string userDefault = GetDefaultSD(ld, root.SchemaNC(), "user");
    check(!userDefault.empty() && userDefault.find("D:") != std::string::npos, "GetDefaultSD(user)",
          userDefault);
    const std::string noClass = GetDefaultSD(ld, root.SchemaNC(), "kelvoNoSuchClass*");
    check(noClass.empty(), "GetDefaultSD(no such class)", noClass);

    const std::string holder = GetTemplateSD(ld, root, "", "", "AdminSDHolder", 15);
    check(holder.starts_with("O:") && holder.find("D:") != std::string::npos,
          "GetTemplateSD(AdminSDHolder)", holder);
    const std::string noTemplate = GetTemplateSD(ld, root, "", "", "kelvo-none*)(", 15);
    check(noTemplate == "ERROR: No matching objects found.", "GetTemplateSD(no match)", noTemplate);
    // The container CN=Users and the built-in group CN=Users,CN=Builtin.
    const std::string two = GetTemplateSD(ld, root, "", "", "Users", 15);
    check(two == "ERROR: Too may matching objects found - 2", "GetTemplateSD(two matches)", two);
    const std::string one = GetTemplateSD(ld, root, "", "one", "Users", kSdPartDacl);
    check(one.starts_with("D:") && one.find("O:") == std::string::npos,
          "GetTemplateSD(one level, DACL only)", one);
    // The name is a value, not a pattern: "Admin*" would match AdminSDHolder,
    // Administrator and Administrators.
    const std::string pattern = GetTemplateSD(ld, root, "", "", "Admin*", 15);
    check(pattern == "ERROR: No matching objects found.", "GetTemplateSD(Admin*)", pattern);

    const auto member = GetSDAttrGuid(ld, root.SchemaNC(), "Member");
    const std::string memberText = member ? member->first + " " + member->second : "(none)";
    check(member && member->first == "member" &&
              member->second == "bf9679c0-0de6-11d0-a285-00aa003049e2",
          "GetSDAttrGuid(Member)", memberText);
    const auto nothing = GetSDAttrGuid(ld, root.SchemaNC(), "kelvoNoSuchAttribute");
    check(!nothing, "GetSDAttrGuid(no such attribute)", nothing ? nothing->second : "(none)");

    std::vector<std::pair<std::string, std::string>> guids;
    const int rc = GetCARClassSDGuids(ld, root.ConfigNC(), guids);
    bool resetPassword = false, user = false;
    for (const auto& [name, guid] : guids) {
        // Windows calls it "Reset Password", Samba "User Force Change Password".
        resetPassword |= (name == "reset password" || name == "user force change password") &&
                         guid == "00299570-246d-11d0-a768-00aa006e0529";
        user |= name == "user" && guid == "bf967aba-0de6-11d0-a285-00aa003049e2";
    }
    // Counted independently: rights in the configuration NC, classes in the
    // schema NC.  Every entry has to come back.
    const auto count = [ld](const std::string& base, const char* filter) {
        return PagedSearch(ld, base, filter, {"1.1"}, true,
                           [](const std::string&, const EntryAttributes&) {})
            .entries;
    };
    const std::size_t rights = count(root.ConfigNC(), "(objectcategory=controlAccessRight)");
    const std::size_t classes = count(root.SchemaNC(), "(objectcategory=classSchema)");
    check(rc == 0 && rights > 50 && classes > 50 && guids.size() == rights + classes &&
              resetPassword && user,
          "GetCARClassSDGuids",
          "rc=" + std::to_string(rc) + ", " + std::to_string(guids.size()) + " pairs for " +
              std::to_string(rights) + " rights and " + std::to_string(classes) + " classes");
    return failures;
}

std::vector<Variant> SambaVariants(const Env& e) {
    auto base = [&e] {
        OpenLdapParams p;
        p.server = e.at("LAB_HOST");
        p.timeoutSeconds = 15;
        p.extendedErrorInfo = true;
        return p;
    };
    const std::string noCache = "FILE:" + e.at("LAB_DIR") + "/no-such-ccache";
    std::vector<Variant> v;
    auto add = [&v](std::string name, OpenLdapParams p, int expected, bool prot = false,
                    std::string cc = "") {
        v.push_back({std::move(name), std::move(p), expected, prot, std::move(cc)});
    };
    {
        auto p = base();
        p.ssl = true, p.simple = true, p.user = e.at("LAB_ADMIN_UPN"),
        p.password = e.at("LAB_PASSWORD");
        add("ldaps simple UPN", p, kBound, true);
        p.user = e.at("LAB_ADMIN_USER");
        add("ldaps simple DOMAIN\\user", p, kBound, true);
        p.user = e.at("LAB_ADMIN_DN");
        add("ldaps simple DN", p, kBound, true);
        p.password = "wrong";
        add("ldaps simple wrong password", p, 0x31);
    }
    {
        auto p = base();
        p.startTls = true, p.simple = true, p.user = e.at("LAB_ADMIN_DN"),
        p.password = e.at("LAB_PASSWORD");
        add("StartTLS simple DN", p, kBound, true);
        p.startTls = false;
        add("plain simple (server wants TLS)", p, 0x8);
    }
    {
        auto p = base();
        p.anonymous = true;
        add("anonymous", p, kBound);
    }
    {
        auto p = base();
        p.server = e.at("LAB_ADDR");
        p.ssl = true, p.simple = true, p.user = e.at("LAB_ADMIN_UPN"),
        p.password = e.at("LAB_PASSWORD");
        add("ldaps by address, certificate checked (name mismatch)", p, 0x51);
        p.ignoreServerCert = true;
        add("ldaps by address, -sslignoresrvcert", p, kBound, true);
    }
    {
        auto p = base();
        add("Negotiate from ticket cache", p, kBound, true);
        p.kerberosEncryption = true;
        add("Negotiate + sign and seal", p, kBound, true);
        p.kerberosEncryption = false, p.delegation = true;
        add("Negotiate + delegation", p, kBound, true);
        p.delegation = false, p.port = 1;
        add("Negotiate global catalog port", p, kBound, true);
        p.port = 0, p.ssl = true;
        add("Negotiate over ldaps (no second layer)", p, kAnyResult);
    }
    {
        auto p = base();
        p.user = e.at("LAB_ADMIN_USER"), p.password = e.at("LAB_PASSWORD");
        add("Negotiate DOMAIN\\user + password", p, kBound, true, noCache);
        p.user = e.at("LAB_ADMIN_UPN");
        add("Negotiate UPN + password", p, kBound, true, noCache);
        p.user = e.at("LAB_DOMAIN") + "\\" + e.at("LAB_USER_NAME"),
        p.password = e.at("LAB_USER_PASSWORD");
        add("Negotiate ordinary user", p, kBound, true, noCache);
        p.password = "wrong";
        add("Negotiate wrong password", p, 0x31, false, noCache);
        p.password = "BIN:";
        for (unsigned char c : e.at("LAB_USER_PASSWORD")) {
            char unit[8];
            std::snprintf(unit, sizeof unit, "%04X", c);
            p.password += unit;
        }
        add("Negotiate BIN: password", p, kBound, true, noCache);
    }
    {
        auto p = base();
        p.server.clear();
        add("Negotiate, default server (LDAPURI)", p, kBound, true);
    }
    {
        auto p = base();
        p.ntlm = true, p.user = e.at("LAB_ADMIN_USER"), p.password = e.at("LAB_PASSWORD");
        add("NTLM DOMAIN\\user + password", p, kBound, true, noCache);
        p.user = e.at("LAB_DOMAIN") + "\\" + e.at("LAB_USER_NAME"), p.password = "wrong";
        add("NTLM wrong password", p, kAnyResult, false, noCache);
    }
    {
        auto p = base();
        p.digest = true, p.user = e.at("LAB_ADMIN_USER"), p.password = e.at("LAB_PASSWORD");
        add("Digest (not offered by this server)", p, kAnyResult, false, noCache);
    }
    return v;
}

std::vector<Variant> SlapdVariants(const Env& e) {
    auto base = [&e] {
        OpenLdapParams p;
        p.server = e.at("LAB_HOST") + ":" + e.at("LAB_PORT");
        p.timeoutSeconds = 15;
        p.extendedErrorInfo = true;
        return p;
    };
    std::vector<Variant> v;
    auto add = [&v](std::string name, OpenLdapParams p, int expected, bool prot = false) {
        v.push_back({std::move(name), std::move(p), expected, prot, ""});
    };
    {
        auto p = base();
        p.simple = true, p.user = e.at("LAB_ADMIN_DN"), p.password = e.at("LAB_PASSWORD");
        add("simple DN", p, kBound);
        p.password = "wrong";
        add("simple wrong password", p, 0x31);
        p.password = e.at("LAB_PASSWORD"), p.startTls = true;
        add("StartTLS simple", p, kBound, true);
        p.startTls = false, p.ssl = true;
        p.server = e.at("LAB_HOST");
        p.port = std::atoi(e.at("LAB_SSL_PORT").c_str());
        add("ldaps simple", p, kBound, true);
    }
    {
        auto p = base();
        p.anonymous = true;
        add("anonymous", p, kBound);
    }
    {
        auto p = base();
        p.digest = true, p.user = e.at("LAB_DIGEST_USER"), p.password = e.at("LAB_DIGEST_PASSWORD");
        add("Digest user name", p, kBound);
        p.kerberosEncryption = true;
        add("Digest + sign and seal", p, kBound, true);
        p.kerberosEncryption = false, p.digest = false, p.user = e.at("LAB_DIGEST_DN");
        add("user DN switches to Digest", p, kBound);
    }
    {
        auto p = base();
        p.server.clear();
        p.anonymous = true;
        add("anonymous, default server (LDAPURI)", p, kBound);
    }
    {
        auto p = base();
        p.server = e.at("LAB_HOST") + ":1";
        p.simple = true, p.user = e.at("LAB_ADMIN_DN"), p.password = e.at("LAB_PASSWORD");
        add("closed port", p, 0x51);
    }
    return v;
}

} // namespace

int main() {
    const char* envPath = std::getenv("LAB_ENV");
    if (envPath == nullptr || *envPath == '\0') {
        std::printf("LAB_ENV is not set; nothing to check.\n");
        return 77;
    }
    const Env env = ReadLabEnv(envPath);
    if (!env.count("LAB_KIND")) {
        std::fprintf(stderr, "%s: no LAB_KIND\n", envPath);
        return 1;
    }
    // Before libldap and Kerberos read their settings.
    if (env.count("LAB_CACERT")) setenv("LDAPTLS_CACERT", env.at("LAB_CACERT").c_str(), 1);
    if (env.count("KRB5_CONFIG")) setenv("KRB5_CONFIG", env.at("KRB5_CONFIG").c_str(), 1);
    // The configured URI is what a run without -h connects to.
    if (env.count("LAB_URI")) setenv("LDAPURI", env.at("LAB_URI").c_str(), 1);
    const std::string labCache = env.count("KRB5CCNAME") ? env.at("KRB5CCNAME") : "";
    if (std::getenv("LAB_DEBUG")) diag::Get().debug = true;

    const bool samba = env.at("LAB_KIND") == "samba";
    const auto variants = samba ? SambaVariants(env) : SlapdVariants(env);
    int failures = 0;
    bool lookupsDone = false;
    for (const auto& v : variants) {
        if (!labCache.empty() || !v.ccache.empty())
            setenv("KRB5CCNAME", (v.ccache.empty() ? labCache : v.ccache).c_str(), 1);
        std::string captured;
        diag::Get().out = [&captured](std::string_view t) { captured += t; };
        diag::Get().err = [&captured](std::string_view t) { captured += t; };
        LdapSession s = OpenLdap(v.params);
        CRootDSE root;
        if (s) root.Load(s.get());
        diag::Get().out = nullptr;
        diag::Get().err = nullptr;

        const int got = s ? kBound : CodeFromReport(captured);
        bool ok = v.expected == kAnyResult || got == v.expected;
        if (s && v.expectProtected && !s.IsProtected()) ok = false;
        if (s && !root.IsLoaded()) ok = false;
        failures += ok ? 0 : 1;
        if (s)
            std::printf("%s %-52s bound: %s, TLS %d, SSF %u, host %s; %s, %s\n",
                        ok ? "PASS" : "FAIL", v.name.c_str(), s.BindMechanism().c_str(), s.IsTls(),
                        s.SaslSsf(), s.HostName().c_str(), root.ServerType().c_str(),
                        root.PrincipalName().empty() ? root.DefaultNC().c_str()
                                                     : root.PrincipalName().c_str());
        else
            std::printf("%s %-52s not bound: 0x%x\n", ok ? "PASS" : "FAIL", v.name.c_str(), got);
        if (!ok || (!s && v.expected == kAnyResult)) {
            std::string indented = "      | " + captured;
            for (std::size_t i = 0;
                 (i = indented.find('\n', i)) != std::string::npos && i + 1 < indented.size();)
                indented.insert(++i, "      | ");
            if (!captured.empty()) std::printf("%s", indented.c_str());
        }
        if (s && root.IsLoaded() && !lookupsDone && v.expected == kBound) {
            Lookups(s.get(), root, env);
            failures += NameResolution(s.get(), root, env);
            failures += DescriptorChecks(s.get(), root);
            lookupsDone = true;
        }
    }
    std::printf("%d of %zu variants not as expected\n", failures, variants.size());
    return failures == 0 ? 0 : 1;
}
