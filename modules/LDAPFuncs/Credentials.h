// Credentials obtained for a bind from a user name and password: a Kerberos
// ticket in a private memory cache, or GSS credentials for NTLM.
#pragma once

#include <gssapi/gssapi.h>
#include <krb5.h>

#include <memory>
#include <string>

// The Kerberos default realm from the system configuration ("" when none).
std::string KerberosDefaultRealmName();

// A ticket-granting ticket for one principal, held in a MEMORY: cache that
// GSSAPI uses for as long as this object lives.
class KerberosLogon {
  public:
    // On failure returns null, sets `error` to Kerberos' own text and
    // `ldapCode` to the LDAP result code the failure is reported with.
    static std::unique_ptr<KerberosLogon> Obtain(const std::string& principal,
                                                 const std::string& password, bool forwardable,
                                                 std::string& error, int& ldapCode);
    ~KerberosLogon();
    KerberosLogon(const KerberosLogon&) = delete;
    KerberosLogon& operator=(const KerberosLogon&) = delete;

    const std::string& CacheName() const { return cacheName_; }

  private:
    KerberosLogon(krb5_context ctx, krb5_ccache cache, std::string name);
    krb5_context ctx_;
    krb5_ccache cache_;
    std::string cacheName_;
};

// GSS credentials that SPNEGO may only use with the NTLM mechanism.
class GssNtlmCredential {
  public:
    // `user` as "DOMAIN\user" or "user@domain".  Null with `error` set on failure.
    static std::unique_ptr<GssNtlmCredential>
    Acquire(const std::string& user, const std::string& password, std::string& error);
    ~GssNtlmCredential();
    GssNtlmCredential(const GssNtlmCredential&) = delete;
    GssNtlmCredential& operator=(const GssNtlmCredential&) = delete;

    gss_cred_id_t get() const { return cred_; }

  private:
    explicit GssNtlmCredential(gss_cred_id_t cred) : cred_(cred) {}
    gss_cred_id_t cred_;
};
