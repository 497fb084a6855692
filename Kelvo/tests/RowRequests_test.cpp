#include "CaptureOutput.h"
#include "Import.h"
#include "RowRequests.h"

#include <gtest/gtest.h>

#include <map>

namespace {

// Expands "{{column}}" and "{{.}}" (the attribute's own column) from a table
// of the row's values; anything else inside braces fails.
class FakeExpander final : public ValueExpander {
  public:
    std::map<std::string, std::vector<std::string>> row;

    Expanded Expand(const Target&, std::uint64_t counter, std::string_view text,
                    std::string_view attribute, std::size_t position) const override {
        std::string t(text);
        const auto open = t.find("{{");
        if (open == std::string::npos) return {true, t, 0, {}};
        const auto close = t.find("}}", open);
        std::string name = t.substr(open + 2, close - open - 2);
        if (name == "*cnt*") return {true, std::to_string(counter), 0, {}};
        if (name == "." || name.empty()) name = std::string(attribute);
        auto it = row.find(name);
        if (it == row.end()) return {false, {}, -10022, "ERROR: Attribute (" + name + ")\n"};
        const std::string value = position < it->second.size() ? it->second[position] : "";
        return {true, t.substr(0, open) + value + t.substr(close + 2), 0, {}};
    }
    Expanded ExpandPlain(std::string_view text, std::string_view attribute, std::uint64_t counter,
                         const std::string*) const override {
        return Expand(Target{}, counter, text, attribute, 0);
    }
    std::size_t ValueCount(const Target&, std::string_view text,
                           std::string_view attribute) const override {
        std::string t(text);
        std::string name = t.substr(t.find("{{") + 2, t.find("}}") - t.find("{{") - 2);
        if (name == "." || name.empty()) name = std::string(attribute);
        auto it = row.find(name);
        return it == row.end() ? 0 : it->second.size();
    }
};

ModContainers Parse(const std::vector<std::string>& actions, ActionRun run = ActionRun::Update) {
    ModContainers c;
    ActionOptions o;
    o.run = run;
    o.csv = true;
    EXPECT_TRUE(ParseAttributeActions(actions, o, c).ok);
    return c;
}

std::vector<std::string> Values(const LDAPMod& m) {
    std::vector<std::string> v;
    for (int i = 0; m.mod_values && m.mod_values[i]; ++i)
        v.push_back(m.mod_values[i]);
    return v;
}

const Target kTarget{"cn=a,dc=x", 2, nullptr};

TEST(RowRequests, OneActionTakesEveryValueOfAMultiValuedColumn) {
    FakeExpander x;
    x.row = {{"member", {"cn=1,dc=x", "cn=2,dc=x", "cn=3,dc=x"}}, {"description", {"row"}}};
    RowOptions o;
    o.expand = true;
    const auto r =
        BuildRowModifications(Parse({"member:++:{{.}}", "description::{{.}}"}), kTarget, 0, x, o);
    ASSERT_FALSE(r.fatal);
    ASSERT_EQ(r.mods->Count(), 2u);
    EXPECT_EQ(r.mods->At(0).mod_op, LDAP_MOD_REPLACE);
    EXPECT_EQ(Values(r.mods->At(0)), (std::vector<std::string>{"row"}));
    EXPECT_EQ(r.mods->At(1).mod_op, LDAP_MOD_ADD);
    EXPECT_EQ(Values(r.mods->At(1)),
              (std::vector<std::string>{"cn=1,dc=x", "cn=2,dc=x", "cn=3,dc=x"}));
}

TEST(RowRequests, ReplaceAllIsOneReplaceWithTheRowsValues) {
    // No clear in front: a clear of an attribute without values fails.
    FakeExpander x;
    x.row = {{"othertelephone", {"1", "2", "3"}}};
    RowOptions o;
    o.expand = true;
    const ModContainers c = Parse({"otherTelephone:+-:{{.}}"});
    EXPECT_TRUE(c.clears.empty());
    const auto r = BuildRowModifications(c, kTarget, 0, x, o);
    ASSERT_FALSE(r.fatal);
    ASSERT_EQ(r.mods->Count(), 1u);
    EXPECT_EQ(r.mods->At(0).mod_op, LDAP_MOD_REPLACE);
    EXPECT_EQ(Values(r.mods->At(0)), (std::vector<std::string>{"1", "2", "3"}));
}

TEST(RowRequests, EmptyValuesFollowCsvModNull) {
    FakeExpander x;
    x.row = {{"description", {""}}};
    RowOptions o;
    o.expand = true;
    const auto actions = Parse({"description::{{.}}"});
    // Sent as it is (the directory answers), left out, or cleared.
    auto sent = BuildRowModifications(actions, kTarget, 0, x, o);
    ASSERT_EQ(sent.mods->Count(), 1u);
    EXPECT_EQ(Values(sent.mods->At(0)), (std::vector<std::string>{""}));
    o.csvModNull = 1;
    EXPECT_TRUE(BuildRowModifications(actions, kTarget, 0, x, o).mods->Empty());
    o.csvModNull = 2;
    auto cleared = BuildRowModifications(actions, kTarget, 0, x, o);
    ASSERT_EQ(cleared.mods->Count(), 1u);
    EXPECT_EQ(cleared.mods->At(0).mod_op, LDAP_MOD_DELETE);
    EXPECT_EQ(cleared.mods->At(0).mod_values, nullptr);
}

TEST(RowRequests, CsvModNullLeavesEmptyValuesOutOfMultiValueEntries) {
    FakeExpander x;
    x.row = {{"member", {""}}, {"othertelephone", {"", "2"}}, {"url", {""}}};
    RowOptions o;
    o.expand = true;
    const auto actions = Parse({"member:++:{{.}}", "otherTelephone:++:{{.}}", "url:--:{{.}}"});
    EXPECT_EQ(BuildRowModifications(actions, kTarget, 0, x, o).mods->Count(), 3u)
        << "without -csvmodnull the directory answers";
    for (int mode : {1, 2}) {
        o.csvModNull = mode;
        const auto r = BuildRowModifications(actions, kTarget, 0, x, o);
        ASSERT_EQ(r.mods->Count(), 1u) << mode;
        EXPECT_EQ(r.mods->At(0).mod_op, LDAP_MOD_ADD);
        EXPECT_STREQ(r.mods->At(0).mod_type, "othertelephone");
        EXPECT_EQ(Values(r.mods->At(0)), (std::vector<std::string>{"2"}));
    }
}

TEST(RowRequests, AddsNeedAnObjectClassAndSkipEmptyValues) {
    FakeExpander x;
    x.row = {{"objectclass", {"contact"}}, {"description", {""}}, {"cn", {"a"}}};
    RowOptions o;
    o.add = true;
    o.expand = true;
    auto with = BuildRowModifications(
        Parse({"objectClass::{{.}}", "description::{{.}}", "cn::{{.}}"}, ActionRun::Add), kTarget,
        0, x, o);
    EXPECT_FALSE(with.noObjectClass);
    ASSERT_EQ(with.mods->Count(), 2u) << "the empty description is left out";
    for (std::size_t i = 0; i < with.mods->Count(); ++i)
        EXPECT_EQ(with.mods->At(i).mod_op, LDAP_MOD_ADD);
    auto without = BuildRowModifications(Parse({"cn::{{.}}"}, ActionRun::Add), kTarget, 0, x, o);
    EXPECT_TRUE(without.noObjectClass);
}

TEST(RowRequests, TypedValuesAreEncodedPerRowAndFailuresEndTheRun) {
    FakeExpander x;
    x.row = {{"thumb", {"0a0b"}}, {"bad", {"zz"}}};
    RowOptions o;
    o.expand = true;
    CaptureOutput cap;
    auto good = BuildRowModifications(Parse({"hex##thumb::{{thumb}}"}), kTarget, 0, x, o);
    ASSERT_FALSE(good.fatal);
    ASSERT_EQ(good.mods->Count(), 1u);
    EXPECT_EQ(good.mods->At(0).mod_op, LDAP_MOD_REPLACE | LDAP_MOD_BVALUES);
    EXPECT_STREQ(good.mods->At(0).mod_type, "thumb");
    EXPECT_EQ(good.mods->At(0).mod_bvalues[0]->bv_len, 2u);
    auto bad = BuildRowModifications(Parse({"hex##thumb::{{bad}}"}), kTarget, 0, x, o);
    ASSERT_TRUE(bad.fatal);
    EXPECT_NE(bad.fatal->text.find("Binary conversion failure"), std::string::npos);
    auto missing = BuildRowModifications(Parse({"sn::{{nosuch}}"}), kTarget, 0, x, o);
    ASSERT_TRUE(missing.fatal);
    EXPECT_EQ(missing.fatal->exitCode, -10022);
}

TEST(RowRequests, DnValuesMoveWithReplaceDn) {
    FakeExpander x;
    x.row = {{"manager", {"cn=boss,<DEFAULTNC>"}}};
    NamingContexts nc{"CN=Configuration,DC=new", "CN=Schema,CN=Configuration,DC=new", "DC=new",
                      "DC=new"};
    const DNReplacer replacer("_all", ":", nc);
    const std::set<std::string> dnAttributes = {"manager"};
    RowOptions o;
    o.expand = true;
    o.replacer = &replacer;
    o.dnAttributes = &dnAttributes;
    auto r = BuildRowModifications(Parse({"manager::{{.}}"}), kTarget, 0, x, o);
    ASSERT_EQ(r.mods->Count(), 1u);
    EXPECT_EQ(Values(r.mods->At(0)), (std::vector<std::string>{"cn=boss,DC=new"}));
}

} // namespace
