// Which requests may be in flight together.  Two requests must not overlap
// when one could change what the other acts on: the same object, or an
// object and one of its ancestors (a child's add after its parent's add, a
// parent's delete after its children's deletes, a rename and a later change
// under the new name).  Overlap is judged on the DN text, erring towards
// "related" so that a request waits rather than races.
#pragma once

#include "Request.h"

#include <string>
#include <string_view>
#include <vector>

// The objects a request acts on, each as its RDN values from the root down,
// lower case and unescaped.  A request addressed in a way the text cannot
// place (<GUID=...>, <SID=...>, the root DSE) is a barrier: it overlaps
// every other request.
struct RequestScope {
    bool barrier = false;
    std::vector<std::vector<std::string>> paths;
};

// The RDN values of `dn` from the root down ("CN=a,OU=b" -> {"b", "a"}),
// or nothing for a DN that cannot be placed.
std::vector<std::string> DnPath(std::string_view dn);

// The request's own DN, its new DN after a rename or move, and the DN an
// undelete restores the object to.
RequestScope ScopeOf(const Request& request);

// True when one of `a`'s objects is one of `b`'s, or an ancestor or
// descendant of one.
bool Overlaps(const RequestScope& a, const RequestScope& b);
