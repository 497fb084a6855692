// The underlying cause of a failed connection, TLS handshake or bind, in
// plain words, recognised from the texts the libraries leave behind: the
// session's diagnostic message (libldap, Cyrus SASL with the GSSAPI and
// Kerberos messages inside it, Kelvo's own Kerberos logon) and the "TLS:"
// lines of libldap's log (the GnuTLS build reports certificate problems only
// there).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

struct FailureCauseRule {
    std::string_view text;   // matched anywhere, ignoring case, '*' standing for any text;
                             // empty for status rules
    std::uint32_t tlsStatus; // GnuTLS certificate status bits, for the status rules
    std::string_view cause;  // one sentence
};

// Every rule, in the order they are tried.
std::span<const FailureCauseRule> FailureCauseRules();

// The cause named by one text; empty when no rule matches.
std::string_view FailureCause(std::string_view text);

// The cause named by the diagnostic message, else by the first library log
// line that names one; empty when none does.
std::string_view FailureCause(std::string_view diagnostic,
                              std::span<const std::string> libraryLines);
