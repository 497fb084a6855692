// The least a client can do to keep N replaces in flight on one session: a
// bare libldap loop with no building, checking or reporting.  The parallel
// benchmark runs it next to Kelvo, so that the figures show what the server
// and the network allow and what Kelvo adds to that.
//
//   inflight_reference URI BIND_DN PASSWORD DN_FILE WIDTH VALUE
//
// Replaces description with VALUE on every DN of DN_FILE (one per line) over
// one simple bind; exits non-zero when any request fails.
#include <ldap.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

int main(int argc, char** argv) {
    if (argc != 7) {
        std::fprintf(stderr,
                     "usage: inflight_reference URI BIND_DN PASSWORD DN_FILE WIDTH VALUE\n");
        return 2;
    }
    const int width = std::atoi(argv[5]);
    LDAP* ld = nullptr;
    if (ldap_initialize(&ld, argv[1]) != LDAP_SUCCESS || width < 1) return 2;
    const int version = LDAP_VERSION3;
    ldap_set_option(ld, LDAP_OPT_PROTOCOL_VERSION, &version);
    berval cred{static_cast<ber_len_t>(std::string(argv[3]).size()), argv[3]};
    if (int rc = ldap_sasl_bind_s(ld, argv[2], LDAP_SASL_SIMPLE, &cred, nullptr, nullptr, nullptr);
        rc != LDAP_SUCCESS) {
        std::fprintf(stderr, "bind: %s\n", ldap_err2string(rc));
        return 1;
    }
    char* values[] = {argv[6], nullptr};
    char type[] = "description";
    LDAPMod mod{};
    mod.mod_op = LDAP_MOD_REPLACE;
    mod.mod_type = type;
    mod.mod_values = values;
    LDAPMod* mods[] = {&mod, nullptr};
    std::ifstream in(argv[4]);
    std::string dn;
    int inFlight = 0, failed = 0, done = 0;
    bool more = true;
    while (more || inFlight > 0) {
        more = more && static_cast<bool>(std::getline(in, dn));
        if (more) {
            int msgid = 0;
            if (ldap_modify_ext(ld, dn.c_str(), mods, nullptr, nullptr, &msgid) != LDAP_SUCCESS)
                return 1;
            ++inFlight;
        }
        while (inFlight > 0 && (inFlight >= width || !more)) {
            LDAPMessage* res = nullptr;
            if (ldap_result(ld, LDAP_RES_ANY, LDAP_MSG_ONE, nullptr, &res) <= 0) return 1;
            int rc = LDAP_OTHER;
            ldap_parse_result(ld, res, &rc, nullptr, nullptr, nullptr, nullptr, 1);
            failed += rc != LDAP_SUCCESS;
            ++done;
            --inFlight;
        }
    }
    ldap_unbind_ext_s(ld, nullptr, nullptr);
    std::printf("%d replaced, %d failed\n", done - failed, failed);
    return failed == 0 ? 0 : 1;
}
