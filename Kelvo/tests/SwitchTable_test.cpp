#include "CaptureOutput.h"
#include "SwitchTable.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace {

// The declaration strings in the order the parser has always been given them
// (: no value, $ value required when present, no marker an optional value).
constexpr std::string_view kDeclarationOrder =
    ":q :q2 :d :d2 :help :? :?? :???? :sc? :csv? :sd? gui :elapsed :elapsedms :exterr :rm "
    ":del :treedelete :treenuke :recycle :unsafe :updatenchead :cm :cont :add :kerbenc "
    ":optenc :permissive :delegation :simple :digest :ntlm :ssl :sslignoresrvcert "
    ":starttls :expand :policyhints $verifygc :po :import :importus :importpass1 "
    ":importpass2 :trim :arecex :extsrvinfo :rootdse :schema :null :root :default :config "
    ":forestdns :domaindns :legacydns :dcs :fsps :gpo :psocontainer :quotas :ldappolicy "
    ":xrights :partitions :sitelinks :sites :subnets :exch :users :displayspecifiers :ds "
    ":svcs :do :delobjs :delobjs+ :roles :system :fgpp :csv :vtsv :nr :pause :appver "
    "progress :sdnoowner :sdnogroup :sdnodacl :sdnosacl :onlydacl :onlysacl :sdna "
    ":sdkeepgeneric :pxsdenc h hh hd url p b t rename move rbmove :update port safety upto "
    "delim mvdelim undel xdom u up rb rnpb csvdelim csvmvdelim counterstart bmod autobase e "
    "eignore ef log :append importexclattr replacedn replacedndelim sc dotcount csvmodnull "
    "dynamic tmpobj hackon :sdsimple :sdverbatim :sdwhatif $sd $sdni dsd stdinadd stdinrm "
    "stdinreplace stdinsort stdinsortreverse csvfile :showdel :showdel+ :showrecycled "
    ":getsecin $chgpwd $changepwd $setpwd csvq :encpwd";

TEST(SwitchTable, DeclarationStringsKeepTheirMarkersAndOrder) {
    std::string joined;
    for (const std::string& decl : SwitchDeclarations())
        joined += (joined.empty() ? "" : " ") + decl;
    EXPECT_EQ(joined, kDeclarationOrder);
}

SwitchParser Parse(std::vector<std::string> args) {
    args.insert(args.begin(), "kelvo");
    return SwitchParser(args, SwitchDeclarations());
}

TEST(ReadEnv, PrefixMatchKeepsValueCaseAndNeverOverrides) {
    auto p = Parse({"-b", "cn=cmd"});
    std::vector<std::string> env = {"QUORV-H=DC1.Corp.Example", "quorv-b=cn=env",
                                    "quorv-up=Secret$Pass", "other=1"};
    CaptureOutput cap;
    EXPECT_TRUE(ReadEnv("quorv-", p, env, false));
    EXPECT_EQ(p.GetValue("h"), "DC1.Corp.Example");
    EXPECT_EQ(p.GetValue("b"), "cn=cmd");
    EXPECT_EQ(p.GetValue("up"), "Secret$Pass");
    EXPECT_FALSE(p.IsSwitch("other"));
}

TEST(ReadEnv, EmptyMarkerPropsAndMissingSeparator) {
    auto p = Parse({});
    std::vector<std::string> env = {"pfx-config={~}", "pfx-props=a::1 b::2", "pfx-c::3="};
    EXPECT_TRUE(ReadEnv("pfx", p, env, false)); // "-" is appended to the prefix
    EXPECT_TRUE(p.IsSwitch("config"));
    EXPECT_EQ(p.GetValue("config"), "");
    EXPECT_EQ(p.ArgCount(), 2u);
    EXPECT_EQ(p.GetArg(1), "a::1");
}

TEST(ReadEnv, NothingMatchingIsFalse) {
    auto p = Parse({});
    EXPECT_FALSE(ReadEnv("nomatch-", p, {"PATH=/bin"}, false));
}

TEST(ReadEnv, DebugNeverShowsPasswords) {
    auto p = Parse({});
    CaptureOutput cap;
    ReadEnv("quorv-", p, {"quorv-up=TopSecret1"}, true);
    EXPECT_EQ(cap.out.find("TopSecret1"), std::string::npos) << cap.out;
    EXPECT_NE(cap.out.find("********"), std::string::npos);
}

class SwitchFile : public ::testing::Test {
  protected:
    void SetUp() override {
        path_ = std::filesystem::temp_directory_path() /
                ("kelvo-switchfile-" + std::to_string(::getpid()) + ".cf");
    }
    void TearDown() override { std::filesystem::remove(path_); }
    void Write(const std::string& text) { std::ofstream(path_) << text; }
    std::filesystem::path path_;
};

TEST_F(SwitchFile, SwitchesActionsQuotesAndPrecedence) {
    Write("-h filehost\n-b \"cn=quoted,dc=x\"\n-null {~}\n"
          "description::a \"info::two words\"\n");
    auto p = Parse({"-h", "cmdhost"});
    EXPECT_EQ(ReadEnvFile(path_.string(), false, p, true), 0);
    EXPECT_EQ(p.GetValue("h"), "cmdhost");
    EXPECT_EQ(p.GetValue("b"), "cn=quoted,dc=x");
    EXPECT_TRUE(p.IsSwitch("null"));
    ASSERT_EQ(p.ArgCount(), 2u);
    EXPECT_EQ(p.GetArg(1), "description::a");
    EXPECT_EQ(p.GetArg(2), "\"info::two words\"");
}

TEST_F(SwitchFile, MissingFile) {
    auto p = Parse({});
    CaptureOutput cap;
    EXPECT_EQ(ReadEnvFile(path_.string(), false, p, false), 0);
    EXPECT_TRUE(cap.out.empty());
    EXPECT_EQ(ReadEnvFile(path_.string(), false, p, true), 2); // file not found
    EXPECT_NE(cap.out.find("ERR: Couldn't open file [" + path_.string() + "]:"), std::string::npos);
}

} // namespace
