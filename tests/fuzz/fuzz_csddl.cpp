// The descriptor engine: one "sd##" value through CSDDL (markers, ACE
// modifiers, source tokens, friendly notation, canonical order) and its
// binary descriptor, plain and in the alternative order.  The context has
// no directory; when the input has a second part, it is the SDDL text every
// descriptor read returns (directory values are input too).
//
// Input: two option bytes, then the value; 0x1E starts the directory text.
//   byte 0: bit 0 domain and forest SIDs known, bit 1 AD LDS, bit 2
//           -sdkeepgeneric, bit 3 -sdverbatim, bit 4 -sdwhatif, bit 5
//           -exterr, bit 6 an object DN, bit 7 -d
//   byte 1: bits 0-3 the parts sources read (owner, group, DACL, SACL
//           left out), bit 4 -d2
#include "CSDDL.h"
#include "FuzzSupport.h"
#include "SecurityDescriptor.h"

#include <algorithm>

namespace sec = platform::security;

namespace {

class TextSources final : public pxsddl::DescriptorSources {
  public:
    explicit TextSources(std::string text) : text_(std::move(text)) {}
    std::string GetSD(std::string_view, const pxsddl::SdParts&, std::string_view) override {
        return text_;
    }
    std::string GetDefaultSD(std::string_view, std::string_view) override { return text_; }
    std::string GetTemplateSD(std::string_view, std::string_view, std::string_view,
                              const pxsddl::SdParts&) override {
        return text_;
    }
    std::string GetObjectClass(std::string_view) override { return "organizationalUnit"; }

  private:
    std::string text_;
};

std::vector<sec::Ace> DaclAces(const std::vector<std::uint8_t>& bytes) {
    sec::SecurityDescriptor sd;
    fuzz::Check(sec::DecodeSecurityDescriptor(bytes, sd).ok(),
                "the engine's descriptor does not decode");
    return sd.dacl ? sd.dacl->aces : std::vector<sec::Ace>{};
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::Silence();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Silence();
    const fuzz::Options o(fuzz::Text(data, size), 2);
    diag::Get().debug = o.Has(7) || o.Has(12);
    diag::Get().trace = o.Has(12);
    const auto parts = fuzz::Split(o.rest, '\x1e', 2);

    pxsddl::SddlContext ctx;
    if (o.Has(0)) {
        ctx.defaultDomainSid = "S-1-5-21-1-2-3";
        ctx.forestSid = "S-1-5-21-7-8-9";
        ctx.domainSids["dc=corp,dc=example"] = "S-1-5-21-1-2-3";
        ctx.nc.defaultNC = "DC=corp,DC=example";
        ctx.nc.rootDomain = "DC=corp,DC=example";
        ctx.nc.configuration = "CN=Configuration,DC=corp,DC=example";
        ctx.nc.schema = "CN=Schema,CN=Configuration,DC=corp,DC=example";
    }
    ctx.ldsServer = o.Has(1);
    ctx.keepGeneric = o.Has(2);
    ctx.verbatim = o.Has(3);
    if (o.Has(6)) ctx.objectDn = "OU=Staff,DC=corp,DC=example";
    ctx.parts.owner = !o.Has(8);
    ctx.parts.group = !o.Has(9);
    ctx.parts.dacl = !o.Has(10);
    ctx.parts.sacl = !o.Has(11);
    TextSources sources(parts.size() > 1 ? parts[1] : std::string());
    if (parts.size() > 1) ctx.sources = &sources;

    const pxsddl::CSDDL sd(parts[0], "", ctx);
    (void)sd.SpecifiedFlags();
    (void)pxsddl::CSDDL::ExplodedListing("SDWHATIF: ", sd.SDDL());

    pxsddl::BinaryOptions options;
    options.whatIf = o.Has(4);
    options.extendedErrors = o.Has(5);
    const pxsddl::BinaryResult plain = sd.GetBinSecurityDescriptor(options);
    options.alternative = true;
    const pxsddl::BinaryResult ordered = sd.GetBinSecurityDescriptor(options);
    fuzz::Check(plain.ok == ordered.ok, "the alternative order fails where the plain one does not");
    if (!plain.ok) {
        fuzz::Check(!plain.message.empty() && !ordered.message.empty(),
                    "a failed conversion has no message");
        return 0;
    }
    // The alternative order moves whole ACEs and nothing else.
    const auto a = DaclAces(plain.bytes);
    const auto b = DaclAces(ordered.bytes);
    fuzz::Check(a.size() == b.size() && std::is_permutation(a.begin(), a.end(), b.begin()),
                "the alternative order changed the ACEs");
    return 0;
}
