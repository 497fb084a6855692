// OpenLDAP's client settings as libldap reads them once per process: the
// system file, the user's ldaprc files and the LDAP* environment variables.
// The session takes them as they are unless a Kelvo switch says otherwise;
// this file tells which sources contributed and what the settings came to,
// for the debug output, and gives the configured base.
//
// libldap's order, later sources overriding earlier ones:
//   /etc/ldap/ldap.conf
//   $HOME/ldaprc, $HOME/.ldaprc, ./ldaprc
//   $LDAPCONF
//   $HOME/$LDAPRC, $HOME/.$LDAPRC, ./$LDAPRC
//   LDAP<name> environment variables (LDAPURI, LDAPBASE, LDAPTLS_REQCERT, ...)
// Nothing is read when LDAPNOINIT is set; only the system file is read by a
// set-user-ID process.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

inline constexpr std::string_view kSystemLdapConf = "/etc/ldap/ldap.conf";

// What the search looks at; the system version asks the process, tests pass
// their own.
struct LdapConfigSources {
    std::function<std::optional<std::string>(std::string_view name)> getEnv;
    std::function<bool(const std::string& path)> isFile; // exists and can be read
    bool setUserId = false;                              // effective uid differs from real
};

LdapConfigSources SystemLdapConfigSources();

// The configuration files that exist, in the order libldap reads them.
std::vector<std::string> LdapConfigFiles(const LdapConfigSources& sources);

// The LDAP<name> environment variables libldap reads that are set, by name.
std::vector<std::string> LdapConfigVariables(const LdapConfigSources& sources);

// The effective client settings (URI, BASE, TLS_*) as name and value, from
// libldap's process-wide options; unset ones are left out.  None of them is a
// secret: the TLS key is a file name.
std::vector<std::pair<std::string, std::string>> EffectiveLdapSettings();

// The "DEBUG: " lines that say where the settings came from and what they
// are.
std::string LdapSettingsDebugText(const LdapConfigSources& sources);

// True for the URI libldap reports when none is configured (ldap://localhost
// on the default port) and for an empty one.
bool IsLibraryDefaultUri(const std::string& uri);

// The configured search base (BASE, LDAPBASE); empty when none is set.
std::string ConfiguredBase();

// True when every URI of a space-separated list uses ldaps://.
bool UriListIsTls(std::string_view uris);
