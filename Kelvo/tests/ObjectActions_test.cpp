#include "CaptureOutput.h"
#include "ObjectActions.h"
#include "SwitchTable.h"

#include <gtest/gtest.h>

namespace {

TEST(Rnpb, AliasesAndPlaceholders) {
    EXPECT_EQ(RewriteRnpb("DomainDN"), "<DOMAINNC>");
    EXPECT_EQ(RewriteRnpb("users"), "CN=Users,<DOMAINNC>");
    EXPECT_EQ(RewriteRnpb("sites"), "CN=Sites,CN=Configuration,<ROOTNC>");
    EXPECT_EQ(RewriteRnpb("OU=SomeOU,OU=OU2,domainnc"), "OU=SomeOU,OU=OU2,<DOMAINNC>");
    EXPECT_EQ(RewriteRnpb("ou=x,RootNC"), "ou=x,<ROOTNC>");
    EXPECT_EQ(ResolveRnpb("OU=moved,<DOMAINNC>", "CN=u,OU=a,DC=child,DC=corp", "DC=corp"),
              "OU=moved,DC=child,DC=corp");
    EXPECT_EQ(ResolveRnpb("OU=moved,<DOMAINNC>", "cn=u,ou=a,dc=lab,dc=test", "DC=corp"),
              "OU=moved,dc=lab,dc=test");
    EXPECT_EQ(ResolveRnpb("CN=Sites,<ROOTNC>", "CN=u,DC=child,DC=corp", "DC=corp"),
              "CN=Sites,DC=corp");
}

TEST(Rename, NewRdnKeepsTheTypeOrTakesTheGivenOne) {
    EXPECT_EQ(RenameRDN("cn=old,ou=x,dc=y", "newname"), "cn=newname");
    EXPECT_EQ(RenameRDN("OU=old,dc=y", "new"), "OU=new");
    EXPECT_EQ(RenameRDN("cn=old,dc=y", "cn=given"), "cn=given");
    EXPECT_EQ(RenameRDN("cn=old,dc=y", "a=b c"), "a=b c");
    EXPECT_EQ(RenameRDN("cn=old,dc=y", "=odd"), "cn==odd");
    EXPECT_EQ(ParentOf("cn=a\\,b,ou=x,dc=y"), "ou=x,dc=y");
    EXPECT_EQ(ParentOf("dc=y"), "");
}

TEST(Undelete, MangledNameIsCut) {
    EXPECT_EQ(CutMangledRDN("CN=jdoe\\0ADEL:1234-5678,CN=Deleted Objects,DC=x"), "CN=jdoe");
    EXPECT_EQ(CutMangledRDN("CN=jdoe\\0aDEL:1234,CN=Deleted Objects,DC=x"), "CN=jdoe");
    EXPECT_EQ(CutMangledRDN("CN=plain,DC=x"), "CN=plain");
}

TEST(Dynamic, ObjectclassGetsDynamicObjectAndTtlIsSeconds) {
    struct Case {
        std::string ttl;
        std::string seconds;
    };
    const Case cases[] = {{"", "604800"},
                          {"3600", "3600"},
                          {"1d", "86400"},
                          {":01:00:00", "3600"},
                          {"00:02:00:00", "7200"}};
    for (const auto& c : cases) {
        SwitchParser p({"kelvo", "-add", "-tmpobj", c.ttl, "objectClass::user"},
                       SwitchDeclarations());
        if (c.ttl.empty()) p.SetValue("tmpobj", "");
        RunSettings s;
        s.op = KELVO_ADD;
        CaptureOutput cap;
        ASSERT_FALSE(PrepareDynamic(p, s)) << cap.out;
        auto args = p.SelectedArgs();
        EXPECT_EQ(args, (std::vector<std::string>{"objectClass:++:user;dynamicObject",
                                                  "entryttl::" + c.seconds}))
            << c.ttl;
    }
}

TEST(Dynamic, RefusedOutsideAddAndUpdate) {
    SwitchParser p({"kelvo", "-rm", "-dynamic"}, SwitchDeclarations());
    RunSettings s;
    s.op = KELVO_DELETE;
    CaptureOutput cap;
    auto rc = PrepareDynamic(p, s);
    ASSERT_TRUE(rc);
    EXPECT_EQ(rc->exitCode, 1);
    EXPECT_NE(rc->text.find("ERROR: -dynamic can only be used for ADD and MODIFY options"),
              std::string::npos);
}

} // namespace
