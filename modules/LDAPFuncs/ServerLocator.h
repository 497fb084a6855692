// Finding the server to connect to.
//
// A host name is used as given.  A name that is a domain with LDAP service
// records (_ldap._tcp.<name>) is located through them unless the caller says
// the name is a plain host (A-record exclusive).  Without a name, the server
// comes from the configured LDAP URI (LDAPURI or ldap.conf), else from the
// service records of the Kerberos default realm or the resolver's domain,
// else libldap's own default (localhost).
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

// Where the locator looks; the system versions ask libldap, Kerberos and the
// resolver, tests pass their own.
struct ServerLocatorSources {
    // Configured URI list ("ldap://a ldaps://b:636"), "" when none is configured.
    std::function<std::string()> configuredUri;
    // Domains to try for service records, most preferred first.
    std::function<std::vector<std::string>()> defaultDomains;
    // Service records of a domain as "host:port" texts, best first.
    std::function<std::vector<std::string>(const std::string& domain)> srvHosts;
};

ServerLocatorSources SystemLocatorSources();

struct LocatedServer {
    std::string uri; // space-separated URI list for ldap_initialize
    std::string how; // how it was found, for the debug output
};

// `port` and `ssl` are the connection's (after the port rules); service
// records keep their own port only when the connection uses plain LDAP on the
// default port, and a configured URI is used verbatim only then.
LocatedServer LocateServer(std::string_view host, bool aRecordExclusive, int port, bool ssl,
                           const ServerLocatorSources& sources);
