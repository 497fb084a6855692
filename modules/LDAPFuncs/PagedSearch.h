// A search whose results come in pages (the simple paged results control,
// RFC 2696), so that a directory's size limit does not cut a long answer.
#pragma once

#include <ldap.h>

#include <functional>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// Attribute (lower case) -> its values, for one entry.
using EntryAttributes = std::map<std::string, std::vector<std::string>>;
using EntryFn = std::function<void(const std::string& dn, const EntryAttributes& attributes)>;

struct PagedSearchResult {
    int code = 0;          // 0, or the failing LDAP result code (shown form)
    std::string operation; // what failed: "search" or "page control"
    std::size_t entries = 0;
};

// Searches the subtree under `base` and calls `onEntry` for every entry.
// With `paged` the results are read `pageSize` entries at a time.
// `extraControls` go with every request, after the paged results control.
PagedSearchResult PagedSearch(LDAP* session, std::string_view base, std::string_view filter,
                              const std::vector<std::string>& attributes, bool paged,
                              const EntryFn& onEntry, int pageSize = 500,
                              std::span<LDAPControl* const> extraControls = {});
