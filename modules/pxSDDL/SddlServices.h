// What the descriptor engine needs from outside: the directory reads of the
// descriptor sources, schema names to GUIDs, account names to SIDs, and the
// facts of the run.  The program implements the interfaces on the bound
// session and its tables; tests replace them with fakes.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pxsddl {

// Which descriptor parts a source read asks for (the SD flags control value:
// owner 1, group 2, DACL 4, SACL 8).
struct SdParts {
    bool owner = true;
    bool group = true;
    bool dacl = true;
    bool sacl = true;
    [[nodiscard]] std::uint32_t Flags() const {
        return (owner ? 1u : 0u) | (group ? 2u : 0u) | (dacl ? 4u : 0u) | (sacl ? 8u : 0u);
    }
};

// Directory reads of the source tokens.  Each returns SDDL text, or an error
// text ("ERROR: ..."), or "" as described per call.
class DescriptorSources {
  public:
    virtual ~DescriptorSources() = default;
    // The descriptor of one object (SD flags control from `parts`, deleted
    // objects visible).  "ERROR: Couldn't retrieve SD template object " + dn
    // when the read fails, "ERROR: Didn't retrieve SD\n" when it has none.
    virtual std::string GetSD(std::string_view dn, const SdParts& parts,
                              std::string_view attribute) = 0;
    // defaultSecurityDescriptor of a class ("" when there is none).
    virtual std::string GetDefaultSD(std::string_view schemaNC, std::string_view className) = 0;
    // The descriptor of the one object named `name` below `base`.
    virtual std::string GetTemplateSD(std::string_view base, std::string_view scope,
                                      std::string_view name, const SdParts& parts) = 0;
    // Most specific structural class of an object, or "".
    virtual std::string GetObjectClass(std::string_view dn) = 0;
};

// Attribute, class and extended-right names to the GUIDs of object ACEs.
class SchemaGuidLookup {
  public:
    virtual ~SchemaGuidLookup() = default;
    // Lower-case 8-4-4-4-12 GUID text for a name (any case); nullopt when
    // neither the built-in table nor the directory knows it.
    virtual std::optional<std::string> GuidForName(std::string_view name) = 0;
};

// Account names to SIDs (the program passes its pxsids::NameToSid).
class PrincipalResolver {
  public:
    virtual ~PrincipalResolver() = default;
    // Replaces "{{SID:name}}" and "{{LDSSID:spec}}" wrappers by SID text;
    // unresolvable names become error texts that make conversion fail.
    virtual std::string ResolveSidWrappers(std::string_view text) = 0;
    // objectSid of the default naming context ("" when it cannot be read).
    virtual std::string DefaultNamingContextSid() = 0;
};

struct NamingContexts {
    std::string schema;
    std::string configuration;
    std::string defaultNC;
    std::string rootDomain;
};

// Everything one descriptor build reads.  Pointers are borrowed and may be
// null where a test or a run has no directory (sources then yield nothing,
// names stay names).
struct SddlContext {
    // DN of the object being processed; empty when not known.
    std::string objectDn;
    NamingContexts nc;
    // Lower-cased domain naming context -> domain SID text, for every domain
    // of the forest; "" keys are not used.
    std::map<std::string, std::string> domainSids;
    std::string defaultDomainSid; // SID of the default naming context's domain
    std::string forestSid;        // SID of the forest root domain
    bool ldsServer = false;       // AD LDS: names resolve with {{LDSSID:...}}
    SdParts parts;                // -sdnoowner ... -onlysacl
    bool keepGeneric = false;     // -sdkeepgeneric
    bool verbatim = false;        // -sdverbatim
    DescriptorSources* sources = nullptr;
    SchemaGuidLookup* guids = nullptr;
    PrincipalResolver* principals = nullptr;
};

} // namespace pxsddl
