#include "Secrets.h"

#include "CaptureOutput.h"
#include "SwitchParser.h"
#include "SwitchTable.h"

#include <gtest/gtest.h>

namespace {

struct Case {
    std::string_view in;
    std::string_view delim;
    std::string_view shown;
};

TEST(SecretAttributes, NamesOidsPrefixesAndOptions) {
    for (std::string_view a :
         {"unicodePwd",
          "UNICODEPWD",
          "userPassword",
          "1.2.840.113556.1.4.90",
          "2.5.4.35",
          "hex##unicodePwd",
          "txt##userpassword",
          "bin##1.2.840.113556.1.4.90",
          "userPassword;binary",
          "ms-Mcs-AdmPwd",
          "msLAPS-Password",
          "msLAPS-EncryptedPassword",
          "msLAPS-EncryptedDSRMPasswordHistory",
          "dBCSPwd",
          "ntPwdHistory",
          "lmPwdHistory",
          "supplementalCredentials",
          "unixUserPassword",
          "sambaNTPassword",
          "sambaLMPassword",
          "clearTextPassword",
          "1.2.840.113556.1.6.44.1.2",
          "1.2.840.113556.1.8000.2554.50051.45980.28112.18903.35903.6685103.1224907.2.1"})
        EXPECT_TRUE(IsSecretAttribute(a)) << a;
    // Look-alikes that hold no secret: an expiry time, a longer OID, others.
    for (std::string_view a : {"ms-Mcs-AdmPwdExpirationTime", "msLAPS-PasswordExpirationTime",
                               "2.5.4.350", "description", "pwdLastSet", "unicodePwdx", ""})
        EXPECT_FALSE(IsSecretAttribute(a)) << a;
}

TEST(SecretAttributes, EveryTableRowIsFoundByNameAndOid) {
    for (const auto& a : kSecretAttributes) {
        EXPECT_TRUE(IsSecretAttribute(a.name)) << a.name;
        if (!a.oid.empty()) {
            EXPECT_TRUE(IsSecretAttribute(a.oid)) << a.oid;
        }
    }
}

TEST(RedactAction, UsesTheDelimiterInForce) {
    const Case cases[] = {
        {"unicodePwd::Secret", ":", "unicodePwd::********"},
        {"unicodePwd==Secret", "=", "unicodePwd==********"},
        {"unicodePwd=+=a=b", "=", "unicodePwd=+=********"},
        {"userPassword||Secret", "||", "userPassword||********"},
        {"txt##userPassword::S", ":", "txt##userPassword::********"},
        {"hex##unicodePwd::2200", ":", "hex##unicodePwd::********"},
        {"2.5.4.35:+:Secret", ":", "2.5.4.35:+:********"},
        {"ms-Mcs-AdmPwd::Secret", ":", "ms-Mcs-AdmPwd::********"},
        // A value that itself holds the delimiter is hidden whole.
        {"unicodePwd::a:b:c", ":", "unicodePwd::********"},
        // Clears carry no value; other attributes are shown as written.
        {"unicodePwd:-", ":", "unicodePwd:-"},
        {"unicodePwd", ":", "unicodePwd"},
        {"description::Secret", ":", "description::Secret"},
        {"description==x", "=", "description==x"},
        {"ms-Mcs-AdmPwdExpirationTime::0", ":", "ms-Mcs-AdmPwdExpirationTime::0"},
        // A password typed where the operation belongs.
        {"unicodePwd:Secret", ":", "unicodePwd:********"},
        {"unicodePwd:Secret:", ":", "unicodePwd:********"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(RedactAction(c.in, c.delim), c.shown) << c.in << " with " << c.delim;
}

TEST(RedactAction, ActionsWrittenWithAnotherDelimiterAreStillHidden) {
    // Read before -delim was known, or written with ":" while "=" is in force.
    EXPECT_EQ(RedactAction("unicodePwd==Secret", ":"), "unicodePwd=********");
    EXPECT_EQ(RedactAction("unicodePwd::Secret", "="), "unicodePwd:********");
    EXPECT_EQ(RedactAction("txt##userPassword::S", "="), "txt##userPassword:********");
    EXPECT_EQ(RedactAction("userPassword;binary::S", "="), "userPassword;********");
    EXPECT_EQ(RedactAction("\"msLAPS-Password::S x\"", "="), "\"msLAPS-Password:********");
    EXPECT_EQ(RedactAction("description::x", "="), "description::x");
    EXPECT_EQ(RedactAction("b::ENCPWD:abc", ":"), "********");
}

TEST(RedactAction, TraceLevelShowsEverything) {
    CaptureOutput cap;
    diag::Get().trace = true;
    EXPECT_EQ(RedactAction("unicodePwd==Secret", "="), "unicodePwd==Secret");
    EXPECT_EQ(RedactValue(sw::up, "Secret", ":"), "Secret");
    EXPECT_EQ(RedactAttributeValue("unicodePwd", "Secret"), "Secret");
    EXPECT_EQ(RedactAdcsvMarker("~~~ADCSV~~~1~~~ADCSV~~~2~~~ADCSV~~~3~~~ADCSV~~~4~~~ADCSV~~~5"
                                "~~~ADCSV~~~6~~~ADCSV~~~7~~~ADCSV~~~8"),
              "~~~ADCSV~~~1~~~ADCSV~~~2~~~ADCSV~~~3~~~ADCSV~~~4~~~ADCSV~~~5~~~ADCSV~~~6~~~ADCSV~~~7"
              "~~~ADCSV~~~8");
}

TEST(RedactValue, SecretSwitchesAndActionsInValues) {
    EXPECT_EQ(RedactValue(sw::up, "Secret", ":"), "********");
    EXPECT_EQ(RedactValue("UP", "Secret", ":"), "********");
    EXPECT_EQ(RedactValue(sw::setpwd, "Secret", ":"), "********");
    EXPECT_EQ(RedactValue(sw::up, "", ":"), "");
    EXPECT_EQ(RedactValue(sw::b, "cn=x,dc=y", ":"), "cn=x,dc=y");
    // A switch-file value on a no-value switch becomes an attribute action.
    EXPECT_EQ(RedactValue(sw::rm, "unicodePwd==S", "="), "unicodePwd==********");
    EXPECT_EQ(RedactValue(sw::h, "ENCPWD:xyz", ":"), "********");
}

TEST(RedactOperation, OnlyMisplacedPasswordsAreHidden) {
    EXPECT_EQ(RedactOperation("unicodepwd", "+-"), "+-");
    EXPECT_EQ(RedactOperation("unicodepwd", "secret"), "********");
    EXPECT_EQ(RedactOperation("description", "bogus"), "bogus");
}

TEST(RedactLayers, EnvironmentValuesAndSwitchFileLines) {
    EXPECT_EQ(RedactEnvValue("up", "Secret", ":"), "********");
    EXPECT_EQ(RedactEnvValue("props", "unicodePwd::A description::x msLAPS-Password::B", ":"),
              "unicodePwd::******** description::x msLAPS-Password::********");
    EXPECT_EQ(RedactEnvValue("config", "{~}", ":"), "{~}");
    EXPECT_EQ(RedactEnvValue("h", "dc1", ":"), "dc1");
    EXPECT_EQ(RedactSwitchLine("-up Secret", ":"), "-up ********");
    EXPECT_EQ(RedactSwitchLine("/setpwd Secret", ":"), "/setpwd ********");
    EXPECT_EQ(RedactSwitchLine("-h dc1", ":"), "-h dc1");
    EXPECT_EQ(RedactSwitchLine("unicodePwd==A description==x", "="),
              "unicodePwd==******** description==x");
    EXPECT_EQ(RedactSwitchLine("description::x sn::y", ":"), "description::x sn::y");
}

TEST(RedactInput, AdcsvMarkerLosesOnlyItsPassword) {
    const std::string marker = "~~~ADCSV~~~1~~~ADCSV~~~,~~~ADCSV~~~;~~~ADCSV~~~\"~~~ADCSV~~~dc1"
                               "~~~ADCSV~~~389~~~ADCSV~~~admin~~~ADCSV~~~Secret~~~ADCSV~~~1";
    EXPECT_EQ(RedactAdcsvMarker(marker), "~~~ADCSV~~~1~~~ADCSV~~~,~~~ADCSV~~~;~~~ADCSV~~~\""
                                         "~~~ADCSV~~~dc1~~~ADCSV~~~389~~~ADCSV~~~admin"
                                         "~~~ADCSV~~~********~~~ADCSV~~~1");
    // No password field, or an empty one: nothing to hide.
    EXPECT_EQ(RedactAdcsvMarker("~~~ADCSV~~~1~~~ADCSV~~~,"), "~~~ADCSV~~~1~~~ADCSV~~~,");
}

TEST(RedactInput, CsvRecordsLosePasswordColumns) {
    const CsvSettings s;
    const std::vector<std::string> header = {"dn", "unicodepwd", "description"};
    EXPECT_EQ(RedactCsvLine("\"cn=x,dc=y\",Secret,plain", s, header),
              "\"cn=x,dc=y\",********,plain");
    EXPECT_EQ(RedactCsvLine("cn=x,\"a,\\\"b\",plain", s, header), "cn=x,********,plain");
    EXPECT_EQ(RedactCsvLine("cn=x", s, header), "cn=x");
    const std::vector<std::string> plain = {"dn", "description"};
    EXPECT_EQ(RedactCsvLine("cn=x,Secret", s, plain), "cn=x,Secret");
    CsvSettings tab;
    tab.delim = '\t';
    EXPECT_EQ(RedactCsvLine("cn=x\tSecret\tp", tab, header), "cn=x\t********\tp");
}

TEST(RedactSwitchName, PasswordThatLooksLikeASwitch) {
    SwitchParser p({"kelvo", "-u", "admin", "-up", "-Secret", "-b", "-x", "cn=y"},
                   SwitchDeclarations());
    EXPECT_EQ(RedactSwitchName(p, "secret"), "********");
    EXPECT_EQ(RedactSwitchName(p, "x"), "x"); // waited on -b, not a password switch
    EXPECT_EQ(RedactSwitchName(p, "u"), "u");
}

TEST(SecretArguments, OnlyValuesOfPasswordSwitchesAreBlanked) {
    std::string a[] = {"kelvo",   "-b",  "cn=x",           "-up",     "Secret1", "/SETPWD",
                       "Secret2", "-rm", "\xE2\x80\x93up", "Secret3", "-up"};
    std::vector<char*> argv;
    for (auto& s : a)
        argv.push_back(s.data());
    HideSecretArguments(static_cast<int>(argv.size()), argv.data());
    EXPECT_STREQ(argv[2], "cn=x");
    EXPECT_STREQ(argv[4], "");
    EXPECT_STREQ(argv[6], "");
    EXPECT_STREQ(argv[7], "-rm");
    EXPECT_STREQ(argv[9], "");
    EXPECT_STREQ(argv[10], "-up"); // nothing follows it

    std::vector<std::string> args = {"kelvo", "-up", "Secret1", "-u", "admin", "x::y"};
    WipeSecretArguments(args);
    EXPECT_EQ(args, (std::vector<std::string>{"kelvo", "-up", "", "-u", "admin", "x::y"}));
}

} // namespace
