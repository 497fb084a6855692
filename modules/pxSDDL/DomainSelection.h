// Shared by the friendly transforms and the binary builder: which domain an
// object belongs to, as far as the context knows.
#pragma once

#include "SddlServices.h"

#include <string>

namespace pxsddl::detail {

// The SID of the domain the context's object lives in: the entry in
// ctx.domainSids for the object's DN from its first "DC=" component on
// (lower-cased); "" when the DN is empty or its domain is not listed.
[[nodiscard]] std::string DomainSidOfObject(const SddlContext& ctx);

// True for text that reads as a SID ("S-1-...").
[[nodiscard]] bool LooksLikeSid(std::string_view text);

} // namespace pxsddl::detail
