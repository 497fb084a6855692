#include "LdapConfig.h"

#include <ldap.h>

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

// A process environment and file system in memory.
struct FakeSystem {
    std::map<std::string, std::string> env;
    std::set<std::string> files;
    bool setUserId = false;

    LdapConfigSources Sources() const {
        LdapConfigSources s;
        s.getEnv = [this](std::string_view name) -> std::optional<std::string> {
            const auto it = env.find(std::string(name));
            if (it == env.end()) return std::nullopt;
            return it->second;
        };
        s.isFile = [this](const std::string& path) { return files.contains(path); };
        s.setUserId = setUserId;
        return s;
    }
};

using Files = std::vector<std::string>;

// The files libldap reads, in its order (later ones win), for a few set-ups.
TEST(LdapConfigFiles, OrderAndConditions) {
    const Files everything = {"/etc/ldap/ldap.conf", "/home/u/ldaprc", "/home/u/.ldaprc", "ldaprc",
                              "/srv/ldap.conf",      "/home/u/lab.rc", "/home/u/.lab.rc", "lab.rc"};
    const struct {
        const char* name;
        std::map<std::string, std::string> env;
        bool setUserId;
        Files expected;
    } cases[] = {
        {"all sources, system file first, LDAPRC files last",
         {{"HOME", "/home/u"}, {"LDAPCONF", "/srv/ldap.conf"}, {"LDAPRC", "lab.rc"}},
         false,
         everything},
        {"LDAPNOINIT reads nothing",
         {{"HOME", "/home/u"}, {"LDAPNOINIT", "1"}, {"LDAPRC", "lab.rc"}},
         false,
         {}},
        {"set-user-ID reads the system file only",
         {{"HOME", "/home/u"}, {"LDAPCONF", "/srv/ldap.conf"}},
         true,
         {"/etc/ldap/ldap.conf"}},
        {"no HOME: only the working folder's ldaprc", {}, false, {"/etc/ldap/ldap.conf", "ldaprc"}},
        {"an absolute LDAPRC is also tried under HOME, as libldap builds the names",
         {{"HOME", "/home/u"}, {"LDAPRC", "/abs/rc"}},
         false,
         {"/etc/ldap/ldap.conf", "/home/u/ldaprc", "/home/u/.ldaprc", "ldaprc", "/abs/rc"}},
    };
    for (const auto& c : cases) {
        FakeSystem sys;
        sys.env = c.env;
        sys.setUserId = c.setUserId;
        sys.files = {everything.begin(), everything.end()};
        sys.files.insert("/abs/rc");
        EXPECT_EQ(LdapConfigFiles(sys.Sources()), c.expected) << c.name;
    }
}

TEST(LdapConfigFiles, MissingFilesAreLeftOut) {
    FakeSystem sys;
    sys.env = {{"HOME", "/home/u"}, {"LDAPCONF", "/srv/none.conf"}};
    sys.files = {"/home/u/.ldaprc"};
    EXPECT_EQ(LdapConfigFiles(sys.Sources()), Files{"/home/u/.ldaprc"});
}

TEST(LdapConfigVariables, OnlyTheNamesLibldapReads) {
    FakeSystem sys;
    sys.env = {{"LDAPURI", "ldaps://dc1"}, {"LDAPTLS_REQCERT", "never"},  {"LDAPBASE", "dc=x"},
               {"LDAPBINDPW", "Secret1"},  {"LDAPTLS_CACERT", "/ca.pem"}, {"HOME", "/home/u"}};
    // In the order of libldap's keys; LDAPBINDPW is no setting of it.
    EXPECT_EQ(LdapConfigVariables(sys.Sources()),
              (Files{"LDAPURI", "LDAPBASE", "LDAPTLS_CACERT", "LDAPTLS_REQCERT"}));
    sys.env["LDAPNOINIT"] = "1";
    EXPECT_TRUE(LdapConfigVariables(sys.Sources()).empty());
}

// The debug text names sources and shows the effective settings in words.
TEST(LdapSettingsDebugText, ShowsSourcesAndSettings) {
    FakeSystem sys;
    sys.env = {{"HOME", "/home/u"}, {"LDAPTLS_REQCERT", "never"}};
    sys.files = {"/home/u/.ldaprc"};
    const int never = LDAP_OPT_X_TLS_NEVER;
    int saved = 0;
    ASSERT_EQ(ldap_get_option(nullptr, LDAP_OPT_X_TLS_REQUIRE_CERT, &saved), LDAP_OPT_SUCCESS);
    ASSERT_EQ(ldap_set_option(nullptr, LDAP_OPT_X_TLS_REQUIRE_CERT, &never), LDAP_OPT_SUCCESS);
    const int tls12 = LDAP_OPT_X_TLS_PROTOCOL_TLS1_2;
    ASSERT_EQ(ldap_set_option(nullptr, LDAP_OPT_X_TLS_PROTOCOL_MIN, &tls12), LDAP_OPT_SUCCESS);
    const std::string text = LdapSettingsDebugText(sys.Sources());
    EXPECT_NE(text.find("DEBUG: LDAP settings files: /home/u/.ldaprc\n"), std::string::npos);
    EXPECT_NE(text.find("DEBUG: LDAP settings variables: LDAPTLS_REQCERT\n"), std::string::npos);
    EXPECT_NE(text.find("DEBUG: LDAP setting TLS_REQCERT = never\n"), std::string::npos);
    EXPECT_NE(text.find("DEBUG: LDAP setting TLS_PROTOCOL_MIN = 3.3\n"), std::string::npos);
    (void)ldap_set_option(nullptr, LDAP_OPT_X_TLS_REQUIRE_CERT, &saved);
    const int any = 0;
    (void)ldap_set_option(nullptr, LDAP_OPT_X_TLS_PROTOCOL_MIN, &any);

    FakeSystem bare;
    bare.env = {{"LDAPNOINIT", "1"}};
    const std::string none = LdapSettingsDebugText(bare.Sources());
    EXPECT_NE(none.find("DEBUG: LDAP settings files: (none)\n"), std::string::npos);
    EXPECT_NE(none.find("DEBUG: LDAP settings variables: (none)\n"), std::string::npos);
}

TEST(UriListIsTls, Table) {
    const struct {
        const char* uris;
        bool tls;
    } cases[] = {
        {"ldaps://dc1:636", true},
        {"LDAPS://dc1 ldaps://dc2", true},
        {"ldaps://dc1 ldap://dc2", false}, // the plain one could be reached
        {"ldap://dc1", false},
        {"", false},
        {"  ", false},
        {"ldapi:///", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(UriListIsTls(c.uris), c.tls) << c.uris;
}

} // namespace

namespace {

TEST(IsLibraryDefaultUri, Table) {
    const struct {
        const char* uri;
        bool isDefault;
    } cases[] = {
        {"", true},
        {"ldap://localhost", true},
        {"ldap://localhost:389/??base", true},
        {"ldap:///", true},
        {"ldap://localhost:3890", false},
        {"ldaps://localhost", false},
        {"ldap://dc1", false},
        {"ldap://localhost ldap://dc1", false},
        {"not a url", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsLibraryDefaultUri(c.uri), c.isDefault) << c.uri;
}

} // namespace
