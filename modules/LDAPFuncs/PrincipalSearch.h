// Name resolution's directory reads on the bound session.
#pragma once

#include "Lookups.h"
#include "RootDSE.h"
#include "pxSIDS.h"

#include <ldap.h>

#include <string>
#include <string_view>
#include <vector>

// Entries one principal search may return; more is reported as the size
// limit error rather than used in part.
inline constexpr int kPrincipalSearchSizeLimit = 5000;

class LdapPrincipalDirectory : public pxsids::PrincipalDirectory {
  public:
    // The session is borrowed and must outlive this object; the naming
    // contexts and partitions are copied.
    LdapPrincipalDirectory(LDAP* session, const CRootDSE& root,
                           const DomainPartitionMap& partitions);

    std::vector<Partition> Partitions() override { return partitions_; }
    std::string DefaultNamingContext() override { return defaultNC_; }
    std::string ConfigurationNamingContext() override { return configNC_; }
    // Referrals are not chased.  Returns 0 or the shown LDAP code with an
    // "ERROR: (<code>) <text>" error text.
    int Search(std::string_view base, std::string_view filter, bool baseOnly,
               std::vector<pxsids::PrincipalEntry>& out, std::string& error) override;

  private:
    LDAP* session_;
    std::string defaultNC_;
    std::string configNC_;
    std::vector<Partition> partitions_;
};

// The partitions of a DomainPartitionMap as name resolution sees them: one
// record per domain (the "DEFAULT" and "ROOT" aliases are not repeated).
std::vector<pxsids::PrincipalDirectory::Partition>
ToPrincipalPartitions(const DomainPartitionMap& partitions);
