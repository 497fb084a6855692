#include "SecurityDescriptor.h"

#include "SddlTables.h"
#include "TestHex.h"

#include <gtest/gtest.h>

using namespace platform::security;
using security_test::Bytes;
using security_test::Hex;

namespace {

Sid MakeSid(const char* text) {
    Sid sid;
    EXPECT_TRUE(ParseSid(text, sid).ok()) << text;
    return sid;
}

constexpr Guid kGuidA = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
constexpr Guid kGuidB = {0xf0, 0xe0, 0xd0, 0xc0, 0xb0, 0xa0, 0x90, 0x80,
                         0x70, 0x60, 0x50, 0x40, 0x30, 0x20, 0x10, 0x00};

TEST(SecurityDescriptor, LaysOutOwnerGroupSaclDaclAfterTheHeader) {
    SecurityDescriptor sd;
    sd.owner = MakeSid("S-1-5-32-544");
    sd.group = MakeSid("S-1-5-18");
    sd.sacl = Acl{kAclRevision, {{kAceTypeSystemAudit, 0x40, 0x10, {}, {}, MakeSid("S-1-1-0")}}};
    sd.dacl = Acl{kAclRevision, {}};
    std::vector<std::uint8_t> bytes;
    ASSERT_TRUE(EncodeSecurityDescriptor(sd, bytes).ok());
    EXPECT_EQ(Hex(bytes), "01001480" // revision, control
                          "14000000"
                          "24000000" // owner, group
                          "30000000"
                          "4c000000"                         // SACL, DACL
                          "01020000000000052000000020020000" // owner
                          "010100000000000512000000"         // group
                          "02001c0001000000"                 // SACL header
                          "02401400100000000101000000000001"
                          "00000000"
                          "0200080000000000"); // empty DACL
}

TEST(SecurityDescriptor, NullAclIsPresentWithoutOffset) {
    SecurityDescriptor sd;
    sd.control = kSeDaclPresent;
    std::vector<std::uint8_t> bytes;
    ASSERT_TRUE(EncodeSecurityDescriptor(sd, bytes).ok());
    EXPECT_EQ(Hex(bytes), "0100048000000000000000000000000000000000");
    SecurityDescriptor back;
    ASSERT_TRUE(DecodeSecurityDescriptor(bytes, back).ok());
    EXPECT_FALSE(back.dacl.has_value());
    EXPECT_EQ(back.control & kSeDaclPresent, kSeDaclPresent);
}

TEST(SecurityDescriptor, EveryAceShapeSurvivesEncodeAndDecode) {
    const Sid everyone = MakeSid("S-1-1-0");
    SecurityDescriptor sd;
    sd.control = 0x1400;
    sd.dacl = Acl{kAclRevisionDs,
                  {
                      {kAceTypeAccessAllowed, 0x13, 0x10000000, {}, {}, everyone},
                      {kAceTypeAccessDenied, 0, 0x20, {}, {}, MakeSid("S-1-5-21-1-2-3-512")},
                      {kAceTypeAccessAllowedObject, 0, 0x100, kGuidA, {}, everyone},
                      {kAceTypeAccessDeniedObject, 0, 0x100, {}, kGuidB, everyone},
                      {kAceTypeAccessAllowedObject, 2, 0x30, kGuidA, kGuidB, everyone},
                      {kAceTypeAccessAllowedObject, 0, 0x1, {}, {}, everyone},
                  }};
    sd.sacl = Acl{kAclRevisionDs,
                  {
                      {kAceTypeSystemAudit, 0xC0, 0x1, {}, {}, everyone},
                      {kAceTypeSystemAlarm, 0x40, 0x2, {}, {}, everyone},
                      {kAceTypeSystemAuditObject, 0x80, 0x20, kGuidB, kGuidA, everyone},
                      {kAceTypeSystemAlarmObject, 0, 0x20, kGuidA, {}, everyone},
                      {kAceTypeSystemMandatoryLabel, 0, 0x1, {}, {}, MakeSid("S-1-16-4096")},
                  }};
    std::vector<std::uint8_t> bytes;
    ASSERT_TRUE(EncodeSecurityDescriptor(sd, bytes).ok());
    SecurityDescriptor back;
    ASSERT_TRUE(DecodeSecurityDescriptor(bytes, back).ok());
    sd.control |= kSeSelfRelative | kSeDaclPresent | kSeSaclPresent;
    EXPECT_EQ(back, sd);
}

TEST(SecurityDescriptor, AclRevisionFollowsTheAceTypes) {
    const Sid sid = MakeSid("S-1-1-0");
    EXPECT_EQ(RequiredAclRevision({}), kAclRevision);
    for (std::uint8_t type : {kAceTypeAccessAllowed, kAceTypeAccessDenied, kAceTypeSystemAudit,
                              kAceTypeSystemAlarm, kAceTypeSystemMandatoryLabel})
        EXPECT_EQ(RequiredAclRevision({Ace{type, 0, 1, {}, {}, sid}}), kAclRevision) << +type;
    for (std::uint8_t type : {kAceTypeAccessAllowedObject, kAceTypeAccessDeniedObject,
                              kAceTypeSystemAuditObject, kAceTypeSystemAlarmObject})
        EXPECT_EQ(RequiredAclRevision({Ace{0, 0, 1, {}, {}, sid}, Ace{type, 0, 1, {}, {}, sid}}),
                  kAclRevisionDs)
            << +type;
}

// A DACL-only descriptor (DACL at 0x14) with one allow ACE for S-1-1-0,
// and variations of it that break one rule each.
constexpr const char* kGood = "01000480000000000000000000000000"
                              "14000000"
                              "0200"
                              "1c000100"
                              "0000"
                              "00001400"
                              "10000000"
                              "010100000000000100000000";

TEST(SecurityDescriptor, DecodeNamesTheFaultAndWhere) {
    const struct {
        const char* what;
        const char* hex;
        std::uint32_t code;
        std::size_t offset;
    } kCases[] = {
        {"short header", "0100048000000000", kErrorInvalidSecurityDescr, 8},
        {"revision 2",
         "02000480000000000000000000000000"
         "00000000",
         kErrorUnknownRevision, 0},
        {"absolute form",
         "01000400000000000000000000000000"
         "00000000",
         kErrorInvalidSecurityDescr, 2},
        {"owner past the end", "0100008030000000000000000000000000000000",
         kErrorInvalidSecurityDescr, 4},
        {"owner inside the header", "0100008004000000000000000000000000000000",
         kErrorInvalidSecurityDescr, 4},
        {"owner not a SID",
         "0100008014000000000000000000000000000000"
         "020100000000000100000000",
         kErrorInvalidSid, 0x14},
        {"ACL revision 3", "01000480000000000000000000000000140000000300080000000000",
         kErrorInvalidAcl, 0x14},
        {"ACL size past the end", "01000480000000000000000000000000140000000200100000000000",
         kErrorInvalidAcl, 0x14},
        {"ACE count past the ACL", "01000480000000000000000000000000140000000200080001000000",
         kErrorInvalidAcl, 0x1c},
        {"unknown ACE type",
         "0100048000000000000000000000000014000000"
         "02001c0001000000"
         "09001400100000000101000000000001"
         "00000000",
         kErrorInvalidAcl, 0x1c},
        {"ACE size not a multiple of 4",
         "0100048000000000000000000000000014000000"
         "02001c0001000000"
         "00001300100000000101000000000001"
         "00000000",
         kErrorInvalidAcl, 0x1c},
        {"object ACE in a revision 2 ACL",
         "0100048000000000000000000000000014000000"
         "0200200001000000"
         "05001800100000000000000001010000"
         "0000000100000000",
         kErrorInvalidAcl, 0x1c},
        {"object GUID cut short",
         "0100048000000000000000000000000014000000"
         "0400200001000000"
         "05001800100000000100000001010000"
         "0000000100000000",
         kErrorInvalidAcl, 0x1c},
        {"ACE SID not a SID",
         "0100048000000000000000000000000014000000"
         "02001c0001000000"
         "00001400100000000201000000000001"
         "00000000",
         kErrorInvalidSid, 0x24},
    };
    {
        SecurityDescriptor sd;
        ASSERT_TRUE(DecodeSecurityDescriptor(Bytes(kGood), sd).ok());
        ASSERT_TRUE(sd.dacl.has_value());
        EXPECT_EQ(sd.dacl->aces.size(), 1u);
    }
    for (const auto& c : kCases) {
        SecurityDescriptor sd;
        const SecurityStatus st = DecodeSecurityDescriptor(Bytes(c.hex), sd);
        EXPECT_EQ(st.code, c.code) << c.what;
        EXPECT_EQ(st.offset, c.offset) << c.what;
    }
}

TEST(SecurityDescriptor, ReadsPartsInAnyOrderAndIgnoresOffsetsOfAbsentAcls) {
    // DACL first, then the owner; a SACL offset without SE_SACL_PRESENT.
    const auto bytes = Bytes("0100048028000000000000003000000014000000"
                             "0200140001000000"
                             "00000c0010000000"
                             "0000000000000000"
                             "010100000000000512000000");
    // The ACE above is 12 bytes (no SID room); expect it rejected, then fix it.
    SecurityDescriptor sd;
    EXPECT_EQ(DecodeSecurityDescriptor(bytes, sd).code, kErrorInvalidSid);

    const auto fixed = Bytes("0100048034000000000000004000000014000000"
                             "0200200001000000"
                             "0000180010000000"
                             "01020000000000052000000020020000"
                             "010100000000000512000000");
    ASSERT_TRUE(DecodeSecurityDescriptor(fixed, sd).ok());
    EXPECT_EQ(FormatSid(*sd.owner), "S-1-5-18");
    EXPECT_EQ(FormatSid(sd.dacl->aces.at(0).sid), "S-1-5-32-544");
    EXPECT_FALSE(sd.sacl.has_value());
}

} // namespace

namespace {

// Every truncation and every one-byte change of a descriptor with all parts
// must be either read or refused, never read past its end (the sanitizer
// build watches the reads).
TEST(SecurityDescriptor, DamagedBytesAreReadOrRefusedWithinBounds) {
    SecurityDescriptor sd;
    sd.owner = MakeSid("S-1-5-32-544");
    sd.group = MakeSid("S-1-5-21-1-2-3-513");
    sd.dacl = Acl{kAclRevisionDs,
                  {{kAceTypeAccessAllowedObject, 2, 0x30, kGuidA, kGuidB, MakeSid("S-1-1-0")},
                   {kAceTypeAccessDenied, 0, 0x20, {}, {}, MakeSid("S-1-5-18")}}};
    sd.sacl = Acl{kAclRevisionDs,
                  {{kAceTypeSystemAuditObject, 0x40, 0x20, {}, kGuidA, MakeSid("S-1-1-0")}}};
    std::vector<std::uint8_t> bytes;
    ASSERT_TRUE(EncodeSecurityDescriptor(sd, bytes).ok());

    for (std::size_t len = 0; len < bytes.size(); ++len) {
        // Copied so that the sanitizer sees the shorter buffer's end.
        const std::vector<std::uint8_t> cut(bytes.begin(), bytes.begin() + len);
        SecurityDescriptor out;
        EXPECT_FALSE(DecodeSecurityDescriptor(cut, out).ok()) << len;
    }
    for (std::size_t at = 0; at < bytes.size(); ++at)
        for (std::uint8_t value : {0x00, 0x01, 0x04, 0x0f, 0x10, 0x7f, 0x80, 0xff}) {
            auto damaged = bytes;
            damaged[at] = value;
            SecurityDescriptor out;
            const SecurityStatus st = DecodeSecurityDescriptor(damaged, out);
            if (!st.ok()) {
                EXPECT_LE(st.offset, damaged.size()) << at;
            }
        }
}

} // namespace
