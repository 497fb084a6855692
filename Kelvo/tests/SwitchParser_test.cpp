#include "SwitchParser.h"
#include "SwitchTable.h"

#include <gtest/gtest.h>

#include <set>

namespace {

SwitchParser Parse(std::vector<std::string> args) {
    args.insert(args.begin(), "kelvo");
    return SwitchParser(args, SwitchDeclarations());
}

TEST(SwitchParser, SplitsSwitchesValuesAndActions) {
    auto p = Parse({"-b", "cn=x,dc=y", "-rm", "description::foo"});
    EXPECT_EQ(p.GetValue("b"), "cn=x,dc=y");
    EXPECT_TRUE(p.IsSwitch("rm"));
    EXPECT_EQ(p.GetValue("rm"), "");
    ASSERT_EQ(p.ArgCount(), 1u);
    EXPECT_EQ(p.GetArg(1), "description::foo");
}

TEST(SwitchParser, RemembersTheSwitchThatAwaitedAValue) {
    auto p = Parse({"-up", "-Secret", "-b", "cn=x", "-rm", "-q"});
    EXPECT_EQ(p.AwaitedBy("secret"), "up");
    EXPECT_EQ(p.GetValue("up"), "");
    EXPECT_EQ(p.AwaitedBy("b"), "secret"); // undeclared switches take values too
    EXPECT_EQ(p.AwaitedBy("rm"), "");      // -b had its value
    EXPECT_EQ(p.AwaitedBy("q"), "");       // -rm takes no value
}

TEST(SwitchParser, WipeValueKeepsTheSwitchSet) {
    auto p = Parse({"-up", "Secret", "-b", "cn=x"});
    p.WipeValue("UP");
    EXPECT_TRUE(p.IsSwitch("up"));
    EXPECT_EQ(p.GetValue("up"), "");
    EXPECT_EQ(p.GetValue("b"), "cn=x");
    p.WipeValue("nosuch");
    EXPECT_FALSE(p.IsSwitch("nosuch"));
}

TEST(SwitchParser, PrefixesAndCase) {
    for (auto form : {"-b", "-B", "/b", "/B"}) {
        auto p = Parse({form, "value"});
        EXPECT_EQ(p.GetValue("b"), "value") << form;
    }
}

TEST(SwitchParser, SlashIsASwitchOnlyForDeclaredNames) {
    auto p = Parse({"-csvfile", "/home/a/users.csv", "-log", "/tmp/k.log", "/tmp/other"});
    EXPECT_EQ(p.GetValue("csvfile"), "/home/a/users.csv");
    EXPECT_EQ(p.GetValue("log"), "/tmp/k.log");
    ASSERT_EQ(p.ArgCount(), 1u);
    EXPECT_EQ(p.GetArg(1), "/tmp/other");
}

TEST(SwitchParser, NegativeNumbersAreValues) {
    auto p = Parse({"-safety", "-5"});
    EXPECT_EQ(p.GetValue("safety"), "-5");
    auto q = Parse({"-safety", "-unsafe"});
    EXPECT_EQ(q.GetValue("safety"), "");
    EXPECT_TRUE(q.IsSwitch("unsafe"));
}

TEST(SwitchParser, NoValueSwitchLeavesTextAsAction) {
    auto p = Parse({"-rm", "description::x"});
    EXPECT_EQ(p.GetValue("rm"), "");
    EXPECT_EQ(p.GetArg(1), "description::x");
}

TEST(SwitchParser, UndeclaredSwitchTakesValueAndIsReported) {
    auto p = Parse({"-bogus", "text", "-b", "x"});
    EXPECT_EQ(p.GetValue("bogus"), "text");
    EXPECT_EQ(p.Validate(SwitchDeclarations()), 1);
    ASSERT_EQ(p.BadSwitches().size(), 1u);
    EXPECT_EQ(p.BadSwitches()[0], "bogus");
}

TEST(SwitchParser, DuplicateActionsDifferingInCaseKeepTheFirst) {
    auto p = Parse({"Description::A", "description::a"});
    ASSERT_EQ(p.ArgCount(), 1u);
    EXPECT_EQ(p.GetArg(1), "Description::A");
}

TEST(SwitchParser, GetArgOutOfRange) {
    auto p = Parse({"a::1"});
    EXPECT_EQ(p.GetArg(0), "");
    EXPECT_EQ(p.GetArg(2), "");
    EXPECT_EQ(p.GetArg(-1), "");
}

TEST(SwitchParser, IsArgAndArgPosition) {
    auto p = Parse({"objectclass::user", "cn::x"});
    EXPECT_TRUE(p.IsArg("objectClass:*"));
    EXPECT_EQ(p.ArgPosition("cn:*"), 2u);
    EXPECT_EQ(p.ArgPosition("sn:"), 0u);
    EXPECT_TRUE(p.IsArg("CN::X"));
    auto q = Parse({"objectClass::user"});
    EXPECT_FALSE(q.IsArg("objectClass:*"));
    EXPECT_TRUE(q.ArgContains("CLASS::U"));
}

TEST(SwitchParser, RemoveArgDropsEveryCaseVariant) {
    auto p = Parse({"a::1", "b::2"});
    p.RemoveArg("A::1");
    ASSERT_EQ(p.ArgCount(), 1u);
    EXPECT_EQ(p.GetArg(1), "b::2");
    p.AddArg("a::1");
    EXPECT_EQ(p.ArgCount(), 2u);
}

TEST(SwitchParser, RequiredValueMissing) {
    auto p = Parse({"-verifygc"});
    EXPECT_EQ(p.Validate(SwitchDeclarations()), 1);
    ASSERT_EQ(p.MissingSwitches().size(), 1u);
    EXPECT_EQ(p.MissingSwitches()[0], "verifygc");
    auto q = Parse({"-b", "x"});
    EXPECT_EQ(q.Validate(SwitchDeclarations()), 0);
}

TEST(SwitchParser, LayerValueOnNoValueSwitchBecomesAction) {
    auto p = Parse({"-b", "x"});
    p.SetValue("rm", "description::late");
    EXPECT_EQ(p.Validate(SwitchDeclarations()), 0);
    EXPECT_EQ(p.GetValue("rm"), "");
    EXPECT_EQ(p.GetArg(1), "description::late");
}

TEST(SwitchParser, TypographicDashAndQuotes) {
    auto p = Parse({"\xE2\x80\x93"
                    "b",
                    "cn=x",
                    "\xE2\x80\x9C"
                    "description::two",
                    "words\xE2\x80\x9D"});
    EXPECT_EQ(p.GetValue("b"), "cn=x");
    EXPECT_EQ(p.GetArg(1), "description::two words");
    auto q = Parse({"\x96"
                    "rm",
                    "\x93"
                    "a::b\x94"});
    EXPECT_TRUE(q.IsSwitch("rm"));
    EXPECT_EQ(q.GetArg(1), "a::b");
}

TEST(SwitchParser, NothingGiven) {
    auto p = Parse({});
    EXPECT_EQ(p.SwitchCount(), 0u);
    EXPECT_EQ(p.ArgCount(), 0u);
}

TEST(SwitchTable, DeclaresEveryNameOnceWithLinuxAdditions) {
    const auto& decls = SwitchDeclarations();
    EXPECT_EQ(decls.size(), 160u);
    std::set<std::string> names;
    for (const auto& d : decls) {
        std::string n = (d[0] == ':' || d[0] == '$') ? d.substr(1) : d;
        EXPECT_TRUE(names.insert(n).second) << n;
    }
    EXPECT_TRUE(names.contains("csvq"));
    EXPECT_TRUE(names.contains("encpwd"));
    EXPECT_TRUE(names.contains("undo"));
    EXPECT_TRUE(names.contains("whatif"));
    EXPECT_TRUE(names.contains("ldifout"));
    EXPECT_TRUE(names.contains("upfile"));
    EXPECT_EQ(sw::sc_help, "sc?");
    EXPECT_EQ(sw::default_, "default");
}

} // namespace
