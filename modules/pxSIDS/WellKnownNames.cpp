// The alias map and the built-in names: tables that need no directory.
#include "pxSIDS.h"

#include "SddlTables.h"
#include "pellixstrings.h"

#include <array>

namespace pxsids {

namespace {

struct WellKnownName {
    std::string_view name;
    std::string_view sid;
};

// Names the system knows without asking any directory.  Those written with
// an authority ("BUILTIN\", "NT AUTHORITY\") also match by their bare name.
constexpr WellKnownName kWellKnownNames[] = {
    {"NULL SID", "S-1-0-0"},
    {"Everyone", "S-1-1-0"},
    {"LOCAL", "S-1-2-0"},
    {"CONSOLE LOGON", "S-1-2-1"},
    {"CREATOR OWNER", "S-1-3-0"},
    {"CREATOR GROUP", "S-1-3-1"},
    {"OWNER RIGHTS", "S-1-3-4"},
    {"NT AUTHORITY\\DIALUP", "S-1-5-1"},
    {"NT AUTHORITY\\NETWORK", "S-1-5-2"},
    {"NT AUTHORITY\\BATCH", "S-1-5-3"},
    {"NT AUTHORITY\\INTERACTIVE", "S-1-5-4"},
    {"NT AUTHORITY\\SERVICE", "S-1-5-6"},
    {"NT AUTHORITY\\ANONYMOUS LOGON", "S-1-5-7"},
    {"NT AUTHORITY\\PROXY", "S-1-5-8"},
    {"NT AUTHORITY\\ENTERPRISE DOMAIN CONTROLLERS", "S-1-5-9"},
    {"NT AUTHORITY\\SELF", "S-1-5-10"},
    {"NT AUTHORITY\\Authenticated Users", "S-1-5-11"},
    {"NT AUTHORITY\\RESTRICTED", "S-1-5-12"},
    {"NT AUTHORITY\\TERMINAL SERVER USER", "S-1-5-13"},
    {"NT AUTHORITY\\REMOTE INTERACTIVE LOGON", "S-1-5-14"},
    {"NT AUTHORITY\\This Organization", "S-1-5-15"},
    {"NT AUTHORITY\\IUSR", "S-1-5-17"},
    {"NT AUTHORITY\\SYSTEM", "S-1-5-18"},
    {"NT AUTHORITY\\LOCAL SERVICE", "S-1-5-19"},
    {"NT AUTHORITY\\NETWORK SERVICE", "S-1-5-20"},
    {"NT AUTHORITY\\WRITE RESTRICTED", "S-1-5-33"},
    {"NT AUTHORITY\\Other Organization", "S-1-5-1000"},
    {"BUILTIN\\Administrators", "S-1-5-32-544"},
    {"BUILTIN\\Users", "S-1-5-32-545"},
    {"BUILTIN\\Guests", "S-1-5-32-546"},
    {"BUILTIN\\Power Users", "S-1-5-32-547"},
    {"BUILTIN\\Account Operators", "S-1-5-32-548"},
    {"BUILTIN\\Server Operators", "S-1-5-32-549"},
    {"BUILTIN\\Print Operators", "S-1-5-32-550"},
    {"BUILTIN\\Backup Operators", "S-1-5-32-551"},
    {"BUILTIN\\Replicator", "S-1-5-32-552"},
    {"BUILTIN\\Pre-Windows 2000 Compatible Access", "S-1-5-32-554"},
    {"BUILTIN\\Remote Desktop Users", "S-1-5-32-555"},
    {"BUILTIN\\Network Configuration Operators", "S-1-5-32-556"},
    {"BUILTIN\\Incoming Forest Trust Builders", "S-1-5-32-557"},
    {"BUILTIN\\Performance Monitor Users", "S-1-5-32-558"},
    {"BUILTIN\\Performance Log Users", "S-1-5-32-559"},
    {"BUILTIN\\Windows Authorization Access Group", "S-1-5-32-560"},
    {"BUILTIN\\Terminal Server License Servers", "S-1-5-32-561"},
    {"BUILTIN\\Distributed COM Users", "S-1-5-32-562"},
    {"BUILTIN\\IIS_IUSRS", "S-1-5-32-568"},
    {"BUILTIN\\Cryptographic Operators", "S-1-5-32-569"},
    {"BUILTIN\\Event Log Readers", "S-1-5-32-573"},
    {"BUILTIN\\Certificate Service DCOM Access", "S-1-5-32-574"},
    {"BUILTIN\\RDS Remote Access Servers", "S-1-5-32-575"},
    {"BUILTIN\\RDS Endpoint Servers", "S-1-5-32-576"},
    {"BUILTIN\\RDS Management Servers", "S-1-5-32-577"},
    {"BUILTIN\\Hyper-V Administrators", "S-1-5-32-578"},
    {"BUILTIN\\Access Control Assistance Operators", "S-1-5-32-579"},
    {"BUILTIN\\Remote Management Users", "S-1-5-32-580"},
    {"BUILTIN\\Storage Replica Administrators", "S-1-5-32-582"},
    {"Authentication authority asserted identity", "S-1-18-1"},
    {"Service asserted identity", "S-1-18-2"},
};

constexpr std::array<std::string_view, 2> kAuthorities = {"BUILTIN\\", "NT AUTHORITY\\"};

} // namespace

void LoadSddlAliasMap(std::map<std::string, std::string>& out) {
    using platform::security::AliasScope;
    for (const auto& alias : platform::security::kAliases) {
        std::string sid;
        switch (alias.scope) {
        case AliasScope::Fixed:
            sid = alias.sid;
            break;
        case AliasScope::Domain:
            sid = "<DOMAINSID>-" + std::to_string(alias.rid);
            break;
        case AliasScope::RootDomain:
            sid = "<FORESTSID>-" + std::to_string(alias.rid);
            break;
        }
        out[std::string(alias.code)] = std::move(sid);
    }
}

std::optional<std::string_view> WellKnownNameToSid(std::string_view name) {
    for (const auto& entry : kWellKnownNames) {
        if (IEquals(entry.name, name)) return entry.sid;
        for (const auto authority : kAuthorities) {
            if (IStartsWith(entry.name, authority) &&
                IEquals(entry.name.substr(authority.size()), name))
                return entry.sid;
        }
    }
    return std::nullopt;
}


} // namespace pxsids
