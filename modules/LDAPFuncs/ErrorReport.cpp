#include "ErrorReport.h"

#include "ADErrorText.h"
#include "Diag.h"
#include "FailureCause.h"
#include "LdapPtr.h"

#include <cstdio>

namespace {

// libldap's client-side codes run from LDAP_SERVER_DOWN (-1) to
// LDAP_REFERRAL_LIMIT_EXCEEDED (-17); Windows numbers the same list from 0x51.
constexpr int kFirstClientCode = LDAP_SERVER_DOWN;
constexpr int kLastClientCode = LDAP_REFERRAL_LIMIT_EXCEEDED;
constexpr int kWinClientBase = 0x50;
constexpr std::string_view kIndent = "   ";

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

std::string DiagnosticLines(std::string_view diagnostic, bool noteMissing,
                            std::span<const std::string> libraryLines) {
    // Server text is shown as one line: line breaks (Active Directory's
    // attribute errors have them) and other control characters become spaces.
    std::string shown;
    shown.reserve(diagnostic.size());
    for (const char c : diagnostic) {
        const auto u = static_cast<unsigned char>(c);
        shown += u < 0x20 || u == 0x7f ? ' ' : c;
    }
    while (!shown.empty() && shown.back() == ' ')
        shown.pop_back();
    if (shown.empty())
        return noteMissing ? std::string(kIndent) + "Extended Error: No extended error info "
                                                    "available.\n"
                           : std::string();
    std::string lines = std::string(kIndent) + "Extended Error: " + shown + "\n";
    if (const auto meaning = ADErrorMeaning(diagnostic); !meaning.empty())
        lines += std::string(kIndent) + "Meaning: " + std::string(meaning) + "\n";
    if (const auto cause = FailureCause(diagnostic, libraryLines); !cause.empty())
        lines += std::string(kIndent) + "Cause: " + std::string(cause) + "\n";
    return lines;
}

void DisplayLDAPError(int code, LDAP* session, std::string_view what, std::string_view where,
                      bool noteMissing, std::string_view diagnostic,
                      std::span<const std::string> libraryLines) {
    KELVO_TRACE_SCOPE();
    std::string text = LDAPErrorLine(code, what, where);
    if (session != nullptr) {
        std::string extended(diagnostic);
        if (extended.empty()) (void)GetExtendedError(session, extended);
        text += DiagnosticLines(extended, noteMissing, libraryLines);
    }
    diag::Out(text);
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
