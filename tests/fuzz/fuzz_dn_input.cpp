// Redirected input as a run reads it: the hint line, DNs (with SID and GUID
// forms, relative bases and the stdin-redirect modes) or CSV rows (with the
// ADCSV marker), then sorting and the limits.
//
// Input: two option bytes, then the text of standard input.
//   byte 0: bit 0 -csv, bits 1-2 redirect mode (none, add, remove, replace),
//           bit 3 a relative base, bit 4 -vtsv, bit 5 -replacedn,
//           bit 6 -stdinsort, bit 7 -d
//   byte 1: bit 0 a descriptor action (the DS query CSV form), bit 1 one base
//           for every row, bit 2 -stdinsortreverse, bit 3 -d2, bits 4-7 the
//           progress dot interval
#include "DNInput.h"
#include "FuzzSupport.h"
#include "SwitchTable.h"

#include <set>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::Silence();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Silence();
    const fuzz::Options o(fuzz::Text(data, size), 2);
    std::vector<std::string> argv{"kelvo"};
    if (o.Has(4)) argv.push_back("-vtsv");
    if (o.Has(5)) argv.push_back("-replacedn");
    if (o.Has(6)) argv.push_back("-stdinsort");
    if (o.Has(10)) argv.push_back("-stdinsortreverse");
    if (o.Has(8)) argv.push_back("SD##ntsecuritydescriptor::{GETSD}{+D=(A;;RP;;;WD)}");
    SwitchParser parser(argv, SwitchDeclarations());
    diag::Get().debug = o.Has(7) || o.Has(11);
    diag::Get().trace = o.Has(11);

    RunSettings settings;
    settings.csv = o.Has(0);
    settings.redirect = static_cast<RedirectKind>((o.Byte(0) >> 1) & 3);
    if (settings.redirect != RedirectKind::None) settings.redirectAttr = "member";
    if (o.Has(3)) settings.relativeBase = "ou=staff,dc=corp,dc=example";
    settings.replaceDN = o.Has(5);
    settings.dotInterval = o.Byte(1) >> 4;
    settings.safety = 1000000;

    Globals().stdinRedirected = true;
    Globals().quiet = true;
    fuzz::MemoryFile file(o.rest);
    LineReader reader(file.Get());
    TargetInput input;
    if (o.Has(9)) {
        input.baseForEveryRow = true;
        settings.baseDN = "cn=jdoe,ou=staff,dc=corp,dc=example";
    }
    ReadHintLine(parser, reader, input);
    const Step step = CollectTargets(parser, settings, reader, input);
    if (step) {
        fuzz::Check(step->exitCode != 0, "reading the input failed with exit code 0");
        return 0;
    }
    for (const Target& t : input.targets) {
        fuzz::Check(t.dn.find('\0') == std::string::npos, "a target DN holds a NUL byte");
        if ((settings.csv || settings.adcsv) && settings.redirect == RedirectKind::None)
            fuzz::Check(t.row != nullptr, "a CSV target has no row");
    }
    std::multiset<std::string> before;
    for (const Target& t : input.targets)
        before.insert(t.dn);
    SortAndTrim(parser, input.targets);
    std::multiset<std::string> after;
    for (const Target& t : input.targets)
        after.insert(t.dn);
    fuzz::Check(before == after, "sorting lost or invented a DN");
    (void)ApplyLimits(input.targets, input.rejected, settings);
    return 0;
}
