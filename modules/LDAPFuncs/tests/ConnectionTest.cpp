#include "Connection.h"
#include "Bind.h"
#include "CaptureOutput.h"
#include "ServerLocator.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

TEST(CheckHostNameForPort, Table) {
    const struct {
        const char* in;
        const char* host;
        int port;
    } cases[] = {
        {"dc1", "dc1", 0},
        {"dc1.corp.example:636", "dc1.corp.example", 636},
        {"dc1:", "dc1", 0},
        {":389", "", 389},
        {"dc1:abc", "dc1", 0},
        {"dc1:12345678", "dc1", 123456}, // at most six digits are read
        {"[fe80::1]:50000", "[fe80::1]", 50000},
        {"[::1]:1234567", "[::1]", 123456},
        {"[fe80::1]", "[fe80::1]", 0},
        {"fe80::1", "fe80::1", 0}, // unbracketed IPv6 never carries a port
        {"fe80::1]:5", "fe80::1]:5", 0},
        {"]:5:6", "]:5:6", 0},
        {"", "", 0},
    };
    for (const auto& c : cases) {
        std::string host = c.in;
        EXPECT_EQ(CheckHostNameForPort(host), c.port) << c.in;
        EXPECT_EQ(host, c.host) << c.in;
    }
}

TEST(CheckHostNameForPort, AnnouncesIPv6AtDebug) {
    CaptureOutput cap(true);
    std::string host = "[fe80::1]:389";
    EXPECT_EQ(CheckHostNameForPort(host), 389);
    std::string plain = "dc1:389";
    EXPECT_EQ(CheckHostNameForPort(plain), 389);
    EXPECT_EQ(cap.out, "DEBUG: IPv6 IP Address detected.\n");
}

TEST(ResolveHostAndPort, PortRulesAndLocalhost) {
    const struct {
        const char* server;
        int portParam;
        bool ssl;
        const char* host;
        int port;
    } cases[] = {
        {"", 0, false, "", 389},
        {"", 0, true, "", 636},
        {".", 0, false, "localhost", 389},
        {".", 5000, false, "localhost", 5000},
        {".:5000", 0, false, "localhost", 5000},
        {".anything", 0, false, "localhost", 389},
        {"server:1234", 1234, true, "server", 1234},
        {"server:1234", 0, true, "server", 636}, // SSL default replaces the host's port
        {"server:1234", 0, false, "server", 1234},
        {"dc1", 1, false, "dc1", 3268},
        {"dc1", 1, true, "dc1", 3269},
        {"dc1", 2, false, "dc1", 2},
        {"dc1:1234", -1, true, "dc1", 1234}, // negative keeps the default
        {"dc1", -1, true, "dc1", 389},
        {"[fe80::1]:50000", 0, false, "[fe80::1]", 50000},
        {"fe80::1", 0, false, "fe80::1", 389},
    };
    for (const auto& c : cases) {
        const HostAndPort hp = ResolveHostAndPort(c.server, c.portParam, c.ssl);
        EXPECT_EQ(hp.host, c.host) << c.server << " " << c.portParam;
        EXPECT_EQ(hp.port, c.port) << c.server << " " << c.portParam;
    }
}

TEST(BuildLdapUri, SchemesAndIPv6) {
    EXPECT_EQ(BuildLdapUri("dc1", 389, false), "ldap://dc1:389");
    EXPECT_EQ(BuildLdapUri("dc1", 636, true), "ldaps://dc1:636");
    EXPECT_EQ(BuildLdapUri("fe80::1", 389, false), "ldap://[fe80::1]:389");
    EXPECT_EQ(BuildLdapUri("[fe80::1]", 3269, true), "ldaps://[fe80::1]:3269");
}

TEST(ParseLDAPURL, Table) {
    using Fields = std::map<std::string, std::string>;
    const struct {
        const char* url;
        bool ok;
        Fields fields;
    } cases[] = {
        {"ldaps://dc1:636/dc=x,dc=y??sub?(cn=a)",
         true,
         {{"URL", "ldaps://dc1:636/dc=x,dc=y??sub?(cn=a)"},
          {"PROTOCOL", "LDAPS:"},
          {"HOST", "dc1:636"},
          {"BASE", "dc=x,dc=y"},
          {"ATTRS", ""},
          {"SCOPE", "sub"},
          {"FILTER", "(cn=a)"}}},
        {"ldap://dc1", true, {{"URL", "ldap://dc1"}, {"PROTOCOL", "LDAP:"}, {"HOST", "dc1"}}},
        {"ldap://dc1/", true, {{"URL", "ldap://dc1/"}, {"PROTOCOL", "LDAP:"}, {"HOST", "dc1"}}},
        {"LDAP://dc1/dc=x",
         true,
         {{"URL", "LDAP://dc1/dc=x"},
          {"PROTOCOL", "LDAP:"},
          {"HOST", "dc1"},
          {"BASE", "dc=x"},
          {"ATTRS", ""},
          {"SCOPE", "BASE"},
          {"FILTER", ""}}},
        {"Ldap://h/ou=a%20b%2C,dc=x?cn,sn?one?(|(a=1)(b=2/3))",
         true,
         {{"URL", "Ldap://h/ou=a%20b%2C,dc=x?cn,sn?one?(|(a=1)(b=2/3))"},
          {"PROTOCOL", "LDAP:"},
          {"HOST", "h"},
          {"BASE", "ou=a b%2C,dc=x"}, // only %20 is decoded
          {"ATTRS", "cn,sn"},
          {"SCOPE", "one"},
          {"FILTER", "(|(a=1)(b=2/3))"}}},
        {"http://dc1/dc=x", false, {{"KEEP", "me"}}},
        {"ldap:/dc1", false, {{"KEEP", "me"}}},
        {"", false, {{"KEEP", "me"}}},
    };
    for (const auto& c : cases) {
        Fields fields;
        if (!c.ok) fields = {{"KEEP", "me"}};
        EXPECT_EQ(ParseLDAPURL(c.url, fields), c.ok) << c.url;
        EXPECT_EQ(fields, c.fields) << c.url;
    }
}

// Locator sources that answer from tables and count service-record lookups.
struct FakeDirectoryDns {
    std::string configured;
    std::vector<std::string> domains;
    std::map<std::string, std::vector<std::string>> srv;
    int srvLookups = 0;

    ServerLocatorSources Sources() {
        return {[this] { return configured; }, [this] { return domains; },
                [this](const std::string& d) {
                    ++srvLookups;
                    const auto it = srv.find(d);
                    return it == srv.end() ? std::vector<std::string>{} : it->second;
                }};
    }
};

TEST(LocateServer, Table) {
    const std::map<std::string, std::vector<std::string>> corpSrv = {
        {"corp.example", {"dc1.corp.example:389", "dc2.corp.example:389"}},
        {"lab.example", {"dc.lab.example:3890"}}};
    const struct {
        const char* name;
        const char* host;
        bool arecex;
        int port;
        bool ssl;
        std::string configured;
        std::vector<std::string> domains;
        const char* uri;
        int srvLookups;
    } cases[] = {
        {"host without records",
         "dc9.corp.example",
         false,
         389,
         false,
         "",
         {},
         "ldap://dc9.corp.example:389",
         1},
        {"domain with records",
         "corp.example",
         false,
         389,
         false,
         "",
         {},
         "ldap://dc1.corp.example:389 ldap://dc2.corp.example:389",
         1},
        {"A-record exclusive",
         "corp.example",
         true,
         389,
         false,
         "",
         {},
         "ldap://corp.example:389",
         0},
        {"domain over SSL",
         "corp.example",
         false,
         636,
         true,
         "",
         {},
         "ldaps://dc1.corp.example:636 ldaps://dc2.corp.example:636",
         1},
        {"global catalog",
         "corp.example",
         false,
         3268,
         false,
         "",
         {},
         "ldap://dc1.corp.example:3268 ldap://dc2.corp.example:3268",
         1},
        {"IPv4 address", "127.0.0.31", false, 389, false, "", {}, "ldap://127.0.0.31:389", 0},
        {"IPv6 address", "[::1]", false, 389, false, "", {}, "ldap://[::1]:389", 0},
        {"localhost", "localhost", false, 1389, false, "", {}, "ldap://localhost:1389", 0},
        {"configured URI verbatim",
         "",
         false,
         389,
         false,
         "ldaps://cfg.example:1636",
         {"corp.example"},
         "ldaps://cfg.example:1636",
         0},
        {"configured hosts with our port",
         "",
         false,
         636,
         true,
         "ldap://a ldap://b:1389",
         {},
         "ldaps://a:636 ldaps://b:636",
         0},
        {"default domain keeps record port",
         "",
         false,
         389,
         false,
         "",
         {"lab.example"},
         "ldap://dc.lab.example:3890",
         1},
        {"second default domain",
         "",
         false,
         389,
         false,
         "",
         {"none.example", "corp.example"},
         "ldap://dc1.corp.example:389 ldap://dc2.corp.example:389",
         2},
        {"nothing found", "", false, 389, false, "", {"none.example"}, "ldap://localhost:389", 1},
        {"nothing found, SSL", "", false, 636, true, "", {}, "ldaps://localhost:636", 0},
    };
    for (const auto& c : cases) {
        FakeDirectoryDns dns{c.configured, c.domains, corpSrv};
        const LocatedServer found = LocateServer(c.host, c.arecex, c.port, c.ssl, dns.Sources());
        EXPECT_EQ(found.uri, c.uri) << c.name;
        EXPECT_EQ(dns.srvLookups, c.srvLookups) << c.name;
        EXPECT_FALSE(found.how.empty()) << c.name;
    }
}

TEST(BindHelpers, SplitBindUser) {
    const struct {
        const char* in;
        const char* domain;
        const char* user;
    } cases[] = {
        {"DOM\\user", "DOM", "user"},
        {"user", "", "user"},
        {"DOM\\", "DOM", ""},
        {"a\\b\\c", "a", "b"},
        {"\\user", "", "user"},
        {"user@corp.example", "", "user@corp.example"},
        {"", "", ""},
    };
    for (const auto& c : cases) {
        const BindIdentity id = SplitBindUser(c.in);
        EXPECT_EQ(id.domain, c.domain) << c.in;
        EXPECT_EQ(id.user, c.user) << c.in;
    }
}

TEST(BindHelpers, ChooseBindMethod) {
    const struct {
        bool simple, digest, ntlm;
        const char* user;
        BindMethod method;
        bool switched;
    } cases[] = {
        {false, false, false, "", BindMethod::Negotiate, false},
        {false, false, false, "DOM\\user", BindMethod::Negotiate, false},
        {true, false, false, "cn=admin,o=lab", BindMethod::Simple, false},
        {false, true, false, "user", BindMethod::Digest, false},
        {false, false, true, "DOM\\user", BindMethod::Ntlm, false},
        {false, true, true, "user", BindMethod::Digest, false},
        {false, false, false, "cn=admin,o=lab", BindMethod::Digest, true},
        {false, false, true, "CN=Admin,O=Lab", BindMethod::Digest, true},
        {false, false, false, "DOM\\accn=x", BindMethod::Digest, true},
        {false, true, false, "cn=admin,o=lab", BindMethod::Digest, false},
        {false, false, false, "", BindMethod::Negotiate, false},
    };
    for (const auto& c : cases) {
        bool switched = !c.switched;
        EXPECT_EQ(ChooseBindMethod(c.simple, c.digest, c.ntlm, c.user, switched), c.method)
            << c.user;
        EXPECT_EQ(switched, c.switched) << c.user;
    }
}

TEST(BindHelpers, KerberosPrincipalFor) {
    const struct {
        const char* user;
        const char* realm;
        const char* principal;
    } cases[] = {
        {"DOM\\user", "CORP.EXAMPLE", "user@CORP.EXAMPLE"},
        {"corp.example\\user", "OTHER.EXAMPLE", "user@CORP.EXAMPLE"},
        {"DOM\\user", "", "user@DOM"},
        {"user@corp.example", "OTHER.EXAMPLE", "user@CORP.EXAMPLE"},
        {"a@b@c.d", "", "a@b@C.D"},
        {"user", "REALM.TEST", "user@REALM.TEST"},
        {"user", "", "user"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(KerberosPrincipalFor(c.user, c.realm), c.principal);
}

TEST(BindHelpers, SaslSecProps) {
    const struct {
        bool seal, delegate, tls, gss;
        const char* props;
    } cases[] = {
        {false, false, false, true, ""},
        {true, false, false, true, "minssf=56"},
        {false, false, true, true, "maxssf=0"},
        {true, false, true, true, "maxssf=0"}, // TLS already protects; no second layer
        {false, true, false, true, "noplain,noanonymous,passcred"},
        {true, true, false, true, "minssf=56,noplain,noanonymous,passcred"},
        {true, true, false, false, "minssf=56"}, // only GSS mechanisms delegate
    };
    for (const auto& c : cases)
        EXPECT_EQ(SaslSecProps(c.seal, c.delegate, c.tls, c.gss), c.props);
}

TEST(BindHelpers, SaslCandidates) {
    auto names = [](const std::vector<SaslMechanismChoice>& rows) {
        std::vector<std::string> out;
        for (const auto& r : rows)
            out.emplace_back(r.mechanism);
        return out;
    };
    using V = std::vector<std::string>;
    EXPECT_EQ(names(SaslCandidates(BindMethod::Negotiate, false, V{})),
              (V{"GSS-SPNEGO", "GSSAPI"}));
    EXPECT_EQ(names(SaslCandidates(BindMethod::Negotiate, true, V{"GSSAPI", "DIGEST-MD5"})),
              V{"GSSAPI"});
    EXPECT_EQ(names(SaslCandidates(BindMethod::Negotiate, true, V{"gss-spnego"})), V{"GSS-SPNEGO"});
    // Nothing offered that we know: let the server answer the first choice.
    EXPECT_EQ(names(SaslCandidates(BindMethod::Negotiate, false, V{"PLAIN"})),
              (V{"GSS-SPNEGO", "GSSAPI"}));
    EXPECT_EQ(names(SaslCandidates(BindMethod::Ntlm, true, V{"GSS-SPNEGO", "GSSAPI", "NTLM"})),
              (V{"GSS-SPNEGO", "NTLM"}));
    EXPECT_EQ(names(SaslCandidates(BindMethod::Digest, true, V{"DIGEST-MD5"})), V{"DIGEST-MD5"});
    EXPECT_TRUE(SaslCandidates(BindMethod::Simple, true, V{}).empty());
}

TEST(BindHelpers, DecodeBinPassword) {
    const struct {
        const char* in;
        bool isBin;
        const char* utf8;
    } cases[] = {
        {"BIN:00410042", true, "AB"},
        {"BIN:0041000000420043", true, "A"}, // ends at the first zero unit
        {"BIN:00E9", true, "\xC3\xA9"},
        {"BIN:D83DDE00", true, "\xF0\x9F\x98\x80"},
        {"BIN:004", true, ""}, // not whole units
        {"BIN:004100", true, ""},
        {"BIN:", true, ""},
        {"bin:0041", false, "untouched"},
        {"secret", false, "untouched"},
    };
    for (const auto& c : cases) {
        std::string out = "untouched";
        EXPECT_EQ(DecodeBinPassword(c.in, out), c.isBin) << c.in;
        EXPECT_EQ(out, c.utf8) << c.in;
    }
}

// A closed port on loopback: the connection fails at once, whatever the bind.
// Only a simple bind that sends a password in clear text is warned about,
// before it is tried.
TEST(OpenLdap, UnreachableServerReportsBindFailure) {
    const std::string failure =
        "ldap_bind_s: [127.0.0.1] Error 0x51 (81) - Can't contact LDAP server\n";
    const std::string warned = std::string(kClearTextBindWarning) + failure;
    const struct {
        const char* name;
        bool simple;
        bool anonymous;
        bool ssl;
        const char* user;
        const char* password;
        std::string out;
    } cases[] = {
        {"simple", true, false, false, "cn=x", "pw", warned},
        {"simple binary password", true, false, false, "cn=x", "BIN:0041", warned},
        {"simple over ssl", true, false, true, "cn=x", "pw", failure},
        {"simple without password", true, false, false, "cn=x", "", failure},
        {"anonymous", false, true, false, "", "pw", failure},
        {"negotiate", false, false, false, "", "pw", failure},
    };
    for (const auto& c : cases) {
        CaptureOutput cap;
        OpenLdapParams p;
        p.server = "127.0.0.1:1";
        p.port = -1; // the port in the host text, also with ssl
        p.simple = c.simple;
        p.anonymous = c.anonymous;
        p.ssl = c.ssl;
        p.user = c.user;
        p.password = c.password;
        p.timeoutSeconds = 5;
        LdapSession s = OpenLdap(p);
        EXPECT_FALSE(s) << c.name;
        EXPECT_EQ(s.get(), nullptr) << c.name;
        EXPECT_EQ(cap.out, c.out) << c.name;
    }
}

TEST(BindHelpers, SendsClearTextPassword) {
    const struct {
        const char* name;
        BindMethod method;
        bool anonymous;
        const char* password;
        bool tls;
        bool warns;
    } cases[] = {
        {"simple with password", BindMethod::Simple, false, "pw", false, true},
        {"simple over tls", BindMethod::Simple, false, "pw", true, false},
        {"simple anonymous", BindMethod::Simple, true, "pw", false, false},
        {"simple without password", BindMethod::Simple, false, "", false, false},
        {"negotiate", BindMethod::Negotiate, false, "pw", false, false},
        {"ntlm", BindMethod::Ntlm, false, "pw", false, false},
        {"digest", BindMethod::Digest, false, "pw", false, false},
    };
    for (const auto& c : cases) {
        BindRequest r;
        r.method = c.method;
        r.anonymous = c.anonymous;
        r.password = c.password;
        r.tlsActive = c.tls;
        EXPECT_EQ(SendsClearTextPassword(r), c.warns) << c.name;
    }
}

// Session options through a stand-in for ldap_set_option that refuses one
// option and records the order of the calls.
int g_refusedOption = 0;
std::vector<int> g_setCalls;
int RefuseOneOption(LDAP* ld, int option, const void* value) {
    g_setCalls.push_back(option);
    if (option == g_refusedOption) return LDAP_OPT_ERROR;
    // The CA file below is only a name; no context is made from it.
    if (option == LDAP_OPT_X_TLS_NEWCTX) return LDAP_OPT_SUCCESS;
    return ldap_set_option(ld, option, value);
}

struct FreshHandle {
    FreshHandle() {
        LDAP* raw = nullptr;
        EXPECT_EQ(ldap_initialize(&raw, "ldap://127.0.0.1:1"), LDAP_SUCCESS);
        handle.reset(raw);
    }
    LdapHandle handle;
};

TEST(SetSessionOptions, TlsOptionFailureStopsOthersAreReported) {
    const struct {
        const char* name;
        int refused;
        bool stops;
        const char* label;
    } cases[] = {
        {"version", LDAP_OPT_PROTOCOL_VERSION, false, "ldap_set_option (Version3): "},
        {"referrals", LDAP_OPT_REFERRALS, false, "ldap_set_option (NoReferrals): "},
        {"network timeout", LDAP_OPT_NETWORK_TIMEOUT, false, "ldap_set_option (Network Timeout): "},
        {"timeout", LDAP_OPT_TIMEOUT, false, "ldap_set_option (Timeout): "},
        {"certificate check", LDAP_OPT_X_TLS_REQUIRE_CERT, true,
         "ldap_set_option (Require Server Cert): "},
        {"tls context", LDAP_OPT_X_TLS_NEWCTX, true, "ldap_set_option (TLS Context): "},
        {"copied ca file", LDAP_OPT_X_TLS_CACERTFILE, true,
         "ldap_set_option (TLS CA Certificate File): "},
        {"copied minimum protocol", LDAP_OPT_X_TLS_PROTOCOL_MIN, true,
         "ldap_set_option (TLS Minimum Protocol): "},
    };
    // Global TLS settings for the copy to carry over to the handle.
    const char* caFile = "/nonexistent/kelvo-ca.pem";
    ASSERT_EQ(ldap_set_option(nullptr, LDAP_OPT_X_TLS_CACERTFILE, caFile), LDAP_OPT_SUCCESS);
    const int tls12 = LDAP_OPT_X_TLS_PROTOCOL_TLS1_2;
    ASSERT_EQ(ldap_set_option(nullptr, LDAP_OPT_X_TLS_PROTOCOL_MIN, &tls12), LDAP_OPT_SUCCESS);
    for (const auto& c : cases) {
        FreshHandle h;
        OpenLdapParams p;
        p.referrals = false;
        p.ssl = true;
        p.timeoutSeconds = 5;
        CaptureOutput cap;
        g_refusedOption = c.refused;
        g_setCalls.clear();
        const bool ok = SetSessionOptions(h.handle.get(), p, "dc1", RefuseOneOption);
        EXPECT_EQ(ok, !c.stops) << c.name;
        EXPECT_EQ(cap.out, std::string(c.label) + ": [dc1] Error 0x52 (82) - Local error\n")
            << c.name;
        // Nothing is set after a refused TLS option; after any other, every
        // option is still tried.
        ASSERT_FALSE(g_setCalls.empty()) << c.name;
        if (c.stops) {
            EXPECT_EQ(g_setCalls.back(), c.refused) << c.name;
        } else {
            EXPECT_EQ(g_setCalls.back(), LDAP_OPT_TIMEOUT) << c.name;
        }
    }
    g_refusedOption = 0;
    (void)ldap_set_option(nullptr, LDAP_OPT_X_TLS_CACERTFILE, nullptr);
    const int anyProtocol = 0;
    (void)ldap_set_option(nullptr, LDAP_OPT_X_TLS_PROTOCOL_MIN, &anyProtocol);
}

// Certificate checking is what ldap.conf, an ldaprc file or LDAPTLS_REQCERT
// configured; -sslignoresrvcert alone turns it off.
TEST(SetSessionOptions, CertificateCheckFollowsTheConfigurationUnlessIgnored) {
    const struct {
        const char* name;
        int configured;
        bool ignore;
        bool startTls;
        int expected;
    } cases[] = {
        {"configured never", LDAP_OPT_X_TLS_NEVER, false, false, LDAP_OPT_X_TLS_NEVER},
        {"configured never, StartTLS", LDAP_OPT_X_TLS_NEVER, false, true, LDAP_OPT_X_TLS_NEVER},
        {"configured allow", LDAP_OPT_X_TLS_ALLOW, false, false, LDAP_OPT_X_TLS_ALLOW},
        {"configured try", LDAP_OPT_X_TLS_TRY, false, false, LDAP_OPT_X_TLS_TRY},
        {"configured demand", LDAP_OPT_X_TLS_DEMAND, false, false, LDAP_OPT_X_TLS_DEMAND},
        {"configured hard", LDAP_OPT_X_TLS_HARD, false, false, LDAP_OPT_X_TLS_HARD},
        {"ignored over demand", LDAP_OPT_X_TLS_DEMAND, true, false, LDAP_OPT_X_TLS_NEVER},
        {"ignored over hard", LDAP_OPT_X_TLS_HARD, true, false, LDAP_OPT_X_TLS_NEVER},
    };
    int saved = 0;
    ASSERT_EQ(ldap_get_option(nullptr, LDAP_OPT_X_TLS_REQUIRE_CERT, &saved), LDAP_OPT_SUCCESS);
    for (const auto& c : cases) {
        ASSERT_EQ(ldap_set_option(nullptr, LDAP_OPT_X_TLS_REQUIRE_CERT, &c.configured),
                  LDAP_OPT_SUCCESS);
        // The handle is made after the configuration is read, as in a run.
        FreshHandle h;
        OpenLdapParams p;
        p.ssl = !c.startTls;
        p.startTls = c.startTls;
        p.ignoreServerCert = c.ignore;
        p.timeoutSeconds = 0;
        CaptureOutput cap;
        g_refusedOption = 0;
        ASSERT_TRUE(SetSessionOptions(h.handle.get(), p, "dc1", RefuseOneOption)) << c.name;
        int got = -1;
        ASSERT_EQ(ldap_get_option(h.handle.get(), LDAP_OPT_X_TLS_REQUIRE_CERT, &got),
                  LDAP_OPT_SUCCESS);
        EXPECT_EQ(got, c.expected) << c.name;
    }
    (void)ldap_set_option(nullptr, LDAP_OPT_X_TLS_REQUIRE_CERT, &saved);
}

TEST(SetSessionOptions, WithoutTlsNoTlsOptionIsTouched) {
    FreshHandle h;
    OpenLdapParams p;
    p.timeoutSeconds = 0;
    CaptureOutput cap;
    g_refusedOption = LDAP_OPT_X_TLS_NEWCTX;
    g_setCalls.clear();
    EXPECT_TRUE(SetSessionOptions(h.handle.get(), p, "dc1", RefuseOneOption));
    EXPECT_EQ(g_setCalls, std::vector<int>{LDAP_OPT_PROTOCOL_VERSION});
    EXPECT_EQ(cap.out, "");
    g_refusedOption = 0;
}

// A TLS context that cannot be made (its CA file is missing) ends the
// connection before any bind, so no password is sent.
TEST(OpenLdap, UnusableTlsSettingsStopBeforeTheBind) {
    ASSERT_EQ(ldap_set_option(nullptr, LDAP_OPT_X_TLS_CACERTFILE, "/nonexistent/kelvo-ca.pem"),
              LDAP_OPT_SUCCESS);
    CaptureOutput cap;
    OpenLdapParams p;
    p.server = "127.0.0.1:1";
    p.port = -1;
    p.ssl = true;
    p.simple = true;
    p.user = "cn=x";
    p.password = "pw";
    p.timeoutSeconds = 5;
    LdapSession s = OpenLdap(p);
    (void)ldap_set_option(nullptr, LDAP_OPT_X_TLS_CACERTFILE, nullptr);
    EXPECT_FALSE(s);
    // The reason is only in libldap's log; the error block names it.
    EXPECT_TRUE(cap.out.starts_with(
        "ldap_set_option (TLS Context): : [127.0.0.1] Error 0x52 (82) - Local error\n"
        "   Extended Error: TLS: "))
        << cap.out;
    EXPECT_NE(cap.out.find("\n   Cause: The CA certificate file or folder named by "
                           "LDAPTLS_CACERT, TLS_CACERT or TLS_CACERTDIR cannot be read.\n"),
              std::string::npos)
        << cap.out;
}

TEST(OpenLdap, DebugBlockHidesPasswordBelowTrace) {
    for (bool trace : {false, true}) {
        CaptureOutput cap(true, trace);
        OpenLdapParams p;
        p.server = ".:1";
        p.simple = true;
        p.user = "cn=x";
        p.password = "s3cret";
        p.timeoutSeconds = 5;
        (void)OpenLdap(p);
        EXPECT_NE(cap.out.find("DEBUG: In OpenLDAP... Params:\nDEBUG:    Server:    localhost\n"
                               "DEBUG:    ARecEx: 0\nDEBUG:    SSL: 0\nDEBUG:    Port:        1\n"),
                  std::string::npos);
        EXPECT_NE(cap.out.find("DEBUG:    Simple: 1\n"), std::string::npos);
        EXPECT_EQ(cap.out.find("s3cret") != std::string::npos, trace);
        EXPECT_NE(cap.out.find("DEBUG: LDAP_OPTION: Version 3\n"), std::string::npos);
        EXPECT_NE(cap.out.find("DEBUG: LDAP_OPTIONS SET\n"), std::string::npos);
        EXPECT_NE(cap.out.find("ldap_bind_s: [localhost] Error 0x51 (81)"), std::string::npos);
    }
}

} // namespace
