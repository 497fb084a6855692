#include "CSDDL.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace pxsddl;
using List = std::vector<std::string>;

// --- Splitting the modifiers off a value -------------------------------------------

struct ModsCase {
    const char* value;
    const char* kept;
    List mods; // empty: no modifiers
};

TEST(ACEMods, SplitsModifiersIntoSixFragments) {
    const ModsCase cases[] = {
        {"D:(A;;RP;;;WD){+D=AI(A;;RP;;;WD)}{+S=PAI(AU;SA;WP;;;WD)}",
         "D:(A;;RP;;;WD)",
         {"O:", "G:", "D:", "D:AI(A;;RP;;;WD)", "S:", "S:PAI(AU;SA;WP;;;WD)"}},
        // Flags other than AI and PAI do not apply.
        {"{+D=P(A;;RP;;;WD)}", "", {"O:", "G:", "D:", "D:(A;;RP;;;WD)", "S:", "S:"}},
        {"{+O=S-1-5-32-544}{+O=S-1-5-18}", "", {"O:S-1-5-18", "G:", "D:", "D:", "S:", "S:"}},
        {"{+G=S-1-5-18}", "", {"O:", "G:S-1-5-18", "D:", "D:", "S:", "S:"}},
        // ":" is the same as "=".
        {"{+D:(A;;RP;;;WD)}", "", {"O:", "G:", "D:", "D:(A;;RP;;;WD)", "S:", "S:"}},
        // Fragments of the same kind collect.
        {"{-D=(A;;RP;;;WD)}{-D=(A;;WP;;;WD)}",
         "",
         {"O:", "G:", "D:(A;;RP;;;WD)(A;;WP;;;WD)", "D:", "S:", "S:"}},
        // Removals before additions in the text; the kept text ends at the first.
        {"O:BA{-S=(AU;SA;WP;;;WD)}{+D=(A;;RP;;;WD)}",
         "O:BA",
         {"O:", "G:", "D:", "D:(A;;RP;;;WD)", "S:(AU;SA;WP;;;WD)", "S:"}},
        // An empty ACE stands for "flags only".
        {"{+D=PAI()}", "", {"O:", "G:", "D:", "D:PAI(;;;;;)", "S:", "S:"}},
        {"{+D=PAI}", "", {"O:", "G:", "D:", "D:PAI(;;;;;)", "S:", "S:"}},
        // Name wrappers keep their colon.
        {"{+D=(A;;RP;;;{{SID:CORP\\USER}})}",
         "",
         {"O:", "G:", "D:", "D:(A;;RP;;;{{SID:CORP\\USER}})", "S:", "S:"}},
        {"{+O={{SID:CORP\\ADMIN}}}", "", {"O:{{SID:CORP\\ADMIN}}", "G:", "D:", "D:", "S:", "S:"}},
        // The later flags of a kind win.
        {"{+D=AI(A;;RP;;;WD)}{+D=PAI(A;;WP;;;WD)}",
         "",
         {"O:", "G:", "D:", "D:PAI(A;;RP;;;WD)(A;;WP;;;WD)", "S:", "S:"}},
    };
    for (const auto& c : cases) {
        std::string value = c.value;
        List mods;
        ACEMods(value, mods);
        EXPECT_EQ(value, c.kept) << c.value;
        EXPECT_EQ(mods, c.mods) << c.value;
    }
}

TEST(ACEMods, ValuesWithoutModifiersAreUntouched) {
    for (const char* text : {"D:(A;;RP;;;WD)", "D:PAI()", "", "{GETSD}=CN=X", "{}", "{ +D=(A)}"}) {
        std::string value = text;
        List mods;
        ACEMods(value, mods);
        EXPECT_EQ(value, text);
        EXPECT_TRUE(mods.empty()) << text;
    }
}

TEST(ACEMods, MalformedModifiersDoNotCrash) {
    for (const char* text : {"{+", "{-", "{-}", "{+}", "{+D=", "{+D=(A;;RP;;;WD)", "{+D=)(}",
                             "{+=}", "{+D(A)}", "{+D=(}{-S=)}{", "{+O=}{+G=}"}) {
        std::string value = text;
        List mods;
        ACEMods(value, mods);
        EXPECT_EQ(mods.size(), 6u) << text;
        EXPECT_EQ(value, "") << text;
    }
}

// --- Removing ACEs -----------------------------------------------------------------

AceTable TableOf(std::string_view acl, std::string_view status = "KEEP") {
    List aces;
    ExplodeACEs(acl, aces);
    AceTable table;
    for (const auto& ace : aces) {
        AceRow row{ace, std::string(status)};
        std::size_t start = 0;
        for (;;) {
            const std::size_t semi = ace.find(';', start);
            row.push_back(ace.substr(start, semi - start));
            if (semi == std::string::npos) break;
            start = semi + 1;
        }
        row.resize(std::max<std::size_t>(row.size(), 8));
        table.push_back(row);
    }
    return table;
}

List TextsOf(const AceTable& table) {
    List out;
    for (const auto& row : table)
        out.push_back(row.at(0));
    return out;
}

struct StripCase {
    const char* name;
    const char* acl;
    const char* removal;
    List kept;
};

TEST(StripACEsFromACL, RemovesRowsMatchingAnyPattern) {
    const StripCase cases[] = {
        {"principal wildcard",
         "(A;;RP;;;AO)(A;CI;WP;;;AO)(A;;RP;;;WD)",
         "(*;*;*;*;*;AO)",
         {"A;;RP;;;WD"}},
        {"flags in any order",
         "(A;CIIO;RP;;;WD)(A;CI;RP;;;WD)",
         "(*;IOCI;*;*;*;WD)",
         {"A;CI;RP;;;WD"}},
        {"GA stands for all rights",
         "(A;;WOWDRCSDCRLODTWPRPSWLCDCCC;;;DA)(A;;RP;;;DA)",
         "(A;;GA;;;DA)",
         {"A;;RP;;;DA"}},
        {"GA matches GA", "(A;;GA;;;DA)(A;;GA;;;WD)", "(A;;GA;;;DA)", {"A;;GA;;;WD"}},
        {"all rights match a GA row", "(A;;GA;;;DA)", "(A;;CCDCLCSWRPWPDTLOCRSDRCWDWO;;;DA)", {}},
        {"case ignored",
         "(a;ci;rp;bf967a86-0de6-11d0-a285-00aa003049e2;;wd)",
         "(A;CI;RP;BF967A86-0DE6-11D0-A285-00AA003049E2;;WD)",
         {}},
        {"rights must be equal, not a subset", "(A;;RPWP;;;WD)", "(A;;RP;;;WD)", {"A;;RPWP;;;WD"}},
        {"numeric masks compare whole", "(A;;0x1001;;;WD)", "(A;;0x0110;;;WD)", {"A;;0x1001;;;WD"}},
        {"type must match", "(A;;RP;;;WD)(D;;RP;;;WD)", "(D;*;*;*;*;*)", {"A;;RP;;;WD"}},
        {"inherited object compared",
         "(OA;;RP;;bf967aba-0de6-11d0-a285-00aa003049e2;WD)",
         "(OA;;RP;;;WD)",
         {"OA;;RP;;bf967aba-0de6-11d0-a285-00aa003049e2;WD"}},
        {"several patterns",
         "(A;;RP;;;WD)(A;;WP;;;WD)(A;;CC;;;WD)",
         "(A;;RP;;;WD)(A;;CC;;;*)",
         {"A;;WP;;;WD"}},
        {"no patterns", "(A;;RP;;;WD)", "", {"A;;RP;;;WD"}},
        {"order of the rest kept",
         "(A;;WP;;;WD)(A;;RP;;;BA)(A;;CC;;;WD)",
         "(*;*;*;*;*;BA)",
         {"A;;WP;;;WD", "A;;CC;;;WD"}},
        {"short row", "(A)(A;;RP;;;WD)", "(A;;RP;;;WD)", {"A"}},
        {"empty pattern only matches empty fields", "(A;;RP;;;WD)", "()", {"A;;RP;;;WD"}},
    };
    for (const auto& c : cases) {
        AceTable table = TableOf(c.acl);
        const std::size_t before = table.size();
        EXPECT_EQ(StripACEsFromACL(table, c.removal), before - c.kept.size()) << c.name;
        EXPECT_EQ(TextsOf(table), c.kept) << c.name;
        for (const auto& row : table)
            EXPECT_NE(row.at(1), "REMOVE") << c.name;
    }
}

TEST(StripACEsFromACL, RowsOfEveryOtherStatusAreKept) {
    AceTable table = TableOf("(A;;RP;;;WD)", "ADD");
    AceTable more = TableOf("(A;;WP;;;WD)", "MOD");
    table.insert(table.end(), more.begin(), more.end());
    table.push_back({"X"}); // a row with only its text
    EXPECT_EQ(StripACEsFromACL(table, "(A;;CC;;;WD)"), 0u);
    EXPECT_EQ(TextsOf(table), (List{"A;;RP;;;WD", "A;;WP;;;WD", "X"}));
}

// --- Adding ACEs -----------------------------------------------------------------

struct AddCase {
    const char* name;
    const char* acl;
    const char* addition;
    std::size_t count;
    List texts;
    const char* flags; // after the call, starting from "AI"
};

TEST(AddACEsToACL, AddsOnlyAcesNotYetPresent) {
    const AddCase cases[] = {
        {"duplicate of a row", "(A;;RP;;;WD)", "(A;;RP;;;WD)", 1, {"A;;RP;;;WD"}, "AI"},
        {"same ACE written differently",
         "(A;CIIO;RPWP;;;WD)",
         "(a;IOCI;WPRP;;;wd)",
         1,
         {"A;CIIO;RPWP;;;WD"},
         "AI"},
        {"empty table", "", "(A;;RP;;;WD)(A;;WP;;;WD)", 2, {"A;;RP;;;WD", "A;;WP;;;WD"}, "AI"},
        {"listed twice, added once", "", "(A;;RP;;;WD)(A;;RP;;;WD)", 2, {"A;;RP;;;WD"}, "AI"},
        {"listed twice next to a row",
         "(A;;CC;;;WD)",
         "(A;;RPWP;;;WD)(A;;WPRP;;;WD)",
         2,
         {"A;;CC;;;WD", "A;;RPWP;;;WD"},
         "AI"},
        {"new after existing",
         "(A;;CC;;;WD)",
         "(A;;RP;;;WD)",
         1,
         {"A;;CC;;;WD", "A;;RP;;;WD"},
         "AI"},
        {"GA is not all rights here",
         "(A;;CCDCLCSWRPWPDTLOCRSDRCWDWO;;;DA)",
         "(A;;GA;;;DA)",
         1,
         {"A;;CCDCLCSWRPWPDTLOCRSDRCWDWO;;;DA", "A;;GA;;;DA"},
         "AI"},
        {"flags taken", "(A;;CC;;;WD)", "PAI(A;;RP;;;WD)", 1, {"A;;CC;;;WD", "A;;RP;;;WD"}, "PAI"},
        {"flags alone", "(A;;CC;;;WD)", "PAI", 0, {"A;;CC;;;WD"}, "PAI"},
        {"empty ACE counts but adds nothing", "(A;;CC;;;WD)", "P(;;;;;)", 1, {"A;;CC;;;WD"}, "P"},
        {"nothing", "(A;;CC;;;WD)", "", 0, {"A;;CC;;;WD"}, ""},
    };
    for (const auto& c : cases) {
        AceTable table = TableOf(c.acl);
        std::string flags = "AI";
        EXPECT_EQ(AddACEsToACL(table, c.addition, flags), c.count) << c.name;
        EXPECT_EQ(TextsOf(table), c.texts) << c.name;
        EXPECT_EQ(flags, c.flags) << c.name;
        for (std::size_t i = TableOf(c.acl).size(); i < table.size(); ++i) {
            EXPECT_EQ(table[i].at(1), "ADD") << c.name;
            EXPECT_GE(table[i].size(), 8u) << c.name;
        }
    }
}

TEST(AddACEsToACL, NewRowsCarryTheirFields) {
    AceTable table;
    std::string flags;
    EXPECT_EQ(AddACEsToACL(table, "(OA;CI;RP;guid1;guid2;S-1-1-0)(A)", flags), 2u);
    ASSERT_EQ(table.size(), 2u);
    EXPECT_EQ(table[0], (AceRow{"OA;CI;RP;guid1;guid2;S-1-1-0", "ADD", "OA", "CI", "RP", "guid1",
                                "guid2", "S-1-1-0"}));
    EXPECT_EQ(table[1], (AceRow{"A", "ADD", "A", "", "", "", "", ""}));
}

} // namespace
