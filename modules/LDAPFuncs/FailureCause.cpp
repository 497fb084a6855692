#include "FailureCause.h"

#include "pellixstrings.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <system_error>

namespace {

// Certificate status bits of GnuTLS (gnutls_certificate_status_t), which the
// GnuTLS build of libldap logs in hex.
constexpr std::uint32_t kCertRevoked = 1u << 5;
constexpr std::uint32_t kCertSignerNotFound = 1u << 6;
constexpr std::uint32_t kCertSignerNotCa = 1u << 7;
constexpr std::uint32_t kCertInsecureAlgorithm = 1u << 8;
constexpr std::uint32_t kCertNotActivated = 1u << 9;
constexpr std::uint32_t kCertExpired = 1u << 10;
constexpr std::uint32_t kCertUnexpectedOwner = 1u << 14;

constexpr std::string_view kUntrusted =
    "The server's certificate is not trusted: the CA that issued it (or the self-signed "
    "certificate itself) is not among the trusted CAs; name the CA file with LDAPTLS_CACERT or "
    "TLS_CACERT in ldap.conf.";
constexpr std::string_view kExpired = "The server's certificate has expired.";
constexpr std::string_view kNotYetValid =
    "The server's certificate is not valid yet (check the clocks of both computers).";
constexpr std::string_view kRevoked = "The server's certificate has been revoked.";
constexpr std::string_view kHostMismatch =
    "The server's certificate does not carry the name Kelvo connected to: connect by the name "
    "in the certificate (usually the server's full DNS name), not by an IP address or alias.";
constexpr std::string_view kCaFile =
    "The CA certificate file or folder named by LDAPTLS_CACERT, TLS_CACERT or TLS_CACERTDIR "
    "cannot be read.";
constexpr std::string_view kNotTls =
    "The TLS handshake broke off: the port may not offer TLS (-ssl needs the LDAPS port 636 or "
    "3269, -starttls the LDAP port 389), or the server dropped the connection.";
constexpr std::string_view kProtocol =
    "Client and server share no TLS protocol version or cipher suite (see TLS_PROTOCOL_MIN and "
    "TLS_CIPHER_SUITE in ldap.conf).";
constexpr std::string_view kUnknownServer =
    "The KDC does not know the server's service principal (ldap/<host>): this is usually a name "
    "problem; connect by the server's full DNS host name rather than an IP address or alias, "
    "and check that the address resolves back to that name.";
constexpr std::string_view kUnknownClient =
    "The KDC does not know the user: check the user name and its realm.";
constexpr std::string_view kNoTicket =
    "No Kerberos ticket: run kinit first, or give -u and -up so that Kelvo obtains one.";

// Tried in order; the first that matches names the cause.  Texts come from
// MIT Kerberos, GSSAPI, Cyrus SASL, libldap, GnuTLS and OpenSSL as they word
// their messages, and from the servers.
constexpr FailureCauseRule kRules[] = {
    // Kerberos: finding and reaching the KDC.
    {"Cannot find KDC for", 0,
     "No KDC is known for the Kerberos realm: check the realm's kdc lines in krb5.conf or its "
     "DNS SRV records (_kerberos._udp)."},
    {"Cannot contact any KDC", 0,
     "No KDC of the Kerberos realm answered: the domain controllers named for the realm are "
     "down or unreachable, or krb5.conf names the wrong hosts."},
    {"Cannot resolve network address for KDC", 0,
     "The host name of the realm's KDC does not resolve in DNS."},
    {"Clock skew too great", 0,
     "The clocks of this computer and the domain controller differ by more than Kerberos allows "
     "(5 minutes by default): synchronise the time."},
    {"Ticket expired", 0, "The Kerberos ticket has expired: renew it (kinit), or give -u and -up."},
    {"No Kerberos credentials available", 0, kNoTicket},
    {"No credentials cache found", 0, kNoTicket},
    {"SPNEGO cannot find mechanisms to negotiate", 0, kNoTicket},
    {"Server not found in Kerberos database", 0, kUnknownServer},
    {"Server '*' not found in Kerberos database", 0, kUnknownServer},
    {"Client not found in Kerberos database", 0, kUnknownClient},
    {"Client '*' not found in Kerberos database", 0, kUnknownClient},
    {"Preauthentication failed", 0, "The Kerberos password is wrong."},
    {"Password incorrect", 0, "The Kerberos password is wrong."},
    {"credentials have been revoked", 0,
     "The KDC refused the user: the account is disabled, locked out or expired."},
    {"Password has expired", 0, "The user's password has expired: change it first."},
    {"KDC has no support for encryption type", 0,
     "The user and the KDC share no Kerberos encryption type (see the account's supported "
     "encryption types and krb5.conf)."},
    // SASL.
    {"no mechanism available", 0,
     "No usable SASL mechanism: the Cyrus SASL plug-in for it is not installed (for Kerberos "
     "libsasl2-modules-gssapi-mit), or the server does not offer it."},
    // Servers that refuse a bind without encryption.
    {"Transport encryption required", 0,
     "The server accepts this bind only over an encrypted connection: add -ssl or -starttls."},
    // TLS certificates: OpenSSL's verification texts, libldap's own checks and
    // GnuTLS's status bits.
    {"unable to get local issuer certificate", 0, kUntrusted},
    {"self-signed certificate", 0, kUntrusted},
    {"self signed certificate", 0, kUntrusted},
    {"certificate has expired", 0, kExpired},
    {"peer certificate is expired", 0, kExpired},
    {"certificate is not yet valid", 0, kNotYetValid},
    {"peer certificate not yet active", 0, kNotYetValid},
    {"certificate revoked", 0, kRevoked},
    {"hostname does not match", 0, kHostMismatch},
    {"does not match common name in certificate", 0, kHostMismatch},
    {"does not match subjectAltName in certificate", 0, kHostMismatch},
    {"hostname mismatch", 0, kHostMismatch},
    {"", kCertSignerNotFound, kUntrusted},
    {"", kCertSignerNotCa, kUntrusted},
    {"", kCertExpired, kExpired},
    {"", kCertNotActivated, kNotYetValid},
    {"", kCertRevoked, kRevoked},
    {"", kCertUnexpectedOwner, kHostMismatch},
    {"", kCertInsecureAlgorithm,
     "The server's certificate is signed with an algorithm no longer considered secure."},
    {"could not load verify locations", 0, kCaFile},
    {"could not use CA certificate", 0, kCaFile},
    // TLS handshakes.
    {"Error in the pull function", 0, kNotTls},
    {"An unexpected TLS packet was received", 0, kNotTls},
    {"wrong version number", 0, kNotTls},
    {"unexpected eof while reading", 0, kNotTls},
    {"A packet with illegal or unsupported version was received", 0, kProtocol},
    {"Could not negotiate a supported cipher suite", 0, kProtocol},
    {"No supported cipher suites have been found", 0, kProtocol},
    {"A TLS fatal alert has been received", 0, kProtocol},
    {"unsupported protocol", 0, kProtocol},
    {"no protocols available", 0, kProtocol},
    {"alert protocol version", 0, kProtocol},
};

// The GnuTLS build of libldap logs a failed certificate check as
// "TLS: peer cert untrusted or revoked (0x42)".
constexpr std::string_view kStatusLine = "peer cert untrusted or revoked (0x";

// True when the pieces of `pattern` between its '*'s occur in `text` in
// order, ignoring case.
bool Matches(std::string_view text, std::string_view pattern) {
    std::size_t from = 0;
    while (true) {
        const auto star = pattern.find('*');
        const std::string_view piece = pattern.substr(0, star);
        const auto at = IFind(text.substr(from), piece);
        if (at == std::string_view::npos) return false;
        from += at + piece.size();
        if (star == std::string_view::npos) return true;
        pattern.remove_prefix(star + 1);
    }
}

// The status bits of a GnuTLS status line; 0 when the text is none.
std::uint32_t TlsStatus(std::string_view text) {
    const auto at = text.find(kStatusLine);
    if (at == std::string_view::npos) return 0;
    const std::string_view digits = text.substr(at + kStatusLine.size());
    std::uint32_t status = 0;
    const auto [end, ec] =
        std::from_chars(digits.data(), digits.data() + digits.size(), status, 16);
    if (ec != std::errc() || end == digits.data() || end == digits.data() + digits.size() ||
        *end != ')')
        return 0;
    return status;
}

} // namespace

std::span<const FailureCauseRule> FailureCauseRules() {
    return kRules;
}

std::string_view FailureCause(std::string_view text) {
    const std::uint32_t status = TlsStatus(text);
    for (const auto& rule : kRules) {
        if (rule.text.empty() ? (status & rule.tlsStatus) != 0 : Matches(text, rule.text))
            return rule.cause;
    }
    return {};
}

std::string_view FailureCause(std::string_view diagnostic,
                              std::span<const std::string> libraryLines) {
    if (const auto cause = FailureCause(diagnostic); !cause.empty()) return cause;
    for (const auto& line : libraryLines)
        if (const auto cause = FailureCause(line); !cause.empty()) return cause;
    return {};
}
