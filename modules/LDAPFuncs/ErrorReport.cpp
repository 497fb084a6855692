#include "ErrorReport.h"

#include "Diag.h"
#include "LdapPtr.h"

#include <cstdio>

namespace {

// libldap's client-side codes run from LDAP_SERVER_DOWN (-1) to
// LDAP_REFERRAL_LIMIT_EXCEEDED (-17); Windows numbers the same list from 0x51.
constexpr int kFirstClientCode = LDAP_SERVER_DOWN;
constexpr int kLastClientCode = LDAP_REFERRAL_LIMIT_EXCEEDED;
constexpr int kWinClientBase = 0x50;

// Either form of a code -> the libldap code whose text describes it.
int ToLibLdapCode(int code) {
    if (code >= kWinClientBase - kFirstClientCode && code <= kWinClientBase - kLastClientCode)
        return kWinClientBase - code;
    return code;
}

std::string Hex(std::uint32_t value) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%0x", value);
    return buf;
}

} // namespace

std::uint32_t ToWinLdapCode(int code) {
    if (code >= 0) return static_cast<std::uint32_t>(code);
    // Newer client codes (such as LDAP_X_CONNECTING) have no Windows value.
    if (code < kLastClientCode) code = LDAP_LOCAL_ERROR;
    return static_cast<std::uint32_t>(kWinClientBase - code);
}

std::string GetLDAPErrorString(int code) {
    const char* text = ldap_err2string(ToLibLdapCode(code));
    return text ? text : "";
}

std::string LDAPErrorLine(int code, std::string_view what, std::string_view where) {
    const std::uint32_t shown = ToWinLdapCode(code);
    std::string line(what);
    line += ": [";
    line += where;
    line += "] Error ";
    line += Hex(shown);
    line += " (" + std::to_string(shown) + ") - ";
    line += GetLDAPErrorString(code);
    line += '\n';
    return line;
}

void DisplayLDAPError(int code, LDAP* session, std::string_view what, std::string_view where) {
    KELVO_TRACE_SCOPE();
    diag::Out(LDAPErrorLine(code, what, where));
    if (session == nullptr) return;

    std::string extended;
    (void)GetExtendedError(session, extended);
    if (extended.empty())
        diag::Out("\nExtended Error: No extended error info available.\n\n");
    else
        diag::Out("\nExtended Error: " + extended + "\n\n");
}

int GetExtendedError(LDAP* session, std::string& text) {
    KELVO_TRACE_SCOPE();
    text.clear();
    if (session == nullptr) return LDAP_OPT_ERROR;
    char* raw = nullptr;
    const int rc = ldap_get_option(session, LDAP_OPT_DIAGNOSTIC_MESSAGE, &raw);
    LdapStringPtr owned(raw);
    if (rc == LDAP_OPT_SUCCESS && owned) text = owned.get();
    return rc;
}

void ReportSearchFailure(int code) {
    diag::Err("LDAP_SEARCH_S: " + Hex(ToWinLdapCode(code)) +
              "\nLDAP_SEARCH_S: " + GetLDAPErrorString(code) + "\n\n");
}
