// Bind methods and how each is carried out with libldap and Cyrus SASL.
//
// Simple binds go as they are.  Negotiate, NTLM and Digest become SASL binds;
// which mechanisms are tried, in which order and with which credentials is
// declared once, in kSaslMechanisms.
#pragma once

#include <ldap.h>

#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

enum class BindMethod { Simple, Negotiate, Ntlm, Digest };

std::string_view BindMethodName(BindMethod method);

// Where a SASL mechanism gets its credentials from.
enum class SaslCredentials {
    Prompts,  // user name, password and realm answered through the SASL prompts
    Kerberos, // a Kerberos ticket: the caller's cache, or one obtained with the password
    GssNtlm,  // NTLM credentials made from the password for the GSS NTLM mechanism
};

struct SaslMechanismChoice {
    BindMethod method;
    bool withUser; // a user was named (else the caller's own credentials)
    std::string_view mechanism;
    SaslCredentials credentials;
};

// In order of preference; a mechanism the server does not offer is skipped.
inline constexpr SaslMechanismChoice kSaslMechanisms[] = {
    {BindMethod::Negotiate, false, "GSS-SPNEGO", SaslCredentials::Kerberos},
    {BindMethod::Negotiate, false, "GSSAPI", SaslCredentials::Kerberos},
    {BindMethod::Negotiate, true, "GSS-SPNEGO", SaslCredentials::Kerberos},
    {BindMethod::Negotiate, true, "GSSAPI", SaslCredentials::Kerberos},
    {BindMethod::Ntlm, false, "GSS-SPNEGO", SaslCredentials::Kerberos},
    {BindMethod::Ntlm, true, "GSS-SPNEGO", SaslCredentials::GssNtlm},
    {BindMethod::Ntlm, true, "NTLM", SaslCredentials::Prompts},
    {BindMethod::Digest, false, "DIGEST-MD5", SaslCredentials::Prompts},
    {BindMethod::Digest, true, "DIGEST-MD5", SaslCredentials::Prompts},
};

// The rows of kSaslMechanisms for a method, in order.  With the server's
// mechanism list (from its RootDSE; empty when unknown) the rows it does not
// offer are dropped, unless that leaves none.
std::vector<SaslMechanismChoice> SaslCandidates(BindMethod method, bool withUser,
                                                std::span<const std::string> serverMechanisms);

// Method from the switches.  A named user whose text contains "cn=" (any
// case) is bound with Digest unless the bind is simple; `switched` tells when
// that rule applied.
BindMethod ChooseBindMethod(bool simpleInForce, bool digest, bool ntlm, std::string_view user,
                            bool& switched);

// "DOMAIN\user" -> domain and user name (a missing name is empty, further
// pieces are ignored); any other text is the user name with no domain.
struct BindIdentity {
    std::string domain;
    std::string user;
};
BindIdentity SplitBindUser(std::string_view user);

// Kerberos principal for a bind user: DOMAIN\user -> user@REALM (the domain
// upper-cased when it is a DNS name, else the default realm, else the domain
// upper-cased); user@domain -> user@DOMAIN; a bare name -> name@default realm.
std::string KerberosPrincipalFor(std::string_view user, std::string_view defaultRealm);

// libldap SASL security properties: no layer of our own over TLS (servers
// refuse two layers), a confidentiality layer when sign and seal is asked for,
// and credential delegation for the GSS mechanisms.  "" keeps libldap's
// defaults.
std::string SaslSecProps(bool kerberosEncryption, bool delegation, bool tlsActive,
                         bool gssMechanism);

// "BIN:" + hex (UTF-16 units, most significant byte first) -> UTF-8, up to the
// first zero unit; a value whose hex is empty or not whole units gives "".
// False when the password is not a "BIN:" value (then `utf8` is untouched).
bool DecodeBinPassword(std::string_view password, std::string& utf8);

class KerberosLogon;

struct BindRequest {
    BindMethod method = BindMethod::Negotiate;
    bool anonymous = false;
    std::string user;     // as given
    std::string password; // decoded
    bool kerberosEncryption = false;
    bool delegation = false;
    bool tlsActive = false;
};

struct BindOutcome {
    std::string mechanism;                   // "SIMPLE" or the SASL mechanism used
    std::unique_ptr<KerberosLogon> kerberos; // credentials that must outlive the bind
    std::string failureDetail;               // local reason when the bind failed before the server
};

// Shown before a bind that would send a password unprotected.
inline constexpr std::string_view kClearTextBindWarning =
    "WARN: A simple bind without -ssl or -starttls sends the password in clear text.\n";

// True when the bind sends a password that nothing protects: a simple bind
// (which never gets a SASL security layer) with a password, not over TLS.
// Anonymous binds and binds with an empty password send none.
bool SendsClearTextPassword(const BindRequest& request);

// Binds the session.  Returns the libldap result code.
int BindSession(LDAP* ld, const BindRequest& request, BindOutcome& outcome);
