// The run's side of {{...}} expansion: the RootDSE values, the clock and
// time conversions, SID lookups on the bound directory, and each object's
// CSV row and DN parts, handed to the expansion language as its context.
#pragma once

#include "RowRequests.h"
#include "VarExpansion.h"

#include <ldap.h>

#include <map>
#include <memory>
#include <string>
#include <string_view>

class CRootDSE;
namespace pxsids {
class NameToSid;
}

class RunExpansion final : public ValueExpander {
  public:
    // `root` fills the RootDSE values.  SID lookups need UseNameResolution.
    RunExpansion(const CRootDSE* root, const ExpansionHeaderMap* header);
    // *sid*, *isid* and *ldssid* resolve through the run's name resolution.
    void UseNameResolution(pxsids::NameToSid* names) { names_ = names; }

    // CSV rows: the target's row and DN parts.
    Expanded Expand(const Target& target, std::uint64_t counter, std::string_view text,
                    std::string_view attribute, std::size_t position) const override;
    std::size_t ValueCount(const Target& target, std::string_view text,
                           std::string_view attribute) const override;

    // A value with no CSV row: the RootDSE values, counter and services only;
    // with `dn` also that DN's parts (-bmod), `origName` as ORIGNAME.
    Expanded ExpandPlain(std::string_view text, std::string_view attribute, std::uint64_t counter,
                         const std::string* dn = nullptr) const override;

    const ExpansionValues& RootValues() const { return root_; }

  private:
    Expanded Run(std::string_view text, const ExpansionContext& ctx) const;
    // The DN parts of a DN, kept for the object being worked on.
    const ExpansionValues* DnValues(const std::string& dn) const;
    SidLookup LookupSid(std::string_view name, bool byDn) const;

    pxsids::NameToSid* names_ = nullptr;
    const ExpansionHeaderMap* header_;
    ExpansionValues root_;
    ExpansionServices services_;
    mutable std::string lastDn_;
    mutable ExpansionValues lastDnValues_;
    mutable bool lastDnOk_ = false;
};
