#include "SIDS.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct HexCase {
    const char* hex;
    const char* text;
};

// Hex dumps as the directory returns them (objectSid and friends).
const HexCase kHexCases[] = {
    {"01020000000000052000000020020000", "S-1-5-32-544"},
    {"010100000000000100000000", "S-1-1-0"},
    {"010100000000000512000000", "S-1-5-18"},
    {"010500000000000515000000a1b2c3d4e5f60718293a4b5cf4010000",
     "S-1-5-21-3569595041-403175141-1548433961-500"},
    {"010000000000000500000000", "S-1-5"},
    // Identifier authority with a non-zero second byte is written in hex.
    {"010100010000000007000000", "S-1-0x000100000000-7"},
    {"010100ff0000000107000000", "S-1-0x00ff00000001-7"},
    // Trailing bytes beyond the sub-authorities are ignored.
    {"01010000000000010000000099", "S-1-1-0"},
    // Not SIDs.
    {"", "The security ID structure is invalid."},
    {"02010000000000010000000", "The security ID structure is invalid."},  // odd length
    {"020100000000000100000000", "The security ID structure is invalid."}, // revision 2
    {"0102000000000005200000", "The security ID structure is invalid."},   // short
    {"011000000000000500000000", "The security ID structure is invalid."}, // 16 subs
};

TEST(SIDS, HexSidToStrSid) {
    for (const auto& c : kHexCases)
        EXPECT_EQ(HexSidToStrSid(c.hex), c.text) << c.hex;
}

TEST(SIDS, BothFormattersAgreeAndReportInvalid) {
    const std::vector<std::uint8_t> admins = {1, 2, 0, 0, 0, 0, 0, 5, 0x20, 0, 0, 0, 0x20, 2, 0, 0};
    std::string a, b;
    EXPECT_TRUE(GetTextualSid(admins, a));
    EXPECT_TRUE(GetTextualSid2(admins, b));
    EXPECT_EQ(a, "S-1-5-32-544");
    EXPECT_EQ(b, "S-1-5-32-544");

    const std::vector<std::uint8_t> bad = {7, 1, 0, 0, 0, 0, 0, 5, 1, 0, 0, 0};
    EXPECT_FALSE(GetTextualSid(bad, a));
    EXPECT_FALSE(GetTextualSid2(bad, b));
    EXPECT_EQ(a, kInvalidSidText);
    EXPECT_EQ(b, kInvalidSidText);
}

TEST(SIDS, FifteenMaximalSubAuthorities) {
    std::vector<std::uint8_t> sid = {1, 15, 0, 0, 0, 0, 0, 5};
    std::string expect = "S-1-5";
    for (int i = 0; i < 15; ++i) {
        sid.insert(sid.end(), {0xff, 0xff, 0xff, 0xff});
        expect += "-4294967295";
    }
    std::string text;
    ASSERT_TRUE(GetTextualSid(sid, text));
    EXPECT_EQ(text, expect);
    EXPECT_LE(text.size(), 15u * 12 + 28);
    EXPECT_EQ(GetLengthSid(sid), 68u);
}

struct TextCase {
    const char* text;
    bool ok;
    const char* canonical; // expected text after a round trip
};

const TextCase kTextCases[] = {
    {"S-1-5-32-544", true, "S-1-5-32-544"},
    {"s-1-5-18", true, "S-1-5-18"},
    {"S-1-5", true, "S-1-5"},
    {"S-1-0x000100000000-7", true, "S-1-0x000100000000-7"},
    {"S-1-0x5-7", true, "S-1-5-7"},
    {"S-1-4294967295-1", true, "S-1-4294967295-1"},
    {"S-1-5-21-1-2-3-4294967295", true, "S-1-5-21-1-2-3-4294967295"},
    {"S-1-5-21-1-2-3-4294967296", false, ""},
    {"S-2-5-18", false, ""},
    {"S-1-5-", false, ""},
    {"S-1--5", false, ""},
    {"S-1-5-x", false, ""},
    {"S-1-+5", false, ""},
    {"X-1-5-18", false, ""},
    {"S-1", false, ""},
    {"", false, ""},
    {"S-1-0x1000000000000-1", false, ""},
    {"S-1-5-1-2-3-4-5-6-7-8-9-10-11-12-13-14-15", true,
     "S-1-5-1-2-3-4-5-6-7-8-9-10-11-12-13-14-15"},
    {"S-1-5-1-2-3-4-5-6-7-8-9-10-11-12-13-14-15-16", false, ""},
};

TEST(SIDS, StringSidToBinRoundTrip) {
    for (const auto& c : kTextCases) {
        std::vector<std::uint8_t> bin = {9};
        EXPECT_EQ(StringSidToBin(c.text, bin), c.ok) << c.text;
        if (!c.ok) {
            EXPECT_TRUE(bin.empty()) << c.text;
            continue;
        }
        std::string back;
        EXPECT_TRUE(GetTextualSid(bin, back)) << c.text;
        EXPECT_EQ(back, c.canonical);
        EXPECT_EQ(GetLengthSid(bin), bin.size());
    }
}

} // namespace
