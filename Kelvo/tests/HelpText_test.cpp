#include "HelpText.h"
#include "RunState.h"
#include "Shortcuts.h"
#include "SwitchTable.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <cctype>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr std::string_view kVersion = "9.8.7";

constexpr HelpMode kAllModes[] = {HelpMode::Basic, HelpMode::Advanced, HelpMode::Shortcuts,
                                  HelpMode::Csv, HelpMode::Descriptor};

constexpr std::string_view kCommonHead = "-help         Basic help.\n"
                                         "-?            Basic help.\n"
                                         "-??           Advanced help.\n"
                                         "-????         Shortcut help.\n"
                                         "-sc?          Shortcut help.\n"
                                         "-csv?         CSV / ADCSV help.\n"
                                         "-sd?          Security Descriptor help.\n"
                                         "\n"
                                         "Usage:\n"
                                         " Kelvo [switches] [attr-action]\n"
                                         "\n"
                                         "  Switches: (designated by - or /)\n";

// Every declared switch name, markers stripped.  The declaration strings
// themselves are pinned by the switch table's own test.
std::vector<std::string> DeclaredNames() {
    std::vector<std::string> names;
    for (std::string_view decl : SwitchDeclarations()) {
        if (!decl.empty() && (decl[0] == ':' || decl[0] == '$' || decl[0] == '^'))
            decl.remove_prefix(1);
        if (!decl.empty()) names.emplace_back(decl);
    }
    return names;
}

bool IsNameChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '?' || c == '+' || c == '_' ||
           c == '-';
}

// True when `text` names the switch as "-name", not as the start of a longer
// switch ("-d" inside "-del" does not count) nor inside a word ("re-do").
bool MentionsSwitch(std::string_view text, std::string_view name) {
    const std::string needle = "-" + std::string(name);
    for (std::size_t pos = text.find(needle); pos != std::string_view::npos;
         pos = text.find(needle, pos + 1)) {
        const bool startOk =
            pos == 0 || std::isalnum(static_cast<unsigned char>(text[pos - 1])) == 0;
        const std::size_t after = pos + needle.size();
        const bool endOk = after == text.size() || !IsNameChar(text[after]);
        if (startOk && endOk) return true;
    }
    return false;
}

std::vector<std::string_view> Lines(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        lines.push_back(text.substr(pos, end - pos));
        pos = end + 1;
    }
    return lines;
}

// Checks that `needles` occur in `text` in this order.
void ExpectInOrder(const std::string& text, std::initializer_list<std::string_view> needles) {
    std::size_t from = 0;
    for (std::string_view needle : needles) {
        const std::size_t at = text.find(needle, from);
        ASSERT_NE(at, std::string::npos) << "missing or out of order: " << needle;
        from = at + needle.size();
    }
}

TEST(HelpText, EveryModeStartsWithTheCommonHead) {
    for (HelpMode mode : kAllModes) {
        const std::string text = ComposeHelp(mode, kVersion);
        SCOPED_TRACE(static_cast<int>(mode));
        EXPECT_EQ(text.substr(0, kCommonHead.size()), kCommonHead);
        EXPECT_GT(text.size(), kCommonHead.size() + 1000) << "mode has no content of its own";
        EXPECT_EQ(text.back(), '\n');
    }
}

TEST(HelpText, LinesFitAndTextIsClean) {
    constexpr std::string_view kForbidden[] = {"http", "www.", "Microsoft", "Windows"};
    for (HelpMode mode : kAllModes) {
        const std::string text = ComposeHelp(mode, kVersion);
        SCOPED_TRACE(static_cast<int>(mode));
        for (std::string_view line : Lines(text)) {
            EXPECT_LE(line.size(), kHelpLineWidth) << "[" << line << "]";
            if (!line.empty()) {
                EXPECT_NE(line.back(), ' ') << "trailing blank: [" << line << "]";
            }
            EXPECT_EQ(line.find('\t'), std::string_view::npos) << "[" << line << "]";
        }
        for (std::string_view word : kForbidden) {
            EXPECT_EQ(text.find(word), std::string::npos) << word;
        }
        EXPECT_EQ(text.find("{VERSION}"), std::string::npos);
    }
}

TEST(HelpText, BasicHelpPointsToTheAdvancedHelpTwice) {
    const std::string text = ComposeHelp(HelpMode::Basic, kVersion);
    ExpectInOrder(text, {"CONNECTION OPTIONS", "UPDATE OPTIONS", "ACTIONS", "attr:op:values",
                         "\n    Type Kelvo /?? for details.\n",
                         "Notes:", "\n    Type Kelvo /?? for more notes.\n\n\n",
                         "Examples:", "Kelvo 9.8.7 "});
    EXPECT_EQ(text.find("Advanced:"), std::string::npos);
}

TEST(HelpText, AdvancedHelpHasEverySectionWithAnAdvancedBlock) {
    const std::string text = ComposeHelp(HelpMode::Advanced, kVersion);
    ExpectInOrder(text, {"CONNECTION OPTIONS", "Advanced:", "UPDATE OPTIONS",
                         "Advanced:", "ACTION OPTIONS", "Advanced:", "OUTPUT OPTIONS",
                         "Advanced:", "AUTHENTICATION OPTIONS", "Advanced:", "MISC OPTIONS",
                         "Advanced:", "attr:op:values", "details:", "Notes:", "Further notes:",
                         "Examples:", "Advanced examples:", "Kelvo 9.8.7 "});
}

TEST(HelpText, AdvancedHelpNamesEverySwitchOfTheTable) {
    // The declarations the parser gets are the table's: 152 plus the
    // Linux build's encpwd, csvq, undo, rejects and upfile, the dry run's
    // whatif and ldifout, and parallel.
    ASSERT_EQ(DeclaredNames().size(), 160u);
    const std::string text = ComposeHelp(HelpMode::Advanced, kVersion);
    for (const SwitchDef& def : kSwitchTable)
        EXPECT_TRUE(MentionsSwitch(text, def.name)) << def.name;
}

// The switches a help row starts with: the help-switch list at the top, and
// the left column of the rows ("   -rm, -del" or "   -h host[:port]").
std::vector<std::string> RowSwitches(std::string_view line) {
    std::string_view term;
    if (line.starts_with("-")) {
        term = line.substr(0, line.find(' '));
    } else if (line.starts_with("   -")) {
        term = line.substr(3, 21); // the term column
    } else {
        return {};
    }
    std::vector<std::string> names;
    std::size_t pos = 0;
    while (pos < term.size()) {
        std::size_t end = term.find(' ', pos);
        if (end == std::string_view::npos) end = term.size();
        std::string_view word = term.substr(pos, end - pos);
        if (word.ends_with(",")) word.remove_suffix(1);
        if (word.size() > 1 && word.front() == '-') names.emplace_back(word.substr(1));
        pos = end + 1;
    }
    return names;
}

TEST(HelpText, NoHelpRowNamesAnUndeclaredSwitch) {
    EXPECT_EQ(RowSwitches("   -rm, -del            Delete."),
              (std::vector<std::string>{"rm", "del"}));
    EXPECT_EQ(RowSwitches("   -h host[:port]       Server"), (std::vector<std::string>{"h"}));
    EXPECT_EQ(RowSwitches("-sc?          Shortcut help."), (std::vector<std::string>{"sc?"}));
    EXPECT_TRUE(RowSwitches("    - a note naming -b").empty());
    for (HelpMode mode : kAllModes) {
        SCOPED_TRACE(static_cast<int>(mode));
        std::size_t rows = 0;
        const std::string text = ComposeHelp(mode, kVersion); // the lines point into it
        for (std::string_view line : Lines(text)) {
            for (const std::string& name : RowSwitches(line)) {
                ++rows;
                // Container switches outside the switch table are taken by
                // the shortcut step before Validate sees them; a GNU
                // spelling (--version) stands for its switch.
                const bool gnu =
                    std::any_of(std::begin(kSwitchTable), std::end(kSwitchTable),
                                [&](const SwitchDef& def) { return def.gnuName == "-" + name; });
                EXPECT_TRUE(FindSwitch(name) != nullptr || IsContainerBaseSwitch(name) || gnu)
                    << "[" << line << "]";
            }
        }
        EXPECT_GE(rows, 7u) << "found no switch rows";
    }
}

TEST(HelpText, AdvancedHelpDocumentsOperationsTypedValuesAndLinuxBehaviour) {
    const std::string text = ComposeHelp(HelpMode::Advanced, kVersion);
    constexpr std::string_view kNeedles[] = {
        // operations
        "attr::value", "attr:+:value", "attr:-:value", "attr:-", "attr:++:", "attr:+-:", "attr:--:",
        // typed value prefixes
        "sid##", "guid##", "bin##", "hex##", "base64##", "txt##", "importfile##", "sd##", "utc##",
        "local##", "current##", "utcgt##", "localgt##", "currentgt##", "delta##", "dnwbin##",
        "dnwstr##", "dnwtxt##", "unicodepwd",
        // layering
        "pellix-default-kelvo-", "pellix_default_kelvo.cf", "quorv-", "kelvo.cf",
        // Linux behaviour
        "ENCPWD:", "AES-256-GCM", "~/.config/kelvo/encpwd.key", "0600", "kinit", "default 120",
        "/home/a/x.csv", "255", "Kelvo_9.8.7_usage.txt"};
    for (std::string_view needle : kNeedles) {
        EXPECT_NE(text.find(needle), std::string::npos) << needle;
    }
}

TEST(HelpText, ShortcutHelpNamesEveryShortcutAndSpecialBase) {
    const std::string text = ComposeHelp(HelpMode::Shortcuts, kVersion);
    constexpr std::string_view kShortcuts[] = {"help",
                                               "refreshschema",
                                               "hackon",
                                               "hackoff",
                                               "defrag:",
                                               "checkphantoms",
                                               "fixlinks",
                                               "refreshugc",
                                               "xferschema",
                                               "xferdm",
                                               "xferrid",
                                               "xferim",
                                               "xferpdc:",
                                               "ddb:",
                                               "ddblinks",
                                               "ddbreferences:",
                                               "dldapstate",
                                               "refreshrid:",
                                               "fi",
                                               "rh",
                                               "gc",
                                               "phantomgc",
                                               "igcc",
                                               "rsc",
                                               "rodcpurge:",
                                               "runpag",
                                               "runsamupg",
                                               "rso:",
                                               "rsos:",
                                               "removelo:",
                                               "enablerecyclebin",
                                               "enablepam",
                                               "enableforestfeature:",
                                               "enablefeature:",
                                               "uacset:",
                                               "uacsetx:",
                                               "uacclear:",
                                               "uacclearx:",
                                               "ad-disable",
                                               "ad-enable",
                                               "csh",
                                               "importschema:",
                                               "adau:",
                                               "adamau:",
                                               "adag:",
                                               "adamag:",
                                               "adac:",
                                               "adaou:",
                                               "adamaou:",
                                               "adacon:",
                                               "adamacon:",
                                               "sdreset",
                                               "sdresetdelprot",
                                               "sddelprot",
                                               "sddelprot+",
                                               "sddelprot-",
                                               "sdinherit",
                                               "sdinherit+",
                                               "sdinherit-",
                                               "sd:",
                                               "sdnoi:",
                                               "sdpiped",
                                               "sdstrip:"};
    for (std::string_view name : kShortcuts) {
        // Shortcut names start a word of a row's left column.
        EXPECT_NE(text.find(" " + std::string(name)), std::string::npos) << name;
    }
    constexpr std::string_view kUacNames[] = {
        "accountdisable",         "passwd_notreqd",
        "dont_expire_passwd",     "smartcard_required",
        "trusted_for_delegation", "use_des_key_only",
        "dont_require_preauth",   "trusted_to_authenticate_for_delegation"};
    for (std::string_view name : kUacNames) {
        EXPECT_NE(text.find(name), std::string::npos) << name;
    }
    constexpr std::string_view kBases[] = {
        "forestdns",  "domaindns", "legacydns",    "dcs",       "users",
        "fsps",       "gpo",       "psocontainer", "fgpp",      "quotas",
        "ldappolicy", "xrights",   "partitions",   "sitelinks", "sites",
        "subnets",    "exch",      "svcs",         "ds",        "displayspecifiers",
        "delobjs",    "delobjs+",  "do",           "roles",     "system",
        "chgpwd",     "changepwd", "setpwd"};
    for (std::string_view name : kBases)
        EXPECT_TRUE(MentionsSwitch(text, name)) << name;
}

TEST(HelpText, CsvHelpCoversSwitchesExpansionAndImport) {
    const std::string text = ComposeHelp(HelpMode::Csv, kVersion);
    constexpr std::string_view kSwitches[] = {
        "csv",         "csvfile",     "csvdelim",       "csvmvdelim", "csvq",
        "vtsv",        "csvmodnull",  "expand",         "import",     "importus",
        "importpass1", "importpass2", "importexclattr", "replacedn"};
    for (std::string_view name : kSwitches)
        EXPECT_TRUE(MentionsSwitch(text, name)) << name;
    constexpr std::string_view kNeedles[] = {"~~~ADCSV~~~",
                                             "{{.}}",
                                             ":_lc",
                                             ":_uc",
                                             "allvals",
                                             "rall_ci",
                                             "encutc_int8",
                                             "enclocal_int8",
                                             "int8+d",
                                             "*cnt*",
                                             "*rnd*",
                                             "*dn*",
                                             "*rdn*",
                                             "*parentdn*",
                                             "*domaindn*",
                                             "*ndc*",
                                             "*name*",
                                             "*origname*",
                                             "*confignc*",
                                             "*rootnc*",
                                             "*schemanc*",
                                             "*defaultnc*",
                                             "*hostfqdn*",
                                             "*domaindns*",
                                             "*rootdns*",
                                             "*adminsdholder*",
                                             "*secprin*",
                                             "*sid*",
                                             "*isid*",
                                             "*ldssid*",
                                             "*now*",
                                             "*now_utc*",
                                             "*nowgt*",
                                             "*now_int8*",
                                             "*now_gt*",
                                             "*encutc_int8*",
                                             "*enclocal_int8*",
                                             "{{"};
    for (std::string_view needle : kNeedles) {
        EXPECT_NE(text.find(needle), std::string::npos) << needle;
    }
}

TEST(HelpText, DescriptorHelpCoversSourcesModifiersAndSwitches) {
    const std::string text = ComposeHelp(HelpMode::Descriptor, kVersion);
    constexpr std::string_view kNeedles[] = {"{GETSD}",
                                             "{GETPSD}",
                                             "{GETISD}",
                                             "{GETDSD}",
                                             "{GETPDSD}",
                                             "{GETTSD}",
                                             "{+D=",
                                             "{-D=",
                                             "{+S=",
                                             "{-S=",
                                             "{+O=",
                                             "{+G=",
                                             "{{*ADMINSDHOLDER*}}",
                                             "{{*DN*}}",
                                             "[CONT INHERIT]",
                                             "(FLAGS:PROTECTED)",
                                             "SD##ntsecuritydescriptor::"};
    for (std::string_view needle : kNeedles) {
        EXPECT_NE(text.find(needle), std::string::npos) << needle;
    }
    constexpr std::string_view kSwitches[] = {
        "sd",       "dsd",     "sdwhatif",  "sdverbatim", "sdkeepgeneric",
        "sdsimple", "pxsdenc", "sdnoowner", "sdnogroup",  "sdnodacl",
        "sdnosacl", "sdna",    "onlydacl",  "onlysacl",   "exterr"};
    for (std::string_view name : kSwitches)
        EXPECT_TRUE(MentionsSwitch(text, name)) << name;
}

// The saved output of `kelvo -help`, `-??`, `-sc?`, `-csv?` and `-sd?`.  The
// help is built from the switch table and the text tables; rearranging either
// must not change a byte of what users see.
TEST(HelpText, EveryModeMatchesItsSavedOutput) {
    struct Golden {
        HelpMode mode;
        std::string_view file;
    };
    constexpr Golden kGolden[] = {{HelpMode::Basic, "help_basic.txt"},
                                  {HelpMode::Advanced, "help_advanced.txt"},
                                  {HelpMode::Shortcuts, "help_shortcuts.txt"},
                                  {HelpMode::Csv, "help_csv.txt"},
                                  {HelpMode::Descriptor, "help_descriptor.txt"}};
    for (const Golden& g : kGolden) {
        SCOPED_TRACE(g.file);
        std::ifstream in(std::string(KELVO_HELP_GOLDEN_DIR) + "/" + std::string(g.file),
                         std::ios::binary);
        ASSERT_TRUE(in) << "cannot read the saved output";
        std::ostringstream saved;
        saved << in.rdbuf();
        const std::string expected = saved.str();
        const std::string actual = ComposeHelp(g.mode, kVersionText);
        if (actual == expected) continue;
        const std::vector<std::string_view> want = Lines(expected);
        const std::vector<std::string_view> got = Lines(actual);
        std::size_t i = 0;
        while (i < want.size() && i < got.size() && want[i] == got[i])
            ++i;
        ADD_FAILURE() << "first difference at line " << i + 1 << "\n  saved: ["
                      << (i < want.size() ? want[i] : "<end>") << "]\n  now:   ["
                      << (i < got.size() ? got[i] : "<end>") << "]";
    }
}

TEST(HelpText, SwitchMentionRespectsNameBoundaries) {
    EXPECT_TRUE(MentionsSwitch("use -d here", "d"));
    EXPECT_FALSE(MentionsSwitch("use -del here", "d"));
    EXPECT_FALSE(MentionsSwitch("self-deleting", "d"));
    EXPECT_TRUE(MentionsSwitch("-delobjs+: base", "delobjs+"));
    EXPECT_FALSE(MentionsSwitch("-delobjs+ base", "delobjs"));
    EXPECT_TRUE(MentionsSwitch("-??", "??"));
    EXPECT_FALSE(MentionsSwitch("-????", "??"));
}

} // namespace
