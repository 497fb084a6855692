#include "Sid.h"

#include "TestHex.h"

#include <gtest/gtest.h>

using namespace platform::security;
using security_test::Bytes;
using security_test::Hex;

namespace {

struct SidCase {
    const char* text;
    const char* hex;
};

const SidCase kSids[] = {
    {"S-1-5-32-544", "01020000000000052000000020020000"},
    {"S-1-1-0", "010100000000000100000000"},
    {"S-1-5", "0100000000000005"},
    {"S-1-5-21-3569595041-403175141-1548433961-500",
     "010500000000000515000000a1b2c3d4e5f60718293a4b5cf4010000"},
    // The authority is decimal below 2^32 and 12 hex digits from 2^32 on.
    {"S-1-4294967295-1", "01010000ffffffff01000000"},
    {"S-1-0x000100000000-7", "010100010000000007000000"},
    {"S-1-0xffffffffffff-0", "0101ffffffffffff00000000"},
    {"S-1-5-4294967295-4294967295-4294967295-4294967295-4294967295-4294967295-4294967295-"
     "4294967295-4294967295-4294967295-4294967295-4294967295-4294967295-4294967295-4294967295",
     "010f000000000005"
     "ffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff"
     "ffffffffffffffffffffffffffffffffffffffffffffffffffffffff"},
};

TEST(Sid, TextAndBinaryFormsConvertBothWays) {
    for (const auto& c : kSids) {
        SCOPED_TRACE(c.text);
        std::vector<std::uint8_t> bytes;
        ASSERT_TRUE(ConvertStringSidToSid(c.text, bytes).ok());
        EXPECT_EQ(Hex(bytes), c.hex);
        EXPECT_TRUE(IsValidSid(bytes));
        EXPECT_EQ(GetLengthSid(bytes), bytes.size());
        std::string text;
        ASSERT_TRUE(ConvertSidToStringSid(bytes, text).ok());
        EXPECT_EQ(text, c.text);
    }
}

TEST(Sid, ReadsOtherSpellingsOfTheSameSid) {
    const std::pair<const char*, const char*> kSpellings[] = {
        {"s-1-5-32-544", "S-1-5-32-544"},     {"S-1-0X000100000000-7", "S-1-0x000100000000-7"},
        {"S-1-0x5-32-544", "S-1-5-32-544"},   {"S-1-4294967296-1", "S-1-0x000100000000-1"},
        {"S-1-5-0032-00544", "S-1-5-32-544"},
    };
    for (auto [input, canonical] : kSpellings) {
        Sid sid;
        ASSERT_TRUE(ParseSid(input, sid).ok()) << input;
        EXPECT_EQ(FormatSid(sid), canonical);
    }
}

TEST(Sid, RejectsTextThatIsNoSidAndSaysWhere) {
    const struct {
        const char* text;
        std::size_t offset;
    } kBad[] = {
        {"", 0},
        {"S-1", 0},
        {"S-2-5-18", 0},
        {"X-1-5-18", 0},
        {"S-1-", 4},
        {"S-1-x", 4},
        {"S-1-0x", 4},
        {"S-1-0x1000000000000-1", 4}, // 13 hex digits
        {"S-1-281474976710656-1", 4}, // 2^48
        {"S-1-5-", 6},
        {"S-1-5--1", 6},
        {"S-1-5-4294967296", 6},
        {"S-1-5-18x", 8},
        {"S-1-5-18 ", 8},
        {"S-1-5-1-2-3-4-5-6-7-8-9-10-11-12-13-14-15-16", 42}, // a 16th sub-authority
    };
    for (const auto& c : kBad) {
        Sid sid;
        const SecurityStatus st = ParseSid(c.text, sid);
        EXPECT_EQ(st.code, kErrorInvalidSid) << c.text;
        EXPECT_EQ(st.offset, c.offset) << c.text;
    }
}

TEST(Sid, ScanStopsWhereTheSidEnds) {
    Sid sid;
    std::size_t used = 0;
    ASSERT_TRUE(ScanSid("S-1-5-18G:BA", sid, used).ok());
    EXPECT_EQ(used, 8u);
    EXPECT_EQ(FormatSid(sid), "S-1-5-18");
    // A hex authority is printed with twelve digits; the DACL part that
    // follows an owner or group begins with one more ("D:").
    ASSERT_TRUE(ScanSid("S-1-0x380000000000D:", sid, used).ok());
    EXPECT_EQ(used, 18u);
    EXPECT_EQ(FormatSid(sid), "S-1-0x380000000000");
}

TEST(Sid, BinaryValidity) {
    const struct {
        const char* hex;
        std::size_t length; // 0: not a SID
    } kCases[] = {
        {"010100000000000100000000", 12},
        {"01010000000000010000000099", 12}, // trailing bytes are not part of it
        {"010000000000000500", 8},
        {"", 0},
        {"0101000000000001000000", 0},   // one byte short
        {"020100000000000100000000", 0}, // revision 2
        {"011000000000000500000000", 0}, // 16 sub-authorities
    };
    for (const auto& c : kCases) {
        const auto bytes = Bytes(c.hex);
        EXPECT_EQ(GetLengthSid(bytes), c.length) << c.hex;
        EXPECT_EQ(IsValidSid(bytes), c.length != 0) << c.hex;
        Sid sid;
        EXPECT_EQ(DecodeSid(bytes, sid).ok(), c.length != 0) << c.hex;
        std::string text = "unchanged";
        const SecurityStatus st = ConvertSidToStringSid(bytes, text);
        EXPECT_EQ(st.code, c.length ? kErrorSuccess : kErrorInvalidSid) << c.hex;
        if (!c.length) {
            EXPECT_EQ(text, "unchanged");
        }
    }
}

TEST(SecurityStatus, MessagesComeFromOneTable) {
    const std::pair<std::uint32_t, const char*> kTexts[] = {
        {kErrorInvalidSid, "The security ID structure is invalid."},
        {kErrorInvalidAcl, "The access control list (ACL) structure is invalid."},
        {kErrorInvalidSecurityDescr, "The security descriptor structure is invalid."},
        {kErrorUnknownRevision, "The revision level is unknown."},
        {kErrorInvalidParameter, "The parameter is incorrect."},
        {4242, "Unknown error."},
    };
    for (auto [code, text] : kTexts)
        EXPECT_EQ(SecurityErrorText(code), text) << code;
}

} // namespace
