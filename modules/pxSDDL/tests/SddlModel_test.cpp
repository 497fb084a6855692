#include "CSDDL.h"
#include "Diag.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

using namespace pxsddl;
using Parts = std::map<std::string, std::string>;
using List = std::vector<std::string>;

// --- Parts of an SDDL text ------------------------------------------------------

struct DeconstructCase {
    const char* text;
    Parts expected;
};

TEST(SddlText, DeconstructSplitsAtTheFirstMarkerOfEachPart) {
    const DeconstructCase cases[] = {
        {"O:DAG:DAD:(A;;RP;;;{{SID:CORP\\X}})S:(AU;SA;WP;;;WD)",
         {{"O", "DA"}, {"G", "DA"}, {"D", "(A;;RP;;;{{SID:CORP\\X}})"}, {"S", "(AU;SA;WP;;;WD)"}}},
        // Parts in any order.
        {"D:PAI(A;;RP;;;WD)O:BA", {{"D", "PAI(A;;RP;;;WD)"}, {"O", "BA"}}},
        // A wrapper with a name that looks like a part is no part.
        {"O:{{SID:CORP\\ADMIN}}G:{{LDSSID:CN=X}}D:(A;;RP;;;WD)",
         {{"O", "{{SID:CORP\\ADMIN}}"}, {"G", "{{LDSSID:CN=X}}"}, {"D", "(A;;RP;;;WD)"}}},
        // Only the first occurrence of a marker starts a part.
        {"O:S-1-5-18O:S-1-5-32-544", {{"O", "S-1-5-18O:S-1-5-32-544"}}},
        {"D:", {{"D", ""}}},
        {"", {}},
        {"NOTHING HERE", {}},
    };
    for (const auto& c : cases) {
        Parts parts;
        DeconstructSDDL(c.text, parts);
        EXPECT_EQ(parts, c.expected) << c.text;
    }
}

TEST(SddlText, DeconstructAddsToTheMapAndReconstructRebuildsInFixedOrder) {
    Parts parts{{"O", "OLD"}, {"G", "KEPT"}};
    DeconstructSDDL("S:(AU;SA;WP;;;WD)O:S-1-5-18D:", parts);
    EXPECT_EQ(parts.at("O"), "S-1-5-18");
    EXPECT_EQ(parts.at("G"), "KEPT");

    std::string out = "stale";
    ReconstructSDDL(out, parts);
    EXPECT_EQ(out, "O:S-1-5-18G:KEPTD:S:(AU;SA;WP;;;WD)");

    ReconstructSDDL(out, {});
    EXPECT_EQ(out, "");

    const std::string proper =
        "O:S-1-5-32-544G:S-1-5-18D:PAI(A;;RP;;;S-1-1-0)S:AI(AU;SA;WP;;;S-1-1-0)";
    Parts again;
    DeconstructSDDL(proper, again);
    ReconstructSDDL(out, again);
    EXPECT_EQ(out, proper);
}

// --- ACL texts -------------------------------------------------------------------

TEST(SddlText, GetACLFlagsSplitsBeforeTheFirstAce) {
    struct Case {
        const char* acl;
        const char* flags;
        const char* rest;
    };
    const Case cases[] = {
        {"PAI(A;;RP;;;WD)(A;;WP;;;WD)", "PAI", "(A;;RP;;;WD)(A;;WP;;;WD)"},
        {"PAI", "PAI", ""},
        {"(A;;RP;;;WD)", "", "(A;;RP;;;WD)"},
        {"", "", ""},
    };
    for (const auto& c : cases) {
        std::string flags = "stale";
        std::string acl = c.acl;
        GetACLFlags(flags, acl);
        EXPECT_EQ(flags, c.flags) << c.acl;
        EXPECT_EQ(acl, c.rest) << c.acl;
    }
}

TEST(SddlText, ExplodeACEsAndRejoin) {
    struct Case {
        const char* acl;
        List aces;
    };
    const Case cases[] = {
        {"PAI(A;;RP;;;WD)(D;;SD;;;WD)", {"A;;RP;;;WD", "D;;SD;;;WD"}},
        {"(A;;RP;;;WD)", {"A;;RP;;;WD"}},
        {"(A;;RP;;;WD)(A;;WP;;;WD)TRAILING", {"A;;RP;;;WD", "A;;WP;;;WD"}},
        {"(A;;RP", {"A;;RP"}},        // no closing parenthesis
        {"((A))", {"(A)"}},           // only the outer pair is cut
        {"(A)()(B)", {"A", "", "B"}}, // an empty ACE stays visible
        {"()", {}},
    };
    for (const auto& c : cases) {
        List aces;
        EXPECT_EQ(ExplodeACEs(c.acl, aces), c.aces.size()) << c.acl;
        EXPECT_EQ(aces, c.aces) << c.acl;
    }

    List untouched{"KEPT"};
    EXPECT_EQ(ExplodeACEs("PAI", untouched), 0u);
    EXPECT_EQ(ExplodeACEs("", untouched), 0u);
    EXPECT_EQ(untouched, List{"KEPT"});

    std::string out;
    RejoinACEs(out, {});
    EXPECT_EQ(out, "()");
    RejoinACEs(out, {"A;;RP;;;WD"});
    EXPECT_EQ(out, "(A;;RP;;;WD)");
    RejoinACEs(out, {"A;;RP;;;WD", "D;;SD;;;WD"});
    EXPECT_EQ(out, "(A;;RP;;;WD)(D;;SD;;;WD)");

    List round;
    ExplodeACEs(out, round);
    std::string again;
    RejoinACEs(again, round);
    EXPECT_EQ(again, out);
}

TEST(SddlText, ExtractExplicitACEsSkipsInheritedOnes) {
    List all;
    List explicitAces;
    ExtractExplicitACEs("AI(A;ID;RP;;;WD)(A;CI;RP;;;BA)(A;CIID;WP;;;BA)(A;id;CC;;;WD)(A)", all,
                        explicitAces);
    EXPECT_EQ(all.size(), 5u);
    EXPECT_EQ(explicitAces, (List{"A;CI;RP;;;BA", "A"}));

    // An already filled explicit list is left alone.
    List keep{"X"};
    List none;
    ExtractExplicitACEs("(A;;RP;;;WD)", none, keep);
    EXPECT_EQ(keep, List{"X"});
    EXPECT_TRUE(none.empty());

    // A filled full list is used instead of the text.
    List given{"A;;WP;;;WD", "A;ID;RP;;;WD"};
    List fromGiven;
    ExtractExplicitACEs("(A;;CC;;;WD)", given, fromGiven);
    EXPECT_EQ(fromGiven, List{"A;;WP;;;WD"});
}

// --- The pipeline ----------------------------------------------------------------
// Values are written in proper SDDL with SIDs so that they hold with or
// without the friendly transforms.

SddlContext PlainContext() {
    SddlContext ctx;
    ctx.keepGeneric = true;
    return ctx;
}

struct InitCase {
    const char* name;
    const char* value;
    const char* sddl;
    const char* specified; // "OGDS" letters of the parts the result sets
};

std::string Specified(const CSDDL& sd) {
    std::string out;
    if (sd.OwnerSpecified()) out += 'O';
    if (sd.GroupSpecified()) out += 'G';
    if (sd.DACLSpecified()) out += 'D';
    if (sd.SACLSpecified()) out += 'S';
    return out;
}

void RunInitCases(const InitCase* begin, const InitCase* end, const SddlContext& ctx) {
    for (auto c = begin; c != end; ++c) {
        const CSDDL sd(c->value, "", ctx);
        EXPECT_EQ(sd.SDDL(), c->sddl) << c->name;
        EXPECT_EQ(Specified(sd), c->specified) << c->name;
    }
}

TEST(CSDDLInit, PlainValuesPassThrough) {
    const InitCase cases[] = {
        {"unsorted, inherited kept",
         "O:S-1-5-32-544G:S-1-5-18D:PAI(A;;RP;;;S-1-1-0)(A;ID;RP;;;S-1-5-18)(D;;SD;;;S-1-1-0)",
         "O:S-1-5-32-544G:S-1-5-18D:PAI(A;;RP;;;S-1-1-0)(A;ID;RP;;;S-1-5-18)(D;;SD;;;S-1-1-0)",
         "OGD"},
        {"input marker dropped", "[SDDL] O:S-1-5-32-544G:S-1-5-32-544D:(A;;GA;;;S-1-5-32-544)",
         "O:S-1-5-32-544G:S-1-5-32-544D:(A;;GA;;;S-1-5-32-544)", "OGD"},
        {"explicit marker dropped", "[SDDL_EXPLICIT] D:(A;;RP;;;S-1-1-0)", "D:(A;;RP;;;S-1-1-0)",
         "D"},
        {"upper-cased", "o:s-1-5-18s:ai(au;sa;wp;;;s-1-1-0)", "O:S-1-5-18S:AI(AU;SA;WP;;;S-1-1-0)",
         "OS"},
        {"empty DACL", "D:PAI()", "D:PAI()", "D"},
        {"removal without a match rebuilds nothing",
         "D:(A;;RP;;;S-1-1-0)(A;;CC;;;S-1-1-0){-D=(A;;WP;;;S-1-1-0)}",
         "D:(A;;RP;;;S-1-1-0)(A;;CC;;;S-1-1-0)", "D"},
    };
    RunInitCases(std::begin(cases), std::end(cases), PlainContext());
}

TEST(CSDDLInit, ModifiersRebuildTheChangedParts) {
    const InitCase cases[] = {
        {"deny first, duplicates merged",
         "D:(A;;RP;;;S-1-1-0)(D;;SD;;;S-1-1-0)(A;;RP;;;S-1-1-0){+D=(A;;RP;;;S-1-1-0)}",
         "D:(D;;SD;;;S-1-1-0)(A;;RP;;;S-1-1-0)", "D"},
        {"object deny counts as deny", "D:(A;;CC;;;S-1-1-0){+D=(OD;;CR;;;S-1-1-0)}",
         "D:(OD;;CR;;;S-1-1-0)(A;;CC;;;S-1-1-0)", "D"},
        {"inherited ACEs are not carried over",
         "D:AI(A;ID;RP;;;S-1-1-0)(A;;WP;;;S-1-1-0){+D=(A;;CC;;;S-1-1-0)}",
         "D:AI(A;;CC;;;S-1-1-0)(A;;WP;;;S-1-1-0)", "D"},
        {"every explicit ACE removed",
         "O:S-1-5-18D:PAI(A;;RP;;;S-1-1-0)(A;ID;WP;;;S-1-1-0){-D=(*;*;*;*;*;*)}",
         "O:S-1-5-18D:PAI()", "OD"},
        {"flags only", "O:S-1-5-18D:AI(A;;RP;;;S-1-1-0){+D=PAI()}",
         "O:S-1-5-18D:PAI(A;;RP;;;S-1-1-0)", "OD"},
        {"blank between modifiers",
         "D:(A;;RP;;;S-1-1-0){-D=(A;;RP;;;S-1-1-0)} {+D=(A;;WP;;;S-1-1-0)}", "D:(A;;WP;;;S-1-1-0)",
         "D"},
        {"added to an empty DACL", "D:PAI(){+D=(A;;RP;;;S-1-1-0)}", "D:PAI(A;;RP;;;S-1-1-0)", "D"},
        {"owner, later wins", "D:(A;;RP;;;S-1-1-0){+O=S-1-5-32-544}{+O=S-1-5-18}",
         "O:S-1-5-18D:(A;;RP;;;S-1-1-0)", "OD"},
        {"group", "O:S-1-5-18{+G=S-1-5-32-544}", "O:S-1-5-18G:S-1-5-32-544", "OG"},
        {"DACL added to a value without one", "O:S-1-5-18{+D=PAI(A;;RP;;;S-1-1-0)}",
         "O:S-1-5-18D:PAI(A;;RP;;;S-1-1-0)", "OD"},
        {"SACL add keeps order", "S:(AU;SA;WP;;;S-1-1-0){+S=PAI(AU;FA;RP;;;S-1-1-0)}",
         "S:PAI(AU;FA;RP;;;S-1-1-0)(AU;SA;WP;;;S-1-1-0)", "S"},
        {"SACL removal", "S:AI(AU;SA;WP;;;S-1-1-0)(AU;SA;RP;;;S-1-1-0){-S=(AU;SA;WP;;;S-1-1-0)}",
         "S:AI(AU;SA;RP;;;S-1-1-0)", "S"},
        {"remove and add in one value",
         "D:(A;;RP;;;S-1-1-0)(A;;WP;;;S-1-5-18){-D=(*;*;*;*;*;S-1-1-0)}{+D=(A;;CC;;;S-1-1-0)}",
         "D:(A;;CC;;;S-1-1-0)(A;;WP;;;S-1-5-18)", "D"},
    };
    RunInitCases(std::begin(cases), std::end(cases), PlainContext());
}

TEST(CSDDLInit, VerbatimKeepsOrderAndDuplicates) {
    auto ctx = PlainContext();
    ctx.verbatim = true;
    const InitCase cases[] = {
        {"verbatim", "D:(A;;RP;;;S-1-1-0)(D;;SD;;;S-1-1-0)(A;;RP;;;S-1-1-0){+D=(A;;CC;;;S-1-1-0)}",
         "D:(A;;RP;;;S-1-1-0)(D;;SD;;;S-1-1-0)(A;;RP;;;S-1-1-0)(A;;CC;;;S-1-1-0)", "D"},
    };
    RunInitCases(std::begin(cases), std::end(cases), ctx);
}

TEST(CSDDLInit, MembersHoldTheFinalParts) {
    const CSDDL sd("O:S-1-5-18D:AI(A;;RP;;;S-1-1-0){+D=(A;;WP;;;S-1-1-0)}{+S=(AU;SA;WP;;;S-1-1-0)}",
                   "msDS-Other", PlainContext());
    EXPECT_EQ(sd.m_AttrName, "msDS-Other");
    EXPECT_EQ(sd.m_Owner, "S-1-5-18");
    EXPECT_EQ(sd.m_Group, "");
    EXPECT_EQ(sd.m_DACLFlags, "AI");
    EXPECT_EQ(sd.m_DACL, "(A;;RP;;;S-1-1-0)(A;;WP;;;S-1-1-0)");
    EXPECT_EQ(sd.m_SACLFlags, "");
    EXPECT_EQ(sd.m_SACL, "(AU;SA;WP;;;S-1-1-0)");

    const CSDDL plain("D:(A;;RP;;;S-1-1-0)", "", PlainContext());
    EXPECT_EQ(plain.m_AttrName, "nTSecurityDescriptor");
}

TEST(CSDDLInit, DebugOutputNamesTheSteps) {
    auto& settings = diag::Get();
    const auto saved = settings;
    std::string captured;
    settings.debug = true;
    settings.out = [&](std::string_view text) { captured += text; };
    settings.err = settings.out;
    const CSDDL sd("D:(A;;RP;;;S-1-1-0){-D=(A;;RP;;;S-1-1-0)}{+D=(A;;WP;;;S-1-1-0)}", "",
                   PlainContext());
    settings = saved;
    for (const char* label : {"Starting SD:", "PROCESS ACE MODIFIERS", "PROCESS DACL ACE REMOVES",
                              "PROCESS DACL ACE ADDS", "DEBUG: DACL ACES SORTED:", "DEBUG: [D] =",
                              "m_DACLSpecified  = TRUE", "DEBUG:       Dumping: A;;RP;;;S-1-1-0"})
        EXPECT_NE(captured.find(label), std::string::npos) << label;
    for (std::size_t start = 0; start < captured.size();) {
        const std::size_t end = captured.find('\n', start);
        EXPECT_TRUE(captured.compare(start, 7, "DEBUG: ") == 0) << captured.substr(start, 60);
        if (end == std::string::npos) break;
        start = end + 1;
    }
}

TEST(CSDDLInit, HostileValuesKeepTheirText) {
    const char* values[] = {"{",
                            "}",
                            "{GETSD}=",
                            "()",
                            "D:(A;;RP",
                            "((((",
                            "))))",
                            "{+D=",
                            "{-D=(",
                            "{+}",
                            "{-S=)(}",
                            "D:(A)",
                            "D:(;)(;;;;;;;;;;;)",
                            "GARBAGE",
                            "{+D=(A;;RP;;;S-1-1-0)",
                            "{-D=(A){+D=(B",
                            "{+O=}{+G=}",
                            "\x01O:\x01",
                            "D:(A;;RP;;;S-1-1-0){-D=(A)}{+D=(A)}",
                            "{GETXSD}=CN=X"};
    for (const char* value : values) {
        const CSDDL sd(value, "", PlainContext());
        EXPECT_FALSE(sd.SDDL().empty()) << value;
    }
    // Text in front of the first part is not lost.
    EXPECT_EQ(CSDDL("JUNKO:S-1-5-18", "", PlainContext()).SDDL(), "JUNKO:S-1-5-18");
}

TEST(CSDDLInit, LargeValue) {
    std::string value = "D:PAI";
    while (value.size() < 100 * 1024)
        value += "(A;;RP;;;S-1-5-21-1-2-3-" + std::to_string(value.size()) + ")";
    value += "{-D=(A;;RP;;;S-1-5-21-1-2-3-5)}{+D=(A;;WP;;;S-1-1-0)}";
    const CSDDL sd(value, "", PlainContext());
    EXPECT_TRUE(sd.SDDL().starts_with("D:PAI("));
    EXPECT_NE(sd.SDDL().find("(A;;WP;;;S-1-1-0)"), std::string::npos);
    EXPECT_EQ(sd.SDDL().find("(A;;RP;;;S-1-5-21-1-2-3-5)"), std::string::npos);
    EXPECT_GT(sd.SDDL().size(), 100u * 1024u);
}

} // namespace
