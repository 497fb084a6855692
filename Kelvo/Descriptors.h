// The run's descriptor services: everything "sd##" values and SID lookups
// need from the bound directory, with the caches that make each name, class
// and source cost at most one read per run.
//
// The engine itself (modules/pxSDDL) and name resolution (modules/pxSIDS)
// reach the directory only through the interfaces implemented here.
#pragma once

#include "CSDDL.h"
#include "ModList.h"
#include "SchemaGuids.h"
#include "ValueEncoding.h"
#include "pxSIDS.h"

#include <ldap.h>

#include <cstdint>
#include <memory>
#include <string>

class CRootDSE;
struct DomainPartitionInfo;

// What the descriptor switches ask for.
struct DescriptorSettings {
    pxsddl::SdParts parts;       // -sdnoowner ... -onlysacl
    bool keepGeneric = false;    // -sdkeepgeneric
    bool verbatim = false;       // -sdverbatim
    bool whatIf = false;         // -sdwhatif
    bool alternative = false;    // -pxsdenc
    bool extendedErrors = false; // -exterr
};

class DescriptorServices {
  public:
    // `session` may be null: then sources yield nothing and names stay names
    // (values encoded before the bind, as with -sdsimple).
    DescriptorServices(LDAP* session, const CRootDSE* root,
                       const std::map<std::string, DomainPartitionInfo>* partitions,
                       DescriptorSettings settings);
    ~DescriptorServices();
    DescriptorServices(const DescriptorServices&) = delete;
    DescriptorServices& operator=(const DescriptorServices&) = delete;

    // Builds the binary descriptor of one "sd##" value for the object `dn`
    // (empty when no object is known).  Prints the what-if listing (and logs
    // it) with -sdwhatif and then gives no bytes; prints the engine's message
    // and ends the run with -1 when the descriptor cannot be built.
    // `partFlags` receives the parts the descriptor sets.
    EncodeStatus Encode(const std::string& attribute, const std::string& value,
                        const std::string& dn, Bytes& out, std::uint32_t& partFlags);

    // Account names to SIDs, shared with the expansion opcodes.
    pxsids::NameToSid& Names() { return *names_; }

  private:
    class Sources;
    class Guids;
    class Principals;

    DescriptorSettings settings_;
    pxsddl::SddlContext context_;
    std::unique_ptr<pxsids::PrincipalDirectory> directory_;
    std::unique_ptr<pxsids::NameToSid> names_;
    std::unique_ptr<Sources> sources_;
    std::unique_ptr<Guids> guids_;
    std::unique_ptr<Principals> principals_;
};

// True when an "sd##" value reads from the object it is written to (a source
// token without "=", or {{*DN*}}), so it must be built once per object.
[[nodiscard]] bool DescriptorDependsOnObject(std::string_view value);
