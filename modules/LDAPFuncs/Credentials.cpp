#include "Credentials.h"

#include "Diag.h"

#include <gssapi/gssapi_ext.h>
#include <gssapi/gssapi_krb5.h>
#include <ldap.h>

#include <string_view>

namespace {

// 1.3.6.1.5.5.2 and 1.3.6.1.4.1.311.2.2.10
gss_OID_desc kSpnegoOid = {6, const_cast<char*>("\x2b\x06\x01\x05\x05\x02")};
gss_OID_desc kNtlmSspOid = {10, const_cast<char*>("\x2b\x06\x01\x04\x01\x82\x37\x02\x02\x0a")};

std::string KerberosMessage(krb5_context ctx, krb5_error_code code) {
    const char* msg = krb5_get_error_message(ctx, code);
    std::string text = msg ? msg : "Kerberos error " + std::to_string(code);
    krb5_free_error_message(ctx, msg);
    return text;
}

int LdapCodeForKerberos(krb5_error_code code) {
    switch (code) {
    case KRB5KDC_ERR_PREAUTH_FAILED:
    case KRB5KRB_AP_ERR_BAD_INTEGRITY:
    case KRB5KDC_ERR_C_PRINCIPAL_UNKNOWN:
    case KRB5KDC_ERR_CLIENT_REVOKED:
    case KRB5KDC_ERR_KEY_EXP:
    case KRB5_PREAUTH_FAILED:
        return LDAP_INVALID_CREDENTIALS;
    default:
        return LDAP_LOCAL_ERROR;
    }
}

std::string GssMessage(OM_uint32 major, OM_uint32 minor) {
    std::string text;
    for (auto [status, type] :
         {std::pair{major, GSS_C_GSS_CODE}, std::pair{minor, GSS_C_MECH_CODE}}) {
        if (status == 0) continue;
        OM_uint32 context = 0;
        do {
            OM_uint32 min = 0;
            gss_buffer_desc buf = GSS_C_EMPTY_BUFFER;
            if (GSS_ERROR(gss_display_status(&min, status, type, GSS_C_NO_OID, &context, &buf)))
                break;
            if (!text.empty()) text += "; ";
            text.append(static_cast<const char*>(buf.value), buf.length);
            gss_release_buffer(&min, &buf);
        } while (context != 0);
    }
    return text;
}

} // namespace

std::string KerberosDefaultRealmName() {
    krb5_context ctx = nullptr;
    if (krb5_init_context(&ctx) != 0) return "";
    std::string realm;
    char* raw = nullptr;
    if (krb5_get_default_realm(ctx, &raw) == 0 && raw != nullptr) {
        realm = raw;
        krb5_free_default_realm(ctx, raw);
    }
    krb5_free_context(ctx);
    return realm;
}

KerberosLogon::KerberosLogon(krb5_context ctx, krb5_ccache cache, std::string name)
    : ctx_(ctx), cache_(cache), cacheName_(std::move(name)) {}

KerberosLogon::~KerberosLogon() {
    OM_uint32 minor = 0;
    gss_krb5_ccache_name(&minor, nullptr, nullptr);
    krb5_cc_destroy(ctx_, cache_);
    krb5_free_context(ctx_);
}

std::unique_ptr<KerberosLogon> KerberosLogon::Obtain(const std::string& principal,
                                                     const std::string& password, bool forwardable,
                                                     std::string& error, int& ldapCode) {
    KELVO_TRACE_SCOPE();
    error.clear();
    ldapCode = LDAP_LOCAL_ERROR;
    krb5_context ctx = nullptr;
    if (krb5_error_code code = krb5_init_context(&ctx); code != 0) {
        error = "Kerberos initialisation failed (" + std::to_string(code) + ")";
        return nullptr;
    }
    // Everything below is released through these guards.
    struct Guard {
        krb5_context ctx;
        krb5_principal princ = nullptr;
        krb5_get_init_creds_opt* opt = nullptr;
        krb5_creds creds{};
        bool haveCreds = false;
        krb5_ccache cache = nullptr;
        bool keepCtx = false;
        ~Guard() {
            if (haveCreds) krb5_free_cred_contents(ctx, &creds);
            if (opt) krb5_get_init_creds_opt_free(ctx, opt);
            if (princ) krb5_free_principal(ctx, princ);
            if (cache) krb5_cc_destroy(ctx, cache);
            if (!keepCtx) krb5_free_context(ctx);
        }
    } g{ctx};

    auto fail = [&](krb5_error_code code) {
        error = KerberosMessage(ctx, code);
        ldapCode = LdapCodeForKerberos(code);
        diag::DebugOut("DEBUG: Kerberos: " + error + "\n");
        return nullptr;
    };

    diag::DebugOut("DEBUG: Kerberos: obtaining a ticket for " + principal + "\n");
    if (krb5_error_code code = krb5_parse_name(ctx, principal.c_str(), &g.princ); code != 0)
        return fail(code);
    if (krb5_error_code code = krb5_get_init_creds_opt_alloc(ctx, &g.opt); code != 0)
        return fail(code);
    if (forwardable) krb5_get_init_creds_opt_set_forwardable(g.opt, 1);
    if (krb5_error_code code = krb5_get_init_creds_password(
            ctx, &g.creds, g.princ, password.c_str(), nullptr, nullptr, 0, nullptr, g.opt);
        code != 0)
        return fail(code);
    g.haveCreds = true;
    if (krb5_error_code code = krb5_cc_new_unique(ctx, "MEMORY", nullptr, &g.cache); code != 0)
        return fail(code);
    if (krb5_error_code code = krb5_cc_initialize(ctx, g.cache, g.princ); code != 0)
        return fail(code);
    if (krb5_error_code code = krb5_cc_store_cred(ctx, g.cache, &g.creds); code != 0)
        return fail(code);
    char* full = nullptr;
    if (krb5_error_code code = krb5_cc_get_full_name(ctx, g.cache, &full); code != 0)
        return fail(code);
    std::string name = full;
    krb5_free_string(ctx, full);

    OM_uint32 minor = 0;
    if (GSS_ERROR(gss_krb5_ccache_name(&minor, name.c_str(), nullptr))) {
        error = "GSSAPI could not use the credential cache " + name;
        return nullptr;
    }
    diag::DebugOut("DEBUG: Kerberos: ticket stored in " + name + "\n");
    std::unique_ptr<KerberosLogon> logon(new KerberosLogon(ctx, g.cache, std::move(name)));
    g.cache = nullptr;
    g.keepCtx = true;
    return logon;
}

GssNtlmCredential::~GssNtlmCredential() {
    OM_uint32 minor = 0;
    gss_release_cred(&minor, &cred_);
}

std::unique_ptr<GssNtlmCredential> GssNtlmCredential::Acquire(const std::string& user,
                                                              const std::string& password,
                                                              std::string& error) {
    KELVO_TRACE_SCOPE();
    OM_uint32 minor = 0;
    gss_buffer_desc nameBuf{user.size(), const_cast<char*>(user.data())};
    gss_name_t name = GSS_C_NO_NAME;
    OM_uint32 major = gss_import_name(&minor, &nameBuf, GSS_C_NT_USER_NAME, &name);
    if (GSS_ERROR(major)) {
        error = GssMessage(major, minor);
        return nullptr;
    }
    gss_buffer_desc pw{password.size(), const_cast<char*>(password.data())};
    gss_OID_set_desc spnego{1, &kSpnegoOid};
    gss_cred_id_t cred = GSS_C_NO_CREDENTIAL;
    major = gss_acquire_cred_with_password(&minor, name, &pw, GSS_C_INDEFINITE, &spnego,
                                           GSS_C_INITIATE, &cred, nullptr, nullptr);
    OM_uint32 ignored = 0;
    gss_release_name(&ignored, &name);
    if (GSS_ERROR(major)) {
        error = GssMessage(major, minor);
        return nullptr;
    }
    std::unique_ptr<GssNtlmCredential> out(new GssNtlmCredential(cred));
    gss_OID_set_desc ntlm{1, &kNtlmSspOid};
    major = gss_set_neg_mechs(&minor, cred, &ntlm);
    if (GSS_ERROR(major)) {
        error = GssMessage(major, minor);
        return nullptr;
    }
    return out;
}
