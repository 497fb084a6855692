#include "PrincipalSearch.h"

#include "Diag.h"
#include "ErrorReport.h"
#include "LdapPtr.h"
#include "SIDS.h"
#include "pellixstrings.h"

#include <cstdint>
#include <span>

namespace {

std::string FirstValue(LDAP* ld, LDAPMessage* entry, const char* attribute) {
    auto values = EntryValues(ld, entry, attribute);
    return values.empty() ? std::string() : std::move(values.front());
}

std::string ErrorText(int rc) {
    return "ERROR: (" + std::to_string(ShownLdapCode(rc)) + ") " + GetLDAPErrorString(rc);
}

} // namespace

std::vector<pxsids::PrincipalDirectory::Partition>
ToPrincipalPartitions(const DomainPartitionMap& partitions) {
    std::vector<pxsids::PrincipalDirectory::Partition> out;
    for (const auto& [key, info] : partitions) {
        if (key == "DEFAULT" || key == "ROOT" || info.dn.empty()) continue;
        out.push_back({info.dn, info.netbiosName, info.dnsRoot, info.sid});
    }
    return out;
}

LdapPrincipalDirectory::LdapPrincipalDirectory(LDAP* session, const CRootDSE& root,
                                               const DomainPartitionMap& partitions)
    : session_(session), defaultNC_(root.DefaultNC()), configNC_(root.ConfigNC()),
      partitions_(ToPrincipalPartitions(partitions)) {}

int LdapPrincipalDirectory::Search(std::string_view base, std::string_view filter, bool baseOnly,
                                   std::vector<pxsids::PrincipalEntry>& out, std::string& error) {
    KELVO_TRACE_SCOPE();
    if (session_ == nullptr) {
        error = ErrorText(LDAP_PARAM_ERROR);
        return ShownLdapCode(LDAP_PARAM_ERROR);
    }
    const std::string baseText(base);
    const std::string filterText(filter);
    char objectSid[] = "objectSid";
    char sam[] = "sAMAccountName";
    char upn[] = "userPrincipalName";
    char name[] = "name";
    char* attrs[] = {objectSid, sam, upn, name, nullptr};

    int referrals = 0;
    (void)ldap_get_option(session_, LDAP_OPT_REFERRALS, &referrals);
    (void)ldap_set_option(session_, LDAP_OPT_REFERRALS, LDAP_OPT_OFF);
    LDAPMessage* raw = nullptr;
    const int rc = ldap_search_ext_s(
        session_, baseText.c_str(), baseOnly ? LDAP_SCOPE_BASE : LDAP_SCOPE_SUBTREE,
        filterText.c_str(), attrs, 0, nullptr, nullptr, nullptr, kPrincipalSearchSizeLimit, &raw);
    MessagePtr result(raw);
    (void)ldap_set_option(session_, LDAP_OPT_REFERRALS, referrals ? LDAP_OPT_ON : LDAP_OPT_OFF);

    if (rc != LDAP_SUCCESS) {
        // A cut answer (size limit) is an error too: names it left out
        // would otherwise read as unknown.
        error = ErrorText(rc);
        return ShownLdapCode(rc);
    }
    for (LDAPMessage* e = ldap_first_entry(session_, result.get()); e != nullptr;
         e = ldap_next_entry(session_, e)) {
        pxsids::PrincipalEntry entry;
        LdapStringPtr dn(ldap_get_dn(session_, e));
        if (dn) entry.dn = dn.get();
        const std::string sidBytes = FirstValue(session_, e, objectSid);
        if (!sidBytes.empty()) {
            const std::span<const std::uint8_t> bytes(
                reinterpret_cast<const std::uint8_t*>(sidBytes.data()), sidBytes.size());
            if (!GetTextualSid(bytes, entry.sid)) {
                diag::DebugOut("DEBUG: Unusable objectSid on " + entry.dn + "\n");
                entry.sid.clear();
            }
        }
        entry.sAMAccountName = FirstValue(session_, e, sam);
        entry.userPrincipalName = FirstValue(session_, e, upn);
        entry.name = FirstValue(session_, e, name);
        out.push_back(std::move(entry));
    }
    return 0;
}
