// Attribute actions ("attribute:operation:values") with the options a run can
// give them, then the modification arrays built from them and the descriptor
// edits resolved by descriptor services that have no directory.  Inputs that
// name "importfile##" are skipped: that encoding reads files.
//
// Input: two option bytes, then the actions, NUL-separated.
//   byte 0: bits 0-1 the run (update, add, other), bit 2 -cm, bit 3
//           -sdsimple, bit 4 -csv, bit 5 ADCSV, bit 6 "|" and "," as the
//           delimiters, bit 7 -d
//   byte 1: bit 0 -sdwhatif, bit 1 -expand (values pass through unchanged),
//           bit 2 an encrypted session, bit 3 -d2
#include "AttributeActions.h"
#include "Descriptors.h"
#include "FuzzSupport.h"
#include "pellixstrings.h"

namespace {

void CheckArray(const ModList& mods) {
    fuzz::Check(mods.Array()[mods.Count()] == nullptr, "the modification array is not terminated");
    for (std::size_t i = 0; i < mods.Count(); ++i)
        fuzz::Check(mods.Array()[i] == &mods.At(i), "the modification array is out of step");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::Silence();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Silence();
    const fuzz::Options o(fuzz::Text(data, size), 2);
    if (StrToLower(o.rest).find("importfile##") != std::string::npos) return 0;
    diag::Get().debug = o.Has(7) || o.Has(11);
    diag::Get().trace = o.Has(11);

    DescriptorSettings sdSettings;
    sdSettings.whatIf = o.Has(8);
    DescriptorServices services(nullptr, nullptr, nullptr, sdSettings);
    const SdBuildFn build = [&](const std::string& attribute, const std::string& value,
                                const std::string& dn, Bytes& out, std::uint32_t& parts) {
        return services.Encode(attribute, value, dn, out, parts);
    };

    ActionOptions options;
    const unsigned run = o.Byte(0) & 3;
    options.run = run == 1 ? ActionRun::Add : run == 2 ? ActionRun::Other : ActionRun::Update;
    options.clearMembers = o.Has(2);
    options.sdSimple = o.Has(3);
    if (options.sdSimple) options.sdBuild = build;
    options.csv = o.Has(4);
    options.adcsv = o.Has(5);
    if (o.Has(6)) {
        options.attrDelim = "|";
        options.valueDelim = ",";
    }
    const std::vector<std::string> actions = fuzz::Split(o.rest, '\0');
    ModContainers c;
    const ParseResult parsed = ParseAttributeActions(actions, options, c);
    if (parsed.endsRun) fuzz::Check(parsed.binaryResult != 0, "a run ended without a failure");

    BuildOptions buildOptions;
    buildOptions.expand = o.Has(9);
    buildOptions.expander = [](const std::string& text, const std::string&) {
        return Expanded{true, text, 0, {}};
    };
    buildOptions.encrypted = o.Has(10);
    const bool asAdd = options.run == ActionRun::Add;
    {
        ModList mods;
        const BuildResult built = BuildModifications(c, buildOptions, asAdd, mods);
        fuzz::Check(built.ok, "an expansion that cannot fail failed");
        CheckArray(mods);
    }
    const ExpandFn expand = [](const std::string& text, const std::string&) {
        return Expanded{true, text, 0, {}};
    };
    if (const Step step = ResolveSdMods(c, expand, build, "cn=jdoe,ou=staff,dc=corp,dc=example")) {
        fuzz::Check(step->exitCode != 0, "a descriptor edit failed with exit code 0");
        return 0;
    }
    ModList mods;
    (void)BuildModifications(c, buildOptions, asAdd, mods);
    CheckArray(mods);
    return 0;
}
