#include "CaptureOutput.h"
#include "ConsoleOutput.h"
#include "LineReader.h"
#include "RunState.h"
#include "Secrets.h"
#include "SwitchTable.h"
#include "pellixstrings.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <tuple>

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
    "delim mvdelim undel xdom u up $upfile rb rnpb csvdelim csvmvdelim counterstart bmod autobase "
    "e "
    "eignore ef log :append $undo importexclattr replacedn replacedndelim sc dotcount csvmodnull "
    "dynamic tmpobj hackon :sdsimple :sdverbatim :sdwhatif $sd $sdni dsd stdinadd stdinrm "
    "stdinreplace stdinsort stdinsortreverse csvfile :showdel :showdel+ :showrecycled "
    ":getsecin $chgpwd $changepwd $setpwd csvq :encpwd $rejects :whatif $ldifout $parallel";

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

// True when `text` names the switch as "-name" and not as the start of a
// longer switch ("-d" inside "-del").
bool NamesSwitch(std::string_view text, std::string_view name) {
    const std::string needle = "-" + std::string(name);
    for (std::size_t at = text.find(needle); at != std::string_view::npos;
         at = text.find(needle, at + 1)) {
        const std::size_t end = at + needle.size();
        const bool longer =
            end < text.size() && (std::isalnum(static_cast<unsigned char>(text[end])) != 0 ||
                                  text[end] == '+' || text[end] == '?');
        if (!longer) return true;
    }
    return false;
}

TEST(SwitchTable, EachSwitchIsDeclaredOnceByItsLowerCaseName) {
    std::set<std::string> seen;
    for (const SwitchDef& def : kSwitchTable) {
        ASSERT_FALSE(def.name.empty());
        const std::string lower = StrToLower(def.name);
        EXPECT_EQ(lower, def.name) << "the parser looks switches up lower-cased";
        EXPECT_EQ(std::string_view(":$^-/").find(def.name.front()), std::string_view::npos)
            << def.name;
        EXPECT_TRUE(seen.insert(lower).second) << "declared twice: " << def.name;
        EXPECT_EQ(FindSwitch(StrToUpper(def.name)), &def) << def.name;
    }
    EXPECT_EQ(FindSwitch("allowdupeargs"), nullptr);
    EXPECT_EQ(FindSwitch(""), nullptr);
}

// Each switch has a help row of its own, or is named in the row of a switch
// that has one; rows of one block have distinct places 1..n, so the help
// order never depends on the table order.
TEST(SwitchTable, EverySwitchHasExactlyOneHelpRowPlace) {
    std::map<std::tuple<int, int, int>, std::vector<std::string_view>> blocks;
    for (const SwitchDef& def : kSwitchTable) {
        SCOPED_TRACE(def.name);
        if (!def.rowOf.empty()) {
            EXPECT_TRUE(def.term.empty() && def.help.empty() && def.basicHelp.empty());
            EXPECT_EQ(def.place.section, HelpSection::None);
            EXPECT_EQ(def.basic.section, HelpSection::None);
            const SwitchDef* owner = FindSwitch(def.rowOf);
            ASSERT_NE(owner, nullptr) << "row of an undeclared switch: " << def.rowOf;
            EXPECT_TRUE(owner->rowOf.empty()) << "rows are shared with their owner only";
            EXPECT_TRUE(NamesSwitch(owner->term, def.name) || NamesSwitch(owner->help, def.name))
                << "the row of -" << owner->name << " does not name it";
            continue;
        }
        EXPECT_FALSE(def.term.empty());
        EXPECT_FALSE(def.help.empty());
        EXPECT_NE(def.place.section, HelpSection::None);
        EXPECT_TRUE(NamesSwitch(def.term, def.name) || NamesSwitch(def.help, def.name));
        const int section = static_cast<int>(def.place.section);
        blocks[{0, section, static_cast<int>(def.place.block)}].push_back(def.name);
        EXPECT_GE(def.place.rank, 1);
        if (def.basic.section != HelpSection::None) {
            EXPECT_EQ(def.basic.block, HelpBlock::Main);
            blocks[{1, static_cast<int>(def.basic.section), 0}].push_back(def.name);
        } else {
            EXPECT_TRUE(def.basicHelp.empty()) << "-help text for a row -help does not show";
        }
    }
    // Ranks of one block are exactly 1..n.
    for (const auto& [key, names] : blocks) {
        std::set<int> ranks;
        for (std::string_view name : names) {
            const SwitchDef* def = FindSwitch(name);
            ranks.insert(std::get<0>(key) == 0 ? def->place.rank : def->basic.rank);
        }
        EXPECT_EQ(ranks.size(), names.size()) << "two rows share a place";
        EXPECT_EQ(*ranks.rbegin(), static_cast<int>(names.size())) << "gap in the ranks";
    }
}

// --help and --version stand for -help and -appver as whole arguments only;
// the program path and look-alikes are left alone.
TEST(SwitchTable, GnuSpellingsBecomeTheirSwitches) {
    const std::vector<std::pair<std::vector<std::string>, std::vector<std::string>>> cases = {
        {{"kelvo", "--help"}, {"kelvo", "-help"}},
        {{"kelvo", "--version"}, {"kelvo", "-appver"}},
        {{"kelvo", "-b", "cn=x", "--help"}, {"kelvo", "-b", "cn=x", "-help"}},
        {{"--help", "--helpme", "--HELP", "---help", "description::--help"},
         {"--help", "--helpme", "--HELP", "---help", "description::--help"}},
        {{"kelvo", "-h"}, {"kelvo", "-h"}},
    };
    for (const auto& [in, want] : cases) {
        std::vector<std::string> args = in;
        ApplyGnuSpellings(args);
        EXPECT_EQ(args, want) << in.back();
    }
    for (const SwitchDef& def : kSwitchTable) {
        if (def.gnuName.empty()) continue;
        EXPECT_TRUE(def.gnuName.starts_with("--")) << def.gnuName;
        EXPECT_EQ(def.kind, ValueKind::None) << def.gnuName;
    }
}

TEST(SwitchTable, PasswordSwitchesAreSecretAndTakeValues) {
    for (std::string_view name : {sw::up, sw::chgpwd, sw::changepwd, sw::setpwd}) {
        EXPECT_TRUE(FindSwitch(name)->secret) << name;
        EXPECT_TRUE(IsSecretSwitch(StrToUpper(name))) << name;
    }
    for (const SwitchDef& def : kSwitchTable) {
        EXPECT_EQ(IsSecretSwitch(def.name), def.secret) << def.name;
        if (def.secret) {
            EXPECT_NE(def.kind, ValueKind::None) << def.name;
        }
    }
    EXPECT_FALSE(IsSecretSwitch(sw::u));
    EXPECT_FALSE(IsSecretSwitch("nosuchswitch"));
}

TEST(SwitchTable, SelectedSwitchesHideSecretValues) {
    auto p = Parse(
        {"-u", "admin", "-up", "Pa55word", "-setpwd", "N3wSecret", "-b", "cn=x", "-q", "info::x"});
    const std::string text = SelectedText(p, "DEBUG:");
    EXPECT_NE(text.find("DEBUG:    -u admin\n"), std::string::npos) << text;
    EXPECT_NE(text.find("DEBUG:    -up ********\n"), std::string::npos) << text;
    EXPECT_NE(text.find("DEBUG:    -setpwd ********\n"), std::string::npos) << text;
    EXPECT_NE(text.find("DEBUG:    -q \n"), std::string::npos) << text;
    EXPECT_EQ(text.find("Pa55word"), std::string::npos);
    EXPECT_EQ(text.find("N3wSecret"), std::string::npos);
}

// The default a help line states is the one the run settings start with, and
// each stated default is in the switch's help line.
TEST(SwitchTable, DefaultsMatchRunSettingsAndHelp) {
    const RunSettings fresh;
    const std::pair<std::string_view, std::string> kSettingDefaults[] = {
        {sw::t, std::to_string(fresh.timeout)},
        {sw::safety, std::to_string(fresh.safety)},
        {sw::dotcount, std::to_string(fresh.dotInterval)},
        {sw::counterstart, std::to_string(fresh.counterStart)},
        {sw::delim, fresh.attrDelim},
        {sw::mvdelim, fresh.valueDelim},
        {sw::log, fresh.logFile},
        {sw::progress, std::string(1, fresh.progressChar)},
        {sw::e, std::string(kSharedEnvPrefix)},
        {sw::ef, std::string(kDefaultEfFile)},
        {sw::parallel, std::to_string(fresh.parallel)},
    };
    for (const auto& [name, value] : kSettingDefaults)
        EXPECT_EQ(FindSwitch(name)->defaultText, value) << name;
    for (const SwitchDef& def : kSwitchTable) {
        if (def.defaultText.empty()) continue;
        const std::size_t at = def.help.find("default");
        ASSERT_NE(at, std::string_view::npos) << def.name;
        EXPECT_NE(def.help.find(def.defaultText, at), std::string_view::npos) << def.name;
    }
}

TEST(ApplySwitchSettings, TurnsOnWhatTheSwitchesSetAndNothingElse) {
    RunSettings s;
    ApplySwitchSettings(Parse({"-sslignoresrvcert", "-optenc", "-showrecycled", "-treenuke",
                               "-cont", "-cm", "-b", "cn=x"}),
                        s);
    EXPECT_TRUE(s.ssl && s.ignoreCert);
    EXPECT_TRUE(s.kerbEnc);
    EXPECT_TRUE(s.showDeleted && s.showRecycled);
    EXPECT_TRUE(s.treeDelete && s.treeNuke);
    EXPECT_TRUE(s.cont && s.clearMembers);
    EXPECT_FALSE(s.simple || s.digest || s.ntlm || s.startTls || s.recycle || s.expand || s.csv ||
                 s.delegation || s.elapsed || s.elapsedMs || s.hackon);

    RunSettings t;
    ApplySwitchSettings(Parse({"-showdel", "-csvfile", "in.csv", "-kerbenc", "-treedelete"}), t);
    EXPECT_TRUE(t.showDeleted && t.csv && t.kerbEnc && t.treeDelete);
    EXPECT_FALSE(t.showRecycled || t.treeNuke || t.ssl);
}

TEST(ApplySwitchSettings, NeverTurnsASettingOff) {
    RunSettings s;
    s.ssl = true; // from an ldaps:// URL
    s.delegation = true;
    ApplySwitchSettings(Parse({"-b", "cn=x"}), s);
    EXPECT_TRUE(s.ssl);
    EXPECT_TRUE(s.delegation);
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

TEST_F(SwitchFile, OnlyFilesNobodyElseCanChangeAreRead) {
    // A file others may write adds nothing: the default file is skipped with
    // a warning, a named one fails the run.
    Write("-h evil.example\nmember:+:cn=intruder,dc=x\n");
    std::filesystem::permissions(path_, std::filesystem::perms::group_write,
                                 std::filesystem::perm_options::add);
    auto p = Parse({});
    CaptureOutput cap;
    EXPECT_EQ(ReadEnvFile(path_.string(), false, p, false), 0);
    EXPECT_FALSE(p.IsSwitch("h"));
    EXPECT_EQ(p.ArgCount(), 0u);
    EXPECT_NE(cap.out.find("WARN: Skipping switch file " + path_.string() +
                           ": it is writable by group or others."),
              std::string::npos);
    EXPECT_EQ(ReadEnvFile(path_.string(), false, p, true), -1);
    EXPECT_NE(cap.out.find("ERR: Couldn't use switch file"), std::string::npos);
    EXPECT_FALSE(p.IsSwitch("h"));

    // A FIFO under the name must not hang the run.
    std::filesystem::remove(path_);
    ASSERT_EQ(::mkfifo(path_.c_str(), 0600), 0);
    EXPECT_EQ(ReadEnvFile(path_.string(), false, p, false), 0);
    EXPECT_EQ(ReadEnvFile(path_.string(), false, p, true), -1);
}

TEST_F(SwitchFile, AnOverlongLineIsNeverSplitIntoActions) {
    // Past the line limit a tail would become a line of its own.
    Write("-h dc1\n" + std::string(kLineBufferSize, 'x') + "member:+:cn=tail,dc=x\n");
    auto p = Parse({});
    CaptureOutput cap;
    EXPECT_EQ(ReadEnvFile(path_.string(), false, p, true), -1);
    EXPECT_NE(cap.out.find("line 2 is longer than 10485760 bytes"), std::string::npos);
    EXPECT_EQ(p.ArgCount(), 0u);
    EXPECT_FALSE(p.IsSwitch("h")) << "nothing of a refused file is applied";
}

// The switch-file text itself, as ReadEnvFile reads it from an opened file.
TEST(SwitchFileText, LinesAndWhatTheyAdd) {
    struct Case {
        const char* name;
        std::string text;
        std::map<std::string, std::string> switches; // beside the command line's -h
        std::vector<std::string> args;
    };
    const Case cases[] = {
        {"switches and actions",
         "-b cn=x,dc=y\r\n/u admin\n\ninfo::a \"sn::b c\"\n",
         {{"b", "cn=x,dc=y"}, {"h", "cmd"}, {"u", "admin"}},
         {"info::a", "\"sn::b c\""}},
        {"quotes, empty marker, no value",
         "-b \"cn=q\"\n-null {~}\n-q\n-t \"\n",
         {{"b", "cn=q"}, {"h", "cmd"}, {"null", ""}, {"q", ""}, {"t", "\""}},
         {}},
        {"the command line wins, names lose their case",
         "-H file\n-B cn=f\n",
         {{"b", "cn=f"}, {"h", "cmd"}},
         {}},
        {"no line end at the end", "-p 636", {{"h", "cmd"}, {"p", "636"}}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string text = c.text;
        std::FILE* f = ::fmemopen(text.data(), text.size(), "r");
        ASSERT_NE(f, nullptr);
        std::vector<std::string> lines;
        std::string why;
        EXPECT_TRUE(ReadSwitchLines(f, lines, why));
        std::fclose(f);
        auto p = Parse({"-h", "cmd"});
        ApplySwitchLines(lines, false, p);
        EXPECT_EQ(p.SelectedSwitches(), c.switches);
        EXPECT_EQ(p.SelectedArgs(), c.args);
    }
    // A NUL byte refuses the file and names the line.
    std::string text("-h a\ninfo::x\0y\n", 15);
    std::FILE* f = ::fmemopen(text.data(), text.size(), "r");
    ASSERT_NE(f, nullptr);
    std::vector<std::string> lines;
    std::string why;
    EXPECT_FALSE(ReadSwitchLines(f, lines, why));
    std::fclose(f);
    EXPECT_EQ(why, "line 2 holds a NUL byte");
}

} // namespace
