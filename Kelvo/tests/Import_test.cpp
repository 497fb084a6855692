#include "Import.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

TEST(Import, ExclusionSet) {
    const auto defaults = BuildExclusionSet("");
    EXPECT_EQ(defaults.size(), 20u);
    // Adds member, imports objectSid although it is a default exclusion.
    const auto a = BuildExclusionSet("Member;objectsid-");
    EXPECT_TRUE(a.contains("member"));
    EXPECT_FALSE(a.contains("objectsid"));
    EXPECT_EQ(a.size(), 20u);
    // "_" drops the defaults: only member is excluded.
    EXPECT_EQ(BuildExclusionSet("_member"), (std::set<std::string>{"member"}));
}

std::vector<std::string> Columns(const ImportSelection& s) {
    return s.columns;
}

bool Logged(const ImportSelection& s, const std::string& line) {
    return std::any_of(s.notes.begin(), s.notes.end(),
                       [&](const Note& n) { return n.channel == Channel::Log && n.text == line; });
}

TEST(Import, ColumnSelection) {
    const std::vector<std::string> header = {"dn",         "description",        "manager",
                                             "objectguid", "guid##schemaidguid", "nosuchattr"};
    SchemaSets schema;
    schema.checkActive = true;
    schema.attributes = {"description", "manager", "objectguid", "schemaidguid"};
    schema.dnAttributes = {"manager"};
    const auto excluded = BuildExclusionSet("");

    auto plain = SelectImportColumns(header, {}, excluded, schema, {});
    EXPECT_EQ(Columns(plain),
              (std::vector<std::string>{"description", "manager", "guid##schemaidguid"}));
    EXPECT_TRUE(Logged(plain, "Skipping excluded attribute - objectguid"));
    EXPECT_TRUE(Logged(plain, "Skipping non-existent attribute - nosuchattr"));

    // An attribute action on description: the column is not imported again.
    EXPECT_EQ(Columns(SelectImportColumns(header, {"Description"}, excluded, schema, {})),
              (std::vector<std::string>{"manager", "guid##schemaidguid"}));

    // Pass 2 updates only DN-syntax attributes; pass 1 adds everything else.
    ImportOptions pass2;
    pass2.pass2 = true;
    auto second = SelectImportColumns(header, {}, excluded, schema, pass2);
    EXPECT_EQ(Columns(second), (std::vector<std::string>{"manager"}));
    EXPECT_TRUE(Logged(second, "Import Pass 2 : Skipping non-DN  attribute - description"));
    ImportOptions pass1;
    pass1.add = true;
    pass1.pass1 = true;
    auto first = SelectImportColumns(header, {}, excluded, schema, pass1);
    EXPECT_EQ(Columns(first), (std::vector<std::string>{"description", "guid##schemaidguid"}));
    EXPECT_TRUE(Logged(first, "Skipping linked attribute - manager"));

    // objectGUID only when asked for.
    EXPECT_NE(Columns(SelectImportColumns(header, {}, BuildExclusionSet("objectguid-"), schema, {}))
                  .size(),
              Columns(plain).size());
}

TEST(Import, ActionsByKindOfAttribute) {
    SchemaSets schema;
    schema.checkActive = true;
    schema.singleValued = {"description"};
    ModContainers mods;
    mods.add["othertelephone"] = {"stale"};
    std::vector<Note> notes;
    AddImportActions(
        {"description", "othertelephone", "schemaidguid", "ntsecuritydescriptor", "hex##thumb"},
        schema, {}, mods, notes);
    EXPECT_EQ(mods.replace.at("description"), "{{description}}");
    EXPECT_EQ(mods.add.at("othertelephone"), (std::vector<std::string>{"{{othertelephone}}"}));
    EXPECT_EQ(mods.deferredReplace.at("guid##schemaidguid"), "{{schemaidguid}}");
    EXPECT_EQ(mods.deferredReplace.at("sd##ntsecuritydescriptor"), "{{ntsecuritydescriptor}}");
    EXPECT_EQ(mods.deferredReplace.at("hex##thumb"), "{{hex##thumb}}");

    // Without the schema the row's values replace the attribute's.
    ModContainers unknown;
    AddImportActions({"description"}, SchemaSets{}, {}, unknown, notes);
    EXPECT_EQ(unknown.replaceAll.at("description"), (std::vector<std::string>{"{{description}}"}));

    // An add run adds everything.
    ModContainers added;
    ImportOptions add;
    add.add = true;
    AddImportActions({"description", "schemaidguid"}, schema, add, added, notes);
    EXPECT_EQ(added.add.at("description"), (std::vector<std::string>{"{{description}}"}));
    EXPECT_EQ(added.deferredAdd.at("guid##schemaidguid"),
              (std::vector<std::string>{"{{schemaidguid}}"}));
}

TEST(Import, SecureInputCompletesOnlyTheMarkedValues) {
    std::vector<std::string> actions = {"unicodePwd::{*}", "description::plain", "info:+:{*}"};
    std::vector<std::string> asked;
    ASSERT_TRUE(ProcessGetInputAttribs(actions, ":", [&](std::string_view name, std::string& out) {
        asked.emplace_back(name);
        out = "typed-" + std::string(name);
        return true;
    }));
    EXPECT_EQ(asked, (std::vector<std::string>{"unicodePwd", "info"}));
    EXPECT_EQ(actions, (std::vector<std::string>{"unicodePwd::typed-unicodePwd",
                                                 "description::plain", "info:+:typed-info"}));
    // Input that ends before a value is typed fails the whole set.
    std::vector<std::string> more = {"unicodePwd::{*}"};
    EXPECT_FALSE(
        ProcessGetInputAttribs(more, ":", [](std::string_view, std::string&) { return false; }));
}

TEST(Import, DNReplacement) {
    NamingContexts nc{"CN=Configuration,DC=new", "CN=Schema,CN=Configuration,DC=new", "DC=new",
                      "DC=new"};
    // Longer find texts come first; only the first match is replaced, once,
    // without regard to case.
    DNReplacer r("DC=old:DC=new;OU=a,DC=old:OU=b,DC=new", ":", nc);
    ASSERT_EQ(r.Pairs().size(), 2u);
    EXPECT_EQ(r.Pairs()[0].first, "OU=a,DC=old");
    EXPECT_EQ(r.Apply("cn=x,ou=A,dc=OLD"), "cn=x,OU=b,DC=new");
    EXPECT_EQ(r.Apply("cn=x,ou=c,dc=old"), "cn=x,ou=c,DC=new");
    EXPECT_EQ(r.Apply("cn=x,dc=other"), "cn=x,dc=other");

    DNReplacer all("_all", ":", nc);
    EXPECT_EQ(all.Pairs().size(), 14u);
    EXPECT_EQ(all.Apply("cn=u,<SYSTEM>"), "cn=u,CN=System,DC=new");
    EXPECT_EQ(all.Apply("cn=s,<SUBNETS>"), "cn=s,CN=Subnets,CN=Sites,CN=Configuration,DC=new");
    EXPECT_EQ(DNReplacer("", ":", nc).Pairs().size(), 14u);

    DNReplacer rdn("_rdnonly;a=>b", "=>", nc);
    ASSERT_FALSE(rdn.Pairs().empty());
    EXPECT_EQ(rdn.Pairs()[0].first, "___RDNONLY");
    EXPECT_EQ(rdn.Apply("cn=a"), "cn=b");
    EXPECT_FALSE(DNReplacer().Active());
}

} // namespace
