#include "Descriptors.h"

#include "ConsoleOutput.h"
#include "DescriptorReads.h"
#include "Diag.h"
#include "Lookups.h"
#include "PrincipalSearch.h"
#include "RootDSE.h"
#include "RunState.h"
#include "pellixstrings.h"

#include <set>

namespace {

// Stands in for the directory before the bind: it finds nothing.
class NoDirectory final : public pxsids::PrincipalDirectory {
  public:
    std::vector<Partition> Partitions() override { return {}; }
    std::string DefaultNamingContext() override { return ""; }
    std::string ConfigurationNamingContext() override { return ""; }
    int Search(std::string_view, std::string_view, bool, std::vector<pxsids::PrincipalEntry>&,
               std::string& error) override {
        error = "ERROR: Not connected to a directory.";
        return LDAP_SERVER_DOWN;
    }
};

// Shows each directory search name resolution makes (-d), so a run can be
// checked to look a name up once.
class ShownSearches final : public pxsids::PrincipalDirectory {
  public:
    explicit ShownSearches(std::unique_ptr<pxsids::PrincipalDirectory> inner)
        : inner_(std::move(inner)) {}
    std::vector<Partition> Partitions() override { return inner_->Partitions(); }
    std::string DefaultNamingContext() override { return inner_->DefaultNamingContext(); }
    std::string ConfigurationNamingContext() override {
        return inner_->ConfigurationNamingContext();
    }
    int Search(std::string_view base, std::string_view filter, bool baseOnly,
               std::vector<pxsids::PrincipalEntry>& out, std::string& error) override {
        diag::DebugOut("DEBUG: Principal search [" + std::string(base) + "] " +
                       std::string(filter) + "\n");
        return inner_->Search(base, filter, baseOnly, out, error);
    }

  private:
    std::unique_ptr<pxsids::PrincipalDirectory> inner_;
};

} // namespace

class DescriptorServices::Sources final : public pxsddl::DescriptorSources {
  public:
    Sources(LDAP* ld, const CRootDSE* root) : ld_(ld), root_(root) {}

    std::string GetSD(std::string_view dn, const pxsddl::SdParts& parts,
                      std::string_view attribute) override {
        if (!ld_) return "";
        return ::GetSD(ld_, dn, parts.Flags(), attribute);
    }
    std::string GetDefaultSD(std::string_view schemaNC, std::string_view className) override {
        if (!ld_) return "";
        return ::GetDefaultSD(ld_, schemaNC, className);
    }
    std::string GetTemplateSD(std::string_view base, std::string_view scope, std::string_view name,
                              const pxsddl::SdParts& parts) override {
        if (!ld_ || !root_) return "";
        return ::GetTemplateSD(ld_, *root_, base, scope, name, parts.Flags());
    }
    std::string GetObjectClass(std::string_view dn) override {
        if (!ld_) return "";
        return ::GetObjectClass(ld_, dn);
    }

  private:
    LDAP* ld_;
    const CRootDSE* root_;
};

// Names to schema GUIDs: the built-in table, the directory's extended rights
// and classes (read once, on first use), then one schema search per name the
// two do not know.
class DescriptorServices::Guids final : public pxsddl::SchemaGuidLookup {
  public:
    Guids(LDAP* ld, const CRootDSE* root) : ld_(ld), root_(root) {}

    std::optional<std::string> GuidForName(std::string_view name) override {
        LoadDirectoryNames();
        const std::string key = StrToLower(name);
        if (auto hit = cache_.FindGuid(key)) return hit;
        if (!ld_ || !root_ || unknown_.contains(key)) return std::nullopt;
        if (auto found = GetSDAttrGuid(ld_, root_->SchemaNC(), key)) {
            diag::DebugOut("DEBUG: Adding " + found->first + " " + found->second + "\n");
            cache_.Add(found->first, found->second);
            if (auto hit = cache_.FindGuid(key)) return hit;
        }
        unknown_.insert(key);
        return std::nullopt;
    }

  private:
    void LoadDirectoryNames() {
        if (loaded_) return;
        loaded_ = true;
        if (!ld_ || !root_ || root_->ConfigNC().empty()) return;
        std::vector<std::pair<std::string, std::string>> pairs;
        if (GetCARClassSDGuids(ld_, root_->ConfigNC(), pairs) != 0) return;
        for (const auto& [name, guid] : pairs)
            cache_.Add(name, guid);
    }

    LDAP* ld_;
    const CRootDSE* root_;
    bool loaded_ = false;
    kelvo::SchemaGuidCache cache_;
    std::set<std::string, std::less<>> unknown_;
};

class DescriptorServices::Principals final : public pxsddl::PrincipalResolver {
  public:
    Principals(pxsids::NameToSid& names, pxsids::PrincipalDirectory* directory,
               std::string defaultNC)
        : names_(names), directory_(directory), defaultNC_(std::move(defaultNC)) {}

    std::string ResolveSidWrappers(std::string_view text) override {
        std::vector<std::string> errors;
        std::string out = names_.ResolveSidWrappers(text, &errors);
        for (const auto& e : errors)
            diag::Out(e + "\n");
        return out;
    }
    std::string DefaultNamingContextSid() override {
        if (read_) return sid_;
        read_ = true;
        if (!directory_ || defaultNC_.empty()) return sid_;
        std::vector<pxsids::PrincipalEntry> entries;
        std::string error;
        if (directory_->Search(defaultNC_, "(objectclass=*)", true, entries, error) == 0 &&
            !entries.empty())
            sid_ = entries.front().sid;
        return sid_;
    }

  private:
    pxsids::NameToSid& names_;
    pxsids::PrincipalDirectory* directory_;
    std::string defaultNC_;
    bool read_ = false;
    std::string sid_;
};

DescriptorServices::DescriptorServices(LDAP* session, const CRootDSE* root,
                                       const DomainPartitionMap* partitions,
                                       DescriptorSettings settings)
    : settings_(settings) {
    static const DomainPartitionMap kNoPartitions;
    if (session && root)
        directory_ = std::make_unique<ShownSearches>(std::make_unique<LdapPrincipalDirectory>(
            session, *root, partitions ? *partitions : kNoPartitions));
    else
        directory_ = std::make_unique<NoDirectory>();
    names_ = std::make_unique<pxsids::NameToSid>(*directory_);
    sources_ = std::make_unique<Sources>(session, root);
    guids_ = std::make_unique<Guids>(session, root);
    principals_ = std::make_unique<Principals>(*names_, session ? directory_.get() : nullptr,
                                               root ? root->DefaultNC() : std::string());

    auto& c = context_;
    if (root) {
        c.nc.schema = root->SchemaNC();
        c.nc.configuration = root->ConfigNC();
        c.nc.defaultNC = root->DefaultNC();
        c.nc.rootDomain = root->RootDomainNC();
        c.ldsServer = root->IsADLDS();
    }
    if (partitions) {
        for (const auto& [key, info] : *partitions) {
            if (key == "DEFAULT")
                c.defaultDomainSid = info.sid;
            else if (key == "ROOT")
                c.forestSid = info.sid;
            else if (!info.sid.empty())
                c.domainSids[StrToLower(key)] = info.sid;
        }
    }
    c.parts = settings.parts;
    c.keepGeneric = settings.keepGeneric;
    c.verbatim = settings.verbatim;
    c.sources = sources_.get();
    c.guids = guids_.get();
    c.principals = principals_.get();
}

DescriptorServices::~DescriptorServices() = default;

EncodeStatus DescriptorServices::Encode(const std::string& attribute, const std::string& value,
                                        const std::string& dn, Bytes& out,
                                        std::uint32_t& partFlags) {
    out.clear();
    context_.objectDn = dn;
    const pxsddl::CSDDL sd(value, attribute, context_);
    partFlags = sd.SpecifiedFlags();
    pxsddl::BinaryOptions options;
    options.whatIf = settings_.whatIf;
    options.extendedErrors = settings_.extendedErrors;
    options.alternative = settings_.alternative;
    pxsddl::BinaryResult r = sd.GetBinSecurityDescriptor(options);
    if (!r.ok) {
        diag::Out("ERROR: " + r.message + "\n");
        return {-1, true};
    }
    if (settings_.whatIf) {
        diag::Out(r.whatIf);
        LogLine(r.whatIf);
        return {};
    }
    out = std::move(r.bytes);
    return {};
}

bool DescriptorDependsOnObject(std::string_view value) {
    const std::string upper = StrToUpper(value);
    if (upper.find("{{*DN*}}") != std::string::npos) return true;
    // Only a source token at the start of the value counts; modifiers follow it.
    static constexpr std::string_view kTokens[] = {"{GETSD}",  "{GETPSD}",  "{GETISD}",
                                                   "{GETDSD}", "{GETPDSD}", "{GETTSD}"};
    std::string_view v = upper;
    if (v.starts_with("[SDDL] ")) v.remove_prefix(7);
    if (v.starts_with("[SDDL_EXPLICIT] ")) v.remove_prefix(16);
    for (const auto token : kTokens) {
        if (!v.starts_with(token)) continue;
        v.remove_prefix(token.size());
        return !v.starts_with("=");
    }
    return false;
}
