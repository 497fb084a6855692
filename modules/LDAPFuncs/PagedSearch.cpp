#include "PagedSearch.h"

#include "ErrorReport.h"
#include "LdapPtr.h"
#include "pellixstrings.h"

namespace {

// The paged results control for the next page, after `cookie`.
ControlPtr PageControl(LDAP* ld, int pageSize, berval* cookie, int& rc) {
    LDAPControl* raw = nullptr;
    rc = ldap_create_page_control(ld, pageSize, cookie, 1, &raw);
    return ControlPtr(raw);
}

} // namespace

PagedSearchResult PagedSearch(LDAP* ld, std::string_view base, std::string_view filter,
                              const std::vector<std::string>& attributes, bool paged,
                              const EntryFn& onEntry, int pageSize,
                              std::span<LDAPControl* const> extraControls) {
    PagedSearchResult result;
    const std::string baseText(base);
    const std::string filterText(filter);
    std::vector<char*> attrs;
    for (const auto& a : attributes)
        attrs.push_back(const_cast<char*>(a.c_str()));
    attrs.push_back(nullptr);
    BervalPtr cookie;
    // A bound on the pages read, so a server that keeps handing back a
    // cookie cannot hold the run forever.
    constexpr int kMaxPages = 1000000;
    for (int page = 0; page < kMaxPages; ++page) {
        int rc = LDAP_SUCCESS;
        ControlPtr control;
        std::vector<LDAPControl*> serverControls;
        if (paged) {
            control = PageControl(ld, pageSize, cookie.get(), rc);
            if (rc != LDAP_SUCCESS) {
                result.code = ShownLdapCode(rc);
                result.operation = "page control";
                return result;
            }
            serverControls.push_back(control.get());
        }
        serverControls.insert(serverControls.end(), extraControls.begin(), extraControls.end());
        serverControls.push_back(nullptr);
        LDAPMessage* raw = nullptr;
        rc = ldap_search_ext_s(ld, baseText.c_str(), LDAP_SCOPE_SUBTREE, filterText.c_str(),
                               attrs.data(), 0,
                               serverControls.size() > 1 ? serverControls.data() : nullptr, nullptr,
                               nullptr, LDAP_NO_LIMIT, &raw);
        MessagePtr message(raw);
        if (rc != LDAP_SUCCESS && rc != LDAP_SIZELIMIT_EXCEEDED) {
            result.code = ShownLdapCode(rc);
            result.operation = "search";
            return result;
        }
        for (LDAPMessage* e = ldap_first_entry(ld, message.get()); e != nullptr;
             e = ldap_next_entry(ld, e)) {
            LdapStringPtr dn(ldap_get_dn(ld, e));
            EntryAttributes values;
            for (const auto& a : attributes)
                values[StrToLower(a)] = EntryValues(ld, e, a.c_str());
            onEntry(dn ? dn.get() : "", values);
            ++result.entries;
        }
        if (!paged) return result;
        // The cookie of the next page; an empty one ends the search.
        LDAPControl** returned = nullptr;
        int code = LDAP_SUCCESS;
        rc = ldap_parse_result(ld, message.get(), &code, nullptr, nullptr, nullptr, &returned, 0);
        ControlsPtr owned(returned);
        if (rc != LDAP_SUCCESS) {
            result.code = ShownLdapCode(rc);
            result.operation = "page control";
            return result;
        }
        LDAPControl* pageControl =
            ldap_control_find(LDAP_CONTROL_PAGEDRESULTS, owned.get(), nullptr);
        if (pageControl == nullptr) return result;
        ber_int_t estimate = 0;
        berval next{0, nullptr};
        if (ldap_parse_pageresponse_control(ld, pageControl, &estimate, &next) != LDAP_SUCCESS)
            return result;
        BervalPtr nextCookie(ber_bvdup(&next));
        ber_memfree(next.bv_val);
        if (!nextCookie || nextCookie->bv_len == 0) return result;
        cookie = std::move(nextCookie);
    }
    return result;
}
