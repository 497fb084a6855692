#include "LdapConfig.h"

#include "LdapPtr.h"
#include "pellixstrings.h"

#include <ldap.h>
#include <unistd.h>

#include <cstdlib>

namespace {

// The keys libldap reads from its files, and as LDAP<key> from the
// environment.  TLS_CRLCHECK is known to OpenSSL builds only.
constexpr std::string_view kConfigKeys[] = {
    "URI",
    "BASE",
    "BINDDN",
    "HOST",
    "PORT",
    "DEREF",
    "SIZELIMIT",
    "TIMELIMIT",
    "REFERRALS",
    "NETWORK_TIMEOUT",
    "TIMEOUT",
    "SOCKET_BIND_ADDRESSES",
    "KEEPALIVE_IDLE",
    "KEEPALIVE_PROBES",
    "KEEPALIVE_INTERVAL",
    "SASL_MECH",
    "SASL_REALM",
    "SASL_AUTHCID",
    "SASL_AUTHZID",
    "SASL_SECPROPS",
    "SASL_NOCANON",
    "SASL_CBINDING",
    "GSSAPI_SIGN",
    "GSSAPI_ENCRYPT",
    "GSSAPI_ALLOW_REMOTE_PRINCIPAL",
    "TLS_CERT",
    "TLS_KEY",
    "TLS_CACERT",
    "TLS_CACERTDIR",
    "TLS_REQCERT",
    "TLS_REQSAN",
    "TLS_RANDFILE",
    "TLS_CIPHER_SUITE",
    "TLS_PROTOCOL_MIN",
    "TLS_PROTOCOL_MAX",
    "TLS_PEERKEY_HASH",
    "TLS_ECNAME",
    "TLS_CRLCHECK",
    "TLS_CRLFILE",
};

// The user files libldap tries for one rc name, as it builds their paths.
void AddUserFiles(const LdapConfigSources& s, const std::string& name,
                  std::vector<std::string>& out) {
    auto consider = [&](const std::string& path) {
        if (s.isFile && s.isFile(path)) out.push_back(path);
    };
    if (const auto home = s.getEnv("HOME")) {
        consider(*home + "/" + name);
        consider(*home + "/." + name);
    }
    consider(name);
}

std::string CertCheckText(int value) {
    switch (value) {
    case LDAP_OPT_X_TLS_NEVER:
        return "never";
    case LDAP_OPT_X_TLS_HARD:
        return "hard";
    case LDAP_OPT_X_TLS_DEMAND:
        return "demand";
    case LDAP_OPT_X_TLS_ALLOW:
        return "allow";
    case LDAP_OPT_X_TLS_TRY:
        return "try";
    default:
        return std::to_string(value);
    }
}

std::string CrlCheckText(int value) {
    switch (value) {
    case LDAP_OPT_X_TLS_CRL_NONE:
        return "none";
    case LDAP_OPT_X_TLS_CRL_PEER:
        return "peer";
    case LDAP_OPT_X_TLS_CRL_ALL:
        return "all";
    default:
        return std::to_string(value);
    }
}

// Protocol versions are (major << 8) + minor, as in TLS_PROTOCOL_MIN 3.3; 0
// is no limit.
std::string ProtocolText(int value) {
    if (value == 0) return "";
    return std::to_string(value >> 8) + "." + std::to_string(value & 0xff);
}

struct ShownSetting {
    std::string_view name;
    int option;
    std::string (*format)(int); // null: a text option
};
constexpr ShownSetting kShownSettings[] = {
    {"URI", LDAP_OPT_URI, nullptr},
    {"BASE", LDAP_OPT_DEFBASE, nullptr},
    {"TLS_REQCERT", LDAP_OPT_X_TLS_REQUIRE_CERT, CertCheckText},
    {"TLS_REQSAN", LDAP_OPT_X_TLS_REQUIRE_SAN, CertCheckText},
    {"TLS_CACERT", LDAP_OPT_X_TLS_CACERTFILE, nullptr},
    {"TLS_CACERTDIR", LDAP_OPT_X_TLS_CACERTDIR, nullptr},
    {"TLS_CERT", LDAP_OPT_X_TLS_CERTFILE, nullptr},
    {"TLS_KEY", LDAP_OPT_X_TLS_KEYFILE, nullptr},
    {"TLS_CIPHER_SUITE", LDAP_OPT_X_TLS_CIPHER_SUITE, nullptr},
    {"TLS_PROTOCOL_MIN", LDAP_OPT_X_TLS_PROTOCOL_MIN, ProtocolText},
    {"TLS_PROTOCOL_MAX", LDAP_OPT_X_TLS_PROTOCOL_MAX, ProtocolText},
    {"TLS_ECNAME", LDAP_OPT_X_TLS_ECNAME, nullptr},
    {"TLS_CRLCHECK", LDAP_OPT_X_TLS_CRLCHECK, CrlCheckText},
    {"TLS_CRLFILE", LDAP_OPT_X_TLS_CRLFILE, nullptr},
};

std::string GlobalText(int option) {
    char* raw = nullptr;
    if (ldap_get_option(nullptr, option, &raw) != LDAP_OPT_SUCCESS || raw == nullptr) return "";
    LdapStringPtr owned(raw);
    return owned.get();
}

} // namespace

LdapConfigSources SystemLdapConfigSources() {
    LdapConfigSources s;
    s.getEnv = [](std::string_view name) -> std::optional<std::string> {
        const char* value = std::getenv(std::string(name).c_str());
        if (value == nullptr) return std::nullopt;
        return std::string(value);
    };
    s.isFile = [](const std::string& path) { return access(path.c_str(), R_OK) == 0; };
    s.setUserId = geteuid() != getuid();
    return s;
}

std::vector<std::string> LdapConfigFiles(const LdapConfigSources& s) {
    std::vector<std::string> files;
    if (!s.getEnv || s.getEnv("LDAPNOINIT")) return files;
    if (s.isFile && s.isFile(std::string(kSystemLdapConf))) files.emplace_back(kSystemLdapConf);
    if (s.setUserId) return files;
    AddUserFiles(s, "ldaprc", files);
    if (const auto conf = s.getEnv("LDAPCONF"); conf && s.isFile && s.isFile(*conf))
        files.push_back(*conf);
    if (const auto rc = s.getEnv("LDAPRC")) AddUserFiles(s, *rc, files);
    return files;
}

std::vector<std::string> LdapConfigVariables(const LdapConfigSources& s) {
    std::vector<std::string> names;
    if (!s.getEnv || s.getEnv("LDAPNOINIT") || s.setUserId) return names;
    for (const auto key : kConfigKeys) {
        std::string name = "LDAP" + std::string(key);
        if (s.getEnv(name)) names.push_back(std::move(name));
    }
    return names;
}

std::vector<std::pair<std::string, std::string>> EffectiveLdapSettings() {
    std::vector<std::pair<std::string, std::string>> settings;
    for (const auto& shown : kShownSettings) {
        std::string value;
        if (shown.format == nullptr) {
            value = GlobalText(shown.option);
            if (shown.option == LDAP_OPT_URI && IsLibraryDefaultUri(value)) value.clear();
        } else {
            int number = 0;
            if (ldap_get_option(nullptr, shown.option, &number) != LDAP_OPT_SUCCESS) continue;
            value = shown.format(number);
        }
        if (!value.empty()) settings.emplace_back(shown.name, std::move(value));
    }
    return settings;
}

std::string LdapSettingsDebugText(const LdapConfigSources& sources) {
    const auto files = LdapConfigFiles(sources);
    const auto variables = LdapConfigVariables(sources);
    std::string text = "DEBUG: LDAP settings files: ";
    text += files.empty() ? "(none)" : JoinTokens(", ", files);
    text += "\nDEBUG: LDAP settings variables: ";
    text += variables.empty() ? "(none)" : JoinTokens(", ", variables);
    text += "\n";
    for (const auto& [name, value] : EffectiveLdapSettings())
        text += "DEBUG: LDAP setting " + name + " = " + value + "\n";
    return text;
}

bool IsLibraryDefaultUri(const std::string& uri) {
    if (uri.empty()) return true;
    if (uri.find(' ') != std::string::npos) return false;
    LDAPURLDesc* parsed = nullptr;
    if (ldap_url_parse(uri.c_str(), &parsed) != LDAP_URL_SUCCESS) return false;
    LdapUrlPtr url(parsed);
    const std::string host = url->lud_host ? url->lud_host : "";
    const std::string scheme = url->lud_scheme ? url->lud_scheme : "";
    return (host.empty() || host == "localhost") && scheme == "ldap" &&
           (url->lud_port == 0 || url->lud_port == LDAP_PORT);
}

std::string ConfiguredBase() {
    return GlobalText(LDAP_OPT_DEFBASE);
}

bool UriListIsTls(std::string_view uris) {
    TokenVector list;
    GetTokens(uris, " ", list);
    bool any = false;
    for (const auto& uri : list) {
        if (uri.empty()) continue;
        if (!IStartsWith(uri, "ldaps://")) return false;
        any = true;
    }
    return any;
}
