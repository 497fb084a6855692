#include "DescriptorReads.h"
#include "pellixstrings.h"

#include "CaptureOutput.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<unsigned> Bytes(const BervalPtr& bv) {
    std::vector<unsigned> out;
    if (!bv) return out;
    for (ber_len_t i = 0; i < bv->bv_len; ++i)
        out.push_back(static_cast<unsigned char>(bv->bv_val[i]));
    return out;
}

TEST(BerIntegerSequence, ControlValues) {
    struct Case {
        std::int32_t value;
        std::vector<unsigned> bytes;
    };
    const Case cases[] = {
        {4, {0x30, 0x03, 0x02, 0x01, 0x04}},  // DACL only
        {15, {0x30, 0x03, 0x02, 0x01, 0x0f}}, // all four parts
        {2, {0x30, 0x03, 0x02, 0x01, 0x02}},  // search options: every NC
        {0, {0x30, 0x03, 0x02, 0x01, 0x00}},  // zero still has one content byte
        {0x80,
         {0x30, 0x04, 0x02, 0x02, 0x00, 0x80}}, // high bit set: a leading zero keeps it positive
        {0x1234, {0x30, 0x04, 0x02, 0x02, 0x12, 0x34}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Bytes(BerIntegerSequence(c.value)), c.bytes) << c.value;
}

TEST(EscapeFilterValue, SpecialCharacters) {
    EXPECT_EQ(EscapeFilterValue("AdminSDHolder"), "AdminSDHolder");
    EXPECT_EQ(EscapeFilterValue(""), "");
    EXPECT_EQ(EscapeFilterValue("a*b"), "a\\2ab");
    EXPECT_EQ(EscapeFilterValue("(x)"), "\\28x\\29");
    EXPECT_EQ(EscapeFilterValue("back\\slash"), "back\\5cslash");
    EXPECT_EQ(EscapeFilterValue(std::string("nul\0end", 7)), "nul\\00end");
    // Already escaped text is escaped again: the value is taken literally.
    EXPECT_EQ(EscapeFilterValue("\\2a"), "\\5c2a");
    // UTF-8 passes byte for byte.
    EXPECT_EQ(EscapeFilterValue("J\xc3\xbcrgen*"), "J\xc3\xbcrgen\\2a");
    // A crafted name cannot close the filter it is placed in.
    EXPECT_EQ(EscapeFilterValue("x)(objectClass=*"), "x\\29\\28objectClass=\\2a");
}

TEST(RightOrClassGuid, Entries) {
    const std::string memberGuid("\xc0\x79\x96\xbf\xe6\x0d\xd0\x11\xa2\x85\x00\xaa\x00\x30\x49\xe2",
                                 16);
    const std::string cat = "CN=Control-Access-Right,CN=Schema,CN=Configuration,DC=x";
    const std::string cls = "CN=Class-Schema,CN=Schema,CN=Configuration,DC=x";
    using Result = std::optional<std::pair<std::string, std::string>>;
    struct Case {
        const char* what;
        EntryAttributes entry;
        Result expected;
    };
    const Case cases[] = {
        {"right, braces and upper case",
         {{"objectcategory", {cat}},
          {"displayname", {"Reset Password"}},
          {"rightsguid", {"{00299570-246D-11D0-A768-00AA006E0529}"}}},
         std::pair{std::string("reset password"),
                   std::string("00299570-246d-11d0-a768-00aa006e0529")}},
        {"right, bare GUID, category in lower case",
         {{"objectcategory", {"cn=control-access-right,cn=schema"}},
          {"displayname", {"DS-Replication-Get-Changes"}},
          {"rightsguid", {"1131f6aa-9c07-11d1-f79f-00c04fc2dcd2"}}},
         std::pair{std::string("ds-replication-get-changes"),
                   std::string("1131f6aa-9c07-11d1-f79f-00c04fc2dcd2")}},
        {"class",
         {{"objectcategory", {cls}},
          {"ldapdisplayname", {"Group"}},
          {"schemaidguid", {memberGuid}}},
         std::pair{std::string("group"), std::string("bf9679c0-0de6-11d0-a285-00aa003049e2")}},
        {"class GUID of 15 bytes",
         {{"objectcategory", {cls}},
          {"ldapdisplayname", {"group"}},
          {"schemaidguid", {memberGuid.substr(1)}}},
         std::nullopt},
        {"class GUID of 17 bytes",
         {{"objectcategory", {cls}},
          {"ldapdisplayname", {"group"}},
          {"schemaidguid", {memberGuid + "x"}}},
         std::nullopt},
        {"class GUID as text", // the class form wants the binary value
         {{"objectcategory", {cls}},
          {"ldapdisplayname", {"group"}},
          {"schemaidguid", {"bf9679c0-0de6-11d0-a285-00aa003049e2"}}},
         std::nullopt},
        {"right GUID malformed",
         {{"objectcategory", {cat}},
          {"displayname", {"x"}},
          {"rightsguid", {"00299570-246d-11d0-a768-00aa006e052g"}}},
         std::nullopt},
        {"right GUID with dashes misplaced",
         {{"objectcategory", {cat}},
          {"displayname", {"x"}},
          {"rightsguid", {"002995702-46d-11d0-a768-00aa006e0529"}}},
         std::nullopt},
        {"right GUID with one brace",
         {{"objectcategory", {cat}},
          {"displayname", {"x"}},
          {"rightsguid", {"{00299570-246d-11d0-a768-00aa006e0529"}}},
         std::nullopt},
        {"right without a display name",
         {{"objectcategory", {cat}}, {"rightsguid", {"00299570-246d-11d0-a768-00aa006e0529"}}},
         std::nullopt},
        {"right with an empty display name",
         {{"objectcategory", {cat}},
          {"displayname", {""}},
          {"rightsguid", {"00299570-246d-11d0-a768-00aa006e0529"}}},
         std::nullopt},
        {"attribute schema entry",
         {{"objectcategory", {"CN=Attribute-Schema,CN=Schema"}},
          {"ldapdisplayname", {"member"}},
          {"schemaidguid", {memberGuid}}},
         std::nullopt},
        {"no category",
         {{"ldapdisplayname", {"group"}}, {"schemaidguid", {memberGuid}}},
         std::nullopt},
        {"empty attribute lists", {{"objectcategory", {}}, {"schemaidguid", {}}}, std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(RightOrClassGuid(c.entry), c.expected) << c.what;
}

TEST(DescriptorReads, ArgumentChecksNeedNoSession) {
    CRootDSE root;
    EXPECT_EQ(GetDefaultSD(nullptr, "", "user"), "ERROR: INVALID BASE DN");
    EXPECT_EQ(GetDefaultSD(nullptr, "CN=Schema", ""), "ERROR: INVALID LDAP NAME VALUE");
    EXPECT_EQ(GetTemplateSD(nullptr, root, "", "", "", 4), "ERROR: INVALID LDAP OBJECT NAME VALUE");
    EXPECT_EQ(GetSDAttrGuid(nullptr, "", "member"), std::nullopt);
    EXPECT_EQ(GetSDAttrGuid(nullptr, "CN=Schema", ""), std::nullopt);
}

// A session to a closed local port: every read fails at the connection and
// answers with its failure form.
TEST(DescriptorReads, FailedSearches) {
    LDAP* raw = nullptr;
    ASSERT_EQ(ldap_initialize(&raw, "ldap://127.0.0.1:1"), LDAP_SUCCESS);
    LdapHandle ld(raw);
    int version = LDAP_VERSION3;
    ldap_set_option(ld.get(), LDAP_OPT_PROTOCOL_VERSION, &version);
    CaptureOutput capture;
    EXPECT_EQ(GetSD(ld.get(), "DC=x", 15, "nTSecurityDescriptor"),
              "ERROR: Couldn't retrieve SD template object DC=x");
    EXPECT_EQ(GetDefaultSD(ld.get(), "CN=Schema", "user"), "");
    EXPECT_EQ(GetSDAttrGuid(ld.get(), "CN=Schema", "member"), std::nullopt);
    std::vector<std::pair<std::string, std::string>> out;
    EXPECT_EQ(GetCARClassSDGuids(ld.get(), "CN=Configuration", out), 0x51);
    EXPECT_TRUE(out.empty());
    CRootDSE root;
    EXPECT_EQ(GetTemplateSD(ld.get(), root, "DC=x", "", "AdminSDHolder", 15),
              "ERROR: LDAP ERROR - Can't contact LDAP server");
}

} // namespace
