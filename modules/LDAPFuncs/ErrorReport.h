// How LDAP failures are shown: one fixed line per failure, followed by the
// server's diagnostic text when there is one, the plain-language meaning of an
// Active Directory code in it, and the cause of a Kerberos, SASL or TLS
// failure.
//
// Codes: libldap reports client-side failures as negative numbers.  Kelvo shows
// and returns them with the values Windows clients use (0x50 - code, so server
// down -1 is 0x51 ... referral limit -17 is 0x61).  Every function here takes
// either form; texts are always those of the original libldap code.
#pragma once

#include <ldap.h>

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

// libldap result code -> the value Kelvo shows and exits with.
std::uint32_t ToWinLdapCode(int code);
// The same, as the int that functions returning a code hand back.
inline int ShownLdapCode(int rc) {
    return static_cast<int>(ToWinLdapCode(rc));
}

// Text of a result code, as libldap words it.
std::string GetLDAPErrorString(int code);

// The line "<what>: [<where>] Error 0x<hex> (<decimal>) - <text>\n".
std::string LDAPErrorLine(int code, std::string_view what, std::string_view where);

// The lines that explain a failure under its error line, each starting with
// three spaces:
//   "Extended Error: <diagnostic>"  the diagnostic text, control characters
//                                   shown as spaces;
//   "Meaning: <sentence>"           when it carries an Active Directory code
//                                   Kelvo knows (ADErrorText.h);
//   "Cause: <sentence>"             when it, or one of `libraryLines`, names a
//                                   Kerberos, SASL or TLS cause (FailureCause.h).
// Without a diagnostic text there are no lines, or with `noteMissing` the
// line "Extended Error: No extended error info available.".
std::string DiagnosticLines(std::string_view diagnostic, bool noteMissing = false,
                            std::span<const std::string> libraryLines = {});

// Writes "<what>: [<where>] Error 0x<hex> (<decimal>) - <text>\n" to standard
// output.  With a session, the DiagnosticLines of its diagnostic text follow;
// `diagnostic` stands in for that text when it is not empty.
void DisplayLDAPError(int code, LDAP* session, std::string_view what, std::string_view where,
                      bool noteMissing = false, std::string_view diagnostic = {},
                      std::span<const std::string> libraryLines = {});

// The server's diagnostic text for the session's last operation; empty when
// there is none.  Returns 0, or the failing ldap_get_option status.
int GetExtendedError(LDAP* session, std::string& text);

// The two-line report of a failed RootDSE or DN search, on standard error:
// "LDAP_SEARCH_S: 0x<hex>\nLDAP_SEARCH_S: <text>\n\n".
void ReportSearchFailure(int code);
