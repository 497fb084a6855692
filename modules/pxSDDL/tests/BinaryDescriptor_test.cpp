#include "CSDDL.h"

#include "Diag.h"

#include "Sddl.h"
#include "SddlTables.h"
#include "SecurityDescriptor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using namespace pxsddl;
namespace sec = platform::security;

// Collects the debug lines for one test.
class DebugCapture {
  public:
    DebugCapture() : saved_(diag::Get()) {
        diag::Get().debug = true;
        diag::Get().out = [this](std::string_view t) { text.append(t); };
    }
    ~DebugCapture() { diag::Get() = saved_; }
    DebugCapture(const DebugCapture&) = delete;
    DebugCapture& operator=(const DebugCapture&) = delete;
    std::string text;

  private:
    diag::Settings saved_;
};

sec::SecurityDescriptor Decode(const std::vector<std::uint8_t>& bytes) {
    sec::SecurityDescriptor sd;
    const auto st = sec::DecodeSecurityDescriptor(bytes, sd);
    EXPECT_TRUE(st.ok()) << st.code;
    return sd;
}

sec::SecurityDescriptor Parse(std::string_view text) {
    sec::SecurityDescriptor sd;
    sec::SddlDomain domain;
    EXPECT_TRUE(sec::MakeSddlDomain("S-1-5-21-1-2-3", "", domain).ok());
    const auto st = sec::ParseSddl(text, domain, sd);
    EXPECT_TRUE(st.ok()) << text << " code " << st.code << " at " << st.offset;
    return sd;
}

// The engine on a fixed final text.
CSDDL Engine(const SddlContext& ctx, std::string_view sddl) {
    CSDDL engine(sddl, "", ctx);
    engine.m_SDDL = std::string(sddl);
    return engine;
}

// --- Scores --------------------------------------------------------------------

struct ScoreCase {
    const char* name;
    std::uint8_t type;
    std::uint32_t objectFlags;
    std::uint32_t mask;
    const char* sid;
    std::uint32_t score;
};

TEST(AceScore, TypeAccessAndPrincipal) {
    constexpr std::uint32_t kRP = 0x10, kSD = 0x10000, kCR = 0x100, kLO = 0x80, kWP = 0x20;
    constexpr std::uint32_t kGA = 0x10000000, kGX = 0x20000000, kGR = 0x80000000;
    const ScoreCase cases[] = {
        {"(A;;RP;;;WD)", 0, 0, kRP, "S-1-1-0", 22100},
        {"(D;;SD;;;WD)", 1, 0, kSD, "S-1-1-0", 19100},
        {"(A;;GA;;;SY)", 0, 0, kGA, "S-1-5-18", 21000},
        {"allow CR to domain admins", 0, 0, kCR, "S-1-5-21-1-2-3-512", 23200},
        {"allow LO to enterprise admins", 0, 0, kLO, "S-1-5-21-9-9-9-519", 24300},
        {"allow WP to administrators", 0, 0, kWP, "S-1-5-32-544", 29300},
        {"allow WP to authenticated users", 0, 0, kWP, "S-1-5-11", 29100},
        {"allow WP to pre-2000 access", 0, 0, kWP, "S-1-5-32-554", 29100},
        {"allow WP to a user", 0, 0, kWP, "S-1-5-21-1-2-3-1105", 29900},
        // "-512" must be the first such text and end the SID.
        {"allow WP to RID 5120", 0, 0, kWP, "S-1-5-21-1-2-3-5120", 29900},
        {"allow WP to -512 in the middle", 0, 0, kWP, "S-1-5-21-512-2-3-512", 29900},
        {"allow WP outside NT authority", 0, 0, kWP, "S-1-3-512", 29900},
        // Full control in its different spellings, and with general read.
        {"standard rights whole", 0, 0, 0x001F0000, "S-1-5-18", 21000},
        {"all specific rights", 0, 0, 0x0000FFFF, "S-1-5-18", 21000},
        {"full control with GR", 0, 0, kGA | kGR, "S-1-5-18", 23000},
        {"full control with GX", 0, 0, 0x001F01FF | kGX, "S-1-5-18", 23000},
        {"GR alone", 0, 0, kGR, "S-1-5-18", 22000},
        {"GX alone", 0, 0, kGX, "S-1-5-18", 22000},
        {"RP beats CR", 0, 0, kRP | kCR, "S-1-5-18", 22000},
        {"CR beats LO", 0, 0, kCR | kLO, "S-1-5-18", 23000},
        {"nothing", 0, 0, 0, "S-1-5-18", 29000},
        // Object ACEs by the GUIDs they carry (1 object, 2 inherited).
        {"OA none", 5, 0, kRP, "S-1-5-18", 22004},
        {"OA object", 5, 1, kRP, "S-1-5-18", 22003},
        {"OA inherited", 5, 2, kRP, "S-1-5-18", 22002},
        {"OA both", 5, 3, kRP, "S-1-5-18", 22009},
        {"OD none", 6, 0, kRP, "S-1-5-18", 12004},
        {"OD object", 6, 1, kRP, "S-1-5-18", 12003},
        {"OD inherited", 6, 2, kRP, "S-1-5-18", 12002},
        {"OD both", 6, 3, kRP, "S-1-5-18", 12000},
        // Not DACL types: after every deny and allow.
        {"audit", 2, 0, kGA, "S-1-5-18", 30000},
        {"object audit", 7, 3, kRP, "S-1-1-0", 30000},
        {"label", 0x11, 0, 1, "S-1-16-4096", 30000},
    };
    for (const auto& c : cases)
        EXPECT_EQ(AceScore(c.type, c.objectFlags, c.mask, c.sid), c.score) << c.name;

    // Every allow and deny score stays below the score of the other types.
    EXPECT_LT(AceScore(5, 3, 0, "S-1-5-21-1-2-3-1105"), 30000u);
}

// --- The alternative builder ------------------------------------------------------

TEST(BinaryEx, OrdersTheDaclByScoreAndSaysSo) {
    SddlContext ctx;
    DebugCapture capture;
    const auto r = GetBinSecurityDescriptorEx(
        "D:(A;;CR;;;S-1-5-21-1-2-3-512)(A;;RP;;;WD)(A;;GA;;;SY)(D;;SD;;;WD)", ctx);
    ASSERT_TRUE(r.ok) << r.message;
    const auto sd = Decode(r.bytes);
    ASSERT_TRUE(sd.dacl);
    std::vector<std::uint32_t> scores;
    for (const auto& ace : sd.dacl->aces)
        scores.push_back(AceScore(ace.type, 0, ace.mask, sec::FormatSid(ace.sid)));
    EXPECT_EQ(scores, (std::vector<std::uint32_t>{19100, 21000, 22100, 23200}));
    EXPECT_NE(capture.text.find("DEBUG: Reordering of DACL ACEs\n"), std::string::npos);
    EXPECT_NE(capture.text.find("DEBUG: Orig=0 :: New=3 - Score=23200\n"), std::string::npos);
    EXPECT_NE(capture.text.find("DEBUG: Orig=3 :: New=0 - Score=19100\n"), std::string::npos);
}

TEST(BinaryEx, EqualScoresKeepTheirOrder) {
    SddlContext ctx;
    const auto r = GetBinSecurityDescriptorEx(
        "D:(A;;RP;;;S-1-5-21-1-2-3-1106)(A;;RP;;;S-1-5-21-1-2-3-1105)(D;;RP;;;S-1-5-21-1-2-3-"
        "1107)(A;;RP;;;S-1-5-21-1-2-3-1104)",
        ctx);
    ASSERT_TRUE(r.ok) << r.message;
    const auto sd = Decode(r.bytes);
    ASSERT_TRUE(sd.dacl);
    std::vector<std::string> order;
    for (const auto& ace : sd.dacl->aces)
        order.push_back(sec::FormatSid(ace.sid));
    EXPECT_EQ(order, (std::vector<std::string>{"S-1-5-21-1-2-3-1107", "S-1-5-21-1-2-3-1106",
                                               "S-1-5-21-1-2-3-1105", "S-1-5-21-1-2-3-1104"}));
}

TEST(BinaryEx, KeepsEveryAceWholeAndTheOtherParts) {
    SddlContext ctx;
    ctx.defaultDomainSid = "S-1-5-21-1-2-3";
    const std::string text = "O:DAG:DUD:PAI(OA;CIIO;RPWP;bf9679c0-0de6-11d0-a285-00aa003049e2;"
                             "bf967a9c-0de6-11d0-a285-00aa003049e2;S-1-5-21-1-2-3-1105)"
                             "(OD;;CR;00299570-246d-11d0-a768-00aa006e0529;;WD)"
                             "(OA;;RP;;bf967a9c-0de6-11d0-a285-00aa003049e2;AU)(A;ID;GA;;;SY)"
                             "S:AI(OU;CISA;WP;bf9679c0-0de6-11d0-a285-00aa003049e2;;WD)";
    const auto r = GetBinSecurityDescriptorEx(text, ctx);
    ASSERT_TRUE(r.ok) << r.message;
    const auto got = Decode(r.bytes);
    const auto want = Parse(text);

    // The true length: the bytes are exactly the encoding of what they hold.
    std::vector<std::uint8_t> again;
    ASSERT_TRUE(sec::EncodeSecurityDescriptor(got, again).ok());
    EXPECT_EQ(r.bytes, again);

    // Parsed text is not self-relative; the bytes always are.
    EXPECT_EQ(got.control, want.control | sec::kSeSelfRelative);
    EXPECT_EQ(got.owner, want.owner);
    EXPECT_EQ(got.group, want.group);
    EXPECT_EQ(got.sacl, want.sacl);
    ASSERT_TRUE(got.dacl && want.dacl);
    EXPECT_EQ(got.dacl->revision, want.dacl->revision);
    // Deny object (13103), allow SY (21000), allow object inherited (22102),
    // allow object both GUIDs (22909).
    const auto& w = want.dacl->aces;
    EXPECT_EQ(got.dacl->aces, (std::vector<sec::Ace>{w[1], w[3], w[2], w[0]}));
    ASSERT_TRUE(got.dacl->aces[3].objectType && got.dacl->aces[3].inheritedObjectType);

    // And the text of the result names the same GUIDs.
    std::string back;
    sec::SddlDomain domain;
    ASSERT_TRUE(sec::MakeSddlDomain("S-1-5-21-1-2-3", "", domain).ok());
    ASSERT_TRUE(sec::ConvertSecurityDescriptorToStringSecurityDescriptor(
                    r.bytes, 1, sec::kAllSecurityInformation, domain, back)
                    .ok());
    EXPECT_NE(back.find("(OA;CIIO;RPWP;bf9679c0-0de6-11d0-a285-00aa003049e2;"
                        "bf967a9c-0de6-11d0-a285-00aa003049e2;S-1-5-21-1-2-3-1105)"),
              std::string::npos)
        << back;
}

TEST(BinaryEx, DescriptorsWithoutDaclAcesAreUnchanged) {
    SddlContext ctx;
    const char* cases[] = {
        "O:BAG:SY",
        "O:BAD:P",
        "D:NO_ACCESS_CONTROL",
        "O:BAS:(AU;SA;WP;;;WD)(AU;FA;RP;;;BA)",
    };
    for (const char* text : cases) {
        const auto r = GetBinSecurityDescriptorEx(text, ctx);
        ASSERT_TRUE(r.ok) << text << ": " << r.message;
        std::vector<std::uint8_t> plain;
        ASSERT_TRUE(
            sec::ConvertStringSecurityDescriptorToSecurityDescriptor(text, 1, {}, plain).ok());
        EXPECT_EQ(r.bytes, plain) << text;
    }
}

struct DomainCase {
    const char* name;
    const char* objectDn;
    const char* defaultDomainSid;
    const char* forestSid;
    const char* owner; // owner SID of "O:DAG:EA"
    const char* group;
};

TEST(BinaryEx, DomainAliasesFollowTheObjectsDomain) {
    const DomainCase cases[] = {
        {"child object", "CN=X,DC=child,DC=lab", "S-1-5-21-1-1-1", "S-1-5-21-1-1-1",
         "S-1-5-21-2-2-2-512", "S-1-5-21-1-1-1-519"},
        {"unknown domain", "CN=X,DC=other", "S-1-5-21-1-1-1", "", "S-1-5-21-1-1-1-512",
         "S-1-5-21-1-1-1-519"},
    };
    for (const auto& c : cases) {
        SddlContext ctx;
        ctx.objectDn = c.objectDn;
        ctx.defaultDomainSid = c.defaultDomainSid;
        ctx.forestSid = c.forestSid;
        ctx.domainSids = {{"dc=lab", "S-1-5-21-1-1-1"}, {"dc=child,dc=lab", "S-1-5-21-2-2-2"}};
        const auto r = GetBinSecurityDescriptorEx("O:DAG:EAD:(A;;RP;;;WD)", ctx);
        ASSERT_TRUE(r.ok) << c.name << ": " << r.message;
        const auto sd = Decode(r.bytes);
        ASSERT_TRUE(sd.owner && sd.group) << c.name;
        EXPECT_EQ(sec::FormatSid(*sd.owner), c.owner) << c.name;
        EXPECT_EQ(sec::FormatSid(*sd.group), c.group) << c.name;
    }
    const auto none = GetBinSecurityDescriptorEx("O:DA", SddlContext{});
    EXPECT_FALSE(none.ok);
    EXPECT_EQ(none.error, 1337u);
}

// --- The engine's conversion -----------------------------------------------------

TEST(BinaryEngine, ConversionFailureNamesTheCode) {
    SddlContext ctx;
    const auto engine = Engine(ctx, "D:(A;;GA;;;BA)(ZZ;;GA;;;BA)");
    const auto r = engine.GetBinSecurityDescriptor({});
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.bytes.empty());
    EXPECT_EQ(r.error, 1336u);
    EXPECT_EQ(r.offset, 15u); // the start of the second ACE's type
    EXPECT_EQ(r.message, "Error in SDDL conversion - (1336) [The access control list (ACL) "
                         "structure is invalid.]");

    BinaryOptions options;
    options.extendedErrors = true;
    options.whatIf = true; // nothing to show for a failure
    const auto ext = engine.GetBinSecurityDescriptor(options);
    EXPECT_EQ(ext.message, "Error in SDDL conversion - (1336) [The access control list (ACL) "
                           "structure is invalid.]\n"
                           "ERROR: \n"
                           "ERROR: Exploded SDDL\n"
                           "ERROR: Owner: \n"
                           "ERROR: Group: \n"
                           "ERROR: DACL: ()\n"
                           "ERROR:        (A;;GA;;;BA)\n"
                           "ERROR:        (ZZ;;GA;;;BA)\n"
                           "ERROR:    SACL: ()\n");
    EXPECT_TRUE(ext.whatIf.empty());

    options.alternative = true;
    const auto alt = engine.GetBinSecurityDescriptor(options);
    EXPECT_FALSE(alt.ok);
    EXPECT_EQ(alt.message, ext.message);
}

struct FailureCase {
    const char* sddl;
    std::uint32_t code;
};

TEST(BinaryEngine, EachFailureCarriesItsOwnCodeAndText) {
    const FailureCase cases[] = {
        {"O:XX", 1337},
        {"O:DA", 1337}, // no domain known for the alias
        {"D:(A;;RP;;;{{SID:LAB\\NOBODY}})", 1337},
        {"D:(A;;RP;NOSUCHATTRIBUTE;;WD)", 1336},
        {"Q:BA", 1338},
    };
    SddlContext ctx;
    for (const auto& c : cases) {
        const auto r = Engine(ctx, c.sddl).GetBinSecurityDescriptor({});
        EXPECT_FALSE(r.ok) << c.sddl;
        EXPECT_EQ(r.error, c.code) << c.sddl;
        const std::string head = "Error in SDDL conversion - (" + std::to_string(c.code) + ") [";
        EXPECT_EQ(r.message.substr(0, head.size()), head) << c.sddl;
        EXPECT_EQ(r.message.back(), ']') << c.sddl;
        EXPECT_EQ(r.message.find('\n'), std::string::npos) << c.sddl;
    }
}

TEST(BinaryEngine, PlainAndAlternativeBytes) {
    SddlContext ctx;
    const std::string text = "O:BAG:SYD:PAI(A;;RP;;;WD)(D;;SD;;;BA)S:AI(AU;SA;WP;;;WD)";
    const auto engine = Engine(ctx, text);
    const auto plain = engine.GetBinSecurityDescriptor({});
    ASSERT_TRUE(plain.ok) << plain.message;
    std::vector<std::uint8_t> want;
    ASSERT_TRUE(sec::ConvertStringSecurityDescriptorToSecurityDescriptor(text, 1, {}, want).ok());
    EXPECT_EQ(plain.bytes, want);
    EXPECT_TRUE(plain.whatIf.empty());

    BinaryOptions options;
    options.alternative = true;
    const auto alt = engine.GetBinSecurityDescriptor(options);
    ASSERT_TRUE(alt.ok) << alt.message;
    EXPECT_EQ(alt.bytes, GetBinSecurityDescriptorEx(text, ctx).bytes);
    EXPECT_NE(alt.bytes, plain.bytes); // the deny moved ahead of the allow
}

TEST(BinaryEngine, WhatIfListsTheResult) {
    SddlContext ctx;
    BinaryOptions options;
    options.whatIf = true;
    const auto r = Engine(ctx, "O:S-1-5-32-544G:SYD:PAI(A;;RPWP;;;WD)(D;CI;0x1000000;;;BA)"
                               "S:AI(AU;SA;WP;;;WD)")
                       .GetBinSecurityDescriptor(options);
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(r.whatIf, "\n"
                        "SDWHATIF: \n"
                        "SDWHATIF: Exploded SDDL\n"
                        "SDWHATIF: Owner: BA\n"
                        "SDWHATIF: Group: SY\n"
                        "SDWHATIF: DACL: (PAI)\n"
                        "SDWHATIF:        (A;;RPWP;;;WD)\n"
                        "SDWHATIF:        (D;CI;0x1000000;;;BA)\n"
                        "SDWHATIF:    SACL: (AI)\n"
                        "SDWHATIF:        (AU;SA;WP;;;WD)\n");

    options.alternative = true;
    const auto alt = Engine(ctx, "D:(A;;RP;;;WD)(D;;SD;;;WD)").GetBinSecurityDescriptor(options);
    ASSERT_TRUE(alt.ok) << alt.message;
    EXPECT_NE(alt.whatIf.find("SDWHATIF:        (D;;SD;;;WD)\nSDWHATIF:        (A;;RP;;;WD)\n"),
              std::string::npos)
        << alt.whatIf;
}

// --- Listing and flags -----------------------------------------------------------

struct ListingCase {
    const char* sddl;
    const char* listing;
};

TEST(ExplodedListing, PartsOneLineEach) {
    const ListingCase cases[] = {
        {"", "\nP: \nP: Exploded SDDL\nP: Owner: \nP: Group: \nP: DACL: ()\nP:    SACL: ()\n"},
        {"O:BAG:DU", "\nP: \nP: Exploded SDDL\nP: Owner: BA\nP: Group: DU\nP: DACL: ()\n"
                     "P:    SACL: ()\n"},
        {"D:P", "\nP: \nP: Exploded SDDL\nP: Owner: \nP: Group: \nP: DACL: (P)\n"
                "P:    SACL: ()\n"},
        {"S:(AU;SA;WP;;;WD)D:AI(A;;RP;;;{{SID:LAB\\JOE}})",
         "\nP: \nP: Exploded SDDL\nP: Owner: \nP: Group: \nP: DACL: (AI)\n"
         "P:        (A;;RP;;;{{SID:LAB\\JOE}})\nP:    SACL: ()\nP:        (AU;SA;WP;;;WD)\n"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CSDDL::ExplodedListing("P: ", c.sddl), c.listing) << c.sddl;
}

struct FlagsCase {
    bool owner, group, dacl, sacl;
    std::uint32_t flags;
};

TEST(SpecifiedFlags, OneBitPerPart) {
    const FlagsCase cases[] = {
        {false, false, false, false, 0}, {true, false, false, false, 1},
        {false, true, false, false, 2},  {false, false, true, false, 4},
        {false, false, false, true, 8},  {true, true, true, true, 15},
        {false, true, true, false, 6},
    };
    SddlContext ctx;
    for (const auto& c : cases) {
        auto engine = Engine(ctx, "");
        engine.m_OwnerSpecified = c.owner;
        engine.m_GroupSpecified = c.group;
        engine.m_DACLSpecified = c.dacl;
        engine.m_SACLSpecified = c.sacl;
        EXPECT_EQ(engine.SpecifiedFlags(), c.flags);
    }
}

} // namespace
