#include "Sddl.h"

#include "SddlTables.h"
#include "TestHex.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

using namespace platform::security;
using security_test::Bytes;
using security_test::Hex;

namespace {

constexpr const char* kDomainSid = "S-1-5-21-1-2-3";
constexpr const char* kRootDomainSid = "S-1-5-21-7-8-9";

SddlDomain Domain(const char* domain = kDomainSid, const char* root = kRootDomainSid) {
    SddlDomain d;
    EXPECT_TRUE(MakeSddlDomain(domain, root, d).ok());
    return d;
}

// Text in, the text printed from the bytes it converts to.
std::string Canonical(std::string_view text, const SddlDomain& domain = Domain()) {
    std::vector<std::uint8_t> bytes;
    const SecurityStatus st =
        ConvertStringSecurityDescriptorToSecurityDescriptor(text, kSddlRevision1, domain, bytes);
    if (!st.ok()) return "error " + std::to_string(st.code) + " at " + std::to_string(st.offset);
    std::string out;
    if (!ConvertSecurityDescriptorToStringSecurityDescriptor(bytes, kSddlRevision1,
                                                             kAllSecurityInformation, domain, out)
             .ok())
        return "print error";
    return out;
}

std::string BytesOf(std::string_view text) {
    std::vector<std::uint8_t> bytes;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptor(text, kSddlRevision1, Domain(), bytes)
             .ok())
        return "error";
    return Hex(bytes);
}

// "input -> canonical output" lines.
const std::pair<const char*, const char*> kCanonical[] = {
    // Parts in any order come out as owner, group, DACL, SACL.
    {"S:D:G:SYO:BA", "O:BAG:SYD:S:"},
    {"", ""},
    {"D:", "D:"},
    {"D:NO_ACCESS_CONTROL", "D:NO_ACCESS_CONTROL"},
    {"D:PNO_ACCESS_CONTROLS:NO_ACCESS_CONTROL", "D:PNO_ACCESS_CONTROLS:NO_ACCESS_CONTROL"},
    // ACL flags in any order, printed P, AR, AI; the SACL has its own bits.
    {"D:AIARP", "D:PARAI"},
    {"D:AIS:P", "D:AIS:P"},
    // An owner or group with a hex authority, then the DACL: "D:" is no
    // part of the authority.
    {"O:S-1-0x380000000000D:(A;;RP;;;WD)", "O:S-1-0x380000000000D:(A;;RP;;;WD)"},
    {"G:S-1-0x1000000000d:", "G:S-1-0x001000000000D:"},
    {"S:ARAI", "S:ARAI"},
    // ACE types, including the two-letter ones that start like "A" and "D".
    {"D:(A;;RP;;;WD)(D;;RP;;;WD)", "D:(A;;RP;;;WD)(D;;RP;;;WD)"},
    {"S:(AU;SA;RP;;;WD)(AL;FA;RP;;;WD)(ML;;NW;;;LW)",
     "S:(AU;SA;RP;;;WD)(AL;FA;RP;;;WD)(ML;;NW;;;LW)"},
    {"D:(OA;;CR;;;WD)(OD;;CR;;;WD)S:(OU;;CR;;;WD)(OL;;CR;;;WD)",
     "D:(OA;;CR;;;WD)(OD;;CR;;;WD)S:(OU;;CR;;;WD)(OL;;CR;;;WD)"},
    // ACE flags print in bit order; TP shares SA's bit.
    {"D:(A;FASAIDIONPCIOICR;RP;;;WD)", "D:(A;OICINPIOIDCRSAFA;RP;;;WD)"},
    {"D:(A;TP;RP;;;WD)", "D:(A;SA;RP;;;WD)"},
    // Rights: unions of single bits print low bit first, generic rights last.
    {"D:(A;;RPWPCRCCDCLCLORCWOWDSDDTSW;;;WD)", "D:(A;;CCDCLCSWRPWPDTLOCRSDRCWDWO;;;WD)"},
    {"D:(A;;GRGWGXGA;;;WD)", "D:(A;;GAGXGWGR;;;WD)"},
    {"D:(A;;RPRPRP;;;WD)", "D:(A;;RP;;;WD)"},
    {"D:(A;;;;;WD)", "D:(A;;;;;WD)"},
    {"D:(A;;0;;;WD)", "D:(A;;;;;WD)"},
    // File rights print only as the whole mask; registry rights as the
    // directory rights they equal.
    {"D:(A;;FA;;;WD)(A;;FR;;;WD)(A;;FW;;;WD)(A;;FX;;;WD)",
     "D:(A;;FA;;;WD)(A;;FR;;;WD)(A;;FW;;;WD)(A;;FX;;;WD)"},
    {"D:(A;;0x1f01ff;;;WD)", "D:(A;;FA;;;WD)"},
    {"D:(A;;FRFX;;;WD)", "D:(A;;0x1200a9;;;WD)"},
    {"D:(A;;KA;;;WD)(A;;KR;;;WD)(A;;KW;;;WD)(A;;KX;;;WD)",
     "D:(A;;CCDCLCSWRPWPSDRCWDWO;;;WD)(A;;CCSWRPRC;;;WD)(A;;DCLCRC;;;WD)(A;;CCSWRPRC;;;WD)"},
    // Label rights only in label ACEs; the same bits elsewhere are CC, DC, LC.
    {"S:(ML;;NXNRNW;;;HI)", "S:(ML;;NWNRNX;;;HI)"},
    {"D:(A;;NWNRNX;;;WD)", "D:(A;;CCDCLC;;;WD)"},
    {"S:(ML;;0x9;;;HI)", "S:(ML;;CCSW;;;HI)"},
    // Numbers: hex, octal, decimal; bits without a letter pair make it hex.
    {"D:(A;;0x10;;;WD)(A;;0X20;;;WD)(A;;020;;;WD)(A;;16;;;WD)",
     "D:(A;;RP;;;WD)(A;;WP;;;WD)(A;;RP;;;WD)(A;;RP;;;WD)"},
    {"D:(A;;4294967295;;;WD)", "D:(A;;0xffffffff;;;WD)"},
    {"D:(A;;0x100010;;;WD)", "D:(A;;0x100010;;;WD)"},
    {"D:(A;;0x01000000;;;WD)", "D:(A;;0x1000000;;;WD)"},
    // GUIDs in either case print in lower case.
    {"D:(OA;;RP;BF967A86-0DE6-11D0-A285-00AA003049E2;bf967aba-0de6-11d0-a285-00aa003049e2;WD)",
     "D:(OA;;RP;bf967a86-0de6-11d0-a285-00aa003049e2;bf967aba-0de6-11d0-a285-00aa003049e2;WD)"},
    {"D:(OA;;RP;;bf967aba-0de6-11d0-a285-00aa003049e2;WD)",
     "D:(OA;;RP;;bf967aba-0de6-11d0-a285-00aa003049e2;WD)"},
    // Principals: SIDs with an alias print as the alias, in either domain.
    {"O:S-1-5-32-544G:S-1-5-21-1-2-3-512", "O:BAG:DA"},
    {"O:S-1-5-21-7-8-9-519G:S-1-5-21-1-2-3-519", "O:EAG:S-1-5-21-1-2-3-519"},
    {"O:S-1-5-21-1-2-3-518G:S-1-5-21-7-8-9-518", "O:S-1-5-21-1-2-3-518G:SA"},
    {"D:(A;;RP;;;S-1-5-21-7-8-9-498)(A;;RP;;;S-1-5-21-1-2-3-553)", "D:(A;;RP;;;RO)(A;;RP;;;RS)"},
    {"D:(A;;RP;;;S-1-5-21-1-2-3-1105)", "D:(A;;RP;;;S-1-5-21-1-2-3-1105)"},
    {"O:S-1-0x000100000000-7", "O:S-1-0x000100000000-7"},
    // Codes and SID prefixes in either case, white space between tokens.
    {"o:bag:sYd:pai(a;ciio;ga;;;co)", "O:BAG:SYD:PAI(A;CIIO;GA;;;CO)"},
    {"D:(A;;GA;;;s-1-5-32-544)", "D:(A;;GA;;;BA)"},
    {" O:BA G:BA D: P (A;;GA;;;BA) (A;;GA;;;SY) S: ", "O:BAG:BAD:P(A;;GA;;;BA)(A;;GA;;;SY)S:"},
};

TEST(Sddl, TextComesBackInCanonicalForm) {
    for (auto [input, canonical] : kCanonical) {
        EXPECT_EQ(Canonical(input), canonical) << input;
        EXPECT_EQ(Canonical(canonical), canonical) << canonical;
    }
}

// Byte-exact results where the published format decides.
TEST(Sddl, BytesFollowThePublishedFormat) {
    const std::pair<const char*, const char*> kBytes[] = {
        // ACL revision 2 without object ACEs, ACE of 0x18 bytes, FILE_ALL_ACCESS.
        {"D:(A;;FA;;;BA)", "0100048000000000000000000000000014000000"
                           "0200200001000000"
                           "00001800ff011f0001020000000000052000000020020000"},
        // Revision 4 with one; object ACE flags 1, GUID in packet order.
        {"D:(OA;;CR;1131f6aa-9c07-11d1-f79f-00c04fc2dcd2;;WD)",
         "0100048000000000000000000000000014000000"
         "0400300001000000"
         "050028000001000001000000aaf63111079cd111f79f00c04fc2dcd2"
         "010100000000000100000000"},
        // Mandatory label ACE (type 0x11) in a SACL, label bits 1 and 4.
        {"S:(ML;;NWNX;;;LW)", "0100108000000000000000001400000000000000"
                              "02001c0001000000"
                              "1100140005000000010100000000001000100000"},
        // Control: protected, auto-inherited and the null DACL's present bit.
        {"D:PAINO_ACCESS_CONTROL", "0100049400000000000000000000000000000000"},
        {"D:AR", "010004810000000000000000000000001400000002000800"
                 "00000000"},
        {"S:PAIAR", "010010aa000000000000000014000000000000000200080000000000"},
        // Decimal and octal masks.
        {"D:(A;;123;;;WD)", "0100048000000000000000000000000014000000"
                            "02001c0001000000"
                            "000014007b000000010100000000000100000000"},
        {"D:(A;;0777;;;WD)", "0100048000000000000000000000000014000000"
                             "02001c0001000000"
                             "00001400ff010000010100000000000100000000"},
    };
    for (auto [text, hex] : kBytes)
        EXPECT_EQ(BytesOf(text), hex) << text;
}

TEST(Sddl, RejectsBadTextAndSaysWhere) {
    const struct {
        const char* text;
        std::uint32_t code;
        std::size_t offset;
    } kBad[] = {
        {"X:BA", kErrorInvalidSecurityDescr, 0},
        {"O:BAO:SY", kErrorInvalidSecurityDescr, 4}, // a part twice
        {"O", kErrorInvalidSecurityDescr, 0},
        {"D:(A;;GA;;;BA)junk", kErrorInvalidSecurityDescr, 14},
        {"D:XY", kErrorInvalidSecurityDescr, 2},
        {"O:", kErrorInvalidSid, 2},
        {"O:XX", kErrorInvalidSid, 2},
        {"O:S-1-5-x", kErrorInvalidSid, 8},
        {"D:(A;;GA;;;BA", kErrorInvalidSid, 11},
        {"D:(A;;GA;;;BAX)", kErrorInvalidSid, 11},
        {"D:(A;;GA;;;S-1-5-32-544x)", kErrorInvalidSid, 11},
        {"D:(A;;GA;;;BA;x)", kErrorInvalidAcl, 13},
        {"D:(ZZ;;GA;;;BA)", kErrorInvalidAcl, 3},
        {"D:(AX;;GA;;;BA)", kErrorInvalidAcl, 4},
        {"D:(A;ZZ;GA;;;BA)", kErrorInvalidAcl, 5},
        {"D:(A;C;GA;;;BA)", kErrorInvalidAcl, 5},
        {"D:(A;;QQ;;;BA)", kErrorInvalidAcl, 6},
        {"D:(A;;GAG;;;BA)", kErrorInvalidAcl, 8},
        {"D:(A;;0x;;;BA)", kErrorInvalidAcl, 6},
        {"D:(A;;0x123456789;;;BA)", kErrorInvalidAcl, 16},
        {"D:(A;;4294967296;;;BA)", kErrorInvalidAcl, 6},
        {"D:(A;;08;;;BA)", kErrorInvalidAcl, 7},
        {"D:(A;;0x1G;;;BA)", kErrorInvalidAcl, 9},
        {"D:(A;;GA;1131f6aa-9c07-11d1-f79f-00c04fc2dcd2;;BA)", kErrorInvalidAcl, 9},
        {"D:(OA;;CR;1131f6aa-9c07-11d1-f79f;;BA)", kErrorInvalidAcl, 10},
        {"D:(OA;;CR;1131f6aa-9c07-11d1-f79f-00c04fc2dcdz;;BA)", kErrorInvalidAcl, 45},
        {"D:(OA;;CR;1131f6aa+9c07-11d1-f79f-00c04fc2dcd2;;BA)", kErrorInvalidAcl, 18},
        {"D:NO_ACCESS_CONTROL(A;;GA;;;BA)", kErrorInvalidAcl, 19},
        {"D:(A;;GA)", kErrorInvalidAcl, 8},
    };
    for (const auto& c : kBad) {
        std::vector<std::uint8_t> bytes = {42};
        const SecurityStatus st = ConvertStringSecurityDescriptorToSecurityDescriptor(
            c.text, kSddlRevision1, Domain(), bytes);
        EXPECT_EQ(st.code, c.code) << c.text;
        EXPECT_EQ(st.offset, c.offset) << c.text;
        EXPECT_EQ(bytes, std::vector<std::uint8_t>{42}) << c.text;
    }
}

TEST(Sddl, OnlyRevisionOneIsKnown) {
    std::vector<std::uint8_t> bytes;
    std::string text;
    EXPECT_EQ(ConvertStringSecurityDescriptorToSecurityDescriptor("D:", 2, Domain(), bytes).code,
              kErrorUnknownRevision);
    EXPECT_EQ(ConvertSecurityDescriptorToStringSecurityDescriptor(
                  Bytes("0100048000000000000000000000000000000000"), 0, kAllSecurityInformation,
                  Domain(), text)
                  .code,
              kErrorUnknownRevision);
}

TEST(Sddl, GuidTextSwapsTheFirstThreeFields) {
    // member's schemaIDGUID as the directory stores it.
    const Guid member = {0xc0, 0x79, 0x96, 0xbf, 0xe6, 0x0d, 0xd0, 0x11,
                         0xa2, 0x85, 0x00, 0xaa, 0x00, 0x30, 0x49, 0xe2};
    EXPECT_EQ(GuidText(member), "bf9679c0-0de6-11d0-a285-00aa003049e2");
    Guid high{};
    high.fill(0xff);
    EXPECT_EQ(GuidText(high), "ffffffff-ffff-ffff-ffff-ffffffffffff");
    EXPECT_EQ(GuidText(Guid{}), "00000000-0000-0000-0000-000000000000");
}

TEST(Sddl, PrintsOnlyTheRequestedParts) {
    std::vector<std::uint8_t> bytes;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptor(
                    "O:BAG:SYD:(A;;GA;;;WD)S:(AU;SA;GA;;;WD)", kSddlRevision1, Domain(), bytes)
                    .ok());
    const std::pair<std::uint32_t, const char*> kParts[] = {
        {kOwnerSecurityInformation, "O:BA"},
        {kGroupSecurityInformation, "G:SY"},
        {kDaclSecurityInformation, "D:(A;;GA;;;WD)"},
        {kSaclSecurityInformation, "S:(AU;SA;GA;;;WD)"},
        {kOwnerSecurityInformation | kSaclSecurityInformation, "O:BAS:(AU;SA;GA;;;WD)"},
        {0, ""},
    };
    for (auto [info, expected] : kParts) {
        std::string text;
        ASSERT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptor(bytes, kSddlRevision1, info,
                                                                        Domain(), text)
                        .ok());
        EXPECT_EQ(text, expected) << info;
    }
}

TEST(SddlTables, PrefixMatchingFindsTheLongerTypeFirst) {
    // No code may be preceded by a shorter code it starts with, or the
    // shorter one would win the match.
    for (std::size_t later = 0; later < std::size(kAceTypes); ++later)
        for (std::size_t earlier = 0; earlier < later; ++earlier)
            EXPECT_FALSE(kAceTypes[later].code.starts_with(kAceTypes[earlier].code))
                << kAceTypes[earlier].code << " hides " << kAceTypes[later].code;
    // And the parser reads each type as itself.
    for (const SddlCode& type : kAceTypes) {
        // Label ACEs print the label name of the bit CC stands for elsewhere.
        const bool label = type.value == kAceTypeSystemMandatoryLabel;
        const std::string ace =
            "(" + std::string(type.code) + (label ? ";;NW;;;LW)" : ";;CC;;;WD)");
        EXPECT_EQ(Canonical("S:" + ace), "S:" + ace) << type.code;
        const std::string hex = BytesOf("S:" + ace);
        ASSERT_GT(hex.size(), 58u) << type.code;
        EXPECT_EQ(std::stoul(hex.substr(56, 2), nullptr, 16), type.value) << type.code;
    }
}

TEST(SddlTables, EveryAliasReadsAndPrintsAsItself) {
    std::set<std::string_view> codes;
    for (const SddlAlias& alias : kAliases) {
        EXPECT_TRUE(codes.insert(alias.code).second) << "twice: " << alias.code;
        if (alias.scope == AliasScope::Fixed) {
            Sid sid;
            EXPECT_TRUE(ParseSid(alias.sid, sid).ok()) << alias.code;
        }
        const std::string text = "O:" + std::string(alias.code);
        EXPECT_EQ(Canonical(text), text);
    }
}

TEST(SddlTables, DomainAliasesNeedTheirDomain) {
    const SddlDomain none;
    const SddlDomain domainOnly = Domain(kDomainSid, "");
    const struct {
        const char* text;
        const SddlDomain* domain;
        const char* expected;
    } kCases[] = {
        {"O:SY", &none, "O:SY"},
        {"O:DA", &none, "error 1337 at 2"},
        {"O:EA", &none, "error 1337 at 2"},
        {"D:(A;;GA;;;DU)", &none, "error 1337 at 11"},
        // Without a root domain SID the domain stands in for it.
        {"O:EAG:DA", &domainOnly, "O:EAG:DA"},
    };
    for (const auto& c : kCases)
        EXPECT_EQ(Canonical(c.text, *c.domain), c.expected) << c.text;

    std::vector<std::uint8_t> bytes;
    ASSERT_TRUE(
        ConvertStringSecurityDescriptorToSecurityDescriptor("O:EAG:DA", 1, domainOnly, bytes).ok());
    std::string text;
    ASSERT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptor(
                    bytes, 1, kAllSecurityInformation, none, text)
                    .ok());
    EXPECT_EQ(text, "O:S-1-5-21-1-2-3-519G:S-1-5-21-1-2-3-512");

    SddlDomain bad;
    EXPECT_EQ(MakeSddlDomain("S-1-5-21-x", "", bad).code, kErrorInvalidSid);
    EXPECT_EQ(MakeSddlDomain("", "nonsense", bad).code, kErrorInvalidSid);
}

TEST(SddlTables, EveryRightReadsAsItsValue) {
    for (const SddlRight& right : kRights) {
        SecurityDescriptor sd;
        ASSERT_TRUE(ParseSddl("D:(A;;" + std::string(right.code) + ";;;WD)", Domain(), sd).ok())
            << right.code;
        EXPECT_EQ(sd.dacl->aces.at(0).mask, right.value) << right.code;
    }
    for (const SddlCode& flag : kAceFlags) {
        SecurityDescriptor sd;
        ASSERT_TRUE(ParseSddl("D:(A;" + std::string(flag.code) + ";;;;WD)", Domain(), sd).ok())
            << flag.code;
        EXPECT_EQ(sd.dacl->aces.at(0).flags, flag.value) << flag.code;
    }
}

} // namespace

namespace {

// Every prefix of a valid text is either a valid text itself or refused at an
// offset inside it.
TEST(Sddl, EveryPrefixIsReadOrRefusedInside) {
    const std::string text = "O:S-1-5-21-1-2-3-500G:DUD:PAI(OA;CIIO;RPWP;bf967a86-0de6-11d0-a285-"
                             "00aa003049e2;;PS)(A;;0x1200a9;;;WD)S:AR(AU;SAFA;GA;;;S-1-1-0)";
    for (std::size_t len = 0; len <= text.size(); ++len) {
        const std::string prefix = text.substr(0, len);
        SecurityDescriptor sd;
        const SecurityStatus st = ParseSddl(prefix, Domain(), sd);
        if (!st.ok()) {
            EXPECT_LE(st.offset, len) << prefix;
        }
    }
}

} // namespace
