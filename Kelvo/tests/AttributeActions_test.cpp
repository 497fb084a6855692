#include "AttributeActions.h"
#include "CaptureOutput.h"
#include "Utf16.h"

#include <gtest/gtest.h>

namespace {

struct Parsed {
    ModContainers c;
    ParseResult r;
    std::string out;
};

Parsed ParseAll(std::vector<std::string> actions, ActionRun run = ActionRun::Update,
                bool cm = false) {
    CaptureOutput cap;
    Parsed p;
    ActionOptions o;
    o.run = run;
    o.clearMembers = cm;
    p.r = ParseAttributeActions(actions, o, p.c);
    p.out = cap.out;
    return p;
}

std::vector<std::string> Values(const LDAPMod& m) {
    std::vector<std::string> v;
    for (int i = 0; m.mod_values && m.mod_values[i]; ++i)
        v.push_back(m.mod_values[i]);
    return v;
}

TEST(AttributeActions, OperationsRouteToTheirContainers) {
    auto p = ParseAll({"description::x:y", "drink:++:a;;b", "Color:+-:red;blue", "sn:-:old",
                       "title:-", "info:-:", "mail:--:a@x;b@x", "phone:+:1"});
    ASSERT_TRUE(p.r.ok) << p.out;
    EXPECT_EQ(p.c.replace.at("description"), "x:y");
    EXPECT_EQ(p.c.add.at("drink"), (std::vector<std::string>{"a", "b"}));
    // Replace-all is one record of its own, not a clear and an add.
    EXPECT_EQ(p.c.replaceAll.at("color"), (std::vector<std::string>{"red", "blue"}));
    EXPECT_EQ(p.c.add.count("color"), 0u);
    EXPECT_EQ(p.c.del.at("sn"), (std::vector<std::string>{"old"}));
    EXPECT_EQ(p.c.del.at("mail"), (std::vector<std::string>{"a@x", "b@x"}));
    EXPECT_EQ(p.c.add.at("phone"), (std::vector<std::string>{"1"}));
    EXPECT_EQ(p.c.clears, (std::vector<std::string>{"title", "info"}));
}

// The operator list the completion offers is the one the parser accepts: each
// listed operation parses, and operations close to them are refused.
TEST(AttributeActions, OperationTableIsWhatTheParserAccepts) {
    for (std::string_view op : kActionOperations) {
        auto p = ParseAll({"description:" + std::string(op) + ":x"});
        EXPECT_TRUE(p.r.ok) << "operation [" << op << "]: " << p.out;
    }
    for (std::string_view op : {"+++", "-+", "*", "=", "++-", " +"}) {
        auto p = ParseAll({"description:" + std::string(op) + ":x"});
        EXPECT_FALSE(p.r.ok) << "operation [" << op << "] was accepted";
    }
}

TEST(AttributeActions, MalformedActionsAreAllReported) {
    auto p = ParseAll({"description::", "nofields", "x:*:y", "member:-"});
    EXPECT_FALSE(p.r.ok);
    EXPECT_NE(p.out.find("ERROR: Unsupported Op or format - []"), std::string::npos);
    EXPECT_NE(p.out.find("ERROR: Missing operation."), std::string::npos);
    EXPECT_NE(p.out.find("ERROR: Unsupported Op or format - [*]"), std::string::npos);
    EXPECT_NE(p.out.find("ERROR: Clearing member attribute requires -cm"), std::string::npos);
    auto q = ParseAll({"member:-"}, ActionRun::Update, true);
    EXPECT_TRUE(q.r.ok);
    EXPECT_EQ(q.c.clears, (std::vector<std::string>{"member"}));
}

TEST(AttributeActions, AddRunTurnsReplaceIntoAddAndDropsDeletes) {
    auto p = ParseAll({"cn::x", "sn:-:y", "mail:--:a", "title:-"}, ActionRun::Add);
    EXPECT_TRUE(p.r.ok);
    EXPECT_EQ(p.c.add.at("cn"), (std::vector<std::string>{"x"}));
    EXPECT_TRUE(p.c.del.empty());
    EXPECT_TRUE(p.c.clears.empty());
    EXPECT_NE(p.out.find("WARN: Delete/Clear option illogical for add, ignoring."),
              std::string::npos);
}

TEST(AttributeActions, LaterReplaceWinsAndAddsAccumulate) {
    auto p = ParseAll({"description::one", "description::two", "url:+:a", "url:+:b"});
    EXPECT_EQ(p.c.replace.at("description"), "two");
    EXPECT_EQ(p.c.add.at("url"), (std::vector<std::string>{"a", "b"}));
}

TEST(AttributeActions, RecordsAreGroupedAndSorted) {
    auto p = ParseAll({"zeta::1", "alpha::2", "drink:+-:x;y", "beta:-:3", "hex##blob::ff",
                       "gamma:+:4", "hex##aaa:-:00"});
    ASSERT_TRUE(p.r.ok) << p.out;
    ModList mods;
    auto b = BuildModifications(p.c, {}, false, mods);
    ASSERT_TRUE(b.ok);
    std::vector<std::pair<int, std::string>> got;
    for (std::size_t i = 0; i < mods.Count(); ++i)
        got.emplace_back(mods.At(i).mod_op, mods.At(i).mod_type);
    // drink:+-:x;y is a replace with both values, sorted among the replaces,
    // so it also works on an attribute that has no value yet.
    std::vector<std::pair<int, std::string>> want = {
        {LDAP_MOD_DELETE, "beta"},
        {LDAP_MOD_REPLACE, "alpha"},
        {LDAP_MOD_REPLACE, "drink"},
        {LDAP_MOD_REPLACE, "zeta"},
        {LDAP_MOD_ADD, "gamma"},
        {LDAP_MOD_DELETE | LDAP_MOD_BVALUES, "aaa"},
        {LDAP_MOD_REPLACE | LDAP_MOD_BVALUES, "blob"},
    };
    EXPECT_EQ(got, want);
    EXPECT_EQ(Values(mods.At(2)), (std::vector<std::string>{"x", "y"}));
    EXPECT_EQ(mods.Array()[mods.Count()], nullptr);
}

TEST(AttributeActions, PasswordChangeIsDeleteThenAddOfQuotedUtf16) {
    auto p = ParseAll({"unicodepwd:-:old", "unicodepwd::new"});
    ModList mods;
    CaptureOutput cap;
    BuildOptions o;
    o.encrypted = true;
    ASSERT_TRUE(BuildModifications(p.c, o, false, mods).ok);
    ASSERT_EQ(mods.Count(), 2u);
    EXPECT_EQ(mods.At(0).mod_op, LDAP_MOD_DELETE | LDAP_MOD_BVALUES);
    EXPECT_EQ(mods.At(1).mod_op, LDAP_MOD_ADD | LDAP_MOD_BVALUES);
    const berval* bv = mods.At(1).mod_bvalues[0];
    std::vector<std::uint8_t> bytes(bv->bv_val, bv->bv_val + bv->bv_len);
    EXPECT_EQ(bytes, Utf8ToUtf16LE("\"new\""));
    EXPECT_TRUE(cap.out.empty());
    EXPECT_FALSE(BuildModifications(p.c, o, false, mods).needsEncryptionWarning)
        << "no warning on a protected session";
}

TEST(AttributeActions, PasswordSetWarnsWithoutEncryption) {
    auto p = ParseAll({"unicodepwd::Pa55"});
    ModList mods;
    CaptureOutput cap;
    const BuildResult b = BuildModifications(p.c, {}, false, mods);
    ASSERT_TRUE(b.ok);
    EXPECT_EQ(mods.At(0).mod_op, LDAP_MOD_REPLACE | LDAP_MOD_BVALUES);
    EXPECT_TRUE(b.needsEncryptionWarning);
    EXPECT_TRUE(cap.out.empty()) << "building writes nothing";
}

TEST(AttributeActions, ReplaceAllValues) {
    // The later of a replace and a replace-all of one attribute wins.
    auto p = ParseAll({"drink::tea", "drink:+-:x;;y", "url:+-:a", "url::b", "blank:+-:;;"});
    ASSERT_TRUE(p.r.ok) << p.out;
    EXPECT_EQ(p.c.replace.count("drink"), 0u);
    EXPECT_EQ(p.c.replaceAll.at("drink"), (std::vector<std::string>{"x", "y"}));
    EXPECT_EQ(p.c.replace.at("url"), "b");
    EXPECT_EQ(p.c.replaceAll.count("url"), 0u);
    ModList mods;
    ASSERT_TRUE(BuildModifications(p.c, {}, false, mods).ok);
    ASSERT_EQ(mods.Count(), 3u);
    // Only empty values: a replace with none, which clears the attribute.
    EXPECT_EQ(mods.At(0).mod_op, LDAP_MOD_REPLACE);
    EXPECT_STREQ(mods.At(0).mod_type, "blank");
    EXPECT_TRUE(Values(mods.At(0)).empty());

    // Typed values: one binary replace with every value.
    auto h = ParseAll({"hex##thumb:+-:0a;0b"});
    ASSERT_TRUE(h.r.ok) << h.out;
    ModList bin;
    ASSERT_TRUE(BuildModifications(h.c, {}, false, bin).ok);
    ASSERT_EQ(bin.Count(), 1u);
    EXPECT_EQ(bin.At(0).mod_op, LDAP_MOD_REPLACE | LDAP_MOD_BVALUES);
    EXPECT_NE(bin.At(0).mod_bvalues[1], nullptr);

    // In an add run the values are simply added.
    auto a = ParseAll({"drink:+-:x;y"}, ActionRun::Add);
    EXPECT_EQ(a.c.add.at("drink"), (std::vector<std::string>{"x", "y"}));
    EXPECT_TRUE(a.c.clears.empty());
}

TEST(AttributeActions, DnWithValue) {
    std::string attr = "dnwbin##someattr";
    std::string value = "cn=x,dc=y:AE 72";
    ASSERT_TRUE(ExpandDNWArg("", attr, value));
    EXPECT_EQ(attr, "someattr");
    EXPECT_EQ(value, "B:4:AE72:cn=x,dc=y");
    attr = "dnwstr##other";
    value = "cn=a,dc=y:one;cn=b,dc=y:two";
    ASSERT_TRUE(ExpandDNWArg("++", attr, value));
    EXPECT_EQ(value, "S:3:one:cn=a,dc=y;S:3:two:cn=b,dc=y");
    CaptureOutput cap;
    attr = "dnwbin##odd";
    value = "cn=x:ABC";
    EXPECT_FALSE(ExpandDNWArg("", attr, value));
    attr = "dnwxyz##odd";
    EXPECT_FALSE(ExpandDNWArg("", attr, value));
}

TEST(AttributeActions, EncoderFailureIsKept) {
    auto p = ParseAll({"hex##blob::abc"});
    EXPECT_NE(p.r.binaryResult, 0);
    EXPECT_TRUE(p.c.binReplace.empty());
}

// Empty values are skipped; a prefixed attribute left with none must not
// reach the request under its prefixed name.
TEST(AttributeActions, PrefixedAttributeWithOnlyEmptyValuesSendsNothing) {
    auto p = ParseAll({"hex##thumb:++:;;", "hex##logo:--:;", "hex##icon:++:0a;"});
    ASSERT_TRUE(p.r.ok) << p.out;
    EXPECT_EQ(p.r.binaryResult, 0);
    ASSERT_EQ(p.c.binAdd.size(), 1u);
    EXPECT_EQ(p.c.binAdd.at("icon"), (std::vector<Bytes>{{0x0a}}));
    EXPECT_TRUE(p.c.binDel.empty());
}

TEST(AttributeActions, CsvModesDeferPrefixedAttributes) {
    CaptureOutput cap;
    ModContainers c;
    ActionOptions o;
    o.csv = true;
    (void)ParseAttributeActions({"guid##objectguid::{{guid}}", "sid##x:+:{{sid}}"}, o, c);
    EXPECT_EQ(c.deferredReplace.at("guid##objectguid"), "{{guid}}");
    EXPECT_EQ(c.deferredAdd.at("sid##x"), (std::vector<std::string>{"{{sid}}"}));
}

TEST(AttributeActions, DumpShowsRecordsAndHidesPasswords) {
    auto p = ParseAll({"description::hi", "title:-", "userpassword::secret"});
    ModList mods;
    CaptureOutput cap;
    BuildModifications(p.c, {}, false, mods);
    std::string dump = ModDump("cn=x", mods);
    EXPECT_NE(dump.find("Mod Op: (2) LDAP_MOD_REPLACE\nAttribute: description\nValue 0=hi"),
              std::string::npos);
    EXPECT_NE(dump.find("Clear Values"), std::string::npos);
    EXPECT_EQ(dump.find("secret"), std::string::npos);
}

} // namespace
