#include "DocGen.h"

#include "AttributeActions.h"
#include "ExitCodes.h"
#include "RunState.h"
#include "Shortcuts.h"
#include "SwitchTable.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <unistd.h>

namespace {

// Built by appending: GCC 12 at -O3 reports a false overlap (-Wrestrict) in
// "literal" + std::string.
std::string Wrapped(std::string_view before, std::string_view text, std::string_view after) {
    std::string out(before);
    out.append(text).append(after);
    return out;
}

std::string Bold(std::string_view text) {
    return Wrapped("\\fB", docgen::RoffEscape(text), "\\fR");
}
std::string Dashed(std::string_view name) {
    return Wrapped("-", name, "");
}
std::string Quoted(std::string_view word) {
    return Wrapped("'", word, "'");
}

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// The page without its .TH line, which carries the build's date.
std::string WithoutHeader(std::string page) {
    const std::size_t th = page.find("\n.TH ");
    if (th != std::string::npos) page.erase(th + 1, page.find('\n', th + 1) - th);
    return page;
}

TEST(DocGen, RoffEscapeKeepsTextLiteral) {
    struct Case {
        std::string_view in, out;
    } cases[] = {
        {"-sslignoresrvcert", "\\-sslignoresrvcert"}, // ASCII hyphen-minus, searchable
        {"a\\b", "a\\eb"},                            // a backslash is printed, not an escape
        {".TH x", "\\&.TH x"},                        // no request at the start of a line
        {"x\n.y", "x\n\\&.y"},
        {"a.b", "a.b"},
        {"'{+D=(A;;RP;;;WD)}'", "\\(aq{+D=(A;;RP;;;WD)}\\(aq"}, // quotes stay straight
        {"`x`", "\\(gax\\(ga"},
        {"~/.config", "\\(ti/.config"},
        {"a^b", "a\\(hab"},
        {"\xc3\xa9t\xc3\xa9", "\\[u00E9]t\\[u00E9]"}, // UTF-8 as code points
        {"\xe2\x80\x94", "\\[u2014]"},
        {"\xc3", "\\[uFFFD]"}, // cut sequence
        {"\xff!", "\\[uFFFD]!"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(docgen::RoffEscape(c.in), c.out) << c.in;
}

TEST(DocGen, ManPageNamesEverySwitchOnce) {
    const std::string page = docgen::ManPage(kVersionText, "");
    const std::size_t options = page.find(".SH \"OPTIONS\"");
    const std::size_t end = page.find(".SH \"ATTRIBUTE ACTIONS\"");
    ASSERT_NE(options, std::string::npos);
    ASSERT_NE(end, std::string::npos);
    const std::string section = page.substr(options, end - options);
    for (const SwitchDef& def : kSwitchTable) {
        if (!def.gnuName.empty()) {
            EXPECT_NE(section.find(Bold(def.gnuName)), std::string::npos) << def.gnuName;
        }
        const std::string tag = Bold(Dashed(def.name));
        // Every switch is a tag of its own row, or of the row it shares.
        const std::size_t at = section.find(tag);
        EXPECT_NE(at, std::string::npos) << Dashed(def.name) << " is not in OPTIONS";
        if (at == std::string::npos) continue;
        const std::size_t lineStart = section.rfind('\n', at) + 1;
        EXPECT_EQ(section.substr(lineStart - 4, 4), ".TP\n") << "-" << def.name;
        // A name is one row's tag only (a -name followed by more letters is
        // another switch).
        std::size_t rows = 0;
        for (std::size_t p = section.find(tag); p != std::string::npos;
             p = section.find(tag, p + 1))
            if (section[section.rfind('\n', p) - 1] == 'P') ++rows;
        EXPECT_EQ(rows, 1u) << "-" << def.name;
    }
}

TEST(DocGen, ManPageHasItsSectionsInOrder) {
    const std::string page = docgen::ManPage(kVersionText, "2026-12-09");
    EXPECT_NE(page.find(".TH KELVO 1 \"2026-12-09\" \"Kelvo " + std::string(kVersionText)),
              std::string::npos);
    std::size_t last = 0;
    for (std::string_view name :
         {"NAME", "SYNOPSIS", "DESCRIPTION", "OPTIONS", "ATTRIBUTE ACTIONS", "TYPED VALUES",
          "CSV AND EXPANSION", "SHORTCUTS", "SECURITY DESCRIPTORS", "ENVIRONMENT", "FILES",
          "EXIT STATUS", "EXAMPLES", "SEE ALSO"}) {
        const std::size_t at = page.find(".SH \"" + std::string(name) + "\"");
        ASSERT_NE(at, std::string::npos) << name;
        EXPECT_GT(at, last) << name << " is out of order";
        last = at;
    }
    // A title that repeats its section is left out.
    EXPECT_EQ(page.find(".SS \"SHORTCUTS\""), std::string::npos);
    // Placeholders are filled in.
    EXPECT_EQ(page.find("{VERSION}"), std::string::npos);
    // Every input line of the page is a request, an escape or text that
    // cannot be taken for one.
    std::istringstream lines(page);
    for (std::string line; std::getline(lines, line);)
        EXPECT_FALSE(line.starts_with('\'')) << line;
}

TEST(DocGen, ManPageCarriesTheTablesItIsMadeFrom) {
    const std::string page = docgen::ManPage(kVersionText, "");
    const std::string exits = page.substr(page.find(".SH \"EXIT STATUS\""), std::string::npos);
    for (const exitcode::Named& code : exitcode::kTable)
        EXPECT_NE(exits.find(".TP\n" + Bold(std::to_string(code.code))), std::string::npos)
            << code.name;
    EXPECT_NE(exits.find(Bold("-1") + " (255)"), std::string::npos);
    for (const ShortcutDef& def : Shortcuts())
        EXPECT_NE(page.find(docgen::RoffEscape(def.name)), std::string::npos) << def.name;
    for (std::string_view variable :
         {"LDAPCONF", "LDAPRC", "LDAPURI", "LDAPBASE", "LDAPTLS_REQCERT", "KELVO_KEYFILE"})
        EXPECT_NE(page.find(Bold(variable)), std::string::npos) << variable;
    // A secret switch says so; a switch with a default states it.
    const std::size_t up = page.find(".TP\n" + Bold("-up"));
    ASSERT_NE(up, std::string::npos);
    EXPECT_NE(page.find("The value is a secret", up), std::string::npos);
}

TEST(DocGen, CompletionsListEverySwitchShortcutAndOperator) {
    const std::string bash = docgen::BashCompletion();
    const std::string zsh = docgen::ZshCompletion();
    for (const SwitchDef& def : kSwitchTable) {
        const std::string word = Quoted(Dashed(def.name));
        EXPECT_NE(bash.find(word), std::string::npos) << def.name;
        EXPECT_NE(zsh.find(word), std::string::npos) << def.name;
        if (def.gnuName.empty()) continue;
        EXPECT_NE(bash.find(Quoted(def.gnuName)), std::string::npos);
        EXPECT_NE(zsh.find(Quoted(def.gnuName)), std::string::npos);
    }
    for (const ShortcutDef& def : Shortcuts()) {
        EXPECT_NE(bash.find(Quoted(def.name)), std::string::npos) << def.name;
        EXPECT_NE(zsh.find(Quoted(def.name)), std::string::npos) << def.name;
    }
    for (std::string_view op : kActionOperations)
        EXPECT_NE(bash.find(Quoted(op)), std::string::npos) << op;
}

// The files the build made are what the tables give today.
TEST(DocGen, BuiltFilesAreCurrent) {
    EXPECT_EQ(Slurp(KELVO_DOC_DIR "/kelvo.bash"), docgen::BashCompletion());
    EXPECT_EQ(Slurp(KELVO_DOC_DIR "/_kelvo"), docgen::ZshCompletion());
    EXPECT_EQ(WithoutHeader(Slurp(KELVO_DOC_DIR "/kelvo.1")),
              WithoutHeader(docgen::ManPage(kVersionText, "")));
}

// bash itself completes every switch name from its first letters: the whole
// name is among the replies to the name less its last character.
TEST(DocGen, BashCompletesEverySwitch) {
    char dir[] = "/tmp/kelvo-docgen-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string script = std::string(dir) + "/complete.sh";
    {
        std::ofstream out(script);
        out << "source '" KELVO_DOC_DIR "/kelvo.bash' || exit 1\n"
               "while IFS= read -r name; do\n"
               "  COMP_LINE=\"kelvo ${name%?}\"; COMP_POINT=${#COMP_LINE}\n"
               "  COMP_WORDS=(kelvo \"${name%?}\"); COMP_CWORD=1; COMPREPLY=()\n"
               "  _kelvo kelvo \"${name%?}\" kelvo\n"
               "  printf -v q '%q' \"$name\"; found=no\n"
               "  for r in \"${COMPREPLY[@]}\"; do [[ $r == \"$q\" ]] && found=yes; done\n"
               "  printf '%s %s\\n' \"$name\" \"$found\"\n"
               "done\n";
    }
    const std::string names = std::string(dir) + "/names";
    {
        std::ofstream out(names);
        for (const SwitchDef& def : kSwitchTable) {
            out << "-" << def.name << "\n";
            if (!def.gnuName.empty()) out << def.gnuName << "\n";
        }
    }
    const std::string command = "bash " + script + " < " + names;
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::map<std::string, std::string> found;
    char line[512];
    while (std::fgets(line, sizeof line, pipe)) {
        std::string text(line);
        if (!text.empty() && text.back() == '\n') text.pop_back();
        const std::size_t space = text.rfind(' ');
        if (space != std::string::npos) found[text.substr(0, space)] = text.substr(space + 1);
    }
    EXPECT_EQ(pclose(pipe), 0);
    std::remove(script.c_str());
    std::remove(names.c_str());
    rmdir(dir);
    for (const SwitchDef& def : kSwitchTable) {
        EXPECT_EQ(found[Dashed(def.name)], "yes") << "-" << def.name;
        if (!def.gnuName.empty()) {
            EXPECT_EQ(found[std::string(def.gnuName)], "yes") << def.gnuName;
        }
    }
}

} // namespace
