// Switch parsing and the layers below the command line, in the order of a
// run: the command line, -e environment entries, the default environment
// prefix, a switch file, then validation and the settings the switches turn
// on.  Nothing is read from the real environment or from any file.
//
// Input: up to three parts separated by 0x1E - arguments (NUL-separated),
// environment entries (NUL-separated, "NAME=value"), switch-file text.
// Without an environment part the arguments serve as entries; without a
// switch-file part the arguments are its lines.
#include "FuzzSupport.h"
#include "RunState.h"
#include "Secrets.h"
#include "SwitchParser.h"
#include "SwitchTable.h"
#include "pellixstrings.h"

#include <algorithm>
#include <map>

namespace {

// A value with a character other than '*' never survives its redaction.
void CheckRedacted(std::string_view value, const std::string& shown, const char* what) {
    if (value.find_first_not_of('*') == std::string_view::npos) return;
    fuzz::Check(shown.find(value) == std::string::npos, what);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::Silence();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Silence();
    const auto parts = fuzz::Split(fuzz::Text(data, size), '\x1e', 3);
    std::vector<std::string> argv{"kelvo"};
    const auto args = fuzz::Split(parts[0], '\0');
    argv.insert(argv.end(), args.begin(), args.end());
    const std::vector<std::string> env = parts.size() > 1 ? fuzz::Split(parts[1], '\0') : args;
    std::string fileText = parts.size() > 2 ? parts[2] : parts[0];
    if (parts.size() <= 2) std::replace(fileText.begin(), fileText.end(), '\0', '\n');

    SwitchParser parser(argv, SwitchDeclarations());
    WipeSecretArguments(argv);
    const bool debug = parser.IsSwitch(sw::d) || parser.IsSwitch(sw::d2);
    diag::Get().debug = debug;
    diag::Get().trace = parser.IsSwitch(sw::d2);
    const std::map<std::string, std::string> fromCommandLine = parser.SelectedSwitches();

    if (parser.IsSwitch(sw::e)) {
        std::string prefix = StrToLower(parser.GetValue(sw::e));
        if (prefix.empty()) prefix = kSharedEnvPrefix;
        (void)ReadEnv(prefix, parser, env, debug);
    }
    (void)ReadEnv(std::string(kDefaultEnvPrefix), parser, env, debug);
    fuzz::MemoryFile file(fileText);
    std::vector<std::string> lines;
    std::string why;
    if (ReadSwitchLines(file.Get(), lines, why))
        ApplySwitchLines(lines, debug, parser);
    else
        fuzz::Check(!why.empty(), "a refused switch file says why");

    // A lower layer never changes a switch the command line set.
    for (const auto& [name, value] : fromCommandLine)
        fuzz::Check(parser.IsSwitch(name) && parser.GetValue(name) == value,
                    "a layer overrode a command-line switch");

    const std::string delim = AttributeDelimiter(parser);
    for (const auto& line : lines)
        (void)RedactSwitchLine(line, delim);
    for (const auto& entry : env) {
        const std::size_t eq = entry.find('=');
        (void)RedactEnvValue(entry.substr(0, eq),
                             eq == std::string::npos ? std::string() : entry.substr(eq + 1), delim);
    }
    const bool shown = ShowSecrets();
    for (const auto& [name, value] : parser.SelectedSwitches()) {
        const std::string redacted = RedactValue(name, value, delim);
        if ((IsSecretSwitch(name) || IContains(value, "ENCPWD:")) && !shown)
            CheckRedacted(value, redacted, "a password switch value was shown");
        (void)parser.GetValueUnescaped(name);
        (void)parser.AwaitedBy(name);
        (void)RedactSwitchName(parser, name);
        (void)FindSwitch(name);
    }
    for (const auto& arg : parser.SelectedArgs()) {
        (void)RedactAction(arg, delim);
        (void)parser.ArgContains(arg);
        (void)parser.IsArg(arg);
        (void)parser.ArgPosition(arg);
    }

    (void)parser.Validate(SwitchDeclarations());
    RunSettings settings;
    ApplySwitchSettings(parser, settings);
    if (parser.IsSwitch(sw::up)) parser.WipeValue(sw::up);
    return 0;
}
