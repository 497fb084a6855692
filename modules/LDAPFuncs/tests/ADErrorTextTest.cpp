#include "ADErrorText.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>

namespace {

std::string MeaningOf(std::uint32_t code) {
    const ADErrorCode* row = FindADErrorCode(code);
    return row ? std::string(row->meaning) : "<no row for " + std::to_string(code) + ">";
}

// Messages as the servers send them.  The Samba texts were captured from the
// lab domain controller (Samba 4, "v1db1"); the Windows ones are in the
// formats Windows domain controllers use.
TEST(ADErrorText, CodesInRealMessages) {
    const struct {
        const char* message;
        std::uint32_t code;
    } cases[] = {
        // Samba binds: wrong password, disabled, expired, must change, hours, workstation.
        {"80090308: LdapErr: DSID-0C0903A9, comment: AcceptSecurityContext error, data 52e, v1db1",
         0x52E},
        {"80090308: LdapErr: DSID-0C0903A9, comment: AcceptSecurityContext error, data 533, v1db1",
         0x533},
        {"80090308: LdapErr: DSID-0C0903A9, comment: AcceptSecurityContext error, data 701, v1db1",
         0x701},
        {"80090308: LdapErr: DSID-0C0903A9, comment: AcceptSecurityContext error, data 773, v1db1",
         0x773},
        {"80090308: LdapErr: DSID-0C0903A9, comment: AcceptSecurityContext error, data 530, v1db1",
         0x530},
        {"80090308: LdapErr: DSID-0C0903A9, comment: AcceptSecurityContext error, data 531, v1db1",
         0x531},
        // Samba requests.
        {"0000052D: Constraint violation - check_password_restrictions: the password is too "
         "short. It should be equal or longer than 7 characters!",
         0x52D},
        {"00000056: Constraint violation - check_password_restrictions: The old password "
         "specified doesn't match!",
         0x56},
        {"00002071: samldb: samAccountName 'kdis' already in use!", 0x2071},
        {"00002030: No such Base DN: cn=nope,dc=lab,dc=kelvo,dc=test", 0x2030},
        {"00002098: Object CN=Administrator,CN=Users,dc=lab,dc=kelvo,dc=test has no write "
         "property access",
         0x2098},
        {"0000200D: SINGLE-VALUE attribute sn on CN=kelvouser,CN=Users,DC=lab,DC=kelvo,DC=test "
         "specified more than once",
         0x200D},
        {"00002035: objectclass: Cannot delete cn=Users,dc=lab,dc=kelvo,dc=test, it isn't "
         "permitted!",
         0x2035},
        {"00002016: Modify of RDN 'CN' on CN=kelvouser,CN=Users,dc=lab,dc=kelvo,dc=test not "
         "permitted, must use 'rename' operation instead",
         0x2016},
        {"00002014: objectclass_attrs: attribute 'dNSHostName' on entry "
         "'CN=kelvouser,CN=Users,DC=lab,DC=kelvo,DC=test' does not exist in the specified "
         "objectclasses!",
         0x2014},
        {"00000525: specified dn doesn't exist at "
         "../../source4/dsdb/samdb/ldb_modules/extended_dn_store.c:160:extended_dn_handle_fpo_attr",
         0x525},
        {"00002020: Operation unavailable without authentication", 0x2020},
        {"00002037: structural objectClass organizationalUnit is not a valid child class for "
         "CN=Users,DC=lab,DC=kelvo,DC=test",
         0x2037},
        {"0000200B: objectclass_attrs: attribute 'countryCode' on entry "
         "'CN=kelvouser,CN=Users,dc=lab,dc=kelvo,dc=test' contains at least one invalid value!",
         0x200B},
        // Windows formats: the SSPI status before the data code varies.
        {"80090308: LdapErr: DSID-0C09042F, comment: AcceptSecurityContext error, data 775, v4563",
         0x775},
        {"8009030C: LdapErr: DSID-0C0906B5, comment: AcceptSecurityContext error, data 568, v4563",
         0x568},
        {"80090308: LdapErr: DSID-0C09042F, comment: AcceptSecurityContext error, data 525, v2580",
         0x525},
        {"00002098: SecErr: DSID-03150F94, problem 4003 (INSUFF_ACCESS_RIGHTS), data 0", 0x2098},
        {"00000005: SecErr: DSID-03152857, problem 4003 (INSUFF_ACCESS_RIGHTS), data 0", 0x5},
        {"0000052D: AtrErr: DSID-03191083, #1:\n\t0: 0000052D: DSID-03191083, problem 1005 "
         "(CONSTRAINT_ATT_TYPE), data 0, Att 9005a (unicodePwd)\n",
         0x52D},
        {"0000202B: RefErr: DSID-031007EF, data 0, 1 access points\n\tref 1: 'corp.example'\n",
         0x202B},
        {"00002071: UpdErr: DSID-031A11D8, problem 6005 (ENTRY_EXISTS), data 0\n", 0x2071},
        {"0000208D: NameErr: DSID-03100241, problem 2001 (NO_OBJECT), data 0, best match of:\n"
         "\t'DC=corp,DC=example'\n",
         0x208D},
        // Lower-case digits, a message padded with white space.
        {"0000052d: password", 0x52D},
        {"  00002098: padded\n", 0x2098},
        // Without the bind comment a "data" value is not a bind code.
        {"00002098: SecErr: DSID-03150F94, problem 4003, data 52e", 0x2098},
    };
    for (const auto& c : cases)
        EXPECT_EQ(std::string(ADErrorMeaning(c.message)), MeaningOf(c.code)) << c.message;
}

TEST(ADErrorText, MessagesWithoutAKnownCode) {
    const char* cases[] = {
        "",
        "Entry CN=kelvouser,CN=Users,DC=lab,DC=kelvo,DC=test already exists",
        "Attribute member already exists for target GUID c8864585-a43d-4b4c-af41-f4050b8e88eb",
        "BindSimple: Transport encryption required.",
        "acl_modify: attribute 'kelvoNope' on entry 'CN=x' was not found in the schema!",
        "0000052D Constraint violation", // no colon
        "000052D: seven digits",         // too short
        "100000052D: nine digits",       // too long
        "00009999: a code Kelvo has no words for",
        "0000X52D: not hex",
        // A bind data code Kelvo does not know, under an SSPI status it does not explain.
        "80090308: LdapErr: DSID-0C0903A9, comment: AcceptSecurityContext error, data 0, v1db1",
        "comment: AcceptSecurityContext error, data 52ez, v1",
        "comment: AcceptSecurityContext error, data ",
        "comment: AcceptSecurityContext error, data 123456789",
    };
    for (const char* message : cases)
        EXPECT_EQ(ADErrorMeaning(message), "") << message;
}

TEST(ADErrorText, BothCodesAreFound) {
    const auto codes = FindADCodes(
        "80090308: LdapErr: DSID-0C0903A9, comment: AcceptSecurityContext error, data 52e");
    ASSERT_TRUE(codes.leading.has_value());
    ASSERT_TRUE(codes.bindData.has_value());
    EXPECT_EQ(*codes.leading, 0x80090308u);
    EXPECT_EQ(*codes.bindData, 0x52Eu);
    EXPECT_FALSE(FindADCodes("no codes").leading.has_value());
}

// Every row is found again in a message written the way servers write it.
TEST(ADErrorText, EveryRowRoundTrips) {
    for (const auto& row : ADErrorCodes()) {
        char leading[64];
        std::snprintf(leading, sizeof leading, "%08X: some text", row.value);
        EXPECT_EQ(ADErrorMeaning(leading), row.meaning) << leading;
        char bind[128];
        std::snprintf(bind, sizeof bind,
                      "80090308: LdapErr: DSID-0C09042F, comment: AcceptSecurityContext error, "
                      "data %x, v4563",
                      row.value);
        EXPECT_EQ(ADErrorMeaning(bind), row.meaning) << bind;
    }
}

TEST(ADErrorText, TableCoversWhatAdministratorsMeet) {
    const auto codes = ADErrorCodes();
    EXPECT_GE(codes.size(), 40u);
    std::set<std::uint32_t> seen;
    for (const auto& row : codes) {
        EXPECT_TRUE(seen.insert(row.value).second) << row.name << " twice";
        EXPECT_TRUE(row.name.starts_with("ERROR_")) << row.name;
        EXPECT_TRUE(row.meaning.ends_with(".")) << row.name;
    }
    // Bind data codes, then the request codes met most.
    for (std::uint32_t code :
         {0x525u,  0x52Eu,  0x530u,  0x531u,  0x532u,  0x533u,  0x568u,  0x569u,  0x701u,  0x773u,
          0x775u,  0x5u,    0x52Du,  0x2098u, 0x202Bu, 0x2071u, 0x208Du, 0x2030u, 0x202Fu, 0x200Du,
          0x200Au, 0x2014u, 0x2016u, 0x2015u, 0x2035u, 0x200Eu, 0x200Fu, 0x2024u, 0x524u,  0x562u,
          0x561u,  0x52Au,  0x2032u, 0x209Cu, 0x2028u, 0x202Du, 0x2018u})
        EXPECT_NE(FindADErrorCode(code), nullptr) << std::hex << code;
}

} // namespace
