#include "Lookups.h"

#include "Diag.h"
#include "ErrorReport.h"
#include "LdapPtr.h"
#include "SIDS.h"
#include "pellixstrings.h"

#include <string>

namespace {

// Critical, value-less controls for one request; only those the server lists.
class RequestControls {
  public:
    // True when the control was added.
    bool AddIfSupported(const CRootDSE& rootDSE, std::string_view oid) {
        if (!rootDSE.HasControl(oid)) {
            diag::DebugOut("DEBUG: Control " + std::string(oid) + " not offered, not sent\n");
            return false;
        }
        oids_.emplace_back(oid);
        return true;
    }
    // Null-terminated array valid while this object lives and is unchanged.
    LDAPControl** get() {
        if (oids_.empty()) return nullptr;
        controls_.assign(oids_.size(), LDAPControl{});
        pointers_.clear();
        for (std::size_t i = 0; i < oids_.size(); ++i) {
            controls_[i].ldctl_oid = oids_[i].data();
            controls_[i].ldctl_value = berval{0, nullptr};
            controls_[i].ldctl_iscritical = 1;
            pointers_.push_back(&controls_[i]);
        }
        pointers_.push_back(nullptr);
        return pointers_.data();
    }

  private:
    std::vector<std::string> oids_;
    std::vector<LDAPControl> controls_;
    std::vector<LDAPControl*> pointers_;
};

int ScopeFromText(std::string_view scope) {
    if (scope.find("base") != std::string_view::npos) return LDAP_SCOPE_BASE;
    if (scope.find("one") != std::string_view::npos) return LDAP_SCOPE_ONELEVEL;
    return LDAP_SCOPE_SUBTREE;
}

// First value of one attribute of a deleted object (base search, size 1).
std::string ReadDeletedAttribute(LDAP* ld, std::string_view dn, const char* attribute,
                                 bool showRecycled, const CRootDSE& rootDSE, const LogLineFn& log,
                                 std::string_view logTag, std::string_view errorLabel) {
    RequestControls controls;
    if (controls.AddIfSupported(rootDSE, kOidShowDeleted) && log)
        log(std::string(logTag) + " Control: LDAP_SERVER_SHOW_DELETED_OID");
    // Both lookups log the recycled-objects control under one tag.
    if (showRecycled && controls.AddIfSupported(rootDSE, kOidShowRecycled) && log)
        log("(GetParent) Control: LDAP_SERVER_SHOW_RECYCLED_OID");
    std::string attr(attribute);
    char* attrs[] = {attr.data(), nullptr};
    const std::string base(dn);
    LDAPMessage* raw = nullptr;
    const int rc = ldap_search_ext_s(ld, base.c_str(), LDAP_SCOPE_BASE, "(objectclass=*)", attrs, 0,
                                     controls.get(), nullptr, nullptr, 1, &raw);
    MessagePtr result(raw);
    if (rc != LDAP_SUCCESS) {
        DisplayLDAPError(rc, nullptr, errorLabel, "");
        return "";
    }
    LDAPMessage* entry = ldap_first_entry(ld, result.get());
    if (entry == nullptr) return "";
    const auto values = EntryValues(ld, entry, attribute);
    return values.empty() ? "" : values.front();
}

} // namespace

int GetDNFromSearch(LDAP* session, std::string_view base, std::string_view scope,
                    std::string_view filter, std::vector<std::string>& out,
                    const CRootDSE& rootDSE) {
    KELVO_TRACE_SCOPE();
    const std::string wrapped = "(" + std::string(filter) + ")";
    const std::string baseText(base);
    diag::DebugOut("DEBUG       Base  : " + baseText + "\n");
    diag::DebugOut("DEBUG       Scope : " + std::string(scope) + "\n");
    diag::DebugOut("DEBUG       Filter: " + wrapped + "\n");

    int referrals = 0;
    (void)ldap_get_option(session, LDAP_OPT_REFERRALS, &referrals);
    (void)ldap_set_option(session, LDAP_OPT_REFERRALS, LDAP_OPT_OFF);

    RequestControls controls;
    controls.AddIfSupported(rootDSE, kOidShowDeleted);
    controls.AddIfSupported(rootDSE, kOidShowDeactivatedLinks);
    char noAttrs[] = "1.1";
    char* attrs[] = {noAttrs, nullptr};
    LDAPMessage* raw = nullptr;
    const int rc =
        ldap_search_ext_s(session, baseText.c_str(), ScopeFromText(scope), wrapped.c_str(), attrs,
                          0, controls.get(), nullptr, nullptr, LDAP_NO_LIMIT, &raw);
    MessagePtr result(raw);
    (void)ldap_set_option(session, LDAP_OPT_REFERRALS, referrals ? LDAP_OPT_ON : LDAP_OPT_OFF);

    if (rc != LDAP_SUCCESS) {
        ReportSearchFailure(rc);
        return ShownLdapCode(rc);
    }
    diag::DebugOut("DEBUG: Count: " + std::to_string(ldap_count_entries(session, result.get())) +
                   "\n");
    for (LDAPMessage* e = ldap_first_entry(session, result.get()); e != nullptr;
         e = ldap_next_entry(session, e)) {
        LdapStringPtr dn(ldap_get_dn(session, e));
        if (dn) out.emplace_back(dn.get());
    }
    return 0;
}

std::string GetObjectClass(LDAP* session, std::string_view dn) {
    KELVO_TRACE_SCOPE();
    if (session == nullptr) return "";
    char objectClass[] = "objectClass";
    char* attrs[] = {objectClass, nullptr};
    const std::string base(dn);
    LDAPMessage* raw = nullptr;
    const int rc = ldap_search_ext_s(session, base.c_str(), LDAP_SCOPE_BASE, "(objectclass=*)",
                                     attrs, 0, nullptr, nullptr, nullptr, LDAP_NO_LIMIT, &raw);
    MessagePtr result(raw);
    if (rc != LDAP_SUCCESS) return "";
    LDAPMessage* entry = ldap_first_entry(session, result.get());
    if (entry == nullptr) return "";
    const auto values = EntryValues(session, entry, objectClass);
    return values.empty() ? "" : values.back();
}

int UpdateLDAPString(std::string_view dn, std::string_view attribute, std::string_view value,
                     LDAP* session) {
    KELVO_TRACE_SCOPE();
    diag::DebugOut("DEBUG: Setting " + std::string(dn) + " - " + std::string(attribute) + " - " +
                   std::string(value) + "\n");
    std::string target(dn);
    std::string type(attribute);
    std::string text(value);
    char* values[] = {text.data(), nullptr};
    LDAPMod mod{};
    mod.mod_op = LDAP_MOD_REPLACE;
    mod.mod_type = type.data();
    mod.mod_values = values;
    LDAPMod* mods[] = {&mod, nullptr};
    const int rc = ldap_modify_ext_s(session, target.c_str(), mods, nullptr, nullptr);
    diag::DebugOut("DEBUG: uErr=" + std::to_string(ShownLdapCode(rc)) + "\n");
    return ShownLdapCode(rc);
}

int GetDomainSDInfo(LDAP* session, const CRootDSE& rootDSE, DomainPartitionMap& partitions) {
    KELVO_TRACE_SCOPE();
    if (rootDSE.ConfigNC().empty()) return 0;
    const std::string base = "CN=Partitions," + rootDSE.ConfigNC();
    RequestControls controls;
    controls.AddIfSupported(rootDSE, kOidExtendedDN);
    char ncName[] = "nCName";
    char netbios[] = "nETBiosName";
    char dnsRoot[] = "dnsRoot";
    char* attrs[] = {ncName, netbios, dnsRoot, nullptr};
    LDAPMessage* raw = nullptr;
    const int rc =
        ldap_search_ext_s(session, base.c_str(), LDAP_SCOPE_ONELEVEL, "(ncname=*)", attrs, 0,
                          controls.get(), nullptr, nullptr, LDAP_NO_LIMIT, &raw);
    MessagePtr result(raw);
    if (rc != LDAP_SUCCESS) {
        diag::DebugOut("DEBUG: Partitions search failed: " + GetLDAPErrorString(rc) + "\n");
        return ShownLdapCode(rc);
    }

    for (LDAPMessage* e = ldap_first_entry(session, result.get()); e != nullptr;
         e = ldap_next_entry(session, e)) {
        const auto first = [&](const char* attribute) {
            const auto values = EntryValues(session, e, attribute);
            return values.empty() ? std::string() : values.front();
        };
        DomainPartitionInfo info;
        info.netbiosName = first(netbios);
        info.dnsRoot = first(dnsRoot);
        // nCName comes in the extended form <GUID=...>;<SID=...>;DN.
        const std::string value = first(ncName);
        diag::TraceOut("DEBUG: nCName=" + value + "\n");
        std::string sidHex;
        TokenVector pieces;
        GetTokens(value, ";", pieces);
        for (const auto& piece : pieces) {
            diag::TraceOut("DEBUG: val=" + piece + "\n");
            if (piece.starts_with("<GUID=")) continue;
            if (piece.starts_with("<SID=")) {
                sidHex = piece.substr(5, piece.find('>') - 5);
                continue;
            }
            info.dn = piece;
        }
        if (sidHex.empty()) continue; // application partitions have no SID
        info.sid = HexSidToStrSid(sidHex);
        if (diag::Trace()) {
            diag::Out("DEBUG: dn: " + info.dn + "\n");
            diag::Out("DEBUG: domainsidhex: " + sidHex + "\n");
            diag::Out("DEBUG: domainsid   : " + info.sid + "\n");
            diag::Out("DEBUG: domaindns   : " + info.dnsRoot + "\n");
            diag::Out("DEBUG: netbiosname : " + info.netbiosName + "\n");
        }
        partitions[StrToLower(info.dn)] = info;
    }
    for (const auto& [key, nc] :
         {std::pair{"DEFAULT", rootDSE.DefaultNC()}, std::pair{"ROOT", rootDSE.RootDomainNC()}}) {
        const auto it = partitions.find(StrToLower(nc));
        if (it != partitions.end()) partitions[key] = it->second;
    }
    return 0;
}

std::string GetLastKnownParent(LDAP* session, std::string_view dn, bool showRecycled,
                               const CRootDSE& rootDSE, const LogLineFn& log) {
    KELVO_TRACE_SCOPE();
    return ReadDeletedAttribute(session, dn, "lastKnownParent", showRecycled, rootDSE, log,
                                "(GetParent)", "Error: lastKnownParent");
}

std::string GetLastKnownRDN(LDAP* session, std::string_view dn, bool showRecycled,
                            const CRootDSE& rootDSE, const LogLineFn& log) {
    KELVO_TRACE_SCOPE();
    return ReadDeletedAttribute(session, dn, "msDS-LastKnownRDN", showRecycled, rootDSE, log,
                                "(GetLastKnownRDN)", "Error: msDS-LastKnownRDN");
}
