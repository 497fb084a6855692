#include "Bind.h"

#include "Credentials.h"
#include "Diag.h"
#include "LdapPtr.h"
#include "Utf16.h"
#include "pellixstrings.h"

#include <sasl/sasl.h>

#include <cstring>
#include <utility>

namespace {

// Answers for the SASL prompts of one bind attempt.  The strings stay alive
// for the whole attempt because the prompts point into them.
struct SaslDefaults {
    std::string authcid;
    std::string password;
    std::string realm;
    std::string empty;
    gss_cred_id_t gssCred = GSS_C_NO_CREDENTIAL;
    bool gssCredSet = false;
};

extern "C" int SaslInteract(LDAP* ld, unsigned /*flags*/, void* defaults, void* in) {
    auto* d = static_cast<SaslDefaults*>(defaults);
    // The SASL context exists only once the bind has started; the first
    // prompt is the earliest point at which credentials can be handed to it.
    if (d->gssCred != GSS_C_NO_CREDENTIAL && !d->gssCredSet)
        d->gssCredSet =
            ldap_set_option(ld, LDAP_OPT_X_SASL_GSS_CREDS, d->gssCred) == LDAP_OPT_SUCCESS;
    for (auto* prompt = static_cast<sasl_interact_t*>(in); prompt->id != SASL_CB_LIST_END;
         ++prompt) {
        const std::string* answer = nullptr;
        switch (prompt->id) {
        case SASL_CB_AUTHNAME:
            answer = &d->authcid;
            break;
        case SASL_CB_PASS:
            answer = &d->password;
            break;
        case SASL_CB_GETREALM:
            if (!d->realm.empty()) answer = &d->realm;
            break;
        case SASL_CB_USER:
            answer = &d->empty; // no separate authorization identity
            break;
        default:
            break;
        }
        if (answer != nullptr) {
            prompt->result = answer->c_str();
            prompt->len = static_cast<unsigned>(answer->size());
        } else {
            const char* def = prompt->defresult ? prompt->defresult : "";
            prompt->result = def;
            prompt->len = static_cast<unsigned>(std::strlen(def));
        }
    }
    return LDAP_SUCCESS;
}

// The server's SASL mechanisms from its RootDSE.  Negative codes mean the
// server could not be reached at all.
int ReadServerSaslMechanisms(LDAP* ld, std::vector<std::string>& mechanisms) {
    KELVO_TRACE_SCOPE();
    char attr[] = "supportedSASLMechanisms";
    char* attrs[] = {attr, nullptr};
    LDAPMessage* raw = nullptr;
    const int rc = ldap_search_ext_s(ld, "", LDAP_SCOPE_BASE, "(objectClass=*)", attrs, 0, nullptr,
                                     nullptr, nullptr, LDAP_NO_LIMIT, &raw);
    MessagePtr res(raw);
    if (rc != LDAP_SUCCESS) return rc;
    LDAPMessage* entry = ldap_first_entry(ld, res.get());
    if (entry == nullptr) return rc;
    for (auto& mechanism : EntryValues(ld, entry, attr))
        mechanisms.push_back(std::move(mechanism));
    return rc;
}

// Failures after which another mechanism cannot do better.
bool IsFinalBindFailure(int rc) {
    return rc == LDAP_INVALID_CREDENTIALS || rc == LDAP_SERVER_DOWN || rc == LDAP_TIMEOUT ||
           rc == LDAP_CONNECT_ERROR;
}

void SetDiagnostic(LDAP* ld, const std::string& text) {
    (void)ldap_set_option(ld, LDAP_OPT_DIAGNOSTIC_MESSAGE, text.c_str());
}

} // namespace

std::string_view BindMethodName(BindMethod method) {
    switch (method) {
    case BindMethod::Simple:
        return "Simple";
    case BindMethod::Negotiate:
        return "Negotiate";
    case BindMethod::Ntlm:
        return "NTLM";
    case BindMethod::Digest:
        return "Digest";
    }
    return "";
}

std::vector<SaslMechanismChoice> SaslCandidates(BindMethod method, bool withUser,
                                                std::span<const std::string> serverMechanisms) {
    std::vector<SaslMechanismChoice> all;
    for (const auto& row : kSaslMechanisms)
        if (row.method == method && row.withUser == withUser) all.push_back(row);
    std::vector<SaslMechanismChoice> offered;
    for (const auto& row : all)
        for (const auto& mech : serverMechanisms)
            if (IEquals(mech, row.mechanism)) {
                offered.push_back(row);
                break;
            }
    return offered.empty() ? all : offered;
}

BindMethod ChooseBindMethod(bool simpleInForce, bool digest, bool ntlm, std::string_view user,
                            bool& switched) {
    switched = false;
    if (simpleInForce) return BindMethod::Simple;
    BindMethod method = digest ? BindMethod::Digest
                        : ntlm ? BindMethod::Ntlm
                               : BindMethod::Negotiate;
    if (!user.empty() && method != BindMethod::Digest && IContains(user, "cn=")) {
        method = BindMethod::Digest;
        switched = true;
    }
    return method;
}

BindIdentity SplitBindUser(std::string_view user) {
    if (user.find('\\') == std::string_view::npos) return {"", std::string(user)};
    TokenVector pieces;
    GetTokens(user, "\\", pieces);
    BindIdentity id;
    if (!pieces.empty()) id.domain = pieces[0];
    if (pieces.size() > 1) id.user = pieces[1];
    return id;
}

std::string KerberosPrincipalFor(std::string_view user, std::string_view defaultRealm) {
    if (user.find('\\') != std::string_view::npos) {
        const BindIdentity id = SplitBindUser(user);
        std::string realm;
        if (id.domain.find('.') != std::string::npos || defaultRealm.empty())
            realm = StrToUpper(id.domain);
        else
            realm = defaultRealm;
        return realm.empty() ? id.user : id.user + "@" + realm;
    }
    const auto at = user.rfind('@');
    if (at != std::string_view::npos)
        return std::string(user.substr(0, at + 1)) + StrToUpper(user.substr(at + 1));
    if (defaultRealm.empty()) return std::string(user);
    return std::string(user) + "@" + std::string(defaultRealm);
}

std::string SaslSecProps(bool kerberosEncryption, bool delegation, bool tlsActive,
                         bool gssMechanism) {
    std::string props;
    if (tlsActive)
        props = "maxssf=0";
    else if (kerberosEncryption)
        props = "minssf=56";
    if (delegation && gssMechanism) {
        if (!props.empty()) props += ',';
        // Naming any flag replaces libldap's default flags, so restate them.
        props += "noplain,noanonymous,passcred";
    }
    return props;
}

bool DecodeBinPassword(std::string_view password, std::string& utf8) {
    if (!password.starts_with("BIN:")) return false;
    utf8 = Utf16LEToUtf8(HexStrToBin(password.substr(4), true));
    return true;
}

bool SendsClearTextPassword(const BindRequest& request) {
    return request.method == BindMethod::Simple && !request.anonymous &&
           !request.password.empty() && !request.tlsActive;
}

int BindSession(LDAP* ld, const BindRequest& request, BindOutcome& outcome) {
    KELVO_TRACE_SCOPE();
    if (request.method == BindMethod::Simple) {
        const std::string dn = request.anonymous ? "" : request.user;
        // The request's own password bytes: no copy left behind after the bind.
        static const std::string kNoPassword;
        const std::string& pw = request.anonymous ? kNoPassword : request.password;
        berval cred{static_cast<ber_len_t>(pw.size()), const_cast<char*>(pw.data())};
        outcome.mechanism = "SIMPLE";
        return ldap_sasl_bind_s(ld, dn.c_str(), LDAP_SASL_SIMPLE, &cred, nullptr, nullptr, nullptr);
    }

    const bool withUser = !request.user.empty();
    std::vector<std::string> serverMechs;
    int rc = ReadServerSaslMechanisms(ld, serverMechs);
    if (rc < 0 && rc != LDAP_NO_RESULTS_RETURNED) return rc;
    if (diag::Debug())
        diag::Out("DEBUG: Server SASL mechanisms: " + JoinTokens(" ", serverMechs) + "\n");

    const BindIdentity id = SplitBindUser(request.user);
    rc = LDAP_AUTH_METHOD_NOT_SUPPORTED;
    for (const auto& choice : SaslCandidates(request.method, withUser, serverMechs)) {
        SaslDefaults answers;
        std::unique_ptr<GssNtlmCredential> ntlm;
        switch (choice.credentials) {
        case SaslCredentials::Prompts:
            answers.authcid = id.user;
            answers.password = request.password;
            answers.realm = id.domain;
            break;
        case SaslCredentials::Kerberos:
            if (withUser && !outcome.kerberos) {
                const std::string principal =
                    KerberosPrincipalFor(request.user, KerberosDefaultRealmName());
                int code = LDAP_LOCAL_ERROR;
                outcome.kerberos = KerberosLogon::Obtain(
                    principal, request.password, request.delegation, outcome.failureDetail, code);
                if (!outcome.kerberos) {
                    SetDiagnostic(ld, "Kerberos: " + outcome.failureDetail);
                    return code;
                }
            }
            break;
        case SaslCredentials::GssNtlm: {
            const std::string name = id.domain.empty() ? id.user : id.domain + "\\" + id.user;
            ntlm = GssNtlmCredential::Acquire(name, request.password, outcome.failureDetail);
            if (!ntlm) {
                diag::DebugOut("DEBUG: NTLM credentials: " + outcome.failureDetail + "\n");
                SetDiagnostic(ld, "NTLM: " + outcome.failureDetail);
                rc = LDAP_LOCAL_ERROR;
                continue;
            }
            answers.gssCred = ntlm->get();
            break;
        }
        }

        const bool gss = choice.mechanism.starts_with("GSS");
        const std::string props =
            SaslSecProps(request.kerberosEncryption, request.delegation, request.tlsActive, gss);
        if (!props.empty()) {
            diag::DebugOut("DEBUG: SASL security properties: " + props + "\n");
            if (ldap_set_option(ld, LDAP_OPT_X_SASL_SECPROPS, props.c_str()) != LDAP_OPT_SUCCESS)
                return LDAP_PARAM_ERROR;
        }
        const std::string mech(choice.mechanism);
        diag::DebugOut("DEBUG: SASL bind: " + mech + "\n");
        rc = ldap_sasl_interactive_bind_s(ld, nullptr, mech.c_str(), nullptr, nullptr,
                                          LDAP_SASL_QUIET, SaslInteract, &answers);
        if (rc == LDAP_SUCCESS) {
            outcome.mechanism = mech;
            outcome.failureDetail.clear();
            return rc;
        }
        diag::DebugOut("DEBUG: SASL bind " + mech + " failed: " + std::to_string(rc) + "\n");
        if (IsFinalBindFailure(rc)) return rc;
    }
    return rc;
}
