// Opening and binding the one LDAP session of a run, and the host/URL parsers
// the driver uses before it connects.
#pragma once

#include <ldap.h>

#include "LdapPtr.h"

#include <map>
#include <memory>
#include <string>
#include <string_view>

inline constexpr int kPortLdap = 389;
inline constexpr int kPortLdaps = 636;
inline constexpr int kPortGc = 3268;
inline constexpr int kPortGcSsl = 3269;
inline constexpr int kDefaultTimeoutSeconds = 120;

// Everything OpenLdap needs, one field per connection switch.
struct OpenLdapParams {
    std::string server;              // host text, may carry ":port"; empty: default server
    bool aRecordExclusive = false;   // server is a host name, never a domain to locate
    int port = 0;                    // 0 default, 1 global catalog, >= 2 explicit
    bool referrals = true;           // chase referrals
    bool version3 = true;            // request protocol version 3
    bool anonymous = false;          // bind without credentials
    std::string user;                // DOMAIN\user, user@domain, or a DN
    std::string password;            // clear text or "BIN:" + hex (UTF-16, four digits a unit)
    bool simple = false;             // simple bind
    bool digest = false;             // Digest (SASL DIGEST-MD5)
    bool kerberosEncryption = false; // sign and seal (SASL security layer)
    bool extendedErrorInfo = false;  // also say when a failure has no diagnostic text
    bool ssl = false;                // LDAP over TLS (ldaps)
    bool delegation = false;         // allow the server to act with the caller's credentials
    bool requireWriteable = true;    // locator hint; a writeable server is all we ever use
    bool ignoreServerCert = false;   // accept any server certificate
    bool ntlm = false;               // NTLM bind
    bool startTls = false;           // StartTLS before the bind
    int timeoutSeconds = kDefaultTimeoutSeconds; // connect and per-request; <= 0: none
};

class KerberosLogon;
struct ConnectWatch;

// The bound session.  Move-only; unbinds when it goes out of scope.
class LdapSession {
  public:
    LdapSession();
    LdapSession(LdapSession&&) noexcept;
    LdapSession& operator=(LdapSession&&) noexcept;
    LdapSession(const LdapSession&) = delete;
    LdapSession& operator=(const LdapSession&) = delete;
    ~LdapSession();

    LDAP* get() const { return handle_.get(); }
    explicit operator bool() const { return handle_ != nullptr; }
    // Unbinds now (and drops credentials obtained for the bind).
    void Unbind();

    // Host text actually used (after the "." -> localhost rule, without the
    // port); empty when the default server was located.
    const std::string& ServerName() const { return serverName_; }
    // The chosen port as decimal text.
    const std::string& PortText() const { return portText_; }
    // Name of the server the client reached.
    const std::string& HostName() const { return hostName_; }
    // URI list handed to libldap.
    const std::string& Uri() const { return uri_; }
    // "SIMPLE" or the SASL mechanism that bound the session.
    const std::string& BindMechanism() const { return mechanism_; }
    bool IsTls() const { return tls_; }
    unsigned SaslSsf() const { return ssf_; }
    // True when traffic is encrypted: TLS, or a SASL layer with confidentiality.
    bool IsProtected() const { return tls_ || ssf_ > 1; }
    // For a session that did not bind: the result code the server gave the
    // bind (such as 49, invalid credentials), or 0 when it never answered.
    int BindResult() const { return bindResult_; }

  private:
    friend LdapSession OpenLdap(const OpenLdapParams& params);

    // Declared before the handle so the handle is unbound first.
    std::unique_ptr<KerberosLogon> kerberos_;
    std::unique_ptr<ConnectWatch> connectWatch_;
    LdapHandle handle_;
    std::string serverName_;
    std::string portText_;
    std::string hostName_;
    std::string uri_;
    std::string mechanism_;
    bool tls_ = false;
    unsigned ssf_ = 0;
    int bindResult_ = 0;
};

// Connects, sets the options, optionally starts TLS and binds.  A failure is
// reported through DisplayLDAPError, with the diagnostic text and its meaning
// or cause, and gives an empty session.
[[nodiscard]] LdapSession OpenLdap(const OpenLdapParams& params);

// The libldap call that sets a session option (ldap_set_option).
using SetOptionCall = int (*)(LDAP* ld, int option, const void* value);

// Sets the session options the parameters ask for, in order, each failure
// reported through DisplayLDAPError.  The plain options (version, referrals,
// timeouts) are set as far as they go; a TLS option that cannot be set
// (certificate checking, the TLS settings of ldap.conf and the environment,
// the TLS context) stops at once and gives false: the connection must not be
// used then.
[[nodiscard]] bool SetSessionOptions(LDAP* ld, const OpenLdapParams& params, std::string_view where,
                                     SetOptionCall setOption = ldap_set_option);

// Strips ":port" from `host` and returns the port, 0 when there is none.
// IPv6 addresses only give a port in the "[addr]:port" form.
int CheckHostNameForPort(std::string& host);

// Splits an LDAP URL into "URL", "PROTOCOL", "HOST" and, when the URL has a
// path, "BASE", "ATTRS", "SCOPE" and "FILTER".  False (and `fields` untouched)
// unless the URL begins with "LDAP://" or "LDAPS://" in any case.
bool ParseLDAPURL(std::string_view url, std::map<std::string, std::string>& fields);

// The host and port OpenLdap connects to: the port rules applied to the host
// text and the port parameter, and a host beginning with "." made "localhost".
struct HostAndPort {
    std::string host;
    int port = kPortLdap;
};
HostAndPort ResolveHostAndPort(std::string_view server, int portParam, bool ssl);

// "ldap://host:port" or "ldaps://host:port"; IPv6 addresses are bracketed.
std::string BuildLdapUri(std::string_view host, int port, bool ssl);
