#include "ServerLocator.h"

#include "Connection.h"
#include "Credentials.h"
#include "Diag.h"
#include "LdapConfig.h"
#include "LdapPtr.h"
#include "pellixstrings.h"

#include <netinet/in.h>
#include <resolv.h>

#include <arpa/inet.h>

#include <algorithm>
#include <cstdlib>

namespace {

bool IsAddressLiteral(std::string_view host) {
    if (host.empty()) return false;
    if (host.front() == '[') return true;
    const std::string text(host);
    in_addr v4{};
    in6_addr v6{};
    return inet_pton(AF_INET, text.c_str(), &v4) == 1 ||
           inet_pton(AF_INET6, text.c_str(), &v6) == 1;
}

// "host:port" (as service records are listed) -> host and port.
void SplitHostPort(const std::string& entry, std::string& host, int& port) {
    host = entry;
    port = 0;
    const auto colon = entry.rfind(':');
    if (colon == std::string::npos || entry.find(']') != std::string::npos) return;
    host = entry.substr(0, colon);
    port = std::atoi(entry.c_str() + colon + 1);
}

// Adds one URI to a space-separated list.
void AppendUri(std::string& uris, std::string_view uri) {
    if (!uris.empty()) uris += ' ';
    uris += uri;
}

std::string UrisFromSrv(const std::vector<std::string>& entries, int port, bool ssl) {
    const bool keepSrvPort = !ssl && port == kPortLdap;
    std::string uris;
    for (const auto& entry : entries) {
        std::string host;
        int srvPort = 0;
        SplitHostPort(entry, host, srvPort);
        if (host.empty()) continue;
        AppendUri(uris, BuildLdapUri(host, keepSrvPort && srvPort > 0 ? srvPort : port, ssl));
    }
    return uris;
}

// Configured URIs with our scheme and port in place of theirs.
std::string RebaseConfiguredUris(const std::string& configured, int port, bool ssl) {
    TokenVector uris;
    GetTokens(configured, " ", uris);
    std::string out;
    for (const auto& uri : uris) {
        if (uri.empty()) continue;
        LDAPURLDesc* raw = nullptr;
        if (ldap_url_parse(uri.c_str(), &raw) != LDAP_URL_SUCCESS) continue;
        LdapUrlPtr url(raw);
        const std::string host = url->lud_host ? url->lud_host : "";
        if (host.empty()) continue;
        AppendUri(out, BuildLdapUri(host, port, ssl));
    }
    return out;
}

std::string SystemConfiguredUri() {
    char* raw = nullptr;
    if (ldap_get_option(nullptr, LDAP_OPT_URI, &raw) != LDAP_OPT_SUCCESS) return "";
    LdapStringPtr owned(raw);
    if (!owned) return "";
    std::string uri = owned.get();
    // libldap reports its built-in default when nothing is configured; that is
    // the last resort here, not a configured server.
    if (IsLibraryDefaultUri(uri)) return "";
    return uri;
}

std::string ResolverDomain() {
    struct __res_state state {};
    if (res_ninit(&state) != 0) return "";
    std::string domain = state.defdname;
    res_nclose(&state);
    return domain;
}

std::vector<std::string> SystemDefaultDomains() {
    std::vector<std::string> domains;
    for (const std::string& candidate : {KerberosDefaultRealmName(), ResolverDomain()}) {
        std::string domain = StrToLower(candidate);
        while (!domain.empty() && domain.back() == '.')
            domain.pop_back();
        if (domain.empty()) continue;
        if (std::ranges::find(domains, domain) == domains.end()) domains.push_back(domain);
    }
    return domains;
}

std::vector<std::string> SystemSrvHosts(const std::string& domain) {
    char* raw = nullptr;
    std::vector<std::string> hosts;
    if (ldap_domain2hostlist(domain.c_str(), &raw) != LDAP_SUCCESS) return hosts;
    LdapStringPtr owned(raw);
    if (owned) GetTokens(owned.get(), " ", hosts);
    return hosts;
}

} // namespace

ServerLocatorSources SystemLocatorSources() {
    return {SystemConfiguredUri, SystemDefaultDomains, SystemSrvHosts};
}

LocatedServer LocateServer(std::string_view host, bool aRecordExclusive, int port, bool ssl,
                           const ServerLocatorSources& sources) {
    KELVO_TRACE_SCOPE();
    if (!host.empty()) {
        if (!aRecordExclusive && !IsAddressLiteral(host) && !IEquals(host, "localhost") &&
            sources.srvHosts) {
            std::string uris = UrisFromSrv(sources.srvHosts(std::string(host)), port, ssl);
            if (!uris.empty()) return {uris, "service records of " + std::string(host)};
        }
        return {BuildLdapUri(host, port, ssl), "host"};
    }

    const std::string configured = sources.configuredUri ? sources.configuredUri() : "";
    if (!configured.empty()) {
        if (!ssl && port == kPortLdap) return {configured, "configured URI"};
        std::string uris = RebaseConfiguredUris(configured, port, ssl);
        if (!uris.empty()) return {uris, "configured URI"};
    }
    if (sources.defaultDomains && sources.srvHosts) {
        for (const auto& domain : sources.defaultDomains()) {
            std::string uris = UrisFromSrv(sources.srvHosts(domain), port, ssl);
            if (!uris.empty()) return {uris, "service records of " + domain};
        }
    }
    return {BuildLdapUri("localhost", port, ssl), "default"};
}
