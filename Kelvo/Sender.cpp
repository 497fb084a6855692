#include "Sender.h"

#include "ErrorReport.h"

namespace {

constexpr int kTreeNukeAttempts = 10000;
constexpr int kAdminLimitExceeded = LDAP_ADMINLIMIT_EXCEEDED;

const char* OrNull(const std::string& text) {
    return text.empty() ? nullptr : text.c_str();
}

int Refresh(LDAP* session, const std::string& dn, int ttl) {
    berval name{static_cast<ber_len_t>(dn.size()), const_cast<char*>(dn.c_str())};
    ber_int_t granted = 0;
    return ldap_refresh_s(session, &name, ttl, &granted, nullptr, nullptr);
}

} // namespace

Result Send(LDAP* session, const Request& r, const std::function<void()>& onRetry) {
    LDAPControl** controls = r.controls ? r.controls->Array() : nullptr;
    Result result;
    int rc = LDAP_SUCCESS;
    ++result.attempts;
    switch (r.kind) {
    case RequestKind::None:
        return result;
    case RequestKind::Modify:
        rc = ldap_modify_ext_s(session, r.dn.c_str(), r.mods->Array(), controls, nullptr);
        break;
    case RequestKind::Add:
        rc = ldap_add_ext_s(session, r.dn.c_str(), r.mods->Array(), controls, nullptr);
        break;
    case RequestKind::Delete:
        rc = ldap_delete_ext_s(session, r.dn.c_str(), controls, nullptr);
        // Large subtrees come down in pieces: repeat while the server says so.
        while (r.treeNuke && rc == kAdminLimitExceeded && result.attempts < kTreeNukeAttempts) {
            if (onRetry) onRetry();
            ++result.attempts;
            rc = ldap_delete_ext_s(session, r.dn.c_str(), controls, nullptr);
        }
        break;
    case RequestKind::Rename:
        rc = ldap_rename_s(session, r.dn.c_str(), r.newRDN.c_str(), OrNull(r.newParent), 1,
                           controls, nullptr);
        break;
    case RequestKind::Refresh:
        rc = Refresh(session, r.dn, r.refreshTtl);
        result.refreshed = true;
        break;
    }
    if (rc == LDAP_SUCCESS && r.refreshTtl >= 0 && !result.refreshed &&
        (r.kind == RequestKind::Modify || r.kind == RequestKind::Add)) {
        rc = Refresh(session, r.dn, r.refreshTtl);
        result.refreshed = true;
    }
    result.code = ToWinLdapCode(rc);
    if (rc != LDAP_SUCCESS) (void)GetExtendedError(session, result.extError);
    return result;
}
